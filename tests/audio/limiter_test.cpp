#include <gtest/gtest.h>

#include "audio/engine.h"
#include "system/inst.h"

namespace {
// Runs frames of (left, right) through the limiter at 0 dB and 1000 Hz, so
// every frame is one millisecond.
struct limiter_rig {
  inst_t ci{};
  limiter_rig() { ci.samplerate = 1000.0; }
  std::pair<double, double> frame(double l, double r, double ceiling = 1.0) {
    double a = l, b = r;
    double *ch[2] = {&a, &b};
    tarvelon_limit_frame(&ci, ch, 2, 0, ceiling);
    return {a, b};
  }
  void silence(int frames) {
    for (int i = 0; i < frames; i++) frame(0, 0);
  }
};
}  // namespace

TEST(Limiter, PeakIsCutToTheCeilingAndHeldForTwoPointThreeSeconds) {
  limiter_rig r;
  EXPECT_DOUBLE_EQ(r.frame(0.0, 2.0).second, 1.0);
  EXPECT_DOUBLE_EQ(r.ci.max_sample.load(), 1.0);
  r.silence(999);
  EXPECT_DOUBLE_EQ(r.frame(0.4, 0.0).first, 0.2);
  EXPECT_DOUBLE_EQ(r.frame(0.0, 0.4).second, 0.2);
  r.silence(3600);  // past 4.6 s
  EXPECT_EQ(r.ci.env, 0.0);
  EXPECT_DOUBLE_EQ(r.frame(0.4, -0.9).second, -0.9);
}

TEST(Limiter, ReleaseFreezesWithinAFactorTwoOfTheSignal) {
  limiter_rig r;
  r.frame(2.0, 0.0);
  double out = 0;
  for (int i = 0; i < 8000; i++) out = r.frame(0.8, 0.8).first;
  EXPECT_NEAR(r.ci.env, 1.6, 0.01);
  EXPECT_NEAR(out, 0.8 / 1.6, 0.005);
}

TEST(Limiter, SignalsBelowTheCeilingPassUntouched) {
  limiter_rig r;
  for (double v : {0.1, -0.99, 1.0}) EXPECT_EQ(r.frame(v, v).first, v);
  EXPECT_EQ(r.ci.env, 0.0);
  EXPECT_LE(r.ci.max_sample.load(), 0.0);
}
