// Mixed-radix real FFT. Even lengths run a complex transform of half the length
// on the samples taken in pairs and split the result; odd lengths run a complex
// transform of full length. The complex transform is a self-sorting (Stockham)
// decimation-in-frequency with radix-8, 4, 2, 3 and 5 butterflies and a direct
// butterfly for any other odd prime factor.
#include "dsp/fft.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "dsp/fft_kernels.h"
#include "system/instance.h"

namespace {
constexpr double kTwoPi = 6.283185307179586476925286766559;
constexpr int kMaxFactors = 60;  // ifacg: 2 header entries, factors, split offset in [63]


// tw[i] = e^(-2 pi i k/n), as an interleaved complex number.
void put_root(double *tw, size_t i, int64_t k, int64_t n) {
  const double a = kTwoPi * double(k % n) / double(n);
  tw[2 * i] = std::cos(a);
  tw[2 * i + 1] = -std::sin(a);
}

// Radices without a butterfly of their own run the direct pass, which needs
// a table of their r roots after the stage twiddles.
bool is_generic_radix(int64_t r) { return r > 5 && r != 8; }

// Factor plan of one complex length: factors in the order the passes run.
struct factors_t {
  int32_t count;
  int32_t f[kMaxFactors];
};

factors_t factorise(int32_t len) {
  factors_t fs{};
  int32_t rest = len;
  auto take = [&](int32_t p) {
    while (rest % p == 0 && fs.count < kMaxFactors) {
      fs.f[fs.count++] = p;
      rest /= p;
    }
  };
  for (int32_t p : {8, 4, 2, 3, 5}) take(p);
  for (int32_t p = 7; int64_t(p) * p <= rest; p += 2) take(p);
  if (rest > 1) fs.f[fs.count++] = rest;
  return fs;
}

// Doubles of twiddle storage: per stage (r-1)·m roots, plus r roots for each
// generic radix, plus the real split's n/2 roots for even lengths.
size_t twiddle_length(const factors_t &fs, int32_t len, bool split) {
  size_t c = 0;
  int64_t L = len;
  for (int i = 0; i < fs.count; i++) {
    const int64_t r = fs.f[i], m = L / r;
    c += size_t((r - 1) * m);
    if (is_generic_radix(r)) c += size_t(r);
    L = m;
  }
  if (split) c += size_t(len);
  return 2 * c;
}

int32_t complex_length(int32_t n) { return n % 2 == 0 ? n / 2 : n; }

size_t work_length(int32_t n) {
  const int32_t len = complex_length(n);
  const size_t tw = twiddle_length(factorise(len), len, n % 2 == 0);
  const size_t scratch = 4 * size_t(len);
  return (tw > scratch ? tw : scratch) + 16;
}

void compute_twiddles(double *tw, const factors_t &fs, int32_t len, bool split, int32_t n) {
  size_t pos = 0;
  int64_t L = len;
  for (int i = 0; i < fs.count; i++) {
    const int64_t r = fs.f[i], m = L / r;
    for (int64_t p = 0; p < m; p++)
      for (int64_t k = 1; k < r; k++) put_root(tw, pos++, p * k, L);
    if (is_generic_radix(r))
      for (int64_t t = 0; t < r; t++) put_root(tw, pos++, t, r);
    L = m;
  }
  if (split)
    for (int32_t k = 0; k < len; k++) put_root(tw, pos++, k, n);
}

size_t stage_twiddle_length(const int32_t *factors, int32_t nf, int32_t len) {
  size_t c = 0;
  int64_t L = len;
  for (int i = 0; i < nf; i++) {
    const int64_t r = factors[i], m = L / r;
    c += size_t((r - 1) * m) + (is_generic_radix(r) ? size_t(r) : 0);
    L = m;
  }
  return c;
}

void prepare_twiddles(fft_plan_t *plan, int32_t n) {
  const int32_t len = complex_length(n);
  const factors_t fs = factorise(len);
  compute_twiddles(plan->fft_plan[0], fs, len, n % 2 == 0, n);
  plan->ifacg[0] = len;
  plan->ifacg[1] = fs.count;
  plan->ifacg[63] = int32_t(stage_twiddle_length(fs.f, fs.count, len));
  for (int i = 0; i < fs.count; i++) plan->ifacg[2 + i] = fs.f[i];
  plan->fft_plan_init = 1;
}

void free_plan(inst_t *ci, fft_plan_t *plan) {
  if (plan->fft_plan) {
    gc_free(ci, plan->fft_plan[0]);
    gc_free(ci, plan->fft_plan[1]);
  }
  gc_free(ci, plan->fft_plan);
  gc_free(ci, plan->ifacg);
  gc_free(ci, plan);
}
}  // namespace

fft_plan_t *fft_plan_init(inst_t *ci, int32_t fft_size) noexcept {
  if (!ci) return nullptr;
  auto *plan = static_cast<fft_plan_t *>(gc_calloc(ci, 1, sizeof(fft_plan_t)));
  if (!plan) return nullptr;
  plan->ci = ci;
  plan->fft_plan = static_cast<double **>(gc_calloc(ci, 2, sizeof(double *)));
  plan->ifacg = static_cast<int32_t *>(gc_calloc(ci, 64, sizeof(int32_t)));
  if (!plan->fft_plan || !plan->ifacg || !fft_plan_resize(plan, fft_size)) {
    free_plan(ci, plan);
    return nullptr;
  }
  return plan;
}

int32_t fft_plan_resize(fft_plan_t *plan, int32_t fft_size) noexcept {
  if (!plan || !plan->fft_plan || !plan->ci || fft_size <= 0) return 0;
  if (plan->fft_size == fft_size && plan->fft_plan_size > 0 && plan->fft_plan[0] && plan->fft_plan[1]) return 1;
  plan->fft_plan_size = 0;
  plan->fft_plan_init = 0;
  const size_t len = work_length(fft_size);
  for (int i = 0; i < 2; i++) {
    auto *grown = static_cast<double *>(gc_realloc(plan->ci, plan->fft_plan[i], len, sizeof(double)));
    if (!grown) return 0;
    plan->fft_plan[i] = grown;
  }
  plan->fft_size = fft_size;
  plan->fft_plan_size = len;
  return 1;
}

void fftp(double *in, double *out, int32_t n, int32_t method, fft_plan_t *plan) noexcept {
  if (n < 0) {
    std::fprintf(stderr, "fftp(): argument n = %d\n", n);
    return;
  }
  if (n == 0 || !in || !out) return;
  if (!fft_plan_resize(plan, n)) return;
  if (n == 1) {
    out[0] = in[0];
    return;
  }
  if (!plan->fft_plan_init) prepare_twiddles(plan, n);
  fft_transform(plan, in, out, n, method, 1.0 / std::sqrt(double(n)));
}
