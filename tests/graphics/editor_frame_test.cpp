// The editor frame on a core instance without a window: layout facts, what
// the painted pixels must show, caching, and the readouts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <tuple>
#include <vector>

#include "audio/engine.h"
#include "dsp/scales.h"
#include "graphics/curve_grid.h"
#include "graphics/frame.h"
#include "graphics/knobs.h"
#include "graphics/layout.h"
#include "graphics/picture.h"
#include "graphics/spectrum.h"
#include "graphics/text.h"
#include "state/params.h"
#include "support/test_instance.h"
#include "vl_gui_context.h"

namespace {
// An instance whose editor storage is in use, with a presented-pixel plane.
struct editor {
  test_instance t;
  std::vector<srgb_t> pixels;
  explicit editor(int w = 1060, int h = 566, double scale = 1.0) {
    if (scale != 1.0) tarvelon_set_ui_scale(t.ci, scale);
    tarvelon_editor_storage_acquire(t.ci);
    if (t.ci->fb.w != w || t.ci->fb.h != h) tarvelon_resize_editor(t.ci, w, h);
    install();
  }
  ~editor() {
    t.ci->composite.srgb = nullptr;
    sync_vantalib_framebuffers(t.ci);
    tarvelon_editor_storage_release(t.ci);
  }
  void install() {
    pixels.assign(size_t(t.ci->fb.w) * size_t(t.ci->fb.h), srgb_t{});
    t.ci->composite.srgb = pixels.data();
    sync_vantalib_framebuffers(t.ci);
  }
  void frame() { tarvelon_draw_frame(t.ci); }
  // The picture (fill, grid, overlays) as the last frame prepared it, painted
  // whole into a window-sized raster of the test's own.
  std::vector<lrgb_t> pic;
  framebuffer_t target(std::vector<lrgb_t> &into) const {
    into.assign(size_t(t.ci->fb.w) * size_t(t.ci->fb.h), lrgb_t{0, 0, 0, 0});
    framebuffer_t f{};
    f.r = raster_t{into.data(), t.ci->fb.w, t.ci->fb.h, into.size(), nullptr};
    f.w = t.ci->fb.w, f.h = t.ci->fb.h, f.pixel_scale = 1.0;
    return f;
  }
  void paint() {
    framebuffer_t f = target(pic);
    tarvelon_paint_picture(t.ci, &f, recti_t{{0, 0}, {t.ci->fb.w, t.ci->fb.h}});
  }
  // The same after preparing the picture again from the tables as they are,
  // the fill and grid alone (no overlays).
  void paint_fill() {
    tarvelon_band_view_t view;
    tarvelon_take_band_view(t.ci, &view);
    vl_gui_context_t *prev = tarvelon_bind_vantalib_gui_runtime(t.ci);
    tarvelon_prepare_picture(t.ci, &view);
    tarvelon_restore_vantalib_gui_runtime(prev);
    t.ci->picture->overlays.clear();
    paint();
  }
  lrgb_t fb(int x, int y) const { return pic[size_t(y) * size_t(t.ci->fb.w) + size_t(x)]; }
  void process(double level_l, double level_r, int blocks) {
    std::vector<double> l(64), r(64), ol(64), orr(64);
    double *in[2] = {l.data(), r.data()}, *out[2] = {ol.data(), orr.data()};
    uint32_t seed = 1;
    for (int b = 0; b < blocks; b++) {
      for (int i = 0; i < 64; i++) {
        seed = seed * 1664525u + 1013904223u;
        const double n = (double(seed >> 8) / 16777216.0) - 0.5;
        l[size_t(i)] = level_l * n, r[size_t(i)] = level_r * n;
      }
      tarvelon_process_audio_runtime_owned(t.ci, in, out, 64);
    }
  }
};

bool same(lrgb_t a, lrgb_t b) { return a.r == b.r && a.g == b.g && a.b == b.b; }
}  // namespace

TEST(Layout, DefaultSizeFacts) {
  test_instance t;
  inst_t *ci = t.ci;
  ASSERT_EQ(layout_pos(ci, 1060, 566, 0), 1);
  EXPECT_EQ(ci->kVW, 814);
  EXPECT_EQ(ci->kVH, 502);
  EXPECT_EQ(ci->vx, 32);
  EXPECT_EQ(ci->vy, 32);
  EXPECT_EQ(ci->cpos[1].gx, 886);
  EXPECT_EQ(ci->cpos[2].gx, 954);
  EXPECT_EQ(ci->cpos[3].gx, 1022);
  EXPECT_EQ(ci->cpos[12].gy, 286);
  EXPECT_EQ(ci->cpos[4].gy, 486);
  EXPECT_EQ(ci->cpos[0].type, 0);
  EXPECT_LT(ci->cpos[14].gx, -10000) << "zoom knobs live outside the window";
  rect_t gap;
  ASSERT_EQ(tarvelon_get_sidebar_gap_rect(ci, &gap), 1);
  EXPECT_DOUBLE_EQ(gap.p0.x, 853.25);
  EXPECT_DOUBLE_EQ(gap.p0.y, 334.75);
  EXPECT_DOUBLE_EQ(gap.p1.x, 1053.75);
  EXPECT_DOUBLE_EQ(gap.p1.y, 430.25);
}

TEST(Layout, LimitsGapAndSizeFlag) {
  test_instance t;
  inst_t *ci = t.ci;
  ASSERT_EQ(layout_pos(ci, 5000, 3000, 0), 1);
  EXPECT_EQ(ci->fb.w, 3840);
  EXPECT_EQ(ci->fb.h, 2160);
  ASSERT_EQ(layout_pos(ci, 900, 521, 0), 1);
  rect_t gap{};
  EXPECT_EQ(tarvelon_get_sidebar_gap_rect(ci, &gap), 0);
  EXPECT_EQ(tarvelon_get_sidebar_gap_rect(ci, nullptr), 0);
  ci->fb_size_changed = 0;
  ASSERT_EQ(layout_pos(ci, 900, 521, 0), 1);
  EXPECT_EQ(ci->fb_size_changed, 0) << "the same size twice is no change";
  const int32_t w = ci->kVW;
  EXPECT_EQ(layout_pos(ci, 200, 566, 0), 0) << "too narrow for a visualisation area";
  EXPECT_EQ(ci->kVW, w) << "a refused layout changes nothing";
}

TEST(Editor, RastersExistOnlyWhileAnEditorUsesThem) {
  test_instance t;
  EXPECT_EQ(t.ci->fb.l, nullptr);
  EXPECT_EQ(t.ci->grids_lut, nullptr);
  EXPECT_EQ(t.ci->fb.w, 1060) << "the layout is known from creation on";
  // The frame drawn after the storage was freed and made again is the same.
  auto draw_once = [](test_instance &ti) {
    tarvelon_editor_storage_acquire(ti.ci);
    std::vector<srgb_t> px(size_t(1060) * 566);
    ti.ci->composite.srgb = px.data();
    sync_vantalib_framebuffers(ti.ci);
    ti.ci->time0 = 0.0;  // a first frame: fixed 40 ms step, so the animation phase is the same
    tarvelon_draw_frame(ti.ci);
    ti.ci->composite.srgb = nullptr;
    sync_vantalib_framebuffers(ti.ci);
    tarvelon_editor_storage_release(ti.ci);
    return px;
  };
  test_instance b;
  const std::vector<srgb_t> pa = draw_once(b);
  b.ci->dash_offset = 0.0, b.ci->selrings_offset = 0.0, b.ci->mouseout_time = 1e-7;
  b.ci->time_since_proc = 0.0, b.ci->time_since_start = 0.0;
  const std::vector<srgb_t> pb = draw_once(b);
  EXPECT_EQ(b.ci->fb.l, nullptr);
  EXPECT_EQ(std::memcmp(pa.data(), pb.data(), pa.size() * sizeof(srgb_t)), 0);
}

TEST(Frame, NothingChangedRecomputesNoTable) {
  editor e;
  e.frame();
  e.frame();
  const int64_t before = e.t.ci->table_recomputations;
  e.frame();
  e.frame();
  EXPECT_EQ(e.t.ci->table_recomputations.load(), before);
  e.t.set_param(TV_PARAM_VERT_RANGE, 24.0);
  e.frame();
  EXPECT_GT(e.t.ci->table_recomputations.load(), before) << "a new vertical range rebuilds rows and grid";
}

TEST(Spectrum, OutputEqualsInputWhereTheFilterIsFlatAndTheCurveRowTakesOutput) {
  for (int scheme : {0, 1, 2}) {
    editor e;
    inst_t *ci = e.t.ci;
    e.process(0.5, 0.2, 200);
    e.frame();
    ci->colscheme = scheme;
    const int32_t row = 200;
    for (int32_t x = 0; x < ci->kVW; x++) {
      ci->fft_mag_lut[x] = x < ci->kVW / 2 ? 1.0 : 3.0;
      ci->spline_lut_int[x] = row;
    }
    ci->mouseout_time = 3.0;  // no grid
    e.paint_fill();
    const int x_flat = ci->vx + 100, x_boost = ci->vx + ci->kVW - 100;
    EXPECT_TRUE(same(e.fb(x_flat, ci->vy + row - 50), e.fb(x_flat, ci->vy + row + 50))) << scheme;
    EXPECT_FALSE(same(e.fb(x_boost, ci->vy + row - 50), e.fb(x_boost, ci->vy + row + 50))) << scheme;
    EXPECT_TRUE(same(e.fb(x_boost, ci->vy + row), e.fb(x_boost, ci->vy + row - 50))) << "on the curve: output";
    EXPECT_TRUE(same(e.fb(x_boost, ci->vy + row + 1), e.fb(x_boost, ci->vy + row + 50)));
  }
}

TEST(Spectrum, SilenceAndBadLevelsAreBlack) {
  const lrgb_t *pan = tarvelon_pan_colours();
  lrgb_t c{1, 1, 1, 1};
  calc_colour_pan(0.0, &c, pan[calc_pan(0.0, 0.0)], 1.3);
  EXPECT_TRUE(same(c, lrgb_t{0, 0, 0, 0}));
  EXPECT_EQ(calc_pan(NAN, 1.0), 4096);
  EXPECT_EQ(calc_pan(1.0, INFINITY), 2048 * 0 + 0) << "an infinite level reads as silence";
  EXPECT_EQ(calc_pan(-1.0, -2.0), 0);
  EXPECT_EQ(calc_pan(1.0, 1.0), 2048);
  for (double bad : {double(NAN), -double(INFINITY), 1e300}) {
    calc_colour(bad, &c, 1, 1, 1, 0, 1.0);
    EXPECT_LE(c.r, 32768);
    calc_colour_pan(bad, &c, pan[4096], 2.0);
    EXPECT_LE(c.b, 32768);
  }
  calc_colour(NAN, &c, 1, 1, 1, 0, 1.0);
  EXPECT_TRUE(same(c, lrgb_t{0, 0, 0, 0}));
}

TEST(Spectrum, PanColoursRunFromMagentaThroughYellowToBlue) {
  const lrgb_t *pan = tarvelon_pan_colours();
  EXPECT_GT(pan[0].r, pan[0].g);  // hue -68.8: magenta-violet
  EXPECT_GT(pan[0].b, pan[0].g);
  EXPECT_NEAR(pan[2048].r, pan[2048].g, pan[2048].r * 0.05);  // hue 60: yellow
  EXPECT_LT(pan[2048].b, pan[2048].r / 10);
  EXPECT_GT(pan[4096].b, pan[4096].r);  // hue 215: blue
  for (int i = 1; i < kPanColours; i++)  // a smooth table: no jumps between neighbours
    EXPECT_LT(std::abs(int(pan[i].r) - int(pan[i - 1].r)) + std::abs(int(pan[i].b) - int(pan[i - 1].b)), 600) << i;
  EXPECT_NEAR(find_bezier_point(1.0 / 3, 2.0 / 3, 0.3), 0.3, 1e-9);
  EXPECT_NEAR(find_bezier_point(0.1, 0.9, 0.5), 0.5, 1e-9);
}

TEST(Frame, StereoSchemeGoesBlackWhenAudioStopsAndColourGainZeroPaintsNothing) {
  editor e;
  inst_t *ci = e.t.ci;
  e.t.set_param(TV_PARAM_COLOUR, 2);
  e.process(0.5, 0.5, 300);
  e.frame();
  const int x = ci->vx + ci->kVW / 3, y = ci->vy + ci->kVH - 20;
  e.paint();
  EXPECT_GT(int(e.fb(x, y).r) + e.fb(x, y).g + e.fb(x, y).b, 0) << "noise paints the spectrum";
  ci->time_since_proc = 0.5;
  ci->mouseout_time = 3.0;  // no grid over the spectrum
  e.frame();
  EXPECT_EQ(ci->time_since_proc.load(), 1000.0);
  e.frame();
  e.paint();
  EXPECT_TRUE(same(e.fb(x, y), lrgb_t{0, 0, 0, 0})) << "stereo silence is black";

  // Colour Gain 0 paints no spectrum: the picture is black under the curve,
  // and nothing of earlier frames stays or builds up frame over frame.
  e.process(0.5, 0.5, 300);
  e.t.set_param(TV_PARAM_COLOUR_GAIN, 0.0);
  e.frame();
  const int32_t cx = ci->vx + ci->kVW / 2, cy = ci->vy + int32_t(std::lround(ci->spline_lut[2][ci->kVW / 2]));
  const srgb_t near_curve = e.pixels[size_t(cy + 3) * size_t(ci->fb.w) + size_t(cx)];
  for (int i = 0; i < 5; i++) e.frame();
  const srgb_t black = e.pixels[size_t(y) * size_t(ci->fb.w) + size_t(x)];
  EXPECT_EQ(int(black.r) + black.g + black.b, 0) << "no spectrum with Colour Gain 0";
  const srgb_t later = e.pixels[size_t(cy + 3) * size_t(ci->fb.w) + size_t(cx)];
  EXPECT_EQ(std::memcmp(&near_curve, &later, 4), 0) << "the curve's glow does not build up";
}

// The kept coverage stores the common row once and only the rows that differ
// from it; every row must still read what the grid layer has there.
TEST(Grid, KeptCoverageReadsTheDrawnLayerOnEveryRow) {
  for (double zoom : {1.0, 6.0}) {
    editor e;
    inst_t *ci = e.t.ci;
    e.t.set_param(TV_PARAM_VERT_RANGE, zoom);
    e.frame();
    std::vector<lrgb_t> layer(size_t(ci->kVW) * size_t(ci->kVH), lrgb_t{0, 0, 0, 0});
    framebuffer_t fb{};
    fb.r = raster_t{layer.data(), ci->kVW, ci->kVH, layer.size(), nullptr};
    fb.w = fb.maxdim_x = fb.realdim_x = ci->kVW;
    fb.h = fb.maxdim_y = fb.realdim_y = ci->kVH;
    fb.pixel_scale = 1.0;
    {
      vl_target_scope scope(&fb);
      draw_freq_grid(ci);
      draw_db_grid(ci);
    }
    int32_t differing = 0;
    for (int32_t y = 0; y < ci->kVH; y++) {
      const uint16_t *row = tarvelon_grid_alpha_row(ci, y);
      ASSERT_NE(row, nullptr);
      differing += ci->grid_alpha_rows[y] != 0;
      for (int32_t x = 0; x < ci->kVW; x++)
        ASSERT_EQ(row[x], layer[size_t(y) * size_t(ci->kVW) + size_t(x)].g) << "row " << y << " column " << x;
    }
    EXPECT_GT(differing, 0) << "level lines differ from the common row";
    EXPECT_LT(differing, ci->kVH / 2) << "most rows share the common row";
  }
  editor none;
  EXPECT_EQ(tarvelon_grid_alpha_row(none.t.ci, -1), nullptr);
  EXPECT_EQ(tarvelon_grid_alpha_row(none.t.ci, none.t.ci->kVH), nullptr);
  EXPECT_EQ(tarvelon_grid_alpha_row(nullptr, 0), nullptr);
}

TEST(Grid, FadesWithMouseoutTime) {
  editor e;
  inst_t *ci = e.t.ci;
  e.frame();
  size_t gi = 0;
  EXPECT_EQ(ci->grids_lut, nullptr) << "only the grid's coverage is kept";
  ASSERT_NE(tarvelon_grid_alpha_row(ci, 0), nullptr);
  auto alpha = [&](size_t i) { return tarvelon_grid_alpha_row(ci, int32_t(i / size_t(ci->kVW)))[i % size_t(ci->kVW)]; };
  while (gi < size_t(ci->kVW) * ci->kVH && alpha(gi) < 200) gi++;
  ASSERT_LT(gi, size_t(ci->kVW) * ci->kVH) << "the grid layer has lines";
  const int x = ci->vx + int(gi % size_t(ci->kVW)), y = ci->vy + int(gi / size_t(ci->kVW));
  const lrgb_t g{ci->grid_rgb.r, ci->grid_rgb.g, ci->grid_rgb.b, alpha(gi)};
  e.t.set_param(TV_PARAM_COLOUR_GAIN, 0.0);  // a black fill under the grid
  for (double t : {0.0, 0.4, 1.0}) {
    ci->mouseout_time = t;
    e.paint_fill();
    const int64_t q = (int64_t(g.a) * std::llround(std::exp(-4.0 * t * t) * 32768.0)) >> 15;
    EXPECT_EQ(e.fb(x, y).b, uint16_t((int64_t(g.b) * q) >> 15)) << t;
  }
  EXPECT_EQ(g.b, 32768) << "the grid colour at full blue";
}

TEST(Curve, NoDashesWhereTheResponseLiesOnTheCurve) {
  editor e;
  inst_t *ci = e.t.ci;
  e.frame();
  for (int32_t x = 0; x < ci->kVW; x++) {
    ci->fft_mag_lut[x] = 2.0;
    ci->spline_lut[2][x] = vol_to_pix(ci, 2.0, ci->kVH, 2);
  }
  std::vector<lrgb_t> drawn;
  framebuffer_t f = e.target(drawn);
  const std::vector<lrgb_t> before = drawn;
  vl_gui_context_t *prev = tarvelon_bind_vantalib_gui_runtime(ci);
  vl_current().fb = &f;
  draw_dashed_fft(ci, 0);
  EXPECT_EQ(std::memcmp(before.data(), drawn.data(), before.size() * sizeof(lrgb_t)), 0);
  for (int32_t x = 0; x < ci->kVW; x++) ci->spline_lut[2][x] = 10.0;  // the curve far above the response
  draw_dashed_fft(ci, 0);
  EXPECT_NE(std::memcmp(before.data(), drawn.data(), before.size() * sizeof(lrgb_t)), 0);
  vl_current().fb = nullptr;
  tarvelon_restore_vantalib_gui_runtime(prev);
}

TEST(Curve, BandPositionsGoOnlyToRealBands) {
  editor e;
  inst_t *ci = e.t.ci;
  e.frame();
  EXPECT_NEAR(ci->equ[0].x, pitch_to_pix(ci, ci->equ[0].pitch) + ci->vxf, 1e-6);
  tarvelon_band_view_t view{};
  view.count = 2;
  view.eqs[1].id = -1;  // never equ[-1]
  view.eqs[2].id = 7;   // nor beyond the four bands
  view.eqs[1].x = view.eqs[2].x = 12345.0;
  tarvelon_store_band_positions(ci, &view);
  for (int b = 0; b < 4; b++) EXPECT_NE(ci->equ[b].x, 12345.0);
}

TEST(Knobs, ValueTexts) {
  char s[64];
  auto text = [&](int slot, double v) {
    std::strcpy(s, "previous");
    tarvelon_knob_value_text(slot, v, s, sizeof s);
    return std::string(s);
  };
  EXPECT_EQ(text(1, 3.0), "3.0");
  EXPECT_EQ(text(1, -65.0), "-67.4");  // on the linear segment
  EXPECT_EQ(text(1, -70.0), "-INF");   // below the scale's floor
  EXPECT_EQ(text(1, tv::kFloorDb), "-INF");
  EXPECT_EQ(text(3, 100.0), "100");
  EXPECT_EQ(text(3, 99.9), "99.9");
  EXPECT_EQ(text(3, 99.95), "100");
  EXPECT_EQ(text(2, 1234.4), "1234");
  EXPECT_EQ(text(4, 0), "RGB");
  EXPECT_EQ(text(4, 1), "CMY");
  EXPECT_EQ(text(4, 2), "Stereo");
  EXPECT_EQ(text(7, 0.5), "0.50");
  EXPECT_EQ(text(7, 0.0), "0.0");
  EXPECT_EQ(text(7, 5.0), "5.0");
  EXPECT_EQ(tarvelon_knob_frame(1.0), 191);
  EXPECT_EQ(tarvelon_knob_frame(0.0), 0);
  EXPECT_EQ(tarvelon_knob_frame(1.7), 191);
  EXPECT_EQ(tarvelon_knob_frame(-0.2), 0);
  EXPECT_EQ(tarvelon_knob_frame(NAN), 0);
}

TEST(Knobs, DragReadoutAndClipLight) {
  editor e;
  inst_t *ci = e.t.ci;
  ci->grabbed_id = 0;
  ci->grabbed_type = 0;
  ci->equ[0].freq = 1000.0;
  ci->equ[0].db = 3.0;
  print_control_info(ci);
  EXPECT_STREQ(ci->debug_txt->text, "Band A : freq: 1000 Hz - gain: +3.00 dB");
  ci->grabbed_type = 1;
  ci->equ[0].freq = 55.25;
  ci->equ[0].slope = -3.0;
  print_control_info(ci);
  EXPECT_STREQ(ci->debug_txt->text, "Band A, top handle : freq: 55.2 Hz - slope: -3.0 dB/octave");
  ci->grabbed_type = 9;
  print_control_info(ci);
  EXPECT_STREQ(ci->debug_txt->text, "Band A, top handle : freq: 55.2 Hz - slope: -3.0 dB/octave");

  ci->max_sample = 3.0;
  e.frame();
  EXPECT_DOUBLE_EQ(ci->max_sample.load(), 0.9);
  e.frame();
  EXPECT_NEAR(ci->max_sample.load(), 0.81, 1e-12);
}

TEST(Frame, DelayCaptionAfterAudio) {
  editor e;
  e.process(0.1, 0.1, 4);
  e.t.ci->print_delay = 2;
  e.frame();
  EXPECT_STREQ(e.t.ci->debug_txt->text, "Delay: 19 ms (kernel: 12 ms, buffer: 7 ms)");
}

namespace {
std::vector<recti_t> dirty_of(const inst_t *ci) {
  std::vector<recti_t> r(64);
  r.resize(size_t(tarvelon_frame_dirty_rects(ci, r.data(), 64)));
  return r;
}
bool covers(const std::vector<recti_t> &rs, int x, int y) {
  for (const recti_t &r : rs)
    if (x >= r.p0.x && x < r.p1.x && y >= r.p0.y && y < r.p1.y) return true;
  return false;
}
}  // namespace

// Frames redraw only what changed, and what they leave alone is still right:
// after every frame the presented pixels equal a whole redraw of the same
// state, through audio, a knob the host moves, the clip light, the caption
// and a band selection.
TEST(Frame, ChangedRectanglesAddUpToTheWholePicture) {
  for (auto [w, h, scale] : {std::tuple{1060, 566, 1.0}, std::tuple{780, 566, 1.0}, std::tuple{2120, 1132, 2.0}}) {
    editor e(w, h, scale);
    inst_t *ci = e.t.ci;
    e.process(0.3, 0.2, 40);
    e.frame();
    ASSERT_EQ(dirty_of(ci).size(), 1u);
    EXPECT_EQ(dirty_of(ci)[0].p1.x - dirty_of(ci)[0].p0.x, w) << "the first frame is whole";
    const size_t n = e.pixels.size();
    for (int step = 0; step < 9; step++) {
      e.process(0.3, 0.1 * step, 10);
      if (step == 2) e.t.set_param(TV_PARAM_COLOUR_GAIN, 3.0);
      if (step == 3) ci->max_sample = 3.0;
      if (step == 5) ci->print_delay = 2;
      if (step == 6) ci->selband = 2;
      if (step == 7) e.t.set_param(TV_PARAM_LIMITER, -6.0);
      e.frame();
      const std::vector<recti_t> d = dirty_of(ci);
      ASSERT_FALSE(d.empty());
      EXPECT_FALSE(covers(d, w - 3, 2)) << "the panel's corner is never redrawn, step " << step;
      EXPECT_TRUE(covers(d, ci->vx + ci->kVW / 2, ci->vy + ci->kVH / 2)) << "the picture always is";
      if (step == 2) {
        EXPECT_TRUE(covers(d, ci->cpos[5].gx, ci->cpos[5].gy)) << "the moved knob";
        EXPECT_FALSE(covers(d, ci->cpos[8].gx, ci->cpos[8].gy)) << "not a knob that stayed";
      }
      if (step == 3 || step == 4) {
        EXPECT_TRUE(covers(d, ci->cpos[12].gx, ci->cpos[12].gy)) << "the light";
      }
      const std::vector<srgb_t> shown = e.pixels;
      tarvelon_redraw_whole_frame(ci);
      size_t bad = 0;
      for (size_t i = 0; i < n; i++) bad += std::memcmp(&shown[i], &e.pixels[i], 4) != 0;
      ASSERT_EQ(bad, 0u) << "pixels differ from a whole redraw at " << w << "x" << h << ", step " << step;
    }
  }
}

// A frame drawn in parts of a few strips, and frames begun while one is still
// pending, add up to the same pixels as frames drawn whole.
TEST(Frame, AFrameDrawnInPartsEndsAsAWholeOne) {
  editor e(2120, 1132, 2.0);
  inst_t *ci = e.t.ci;
  e.process(0.3, 0.2, 40);
  auto finish = [&] {
    int calls = 0;
    while (!tarvelon_continue_frame(ci, 150000)) calls++;
    return calls;
  };
  tarvelon_draw_frame_within(ci, 150000);
  EXPECT_TRUE(tarvelon_frame_pending(ci));
  EXPECT_GE(finish(), 10) << "2.4 million pixels in parts of about 150 thousand";
  const size_t n = e.pixels.size();
  for (int step = 0; step < 4; step++) {
    e.process(0.3, 0.1 * step, 10);
    if (step == 1) e.t.set_param(TV_PARAM_COLOUR_GAIN, 2.0);
    if (step == 2) ci->max_sample = 3.0;
    // A knob moved before a frame that is then left pending: only that frame
    // knows the knob's box needs drawing.
    if (step == 3) e.t.set_param(TV_PARAM_OVERALL_GAIN, 3.0);
    tarvelon_draw_frame_within(ci, 150000);
    if (step >= 2) {  // a new frame over a pending one: it draws what that one left
      tarvelon_continue_frame(ci, 150000);
      ASSERT_TRUE(tarvelon_frame_pending(ci));
      e.process(0.2, 0.2, 10);
      tarvelon_draw_frame_within(ci, 150000);
    }
    finish();
    EXPECT_FALSE(tarvelon_frame_pending(ci));
    const std::vector<srgb_t> shown = e.pixels;
    tarvelon_redraw_whole_frame(ci);
    size_t bad = 0;
    for (size_t i = 0; i < n; i++) bad += std::memcmp(&shown[i], &e.pixels[i], 4) != 0;
    ASSERT_EQ(bad, 0u) << "pixels differ from a whole redraw, step " << step;
  }
  // A new size while a frame is pending: the rest is dropped, the next frame is whole.
  tarvelon_draw_frame_within(ci, 150000);
  ASSERT_TRUE(tarvelon_frame_pending(ci));
  tarvelon_resize_editor(ci, 1060, 566);
  e.install();
  EXPECT_EQ(tarvelon_continue_frame(ci, 150000), 1);
  EXPECT_FALSE(tarvelon_frame_pending(ci));
  EXPECT_EQ(tarvelon_continue_frame(nullptr, 0), 1);
  EXPECT_EQ(tarvelon_frame_pending(nullptr), 0);
}

// An editor that only shows a moving spectrum converts only the picture area:
// pixels outside it are not written at all.
TEST(Frame, ASpectrumOnlyFrameWritesNothingOutsideThePicture) {
  editor e;
  inst_t *ci = e.t.ci;
  e.process(0.3, 0.3, 40);
  e.frame();
  e.frame();
  const recti_t v = ci->frame_visual;
  EXPECT_LE(v.p0.x, ci->vx);
  EXPECT_GE(v.p1.x, ci->vx + ci->kVW);
  EXPECT_LT(v.p1.x, ci->fb.w - 150) << "the knob panel is outside";
  for (srgb_t &p : e.pixels) p = srgb_t{7, 7, 7, 7};
  e.process(0.3, 0.1, 10);
  e.frame();
  size_t outside = 0, inside = 0;
  for (int y = 0; y < ci->fb.h; y++)
    for (int x = 0; x < ci->fb.w; x++) {
      const bool in = x >= v.p0.x && x < v.p1.x && y >= v.p0.y && y < v.p1.y;
      const srgb_t p = e.pixels[size_t(y) * size_t(ci->fb.w) + size_t(x)];
      const bool kept = p.r == 7 && p.g == 7 && p.b == 7 && p.a == 7;
      (in ? inside : outside) += kept;
    }
  EXPECT_EQ(outside, size_t(ci->fb.w) * size_t(ci->fb.h) - size_t(v.p1.x - v.p0.x) * size_t(v.p1.y - v.p0.y));
  EXPECT_EQ(inside, 0u);
}

// The picture painted in pieces (strips of any height, rectangles of any
// width, each raster placed where it lies in the window) is pixel for pixel
// the picture painted whole: fill, grid, band points, rings, the kept curve
// and the dashes all honour the piece they are drawn into.
TEST(Picture, PiecesAddUpToTheWholePicture) {
  for (double scale : {1.0, 2.0}) {
    editor e(int(1060 * scale), int(566 * scale), scale);
    inst_t *ci = e.t.ci;
    for (int b = 0; b < 4; b++) {
      e.t.set_param(TV_PARAM_BAND_ON + b, 1);
      e.t.set_param(TV_PARAM_BAND_GAIN + b, b % 2 ? -9.0 : 12.0);
      e.t.set_param(TV_PARAM_BAND_FREQ + b, 80.0 * std::pow(5.0, b));
    }
    e.process(0.4, 0.1, 60);
    ci->selband = 1, ci->hover = 1, ci->hover_id = 2, ci->hover_type = 1;
    ci->mouseout_time = 0.6;  // the grid half faded
    e.frame();
    e.frame();
    ASSERT_FALSE(ci->picture->overlays.empty());
    e.paint();
    const std::vector<lrgb_t> whole = e.pic;
    for (auto [rows, cols] : {std::pair{7, 100000}, std::pair{16, 333}, std::pair{1, 97}}) {
      std::vector<lrgb_t> pieces(whole.size(), lrgb_t{1, 2, 3, 4});
      std::vector<lrgb_t> buf;
      for (int y = 0; y < ci->fb.h; y += rows)
        for (int x = 0; x < ci->fb.w; x += cols) {
          const recti_t r{{x, y}, {std::min(ci->fb.w, x + cols), std::min(ci->fb.h, y + rows)}};
          buf.assign(size_t(r.p1.x - r.p0.x) * size_t(r.p1.y - r.p0.y), lrgb_t{9, 9, 9, 9});
          framebuffer_t f{};
          f.r = raster_t{buf.data(), r.p1.x - r.p0.x, r.p1.y - r.p0.y, buf.size(), nullptr};
          f.w = f.r.w, f.h = f.r.h, f.pixel_scale = 1.0, f.origin = r.p0;
          tarvelon_paint_picture(ci, &f, r);
          for (int yy = r.p0.y; yy < r.p1.y; yy++)
            std::copy_n(buf.data() + size_t(yy - r.p0.y) * size_t(f.r.w), f.r.w,
                        pieces.data() + size_t(yy) * size_t(ci->fb.w) + size_t(r.p0.x));
        }
      size_t bad = 0;
      for (size_t i = 0; i < whole.size(); i++) bad += std::memcmp(&whole[i], &pieces[i], sizeof(lrgb_t)) != 0;
      EXPECT_EQ(bad, 0u) << scale << "x, pieces of " << rows << " rows by " << cols << " columns";
    }
  }
}
