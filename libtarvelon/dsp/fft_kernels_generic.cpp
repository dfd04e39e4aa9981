// Baseline x86-64 (or any other target) build of the transform kernels.
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "dsp/fft.h"
#include "dsp/fft_kernels.h"

#define FFT_KERNEL_NS fft_generic
#include "dsp/fft_kernels.inc"

#if !(defined(__x86_64__) || defined(_M_X64))
namespace fft_avx2 {
void transform(const fft_plan_t *plan, const double *in, double *out, int32_t n, int32_t method, double norm) {
  fft_generic::transform(plan, in, out, n, method, norm);
}
void spectrum_multiply(const double *s1, const double *s2, double *s3, int32_t size) {
  fft_generic::spectrum_multiply(s1, s2, s3, size);
}
void spectrum_multiply_add(const double *s1, const double *s2, double *acc, int32_t size) {
  fft_generic::spectrum_multiply_add(s1, s2, acc, size);
}
}  // namespace fft_avx2
namespace fft_avx512 {
void transform(const fft_plan_t *plan, const double *in, double *out, int32_t n, int32_t method, double norm) {
  fft_generic::transform(plan, in, out, n, method, norm);
}
void spectrum_multiply(const double *s1, const double *s2, double *s3, int32_t size) {
  fft_generic::spectrum_multiply(s1, s2, s3, size);
}
void spectrum_multiply_add(const double *s1, const double *s2, double *acc, int32_t size) {
  fft_generic::spectrum_multiply_add(s1, s2, acc, size);
}
}  // namespace fft_avx512
#endif

namespace {
bool cpu_has_avx2() {
#if defined(__x86_64__) || defined(_M_X64)
  static const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  return avx2;
#else
  return false;
#endif
}
// The processor and the system (which must save the wide registers) both.
bool cpu_has_avx512() {
#if defined(__x86_64__) || defined(_M_X64)
  static const bool avx512 =
      cpu_has_avx2() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq");
  return avx512;
#else
  return false;
#endif
}
std::atomic<int32_t> g_kernel{FFT_KERNEL_AUTO};

// The kernel a call runs on: the one chosen, or the widest the processor has.
int32_t active_kernel() {
  const int32_t k = g_kernel.load(std::memory_order_relaxed);
  if (k != FFT_KERNEL_AUTO) return k;
  if (cpu_has_avx512()) return FFT_KERNEL_AVX512;
  if (cpu_has_avx2()) return FFT_KERNEL_AVX2;
  return FFT_KERNEL_GENERIC;
}
}  // namespace

int32_t fft_use_kernel(int32_t choice) noexcept {
  if (choice < FFT_KERNEL_AUTO || choice > FFT_KERNEL_AVX512) return 0;
  if (choice == FFT_KERNEL_AVX2 && !cpu_has_avx2()) return 0;
  if (choice == FFT_KERNEL_AVX512 && !cpu_has_avx512()) return 0;
  g_kernel.store(choice, std::memory_order_relaxed);
  return 1;
}

const char *fft_kernel_name() noexcept {
  switch (active_kernel()) {
    case FFT_KERNEL_AVX512: return "avx512";
    case FFT_KERNEL_AVX2: return "avx2";
    default: return "generic";
  }
}

void fft_transform(const fft_plan_t *plan, const double *in, double *out, int32_t n, int32_t method, double norm) {
  switch (active_kernel()) {
    case FFT_KERNEL_AVX512: return fft_avx512::transform(plan, in, out, n, method, norm);
    case FFT_KERNEL_AVX2: return fft_avx2::transform(plan, in, out, n, method, norm);
    default: return fft_generic::transform(plan, in, out, n, method, norm);
  }
}

void fft_spectrum_multiply(const double *s1, const double *s2, double *s3, int32_t size) {
  switch (active_kernel()) {
    case FFT_KERNEL_AVX512: return fft_avx512::spectrum_multiply(s1, s2, s3, size);
    case FFT_KERNEL_AVX2: return fft_avx2::spectrum_multiply(s1, s2, s3, size);
    default: return fft_generic::spectrum_multiply(s1, s2, s3, size);
  }
}

void fft_spectrum_multiply_add(const double *s1, const double *s2, double *acc, int32_t size) {
  switch (active_kernel()) {
    case FFT_KERNEL_AVX512: return fft_avx512::spectrum_multiply_add(s1, s2, acc, size);
    case FFT_KERNEL_AVX2: return fft_avx2::spectrum_multiply_add(s1, s2, acc, size);
    default: return fft_generic::spectrum_multiply_add(s1, s2, acc, size);
  }
}
