// The grid layer: frequency lines, dashed level lines, their axis labels.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "dsp/scales.h"
#include "graphics/curve_grid.h"
#include "graphics/layout.h"
#include "graphics/resources.h"
#include "graphics/text.h"
#include "system/alloc.h"
#include "system/instance.h"
#include "vl_colour.h"
#include "vl_draw.h"
#include "vl_gui_context.h"
#include "vl_numtext.h"
#include "vl_pixel_kernels.h"

namespace {
struct freq_mark {
  double f, weight, importance;
};

// The 28 grid frequencies with the weight of their line and how much their
// label matters (1-2-5 are always labelled; the others appear when zoomed in).
const freq_mark *freq_marks() {
  static const struct table {
    freq_mark m[28];
    table() {
      const double importance[10] = {0,   10.0, 10.0, 0.5849625007211563, 0.3219280948873623, 10.0,
                                     0.22239242133644788, 0.48542682717024177, 0.19264507794239574,
                                     0.15200309344505003};
      int n = 0;
      for (double decade : {10.0, 100.0, 1000.0, 10000.0})
        for (int d = 1; d <= 9; d++) {
          const double f = d * decade;
          if (f < 20.0 || f > 20000.0) continue;
          m[n++] = freq_mark{f, std::pow(double(d), -0.75), importance[d]};
        }
    }
  } t;
  return t.m;
}

lrgb_t grid_colour() { return make_colour_lin(0.067, 0.067, 0.141, 1.0); }
lrgb_t tick_colour() { return make_colour_lin(0.036, 0.036, 0.036, 1.0); }

void label(inst_t *ci, text_t *t, double x, double y, const char *s) {
  if (!t || !t->text) return;
  std::snprintf(t->text, kTextCapacity, "%s", s);
  t->x = x, t->y = y;
  blit_text(t, &ci->finallayout, black, 1.0);
}

// The tick and label layers live in finallayout, outside the visualisation area.
void tick(inst_t *ci, xy_t a, xy_t b) {
  vl_target_scope scope(&ci->finallayout_ctx);
  draw_line_thin(a, b, 0.8 * tarvelon_ui_scale(ci), tick_colour(), blend_mul, 1.0);
}
// The layer's coverage on its own, kept once the layer is dropped; without it
// (allocation failed) no grid is drawn.
void index_grid_alpha(inst_t *ci) {
  tarvelon_free_grid_alpha(ci);
  ci->grid_rgb = lrgb_t{0, 0, 0, 0};
  const size_t w = size_t(ci->kVW), h = size_t(ci->kVH);
  const lrgb_t *layer = ci->grids_lut;
  for (size_t i = 0; i < w * h; i++)
    if (layer[i].a > ci->grid_rgb.a) ci->grid_rgb = layer[i];  // the best-defined grid colour
  // The common row: the one crossed by no level line, i.e. with the fewest
  // grid pixels.
  auto lit = [&](size_t y) {
    return size_t(std::count_if(layer + y * w, layer + (y + 1) * w, [](const lrgb_t &p) { return p.a != 0; }));
  };
  size_t common = 0, fewest = SIZE_MAX;
  for (size_t y = 0; y < h; y++)
    if (const size_t n = lit(y); n < fewest) fewest = n, common = y;
  auto same_as_common = [&](size_t y) {
    for (size_t x = 0; x < w; x++)
      if (layer[y * w + x].a != layer[common * w + x].a) return false;
    return true;
  };
  ci->grid_alpha_rows = static_cast<int32_t *>(gc_calloc(ci, h, sizeof(int32_t)));
  if (!ci->grid_alpha_rows) return;
  int32_t stored = 1;
  for (size_t y = 0; y < h; y++) ci->grid_alpha_rows[y] = same_as_common(y) ? 0 : stored++;
  ci->grid_alpha = static_cast<uint16_t *>(gc_calloc(ci, size_t(stored) * w, sizeof(uint16_t)));
  if (!ci->grid_alpha) return tarvelon_free_grid_alpha(ci);
  for (size_t x = 0; x < w; x++) ci->grid_alpha[x] = layer[common * w + x].a;
  for (size_t y = 0; y < h; y++) {
    uint16_t *row = ci->grid_alpha + size_t(ci->grid_alpha_rows[y]) * w;
    if (ci->grid_alpha_rows[y])
      for (size_t x = 0; x < w; x++) row[x] = layer[y * w + x].a;
  }
  ci->grid_alpha_size = w * h;
}
}  // namespace

double tarvelon_curve_row(const inst_t *ci, double v) noexcept {
  const double vz = ci->vzoom;
  const double p = ((v - tv::kFloorDb) / 128.68588963806502 - tv::kZeroFrac) * vz +
                   tv::kZoomNumerator / ((vz - 0.9375) * 16.0) + 0.5;
  return (ci->kVH - 1) - p * (ci->kVH - 1);
}

void draw_freq_grid(inst_t *ci) noexcept {
  if (!ci || ci->kVW < 2) return;
  const freq_mark *m = freq_marks();
  const tarvelon_hview_t view = ci->hview.load();
  const double lmin = std::log(view.zmin), lmax = std::log(view.zmax);
  const lrgb_t gc = grid_colour();
  const double s = tarvelon_ui_scale(ci);
  for (int i = 0; i < 28; i++) {
    const double f = m[i].f;
    const double x = (ci->kVW - 1) * (std::log(f) - lmin) / (lmax - lmin);
    if (f != 20.0 && f != 20000.0) {
      const lrgb_t c{uint16_t(gc.r * m[i].weight), uint16_t(gc.g * m[i].weight), uint16_t(gc.b * m[i].weight), gc.a};
      draw_line_thin(xy_t{x, ci->kVH - 1.0}, xy_t{x, 0.0}, 0.8 * s, c, blend_add, 1.0);
    }
    if (x >= 0.0 && x <= ci->kVW - 1.0 && (ci->kVW - 1) * m[i].importance / view.hzoom > 500.0 * s) {
      const double base = ci->vy + ci->kVH - 1.0;
      tick(ci, xy_t{ci->vx + x, base + 10.0 * s}, xy_t{ci->vx + x, base});
      char text[32];
      size_t n = vl_format_fixed(text, sizeof text, f >= 1000.0 ? f * 0.001 : f, 0);
      std::snprintf(text + n, sizeof text - n, f >= 1000.0 ? " kHz" : " Hz");
      label(ci, ci->freq_txt, ci->vx + x, base + 18.0 * s, text);
    }
  }
}

void draw_db_dashed_line(inst_t *ci, double y, double intensity, int32_t is_84_shown) noexcept {
  if (!ci || intensity < 0.0017 || ci->kVW < 2) return;
  double v;
  if (y >= -60.0) v = y;
  else if (y >= -160.0) v = std::pow(10.0, y / 20.0) * 1000.0 * tv::kNeper - 60.0 - tv::kNeper;
  else v = tv::kFloorDb;
  const double row = tarvelon_curve_row(ci, v);
  const lrgb_t gc = grid_colour();
  const double s = tarvelon_ui_scale(ci), lw = 0.8 * s;
  const xy_t a{0.0, row}, b{ci->kVW - 1.0, row};
  if (y == 0.0) {
    for (int k = 0; k < 84; k++) {
      const double u = 0.003 + 0.012 * k;
      draw_line_thin_short(a, b, u, u + 0.006, lw, gc, blend_blend, intensity);
    }
  } else if (y != 60.0) {
    for (int k = 0; k < 125; k++) {
      const double u = 0.002 + 0.008 * k;
      draw_line_thin_short(a, b, u, u + 0.004, lw, gc, blend_blend, intensity);
    }
  }
  if (row >= 0.0 && row <= ci->kVH - 1.0 && intensity > 0.1 && !(is_84_shown && y == -72.0)) {
    const double ry = ci->vy + row;
    tick(ci, xy_t{ci->vx - (y == 0.0 ? 6.0 : 8.0) * s, ry}, xy_t{double(ci->vx), ry});
    if (y == 0.0) {
      label(ci, ci->db_txt, ci->vx - 4.7 * s, ry, "0 dB");
    } else {
      char text[32];
      vl_format_fixed(text, sizeof text, y, 0, true);
      label(ci, ci->db_txt, ci->vx - 8.0 * s, ry, text);
    }
  }
}

void draw_db_grid(inst_t *ci) noexcept {
  if (!ci) return;
  const double vz = ci->vzoom;
  const int32_t is84 = tv::kZoomNumerator / ((vz - 0.9375) * 16.0) + 0.5 - 0.5294896530121344 * vz >= 0.0;
  for (int y = -84; y <= 60; y += 12) draw_db_dashed_line(ci, y, 1.0, is84);
  const double i2 = 0.5 + 0.5 * std::erf((vz - 3.0) * 0.75);
  for (int y = -78; y <= 54; y += 12) draw_db_dashed_line(ci, y, i2, 0);
  const double i3 = 0.5 + 0.5 * std::erf((vz - 6.0) * 0.75);
  for (int y : {-15, -9, -3, 3, 9, 15}) draw_db_dashed_line(ci, y, i3, 0);
  const double i4 = 0.5 + 0.5 * std::erf((vz - 12.0) * 0.333);
  for (int y : {-8, -7, -5, -4, -2, -1, 1, 2, 4, 5, 7, 8}) draw_db_dashed_line(ci, y, i4, 0);
}

void make_grids_lut(inst_t *ci) noexcept {
  if (!ci || !ci->finallayout.l || ci->kVW < 2 || ci->kVH < 2) return;  // no editor open
  ++ci->table_recomputations;
  const size_t n = size_t(ci->kVW) * size_t(ci->kVH);
  // The layer is drawn, reduced to its coverage and dropped again.
  gc_free(ci, ci->grids_lut);
  ci->grids_lut = static_cast<lrgb_t *>(gc_calloc(ci, n, sizeof(lrgb_t)));
  sync_vantalib_framebuffers(ci);
  if (!ci->grids_lut) return tarvelon_free_grid_alpha(ci);
  make_final_layout(ci);  // a fresh copy of the panel, without the old labels
  {
    vl_target_scope scope(&ci->grids_ctx);
    draw_freq_grid(ci);
    draw_db_grid(ci);
  }
  clear_visual_overlay_alpha(ci, &ci->finallayout);
  // Every grid element is drawn in the grid colour, so the layer reduces to
  // that colour at full blue with an alpha of the accumulated green.
  for (size_t i = 0; i < n; i++) {
    lrgb_t &p = ci->grids_lut[i];
    if (p.b != 0) {
      const uint32_t b = p.b;
      p.a = p.g;
      p.r = uint16_t(std::min<uint32_t>(32768, (uint32_t(p.r) * 32768u) / b));
      p.g = uint16_t(std::min<uint32_t>(32768, (uint32_t(p.g) * 32768u) / b));
      p.b = 32768;
    } else {
      p = lrgb_t{0, 0, 0, p.g};
    }
  }
  index_grid_alpha(ci);
  gc_free(ci, ci->grids_lut);
  ci->grids_lut = nullptr;
  sync_vantalib_framebuffers(ci);
  tv_trim_heap();  // the layer was large and is gone: give its pages back
}

const uint16_t *tarvelon_grid_alpha_row(const inst_t *ci, int32_t iy) noexcept {
  if (!ci || !ci->grid_alpha || !ci->grid_alpha_rows || iy < 0 || iy >= ci->kVH ||
      ci->grid_alpha_size != size_t(ci->kVW) * size_t(ci->kVH))
    return nullptr;
  return ci->grid_alpha + size_t(ci->grid_alpha_rows[iy]) * size_t(ci->kVW);
}

void tarvelon_free_grid_alpha(inst_t *ci) noexcept {
  if (!ci) return;
  gc_free(ci, ci->grid_alpha);
  gc_free(ci, ci->grid_alpha_rows);
  ci->grid_alpha = nullptr, ci->grid_alpha_rows = nullptr;
  ci->grid_alpha_size = 0;
}

int64_t tarvelon_grid_weight(const inst_t *ci) noexcept {
  if (!ci || !(ci->mouseout_time < 2.0)) return 0;
  return std::max<int64_t>(0, std::llround(gaussian(2.0 * ci->mouseout_time) * 32768.0));
}
