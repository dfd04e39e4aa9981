#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>

#include "dsp/scales.h"
#include "system/inst.h"

namespace {
struct display {
  inst_t ci{};
  explicit display(double vzoom) { ci.vzoom = vzoom; }
};
}  // namespace

TEST(Scales, CurveDbScaleRoundTripsAndHitsItsFixedPoints) {
  EXPECT_EQ(realdb_to_db(-60.0), -60.0);
  EXPECT_EQ(realdb_to_db(-200.0), tv::kFloorDb);
  EXPECT_EQ(db_to_realdb(tv::kFloorDb), -INFINITY);
  EXPECT_EQ(db_to_realdb(tv::kFloorDb - 5.0), -INFINITY);
  EXPECT_TRUE(std::isnan(db_to_realdb(NAN)));
  EXPECT_NEAR(db_to_realdb(realdb_to_db(-80.0)), -80.0, 1e-9);
  for (double r = -159.0; r < -60.0; r += 3.7) EXPECT_NEAR(db_to_realdb(realdb_to_db(r)), r, 1e-8);

  EXPECT_NEAR(curve_gain(-60.0), 0.001, 1e-15);
  EXPECT_NEAR(curve_gain(-60.0 - 1e-12), 0.001, 1e-14);  // the two formulas meet at -60
  EXPECT_EQ(curve_gain(tv::kFloorDb), 0.0);
  EXPECT_EQ(curve_gain(tv::kFloorDb - 1.0), 0.0);
  EXPECT_EQ(curve_gain(61.0), 1000.0);
  EXPECT_EQ(curve_gain(NAN), 0.0);
}

TEST(Scales, SizeRulesMatchTheTabledValues) {
  EXPECT_EQ(kernel_size_calc(44100, 1.0), 1025);
  EXPECT_EQ(kernel_size_calc(44100, 0.2), 205);
  EXPECT_EQ(kernel_size_calc(48000, 1.0), 1115);
  EXPECT_EQ(kernel_size_calc(96000, 16.0), 35697);
  EXPECT_EQ(kernel_size_calc(192000, 16.0), 71393);
  EXPECT_EQ(fft_size_calc(0, 1025, 0.2), 1350);
  EXPECT_EQ(fft_size_calc(0, 1115, 0.2), 1500);
  EXPECT_EQ(fft_size_calc(0, 1025, 0.0), next_fast_fft_size(1024 + 128));
  EXPECT_EQ(fft_size_calc(4096, 1025, 0.2), 5120);
  EXPECT_EQ(fft_size_calc(0, 71393, 0.0125), 72900);
  EXPECT_EQ(last2k_size_calc(44100), 8000);
  EXPECT_EQ(last2k_size_calc(48000), next_fast_fft_size(8707));

  EXPECT_EQ(next_fast_fft_size(59), 60);
  EXPECT_EQ(next_fast_fft_size(1331), 1350);
  EXPECT_EQ(next_fast_fft_size(6635520), 6635520);
  EXPECT_EQ(next_fast_fft_size(6635521), 6718464);
  EXPECT_EQ(next_fast_fft_size(-5), 60);
  EXPECT_EQ(next_fast_fft_size(std::numeric_limits<int32_t>::max()), std::numeric_limits<int32_t>::max());
}

TEST(Scales, SizeArithmeticDoesNotOverflowAtHighOrBogusRates) {
  // 64-bit arithmetic: the int32 product rate × 8000 would wrap from ~268 kHz.
  EXPECT_EQ(last2k_size_calc(384000), next_fast_fft_size(int32_t(int64_t(384000) * 8000 / 44100)));
  EXPECT_EQ(kernel_size_calc(384000, 1.0), 8925 | 1);
  EXPECT_GT(kernel_size_calc(1536000, 16.0), 0);
  for (double bogus : {double(NAN), double(INFINITY), -48000.0, 0.0, 1e12})
    EXPECT_EQ(kernel_size_calc(bogus, 1.0), 1025) << bogus;  // the 44.1 kHz fallback
  EXPECT_EQ(kernel_size_calc(44100, NAN), 1);
  EXPECT_GT(fft_size_calc(0, 1025, INFINITY), 0);
  EXPECT_EQ(fft_size_calc(std::numeric_limits<int32_t>::max(), 1025, 1.0), std::numeric_limits<int32_t>::max());
}

TEST(Scales, WindowsHaveTheirDocumentedShapes) {
  double one = 0.0;
  blackman_coefs(&one, 1);
  EXPECT_NEAR(one, 1.0, 1e-15);
  std::vector<double> w(1025);
  blackman_coefs(w.data(), 1025);
  EXPECT_NEAR(w[512], 1.0, 1e-15);
  for (int i = 0; i < 512; i++) ASSERT_NEAR(w[size_t(i)], w[size_t(1024 - i)], 1e-15);
  EXPECT_GT(w[0], 0.0);

  double up[5] = {1, 1, 1, 1, 1}, down[5] = {1, 1, 1, 1, 1};
  hann_transition(up, 5, 0);
  hann_transition(down, 5, 1);
  const double want[5] = {0, 0.14644660940672624, 0.5, 0.85355339059327373, 1};
  for (int i = 0; i < 5; i++) {
    EXPECT_NEAR(up[i], want[i], 1e-15);
    EXPECT_NEAR(up[i] + down[i], 1.0, 1e-15);
  }
  double untouched = 2.0;
  hann_transition(&untouched, 0, 0);
  blackman_coefs(&untouched, 0);
  EXPECT_EQ(untouched, 2.0);
}

TEST(Scales, PixelMappingsInvertAndClampWhenAsked) {
  for (double vz : {1.0, 4.0, 21.44764827301084}) {
    display d(vz);
    inst_t &ci = d.ci;
    for (double db = -70.0; db <= 61.0; db += 0.7) {
      const double pix = db_to_pix(&ci, db, 400, 0);
      EXPECT_NEAR(pix_to_db(&ci, pix, 400), db, 1e-9) << "vzoom " << vz;
      const double clamped = db_to_pix(&ci, db, 400, 1);
      EXPECT_GE(clamped, 0.0);
      EXPECT_LE(clamped, 399.0);
      EXPECT_NEAR(vpix_unzoom(&ci, vpix_zoom(&ci, 0.3)), 0.3, 1e-12);
    }
  }
  display unzoomed(1.0);
  EXPECT_NEAR(vpix_zoom(&unzoomed.ci, 0.7), 0.7, 1e-15);  // identity at vzoom 1
}

TEST(Scales, HalfComplexProductMatchesComplexArithmetic) {
  // Short lengths and ones long enough for the four-bin vector loop, both parities.
  for (int n : {7, 8, 9, 16, 17, 31, 64, 101, 1500}) {
    std::vector<double> a(static_cast<size_t>(n)), b(static_cast<size_t>(n)), c(static_cast<size_t>(n));
    for (int i = 0; i < n; i++) {
      a[size_t(i)] = 0.3 * i - 1.0;
      b[size_t(i)] = 1.0 / (i + 1);
    }
    fftconv(a.data(), b.data(), c.data(), n);
    for (int k = 1; 2 * k < n; k++) {
      const std::complex<double> x(a[size_t(k)], a[size_t(n - k)]), y(b[size_t(k)], b[size_t(n - k)]);
      EXPECT_NEAR(c[size_t(k)], (x * y).real(), 1e-15 * (1 + std::abs(x * y))) << n << " bin " << k;
      EXPECT_NEAR(c[size_t(n - k)], (x * y).imag(), 1e-15 * (1 + std::abs(x * y))) << n << " bin " << k;
    }
    EXPECT_EQ(c[0], a[0] * b[0]);
    if (n % 2 == 0) {
      EXPECT_EQ(c[size_t(n / 2)], a[size_t(n / 2)] * b[size_t(n / 2)]);
    }
    std::vector<double> alias = a;
    fftconv(alias.data(), b.data(), alias.data(), n);
    EXPECT_EQ(alias, c);
  }
  double s[4] = {-3, 3, 9, 4};
  polar_mag(s, 4);
  EXPECT_EQ(s[0], 3.0);
  EXPECT_EQ(s[1], 5.0);
  double d[2] = {2, 4};
  array_div(d, 2, 0.0);
  EXPECT_EQ(d[0], 0.0);
}
