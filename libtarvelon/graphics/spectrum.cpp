// Spectrum tables and colours.
#include "graphics/spectrum.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>
#include <numbers>
#include <vector>

#include "dsp/fft.h"
#include "dsp/scales.h"
#include "graphics/curve_grid.h"
#include "system/instance.h"
#include "vl_colour.h"
#include "vl_pixel_kernels.h"

namespace {
// Levels can come from anywhere in the signal chain: non-finite ones read as
// silence and huge ones saturate long before any index or product is formed.
double sane_level(double v) { return std::isfinite(v) ? std::clamp(v, -1e12, 1e12) : 0.0; }

uint16_t to_channel(double v) {
  if (!(v > 0.0)) return 0;
  return v >= 32768.0 ? 32768 : uint16_t(v);
}

// The fractional bin under column ix for a transform of n points.
double column_bin(const inst_t *ci, const tarvelon_hview_t &view, int32_t n, int32_t ix, double frac_offset = 0.0) {
  const double lo = view.zmin * n / ci->samplerate, hi = view.zmax * n / ci->samplerate;
  const int32_t w = ci->visual_width;
  return lo * std::pow(10.0, (std::log10(hi) - std::log10(lo)) * (ix + frac_offset) / (w - 1));
}

double interpolate(const double *m, double x) {
  const double f = std::fmod(x, 1.0);
  return (1.0 - f) * m[size_t(std::floor(x))] + f * m[size_t(std::ceil(x))];
}
}  // namespace

// Which bins each column of the spectrum sums or interpolates, and with what
// weights: they change only with the view, the transform size, the sample
// rate or the width, so they are worked out then, not every frame.
struct tarvelon_spectrum_bins_t {
  struct column {
    bool shown, interpolated;
    int32_t first, last;  // bins summed
    size_t lo, hi;        // bins interpolated
    double f, w_lo, w_hi, divisor;
  };
  double zmin = 0.0, zmax = 0.0, sr = 0.0;
  int32_t n = 0, w = 0;
  std::vector<column> columns;
};

namespace {
const tarvelon_spectrum_bins_t *spectrum_bins(inst_t *ci, int32_t N, int32_t w) {
  const double sr = ci->samplerate;
  const tarvelon_hview_t view = ci->hview.load();
  tarvelon_spectrum_bins_t *b = ci->spectrum_bins;
  if (b && b->zmin == view.zmin && b->zmax == view.zmax && b->sr == sr && b->n == N && b->w == w) return b;
  try {
    if (!b) b = ci->spectrum_bins = new tarvelon_spectrum_bins_t;
    b->columns.assign(size_t(w), tarvelon_spectrum_bins_t::column{});
  } catch (const std::bad_alloc &) {
    tarvelon_release_spectrum_bins(ci);
    return nullptr;
  }
  b->zmin = view.zmin, b->zmax = view.zmax, b->sr = sr, b->n = N, b->w = w;
  int32_t prev = 0;
  for (int32_t ix = 0; ix < w; ix++) {
    tarvelon_spectrum_bins_t::column &c = b->columns[size_t(ix)];
    const double x = column_bin(ci, view, N, ix);
    const double nb = column_bin(ci, view, N, ix, 0.5) + 0.5;
    const int32_t next = (nb >= 0.0 && nb < double(N)) ? int32_t(nb) : N;  // trunc, saturating
    c.shown = next < N / 2 && x >= 0.0 && x < double(N / 2);
    if (c.shown) {
      c.interpolated = next == prev;
      if (c.interpolated) {
        const double lo = std::floor(x), hi = std::ceil(x);
        c.lo = size_t(lo), c.hi = size_t(hi), c.f = std::fmod(x, 1.0);
        c.w_lo = std::sqrt(sr * lo / N), c.w_hi = std::sqrt(sr * hi / N);
      } else {
        c.first = std::max(prev, 0), c.last = next, c.w_lo = std::sqrt(sr * x / N);
      }
      c.divisor = (next + 1 - prev) * 20.0;
    }
    prev = next;
  }
  return b;
}
}  // namespace

void comp_fft_mag_lut(inst_t *ci) noexcept {
  if (!ci || !ci->fft_mag_lut || ci->visual_width < 2) return;
  const int32_t w = ci->visual_width;
  std::fill(ci->fft_mag_lut, ci->fft_mag_lut + w, 0.0);
  const int32_t N = ci->fft_size ? *ci->fft_size : 0;
  if (!ci->audio_buffers_ready || N < 2 || ci->fft_mag_capacity != N || !ci->fft_mag || !ci->fft_mag[0] ||
      !ci->fft_mag[1])
    return;
  double *mag = ci->fft_mag[1];
  {
    vl_lock_guard lock(ci->fft_mag_sem);
    ci->fft_mag_changed = 0;
    std::memcpy(mag, ci->fft_mag[0], sizeof(double) * size_t(N));
  }
  polar_mag(mag, N);
  mag[N / 2] = std::fabs(mag[N / 2]);  // the Nyquist term is real
  const tarvelon_hview_t view = ci->hview.load();
  for (int32_t ix = 0; ix < w; ix++) {
    const double x = column_bin(ci, view, N, ix);
    if (!(x >= 0.0) || x >= double(N / 2)) continue;
    ci->fft_mag_lut[ix] = sane_level(interpolate(mag, x));
  }
}

void comp_spectral_table(inst_t *ci) noexcept {
  if (!ci) return;
  ci->last2k_changed = 0;
  double **st = ci->spectral_table;
  const int32_t w = ci->visual_width;
  if (!st || !st[0] || !st[1] || !st[2] || w < 2) return;
  const int32_t N = ci->last2k_size;
  for (int c = 0; c < 3; c++)
    if (N < 1 || c < 2) std::fill(st[c], st[c] + w, 0.0);
  if (N < 1 || !ci->last2k_plan || !ci->last2k_bman) return;
  ++ci->table_recomputations;

  {
    vl_lock_guard lock(ci->fft_sem);
    const int32_t off = std::clamp(ci->last2k_offset, 0, N);
    for (int ch = 0; ch < 2; ch++) {
      const double *ring = ci->last2k[ch];
      double *copy = ci->last2k_copy[ch];
      std::memcpy(copy, ring + off, sizeof(double) * size_t(N - off));
      std::memcpy(copy + (N - off), ring, sizeof(double) * size_t(off));
    }
  }
  for (int ch = 0; ch < 2; ch++) {
    double *copy = ci->last2k_copy[ch];
    for (int32_t i = 0; i < N; i++) copy[i] *= ci->last2k_bman[i];
    fftp(copy, ci->last2k_fft[ch], N, 0, ci->last2k_plan);
    polar_mag(ci->last2k_fft[ch], N);
    if (N % 2 == 0) ci->last2k_fft[ch][N / 2] = std::fabs(ci->last2k_fft[ch][N / 2]);
  }

  const tarvelon_spectrum_bins_t *bins = spectrum_bins(ci, N, w);
  if (!bins) return;
  for (int32_t ix = 0; ix < w; ix++) {
    const tarvelon_spectrum_bins_t::column &c = bins->columns[size_t(ix)];
    if (!c.shown) continue;
    double level[2];
    for (int ch = 0; ch < 2; ch++) {
      const double *m = ci->last2k_fft[ch];
      if (c.interpolated) {
        level[ch] = (1.0 - c.f) * m[c.lo] * c.w_lo + c.f * m[c.hi] * c.w_hi;
      } else {
        double sum = 0.0;
        for (int32_t b = c.first; b <= c.last; b++) sum += m[b] * c.w_lo;
        level[ch] = sum;
      }
      level[ch] = sane_level(level[ch] / c.divisor);
    }
    st[0][ix] = level[0];
    st[1][ix] = level[1];
    st[2][ix] = level[0] + level[1];
  }
}

void tarvelon_release_spectrum_bins(inst_t *ci) noexcept {
  if (!ci) return;
  delete ci->spectrum_bins;
  ci->spectrum_bins = nullptr;
}

void comp_colour_ratios(double hue, double *r, double *g, double *b, int32_t colscheme) noexcept {
  if (!r || !g || !b) return;
  if (!std::isfinite(hue)) hue = 0.0;
  double h = 0.5 * (std::sqrt(0.015625 + hue * hue) + hue);
  if (colscheme == 1) h = rangewrap(0.875 * h + 1.6666666666666667, 0.0, 3.0);
  h = std::clamp(h, 0.0, 3.0);
  if (h < 1.0) *r = 1.0 - h, *g = h, *b = 0.0;
  else if (h < 2.0) *r = 0.0, *g = 2.0 - h, *b = h - 1.0;
  else *r = h - 2.0, *g = 0.0, *b = 3.0 - h;
  const double k = std::fabs(std::sin(h * std::numbers::pi)) * 0.25 + 0.75;
  *r *= k, *g *= k, *b *= k;
}

void calc_colour(double gain, lrgb_t *out, double r, double g, double b, int32_t colscheme, double gamma) noexcept {
  (void)colscheme;
  if (!out) return;
  const double a = std::max(0.0, sane_level(gain));
  const double whi = std::pow(0.1 * a, 2.8 * gamma) * 32768.0;
  const double dom = std::pow(0.5 * a, gamma) * 32768.0;
  *out = lrgb_t{to_channel(r * dom + whi + 0.5), to_channel(g * dom + whi + 0.5), to_channel(b * dom + whi + 0.5),
                32768};
}

int32_t calc_pan(double left, double right) noexcept {
  left = sane_level(left), right = sane_level(right);
  const double sum = left + right;
  if (!(sum > 0.0)) return 0;
  const double p = std::round(2.0 * right / sum * 2048.0);
  return int32_t(std::clamp(p, 0.0, 4096.0));
}

double find_bezier_point(double p1x, double p2x, double x) noexcept {
  auto bx = [&](double t) {
    const double u = 1.0 - t;
    return 3.0 * u * u * t * p1x + 3.0 * u * t * t * p2x + t * t * t;
  };
  double t0 = 0.0, x0 = 0.0, t1 = 1.0, x1 = 1.0, prev = 0.5, t = 0.5;
  for (int step = 0; step < 401; step++) {
    if (x1 == x0) break;
    t = t0 + (x - x0) * (t1 - t0) / (x1 - x0);
    if (!std::isfinite(t)) return prev;
    const double xt = bx(t);
    if (xt < x) t0 = t, x0 = xt;
    else t1 = t, x1 = xt;
    if (t == prev) break;
    prev = t;
  }
  return t;
}

namespace {
struct pan_table {
  lrgb_t c[kPanColours];
};

// Hue, saturation and luminosity run through five control points along the
// pan axis, each channel on its own chain of four cubic Béziers.
void build_pan_table(pan_table &tab) {
  constexpr int P = 5;
  const double px[P] = {0.5, 1024.5, 2048.5, 3072.5, 4096.5};
  double val[3][P] = {{291.2, 0.0, 60.0, 180.0, 215.0}, {1.0, 0.8, 1.0, 1.0, 1.0}, {0.11, 0.11, 0.11, 0.11, 0.11}};
  for (int i = 1; i < P; i++) {  // unwrap the hues so each step is the short way round
    while (val[0][i] < val[0][i - 1] - 180.0)
      for (int j = 0; j < i; j++) val[0][j] -= 360.0;
    while (val[0][i] > val[0][i - 1] + 180.0)
      for (int j = 0; j < i; j++) val[0][j] += 360.0;
  }
  double out[3][kPanColours];
  for (int ch = 0; ch < 3; ch++) {
    // Handles: h[seg][0] first, h[seg][1] second, as (x, y).
    double h[P - 1][2][2];
    for (int s = 0; s < P - 1; s++) {
      h[s][0][0] = px[s] + (px[s + 1] - px[s]) / 3.0, h[s][0][1] = val[ch][s] + (val[ch][s + 1] - val[ch][s]) / 3.0;
      h[s][1][0] = px[s + 1] + (px[s] - px[s + 1]) / 3.0,
      h[s][1][1] = val[ch][s + 1] + (val[ch][s] - val[ch][s + 1]) / 3.0;
    }
    for (int j = 1; j < P - 1; j++) {
      const double ax = px[j - 1], ay = val[ch][j - 1], cx = px[j + 1], cy = val[ch][j + 1];
      const double Px = px[j], Py = val[ch][j];
      const double da = std::sqrt(ax * ax + Px * Px), db = std::sqrt(Px * Px + cx * cx);
      const double ka = -da / (da + db) / 3.0, kb = db / (da + db) / 3.0;
      const bool flat = ch == 1;
      h[j - 1][1][0] = Px + (cx - ax) * ka, h[j - 1][1][1] = flat ? Py : Py + (cy - ay) * ka;
      h[j][0][0] = Px + (cx - ax) * kb, h[j][0][1] = flat ? Py : Py + (cy - ay) * kb;
    }
    out[ch][0] = val[ch][0];
    for (int s = 0; s < P - 1; s++) {
      const double x0 = px[s], span = px[s + 1] - px[s];
      const double n1 = (h[s][0][0] - x0) / span, n2 = (h[s][1][0] - x0) / span;
      for (int x = int(std::ceil(x0)); x <= int(std::ceil(px[s + 1])) - 1 && x < kPanColours; x++) {
        const double t = find_bezier_point(n1, n2, (x - x0) / span), u = 1.0 - t;
        out[ch][x] = u * u * u * val[ch][s] + 3 * u * u * t * h[s][0][1] + 3 * u * t * t * h[s][1][1] +
                     t * t * t * val[ch][s + 1];
      }
    }
  }
  for (int i = 0; i < kPanColours; i++) {
    const frgb_t f = hsl_to_frgb(out[0][i], out[1][i], out[2][i], 1, 0);
    auto q = [](float v) { return to_channel(std::round(double(v) * 32768.0)); };
    tab.c[i] = lrgb_t{q(f.r), q(f.g), q(f.b), 32768};
  }
}
}  // namespace

const lrgb_t *tarvelon_pan_colours() noexcept {
  static pan_table tab;  // static storage: nothing to free at unload
  static std::once_flag once;
  std::call_once(once, [] { build_pan_table(tab); });
  return tab.c;
}

void calc_colour_pan(double gain, lrgb_t *out, lrgb_t pan_colour, double gamma) noexcept {
  if (!out) return;
  double g = std::max(0.0, sane_level(gain));
  if (gamma != 1.0) g = fastpow(g, gamma);
  const double dom = std::min(0.5 * g, 7.272727272727273);
  const int64_t d = std::llround(32768.0 * (std::isfinite(dom) ? dom : 0.0));
  uint32_t r = uint32_t((int64_t(pan_colour.r) * d) >> 15), gg = uint32_t((int64_t(pan_colour.g) * d) >> 15),
           b = uint32_t((int64_t(pan_colour.b) * d) >> 15);
  colour_blowout_int(&r, &gg, &b);
  *out = lrgb_t{uint16_t(std::min<uint32_t>(r, 32768)), uint16_t(std::min<uint32_t>(gg, 32768)),
                uint16_t(std::min<uint32_t>(b, 32768)), 32768};
}

void calc_colour_pan_full(const inst_t *ci, lrgb_t *out, double left, double right, double gain) noexcept {
  if (!ci || !out) return;
  left = sane_level(left), right = sane_level(right);
  const lrgb_t *pancol = tarvelon_pan_colours();
  calc_colour_pan(gain * (left + right), out, pancol[calc_pan(left, right)], ci->gamma);
}

int32_t tarvelon_spectrum_table_is_dark(const inst_t *ci) noexcept {
  if (!ci || !ci->spectral_table) return 0;
  for (int c = 0; c < 3; c++) {
    const double *t = ci->spectral_table[c];
    if (!t) return 0;
    for (int32_t x = 0; x < ci->visual_width; x++)
      if (t[x] != 0.0) return 0;
  }
  return 1;
}

int32_t tarvelon_spectrum_stays_dark(inst_t *ci) noexcept {
  if (!ci || !ci->spectrum_dark) return 0;
  if (!ci->last2k_changed) return 1;
  if (ci->last2k_size <= 0 || !ci->last2k || !ci->last2k[0] || !ci->last2k[1]) return 0;
  vl_lock_guard lock(ci->fft_sem);
  for (int ring = 0; ring < 2; ring++)
    for (int32_t i = 0; i < ci->last2k_size; i++)
      if (ci->last2k[ring][i] != 0.0) return 0;
  ci->last2k_changed = 0;  // under fft_sem: a block captured after the scan sets it again
  return 1;
}

int32_t tarvelon_spectrum_colours(inst_t *ci, int32_t colscheme, lrgb_t *below, lrgb_t *above) noexcept {
  if (!ci || !below || !above) return 0;
  const int32_t kVW = ci->kVW;
  double **st = ci->spectral_table;
  if (kVW < 2 || kVW != ci->visual_width || !st || !st[0] || !st[1] || !st[2] || !ci->fft_mag_lut) return 0;
  const double colgain = ci->colgain, gamma = ci->gamma;
  const tarvelon_hview_t view = ci->hview.load();
  const double zminp = view.zminp, zmaxp = view.zmaxp;
  for (int32_t ix = -kSpectrumMargin; ix <= kVW + kSpectrumMargin - 1; ix++) {
    const int32_t s = std::clamp(ix, 0, kVW - 1);
    lrgb_t &cin = below[ix + kSpectrumMargin], &cout = above[ix + kSpectrumMargin];
    const double mag = sane_level(ci->fft_mag_lut[s]);
    if (colscheme == 2) {
      calc_colour_pan_full(ci, &cin, st[0][s], st[1][s], 2.0 * colgain);
      calc_colour_pan_full(ci, &cout, st[0][s], st[1][s], 2.0 * mag * colgain);
    } else {
      const double pitch = zminp + s * (zmaxp - zminp) / (kVW - 1);
      double r, g, b;
      comp_colour_ratios(((pitch * 1.05) - 0.18) * 3.0, &r, &g, &b, colscheme);
      const double level = sane_level(st[2][s]);
      calc_colour(level * colgain, &cin, r, g, b, colscheme, gamma);
      calc_colour(level * mag * colgain, &cout, r, g, b, colscheme, gamma);
    }
  }
  return 1;
}
