// Rasterisation of the gaussian-edged primitives and the output conversion.
#include "vl_draw.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "vl_gui_context.h"
#include "vl_pixel_kernels.h"

namespace {
constexpr double kReach = 3.6;  // beyond 3.6 radii a gaussian edge is below 1/32768

framebuffer_t *target() {
  framebuffer_t *fb = vl_current().fb;
  return (fb && fb->r.l && fb->r.w > 0 && fb->r.h > 0) ? fb : nullptr;
}

// The window pixels a primitive may touch, inclusive: the raster where it
// lies in the window, cut to the clip rectangle when one is on.
struct pixel_bounds {
  int x0, y0, x1, y1;
};
pixel_bounds bounds_of(const framebuffer_t *fb) {
  pixel_bounds b{fb->origin.x, fb->origin.y, fb->origin.x + fb->r.w - 1, fb->origin.y + fb->r.h - 1};
  if (fb->clip_on) {
    b.x0 = std::max(b.x0, fb->clip.p0.x), b.y0 = std::max(b.y0, fb->clip.p0.y);
    b.x1 = std::min(b.x1, fb->clip.p1.x - 1), b.y1 = std::min(b.y1, fb->clip.p1.y - 1);
  }
  return b;
}
lrgb_t *pixel_at(const framebuffer_t *fb, int x, int y) {
  return fb->r.l + size_t(y - fb->origin.y) * size_t(fb->r.w) + size_t(x - fb->origin.x);
}

bool finite(std::initializer_list<double> v) {
  for (double x : v)
    if (!std::isfinite(x)) return false;
  return true;
}

// round(c·32768), halves away from zero, capped at 32768. The fraction of a
// non-negative value below 2^52 is exact, so this is lround without its
// library call (it runs for every pixel a primitive covers).
int32_t to_coverage(double c) {
  if (!(c > 0.0)) return 0;
  const double v = c * 32768.0;
  if (!(v < 32768.0)) return 32768;
  const int32_t whole = int32_t(v);
  return whole + (v - double(whole) >= 0.5 ? 1 : 0);
}

// Visits pixels whose centres lie in [x0, x1] × [y0, y1], clipped to the
// raster in floating point before any conversion to integers.
template <class Cov>
void shade_box(framebuffer_t *fb, double x0, double y0, double x1, double y1, lrgb_t colour, blend_func_t blend,
               double intensity, Cov cov) {
  if (!finite({x0, y0, x1, y1, intensity}) || !blend || intensity == 0.0) return;
  const pixel_bounds b = bounds_of(fb);
  x0 = std::max(x0, double(b.x0)), y0 = std::max(y0, double(b.y0));
  x1 = std::min(x1, double(b.x1)), y1 = std::min(y1, double(b.y1));
  if (x0 > x1 || y0 > y1) return;
  const int ix0 = int(std::ceil(x0)), ix1 = int(std::floor(x1));
  const int iy0 = int(std::ceil(y0)), iy1 = int(std::floor(y1));
  for (int y = iy0; y <= iy1; y++) {
    lrgb_t *row = pixel_at(fb, fb->origin.x, y);
    for (int x = ix0; x <= ix1; x++) {
      const int32_t p = to_coverage(cov(double(x), double(y)) * intensity);
      if (p) blend(&row[x - fb->origin.x], colour, p);
    }
  }
}

double seg_distance2(double px, double py, double ax, double ay, double dx, double dy, double len2) {
  double t = len2 > 0 ? ((px - ax) * dx + (py - ay) * dy) / len2 : 0.0;
  t = std::clamp(t, 0.0, 1.0);
  const double ex = px - (ax + t * dx), ey = py - (ay + t * dy);
  return ex * ex + ey * ey;
}

// Signed distance to a rounded box (negative inside).
double roundbox_sd(double px, double py, const rect_t &b, double corner) {
  const double cx = 0.5 * (b.p0.x + b.p1.x), cy = 0.5 * (b.p0.y + b.p1.y);
  const double hx = 0.5 * std::fabs(b.p1.x - b.p0.x), hy = 0.5 * std::fabs(b.p1.y - b.p0.y);
  corner = std::clamp(corner, 0.0, std::min(hx, hy));
  const double qx = std::fabs(px - cx) - (hx - corner), qy = std::fabs(py - cy) - (hy - corner);
  const double ox = std::max(qx, 0.0), oy = std::max(qy, 0.0);
  return std::sqrt(ox * ox + oy * oy) + std::min(std::max(qx, qy), 0.0) - corner;
}

double edge(double sd, double radius) { return 0.5 * std::erfc(sd / radius); }

// How many radii out a gaussian of peak `peak` still gives a pixel any
// coverage: exp(-d²)·peak·32768 rounds to 0 beyond it (erfc(s) is below
// exp(-s²) too, so an edge of height peak/2 ends there as well). Never more
// than kReach, where drawing stops anyway.
double gaussian_reach(double peak) {
  const double l = std::log(65536.0 * peak);
  return l > 0.0 ? std::min(kReach, std::sqrt(l)) : 0.0;
}

rect_t normalised(rect_t b) {
  return {{std::min(b.p0.x, b.p1.x), std::min(b.p0.y, b.p1.y)}, {std::max(b.p0.x, b.p1.x), std::max(b.p0.y, b.p1.y)}};
}
}  // namespace

void draw_line_thin(xy_t p1, xy_t p2, double radius, lrgb_t colour, blend_func_t blend, double intensity) noexcept {
  framebuffer_t *fb = target();
  if (!fb || !blend || !finite({p1.x, p1.y, p2.x, p2.y, radius, intensity}) || !(radius > 0) || intensity == 0.0)
    return;
  const double dx = p2.x - p1.x, dy = p2.y - p1.y, len2 = dx * dx + dy * dy;
  if (len2 == 0.0) return;
  // Beyond `reach` radii a pixel gets no coverage: neither visited nor computed.
  const double reach = gaussian_reach(std::fabs(intensity)) * (1.0 + 1e-9);
  const double m = reach * radius, len = std::sqrt(len2), inv_r2 = 1.0 / (radius * radius);
  // Walk the major axis (clipped to the raster first, so a line running
  // millions of pixels off screen costs only what is visible); across it only
  // the band the gaussian reaches.
  const bool shallow = std::fabs(dx) >= std::fabs(dy);
  const double u1 = shallow ? p1.x : p1.y, u2 = shallow ? p2.x : p2.y;
  const double v1 = shallow ? p1.y : p1.x, v2 = shallow ? p2.y : p2.x;
  const double du = u2 - u1, dv = v2 - v1;
  const double half = m * len / std::fabs(du);
  const pixel_bounds b = bounds_of(fb);
  const int umin = shallow ? b.x0 : b.y0, umax = shallow ? b.x1 : b.y1;
  const int vmin = shallow ? b.y0 : b.x0, vmax = shallow ? b.y1 : b.x1;
  const double ulo = std::max(std::min(u1, u2) - m, double(umin)), uhi = std::min(std::max(u1, u2) + m, double(umax));
  if (ulo > uhi) return;
  for (int u = int(std::ceil(ulo)); u <= int(std::floor(uhi)); u++) {
    const double t = std::clamp((u - u1) / du, 0.0, 1.0);
    const double vc = v1 + t * dv;
    const double vlo = std::max(vc - half, double(vmin)), vhi = std::min(vc + half, double(vmax));
    if (vlo > vhi) continue;
    for (int v = int(std::ceil(vlo)); v <= int(std::floor(vhi)); v++) {
      const int x = shallow ? u : v, y = shallow ? v : u;
      const double d2 = seg_distance2(x, y, p1.x, p1.y, dx, dy, len2) * inv_r2;
      if (d2 > reach * reach) continue;
      const int32_t p = to_coverage(std::exp(-d2) * intensity);
      if (p) blend(pixel_at(fb, x, y), colour, p);
    }
  }
}

void draw_line_thin_short(xy_t p1, xy_t p2, double u1, double u2, double radius, lrgb_t colour, blend_func_t blend,
                          double intensity) noexcept {
  if (!(u1 < u2)) return;
  const xy_t a{p1.x + u1 * (p2.x - p1.x), p1.y + u1 * (p2.y - p1.y)};
  const xy_t b{p1.x + u2 * (p2.x - p1.x), p1.y + u2 * (p2.y - p1.y)};
  draw_line_thin(a, b, radius, colour, blend, intensity);
}

void draw_circle(int circlemode, xy_t pos, double circrad, double radius, lrgb_t colour, blend_func_t blend,
                 double intensity) noexcept {
  framebuffer_t *fb = target();
  if (!fb || !finite({pos.x, pos.y, circrad, radius}) || !(radius > 0) || circrad < 0) return;
  const double reach = circrad + kReach * radius, inv_r = 1.0 / radius;
  // Pixels whose distance from the centre lies outside [near, far] get no
  // coverage at all (the edge is below half a level there): they are passed
  // over by their squared distance, before any square root or exponential.
  const double k = gaussian_reach(circlemode == 0 ? 0.5 * std::fabs(intensity) : std::fabs(intensity));
  const double far = (circrad + k * radius) * (1.0 + 1e-9) + 1e-9, near = (circrad - k * radius) * (1.0 - 1e-9) - 1e-9;
  const double far2 = far * far, near2 = near > 0.0 && circlemode != 0 ? near * near : -1.0;
  auto outside = [&](double x, double y) {
    const double q = (x - pos.x) * (x - pos.x) + (y - pos.y) * (y - pos.y);
    return q > far2 || q < near2;
  };
  if (circlemode == 0) {
    shade_box(fb, pos.x - reach, pos.y - reach, pos.x + reach, pos.y + reach, colour, blend, intensity,
              [&](double x, double y) {
                return outside(x, y) ? 0.0 : edge(std::hypot(x - pos.x, y - pos.y) - circrad, radius);
              });
  } else {
    shade_box(fb, pos.x - reach, pos.y - reach, pos.x + reach, pos.y + reach, colour, blend, intensity,
              [&](double x, double y) {
                if (outside(x, y)) return 0.0;
                const double d = (std::hypot(x - pos.x, y - pos.y) - circrad) * inv_r;
                return std::exp(-d * d);
              });
  }
}

void draw_roundrect(rect_t box, double corner, double radius, lrgb_t colour, blend_func_t blend,
                    double intensity) noexcept {
  framebuffer_t *fb = target();
  if (!fb || !finite({box.p0.x, box.p0.y, box.p1.x, box.p1.y, corner, radius}) || !(radius > 0)) return;
  const rect_t b = normalised(box);
  const double m = kReach * radius;
  shade_box(fb, b.p0.x - m, b.p0.y - m, b.p1.x + m, b.p1.y + m, colour, blend, intensity,
            [&](double x, double y) { return edge(roundbox_sd(x, y, b, corner), radius); });
}

void draw_titled_roundrect_frame(xy_t pos, double radius, xyi_t c, xy_t space, lrgb_t colour,
                                 blend_func_t blend) noexcept {
  draw_titled_roundrect_frame_scaled(pos, radius, c, space, colour, blend, 1.0);
}

void draw_titled_roundrect_frame_scaled(xy_t pos, double radius, xyi_t c, xy_t space, lrgb_t colour,
                                        blend_func_t blend, double k) noexcept {
  framebuffer_t *fb = target();
  if (!fb || !finite({pos.x, pos.y, radius, space.x, space.y, k}) || !(radius > 0) || !(k > 0)) return;
  const xy_t outer0{pos.x - 0.5 * (space.x - 3.5 * k) - 0.5 * k, pos.y - 0.5 * (space.y - 3.5 * k) - 3.5 * k};
  const xy_t outer1{outer0.x + (space.x - 3.5 * k) + (c.x - 1) * space.x,
                    outer0.y + (space.y - 3.5 * k) + (c.y - 1) * space.y};
  const rect_t outer = normalised({outer0, outer1});
  const rect_t inner = normalised({{outer0.x + 1.0 * k, outer0.y + 17.5 * k}, {outer1.x - 1.0 * k, outer1.y - 1.0 * k}});
  const double m = kReach * radius;
  shade_box(fb, outer.p0.x - m, outer.p0.y - m, outer.p1.x + m, outer.p1.y + m, colour, blend, 1.0,
            [&](double x, double y) {
              return std::max(0.0, edge(roundbox_sd(x, y, outer, 9.0 * k), radius) -
                                       edge(roundbox_sd(x, y, inner, 8.0 * k), radius));
            });
}

void draw_black_rect(rect_t box, double radius, double intensity) noexcept {
  draw_roundrect(box, 0.0, radius, lrgb_t{0, 0, 0, 32768}, blend_blend, intensity);
}

void blit_sprite(const raster_t *sprite, xyi_t pos, blend_func_t blend, int hmode, int vmode) noexcept {
  framebuffer_t *fb = target();
  if (!fb || !sprite || !sprite->l || sprite->w <= 0 || sprite->h <= 0 || !blend) return;
  const int64_t left = hmode == 0 ? int64_t(pos.x) - sprite->w / 2 : hmode == 2 ? int64_t(pos.x) - sprite->w : pos.x;
  const int64_t top = vmode == 0 ? int64_t(pos.y) - sprite->h / 2 : vmode == 4 ? int64_t(pos.y) - sprite->h + 1 : pos.y;
  const pixel_bounds b = bounds_of(fb);
  const int64_t x0 = std::max<int64_t>(left, b.x0), x1 = std::min<int64_t>(left + sprite->w, int64_t(b.x1) + 1);
  const int64_t y0 = std::max<int64_t>(top, b.y0), y1 = std::min<int64_t>(top + sprite->h, int64_t(b.y1) + 1);
  for (int64_t y = y0; y < y1; y++) {
    const lrgb_t *src = sprite->l + size_t(y - top) * size_t(sprite->w) + size_t(x0 - left);
    lrgb_t *dst = pixel_at(fb, int(x0), int(y));
    if (blend == blend_solid) {
      std::copy(src, src + (x1 - x0), dst);
      continue;
    }
    for (int64_t x = x0; x < x1; x++) blend(dst++, *src++, 32768);
  }
}

void blit_overlay(const raster_t *layer) noexcept {
  framebuffer_t *fb = target();
  if (!fb || !layer || !layer->l) return;
  const int w = std::min(fb->r.w, layer->w), h = std::min(fb->r.h, layer->h);
  for (int y = 0; y < h; y++) {
    const lrgb_t *src = layer->l + size_t(y) * size_t(layer->w);
    lrgb_t *dst = fb->r.l + size_t(y) * size_t(fb->r.w);
    for (int x = 0; x < w; x++) {
      const int64_t a = src[x].a;
      if (a == 0) continue;
      if (a >= 32768) {
        dst[x].r = src[x].r, dst[x].g = src[x].g, dst[x].b = src[x].b;
        continue;
      }
      dst[x].r = uint16_t(dst[x].r + (((int64_t(src[x].r) - dst[x].r) * a) >> 15));
      dst[x].g = uint16_t(dst[x].g + (((int64_t(src[x].g) - dst[x].g) * a) >> 15));
      dst[x].b = uint16_t(dst[x].b + (((int64_t(src[x].b) - dst[x].b) * a) >> 15));
    }
  }
}

// Where row y starts in the dither table: a fixed sequence, so the same
// picture gets the same dither (frames and snapshots are reproducible, a still
// picture does not shimmer), and any rectangle converts exactly as it would
// as part of the whole frame. Each row starts at its own place in the noise
// table, so no pattern lines up from row to row.
uint32_t vl_row_dither_start(int y) noexcept {
  constexpr int kRows = 4096;
  static const struct starts {
    uint32_t at[kRows];
    starts() {
      uint32_t rng = 0x9E3779B9u;
      for (uint32_t &a : at) rng ^= rng << 13, rng ^= rng >> 17, rng ^= rng << 5, a = rng;
    }
  } s;
  if (y < kRows) return s.at[y] & 16383;
  uint32_t rng = s.at[kRows - 1];
  for (int i = kRows - 1; i < y; i++) rng ^= rng << 13, rng ^= rng >> 17, rng ^= rng << 5;
  return rng & 16383;
}

void convert_lrgb_to_g22(int mode) noexcept {
  framebuffer_t *fb = target();
  if (!fb) return;
  convert_lrgb_to_g22_rect(mode, 0, 0, fb->r.w, fb->r.h);
}

void convert_lrgb_to_g22_rect(int mode, int x0, int y0, int x1, int y1) noexcept {
  framebuffer_t *fb = target();
  if (!fb || !fb->r.srgb) return;
  x0 = std::max(x0, 0), y0 = std::max(y0, 0), x1 = std::min(x1, fb->r.w), y1 = std::min(y1, fb->r.h);
  if (x0 >= x1 || y0 >= y1) return;
  const size_t w = size_t(fb->r.w);
  uint8_t *out = reinterpret_cast<uint8_t *>(fb->r.srgb);
  for (int y = y0; y < y1; y++)
    vl_convert_row(fb->r.l + size_t(y) * w + size_t(x0), out + (size_t(y) * w + size_t(x0)) * 4, x1 - x0,
                   vl_row_dither_start(y) + uint32_t(x0), mode == 1);
}

rect_t make_rect_centred(xy_t centre, xy_t size) noexcept {
  return {{centre.x - 0.5 * size.x, centre.y - 0.5 * size.y}, {centre.x + 0.5 * size.x, centre.y + 0.5 * size.y}};
}
