// AVX-512 (F + DQ) build of the transform kernels (selected at run time).
#include <cmath>
#include <cstddef>
#include <cstring>

#include "dsp/fft.h"
#include "dsp/fft_kernels.h"

#if defined(__x86_64__) || defined(_M_X64)
// GCC 12's AVX-512 intrinsics start from a deliberately undefined register
// (_mm512_undefined_pd), which its own uninitialised-use check then reports.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#define FFT_KERNEL_NS fft_avx512
#include "dsp/fft_kernels.inc"
#endif
