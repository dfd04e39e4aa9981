// The transform kernels, compiled for more than one instruction set; the
// dispatcher picks the fastest one the processor supports, once.
#pragma once
#include <cstdint>

struct fft_plan_t;

namespace fft_generic {
void transform(const fft_plan_t *plan, const double *in, double *out, int32_t n, int32_t method, double norm);
void spectrum_multiply(const double *s1, const double *s2, double *s3, int32_t size);
void spectrum_multiply_add(const double *s1, const double *s2, double *acc, int32_t size);
}
namespace fft_avx2 {
void transform(const fft_plan_t *plan, const double *in, double *out, int32_t n, int32_t method, double norm);
void spectrum_multiply(const double *s1, const double *s2, double *s3, int32_t size);
void spectrum_multiply_add(const double *s1, const double *s2, double *acc, int32_t size);
}
namespace fft_avx512 {
void transform(const fft_plan_t *plan, const double *in, double *out, int32_t n, int32_t method, double norm);
void spectrum_multiply(const double *s1, const double *s2, double *s3, int32_t size);
void spectrum_multiply_add(const double *s1, const double *s2, double *acc, int32_t size);
}

// Which kernel transforms run on: the fastest the processor has (default), or
// one named, for tests that check each. 0 when the processor lacks it.
enum : int32_t { FFT_KERNEL_AUTO = 0, FFT_KERNEL_GENERIC = 1, FFT_KERNEL_AVX2 = 2, FFT_KERNEL_AVX512 = 3 };
int32_t fft_use_kernel(int32_t choice) noexcept;
// Name of the kernel transforms run on now ("generic", "avx2", "avx512").
const char *fft_kernel_name() noexcept;

// method 0 forward, 1 backward; the plan's twiddles must be prepared for n.
void fft_transform(const fft_plan_t *plan, const double *in, double *out, int32_t n, int32_t method, double norm);
// s3 = s1 · s2 bin by bin in half-complex layout, on the same kernel.
void fft_spectrum_multiply(const double *s1, const double *s2, double *s3, int32_t size);
// acc += s1 · s2 bin by bin, on the same kernel.
void fft_spectrum_multiply_add(const double *s1, const double *s2, double *acc, int32_t size);
