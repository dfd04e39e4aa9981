// Real FFT of arbitrary length with unitary (1/sqrt n) scaling in both
// directions and spectra in half-complex layout:
//   [0] = X0, [k] = Re Xk and [n-k] = Im Xk for 1 <= k < n/2, [n/2] = X(n/2) for even n,
// with Xk = (1/sqrt n) * sum_j x_j e^(-2 pi i jk/n).
#pragma once
#include <cstddef>
#include <cstdint>

struct inst_t;

struct fft_plan_t {
  double **fft_plan;      // [0]: twiddles and root tables, [1]: transform scratch
  int32_t *ifacg;         // 64 entries: length of the complex transform, factor count, factors
  int32_t fft_plan_init;  // nonzero once twiddles exist for fft_size
  int32_t fft_size;
  size_t fft_plan_size;   // doubles in each of the two work arrays
  inst_t *ci;             // owner whose allocation list holds every block of the plan
};

// New plan sized for fft_size, or null (everything freed) on failure. [setup thread]
fft_plan_t *fft_plan_init(inst_t *ci, int32_t fft_size) noexcept;
// 1 on success. No work when the size is unchanged; otherwise reallocates the
// work arrays and drops the twiddles, which the next transform recomputes.
int32_t fft_plan_resize(fft_plan_t *plan, int32_t fft_size) noexcept;
// method 0: n reals -> half-complex spectrum; method 1: the inverse.
// in may equal out. n < 0 prints a message, n == 0 does nothing.
// [the plan's owning thread] no allocation when the plan already has size n.
void fftp(double *in, double *out, int32_t n, int32_t method, fft_plan_t *plan) noexcept;
