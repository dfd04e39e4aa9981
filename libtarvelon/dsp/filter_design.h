// Turns the band curve into a linear-phase FIR: the curve is sampled on the FFT
// bins, given the phase of a (ksize-1)/2 delay, windowed to ksize taps with a
// Blackman window and transformed back into the spectrum the engine multiplies
// with. The same pass fills the per-pixel curve table for the display.
#pragma once
#include <cstdint>

#include "system/shared_value.h"

struct inst_t;
struct eq_t;
struct fft_plan_t;
struct vl_mutex_t;

struct filterbank_t {
  double *fir;              // after a design: DFT of the windowed kernel (no 1/sqrt N)
  double *firfft;           // work array
  double *fir_prev;         // previous filter spectrum, for the crossfade
  double *fir_time_domain;  // windowed kernel scaled by sqrt(fft size)
  double *delta;            // unit-magnitude spectrum of a ksize/2 delay
  double *bman;             // Blackman window, ksize points
  fft_plan_t *fft_p;        // fft size
  fft_plan_t *ifft_p;       // design size
  int32_t allocation_size[6];  // fir, fir_prev, firfft, fir_time_domain, delta, bman
  int32_t kernel_size, design_size, fft_size;
  int32_t design_ready;
};

// Prepares arrays and plans for the sizes. 1 on success; no work (and no
// allocation) when the sizes are unchanged. [caller holds proc_reinit_sem]
int32_t init_design(inst_t *ci, filterbank_t *fb, int32_t ksize, int32_t dsize, int32_t fft_size) noexcept;

// Designs the filter (spline_only 0) and/or the display curve table. 1 on
// success, 0 when preparation fails. spline_lut may be null.
// [caller holds proc_reinit_sem; takes spline_sem]
int32_t design_filters(inst_t *ci, filterbank_t *fb, eq_t *equ, eq_t *eqs, int32_t ksize, int32_t fft_size, double sr,
                       double *spline_lut, relaxed<int32_t> *spline_changed, vl_mutex_t *spline_sem, int32_t kVW,
                       int32_t *eqs_countp, int32_t spline_only) noexcept;

// The curve table alone, for the editor; takes proc_reinit_sem itself so it
// never rebuilds the point list under an audio-thread redesign. [GUI thread]
int32_t tarvelon_design_spline_only(inst_t *ci) noexcept;

// Publishes the designed spectrum: kernel = fir (size values), and under
// fft_mag_sem the display copy. [caller holds proc_reinit_sem]
void mix_firs(inst_t *ci, const double *fir, double *kernel, int32_t size) noexcept;
