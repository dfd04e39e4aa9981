// Editor layout: the visualisation area on the left, knob frames on the right.
#include "graphics/layout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "graphics/artwork.h"
#include "graphics/resources.h"
#include "graphics/text.h"
#include "system/alloc.h"
#include "system/instance.h"
#include "vl_colour.h"
#include "vl_draw.h"
#include "vl_gui_context.h"

namespace {
const tarvelon_slot_info_t kSlots[kTarvelonControlCount] = {
    {"", nullptr, 0},
    {"Gain", "Band parameters", 3},
    {"Frequency", nullptr, 0},
    {"Slope", nullptr, 0},
    {"Colour", "Visualisation", 3},
    {"Colour Gain", nullptr, 0},
    {"Gamma", nullptr, 0},
    {"Transpose", "Curve effects", 3},
    {"Overall Gain", nullptr, 0},
    {"Gain Scale", nullptr, 0},
    {"Resolution", "Precision/Delay/CPU", 2},
    {"Delay", nullptr, 0},
    {"Limiter", "Output", 1},
    {"dB Range", nullptr, 0},
    {"Hor. Zoom", nullptr, 0},
    {"Hor. Position", nullptr, 0},
};

// A frame's outer box relative to its first knob centre (space 68 × 100),
// in logical pixels.
constexpr double kFrameLeft = 32.75, kFrameTop = 51.75, kFrameHeight = 96.5;
double frame_width(int32_t cells) { return 64.5 + 68.0 * (cells - 1); }

// A logical length in whole window pixels.
int32_t px(double logical, double s) { return int32_t(std::lround(logical * s)); }

void draw_text_once(raster_t *target, font_t *font, double x, double y, int32_t mode, const char *s, lrgb_t colour,
                    double intensity) {
  char buf[kTextCapacity];
  std::snprintf(buf, sizeof buf, "%s", s);
  text_t t{font, x, y, buf, buf, mode, x, y, 0};
  blit_text(&t, target, colour, intensity);
}

void place(ctrl_pos_t &c, int32_t gx, int32_t gy) {
  c = ctrl_pos_t{};
  c.gx = gx;
  c.gy = gy;
  c.type = 1;
}

void compute_gap(inst_t *ci, int32_t h, double s) {
  ci->sidebar_gap_rect = rect_t{};
  if (h <= 521 * s || !ci->cpos) return;
  const ctrl_pos_t &a = ci->cpos[4], &b = ci->cpos[12];
  const double ax0 = a.gx - kFrameLeft * s, ay0 = a.gy - kFrameTop * s, ax1 = ax0 + frame_width(3) * s;
  const double by1 = b.gy - kFrameTop * s + kFrameHeight * s;
  rect_t gap{{ax0, by1 + 4.0 * s}, {ax1, ay0 - 4.0 * s}};
  if (gap.p1.x > gap.p0.x && gap.p1.y > gap.p0.y) ci->sidebar_gap_rect = gap;
}
}  // namespace

double tarvelon_ui_scale(const inst_t *ci) noexcept {
  const double s = ci ? ci->ui_scale : 1.0;
  return (s >= kUiScaleMin && s <= kUiScaleMax) ? s : 1.0;
}

int32_t tarvelon_set_ui_scale(inst_t *ci, double s) noexcept {
  if (!ci) return 0;
  if (!(s > 0.0) || !std::isfinite(s)) s = 1.0;
  // The logical minimum must fit the pixel maximum.
  const double top = std::min(kUiScaleMax, double(kEditorMaxHeight) / kEditorMinHeight);
  s = std::clamp(s, kUiScaleMin, top);
  const double old = tarvelon_ui_scale(ci);
  ci->ui_scale = s;
  return s != old;
}

void tarvelon_editor_pixel_limits(const inst_t *ci, int32_t *min_w, int32_t *min_h, int32_t *max_w,
                                  int32_t *max_h) noexcept {
  const double s = tarvelon_ui_scale(ci);
  if (min_w) *min_w = std::min(int32_t(std::ceil(kEditorMinWidth * s)), kEditorMaxWidth);
  if (min_h) *min_h = std::min(int32_t(std::ceil(kEditorMinHeight * s)), kEditorMaxHeight);
  if (max_w) *max_w = kEditorMaxWidth;
  if (max_h) *max_h = kEditorMaxHeight;
}

void tarvelon_logical_to_pixels(const inst_t *ci, int32_t lw, int32_t lh, int32_t *pw, int32_t *ph) noexcept {
  const double s = tarvelon_ui_scale(ci);
  int32_t lo_w = 0, lo_h = 0, hi_w = 0, hi_h = 0;
  tarvelon_editor_pixel_limits(ci, &lo_w, &lo_h, &hi_w, &hi_h);
  if (pw) *pw = int32_t(std::clamp<double>(std::lround(double(lw) * s), lo_w, hi_w));
  if (ph) *ph = int32_t(std::clamp<double>(std::lround(double(lh) * s), lo_h, hi_h));
}

void tarvelon_pixels_to_logical(const inst_t *ci, int32_t pw, int32_t ph, int32_t *lw, int32_t *lh) noexcept {
  const double s = tarvelon_ui_scale(ci);
  if (lw) *lw = int32_t(std::lround(pw / s));
  if (lh) *lh = int32_t(std::lround(ph / s));
}

const tarvelon_slot_info_t &tarvelon_slot_info(int32_t slot) noexcept {
  return kSlots[(slot >= 0 && slot < kTarvelonControlCount) ? slot : 0];
}

int32_t layout_pos(inst_t *ci, int32_t w, int32_t h, int32_t layout_type) noexcept {
  (void)layout_type;  // the side panel on the right is the only layout
  if (!ci) return 0;
  vl_lock_guard draw(ci->draw_reinit_sem);
  vl_lock_guard proc(ci->proc_reinit_sem);
  const double s = tarvelon_ui_scale(ci);
  w = std::min(w, kEditorMaxWidth);
  h = std::min(h, kEditorMaxHeight);
  // Below these the visualisation area would have no interior; refuse rather
  // than lay out negative sizes.
  if (w < px(246, s) + 2 || h < px(64, s) + 2) return 0;
  if (ci->spline_lut && !tarvelon_resize_visual_width_storage(ci, w - px(246, s))) return 0;

  const bool changed = ci->fb.w != w || ci->fb.h != h;
  if (changed) ci->fb_size_changed = 1;
  for (raster_t *r : {&ci->fb, &ci->composite, &ci->layout, &ci->finallayout}) r->w = w, r->h = h;

  ci->vx = ci->vy = px(32, s);
  ci->kVW = w - px(246, s);
  ci->kVH = h - px(64, s);
  ci->vxf = ci->vyf = double(ci->vx);
  if (ci->cpos) {
    const int32_t X = int32_t(w - 170.0 * s - 4.0 * s);
    ctrl_pos_t *c = ci->cpos;
    const int32_t rows[3] = {px(86, s), px(186, s), px(286, s)};
    const int32_t top[3][3] = {{1, 2, 3}, {7, 8, 9}, {10, 11, 12}};
    for (int r = 0; r < 3; r++)
      for (int col = 0; col < 3; col++) place(c[top[r][col]], X + px(68.0 * col, s), rows[r]);
    place(c[4], X, h - px(80, s));
    place(c[5], X + px(68, s), h - px(80, s));
    place(c[13], X + px(136, s), h - px(80, s));
    // Present for the host's automation but outside the window.
    place(c[6], X + px(136, s) - 20000, h - 20080);
    place(c[14], X + px(68, s) - 20000, -19514);
    place(c[15], X + px(136, s) - 20000, -19514);
  }
  tarvelon_resize_framebuffer_storage(ci, changed ? 1 : 0);
  compute_gap(ci, h, s);
  return 1;
}

int32_t layout_pos_from_saved_gui_size(inst_t *ci) noexcept {
  if (!ci) return 0;
  const bool saved = ci->gui_width > 0 && ci->gui_height > 0;
  int32_t w = 0, h = 0;
  tarvelon_logical_to_pixels(ci, saved ? ci->gui_width : kEditorDefaultWidth,
                             saved ? ci->gui_height : kEditorDefaultHeight, &w, &h);
  return layout_pos(ci, w, h, 0);
}

void clear_visual_overlay_alpha(inst_t *ci, raster_t *overlay) noexcept {
  if (!ci || !overlay || !overlay->l || overlay->w <= 0 || overlay->h <= 0) return;
  const int32_t x0 = std::max(ci->vx, 0), x1 = std::min(ci->vx + ci->kVW, overlay->w);
  const int32_t y0 = std::max(ci->vy, 0), y1 = std::min(ci->vy + ci->kVH, overlay->h);
  for (int32_t y = y0; y < y1; y++) {
    lrgb_t *row = overlay->l + size_t(y) * size_t(overlay->w);
    for (int32_t x = x0; x < x1; x++) row[x].a = 0;
  }
}

void make_layout(inst_t *ci) noexcept {
  if (!ci || !ci->layout.l || ci->layout.w <= 0 || ci->layout.h <= 0) return;
  const tarvelon_graphics_t &g = tarvelon_graphics();
  const double s = tarvelon_ui_scale(ci);
  const tarvelon_font_set_t fonts = tarvelon_fonts_for_scale(s);
  const tarvelon_scaled_art_t *art = tarvelon_scaled_art(ci);
  const raster_t *logo = art ? &art->logo : g.logo, *shade = art ? &art->shade : g.shade;
  vl_target_scope scope(&ci->layout_ctx);
  raster_t &L = ci->layout;
  const lrgb_t c_frame = make_colour_lin(0.016, 0.016, 0.016, 1.0);
  const lrgb_t c_edge = make_colour_lin(0.141, 0.141, 0.108, 1.0);
  const lrgb_t c_glow = make_colour_lin(0.9, 0.9, 0.9, 1.0);
  const lrgb_t c_clear = make_colour_lin(0, 0, 0, 0);

  // A light glow centred up and left of the visualisation area's middle,
  // fading to a warm dark grey; the gaussian is separable, so one exp per row
  // and column.
  const double d = 1.4 * L.h;
  const double cx = ci->kVW / 2 + 0.5 + ci->vx - 0.05 * d, cy = ci->kVH / 2 + 0.5 + ci->vy - 0.15 * d;
  std::vector<double> gx(size_t(L.w)), gy(size_t(L.h));
  for (int x = 0; x < L.w; x++) gx[size_t(x)] = std::exp(-((x - cx) / d) * ((x - cx) / d));
  for (int y = 0; y < L.h; y++) gy[size_t(y)] = std::exp(-((y - cy) / d) * ((y - cy) / d));
  auto mix = [](uint16_t e, uint16_t l, double gv) { return uint16_t(e + int32_t((int32_t(l) - e) * gv)); };
  for (int y = 0; y < L.h; y++) {
    lrgb_t *row = L.l + size_t(y) * size_t(L.w);
    for (int x = 0; x < L.w; x++) {
      const double gv = gx[size_t(x)] * gy[size_t(y)];
      row[x] = lrgb_t{mix(c_edge.r, c_glow.r, gv), mix(c_edge.g, c_glow.g, gv), mix(c_edge.b, c_glow.b, gv),
                      mix(c_edge.a, c_glow.a, gv)};
    }
  }
  if (logo) blit_sprite(logo, xyi_t{px(25, s), px(1, s)}, blend_mul, 1, 1);

  // The hole the visualisation shows through, with a darkened thin border.
  const rect_t hole{{double(ci->vx), double(ci->vy)}, {double(ci->vx + ci->kVW), double(ci->vy + ci->kVH)}};
  draw_roundrect(hole, 3.0 * s, 0.8 * s, c_clear, blend_blendalphaonly, 1.0);
  const double b = 1.8 * s;
  const rect_t border{{hole.p0.x - b, hole.p0.y - b}, {hole.p1.x + b, hole.p1.y + b}};
  draw_roundrect(border, 3.0 * s, 0.8 * s, c_clear, blend_mul, 0.9);
  clear_visual_overlay_alpha(ci, &L);

  if (!ci->cpos) return;
  const int32_t n = std::min<int32_t>(ci->ctrlcount, kTarvelonControlCount);
  for (int32_t slot = 1; slot < n; slot++) {
    const ctrl_pos_t &c = ci->cpos[slot];
    if (c.type == 0) continue;
    const tarvelon_slot_info_t &info = kSlots[slot];
    if (info.frame_title) {
      draw_titled_roundrect_frame_scaled(xy_t{double(c.gx), double(c.gy)}, 0.8 * s, xyi_t{info.frame_cells, 1},
                                         xy_t{68 * s, 100 * s}, c_frame, blend_mul, s);
      if (fonts.font12)
        draw_text_once(&L, fonts.font12, c.gx - 30.0 * s, c.gy - 49.0 * s, TEXT_LEFT, info.frame_title, white, 1.0);
    }
    if (shade) blit_sprite(shade, xyi_t{c.gx, c.gy}, blend_mul, 0, 0);
    if (fonts.fbold12) draw_text_once(&L, fonts.fbold12, c.gx, c.gy + 30.0 * s, 0, info.label, black, 1.0);
  }
}

namespace {
// Copies the pixels of the label bands between the panel (W wide) and the
// band store, one way or the other.
void copy_label_bands(inst_t *ci, lrgb_t *panel, bool to_panel) {
  lrgb_t *band = ci->label_bands;
  const size_t W = size_t(ci->finallayout.w);
  for (const recti_t &r : ci->label_band)
    for (int32_t y = r.p0.y; y < r.p1.y; y++, band += r.p1.x - r.p0.x) {
      lrgb_t *row = panel + size_t(y) * W + size_t(r.p0.x);
      if (to_panel) std::copy(band, band + (r.p1.x - r.p0.x), row);
      else std::copy(row, row + (r.p1.x - r.p0.x), band);
    }
}

// Labels and ticks go left of the area (right-aligned level labels, level
// ticks reaching a little into it) and below it (frequency ticks from its
// last row down, frequency labels under them); nothing else changes when the
// view does. Keeps the unlabelled panel there; 0 without memory.
bool keep_label_bands(inst_t *ci) {
  gc_free(ci, ci->label_bands);
  ci->label_bands = nullptr;
  const int32_t W = ci->finallayout.w, H = ci->finallayout.h;
  const int32_t reach = int32_t(std::ceil(8.0 * tarvelon_ui_scale(ci)));
  ci->label_band[0] = recti_t{{0, 0}, {std::clamp(ci->vx + reach, 0, W), H}};
  ci->label_band[1] = recti_t{{0, std::clamp(ci->vy + ci->kVH - 1 - reach, 0, H)}, {W, H}};
  size_t n = 0;
  for (const recti_t &r : ci->label_band) n += size_t(r.p1.x - r.p0.x) * size_t(r.p1.y - r.p0.y);
  ci->label_bands = static_cast<lrgb_t *>(gc_calloc(ci, n ? n : 1, sizeof(lrgb_t)));
  if (!ci->label_bands) return false;
  copy_label_bands(ci, ci->layout.l, false);
  return true;
}
}  // namespace

void make_final_layout(inst_t *ci) noexcept {
  if (!ci || !ci->finallayout.l) return;
  if (ci->layout.l && ci->layout.as == ci->finallayout.as)
    std::copy(ci->layout.l, ci->layout.l + ci->layout.as, ci->finallayout.l);
  else if (ci->label_bands)
    copy_label_bands(ci, ci->finallayout.l, true);
  else
    return;
  clear_visual_overlay_alpha(ci, &ci->finallayout);
}

void tarvelon_paint_static_panel(inst_t *ci) noexcept {
  if (!ci) return;
  // The panel is painted whole into a layer of its own, then only its label
  // bands are kept (labels change with the view; the rest never does).
  if (ci->finallayout.l)
    tarvelon_resize_lrgb_raster(ci, &ci->layout, size_t(ci->finallayout.w) * size_t(ci->finallayout.h), 1);
  sync_vantalib_framebuffers(ci);
  make_layout(ci);
  const double s = tarvelon_ui_scale(ci);
  font_t *f = tarvelon_fonts_for_scale(s).font12;
  if (ci->layout.l && f)
    draw_text_once(&ci->layout, f, ci->layout.w - 3.0 * s, ci->layout.h - 15.0 * s, TEXT_RIGHT, "v1.3",
                   make_colour_lin(0.151, 0.151, 0.151, 1.0), 1.0);
  make_final_layout(ci);
  if (ci->layout.l && keep_label_bands(ci)) {
    gc_free(ci, ci->layout.l);
    ci->layout.l = nullptr, ci->layout.as = 0;
    sync_vantalib_framebuffers(ci);
    tv_trim_heap();  // the window-sized layer is gone: give its pages back
  }
}

void tarvelon_init_layout_and_text(inst_t *ci, int32_t instance_number) noexcept {
  if (!ci) return;
  sync_vantalib_framebuffers(ci);
  tarvelon_paint_static_panel(ci);
  const tarvelon_graphics_t &g = tarvelon_graphics();
  if (!ci->debug_txt) ci->debug_txt = init_text(ci, g.font15, 200.0, 10.5, TEXT_LEFT);
  if (!ci->db_txt) ci->db_txt = init_text(ci, g.fbold12, 0.0, 0.0, TEXT_RIGHT | TEXT_MIDDLE);
  if (!ci->freq_txt) ci->freq_txt = init_text(ci, g.fbold12, 0.0, 0.0, TEXT_MIDDLE);
  if (!ci->knob_txt) ci->knob_txt = init_text(ci, g.font12, 0.0, 0.0, TEXT_MIDDLE);
  if (ci->debug_txt && ci->debug_txt->text)
    std::snprintf(ci->debug_txt->text, kTextCapacity, "Instance #%d", int(instance_number));
  tarvelon_apply_ui_scale_to_texts(ci);
}

void tarvelon_apply_ui_scale_to_texts(inst_t *ci) noexcept {
  if (!ci) return;
  const double s = tarvelon_ui_scale(ci);
  const tarvelon_font_set_t f = tarvelon_fonts_for_scale(s);
  if (ci->debug_txt) ci->debug_txt->font = f.font15, ci->debug_txt->x = 200.0 * s, ci->debug_txt->y = 10.5 * s;
  if (ci->db_txt) ci->db_txt->font = f.fbold12;
  if (ci->freq_txt) ci->freq_txt->font = f.fbold12;
  if (ci->knob_txt) ci->knob_txt->font = f.font12;
}

int32_t tarvelon_get_sidebar_gap_rect(const inst_t *ci, rect_t *out) noexcept {
  if (!ci || !out) return 0;
  const rect_t &g = ci->sidebar_gap_rect;
  if (!(g.p1.x > g.p0.x) || !(g.p1.y > g.p0.y)) return 0;
  *out = g;
  return 1;
}

int32_t tarvelon_resize_editor(inst_t *ci, int32_t w, int32_t h) noexcept {
  if (!ci) return 0;
  vl_gui_context_t *prev = tarvelon_bind_vantalib_gui_runtime(ci);
  int32_t ok = 0;
  {
    vl_lock_guard draw(ci->draw_reinit_sem);
    ok = layout_pos(ci, w, h, 0);
    if (ok) {
      tarvelon_apply_ui_scale_to_texts(ci);
      tarvelon_paint_static_panel(ci);
      ci->fft_mag_changed = 1, ci->last2k_changed = 1, ci->spline_changed = 1;
      ci->vzoom_changed = 1, ci->hzoom_changed = 1;
    }
  }
  tarvelon_restore_vantalib_gui_runtime(prev);
  return ok;
}
