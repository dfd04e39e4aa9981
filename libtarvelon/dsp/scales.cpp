// Pure scale and size functions shared by the band model, design, engine and display.
#include "dsp/scales.h"

#include "dsp/fft_kernels.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "system/inst.h"

using namespace tv;

namespace {
constexpr double kPi = 3.14159265358979323846;

// Lengths that transform fast; searched before counting up past the last one.
constexpr int32_t kFastSizes[] = {
    60,      64,      72,      75,      80,      100,     120,     125,     128,     135,     144,     150,
    160,     180,     200,     225,     240,     256,     300,     320,     375,     400,     405,     432,
    500,     512,     540,     576,     625,     640,     648,     720,     768,     800,     810,     864,
    900,     960,     1000,    1080,    1152,    1200,    1280,    1296,    1350,    1440,    1500,    1600,
    1620,    1728,    1800,    1920,    2000,    2025,    2160,    2304,    2400,    2560,    2700,    2880,
    3000,    3200,    3375,    3600,    3840,    4000,    4050,    4320,    4500,    4800,    5120,    5184,
    5400,    5625,    6000,    6400,    6480,    6912,    7200,    7500,    8000,    8100,    8640,    8748,
    9000,    9375,    9600,    10000,   10368,   10800,   10935,   11520,   12500,   12960,   13500,   13824,
    14400,   14580,   15000,   15625,   16000,   16200,   17280,   18000,   19200,   19440,   20000,   20736,
    21600,   23040,   24000,   24300,   25920,   27000,   28800,   30000,   30375,   32000,   32400,   34560,
    36000,   38400,   40000,   40500,   43200,   45000,   46080,   48000,   50000,   50625,   51840,   54000,
    57600,   60000,   62500,   64000,   67500,   72000,   72900,   75000,   80000,   84375,   90000,   96000,
    97200,   100000,  103680,  104976,  112500,  120000,  125000,  129600,  131220,  140625,  150000,  160000,
    162000,  164025,  174960,  187500,  200000,  202500,  207360,  216000,  218700,  234375,  250000,  259200,
    270000,  273375,  291600,  312500,  324000,  337500,  345600,  360000,  364500,  390625,  405000,  421875,
    432000,  450000,  455625,  486000,  518400,  540000,  562500,  576000,  607500,  648000,  675000,  703125,
    720000,  759375,  781250,  800000,  810000,  843750,  864000,  900000,  937500,  1000000, 1012500, 1080000,
    1125000, 1171875, 1200000, 1250000, 1265625, 1280000, 1350000, 1406250, 1440000, 1500000, 1562500, 1600000,
    1687500, 1875000, 2000000, 2109375, 2250000, 2343750, 2400000, 2500000, 2531250, 2812500, 3125000, 3200000,
    3515625, 3750000, 3906250, 4000000, 4100625, 4687500, 5000000, 5062500, 5184000, 5400000, 5467500, 5859375,
    6250000, 6328125, 6480000, 6561000, 6635520};
static_assert(sizeof(kFastSizes) / sizeof(kFastSizes[0]) == 245);

bool is_5_smooth(int64_t v) {
  for (int p : {2, 3, 5})
    while (v % p == 0) v /= p;
  return v == 1;
}

int32_t clamp_to_int32(int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// offset(vzoom): where 0 dB sits; equals kZeroFrac at vzoom 1.
double zoom_offset(double vzoom) { return kZoomNumerator / ((vzoom - 0.9375) * 16.0) + 0.5; }
}  // namespace

double realdb_to_db(double rdb) noexcept {
  if (rdb < -160.0) return kFloorDb;
  if (rdb >= -60.0) return rdb;
  return std::pow(10.0, rdb / 20.0) * 1000.0 * kNeper - 60.0 - kNeper;
}

double db_to_realdb(double db) noexcept {
  if (!(db < -60.0)) return db;  // also NaN
  if (db <= kFloorDb) return -INFINITY;
  return 20.0 * std::log10((db + 60.0 + kNeper) * 0.001 / kNeper);
}

double realdb_to_vol(double rdb) noexcept { return std::pow(10.0, rdb / 20.0); }
double vol_to_realdb(double vol) noexcept { return 20.0 * std::log10(vol); }

double curve_gain(double d) noexcept {
  if (d <= kFloorDb) return 0.0;  // the linear formula leaves a rounding residue exactly at the floor
  if (d < -60.0) return (d + 60.0 + kNeper) * 0.001 / kNeper;
  if (d <= 60.0) return std::pow(10.0, d / 20.0);
  if (d > 60.0) return 1000.0;
  return 0.0;  // NaN: silence rather than an undefined gain
}

double vpix_zoom(const inst_t *ci, double x) noexcept {
  const double vz = ci->vzoom;
  return zoom_offset(vz) + (x - kZeroFrac) * vz;
}

double vpix_unzoom(const inst_t *ci, double x) noexcept {
  const double vz = ci->vzoom;
  return (x - zoom_offset(vz)) / vz + kZeroFrac;
}

double db_to_pix(const inst_t *ci, double db, int32_t w, int32_t check) noexcept {
  const double vz = ci->vzoom;
  const double p = (((db - kFloorDb) / 128.68588963806502) - kZeroFrac) * vz + zoom_offset(vz);
  double pix = p * (w - 1);
  if (check) {  // keeps the result inside 0..w-1, also for NaN
    if (!(pix < double(w - 1))) pix = w - 1;
    else if (pix <= 0.0) pix = 0.0;
  }
  return (w - 1) - pix;
}

double vol_to_pix(const inst_t *ci, double vol, int32_t w, int32_t check) noexcept {
  const double vz = ci->vzoom;
  const double d = vol >= 0.001 ? 20.0 * std::log10(vol) - kFloorDb : 1000.0 * vol * kNeper;
  const double p = (d / kRangeDb - kZeroFrac) * vz + zoom_offset(vz);
  double pix = p * (w - 1);
  if (check == 1) {
    if (!(pix < double(w - 1))) pix = w - 1;
    else if (pix <= 0.0) pix = 0.0;
  } else if (check == 2) {
    if (std::trunc(pix) > w + 5) pix = w + 5;
    else if (pix < -5.0) pix = -5.0;
  }
  return (w - 1) - pix;
}

double pix_to_db(const inst_t *ci, double pos, int32_t w) noexcept {
  const double vz = ci->vzoom;
  const double p = ((w - 1) - pos) / (w - 1);
  return (((p - zoom_offset(vz)) / vz) + kZeroFrac) * kRangeDb + kFloorDb;
}

double pitch_to_pix(const inst_t *ci, double pitch) noexcept {
  const tarvelon_hview_t v = ci->hview.load();
  const double a = v.zminp, b = v.zmaxp;
  return (ci->kVW - 1) * (pitch - a) / (b - a);
}

double pix_to_pitch(const inst_t *ci, double x) noexcept {
  const tarvelon_hview_t v = ci->hview.load();
  const double a = v.zminp, b = v.zmaxp;
  return a + (b - a) * x / (ci->kVW - 1);
}

double log_pos(double x, double min, double max, double) noexcept {
  return min * std::pow(10.0, (std::log10(max) - std::log10(min)) * x);
}

double log_pos_inv(double x, double min, double max, double) noexcept {
  return (std::log(x) - std::log(min)) / (std::log(max) - std::log(min));
}

void blackman_coefs(double *s, int32_t M) noexcept {
  if (!s || M <= 0) return;
  const double den = double(M) + 1.0;
  for (int32_t i = 1; i <= M; i++)
    s[i - 1] = 0.42 - 0.5 * std::cos(2.0 * kPi * i / den) + 0.08 * std::cos(4.0 * kPi * i / den);
}

void hann_transition(double *buffer, int32_t size, int32_t order) noexcept {
  if (!buffer || size <= 0) return;
  if (size == 1) {  // a one-sample fade has no slope: take the end value
    buffer[0] *= order == 0 ? 1.0 : 0.0;
    return;
  }
  const double step = kPi / double(size - 1);
  const double sign = order == 0 ? -0.5 : 0.5;
  for (int32_t i = 0; i < size; i++) buffer[i] *= 0.5 + sign * std::cos(step * i);
}

double tarvelon_sanitize_samplerate(double sr) noexcept {
  return (std::isfinite(sr) && sr >= 1000.0 && sr <= 1536000.0) ? sr : 44100.0;
}

int32_t kernel_size_calc(double sr, double mult) noexcept {
  const int64_t base = int64_t(tarvelon_sanitize_samplerate(sr)) * 1025 / 44100;
  const double x = std::isfinite(mult) ? double(base) * mult + 0.5 : 1.0;
  int64_t n = x >= 1.0 ? (x < double(INT32_MAX - 1) ? int64_t(x) : INT32_MAX - 2) : 1;
  if (n % 2 == 0) n++;
  return int32_t(n);
}

int32_t fft_size_calc(int32_t bsize, int32_t ksize, double mult) noexcept {
  if (bsize > 0) return next_fast_fft_size(clamp_to_int32(int64_t(bsize) + ksize - 1));
  double ext = double(ksize - 1) * 1.5 * (std::isfinite(mult) ? mult : 0.0) + 0.5;
  ext = std::clamp(ext, 0.0, double(INT32_MAX));
  const int64_t extension = std::max<int64_t>(int64_t(ext), 128);
  return next_fast_fft_size(clamp_to_int32(int64_t(ksize) - 1 + extension));
}

int32_t last2k_size_calc(double sr) noexcept {
  return next_fast_fft_size(int32_t(int64_t(tarvelon_sanitize_samplerate(sr)) * 8000 / 44100));
}

int32_t next_fast_fft_size(int32_t x) noexcept {
  const int32_t *end = std::end(kFastSizes);
  const int32_t *it = std::lower_bound(std::begin(kFastSizes), end, x);
  if (it != end) return *it;
  for (int64_t v = x; v <= INT32_MAX; v++)
    if (is_5_smooth(v)) return int32_t(v);
  return INT32_MAX;  // no smooth length fits; every caller rejects a size this large
}

void fftconv(const double *s1, const double *s2, double *s3, int32_t size) noexcept {
  if (!s1 || !s2 || !s3 || size <= 0) return;
  fft_spectrum_multiply(s1, s2, s3, size);
}

void polar_mag(double *s, int32_t M) noexcept {
  if (!s || M <= 0) return;
  s[0] = std::fabs(s[0]);
  const int32_t last = (M + 1) / 2;
  for (int32_t k = 1; k < last; k++) s[k] = std::sqrt(s[k] * s[k] + s[M - k] * s[M - k]);
}

void array_div(double *s, int32_t M, double div) noexcept {
  if (!s) return;
  const double m = div == 0.0 ? 0.0 : 1.0 / div;
  for (int32_t i = 0; i < M; i++) s[i] *= m;
}
