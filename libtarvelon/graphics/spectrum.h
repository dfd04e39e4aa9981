// The live spectrum behind the curve: per-column levels of the recent input,
// the designed filter's magnitude per column, and the colours they are painted in.
#pragma once
#include <cstdint>

#include "vl_raster.h"

struct inst_t;

constexpr int32_t kPanColours = 4097;  // 0 hard left, 2048 centre, 4096 hard right

// The filter magnitude per column (cleared, then filled when the engine's
// published response has the current FFT size). [GUI thread] takes fft_mag_sem
void comp_fft_mag_lut(inst_t *ci) noexcept;
// Input levels per column from the analyser ring. [GUI thread] takes fft_sem
void comp_spectral_table(inst_t *ci) noexcept;
// Frees the per-column bins the table reads (the editor closed). [GUI thread]
void tarvelon_release_spectrum_bins(inst_t *ci) noexcept;
// 1 when the spectrum on screen is black and stays black: the last frame
// showed no level and the analyser ring holds only zeros, so the pending
// recomputation (last2k_changed) is dropped as it would change nothing. Hosts
// keep feeding silence while stopped; this lets a still editor stay still.
// [GUI thread] takes fft_sem while it scans the ring
int32_t tarvelon_spectrum_stays_dark(inst_t *ci) noexcept;
// Whether every level of the spectrum table is 0. [GUI thread]
int32_t tarvelon_spectrum_table_is_dark(const inst_t *ci) noexcept;
// The spectrum's colours for the columns -kSpectrumMargin .. kVW + kSpectrumMargin
// - 1 of the area (outer columns repeat the edge ones), index ix +
// kSpectrumMargin: `below` under the curve (the input), `above` over it (the
// input through the filter). 0 when the tables do not fit the area. [GUI thread]
constexpr int32_t kSpectrumMargin = 3;
int32_t tarvelon_spectrum_colours(inst_t *ci, int32_t colscheme, lrgb_t *below, lrgb_t *above) noexcept;

// Mono schemes (0 "RGB", 1 "CMY"): the colour ratios of a hue value.
void comp_colour_ratios(double hue, double *r, double *g, double *b, int32_t colscheme) noexcept;
void calc_colour(double gain, lrgb_t *out, double r, double g, double b, int32_t colscheme, double gamma) noexcept;
// Stereo scheme: the pan table index of a left/right level pair.
int32_t calc_pan(double left, double right) noexcept;
void calc_colour_pan(double gain, lrgb_t *out, lrgb_t pan_colour, double gamma) noexcept;
void calc_colour_pan_full(const inst_t *ci, lrgb_t *out, double left, double right, double gain) noexcept;
// The process-wide pan colour table, built once (thread-safe).
const lrgb_t *tarvelon_pan_colours() noexcept;
// t in [0, 1] where a Bézier from x 0 to 1 with inner handles p1x, p2x reaches x.
double find_bezier_point(double p1x, double p2x, double x) noexcept;
