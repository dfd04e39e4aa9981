// Baseline x86-64 (or any other target) build of the transform kernels.
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
}  // namespace fft_avx2
#endif

void fft_transform(const fft_plan_t *plan, const double *in, double *out, int32_t n, int32_t method, double norm) {
#if defined(__x86_64__) || defined(_M_X64)
  static const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  if (avx2) return fft_avx2::transform(plan, in, out, n, method, norm);
#endif
  fft_generic::transform(plan, in, out, n, method, norm);
}
