// AVX2 + FMA build of the transform kernels (selected at run time).
#include <cmath>
#include <cstddef>
#include <cstring>

#include "dsp/fft.h"
#include "dsp/fft_kernels.h"

#if defined(__x86_64__) || defined(_M_X64)
#include <immintrin.h>

#define FFT_KERNEL_NS fft_avx2
#include "dsp/fft_kernels.inc"
#endif
