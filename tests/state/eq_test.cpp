#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "dsp/scales.h"
#include "state/eq.h"
#include "state/params.h"
#include "support/test_instance.h"

namespace {
eq_t band(int id, double freq, double db, double slope, int on = 1) {
  eq_t e{};
  e.on = on;
  e.freq = freq;
  e.db = db;
  e.slope = slope;
  e.id = id;
  return e;
}

// Brute force: the segment as a 2-D Bezier over (pitch, dB) control points,
// solved for the pitch by bisection with de Casteljau; it does not rely on the
// handles making t linear in pitch.
double bezier_by_bisection(const eq_t &a, const eq_t &b, double pitch) {
  const double px[4] = {a.pitch, a.h1pitch, b.h2pitch, b.pitch};
  const double py[4] = {a.db, a.h1db, b.h2db, b.db};
  auto casteljau = [](const double *p, double t) {
    double q[4] = {p[0], p[1], p[2], p[3]};
    for (int r = 3; r > 0; r--)
      for (int i = 0; i < r; i++) q[i] = q[i] * (1 - t) + q[i + 1] * t;
    return q[0];
  };
  double lo = 0, hi = 1;
  for (int i = 0; i < 200; i++) {
    const double mid = 0.5 * (lo + hi);
    (casteljau(px, mid) < pitch ? lo : hi) = mid;
  }
  return casteljau(py, 0.5 * (lo + hi));
}

struct point_list {
  eq_t eqs[kSortedPointCount] = {};
  int32_t count = 0;
};

point_list build(eq_t *equ) {
  point_list p;
  sort_eq(equ, p.eqs, &p.count, 20.0, 20000.0);
  eq_compute_handles(p.eqs, p.count);
  return p;
}
}  // namespace

TEST(Curve, MatchesBruteForceBezierAndHonoursEachBandsGainAndSlope) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> pitch(0.0, 1.0), gain(-60, 40), slope(-30, 30);
  for (int trial = 0; trial < 40; trial++) {
    eq_t equ[4];
    for (int b = 0; b < 4; b++)
      equ[b] = band(b, 20.0 * std::pow(1000.0, pitch(rng)), gain(rng), slope(rng), (trial + b) % 5 != 0);
    const point_list p = build(equ);
    for (int s = 0; s <= p.count; s++) {
      const double a = p.eqs[s].pitch, b = p.eqs[s + 1].pitch;
      for (int i = 1; i < 10; i++) {
        const double x = a + (b - a) * i / 10.0;
        EXPECT_NEAR(eq_curve_at_pitch(p.eqs, p.count, x), bezier_by_bisection(p.eqs[s], p.eqs[s + 1], x), 1e-9);
      }
    }
    for (int i = 1; i <= p.count; i++) {
      const eq_t &e = p.eqs[i];
      EXPECT_NEAR(eq_curve_at_pitch(p.eqs, p.count, e.pitch), e.db, 1e-9);
      // One-sided differences with Richardson extrapolation on each side of the
      // point: both segments must leave it with the band's slope.
      auto curve = [&](double x) { return eq_curve_at_pitch(p.eqs, p.count, x); };
      const double h = 1e-6;
      for (double dir : {1.0, -1.0}) {
        if (dir > 0 && e.pitch + h >= p.eqs[i + 1].pitch) continue;
        if (dir < 0 && e.pitch - h <= p.eqs[i - 1].pitch) continue;
        auto D = [&](double step) { return (curve(e.pitch + dir * step) - curve(e.pitch)) / (dir * step); };
        const double d = 2.0 * D(h / 2) - D(h);
        EXPECT_NEAR(d / tv::kOctaveSpan, e.slope, 1e-4 * (1.0 + std::fabs(e.slope))) << "tangent in dB per octave";
      }
    }
    // Flat beyond the outer bands, at the level of the outer handles.
    EXPECT_EQ(eq_curve_at_pitch(p.eqs, p.count, -0.5), p.eqs[0].db);
    EXPECT_EQ(eq_curve_at_pitch(p.eqs, p.count, 1.5), p.eqs[p.count + 1].db);
  }
}

TEST(SortEq, NoBandGivesTwoFlatEndPoints) {
  eq_t equ[4] = {band(0, 100, 5, 1, 0), band(1, 200, 5, 1, 0), band(2, 300, 5, 1, 0), band(3, 400, 5, 1, 0)};
  const point_list p = build(equ);
  EXPECT_EQ(p.count, 0);
  EXPECT_EQ(p.eqs[0].freq, 20.0);
  EXPECT_EQ(p.eqs[1].freq, 20000.0);
  for (double x : {0.0, 0.3, 1.0}) EXPECT_EQ(eq_curve_at_pitch(p.eqs, p.count, x), 0.0);
}

TEST(SortEq, MergesBandsWithinToleranceKeepingTheLaterOne) {
  eq_t equ[4] = {band(0, 1000.0000000005, 3, 0), band(1, 1000.0, 6, 0), band(2, 5000, 0, 0, 0),
                 band(3, 5000, 0, 0, 0)};
  point_list p = build(equ);
  EXPECT_EQ(p.count, 1);
  EXPECT_EQ(p.eqs[1].id, 0);  // the higher frequency comes later

  eq_t same[4] = {band(0, 1000, 3, 0), band(1, 1000, 6, 0), band(2, 1000, 9, 0, 0), band(3, 1001, 1, 0)};
  p = build(same);
  EXPECT_EQ(p.count, 2);
  EXPECT_EQ(p.eqs[1].id, 1);  // equal frequencies: the higher band index wins
  EXPECT_EQ(p.eqs[2].id, 3);  // 1 Hz apart stays separate
}

TEST(SortEq, ClampsBandsAndPlacesEndPointsBeyondTheAxisEnds) {
  eq_t equ[4] = {band(0, 15, 0, 0), band(1, 25000, 0, 0), band(2, NAN, NAN, 0, 0), band(3, INFINITY, -200, 0, 0)};
  point_list p = build(equ);
  EXPECT_EQ(equ[0].freq, 20.0);
  EXPECT_EQ(equ[1].freq, 20000.0);
  EXPECT_EQ(equ[2].freq, 20.0);
  EXPECT_EQ(equ[2].db, tv::kFloorDb);
  EXPECT_EQ(equ[3].freq, 20.0);
  EXPECT_EQ(equ[3].db, tv::kFloorDb);
  EXPECT_EQ(p.eqs[0].freq, 10.0);
  EXPECT_EQ(p.eqs[p.count + 1].freq, 21000.0);

  eq_t inf_gain[4] = {band(0, 1000, INFINITY, 0), band(1, 1, 0, 0, 0), band(2, 1, 0, 0, 0), band(3, 1, 0, 0, 0)};
  build(inf_gain);
  EXPECT_EQ(inf_gain[0].db, tv::kFloorDb);
}

TEST(BandModel, ParametersBecomeBandsWithTransposeOverallGainAndGainScale) {
  test_instance t;
  t.set_param(4, tv::kFloorDb);
  tarvelon_load_eq_from_params(t.ci, 0);
  EXPECT_EQ(t.ci->equ[0].db, tv::kFloorDb);

  t.set_param(4, 50.0);
  t.set_param(17, 20.0);
  tarvelon_load_eq_from_params(t.ci, 0);
  EXPECT_EQ(t.ci->equ[0].db, 60.0);

  t.set_param(17, 0.0);
  t.set_param(16, 12.0);
  tarvelon_load_eq_from_params(t.ci, 0);
  for (int b = 0; b < 4; b++) EXPECT_NEAR(t.ci->equ[b].freq, 2.0 * t.param(8 + b), 1e-9);

  t.ci->equ[1].freq = 30000.0;
  tarvelon_sync_eq_param_from_user_input(t.ci, 1, 8, 2);
  EXPECT_NEAR(t.param(9), 15000.0, 1e-9);
}

TEST(BandModel, GainScaleZeroAtTheFloorGivesOverallGainNotNaN) {
  test_instance t;
  t.set_param(4, tv::kFloorDb);
  t.set_param(18, 0.0);
  t.set_param(17, -6.0);
  tarvelon_load_eq_from_params(t.ci, 0);
  EXPECT_EQ(t.ci->equ[0].db, -6.0);
  EXPECT_EQ(t.ci->equ[0].slope, 0.0);
  // Writing back under a zero scale collapses to 0 dB and slope 0 instead of dividing by zero.
  t.ci->equ[0].slope = 12.0;
  tarvelon_sync_eq_param_from_user_input(t.ci, 0, 4, 1);
  tarvelon_sync_eq_param_from_user_input(t.ci, 0, 12, 3);
  EXPECT_EQ(t.param(4), 0.0);
  EXPECT_EQ(t.param(12), 0.0);
}

TEST(BandModel, ChangeDetectionUsesTheRelativeTolerance) {
  test_instance t;
  tarvelon_remember_designed_eq_state(t.ci);
  EXPECT_EQ(tarvelon_eq_state_differs_from_designed(t.ci), 0);
  t.ci->equ[2].freq = t.ci->designed_equ[2].freq + 1e-9;
  EXPECT_EQ(tarvelon_eq_state_differs_from_designed(t.ci), 0);
  t.ci->equ[2].freq = t.ci->designed_equ[2].freq + 1e-6;
  EXPECT_EQ(tarvelon_eq_state_differs_from_designed(t.ci), 1);
  t.ci->equ[2].on = 0;
  t.ci->designed_equ[2].on = 0;
  EXPECT_EQ(tarvelon_eq_state_differs_from_designed(t.ci), 0);  // off bands compare only `on`
  EXPECT_EQ(tarvelon_eq_state_differs_from_designed(nullptr), 1);
}

TEST(BandModel, SelectedBandKnobsFollowTheSelection) {
  test_instance t;
  EXPECT_EQ(t.host->control_param[1], 4);
  EXPECT_EQ(t.host->control_param[2], 8);
  EXPECT_EQ(t.host->control_param[3], 12);
  t.ci->selband = 2;
  tarvelon_setup_selected_band_controls(t.ci, 0);
  EXPECT_EQ(t.host->control_param[2], 10);
  EXPECT_NEAR(t.host->control_default[1], 0.5337484150845695, 1e-15);
  EXPECT_NEAR(t.host->control_default[2], t.host->normalised(10, 1700.0), 1e-15);
  tarvelon_sync_eq_param_from_user_input(t.ci, 7, 4, 1);  // out of range: nothing
  tarvelon_sync_eq_param_from_user_input(nullptr, 0, 4, 1);
}
