// Linear-phase FIR design from the band curve, and the display curve table.
#include "dsp/filter_design.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "dsp/fft.h"
#include "dsp/scales.h"
#include "state/eq.h"
#include "system/instance.h"

namespace {
enum { A_FIR, A_FIR_PREV, A_FIRFFT, A_TIME, A_DELTA, A_BMAN };

// ceil(x) as an index clamped to [lo, hi]; NaN gives lo.
int64_t ceil_index(double x, int64_t lo, int64_t hi) {
  if (!(x > double(lo))) return lo;
  if (x >= double(hi)) return hi;
  return std::clamp<int64_t>(int64_t(std::ceil(x)), lo, hi);
}

double segment_t(const eq_t *eqs, int32_t i, double pitch) {
  const double w = eqs[i + 1].pitch - eqs[i].pitch;
  return w > 0.0 ? (pitch - eqs[i].pitch) / w : 0.0;  // a zero-width segment has no interior
}

void sample_filter_bins(double *fir, const eq_t *eqs, int32_t i, int32_t N, double sr) {
  const int64_t positive = N / 2 + 1;
  const int64_t k0 = std::max<int64_t>(1, ceil_index(eqs[i].freq * N / sr, 0, positive));
  const int64_t k1 = std::min<int64_t>(positive, ceil_index(eqs[i + 1].freq * N / sr, 0, positive));
  for (int64_t k = k0; k < k1; k++) {
    const double pitch = (std::log(double(k) * sr / N) - tv::kLn20) / tv::kLn1000;
    fir[k] = curve_gain(eq_segment_value(eqs, i, segment_t(eqs, i, pitch)));
  }
}

void sample_display_columns(const inst_t *ci, double *lut, const eq_t *eqs, int32_t i, int32_t count, int32_t kVW) {
  const tarvelon_hview_t view = ci->hview.load();
  const double zminp = view.zminp, zmaxp = view.zmaxp;
  const double span = zmaxp - zminp;
  if (!(span > 0.0) || kVW < 2) return;
  const double scale = (kVW - 1) / span;
  int64_t start = ceil_index((eqs[i].pitch - zminp) * scale, -1, kVW);
  int64_t end = ceil_index((eqs[i + 1].pitch - zminp) * scale, -1, kVW);
  if (i == 0 || start < 0) start = 0;
  if (i == count || end >= kVW) end = kVW - 1;
  for (int64_t x = start; x <= end; x++) {
    const double pitch = zminp + span * double(x) / (kVW - 1);
    lut[x] = eq_segment_value(eqs, i, segment_t(eqs, i, pitch));
  }
}
}  // namespace

int32_t init_design(inst_t *ci, filterbank_t *fb, int32_t ksize, int32_t dsize, int32_t fft_size) noexcept {
  if (!ci || !fb || ksize <= 0 || dsize < ksize || fft_size < ksize) return 0;
  if (fb->design_ready && fb->kernel_size == ksize && fb->design_size == dsize && fb->fft_size == fft_size) return 1;
  fb->design_ready = 0;

  const int32_t big = std::max(dsize, fft_size);
  double **arrays[6] = {&fb->fir, &fb->fir_prev, &fb->firfft, &fb->fir_time_domain, &fb->delta, &fb->bman};
  const int32_t need[6] = {big, fft_size, big, ksize, dsize, ksize};
  for (int a = 0; a < 6; a++) {
    if (fb->allocation_size[a] == need[a] && *arrays[a]) continue;
    auto *p = static_cast<double *>(gc_realloc(ci, *arrays[a], size_t(need[a]), sizeof(double)));
    if (!p) return 0;
    *arrays[a] = p;
    fb->allocation_size[a] = need[a];
  }
  if (!fb->fft_p) fb->fft_p = fft_plan_init(ci, fft_size);
  if (!fb->ifft_p) fb->ifft_p = fft_plan_init(ci, dsize);
  if (!fb->fft_p || !fb->ifft_p || !fft_plan_resize(fb->fft_p, fft_size) || !fft_plan_resize(fb->ifft_p, dsize))
    return 0;
  for (int a = 0; a < 6; a++) std::memset(*arrays[a], 0, sizeof(double) * size_t(need[a]));

  // The spectrum of a unit impulse at the centre tap, normalised to unit
  // magnitude: multiplying by it gives any zero-phase response a delay of (ksize-1)/2.
  fb->firfft[ksize / 2] = 1.0;
  fftp(fb->firfft, fb->delta, dsize, 0, fb->ifft_p);
  array_div(fb->delta, dsize, fb->delta[0]);
  fb->firfft[ksize / 2] = 0.0;
  blackman_coefs(fb->bman, ksize);

  fb->kernel_size = ksize;
  fb->design_size = dsize;
  fb->fft_size = fft_size;
  fb->design_ready = 1;
  return 1;
}

int32_t design_filters(inst_t *ci, filterbank_t *fb, eq_t *equ, eq_t *eqs, int32_t ksize, int32_t N, double sr,
                       double *spline_lut, relaxed<int32_t> *spline_changed, vl_mutex_t *spline_sem, int32_t kVW,
                       int32_t *eqs_countp, int32_t spline_only) noexcept {
  if (!ci || !equ || !eqs || !eqs_countp) return 0;
  if (!spline_only && (!fb || !(sr > 0.0) || !init_design(ci, fb, ksize, N, N))) return 0;

  sort_eq(equ, eqs, eqs_countp, 20.0, 20000.0);
  const int32_t count = *eqs_countp;
  eq_compute_handles(eqs, count);

  {
    vl_lock_guard lock(spline_sem);
    for (int32_t i = 0; i <= count; i++) {
      if (!spline_only) sample_filter_bins(fb->fir, eqs, i, N, sr);
      if (spline_lut) sample_display_columns(ci, spline_lut, eqs, i, count, kVW);
    }
    if (spline_changed) *spline_changed = 1;
  }
  if (spline_only) return 1;

  double *fir = fb->fir;
  const int64_t half = N / 2, positive = N / 2 + 1;
  const int64_t k0 = ceil_index(eqs[0].freq * N / sr, 0, positive);
  std::fill(fir, fir + k0, curve_gain(eqs[0].db));
  const int64_t kE = ceil_index(eqs[count + 1].freq * N / sr, 0, positive);
  if (kE < positive) std::fill(fir + kE, fir + half + 1, curve_gain(eqs[count + 1].db));
  std::fill(fir + positive, fir + N, 0.0);

  fftconv(fb->delta, fir, fir, N);
  fftp(fir, fb->firfft, N, 1, fb->ifft_p);  // sqrt(N) × circular impulse response
  for (int32_t i = 0; i < ksize; i++) fb->firfft[i] *= fb->bman[i];
  std::fill(fb->firfft + ksize, fb->firfft + N, 0.0);
  std::memcpy(fb->fir_time_domain, fb->firfft, sizeof(double) * size_t(ksize));
  fftp(fb->firfft, fir, N, 0, fb->fft_p);  // plain DFT of the windowed kernel
  return 1;
}

int32_t tarvelon_design_spline_only(inst_t *ci) noexcept {
  if (!ci) return 0;
  vl_lock_guard lock(ci->proc_reinit_sem);
  double *lut = ci->spline_lut ? ci->spline_lut[0] : nullptr;
  return design_filters(ci, ci->fbank, ci->equ, ci->eqs, 0, 0, 0.0, lut, &ci->spline_changed, ci->spline_sem,
                        ci->visual_width, &ci->eqs_count, 1);
}

void mix_firs(inst_t *ci, const double *fir, double *kernel, int32_t size) noexcept {
  if (!ci || !fir || !kernel || size <= 0) return;
  std::memcpy(kernel, fir, sizeof(double) * size_t(size));
  vl_lock_guard lock(ci->fft_mag_sem);
  if (ci->fft_mag && ci->fft_mag[0] && ci->fft_mag_capacity >= size) {
    std::memcpy(ci->fft_mag[0], fir, sizeof(double) * size_t(size));
    ci->fft_mag_changed = 1;
  }
}
