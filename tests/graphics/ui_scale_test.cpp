// The editor at a UI scale: a logical layout scaled exactly, hit tests and
// drawn lengths that follow it, text and artwork drawn for the scale rather
// than magnified, and the scaled artwork living only with an open editor.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "graphics/artwork.h"
#include "graphics/frame.h"
#include "graphics/layout.h"
#include "graphics/resources.h"
#include "graphics/text.h"
#include "io/pointer.h"
#include "state/eq.h"
#include "state/params.h"
#include "support/test_instance.h"
#include "vl_gui_context.h"

namespace {
// An instance with all four bands on and an editor at scale s of the logical
// size lw × lh.
struct scaled_editor {
  test_instance t;
  std::vector<srgb_t> pixels;
  explicit scaled_editor(double s, int lw = 1060, int lh = 566) {
    const double freq[4] = {80.0, 500.0, 2500.0, 9000.0}, gain[4] = {6.0, -9.0, 4.0, -12.0};
    for (int b = 0; b < 4; b++) {
      t.set_param(TV_PARAM_BAND_ON + b, 1.0);
      t.set_param(TV_PARAM_BAND_GAIN + b, gain[b]);
      t.set_param(TV_PARAM_BAND_FREQ + b, freq[b]);
    }
    tarvelon_set_ui_scale(t.ci, s);
    tarvelon_editor_storage_acquire(t.ci);
    int32_t w = 0, h = 0;
    tarvelon_logical_to_pixels(t.ci, lw, lh, &w, &h);
    tarvelon_resize_editor(t.ci, w, h);
    pixels.assign(size_t(t.ci->fb.w) * size_t(t.ci->fb.h), srgb_t{});
    t.ci->composite.srgb = pixels.data();
    sync_vantalib_framebuffers(t.ci);
    frame();
  }
  ~scaled_editor() {
    t.ci->composite.srgb = nullptr;
    sync_vantalib_framebuffers(t.ci);
    tarvelon_editor_storage_release(t.ci);
  }
  void frame() {
    t.ci->time0 = -1e9;  // a fixed frame time, so animations are the same everywhere
    tarvelon_draw_frame(t.ci);
  }
  // A presented pixel back in linear light (its bytes are b, g, r).
  lrgb_t composite(int x, int y) const {
    const srgb_t p = pixels[size_t(y) * size_t(t.ci->fb.w) + size_t(x)];
    auto lin = [](uint8_t v) { return uint16_t(std::lround(std::pow(v / 255.0, 2.2) * 32768.0)); };
    return lrgb_t{lin(p.b), lin(p.g), lin(p.r), 32768};
  }
};

// Ink of a text drawn white on black into a fresh raster: the bounding box
// height and the share of inked pixels that are nearly solid.
struct ink {
  int rows = 0;
  double solid = 0.0;
};
ink measure_text(font_t *f, const char *s) {
  raster_t r = make_raster(nullptr, 400, 200, VL_PLANE_L);
  char buf[kTextCapacity];
  std::snprintf(buf, sizeof buf, "%s", s);
  text_t t{f, 10.0, 100.0, buf, buf, TEXT_LEFT | TEXT_MIDDLE, 10.0, 100.0, 0};
  blit_text(&t, &r, lrgb_t{32768, 32768, 32768, 32768}, 1.0);
  int top = r.h, bottom = -1, inked = 0, solid = 0;
  for (int y = 0; y < r.h; y++)
    for (int x = 0; x < r.w; x++) {
      const uint16_t v = r.l[size_t(y) * size_t(r.w) + size_t(x)].g;
      if (v > 16384) {  // half covered
        top = std::min(top, y), bottom = std::max(bottom, y);
        inked++;
        if (v > 31130) solid++;  // 95 %
      }
    }
  free_raster(&r);
  return ink{bottom - top + 1, inked ? double(solid) / inked : 0.0};
}
}  // namespace

TEST(UiScale, AtTwoTheLayoutIsExactlyTwiceTheOneTimesLayout) {
  scaled_editor one(1.0), two(2.0);
  const inst_t *a = one.t.ci, *b = two.t.ci;
  EXPECT_EQ(b->fb.w, 2120);
  EXPECT_EQ(b->fb.h, 1132);
  EXPECT_EQ(b->vx, 2 * a->vx);
  EXPECT_EQ(b->vy, 2 * a->vy);
  EXPECT_EQ(b->kVW, 2 * a->kVW);
  EXPECT_EQ(b->kVH, 2 * a->kVH);
  for (int s = 1; s < kTarvelonControlCount; s++) {
    if (a->cpos[s].gx < 0) continue;  // the knobs kept outside the window
    EXPECT_EQ(b->cpos[s].gx, 2 * a->cpos[s].gx) << "slot " << s;
    EXPECT_EQ(b->cpos[s].gy, 2 * a->cpos[s].gy) << "slot " << s;
  }
  rect_t ga{}, gb{};
  ASSERT_EQ(tarvelon_get_sidebar_gap_rect(a, &ga), 1);
  ASSERT_EQ(tarvelon_get_sidebar_gap_rect(b, &gb), 1);
  EXPECT_DOUBLE_EQ(gb.p0.x, 2 * ga.p0.x);
  EXPECT_DOUBLE_EQ(gb.p0.y, 2 * ga.p0.y);
  EXPECT_DOUBLE_EQ(gb.p1.x, 2 * ga.p1.x);
  EXPECT_DOUBLE_EQ(gb.p1.y, 2 * ga.p1.y);

  // A fractional scale stays within a pixel of the exact product.
  scaled_editor frac(1.5);
  const inst_t *c = frac.t.ci;
  EXPECT_EQ(c->fb.w, 1590);
  EXPECT_EQ(c->fb.h, 849);
  for (int s = 1; s < kTarvelonControlCount; s++) {
    if (a->cpos[s].gx < 0) continue;
    EXPECT_NEAR(c->cpos[s].gx, 1.5 * a->cpos[s].gx, 1.0) << "slot " << s;
    EXPECT_NEAR(c->cpos[s].gy, 1.5 * a->cpos[s].gy, 1.0) << "slot " << s;
  }
  EXPECT_NEAR(c->kVW, 1.5 * a->kVW, 1.0);
}

TEST(UiScale, ScalesAndSizesStayWithinTheLimits) {
  test_instance t;
  inst_t *ci = t.ci;
  EXPECT_EQ(tarvelon_ui_scale(ci), 1.0) << "unset reads as 1";
  EXPECT_EQ(tarvelon_set_ui_scale(ci, 1.0), 0);
  EXPECT_EQ(tarvelon_set_ui_scale(ci, 2.0), 1);
  for (double bad : {0.0, -3.0, double(std::nan("")), double(INFINITY)}) {
    tarvelon_set_ui_scale(ci, bad);
    EXPECT_EQ(tarvelon_ui_scale(ci), 1.0) << bad;
  }
  tarvelon_set_ui_scale(ci, 0.5);
  EXPECT_EQ(tarvelon_ui_scale(ci), 1.0) << "never below 1";
  tarvelon_set_ui_scale(ci, 4.0);
  int32_t min_w = 0, min_h = 0, max_w = 0, max_h = 0;
  tarvelon_editor_pixel_limits(ci, &min_w, &min_h, &max_w, &max_h);
  EXPECT_LE(min_h, max_h) << "the logical minimum fits the pixel maximum at the largest scale";
  EXPECT_EQ(max_w, 3840);
  EXPECT_EQ(max_h, 2160);
  int32_t w = 0, h = 0;
  tarvelon_logical_to_pixels(ci, 3840, 2160, &w, &h);
  EXPECT_EQ(w, 3840);
  EXPECT_EQ(h, 2160);

  // Remembered sizes are logical: 1300×800 from the preferences opens at
  // 2600×1600 pixels at 2×, and the largest logical size at 2× is 1920×1080.
  tarvelon_set_ui_scale(ci, 2.0);
  ci->gui_width = 1300, ci->gui_height = 800;
  ASSERT_EQ(layout_pos_from_saved_gui_size(ci), 1);
  EXPECT_EQ(ci->fb.w, 2600);
  EXPECT_EQ(ci->fb.h, 1600);
  ci->gui_width = 3840, ci->gui_height = 2160;
  ASSERT_EQ(layout_pos_from_saved_gui_size(ci), 1);
  EXPECT_EQ(ci->fb.w, 3840);
  EXPECT_EQ(ci->fb.h, 2160);
  int32_t lw = 0, lh = 0;
  tarvelon_pixels_to_logical(ci, ci->fb.w, ci->fb.h, &lw, &lh);
  EXPECT_EQ(lw, 1920);
  EXPECT_EQ(lh, 1080);
}

TEST(UiScale, APressAtTheScaledPointSelectsItAndTheGrabRadiusScales) {
  for (double s : {1.0, 2.0}) {
    scaled_editor e(s);
    inst_t *ci = e.t.ci;
    const eq_t c = ci->equ[2];  // band C
    ASSERT_TRUE(c.on);
    ci->selband = 0;
    tarvelon_on_mouse_down(ci, int32_t(std::lround(c.x)), int32_t(std::lround(c.y)), 1);
    EXPECT_EQ(ci->grabbed, 1) << s;
    EXPECT_EQ(ci->grabbed_id, 2) << s;
    EXPECT_EQ(ci->grabbed_type, 0) << s;
    EXPECT_EQ(ci->selband, 2) << s;
    tarvelon_on_mouse_up(ci);
    // 6 logical pixels away grabs (the radius is 7 logical pixels), 8 does not.
    const int32_t near = int32_t(std::lround(c.x + 6.0 * s)), far = int32_t(std::lround(c.x + 8.0 * s));
    tarvelon_on_mouse_down(ci, near, int32_t(std::lround(c.y)), 1);
    EXPECT_EQ(ci->grabbed, 1) << s;
    tarvelon_on_mouse_up(ci);
    tarvelon_on_mouse_down(ci, far, int32_t(std::lround(c.y)), 1);
    EXPECT_EQ(ci->grabbed, 0) << s;
    tarvelon_on_mouse_up(ci);
  }
}

TEST(UiScale, BandPointsAndTheCurveAreDrawnTwiceAsLarge) {
  // The yellow disc of a band point: its area grows with s², its row span with s.
  auto disc = [](const scaled_editor &e, int band, int *span) {
    const inst_t *ci = e.t.ci;
    const eq_t &b = ci->equ[band];
    const int r = int(20 * tarvelon_ui_scale(ci));
    int count = 0, top = 1 << 30, bottom = -1;
    for (int y = int(b.y) - r; y <= int(b.y) + r; y++)
      for (int x = int(b.x) - r; x <= int(b.x) + r; x++) {
        const lrgb_t p = e.composite(x, y);
        if (p.r > 16000 && p.g > 12000 && p.b < 4000) {  // the point's yellow
          count++;
          top = std::min(top, y), bottom = std::max(bottom, y);
        }
      }
    *span = bottom - top + 1;
    return count;
  };
  scaled_editor one(1.0), two(2.0);
  int span1 = 0, span2 = 0;
  const int a1 = disc(one, 3, &span1), a2 = disc(two, 3, &span2);  // band D: not selected, no rings
  ASSERT_GT(a1, 20);
  EXPECT_NEAR(double(a2) / a1, 4.0, 1.0);
  EXPECT_NEAR(double(span2) / span1, 2.0, 0.35);
}

TEST(UiScale, TextIsDrawnFromSheetsForItsSizeNotMagnified) {
  tarvelon_load_graphics_resources(nullptr);
  const tarvelon_graphics_t &g = tarvelon_graphics();
  for (double s : {1.25, 1.5, 2.0, 3.0, 4.0}) {
    const tarvelon_font_set_t f = tarvelon_fonts_for_scale(s);
    ASSERT_TRUE(f.font12 && f.font15 && f.fbold12 && f.fbold15) << s;
    EXPECT_DOUBLE_EQ(f.font12->size, 12.0 * s);
    EXPECT_DOUBLE_EQ(f.fbold15->size, 15.0 * s);
    EXPECT_NE(f.font12->data, g.font12->data) << "a sheet prefiltered for " << 12 * s << " px, at " << s;
    const tarvelon_font_set_t again = tarvelon_fonts_for_scale(s);
    EXPECT_EQ(again.font12, f.font12) << "made once per scale";
  }
  EXPECT_EQ(tarvelon_fonts_for_scale(1.0).font12, g.font12);
  EXPECT_EQ(tarvelon_sheet_size_for(12.0), 12);
  EXPECT_EQ(tarvelon_sheet_size_for(24.0), 24);
  EXPECT_EQ(tarvelon_sheet_size_for(60.0), 45);

  // At 2× a label is twice as tall and at least as crisp as at 1×; the 1×
  // sheet magnified to the same size is visibly softer.
  const ink one = measure_text(g.fbold12, "Frequency");
  const ink two = measure_text(tarvelon_fonts_for_scale(2.0).fbold12, "Frequency");
  font_t *magnified = make_font_view(g.fbold12, 24.0);
  const ink soft = measure_text(magnified, "Frequency");
  free_font(magnified);
  EXPECT_NEAR(double(two.rows) / one.rows, 2.0, 0.25) << one.rows << " and " << two.rows << " rows";
  EXPECT_GE(two.solid, one.solid) << two.solid << " " << one.solid << " " << soft.solid;
  EXPECT_GT(two.solid, soft.solid + 0.1) << "sharp " << two.solid << ", magnified " << soft.solid;
}

TEST(UiScale, ArtworkDrawnAtRunTimeIsTheEmbeddedArtworkAtTheScale) {
  tarvelon_load_graphics_resources(nullptr);
  const tarvelon_graphics_t &g = tarvelon_graphics();
  ASSERT_TRUE(g.bknob && g.bknob->l && g.light && g.light->l && g.shade && g.shade->l);
  // The embedded images went through 8 or 16 bits of sRGB: compare in that light.
  auto close = [](uint16_t a, uint16_t b) { return std::abs(int(a) - int(b)) <= 40 + (std::max(a, b) >> 6); };
  auto draw_knob = [](double s, int frame) {
    const int n = tarvelon_knob_art_size(s);
    std::vector<lrgb_t> px(size_t(n) * size_t(n), lrgb_t{0, 0, 0, 32768});
    raster_t r{px.data(), n, n, px.size(), nullptr};
    framebuffer_t fb{};
    sync_one_framebuffer(&fb, &r);
    vl_target_scope scope(&fb);
    tarvelon_draw_knob_art(-135.0 + 270.0 * frame / 191, s);
    return px;
  };
  for (int frame : {0, 77, 191}) {
    const std::vector<lrgb_t> one = draw_knob(1.0, frame);
    const lrgb_t *embedded = g.bknob->l + size_t(frame) * 3600;
    int bad = 0;
    for (size_t i = 0; i < one.size(); i++) bad += !close(one[i].r, embedded[i].r) || !close(one[i].g, embedded[i].g);
    EXPECT_EQ(bad, 0) << "frame " << frame;
    // At 2× each 2×2 block averages to about the 1× pixel: the same knob, finer.
    const std::vector<lrgb_t> two = draw_knob(2.0, frame);
    double err = 0.0;
    for (int y = 0; y < 60; y++)
      for (int x = 0; x < 60; x++) {
        double sum = 0.0;
        for (int k = 0; k < 4; k++) sum += two[size_t(2 * y + k / 2) * 120 + size_t(2 * x + k % 2)].g;
        err += std::fabs(sum / 4.0 - one[size_t(y) * 60 + size_t(x)].g);
      }
    EXPECT_LT(err / 3600.0, 400.0) << "mean difference per pixel, frame " << frame;
  }
  int bad = 0;
  for (int y = 0; y < 60; y++)
    for (int x = 0; x < 60; x++) {
      double c[4];
      tarvelon_light_art(x, y, 1.0, c);
      const lrgb_t e = g.light->l[size_t(y) * 60 + size_t(x)];
      bad += !close(uint16_t(std::lround(c[1] * 32768)), e.g);
    }
  EXPECT_EQ(bad, 0) << "clip light";
  bad = 0;
  for (int y = 0; y < 240; y += 3)
    for (int x = 0; x < 240; x += 3)
      bad += !close(uint16_t(std::lround(tarvelon_shadow_art(x, y, 1.0) * 32768)), g.shade->l[size_t(y) * 240 + size_t(x)].r);
  EXPECT_EQ(bad, 0) << "knob shadow";
  EXPECT_EQ(tarvelon_knob_art_size(2.0), 120);
  EXPECT_EQ(tarvelon_shadow_art_size(1.5), 360);
}

TEST(UiScale, ScaledArtworkExistsOnlyWhileAnEditorIsOpen) {
  test_instance t;
  inst_t *ci = t.ci;
  tarvelon_set_ui_scale(ci, 2.0);
  EXPECT_EQ(tarvelon_scaled_art(ci), nullptr) << "no editor, no artwork";
  tarvelon_editor_storage_acquire(ci);
  tarvelon_scaled_art_t *a = tarvelon_scaled_art(ci);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->light.w, 120);
  EXPECT_EQ(a->shade.w, 480);
  EXPECT_GT(a->logo.w, 300) << "the logo rendered for 2×";
  const lrgb_t *k = tarvelon_scaled_knob_frame(ci, 4, 10);
  ASSERT_NE(k, nullptr);
  EXPECT_EQ(tarvelon_scaled_knob_frame(ci, 4, 10), k) << "a slot's frame is kept until its value moves";
  EXPECT_EQ(tarvelon_scaled_knob_frame(ci, 16, 10), nullptr);
  EXPECT_EQ(tarvelon_scaled_knob_frame(ci, 4, 192), nullptr);
  tarvelon_editor_storage_release(ci);
  EXPECT_EQ(ci->scaled_art, nullptr) << "released with the editor's rasters";
  tarvelon_set_ui_scale(ci, 1.0);
  tarvelon_editor_storage_acquire(ci);
  EXPECT_EQ(tarvelon_scaled_art(ci), nullptr) << "at 1× the embedded images serve";
  tarvelon_editor_storage_release(ci);
}

TEST(UiScale, AScaleChangeWhileOpenLaysTheEditorOutAgain) {
  scaled_editor e(1.0);
  inst_t *ci = e.t.ci;
  const int32_t gx1 = ci->cpos[3].gx;
  tarvelon_set_ui_scale(ci, 2.0);
  ASSERT_EQ(tarvelon_resize_editor(ci, 2120, 1132), 1);
  e.pixels.assign(size_t(2120) * 1132, srgb_t{});
  ci->composite.srgb = e.pixels.data();
  sync_vantalib_framebuffers(ci);
  e.frame();
  EXPECT_EQ(ci->cpos[3].gx, 2 * gx1);
  EXPECT_DOUBLE_EQ(ci->knob_txt->font->size, 24.0);
  EXPECT_DOUBLE_EQ(ci->debug_txt->x, 400.0);
  // Back at 1× the frame is the 1× frame again.
  tarvelon_set_ui_scale(ci, 1.0);
  ASSERT_EQ(tarvelon_resize_editor(ci, 1060, 566), 1);
  EXPECT_EQ(ci->cpos[3].gx, gx1);
  EXPECT_DOUBLE_EQ(ci->knob_txt->font->size, 12.0);
  EXPECT_EQ(ci->scaled_art, nullptr);
}
