#include <gtest/gtest.h>

#include <cmath>

#include "dsp/filter_design.h"
#include "dsp/scales.h"
#include "state/eq.h"
#include "state/params.h"
#include "support/test_instance.h"
#include "system/alloc.h"

namespace {
struct design_case {
  test_instance t;
  explicit design_case(double sr = 44100.0) : t(sr) {}

  void bands(std::initializer_list<std::tuple<int, double, double, double>> on) {
    for (int b = 0; b < 4; b++) t.host->set(b, 0.0);
    for (auto [b, f, g, s] : on) {
      t.host->set(b, 1.0);
      t.host->set(8 + b, f);
      t.host->set(4 + b, g);
      t.host->set(12 + b, s);
    }
    tarvelon_load_eq_from_params(t.ci, 0);
  }
  bool design(int32_t ksize, int32_t N) {
    inst_t *ci = t.ci;
    return design_filters(ci, ci->fbank, ci->equ, ci->eqs, ksize, N, ci->samplerate, nullptr, &ci->spline_changed,
                          ci->spline_sem, 0, &ci->eqs_count, 0) == 1;
  }
  double mag(int k) const {
    const double *fir = t.ci->fbank->fir;
    const int N = t.ci->fbank->fft_size;
    if (k == 0 || 2 * k == N) return std::fabs(fir[k]);
    return std::hypot(fir[k], fir[N - k]);
  }
  double tap(int i) const { return t.ci->fbank->fir_time_domain[i] / std::sqrt(double(t.ci->fbank->fft_size)); }
  double curve_db_at(double f) const {
    return eq_curve_at_pitch(t.ci->eqs, t.ci->eqs_count, std::log(f / 20.0) / std::log(1000.0));
  }
};
}  // namespace

TEST(FilterDesign, AllBandsOffIsAPureDelay) {
  design_case d;
  d.bands({});
  ASSERT_TRUE(d.design(1025, 1350));
  for (int i = 0; i < 1025; i++) ASSERT_NEAR(d.tap(i), i == 512 ? 1.0 : 0.0, 1e-12) << i;
  for (int k = 0; k <= 675; k++) ASSERT_NEAR(d.mag(k), 1.0, 1e-12) << k;
}

TEST(FilterDesign, FlatBoostAndSmoothTransitions) {
  design_case d;
  d.bands({{0, 1000.0, 12.0, 0.0}});
  ASSERT_TRUE(d.design(1025, 1350));
  for (int k = 0; k <= 675; k++) ASSERT_NEAR(d.mag(k), std::pow(10.0, 0.6), 1e-9) << k;

  d.bands({{0, 1000.0, 12.0, 0.0}, {1, 4000.0, 0.0, 0.0}});
  ASSERT_TRUE(d.design(1025, 1350));
  double prev = 1e9;
  for (double f = 1000.0; f <= 4000.0; f *= 1.01) {  // falls monotonically between the two
    const double v = d.curve_db_at(f);
    EXPECT_LE(v, prev + 1e-12);
    prev = v;
  }
}

TEST(FilterDesign, KernelIsSymmetricAndBelowFloorIsANotch) {
  design_case d;
  d.bands({{0, 300.0, 6.0, 3.0}, {1, 2000.0, tv::kFloorDb, 0.0}, {2, 9000.0, -12.0, -5.0}});
  ASSERT_TRUE(d.design(4097, 5400));
  for (int i = 0; i < 2048; i++) ASSERT_NEAR(d.tap(i), d.tap(4096 - i), 1e-12 * (1 + std::fabs(d.tap(i))));
  EXPECT_EQ(curve_gain(d.curve_db_at(2000.0)), 0.0);
  const int bin = int(std::lround(2000.0 * 5400 / 44100.0));
  EXPECT_LT(20 * std::log10(d.mag(bin)), -40.0) << "notch depth";
}

TEST(FilterDesign, RealisedMagnitudeFollowsASlowCurveWithinHalfADecibel) {
  design_case d;
  d.bands({{0, 1000.0, 12.0, 0.0}, {1, 3000.0, -12.0, 0.0}, {2, 8000.0, 12.0, 0.0}, {3, 16000.0, -12.0, 0.0}});
  ASSERT_TRUE(d.design(1025, 1350));
  double worst = 0;
  for (int k = int(1000.0 * 1350 / 44100) + 1; k < 675; k++) {
    const double f = k * 44100.0 / 1350;
    const double want = d.curve_db_at(f), got = 20 * std::log10(d.mag(k));
    worst = std::fmax(worst, std::fabs(got - want));
  }
  EXPECT_LT(worst, 0.5);
}

TEST(FilterDesign, AtThirtyTwoKilohertzTheLastSegmentReachesNyquist) {
  design_case d(32000.0);
  d.bands({{0, 1000.0, 0.0, 0.0}, {1, 12000.0, 6.0, 0.0}});
  ASSERT_TRUE(d.design(745, 1000));
  EXPECT_GT(d.t.ci->eqs[d.t.ci->eqs_count + 1].freq, 16000.0);
  EXPECT_NEAR(20 * std::log10(d.mag(499)), d.curve_db_at(499 * 32.0), 0.5);
}

TEST(FilterDesign, PreparationWithUnchangedSizesTouchesNothing) {
  design_case d;
  filterbank_t *fb = d.t.ci->fbank;
  ASSERT_EQ(init_design(d.t.ci, fb, 1025, 1350, 1350), 1);
  fb->fir[3] = 42.0;
  const uint64_t before = tv_alloc_count();
  EXPECT_EQ(init_design(d.t.ci, fb, 1025, 1350, 1350), 1);
  EXPECT_EQ(fb->fir[3], 42.0);
  ASSERT_TRUE(d.design(1025, 1350));
  EXPECT_EQ(tv_alloc_count(), before) << "a redesign at unchanged sizes allocates nothing";
  EXPECT_EQ(init_design(d.t.ci, fb, 0, 10, 10), 0);
  EXPECT_EQ(init_design(d.t.ci, fb, 11, 10, 10), 0);
  EXPECT_EQ(init_design(nullptr, fb, 11, 20, 20), 0);
}

TEST(FilterDesign, DisplayTableMatchesTheCurveAtEveryColumn) {
  design_case d;
  inst_t *ci = d.t.ci;
  ASSERT_EQ(tarvelon_resize_visual_width_storage(ci, 300), 1);
  tarvelon_set_horizontal_zoom(ci, 2.0, 0.4);
  d.bands({{0, 200.0, 6.0, 2.0}, {1, 900.0, -9.0, 0.0}});
  ci->spline_changed = 0;
  ASSERT_EQ(tarvelon_design_spline_only(ci), 1);
  EXPECT_EQ(ci->spline_changed.load(), 1);
  for (int x = 0; x < 300; x++) {
    const tarvelon_hview_t v = ci->hview.load();
    const double pitch = v.zminp + (v.zmaxp - v.zminp) * x / 299.0;
    ASSERT_NEAR(ci->spline_lut[0][x], eq_curve_at_pitch(ci->eqs, ci->eqs_count, pitch), 1e-9) << x;
  }
}

TEST(FilterDesign, ZeroWidthSegmentAndTinyRatesStayFinite) {
  design_case d(1000.0);
  d.bands({{0, 20000.0 - 1e-12, 6.0, 0.0}, {1, 50.0, 3.0, 0.0}});
  ASSERT_TRUE(d.design(25, 60));
  for (int k = 0; k <= 30; k++) ASSERT_TRUE(std::isfinite(d.mag(k))) << k;
}
