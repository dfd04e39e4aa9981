#include <gtest/gtest.h>

#include <cmath>

#include "dsp/scales.h"
#include "state/params.h"
#include "support/test_instance.h"

TEST(Params, DeclaredInOrderWithRangesLabelsAndShapes) {
  test_instance t;
  const memory_host &h = *t.host;
  EXPECT_EQ(h.params[0].name, "Band A on");
  EXPECT_EQ(h.params[0].kind, 0);
  EXPECT_EQ(h.params[7].name, "Band D gain");
  EXPECT_EQ(h.params[7].min, tv::kFloorDb);
  EXPECT_EQ(h.params[7].def, 1e-6);
  EXPECT_EQ(h.params[9].def, 370.0);
  EXPECT_EQ(h.params[9].shape, 3.0);
  EXPECT_EQ(h.params[19].kind, 1);
  EXPECT_EQ(h.params[20].shape, 4.0);
  EXPECT_EQ(h.params[25].max, 64.34294481903252);
  EXPECT_EQ(h.params[27].step, 1e-6);
  for (int id = 0; id < 28; id++) {
    const tarvelon_param_info_t *p = tarvelon_param_info(id);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(h.params[id].name, p->name);
    EXPECT_EQ(h.params[id].value.load(), p->def);
    EXPECT_EQ(h.params[id].label, p->label);
  }
  EXPECT_EQ(tarvelon_param_info(28), nullptr);
  EXPECT_EQ(tarvelon_param_info(-1), nullptr);
  EXPECT_EQ(h.control_param[4], 19);
  EXPECT_EQ(h.control_param[7], 16);
  EXPECT_EQ(h.control_param[15], 27);
}

TEST(Params, HorizontalZoomShowsTheDocumentedWindow) {
  inst_t ci{};
  tarvelon_set_horizontal_zoom(&ci, 2.0, 0.0);
  EXPECT_NEAR(ci.hview.load().zmin, 20.0, 1e-9);
  EXPECT_NEAR(ci.hview.load().zmax, 632.4555320336759, 1e-9);
  tarvelon_set_horizontal_zoom(&ci, 2.0, 1.0);
  EXPECT_NEAR(ci.hview.load().zmin, 632.4555320336759, 1e-9);
  EXPECT_NEAR(ci.hview.load().zmax, 20000.0, 1e-7);
  EXPECT_NEAR(ci.hview.load().zmaxp, 1.0, 1e-12);
  tarvelon_set_horizontal_zoom(&ci, 0.5, 0.9);
  EXPECT_NEAR(ci.hview.load().zmin, 20.0, 1e-9);
  EXPECT_NEAR(ci.hview.load().zmax, 20000.0, 1e-7);
  tarvelon_set_horizontal_zoom(&ci, 1.0, NAN);
  EXPECT_EQ(ci.hview.load().zoomc, 0.5);
}

TEST(Params, ChangesSetTheRightFlagsAndDisplayValues) {
  test_instance t;
  inst_t *ci = t.ci;
  ci->diff_eq.clear();
  t.set_param(13, 5.0);
  EXPECT_TRUE(ci->diff_eq.is_set());

  ci->prefsave_pending = 0;
  t.set_param(24, -3.0);  // Limiter: only the preferences
  EXPECT_EQ(ci->prefsave_pending.load(), 1);
  EXPECT_FALSE(ci->reinit_flag.is_set());

  ci->prefsave_pending = 0;
  t.set_param(26, 3.0);  // zoom is not a preference
  EXPECT_EQ(ci->prefsave_pending.load(), 0);
  EXPECT_NEAR(ci->hview.load().hzoom, 1.0 / 3.0, 1e-15);

  t.set_param(25, 3.0);
  EXPECT_NEAR(ci->vzoom.load(), 21.44764827301084, 1e-12);
  t.set_param(22, 2.0);
  EXPECT_TRUE(ci->reinit_flag.is_set());

  // Out-of-range display values are not clamped into range but replaced.
  t.host->params[20].value = 50.0;
  tarvelon_on_param_change(ci, 20);
  EXPECT_EQ(ci->colgain.load(), 1.0);
  t.host->params[21].value = 0.5;
  tarvelon_on_param_change(ci, 21);
  EXPECT_EQ(ci->gamma.load(), 1.0);
  tarvelon_on_param_change(ci, 99);
  tarvelon_on_param_change(nullptr, 3);
}
