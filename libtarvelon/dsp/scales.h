// The curve's gain scale, pixel and pitch mappings, windows, the engine's size
// rules and the operations on half-complex spectra.
#pragma once
#include <cstdint>

struct inst_t;

namespace tv {
constexpr double kNeper = 8.685889638065037;          // 20/ln 10, dB per neper
constexpr double kFloorDb = -68.68588963806504;       // -60 - kNeper: amplitude 0 on the curve scale
constexpr double kRangeDb = 128.68588963806505;       // 60 - floor
constexpr double kZeroFrac = 0.5337484150845694;      // height of 0 dB in the unzoomed range
constexpr double kZoomNumerator = 0.03374841508456938;
constexpr double kLn20 = 2.995732273553991;
constexpr double kLn1000 = 6.907755278982137;
constexpr double kOctaveSpan = 9.965784284662087;     // log2(1000)
constexpr double kFullVertRange = 64.34294481903252;
constexpr int32_t kMaxFftSize = 470000;
}  // namespace tv

// Curve dB scale: ordinary dB from -60 up; below, amplitude falls linearly to 0 at the floor.
double realdb_to_db(double rdb) noexcept;
double db_to_realdb(double db) noexcept;  // -inf at or below the floor
double realdb_to_vol(double rdb) noexcept;
double vol_to_realdb(double vol) noexcept;
// Linear amplitude of a curve value: 0 below the floor, 1000 above 60 dB.
double curve_gain(double d) noexcept;

// Vertical mapping with the instance's vzoom. w is a pixel height.
double vpix_zoom(const inst_t *ci, double x) noexcept;
double vpix_unzoom(const inst_t *ci, double x) noexcept;
double db_to_pix(const inst_t *ci, double db, int32_t w, int32_t check) noexcept;
double vol_to_pix(const inst_t *ci, double vol, int32_t w, int32_t check) noexcept;
double pix_to_db(const inst_t *ci, double pos, int32_t w) noexcept;

// Horizontal mapping over the instance's visible pitch window.
double pitch_to_pix(const inst_t *ci, double pitch) noexcept;
double pix_to_pitch(const inst_t *ci, double x) noexcept;
double log_pos(double x, double min, double max, double base) noexcept;
double log_pos_inv(double x, double min, double max, double base) noexcept;

// Windows, in place. M <= 0 / size <= 0 write nothing.
void blackman_coefs(double *s, int32_t M) noexcept;
void hann_transition(double *buffer, int32_t size, int32_t order) noexcept;

// A finite rate in 1 kHz..1.536 MHz, or 44100: size arithmetic stays in range.
double tarvelon_sanitize_samplerate(double sr) noexcept;
// Size rules; all results are positive and fit int32.
int32_t kernel_size_calc(double sr, double mult) noexcept;
int32_t fft_size_calc(int32_t bsize, int32_t ksize, double mult) noexcept;
int32_t last2k_size_calc(double sr) noexcept;
int32_t next_fast_fft_size(int32_t x) noexcept;

// Half-complex spectrum operations (layout of fftp). s3 may alias s1 or s2.
void fftconv(const double *s1, const double *s2, double *s3, int32_t size) noexcept;
void polar_mag(double *s, int32_t M) noexcept;
void array_div(double *s, int32_t M, double div) noexcept;
