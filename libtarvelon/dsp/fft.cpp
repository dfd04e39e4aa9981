// Mixed-radix real FFT. Even lengths run a complex transform of half the length
// on the samples taken in pairs and split the result; odd lengths run a complex
// transform of full length. The complex transform is a self-sorting (Stockham)
// decimation-in-frequency with radix-4, 2, 3 and 5 butterflies and a direct
// butterfly for any other odd prime factor.
#include "dsp/fft.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "system/instance.h"

namespace {
constexpr double kTwoPi = 6.283185307179586476925286766559;
constexpr int kMaxFactors = 60;

struct cpx {
  double re, im;
};
inline cpx operator+(cpx a, cpx b) { return {a.re + b.re, a.im + b.im}; }
inline cpx operator-(cpx a, cpx b) { return {a.re - b.re, a.im - b.im}; }
inline cpx scale(cpx a, double s) { return {a.re * s, a.im * s}; }
inline cpx ld(const double *p, size_t i) { return {p[2 * i], p[2 * i + 1]}; }
inline void st(double *p, size_t i, cpx v) {
  p[2 * i] = v.re;
  p[2 * i + 1] = v.im;
}
// a·w forward, a·conj(w) backward.
template <bool INV>
inline cpx twiddle(cpx a, cpx w) {
  if (INV) return {a.re * w.re + a.im * w.im, a.im * w.re - a.re * w.im};
  return {a.re * w.re - a.im * w.im, a.re * w.im + a.im * w.re};
}
// Multiplication by -i forward, +i backward.
template <bool INV>
inline cpx rot(cpx a) {
  if (INV) return {-a.im, a.re};
  return {a.im, -a.re};
}

cpx unit_root(int64_t k, int64_t n) {  // e^(-2 pi i k/n)
  const double a = kTwoPi * double(k % n) / double(n);
  return {std::cos(a), -std::sin(a)};
}

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
  for (int32_t p : {4, 2, 3, 5}) take(p);
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
    if (r > 5) c += size_t(r);
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
      for (int64_t k = 1; k < r; k++) st(tw, pos++, unit_root(p * k, L));
    if (r > 5)
      for (int64_t t = 0; t < r; t++) st(tw, pos++, unit_root(t, r));
    L = m;
  }
  if (split)
    for (int32_t k = 0; k < len; k++) st(tw, pos++, unit_root(k, n));
}

// One Stockham pass: s interleaved sequences of length r·m; element p + j·m of
// sequence q is read from x[q + s(p + jm)], output k of butterfly p goes to
// y[q + s(rp + k)] times w_L^(pk).
template <bool INV>
void pass2(int64_t m, int64_t s, const double *x, double *y, const double *tw) {
  for (int64_t p = 0; p < m; p++) {
    const cpx w = ld(tw, size_t(p));
    const double *x0 = x + 2 * s * p, *x1 = x + 2 * s * (p + m);
    double *y0 = y + 2 * s * (2 * p), *y1 = y + 2 * s * (2 * p + 1);
    for (int64_t q = 0; q < s; q++) {
      const cpx a = ld(x0, size_t(q)), b = ld(x1, size_t(q));
      st(y0, size_t(q), a + b);
      st(y1, size_t(q), twiddle<INV>(a - b, w));
    }
  }
}

template <bool INV>
void pass3(int64_t m, int64_t s, const double *x, double *y, const double *tw) {
  constexpr double c = -0.5, sn = 0.86602540378443864676;
  for (int64_t p = 0; p < m; p++) {
    const cpx w1 = ld(tw, size_t(2 * p)), w2 = ld(tw, size_t(2 * p + 1));
    const double *x0 = x + 2 * s * p, *x1 = x + 2 * s * (p + m), *x2 = x + 2 * s * (p + 2 * m);
    double *y0 = y + 2 * s * (3 * p), *y1 = y0 + 2 * s, *y2 = y1 + 2 * s;
    for (int64_t q = 0; q < s; q++) {
      const cpx a0 = ld(x0, size_t(q)), a1 = ld(x1, size_t(q)), a2 = ld(x2, size_t(q));
      const cpx sum = a1 + a2;
      const cpx t = a0 + scale(sum, c);
      const cpx u = rot<INV>(scale(a1 - a2, sn));
      st(y0, size_t(q), a0 + sum);
      st(y1, size_t(q), twiddle<INV>(t + u, w1));
      st(y2, size_t(q), twiddle<INV>(t - u, w2));
    }
  }
}

template <bool INV>
void pass4(int64_t m, int64_t s, const double *x, double *y, const double *tw) {
  for (int64_t p = 0; p < m; p++) {
    const cpx w1 = ld(tw, size_t(3 * p)), w2 = ld(tw, size_t(3 * p + 1)), w3 = ld(tw, size_t(3 * p + 2));
    const double *x0 = x + 2 * s * p, *x1 = x + 2 * s * (p + m), *x2 = x + 2 * s * (p + 2 * m),
                 *x3 = x + 2 * s * (p + 3 * m);
    double *y0 = y + 2 * s * (4 * p), *y1 = y0 + 2 * s, *y2 = y1 + 2 * s, *y3 = y2 + 2 * s;
    if (p == 0) {  // unit twiddles: skip the multiplications
      for (int64_t q = 0; q < s; q++) {
        const cpx a0 = ld(x0, size_t(q)), a1 = ld(x1, size_t(q)), a2 = ld(x2, size_t(q)), a3 = ld(x3, size_t(q));
        const cpx t0 = a0 + a2, t1 = a0 - a2, t2 = a1 + a3, t3 = rot<INV>(a1 - a3);
        st(y0, size_t(q), t0 + t2);
        st(y1, size_t(q), t1 + t3);
        st(y2, size_t(q), t0 - t2);
        st(y3, size_t(q), t1 - t3);
      }
      continue;
    }
    for (int64_t q = 0; q < s; q++) {
      const cpx a0 = ld(x0, size_t(q)), a1 = ld(x1, size_t(q)), a2 = ld(x2, size_t(q)), a3 = ld(x3, size_t(q));
      const cpx t0 = a0 + a2, t1 = a0 - a2, t2 = a1 + a3, t3 = rot<INV>(a1 - a3);
      st(y0, size_t(q), t0 + t2);
      st(y1, size_t(q), twiddle<INV>(t1 + t3, w1));
      st(y2, size_t(q), twiddle<INV>(t0 - t2, w2));
      st(y3, size_t(q), twiddle<INV>(t1 - t3, w3));
    }
  }
}

template <bool INV>
void pass5(int64_t m, int64_t s, const double *x, double *y, const double *tw) {
  constexpr double c1 = 0.30901699437494742410, c2 = -0.80901699437494742410;
  constexpr double s1 = 0.95105651629515357212, s2 = 0.58778525229247312917;
  for (int64_t p = 0; p < m; p++) {
    const cpx w1 = ld(tw, size_t(4 * p)), w2 = ld(tw, size_t(4 * p + 1)), w3 = ld(tw, size_t(4 * p + 2)),
              w4 = ld(tw, size_t(4 * p + 3));
    const double *x0 = x + 2 * s * p;
    const int64_t dm = 2 * s * m;
    double *y0 = y + 2 * s * (5 * p);
    const int64_t ds = 2 * s;
    for (int64_t q = 0; q < s; q++) {
      const cpx a0 = ld(x0, size_t(q)), a1 = ld(x0 + dm, size_t(q)), a2 = ld(x0 + 2 * dm, size_t(q)),
                a3 = ld(x0 + 3 * dm, size_t(q)), a4 = ld(x0 + 4 * dm, size_t(q));
      const cpx t1 = a1 + a4, t2 = a2 + a3, t3 = a1 - a4, t4 = a2 - a3;
      const cpx m1 = a0 + scale(t1, c1) + scale(t2, c2);
      const cpx m2 = a0 + scale(t1, c2) + scale(t2, c1);
      const cpx n1 = rot<INV>(scale(t3, s1) + scale(t4, s2));
      const cpx n2 = rot<INV>(scale(t3, s2) - scale(t4, s1));
      st(y0, size_t(q), a0 + t1 + t2);
      st(y0 + ds, size_t(q), twiddle<INV>(m1 + n1, w1));
      st(y0 + 2 * ds, size_t(q), twiddle<INV>(m2 + n2, w2));
      st(y0 + 3 * ds, size_t(q), twiddle<INV>(m2 - n2, w3));
      st(y0 + 4 * ds, size_t(q), twiddle<INV>(m1 - n1, w4));
    }
  }
}

// Any odd radix: a direct r-point DFT per butterfly from the table of r roots.
template <bool INV>
void pass_generic(int64_t r, int64_t m, int64_t s, const double *x, double *y, const double *tw,
                  const double *roots) {
  for (int64_t p = 0; p < m; p++) {
    for (int64_t q = 0; q < s; q++) {
      for (int64_t k = 0; k < r; k++) {
        cpx acc{0.0, 0.0};
        int64_t t = 0;
        for (int64_t j = 0; j < r; j++) {
          acc = acc + twiddle<INV>(ld(x, size_t(q + s * (p + j * m))), ld(roots, size_t(t)));
          t += k;
          if (t >= r) t -= r;
        }
        if (k > 0) acc = twiddle<INV>(acc, ld(tw, size_t(p * (r - 1) + k - 1)));
        st(y, size_t(q + s * (r * p + k)), acc);
      }
    }
  }
}

// Complex transform of len points from src (not written) using buffers a and b;
// returns the buffer holding the natural-order result.
template <bool INV>
const double *complex_transform(int32_t len, const int32_t *factors, int32_t nf, const double *tw,
                                const double *src, double *a, double *b) {
  if (nf == 0) {
    std::memcpy(a, src, sizeof(double) * 2 * size_t(len));
    return a;
  }
  const double *in = src;
  double *out = (src == a) ? b : a;
  int64_t L = len, s = 1;
  size_t pos = 0;
  for (int i = 0; i < nf; i++) {
    const int64_t r = factors[i], m = L / r;
    const double *stage_tw = tw + 2 * pos;
    pos += size_t((r - 1) * m);
    switch (r) {
      case 2: pass2<INV>(m, s, in, out, stage_tw); break;
      case 3: pass3<INV>(m, s, in, out, stage_tw); break;
      case 4: pass4<INV>(m, s, in, out, stage_tw); break;
      case 5: pass5<INV>(m, s, in, out, stage_tw); break;
      default:
        pass_generic<INV>(r, m, s, in, out, stage_tw, tw + 2 * pos);
        pos += size_t(r);
        break;
    }
    in = out;
    out = (out == a) ? b : a;
    s *= r;
    L = m;
  }
  return in;
}

size_t stage_twiddle_length(const int32_t *factors, int32_t nf, int32_t len) {
  size_t c = 0;
  int64_t L = len;
  for (int i = 0; i < nf; i++) {
    const int64_t r = factors[i], m = L / r;
    c += size_t((r - 1) * m) + (r > 5 ? size_t(r) : 0);
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
  for (int i = 0; i < fs.count; i++) plan->ifacg[2 + i] = fs.f[i];
  plan->fft_plan_init = 1;
}

void forward_even(const fft_plan_t *plan, const double *in, double *out, int32_t n, double norm) {
  const int32_t m = n / 2, nf = plan->ifacg[1];
  const int32_t *factors = plan->ifacg + 2;
  const double *tw = plan->fft_plan[0];
  double *a = plan->fft_plan[1], *b = a + 2 * size_t(m);
  const double *z = complex_transform<false>(m, factors, nf, tw, in, a, b);
  const double *split = tw + 2 * stage_twiddle_length(factors, nf, m);
  const cpx z0 = ld(z, 0);
  const double x0 = z0.re + z0.im, xm = z0.re - z0.im;
  // X_k = Fe + W^k Fo with Fe = (Z_k + conj Z_{m-k})/2, Fo = -i (Z_k - conj Z_{m-k})/2.
  for (int32_t k = 1; k < m; k++) {
    const cpx A = ld(z, size_t(k)), Bc = ld(z, size_t(m - k));
    const cpx B{Bc.re, -Bc.im};
    const cpx fe = scale(A + B, 0.5);
    const cpx fo = rot<false>(scale(A - B, 0.5));
    const cpx X = fe + twiddle<false>(fo, ld(split, size_t(k)));
    out[k] = X.re * norm;
    out[n - k] = X.im * norm;
  }
  out[0] = x0 * norm;
  out[m] = xm * norm;
}

void backward_even(const fft_plan_t *plan, const double *in, double *out, int32_t n, double norm) {
  const int32_t m = n / 2, nf = plan->ifacg[1];
  const int32_t *factors = plan->ifacg + 2;
  const double *tw = plan->fft_plan[0];
  double *a = plan->fft_plan[1], *b = a + 2 * size_t(m);
  const double *split = tw + 2 * stage_twiddle_length(factors, nf, m);
  auto bin = [&](int32_t k) -> cpx {
    if (k == 0) return {in[0], 0.0};
    if (k == m) return {in[m], 0.0};
    return {in[k], in[n - k]};
  };
  // Z'_k = (X_k + conj X_{m-k}) + i e^(2 pi i k/n) (X_k - conj X_{m-k}); its
  // inverse transform gives n·(x_2j + i x_2j+1).
  for (int32_t k = 0; k < m; k++) {
    const cpx X = bin(k), Yc = bin(m - k);
    const cpx Y{Yc.re, -Yc.im};
    const cpx odd = twiddle<true>(X - Y, ld(split, size_t(k)));
    st(a, size_t(k), (X + Y) + rot<true>(odd));
  }
  const double *z = complex_transform<true>(m, factors, nf, tw, a, a, b);
  for (int32_t j = 0; j < m; j++) {
    out[2 * j] = z[2 * j] * norm;
    out[2 * j + 1] = z[2 * j + 1] * norm;
  }
}

void forward_odd(const fft_plan_t *plan, const double *in, double *out, int32_t n, double norm) {
  double *a = plan->fft_plan[1], *b = a + 2 * size_t(n);
  for (int32_t j = 0; j < n; j++) st(a, size_t(j), {in[j], 0.0});
  const double *X = complex_transform<false>(n, plan->ifacg + 2, plan->ifacg[1], plan->fft_plan[0], a, a, b);
  out[0] = X[0] * norm;
  for (int32_t k = 1; k <= (n - 1) / 2; k++) {
    out[k] = X[2 * k] * norm;
    out[n - k] = X[2 * k + 1] * norm;
  }
}

void backward_odd(const fft_plan_t *plan, const double *in, double *out, int32_t n, double norm) {
  double *a = plan->fft_plan[1], *b = a + 2 * size_t(n);
  st(a, 0, {in[0], 0.0});
  for (int32_t k = 1; k <= (n - 1) / 2; k++) {
    st(a, size_t(k), {in[k], in[n - k]});
    st(a, size_t(n - k), {in[k], -in[n - k]});
  }
  const double *x = complex_transform<true>(n, plan->ifacg + 2, plan->ifacg[1], plan->fft_plan[0], a, a, b);
  for (int32_t j = 0; j < n; j++) out[j] = x[2 * j] * norm;
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
  const double norm = 1.0 / std::sqrt(double(n));
  const bool even = n % 2 == 0;
  if (method == 0) {
    if (even) forward_even(plan, in, out, n, norm);
    else forward_odd(plan, in, out, n, norm);
  } else {
    if (even) backward_even(plan, in, out, n, norm);
    else backward_odd(plan, in, out, n, norm);
  }
}
