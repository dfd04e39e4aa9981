// The curve's per-pixel amounts: worked out by drawing the curve's segments
// onto black, a few columns at a time, and kept as one run of rows per column.
#include "graphics/curve_cover.h"

#include <algorithm>
#include <new>
#include <vector>

#include "graphics/layout.h"
#include "graphics/resources.h"
#include "system/instance.h"
#include "vl_blend.h"
#include "vl_draw.h"
#include "vl_gui_context.h"

struct tarvelon_curve_cover_t {
  // What the amounts were made from.
  std::vector<double> rows;
  double vxf = 0.0, vyf = 0.0, lw = 0.0;
  recti_t region{};
  // Column x of the region: rows [first[x], first[x] + count[x]) hold
  // amounts[offset[x] ...].
  std::vector<int32_t> first, count;
  std::vector<uint32_t> offset;
  std::vector<uint16_t> amounts;
};

namespace {
constexpr int32_t kChunk = 64;  // columns drawn at a time

bool pure_white(lrgb_t c) { return c.r == 32768 && c.g == 32768 && c.b == 32768 && c.a == 32768; }

bool same_key(const tarvelon_curve_cover_t &c, const inst_t *ci, const double *rows, double lw, recti_t region) {
  return c.vxf == ci->vxf && c.vyf == ci->vyf && c.lw == lw && c.region.p0.x == region.p0.x &&
         c.region.p0.y == region.p0.y && c.region.p1.x == region.p1.x && c.region.p1.y == region.p1.y &&
         c.rows.size() == size_t(ci->kVW) && std::equal(c.rows.begin(), c.rows.end(), rows);
}

// The segments as the frame draws them, one chunk of columns at a time onto a
// black strip; each column's touched rows become its run.
void build(tarvelon_curve_cover_t &c, const inst_t *ci, const double *rows, double lw, recti_t region) {
  c.rows.assign(rows, rows + ci->kVW);
  c.vxf = ci->vxf, c.vyf = ci->vyf, c.lw = lw, c.region = region;
  const int32_t W = region.p1.x - region.p0.x, H = region.p1.y - region.p0.y;
  c.first.assign(size_t(W), 0), c.count.assign(size_t(W), 0), c.offset.assign(size_t(W), 0);
  c.amounts.clear();
  std::vector<lrgb_t> strip(size_t(kChunk) * size_t(H), lrgb_t{0, 0, 0, 0});
  framebuffer_t fb{};
  fb.r = raster_t{strip.data(), kChunk, H, strip.size(), nullptr};
  fb.w = fb.maxdim_x = fb.realdim_x = kChunk;
  fb.h = fb.maxdim_y = fb.realdim_y = H;
  fb.pixel_scale = 1.0;
  const double reach = 3.6 * lw + 1.0;
  vl_target_scope scope(&fb);
  for (int32_t cx = region.p0.x; cx < region.p1.x; cx += kChunk) {
    const int32_t n = std::min(kChunk, region.p1.x - cx);
    fb.origin = xyi_t{cx, region.p0.y};
    fb.clip = recti_t{{cx, region.p0.y}, {cx + n, region.p1.y}}, fb.clip_on = 1;
    // Segment i spans x from vxf + i - 1 to vxf + i.
    const int32_t i0 = std::max(1, int32_t(cx - ci->vxf - reach)), i1 = std::min(ci->kVW - 1, int32_t(cx + n - ci->vxf + reach + 1));
    for (int32_t i = i0; i <= i1; i++)
      draw_line_thin(xy_t{ci->vxf + i, ci->vyf + rows[i]}, xy_t{ci->vxf + i - 1, ci->vyf + rows[i - 1]}, lw, white,
                     blend_add, 1.0);
    for (int32_t x = 0; x < n; x++) {
      int32_t y0 = 0, y1 = H;
      while (y0 < H && !strip[size_t(y0) * kChunk + size_t(x)].a) y0++;
      while (y1 > y0 && !strip[size_t(y1 - 1) * kChunk + size_t(x)].a) y1--;
      const size_t col = size_t(cx - region.p0.x + x);
      c.first[col] = region.p0.y + y0, c.count[col] = y1 - y0, c.offset[col] = uint32_t(c.amounts.size());
      for (int32_t y = y0; y < y1; y++) {
        lrgb_t &p = strip[size_t(y) * kChunk + size_t(x)];
        c.amounts.push_back(p.a);
        p = lrgb_t{0, 0, 0, 0};
      }
    }
  }
}
}  // namespace

namespace {
// The kept amounts for the region, up to date; null when the curve cannot be kept.
const tarvelon_curve_cover_t *kept_curve(inst_t *ci, recti_t &region) {
  const double *rows = ci && ci->spline_lut ? ci->spline_lut[2] : nullptr;
  if (!rows || ci->visual_width != ci->kVW || ci->kVW < 2 || !pure_white(white)) return nullptr;
  region.p0.x = std::max(region.p0.x, 0), region.p0.y = std::max(region.p0.y, 0);
  region.p1.x = std::min(region.p1.x, ci->fb.w), region.p1.y = std::min(region.p1.y, ci->fb.h);
  if (region.p0.x >= region.p1.x || region.p0.y >= region.p1.y) return nullptr;
  const double lw = 0.8 * tarvelon_ui_scale(ci);
  try {
    if (!ci->curve_cover) ci->curve_cover = new tarvelon_curve_cover_t;
    tarvelon_curve_cover_t &c = *ci->curve_cover;
    if (!same_key(c, ci, rows, lw, region)) build(c, ci, rows, lw, region);
  } catch (const std::bad_alloc &) {
    tarvelon_release_curve_cover(ci);
    return nullptr;
  }
  return ci->curve_cover;
}
}  // namespace

int32_t tarvelon_curve_runs(inst_t *ci, recti_t region, tarvelon_curve_runs_t *out) noexcept {
  if (!out) return 0;
  const tarvelon_curve_cover_t *c = kept_curve(ci, region);
  if (!c) return 0;
  *out = tarvelon_curve_runs_t{c->region, c->first.data(), c->count.data()};
  return 1;
}

int32_t tarvelon_add_curve(inst_t *ci, recti_t region, recti_t apply) noexcept {
  framebuffer_t *fb = vl_current().fb;
  if (!fb || !fb->r.l || !kept_curve(ci, region)) return 0;
  const tarvelon_curve_cover_t &c = *ci->curve_cover;
  const int32_t y0 = std::max({apply.p0.y, fb->origin.y, c.region.p0.y});
  const int32_t y1 = std::min({apply.p1.y, fb->origin.y + fb->r.h, c.region.p1.y});
  const int32_t xa = std::max({apply.p0.x, fb->origin.x, c.region.p0.x});
  const int32_t xb = std::min({apply.p1.x, fb->origin.x + fb->r.w, c.region.p1.x});
  for (int32_t x = xa; x < xb; x++) {
    const size_t col = size_t(x - c.region.p0.x);
    const int32_t a = std::max(y0, c.first[col]), b = std::min(y1, c.first[col] + c.count[col]);
    if (a >= b) continue;
    const uint16_t *v = c.amounts.data() + c.offset[col] + (a - c.first[col]);
    lrgb_t *p = fb->r.l + size_t(a - fb->origin.y) * size_t(fb->r.w) + size_t(x - fb->origin.x);
    for (int32_t y = a; y < b; y++, v++, p += fb->r.w) {
      p->r = vl_clip32768(int64_t(p->r) + *v), p->g = vl_clip32768(int64_t(p->g) + *v);
      p->b = vl_clip32768(int64_t(p->b) + *v), p->a = vl_clip32768(int64_t(p->a) + *v);
    }
  }
  return 1;
}

void tarvelon_release_curve_cover(inst_t *ci) noexcept {
  if (!ci) return;
  delete ci->curve_cover;
  ci->curve_cover = nullptr;
}
