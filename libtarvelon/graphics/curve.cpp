// Band points, handles, selection rings, the curve and the dashed response.
#include <algorithm>
#include <cmath>

#include "dsp/scales.h"
#include "graphics/curve_grid.h"
#include "graphics/layout.h"
#include "graphics/picture.h"
#include "graphics/resources.h"
#include "system/instance.h"
#include "vl_colour.h"
#include "vl_draw.h"

namespace {
xy_t screen_point(const inst_t *ci, const tarvelon_hview_t &view, double pitch, double v) {
  const double x = (pitch - view.zminp) * (ci->kVW - 1) / (view.zmaxp - view.zminp) + ci->vxf;
  return xy_t{x, tarvelon_curve_row(ci, v) + ci->vyf};
}

// Distance of p from the line through a and b (from a when they coincide).
double line_distance(xy_t p, xy_t a, xy_t b) {
  const double dx = b.x - a.x, dy = b.y - a.y, len = std::hypot(dx, dy);
  if (!(len > 0.0)) return std::hypot(p.x - a.x, p.y - a.y);
  return std::fabs(dy * (p.x - a.x) - dx * (p.y - a.y)) / len;
}
}  // namespace

void tarvelon_take_band_view(inst_t *ci, tarvelon_band_view_t *view) noexcept {
  if (!view) return;
  *view = tarvelon_band_view_t{};
  if (!ci || !ci->eqs || !ci->equ) return;
  view->count = std::clamp(ci->eqs_count, 0, kBandCount);
  std::copy(ci->eqs, ci->eqs + view->count + 2, view->eqs);
  view->selband = ci->selband;
  view->selband_on = (ci->selband >= 0 && ci->selband < kBandCount) ? ci->equ[ci->selband].on : 0;
  view->hover = ci->hover, view->hover_id = ci->hover_id, view->hover_type = ci->hover_type;
}

void tarvelon_store_band_positions(inst_t *ci, const tarvelon_band_view_t *view) noexcept {
  if (!ci || !view || !ci->equ) return;
  vl_lock_guard lock(ci->proc_reinit_sem);
  for (int32_t k = 1; k <= view->count; k++) {
    const eq_t &p = view->eqs[k];
    if (p.id < 0 || p.id >= kBandCount) continue;  // end points and anything unexpected
    eq_t &e = ci->equ[p.id];
    e.x = p.x, e.y = p.y, e.h1x = p.h1x, e.h1y = p.h1y, e.h2x = p.h2x, e.h2y = p.h2y;
    e.h1pitch = p.h1pitch, e.h2pitch = p.h2pitch;
  }
}

void draw_bezier(inst_t *ci, tarvelon_band_view_t *view, int32_t colscheme) noexcept {
  (void)colscheme;
  const tarvelon_hview_t hv = ci ? ci->hview.load() : tarvelon_hview_t{};
  if (!ci || !view || ci->kVW < 2 || !(hv.zmaxp > hv.zminp)) return;
  const double s = tarvelon_ui_scale(ci), lw = 0.8 * s;
  ci->selrings_offset += 0.004 * ci->frame_s;
  if (ci->selrings_offset > 1.0) ci->selrings_offset -= 1.0;

  const lrgb_t point_c = make_colour_g22rgb_l(255, 224, 0, 255);
  lrgb_t h1_c = make_colour_g22rgb_l(32, 96, 224, 255), h2_c = make_colour_g22rgb_l(255, 64, 96, 255);
  const uint16_t fade = uint16_t(std::clamp(std::lround(gaussian(ci->mouseout_time) * 32768.0), 0L, 32768L));
  h1_c.a = h2_c.a = fade;

  for (int32_t k = 1; k <= view->count; k++) {
    eq_t &e = view->eqs[k];
    const xy_t p = screen_point(ci, hv, e.pitch, e.db), h1 = screen_point(ci, hv, e.h1pitch, e.h1db),
               h2 = screen_point(ci, hv, e.h2pitch, e.h2db);
    e.x = p.x, e.y = p.y, e.h1x = h1.x, e.h1y = h1.y, e.h2x = h2.x, e.h2y = h2.y;
    const bool hovered = view->hover && view->hover_id == e.id;

    tarvelon_overlay_line(ci, h2, p, lw, h2_c, blend_alphablendfg, 1.0);
    if (hovered && view->hover_type == 2) tarvelon_overlay_circle(ci, 0, h2, 5.8 * s, lw, h2_c, blend_blend, 1.0);
    else tarvelon_overlay_circle(ci, 2, h2, 5.0 * s, lw, h2_c, blend_alphablendfg, 1.0);
    tarvelon_overlay_line(ci, h1, p, lw, h1_c, blend_alphablendfg, 1.0);
    if (hovered && view->hover_type == 1) tarvelon_overlay_circle(ci, 0, h1, 5.8 * s, lw, h1_c, blend_blend, 1.0);
    else tarvelon_overlay_circle(ci, 2, h1, 5.0 * s, lw, h1_c, blend_alphablendfg, 1.0);

    if (e.id == view->selband) {
      for (int j = 0; j < 4; j++) {
        const double f = std::fmod(0.25 * j + ci->selrings_offset, 1.0);
        lrgb_t c = point_c;
        c.a = uint16_t(std::lround(std::pow(1.0 - f, 4.0) * 32768.0));
        tarvelon_overlay_circle(ci, 2, p, 20.0 * s * f, lw, c, blend_alphablendfg, 1.0);
      }
    }
    if (hovered && view->hover_type == 0) tarvelon_overlay_circle(ci, 2, p, 5.0 * s, lw, point_c, blend_blend, 1.0);
    else tarvelon_overlay_circle(ci, 0, p, 5.8 * s, lw, point_c, blend_blend, 1.0);
  }

  const double *row = ci->spline_lut ? ci->spline_lut[2] : nullptr;
  if (!row || ci->visual_width != ci->kVW) return;
  tarvelon_overlay_curve(ci);
}

void draw_dashed_fft(inst_t *ci, int32_t colscheme) noexcept {
  (void)colscheme;
  if (!ci) return;
  // Dash, gap and crawl speed are logical lengths: u is one logical pixel.
  const double u = tarvelon_ui_scale(ci), lw = 0.8 * u, dash = 12.0 * u, period = 24.0 * u;
  ci->dash_offset += 40.0 * u * ci->frame_s;
  if (ci->dash_offset > -period) ci->dash_offset -= 5040.0 * u;
  const int32_t w = ci->kVW;
  if (w < 2 || !ci->fft_mag_lut || !ci->spline_lut || !ci->spline_lut[2] || ci->visual_width != w) return;
  const double *curve = ci->spline_lut[2];
  const double off = ci->dash_offset, ox = ci->vxf, oy = ci->vyf;
  auto response_row = [&](int32_t i) {
    const double v = ci->fft_mag_lut[i];
    return vol_to_pix(ci, std::isfinite(v) ? v : 0.0, ci->kVH, 2);
  };
  double s = 0.0, prev_r = response_row(0);
  for (int32_t i = 1; i < w && s < 25000.0 * u; i++) {
    const double r = response_row(i);
    const xy_t a{double(i - 1), prev_r}, b{double(i), r};
    prev_r = r;
    const double L = std::hypot(b.x - a.x, b.y - a.y);
    const double d0 = line_distance(xy_t{double(i - 1), curve[i - 1]}, a, b);
    const double d1 = line_distance(xy_t{double(i), curve[i]}, a, b);
    const double s_start = s;
    s += L;
    if (!(d0 > u || d1 > u)) continue;  // the response lies on the curve here
    const int n = L >= dash ? int(std::ceil(L / dash)) : 1;
    for (int k = 0; k < n; k++) {
      const double s0 = s_start + L * k / n, s1 = s_start + L * (k + 1) / n;
      const xy_t p0{ox + a.x + (b.x - a.x) * k / n, oy + a.y + (b.y - a.y) * k / n};
      const xy_t p1{ox + a.x + (b.x - a.x) * (k + 1) / n, oy + a.y + (b.y - a.y) * (k + 1) / n};
      const double pa = s0 - off, pb = s1 - off;
      if (std::trunc(pa / dash) == std::trunc(pb / dash)) {
        if (std::fmod(pb, period) < dash) tarvelon_overlay_line(ci, p0, p1, lw, white, blend_add, 1.0);
        continue;
      }
      const double len = s1 - s0;
      if (!(len > 0.0)) continue;
      const double u1 = std::fmod(pa, period) < dash ? 0.0 : (std::ceil(pa / dash) * dash - pa) / len;
      const double u2 = std::fmod(pb, period) < dash ? 1.0 : (std::floor(pb / dash) * dash - pa) / len;
      tarvelon_overlay_line_part(ci, p0, p1, u1, u2, lw, white, blend_add, 1.0);
    }
  }
}
