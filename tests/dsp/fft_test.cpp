#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "dsp/fft.h"
#include "dsp/fft_kernels.h"
#include "dsp/scales.h"
#include "support/reference_dft.h"
#include "system/alloc.h"
#include "system/instance.h"

namespace {
struct fft_env {
  inst_t *ci = tarvelon_create_instance(nullptr, 16, nullptr);
  fft_plan_t *plan = fft_plan_init(ci, 60);
  ~fft_env() { tarvelon_destroy_instance(ci); }
};

std::vector<double> random_signal(int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> d(-1.0, 1.0);
  std::vector<double> x(static_cast<size_t>(n));
  for (double &v : x) v = d(rng);
  return x;
}

// All bins for small lengths; for large ones the edges plus a spread sample
// (the direct sum is quadratic).
std::vector<int> bins_to_check(int n) {
  std::vector<int> bins;
  if (n <= 2048) {
    for (int k = 0; k < n; k++) bins.push_back(k);
    return bins;
  }
  for (int k : {0, 1, 2, n / 2 - 1, n / 2, n / 2 + 1, n - 2, n - 1}) bins.push_back(k);
  std::mt19937 rng(static_cast<unsigned>(n));
  for (int i = 0; i < 120; i++) bins.push_back(int(rng() % unsigned(n)));
  return bins;
}

long double relative_error(const std::vector<std::complex<long double>> &got,
                           const std::vector<std::complex<long double>> &want) {
  long double num = 0, den = 0;
  for (size_t i = 0; i < got.size(); i++) {
    num += std::norm(got[i] - want[i]);
    den += std::norm(want[i]);
  }
  return sqrtl(num / (den > 0 ? den : 1));
}

std::vector<int> lengths_under_test() {
  std::vector<int> sizes = {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 13, 15, 16, 17, 49, 97, 101, 121, 1331, 2002};
  for (int v = 60; v <= 20000; v = next_fast_fft_size(v + 1)) sizes.push_back(v);
  return sizes;
}
}  // namespace

// Each kernel the processor can run is checked against the reference.
struct kernel_case {
  int32_t kernel;
  int n;
};
std::vector<kernel_case> kernel_cases(const std::vector<int> &lengths) {
  std::vector<kernel_case> cases;
  for (int32_t k : {int32_t(FFT_KERNEL_GENERIC), int32_t(FFT_KERNEL_AVX2), int32_t(FFT_KERNEL_AVX512)}) {
    if (!fft_use_kernel(k)) continue;
    for (int n : lengths) cases.push_back({k, n});
  }
  fft_use_kernel(FFT_KERNEL_AUTO);
  return cases;
}
std::string case_name(const kernel_case &c) {
  const char *name = c.kernel == FFT_KERNEL_GENERIC ? "generic_n" : (c.kernel == FFT_KERNEL_AVX2 ? "avx2_n" : "avx512_n");
  return std::string(name) + std::to_string(c.n);
}
struct kernel_scope {
  explicit kernel_scope(int32_t k) { fft_use_kernel(k); }
  ~kernel_scope() { fft_use_kernel(FFT_KERNEL_AUTO); }
};

class FftLength : public ::testing::TestWithParam<kernel_case> {};
class FftInverseLength : public ::testing::TestWithParam<kernel_case> {};

TEST_P(FftLength, ForwardMatchesLongDoubleDftAndBackwardInvertsIt) {
  const int n = GetParam().n;
  kernel_scope kernel(GetParam().kernel);
  fft_env env;
  const std::vector<double> x = random_signal(n, unsigned(n) * 7u + 1u);
  std::vector<double> spectrum(size_t(n), 0.0);
  std::vector<double> in = x;
  fftp(in.data(), spectrum.data(), n, 0, env.plan);

  const std::vector<int> bins = bins_to_check(n);
  const auto want = reference_dft_bins(x, bins);
  std::vector<std::complex<long double>> got;
  for (int k : bins) got.push_back(half_complex_bin(spectrum, k));
  EXPECT_LT(relative_error(got, want), 1e-12L) << "n = " << n;

  // In place: forward then backward returns the input.
  std::vector<double> y = x;
  fftp(y.data(), y.data(), n, 0, env.plan);
  for (int i = 0; i < n; i++) ASSERT_EQ(y[size_t(i)], spectrum[size_t(i)]) << "in-place forward differs at " << i;
  fftp(y.data(), y.data(), n, 1, env.plan);
  long double num = 0, den = 0;
  for (int i = 0; i < n; i++) {
    num += (long double)(y[size_t(i)] - x[size_t(i)]) * (y[size_t(i)] - x[size_t(i)]);
    den += (long double)x[size_t(i)] * x[size_t(i)];
  }
  EXPECT_LT(sqrtl(num / den), 1e-12L) << "round trip, n = " << n;
}

TEST_P(FftInverseLength, BackwardMatchesDirectInverseSum) {
  const int n = GetParam().n;
  kernel_scope kernel(GetParam().kernel);
  fft_env env;
  const std::vector<double> spectrum = random_signal(n, unsigned(n) + 99u);
  std::vector<double> x(static_cast<size_t>(n));
  std::vector<double> in = spectrum;
  fftp(in.data(), x.data(), n, 1, env.plan);
  EXPECT_EQ(in, spectrum) << "backward must not change its input";
  const auto want = reference_inverse_half_complex(spectrum);
  long double num = 0, den = 0;
  for (int i = 0; i < n; i++) {
    num += (x[size_t(i)] - want[size_t(i)]) * (x[size_t(i)] - want[size_t(i)]);
    den += want[size_t(i)] * want[size_t(i)];
  }
  EXPECT_LT(sqrtl(num / den), 1e-12L);
}

INSTANTIATE_TEST_SUITE_P(Lengths, FftLength, ::testing::ValuesIn(kernel_cases(lengths_under_test())),
                         [](const auto &info) { return case_name(info.param); });

// The direct inverse is quadratic: it runs on the lengths up to 2048, the
// round trip above covers the rest.
INSTANTIATE_TEST_SUITE_P(Lengths, FftInverseLength, ::testing::ValuesIn([] {
                           std::vector<int> small;
                           for (int n : lengths_under_test())
                             if (n <= 2048) small.push_back(n);
                           return kernel_cases(small);
                         }()),
                         [](const auto &info) { return case_name(info.param); });

// The bin products the convolution runs on, for every kernel, against
// complex products in long double: the stored product and the accumulated
// one (which the partitioned engine sums many of), in place too, at lengths
// that leave every remainder of the eight-, four- and one-bin loops.
TEST(FftSpectrumProduct, EveryKernelMultipliesAndAccumulatesBinByBin) {
  for (int32_t k : {int32_t(FFT_KERNEL_GENERIC), int32_t(FFT_KERNEL_AVX2), int32_t(FFT_KERNEL_AVX512)}) {
    if (!fft_use_kernel(k)) continue;
    for (int n : {1, 2, 3, 8, 9, 15, 16, 17, 18, 19, 20, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 720, 721, 3200}) {
      const std::vector<double> a = random_signal(n, unsigned(n) * 3u), b = random_signal(n, unsigned(n) * 5u);
      const std::vector<double> acc0 = random_signal(n, unsigned(n) * 11u);
      std::vector<double> prod(a.size(), 0.0), acc = acc0, in_place = a;
      fft_spectrum_multiply(a.data(), b.data(), prod.data(), n);
      fft_spectrum_multiply_add(a.data(), b.data(), acc.data(), n);
      fft_spectrum_multiply(in_place.data(), b.data(), in_place.data(), n);
      for (int bin = 0; bin <= n / 2; bin++) {
        const std::complex<long double> want = half_complex_bin(a, bin) * half_complex_bin(b, bin);
        const std::complex<long double> got = half_complex_bin(prod, bin);
        const std::complex<long double> sum = half_complex_bin(acc, bin) - half_complex_bin(acc0, bin);
        ASSERT_LT(std::abs(got - want), 1e-15L) << "kernel " << k << " n " << n << " bin " << bin;
        ASSERT_LT(std::abs(sum - want), 1e-15L) << "kernel " << k << " n " << n << " bin " << bin;
        ASSERT_EQ(half_complex_bin(in_place, bin), got) << "kernel " << k << " n " << n << " bin " << bin;
      }
    }
  }
  fft_use_kernel(FFT_KERNEL_AUTO);
}

// The processor's widest kernel runs by default, and a kernel it lacks
// cannot be chosen.
TEST(FftSpectrumProduct, DefaultKernelIsTheWidestThisProcessorRuns) {
  const bool avx512 = fft_use_kernel(FFT_KERNEL_AVX512), avx2 = fft_use_kernel(FFT_KERNEL_AVX2);
  fft_use_kernel(FFT_KERNEL_AUTO);
  EXPECT_STREQ(fft_kernel_name(), avx512 ? "avx512" : (avx2 ? "avx2" : "generic"));
  EXPECT_EQ(fft_use_kernel(99), 0);
}

TEST(Fft, KnownSpectraOfConstantAndImpulse) {
  fft_env env;
  std::vector<double> x(8, 1.0), s(8);
  fftp(x.data(), s.data(), 8, 0, env.plan);
  EXPECT_NEAR(s[0], std::sqrt(8.0), 1e-15);
  for (int k = 1; k < 8; k++) EXPECT_NEAR(s[size_t(k)], 0.0, 1e-15);

  std::vector<double> imp(8, 0.0);
  imp[2] = 1.0;
  fftp(imp.data(), s.data(), 8, 0, env.plan);
  EXPECT_NEAR(s[0], 1.0 / std::sqrt(8.0), 1e-15);
  EXPECT_NEAR(s[1], 0.0, 1e-15);
  EXPECT_NEAR(s[7], -1.0 / std::sqrt(8.0), 1e-15);
}

TEST(Fft, OddLengthHasNoNyquistTerm) {
  fft_env env;
  std::vector<double> x = random_signal(15, 3), s(15);
  fftp(x.data(), s.data(), 15, 0, env.plan);
  const auto X7 = reference_dft_bins(x, {7})[0];
  EXPECT_NEAR(s[7], double(X7.real()), 1e-14);
  EXPECT_NEAR(s[8], double(X7.imag()), 1e-14);
}

TEST(Fft, LengthOneCopiesAndBadLengthsWriteNothing) {
  fft_env env;
  double in = 3.5, out = 0.0;
  fftp(&in, &out, 1, 0, env.plan);
  EXPECT_EQ(out, 3.5);
  out = 0.0;
  fftp(&in, &out, 1, 1, env.plan);
  EXPECT_EQ(out, 3.5);

  double sentinel[4] = {7, 7, 7, 7};
  testing::internal::CaptureStderr();
  fftp(sentinel, sentinel, -4, 0, env.plan);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "fftp(): argument n = -4\n");
  fftp(sentinel, sentinel, 0, 0, env.plan);
  fftp(sentinel, sentinel, 4, 0, nullptr);
  for (double v : sentinel) EXPECT_EQ(v, 7.0);
}

TEST(Fft, PlanFollowsTheRequestedLengthBackAndForth) {
  fft_env env;
  for (int n : {1350, 97, 1350, 72900, 8}) {
    std::vector<double> x = random_signal(n, unsigned(n)), y = x;
    fftp(y.data(), y.data(), n, 0, env.plan);
    EXPECT_EQ(env.plan->fft_size, n);
    fftp(y.data(), y.data(), n, 1, env.plan);
    for (int i = 0; i < n; i++) ASSERT_NEAR(y[size_t(i)], x[size_t(i)], 1e-12) << "n = " << n;
  }
}

TEST(Fft, TransformAtUnchangedLengthAllocatesNothing) {
  fft_env env;
  std::vector<double> x = random_signal(1350, 5);
  fftp(x.data(), x.data(), 1350, 0, env.plan);
  const uint64_t before = tv_alloc_count();
  for (int i = 0; i < 10; i++) fftp(x.data(), x.data(), 1350, i & 1, env.plan);
  EXPECT_EQ(tv_alloc_count(), before);
}

TEST(Fft, PlanCreationFailureFreesEverything) {
  fft_env env;
  tv_alloc_fail_after(2);
  EXPECT_EQ(fft_plan_init(env.ci, 1000), nullptr);
  tv_alloc_fail_after(-1);
  EXPECT_EQ(fft_plan_init(nullptr, 1000), nullptr);
  EXPECT_EQ(fft_plan_resize(env.plan, 0), 0);
}
