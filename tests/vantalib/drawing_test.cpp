#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "vl_blend.h"
#include "vl_colour.h"
#include "vl_draw.h"
#include "vl_gui_context.h"
#include "vl_pixel_kernels.h"

namespace {
// A framebuffer whose pixels sit inside canary rows and columns, so any write
// outside the raster shows up.
struct guarded_fb {
  static constexpr int pad = 8;
  static constexpr lrgb_t canary = {0xBEEF, 0xBEEF, 0xBEEF, 0xBEEF};
  int w, h;
  framebuffer_t fb{};
  guarded_fb(int w_, int h_) : w(w_), h(h_) {
    // Whole canary rows before and after the pixel block.
    inner.assign(size_t(w) * size_t(h) + 2 * size_t(pad * w), canary);
    fb.r.l = inner.data() + size_t(pad * w);
    for (size_t i = 0; i < size_t(w) * size_t(h); i++) fb.r.l[i] = lrgb_t{0, 0, 0, 0};
    fb.r.w = w, fb.r.h = h, fb.w = w, fb.h = h;
    vl_current().fb = &fb;
  }
  ~guarded_fb() { vl_current().fb = nullptr; }
  std::vector<lrgb_t> inner;
  bool canaries_intact() const {
    for (size_t i = 0; i < size_t(pad * w); i++) {
      const lrgb_t &a = inner[i], &b = inner[inner.size() - 1 - i];
      if (a.r != canary.r || a.a != canary.a || b.r != canary.r || b.a != canary.a) return false;
    }
    return true;
  }
  double total_green() const {
    double s = 0;
    for (int i = 0; i < w * h; i++) s += fb.r.l[i].g;
    return s / 32768.0;
  }
  const lrgb_t &at(int x, int y) const { return fb.r.l[size_t(y) * size_t(w) + size_t(x)]; }
};
}  // namespace

TEST(Blend, ArithmeticIsBitExactAndSaturates) {
  lrgb_t bg{1000, 20000, 32768, 100};
  blend_add(&bg, lrgb_t{40000, 100, 65535, 32768}, 32768);
  EXPECT_EQ(bg.r, 32768);  // saturates, never wraps
  EXPECT_EQ(bg.g, 20100);
  EXPECT_EQ(bg.a, 32768);
  lrgb_t b2{1000, 2000, 3000, 555};
  blend_blend(&b2, lrgb_t{32768, 0, 16384, 0}, 8192);
  EXPECT_EQ(b2.r, uint16_t((32768LL * 8192 + 1000LL * 24576) >> 15));
  EXPECT_EQ(b2.g, uint16_t((2000LL * 24576) >> 15));
  EXPECT_EQ(b2.a, 555);
  lrgb_t m{16384, 32768, 8000, 9};
  blend_mul(&m, lrgb_t{16384, 16384, 32768, 0}, 32768);
  EXPECT_EQ(m.r, 8192);
  EXPECT_EQ(m.g, 16384);
  EXPECT_EQ(m.b, 8000);
  lrgb_t af{0, 0, 0, 0};
  blend_alphablendfg(&af, lrgb_t{32768, 32768, 32768, 16384}, 32768);
  EXPECT_EQ(af.r, 16384);
  EXPECT_EQ(af.a, 8192);
  lrgb_t ao{7, 7, 7, 32768};
  blend_blendalphaonly(&ao, lrgb_t{0, 0, 0, 0}, 16384);
  EXPECT_EQ(ao.a, 16384);
  EXPECT_EQ(ao.r, 7);
}

TEST(Colour, ConstructorsAndBlowout) {
  EXPECT_EQ(make_colour_lin(1, 0.5, 0, 1).g, 16384);
  EXPECT_EQ(make_colour_g22rgb_l(255, 0, 128, 255).r, 32768);
  EXPECT_EQ(make_colour_g22rgb_l(128, 0, 0, 0).r, uint16_t(std::lround(std::pow(128 / 255.0, 2.2) * 32768)));
  uint32_t r = 100000, g = 100000, b = 100000;  // bright white: clipped to 1.0
  colour_blowout_int(&r, &g, &b);
  EXPECT_EQ(r, 32768u);
  uint32_t r2 = 60000, g2 = 1000, b2 = 1000;  // over-range red keeps its hue, comes into range
  colour_blowout_int(&r2, &g2, &b2);
  EXPECT_LE(r2, 32768u);
  EXPECT_GT(r2, g2);
  uint32_t big = 4000000000u, z = 0;  // products beyond 32 bits
  colour_blowout_int(&big, &z, &z);
  EXPECT_LE(big, 32768u);
  const frgb_t grey = hsl_to_frgb(120, 0, 0.4, 1, 0);
  EXPECT_NEAR(grey.r, 0.4, 1e-6);
  const frgb_t green = hsl_to_frgb(120, 1, 0.4, 1, 0);
  EXPECT_NEAR(0.16 * green.r + 0.73 * green.g + 0.11 * green.b, 0.4, 1e-6);
  EXPECT_EQ(rangewrap(370, 0, 360), 10);
  EXPECT_TRUE(std::isnan(rangewrap(NAN, 0, 1)));
}

TEST(Primitives, DrawingBeyondEveryEdgeStaysInsideTheRaster) {
  guarded_fb g(64, 48);
  const lrgb_t c = make_colour_lin(1, 1, 1, 1);
  const double far = 5e5;
  draw_line_thin({-far, -far}, {far, far}, 2.0, c, blend_add, 1.0);
  draw_line_thin({-10, 24}, {80, 24}, 3.0, c, blend_add, 1.0);
  draw_line_thin({30, -far}, {31, far}, 1.0, c, blend_add, 1.0);
  draw_line_thin({NAN, 0}, {10, 10}, 1.0, c, blend_add, 1.0);
  draw_circle(0, {0, 0}, 40, 1.0, c, blend_add, 1.0);
  draw_circle(2, {32, 24}, 1e6, 1.0, c, blend_add, 1.0);
  draw_roundrect({{-100, -100}, {200, 20}}, 10, 1.0, c, blend_blend, 1.0);
  draw_titled_roundrect_frame({-20, -20}, 1.0, {4, 4}, {40, 40}, c, blend_add);
  draw_black_rect({{60, 40}, {90, 90}}, 1.0, 0.98);
  raster_t sprite = make_raster(nullptr, 30, 30, VL_PLANE_L);
  blit_sprite(&sprite, {-5, -5}, blend_solid, 1, 1);
  blit_sprite(&sprite, {63, 47}, blend_add, 0, 0);
  free_raster(&sprite);
  EXPECT_TRUE(g.canaries_intact());
}

TEST(Primitives, LineWeightIsProportionalToLengthAndIndependentOfAngle) {
  std::vector<double> totals;
  for (double deg : {0.0, 13.0, 30.0, 45.0, 60.0, 77.0, 90.0}) {
    guarded_fb g(200, 200);
    const double a = deg * M_PI / 180;
    const xy_t c{100.3, 99.6};
    draw_line_thin({c.x - 60 * std::cos(a), c.y - 60 * std::sin(a)}, {c.x + 60 * std::cos(a), c.y + 60 * std::sin(a)},
                   0.8, make_colour_lin(0, 0.5, 0, 1), blend_add, 1.0);
    totals.push_back(g.total_green());
  }
  // length × the gaussian's integral across, plus the two half-disc caps
  const double expected = 0.5 * (120.0 * 0.8 * std::sqrt(M_PI) + M_PI * 0.64);
  for (double t : totals) EXPECT_NEAR(t / totals[0], 1.0, 0.03);
  EXPECT_NEAR(totals[0] / expected, 1.0, 0.05);
  guarded_fb shorter(200, 200);
  draw_line_thin({40, 100}, {100, 100}, 0.8, make_colour_lin(0, 0.5, 0, 1), blend_add, 1.0);
  EXPECT_NEAR(shorter.total_green() / totals[0], 0.5, 0.03);
}

TEST(Primitives, DiscCoverageMatchesItsAreaAndShapesAreSymmetric) {
  guarded_fb g(101, 101);
  draw_circle(0, {50, 50}, 20, 0.8, make_colour_lin(0, 1, 0, 1), blend_add, 1.0);
  EXPECT_NEAR(g.total_green() / (M_PI * 400), 1.0, 0.01);
  for (int d = 0; d < 30; d++) {
    EXPECT_EQ(g.at(50 + d, 50).g, g.at(50 - d, 50).g);
    EXPECT_EQ(g.at(50, 50 + d).g, g.at(50 + d, 50).g);
  }
  guarded_fb ring(101, 101);
  draw_circle(2, {50, 50}, 30, 1.0, make_colour_lin(0, 1, 0, 1), blend_add, 1.0);
  EXPECT_NEAR(ring.total_green() / (2 * M_PI * 30 * std::sqrt(M_PI)), 1.0, 0.02);
  EXPECT_EQ(ring.at(80, 50).g, ring.at(20, 50).g);
  EXPECT_EQ(ring.at(50, 80).g, ring.at(50, 20).g);
}

// Circles skip the pixels their edge cannot reach by distance alone; every
// pixel must still be what the edge formula gives it, for discs and rings,
// off-centre positions, thin and wide edges, faint and strong intensities.
TEST(Primitives, CirclesGiveEveryPixelTheCoverageOfTheirEdgeFormula) {
  for (int mode : {0, 2})
    for (double circrad : {0.0, 3.3, 5.8, 20.0})
      for (double radius : {0.4, 0.8, 2.5})
        for (double intensity : {1.0, 0.3, 1e-5, 2.5}) {
          guarded_fb g(64, 64);
          const xy_t c{31.37, 30.81};
          draw_circle(mode, c, circrad, radius, make_colour_lin(0, 1, 0, 1), blend_add, intensity);
          for (int y = 0; y < 64; y++)
            for (int x = 0; x < 64; x++) {
              const double sd = std::hypot(x - c.x, y - c.y) - circrad;
              const double cov = mode == 0 ? 0.5 * std::erfc(sd / radius) : std::exp(-(sd / radius) * (sd / radius));
              const bool reached = std::fabs(x - c.x) <= circrad + 3.6 * radius && std::fabs(y - c.y) <= circrad + 3.6 * radius;
              const double v = reached ? cov * intensity : 0.0;
              lrgb_t want{0, 0, 0, 0};
              if (v > 0.0) {
                const int32_t p = int32_t(std::min(32768L, std::lround(v * 32768.0)));
                if (p) blend_add(&want, make_colour_lin(0, 1, 0, 1), p);
              }
              ASSERT_EQ(g.at(x, y).g, want.g) << "mode " << mode << " circle " << circrad << " edge " << radius
                                              << " intensity " << intensity << " at " << x << "," << y;
            }
          EXPECT_TRUE(g.canaries_intact());
        }
}

// Lines likewise: every pixel within 3.6 radii of the segment takes the
// gaussian of its distance, whatever the angle, length and intensity.
TEST(Primitives, LinesGiveEveryPixelTheCoverageOfTheirGaussian) {
  const xy_t ends[][2] = {{{5.2, 7.9}, {58.3, 12.4}}, {{30.1, 2.2}, {33.7, 61.0}}, {{10.5, 50.5}, {50.5, 10.5}},
                          {{31.0, 31.0}, {31.4, 31.2}}};
  for (const auto &e : ends)
    for (double radius : {0.5, 0.8, 2.0})
      for (double intensity : {1.0, 0.4, 1e-5, 3.0}) {
        guarded_fb g(64, 64);
        draw_line_thin(e[0], e[1], radius, make_colour_lin(0, 1, 0, 1), blend_add, intensity);
        const double dx = e[1].x - e[0].x, dy = e[1].y - e[0].y, len2 = dx * dx + dy * dy;
        for (int y = 0; y < 64; y++)
          for (int x = 0; x < 64; x++) {
            const double t = std::clamp(((x - e[0].x) * dx + (y - e[0].y) * dy) / len2, 0.0, 1.0);
            const double ex = x - (e[0].x + t * dx), ey = y - (e[0].y + t * dy);
            const double d2 = (ex * ex + ey * ey) / (radius * radius);
            lrgb_t want{0, 0, 0, 0};
            if (d2 <= 3.6 * 3.6) {
              const int32_t p = int32_t(std::min(32768L, std::lround(std::exp(-d2) * intensity * 32768.0)));
              if (p) blend_add(&want, make_colour_lin(0, 1, 0, 1), p);
            }
            ASSERT_EQ(g.at(x, y).g, want.g) << "edge " << radius << " intensity " << intensity << " at " << x << ","
                                            << y;
          }
        EXPECT_TRUE(g.canaries_intact());
      }
}

TEST(Overlay, TransparentLayerLeavesTheTargetBitIdentical) {
  guarded_fb g(32, 16);
  for (int i = 0; i < 32 * 16; i++) g.fb.r.l[i] = lrgb_t{uint16_t(i * 37), uint16_t(i * 11), uint16_t(i), 9};
  const std::vector<lrgb_t> before(g.fb.r.l, g.fb.r.l + 32 * 16);
  raster_t layer = make_raster(nullptr, 32, 16, VL_PLANE_L);
  for (int i = 0; i < 32 * 16; i++) layer.l[i] = lrgb_t{30000, 1, 2, 0};
  blit_overlay(&layer);
  for (int i = 0; i < 32 * 16; i++) ASSERT_EQ(std::memcmp(&before[size_t(i)], &g.fb.r.l[i], sizeof(lrgb_t)), 0);
  layer.l[5].a = 32768;
  blit_overlay(&layer);
  EXPECT_EQ(g.fb.r.l[5].r, 30000);
  free_raster(&layer);
}

TEST(Output, BlackStaysBlackFullScaleIs255AndDitherAveragesToTheExactValue) {
  framebuffer_t fb{};
  fb.r = make_raster(nullptr, 256, 256, VL_PLANE_L | VL_PLANE_SRGB);
  fb.w = fb.h = 256;
  vl_current().fb = &fb;
  convert_lrgb_to_g22(1);
  const uint8_t *out = reinterpret_cast<const uint8_t *>(fb.r.srgb);
  for (size_t i = 0; i < 256 * 256 * 4; i++) ASSERT_EQ(out[i], 0);
  for (size_t i = 0; i < 256 * 256; i++) fb.r.l[i] = lrgb_t{40000, 32768, 32768, 0};
  convert_lrgb_to_g22(1);
  for (size_t i = 0; i < 256 * 256; i++) ASSERT_EQ(out[4 * i + 2], 255);
  for (size_t i = 0; i < 256 * 256; i++) fb.r.l[i] = lrgb_t{6000, 6000, 6000, 0};
  convert_lrgb_to_g22(1);
  double sum = 0;
  for (size_t i = 0; i < 256 * 256; i++) sum += out[4 * i + 1];
  EXPECT_NEAR(sum / (256 * 256), std::pow(6000 / 32768.0, 1 / 2.2) * 255, 0.05);
  EXPECT_EQ(out[3], 0);
  vl_current().fb = nullptr;
  free_raster(&fb.r);
}

namespace {
// Pixels a frame really holds: black, near-black around the dither threshold,
// ordinary light, full scale and over-range values.
std::vector<lrgb_t> awkward_pixels(size_t n, uint32_t seed) {
  std::vector<lrgb_t> v(n);
  const uint16_t picks[] = {0, 1, 3, 4, 9, 10, 32767, 32768, 32769, 40000, 65535};
  for (lrgb_t &p : v) {
    auto next = [&] {
      seed = seed * 1664525u + 1013904223u;
      return seed >> 8;
    };
    auto channel = [&]() -> uint16_t { return next() % 3 ? uint16_t(next() % 32769) : picks[next() % 11]; };
    p = lrgb_t{channel(), channel(), channel(), channel()};
  }
  return v;
}

struct kernel_scope {
  explicit kernel_scope(int32_t k) : ok(vl_use_pixel_kernel(k) != 0) {}
  ~kernel_scope() { vl_use_pixel_kernel(VL_KERNEL_AUTO); }
  bool ok;
};
}  // namespace

// The SIMD kernels must give exactly the portable kernels' bytes: every
// length (so every tail), dither runs across the table's wrap, odd offsets.
TEST(PixelKernels, Avx2GivesExactlyTheGenericResultForEveryLengthAndOffset) {
  if (!kernel_scope(VL_KERNEL_AVX2).ok) GTEST_SKIP() << "no AVX2 on this processor";
  const std::vector<lrgb_t> a = awkward_pixels(300, 1), b = awkward_pixels(300, 2), c = awkward_pixels(300, 3);
  std::vector<uint16_t> alpha(300);
  std::vector<int32_t> rows(300);
  for (size_t i = 0; i < alpha.size(); i++) {
    alpha[i] = (i % 7 < 3) ? 0 : uint16_t((i * 2654435761u >> 7) % 32769);
    rows[i] = int32_t(i * 40503u % 37) - 5;
  }
  // Candidates: some pixels match one (on r, g, b only: alpha differs), some
  // match none; one candidate is deliberately given a wrong code where no
  // pixel matches it, which must never be read.
  struct candidates {
    std::vector<uint64_t> colour[4], code[4];
    vl_column_codes of(int off) const {
      vl_column_codes c{};
      c.count = 4;
      for (int i = 0; i < 4; i++) c.colour[i] = colour[i].data() + off, c.code[i] = code[i].data() + off;
      return c;
    }
  } codes;
  for (int i = 0; i < 4; i++)
    for (size_t x = 0; x < a.size(); x++) {
      lrgb_t p = (x * 7 + size_t(i)) % 5 < 3 ? a[x] : b[x];
      if (i == 3) p.r ^= 1;
      codes.colour[i].push_back(uint64_t(p.r) | uint64_t(p.g) << 16 | uint64_t(p.b) << 32);
      codes.code[i].push_back(i == 3 ? 0x1234 : vl_pixel_code(p, vl_g22()));
    }
  for (int n = 0; n <= 70; n++)
    for (int off : {0, 1, 3, 5}) {
      std::vector<uint8_t> bytes[2], coded[2], direct[2];
      std::vector<lrgb_t> comp[2], grid[2], sel[2];
      for (int k = 0; k < 2; k++) {
        kernel_scope use(k == 0 ? VL_KERNEL_GENERIC : VL_KERNEL_AVX2);
        bytes[k].assign(size_t(n) * 4 + 8, 0xAB);
        vl_convert_row(a.data() + off, bytes[k].data(), n, uint32_t(16384 - 20 + off), 1);
        coded[k].assign(size_t(n) * 4 + 8, 0xCD);
        vl_convert_row_coded(a.data() + off, coded[k].data(), n, uint32_t(16384 - 20 + off), 1, codes.of(off));
        comp[k].assign(size_t(n) + 2, lrgb_t{1, 2, 3, 4});
        vl_composite_row(a.data() + off, b.data() + off, comp[k].data(), n);
        grid[k].assign(c.begin() + off, c.begin() + off + n + 2);
        vl_grid_row(grid[k].data(), alpha.data() + off, lrgb_t{2300, 2300, 32768, 0}, 23170 + n, n);
        sel[k].assign(size_t(n) + 2, lrgb_t{9, 9, 9, 9});
        vl_select_row(sel[k].data(), rows.data() + off, 7, a.data(), b.data(), n);
        direct[k].assign(size_t(n) * 4 + 8, 0xEF);
        vl_convert_row_select(rows.data() + off, 7, codes.code[0].data() + off, codes.code[1].data() + off,
                              direct[k].data(), n, uint32_t(16384 - 20 + off), 1);
      }
      // Straight from codes: the bytes of the selected pixels converted.
      std::vector<lrgb_t> chosen(static_cast<size_t>(n));
      for (int x = 0; x < n; x++) {
        const size_t i = size_t(x + off);
        const bool below = rows[i] < 7;
        auto colour_of = [&](int cand) { return (i * 7 + size_t(cand)) % 5 < 3 ? a[i] : b[i]; };
        chosen[size_t(x)] = below ? colour_of(0) : colour_of(1);
      }
      std::vector<uint8_t> want(size_t(n) * 4 + 8, 0xEF);
      {
        kernel_scope use(VL_KERNEL_GENERIC);
        vl_convert_row(chosen.data(), want.data(), n, uint32_t(16384 - 20 + off), 1);
      }
      ASSERT_EQ(direct[0], want) << "straight from codes, n " << n << " offset " << off;
      ASSERT_EQ(direct[0], direct[1]) << "straight from codes, n " << n << " offset " << off;
      ASSERT_EQ(bytes[0], bytes[1]) << "conversion, n " << n << " offset " << off;
      ASSERT_EQ(std::vector<uint8_t>(bytes[0].begin(), bytes[0].begin() + 4 * n),
                std::vector<uint8_t>(coded[1].begin(), coded[1].begin() + 4 * n))
          << "conversion with candidates, n " << n << " offset " << off;
      ASSERT_EQ(coded[0], coded[1]) << "n " << n << " offset " << off;
      auto same = [](const std::vector<lrgb_t> &x, const std::vector<lrgb_t> &y) {
        return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(lrgb_t)) == 0;
      };
      ASSERT_TRUE(same(comp[0], comp[1])) << "composite, n " << n << " offset " << off;
      ASSERT_TRUE(same(grid[0], grid[1])) << "grid, n " << n << " offset " << off;
      ASSERT_TRUE(same(sel[0], sel[1])) << "column fill, n " << n << " offset " << off;
    }
}

// A rectangle converts to exactly the bytes the whole frame has there, and
// nothing outside it is written: dirty rectangles cannot show seams.
TEST(Output, ARectangleConvertsExactlyAsPartOfTheWholeFrameAndTouchesNothingElse) {
  framebuffer_t fb{};
  fb.r = make_raster(nullptr, 301, 97, VL_PLANE_L | VL_PLANE_SRGB);
  fb.w = 301, fb.h = 97;
  const std::vector<lrgb_t> px = awkward_pixels(301 * 97, 11);
  std::copy(px.begin(), px.end(), fb.r.l);
  vl_current().fb = &fb;
  convert_lrgb_to_g22(1);
  const std::vector<srgb_t> whole(fb.r.srgb, fb.r.srgb + 301 * 97);
  for (auto [x0, y0, x1, y1] : {std::array{0, 0, 301, 97}, std::array{17, 5, 18, 6}, std::array{3, 40, 290, 96},
                                std::array{-50, -5, 400, 30}, std::array{100, 50, 90, 60}}) {
    std::fill(fb.r.srgb, fb.r.srgb + 301 * 97, srgb_t{1, 2, 3, 4});
    convert_lrgb_to_g22_rect(1, x0, y0, x1, y1);
    for (int y = 0; y < 97; y++)
      for (int x = 0; x < 301; x++) {
        const srgb_t got = fb.r.srgb[y * 301 + x];
        const bool inside = x >= x0 && x < x1 && y >= y0 && y < y1;
        const srgb_t want = inside ? whole[size_t(y * 301 + x)] : srgb_t{1, 2, 3, 4};
        ASSERT_EQ(std::memcmp(&got, &want, 4), 0) << x << "," << y << " rect " << x0 << "," << y0;
      }
  }
  vl_current().fb = nullptr;
  free_raster(&fb.r);
}
