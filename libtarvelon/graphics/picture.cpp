// The picture a strip at a time: column colours and overlays prepared once a
// frame, then fill, grid, overlays and conversion for each strip while its
// pixels are in cache.
#include "graphics/picture.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "graphics/curve_cover.h"
#include "graphics/curve_grid.h"
#include "graphics/layout.h"
#include "graphics/resources.h"
#include "graphics/spectrum.h"
#include "system/instance.h"
#include "vl_draw.h"
#include "vl_gui_context.h"

namespace {
recti_t meet(recti_t a, recti_t b) {
  return recti_t{{std::max(a.p0.x, b.p0.x), std::max(a.p0.y, b.p0.y)}, {std::min(a.p1.x, b.p1.x), std::min(a.p1.y, b.p1.y)}};
}
bool none(recti_t r) { return r.p0.x >= r.p1.x || r.p0.y >= r.p1.y; }

int32_t clamp_px(double v) { return int32_t(std::clamp(v, -1e9, 1e9)); }
recti_t around(double x0, double y0, double x1, double y1, double reach) {
  return recti_t{{clamp_px(std::floor(std::min(x0, x1) - reach)), clamp_px(std::floor(std::min(y0, y1) - reach))},
                 {clamp_px(std::ceil(std::max(x0, x1) + reach)) + 1, clamp_px(std::ceil(std::max(y0, y1) + reach)) + 1}};
}

tarvelon_picture_t *picture(inst_t *ci) {
  if (!ci->picture) ci->picture = new (std::nothrow) tarvelon_picture_t;
  return ci->picture;
}

bool recording(const inst_t *ci) { return ci->picture && ci->picture->recording; }

void record(inst_t *ci, const tarvelon_overlay_t &o) {
  try {
    ci->picture->overlays.push_back(o);
  } catch (const std::bad_alloc &) {  // an overlay fewer this frame
  }
}

void draw(inst_t *ci, const tarvelon_overlay_t &o, recti_t r) {
  switch (o.kind) {
    case tarvelon_overlay_t::line: draw_line_thin(o.a, o.b, o.radius, o.colour, o.blend, o.intensity); break;
    case tarvelon_overlay_t::circle:
      draw_circle(o.mode, o.a, o.size, o.radius, o.colour, o.blend, o.intensity);
      break;
    case tarvelon_overlay_t::curve:
      if (!tarvelon_add_curve(ci, ci->frame_visual, r)) {
        const double *row = ci->spline_lut ? ci->spline_lut[2] : nullptr;
        const double lw = o.radius;
        for (int32_t i = 1; row && i < ci->kVW; i++)
          draw_line_thin(xy_t{ci->vxf + i, ci->vyf + row[i]}, xy_t{ci->vxf + i - 1, ci->vyf + row[i - 1]}, lw,
                         o.colour, blend_add, 1.0);
      }
      break;
  }
}

uint64_t bits(lrgb_t c) { return uint64_t(c.r) | uint64_t(c.g) << 16 | uint64_t(c.b) << 32; }

lrgb_t grid_blend(lrgb_t p, lrgb_t g, uint16_t alpha, int64_t weight) {
  const int64_t q = (int64_t(alpha) * weight) >> 15, r = 32768 - q;
  return lrgb_t{uint16_t((p.r * r + g.r * q) >> 15), uint16_t((p.g * r + g.g * q) >> 15),
                uint16_t((p.b * r + g.b * q) >> 15), p.a};
}

// The colours most pixels of each column of the area end up in: the fill
// above and below the curve, with and without the column's grid line (the
// grid's common row, which rows crossed by no level line share).
void make_candidates(inst_t *ci, tarvelon_picture_t &p) {
  const int32_t w = ci->kVW;
  const vl_g22_tables &t = vl_g22();
  const bool grid = p.grid_weight > 0;  // only with a grid coverage of the area's size
  p.candidates = grid ? 4 : 2;
  for (int i = 0; i < p.candidates; i++) p.colour[i].resize(size_t(w)), p.code[i].resize(size_t(w));
  for (int32_t x = 0; x < w; x++) {
    lrgb_t c[4];
    c[0] = p.painted ? p.above[size_t(x + kSpectrumMargin)] : lrgb_t{};
    c[1] = p.painted ? p.below[size_t(x + kSpectrumMargin)] : lrgb_t{};
    if (grid) {
      c[2] = grid_blend(c[0], ci->grid_rgb, ci->grid_alpha[x], p.grid_weight);
      c[3] = grid_blend(c[1], ci->grid_rgb, ci->grid_alpha[x], p.grid_weight);
    }
    for (int i = 0; i < p.candidates; i++)
      p.colour[i][size_t(x)] = bits(c[i]), p.code[i][size_t(x)] = vl_pixel_code(c[i], t);
  }
}

// Fills row y of the picture for the columns [x0, x1) at dst.
void fill_row(const inst_t *ci, const tarvelon_picture_t &p, lrgb_t *dst, int32_t y, int32_t x0, int32_t x1) {
  const int32_t vx = ci->vx, vy = ci->vy, kVW = ci->kVW, kVH = ci->kVH, W = ci->fb.w, H = ci->fb.h;
  const int32_t iy = y - vy, iy0 = std::max(-vy, -2), iy1 = std::min(kVH + 3, H - vy - 1);
  const int32_t c0 = std::max(x0, vx + std::max(-vx, -2)), c1 = std::min(x1, vx + std::min(W - vx - 1, kVW + 2) + 1);
  if (!p.painted || iy < iy0 || iy > iy1 || c0 >= c1) {
    std::fill(dst, dst + (x1 - x0), lrgb_t{0, 0, 0, 0});
    return;
  }
  std::fill(dst, dst + (c0 - x0), lrgb_t{0, 0, 0, 0});
  std::fill(dst + (c1 - x0), dst + (x1 - x0), lrgb_t{0, 0, 0, 0});
  // Column x of the window is entry x - vx + kSpectrumMargin of the colours.
  const lrgb_t *below = p.below.data(), *above = p.above.data();
  auto at = [&](int32_t x) { return size_t(x - vx + kSpectrumMargin); };
  if (iy == 0 || iy == kVH + 1) {
    const lrgb_t *from = iy == 0 ? above : below;
    std::copy(from + at(c0), from + at(c1), dst + (c0 - x0));
    return;
  }
  // Columns beside the area take the edge column's curve row.
  const int32_t m0 = std::clamp(vx, c0, c1), m1 = std::clamp(vx + kVW, c0, c1);
  const int32_t *rows = ci->spline_lut_int;
  for (int32_t x = c0; x < m0; x++) dst[x - x0] = rows[0] < iy ? below[at(x)] : above[at(x)];
  if (m1 > m0) vl_select_row(dst + (m0 - x0), rows + (m0 - vx), iy, below + at(m0), above + at(m0), m1 - m0);
  for (int32_t x = m1; x < c1; x++) dst[x - x0] = rows[kVW - 1] < iy ? below[at(x)] : above[at(x)];
}

// Groups [g0, g1) of one row of the plan marked touched.
void set_groups(uint64_t *row, int32_t g0, int32_t g1) {
  for (int32_t g = g0; g < g1;) {
    const int32_t w = g >> 6, b = g & 63, n = std::min(64 - b, g1 - g);
    row[w] |= (n == 64 ? ~0ull : ((1ull << n) - 1)) << b;
    g += n;
  }
}

void touch(tarvelon_picture_t &p, recti_t box) {
  const recti_t h = p.hole;
  box = meet(box, recti_t{h.p0, {h.p0.x + 8 * p.groups, h.p1.y}});
  if (none(box)) return;
  const int32_t g0 = (box.p0.x - h.p0.x) / 8, g1 = (box.p1.x - h.p0.x + 7) / 8;
  for (int32_t y = box.p0.y; y < box.p1.y; y++)
    set_groups(p.touched.data() + size_t(y - h.p0.y) * size_t(p.words), g0, g1);
}

// The first group from g on whose bit differs from `value` (n if none).
int32_t next_change(const uint64_t *row, int32_t g, int32_t n, bool value) {
  while (g < n) {
    uint64_t w = row[g >> 6] ^ (value ? ~0ull : 0ull);
    w &= ~0ull << (g & 63);
    if (w) return std::min(n, (g & ~63) + __builtin_ctzll(w));
    g = (g & ~63) + 64;
  }
  return n;
}

// f(g0, g1, touched) for each run of equal bits among groups [0, n).
template <class F>
void each_run(const uint64_t *row, int32_t n, F f) {
  for (int32_t g = 0; g < n;) {
    const bool t = (row[g >> 6] >> (g & 63)) & 1;
    const int32_t e = next_change(row, g, n, t);
    f(g, e, t);
    g = e;
  }
}

// Which groups of the hole anything but fill and grid touches this frame:
// rows the column rule does not give (the top row, grid level lines), the
// curve's runs and every overlay's box.
void make_plan(inst_t *ci, tarvelon_picture_t &p) {
  p.planned = false;
  const recti_t h = ci->frame_hole;
  const bool inside = h.p0.x >= ci->vx && h.p1.x <= ci->vx + ci->kVW && h.p0.y >= ci->vy && h.p1.y <= ci->vy + ci->kVH;
  if (none(h) || !inside || p.candidates == 0 || !ci->spline_lut_int || p.colour[0].size() != size_t(ci->kVW)) return;
  const bool grid = p.candidates == 4;
  p.hole = h, p.groups = (h.p1.x - h.p0.x) / 8, p.words = (p.groups + 63) / 64;
  if (p.groups == 0) return;
  p.touched.assign(size_t(p.words) * size_t(h.p1.y - h.p0.y), 0);
  p.whole_rows.assign(size_t(h.p1.y - h.p0.y), 0);
  for (int32_t y = h.p0.y; y < h.p1.y; y++) {
    const int32_t iy = y - ci->vy;
    if (iy == 0 || (grid && ci->grid_alpha_rows[iy] != 0)) {  // a level line crosses it
      set_groups(p.touched.data() + size_t(y - h.p0.y) * size_t(p.words), 0, p.groups);
      p.whole_rows[size_t(y - h.p0.y)] = 1;
    }
  }
  for (const tarvelon_overlay_t &o : p.overlays) {
    tarvelon_curve_runs_t runs{};
    if (o.kind != tarvelon_overlay_t::curve || !tarvelon_curve_runs(ci, ci->frame_visual, &runs)) {
      touch(p, o.box);
      continue;
    }
    const int32_t xa = std::max(h.p0.x, runs.region.p0.x), xb = std::min(h.p0.x + 8 * p.groups, runs.region.p1.x);
    for (int32_t x = xa; x < xb; x++) {
      const size_t col = size_t(x - runs.region.p0.x);
      const int32_t a = std::max(h.p0.y, runs.first[col]), b = std::min(h.p1.y, runs.first[col] + runs.count[col]);
      const int32_t g = (x - h.p0.x) / 8;
      for (int32_t y = a; y < b; y++)
        p.touched[size_t(y - h.p0.y) * size_t(p.words) + size_t(g >> 6)] |= 1ull << (g & 63);
    }
  }
  p.planned = true;
}

// Fill and grid for the columns [a, b) of row y.
void paint_span(const inst_t *ci, const tarvelon_picture_t &p, framebuffer_t *target, int32_t y, int32_t a, int32_t b,
                bool painted, bool grid) {
  if (a >= b) return;
  lrgb_t *row = target->r.l + size_t(y - target->origin.y) * size_t(target->r.w) + size_t(a - target->origin.x);
  if (painted) fill_row(ci, p, row, y, a, b);
  else std::fill(row, row + (b - a), lrgb_t{0, 0, 0, 0});
  const int32_t iy = y - ci->vy;
  const int32_t g0 = std::max(a, ci->vx), g1 = std::min(b, ci->vx + ci->kVW);
  if (grid && iy >= 0 && iy < ci->kVH && g1 > g0)
    vl_grid_row(row + (g0 - a), tarvelon_grid_alpha_row(ci, iy) + (g0 - ci->vx), ci->grid_rgb, p.grid_weight, g1 - g0);
}
}  // namespace

void tarvelon_prepare_picture(inst_t *ci, tarvelon_band_view_t *view) noexcept {
  if (!ci || !view) return;
  tarvelon_picture_t *p = picture(ci);
  if (!p) {  // no memory for the lists: the rings and dashes still move on
    draw_bezier(ci, view, ci->colscheme);
    draw_dashed_fft(ci, ci->colscheme);
    return;
  }
  try {
    const size_t n = size_t(std::max(ci->kVW, 0)) + 2 * kSpectrumMargin;
    p->below.resize(n), p->above.resize(n);
    p->painted = ci->colgain != 0.0 && ci->vy + ci->kVH + 1 < ci->fb.h &&
                 tarvelon_spectrum_colours(ci, ci->colscheme, p->below.data(), p->above.data());
    p->grid_weight = tarvelon_grid_alpha_row(ci, 0) ? tarvelon_grid_weight(ci) : 0;
    p->overlays.clear();
    p->recording = true;
    draw_bezier(ci, view, ci->colscheme);
    draw_dashed_fft(ci, ci->colscheme);
    p->recording = false;
    make_candidates(ci, *p);
    make_plan(ci, *p);
  } catch (const std::bad_alloc &) {
    p->recording = false;
    p->painted = false;
    p->candidates = 0;
    p->planned = false;
  }
}

void tarvelon_paint_picture(inst_t *ci, framebuffer_t *target, recti_t r, bool planned) noexcept {
  if (!ci || !target || !target->r.l) return;
  r = meet(r, recti_t{target->origin, {target->origin.x + target->r.w, target->origin.y + target->r.h}});
  if (none(r)) return;
  static const tarvelon_picture_t nothing;
  const tarvelon_picture_t &p = ci->picture ? *ci->picture : nothing;
  const bool painted = p.painted && p.below.size() == size_t(ci->kVW) + 2 * kSpectrumMargin && ci->spline_lut_int;
  const bool grid = p.grid_weight > 0 && tarvelon_grid_alpha_row(ci, 0) != nullptr;
  planned = planned && p.planned;
  const recti_t h = p.hole;
  for (int32_t y = r.p0.y; y < r.p1.y; y++) {
    if (!planned || y < h.p0.y || y >= h.p1.y) {
      paint_span(ci, p, target, y, r.p0.x, r.p1.x, painted, grid);
      continue;
    }
    // Untouched groups of the hole are left to the conversion.
    const int32_t end = h.p0.x + 8 * p.groups;
    paint_span(ci, p, target, y, r.p0.x, std::min(r.p1.x, h.p0.x), painted, grid);
    each_run(p.touched.data() + size_t(y - h.p0.y) * size_t(p.words), p.groups, [&](int32_t g0, int32_t g1, bool t) {
      if (t) paint_span(ci, p, target, y, std::max(r.p0.x, h.p0.x + 8 * g0), std::min(r.p1.x, h.p0.x + 8 * g1), painted,
                        grid);
    });
    paint_span(ci, p, target, y, std::max(r.p0.x, end), r.p1.x, painted, grid);
  }
  const recti_t saved_clip = target->clip;
  const int32_t saved_on = target->clip_on;
  target->clip = r, target->clip_on = 1;
  vl_target_scope scope(target);
  for (const tarvelon_overlay_t &o : p.overlays)
    if (!none(meet(o.box, r))) draw(ci, o, r);
  target->clip = saved_clip, target->clip_on = saved_on;
}

void tarvelon_convert_picture_row(inst_t *ci, const framebuffer_t *target, uint8_t *out, int32_t out_w, int32_t y,
                                  int32_t x0, int32_t x1, bool planned) noexcept {
  if (!ci || !target || !target->r.l || !out || x0 >= x1) return;
  // Pixel x of the row is row[x - origin.x].
  const lrgb_t *row = target->r.l + size_t(y - target->origin.y) * size_t(target->r.w);
  x0 = std::max(x0, target->origin.x), x1 = std::min(x1, target->origin.x + target->r.w);
  if (x0 >= x1) return;
  uint8_t *dst = out + size_t(y) * size_t(out_w) * 4;
  const uint32_t idx = vl_row_dither_start(y);
  const int32_t o = target->origin.x;
  auto plain = [&](int32_t a, int32_t b) {
    if (a < b) vl_convert_row(row + (a - o), dst + 4 * size_t(a), b - a, idx + uint32_t(a), 1);
  };
  const tarvelon_picture_t *p = ci->picture;
  const recti_t h = ci->frame_hole;
  const int32_t a = std::clamp(h.p0.x, x0, x1), b = std::clamp(h.p1.x, x0, x1);
  const bool coded = p && p->candidates > 0 && y >= h.p0.y && y < h.p1.y && b > a && h.p0.x >= ci->vx &&
                     h.p1.x <= ci->vx + ci->kVW && p->colour[0].size() == size_t(ci->kVW);
  if (!coded) return plain(x0, x1);
  // Columns [u, v) of the area with their candidates.
  auto by_codes = [&](int32_t u, int32_t v) {
    if (u >= v) return;
    vl_column_codes c{};
    c.count = p->candidates;
    for (int i = 0; i < c.count; i++)
      c.colour[i] = p->colour[i].data() + (u - ci->vx), c.code[i] = p->code[i].data() + (u - ci->vx);
    vl_convert_row_coded(row + (u - o), dst + 4 * size_t(u), v - u, idx + uint32_t(u), 1, c);
  };
  plain(x0, a);
  const bool direct = planned && p->planned && p->hole.p0.x == h.p0.x && p->hole.p1.x == h.p1.x &&
                      p->hole.p0.y == h.p0.y && p->hole.p1.y == h.p1.y;
  if (!direct) {
    by_codes(a, b);
  } else if (p->whole_rows[size_t(y - h.p0.y)]) {
    plain(a, b);  // a grid level line: few pixels are candidates
  } else {
    const int32_t iy = y - ci->vy, end = h.p0.x + 8 * p->groups;
    // The fill's codes with the column's grid line, when there is a grid.
    const uint64_t *above = p->code[p->candidates == 4 ? 2 : 0].data(), *below = p->code[p->candidates == 4 ? 3 : 1].data();
    each_run(p->touched.data() + size_t(y - h.p0.y) * size_t(p->words), p->groups, [&](int32_t g0, int32_t g1, bool t) {
      const int32_t u = std::max(a, h.p0.x + 8 * g0), v = std::min(b, h.p0.x + 8 * g1);
      if (u >= v) return;
      if (t) return by_codes(u, v);
      vl_convert_row_select(ci->spline_lut_int + (u - ci->vx), iy, below + (u - ci->vx), above + (u - ci->vx),
                            dst + 4 * size_t(u), v - u, idx + uint32_t(u), 1);
    });
    by_codes(std::max(a, end), b);
  }
  plain(b, x1);
}

void tarvelon_touch_picture(inst_t *ci, recti_t box) noexcept {
  if (ci && ci->picture && ci->picture->planned) touch(*ci->picture, box);
}

void tarvelon_overlay_line(inst_t *ci, xy_t a, xy_t b, double radius, lrgb_t colour, blend_func_t blend,
                           double intensity) noexcept {
  if (!ci) return;
  if (!recording(ci)) return draw_line_thin(a, b, radius, colour, blend, intensity);
  const double reach = 3.6 * radius * 1.5 + 1.0;
  record(ci, tarvelon_overlay_t{tarvelon_overlay_t::line, 0, a, b, 0.0, radius, intensity, colour, blend,
                                around(a.x, a.y, b.x, b.y, std::isfinite(reach) ? reach : 0.0)});
}

void tarvelon_overlay_line_part(inst_t *ci, xy_t p1, xy_t p2, double u1, double u2, double radius, lrgb_t colour,
                                blend_func_t blend, double intensity) noexcept {
  if (!(u1 < u2)) return;
  // The same ends draw_line_thin_short works out.
  const xy_t a{p1.x + u1 * (p2.x - p1.x), p1.y + u1 * (p2.y - p1.y)};
  const xy_t b{p1.x + u2 * (p2.x - p1.x), p1.y + u2 * (p2.y - p1.y)};
  tarvelon_overlay_line(ci, a, b, radius, colour, blend, intensity);
}

void tarvelon_overlay_circle(inst_t *ci, int32_t mode, xy_t pos, double circrad, double radius, lrgb_t colour,
                             blend_func_t blend, double intensity) noexcept {
  if (!ci) return;
  if (!recording(ci)) return draw_circle(mode, pos, circrad, radius, colour, blend, intensity);
  const double reach = circrad + 3.6 * radius + 1.0;
  record(ci, tarvelon_overlay_t{tarvelon_overlay_t::circle, mode, pos, pos, circrad, radius, intensity, colour, blend,
                                around(pos.x, pos.y, pos.x, pos.y, std::isfinite(reach) ? reach : 0.0)});
}

void tarvelon_overlay_curve(inst_t *ci) noexcept {
  if (!ci) return;
  const double lw = 0.8 * tarvelon_ui_scale(ci);
  const tarvelon_overlay_t o{tarvelon_overlay_t::curve, 0, {}, {}, 0.0, lw, 1.0, white, blend_add, ci->frame_visual};
  if (recording(ci)) return record(ci, o);
  framebuffer_t *fb = vl_current().fb;
  if (fb) draw(ci, o, recti_t{fb->origin, {fb->origin.x + fb->r.w, fb->origin.y + fb->r.h}});
}

void tarvelon_release_picture(inst_t *ci) noexcept {
  if (!ci) return;
  delete ci->picture;
  ci->picture = nullptr;
}
