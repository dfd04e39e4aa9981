// Portable pixel kernels, the tables they share, and the run-time choice.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <random>

#include "vl_pixel_kernels.h"

const vl_g22_tables &vl_g22(void) noexcept {
  static vl_g22_tables t;  // static storage: nothing to free at unload
  static std::once_flag once;
  std::call_once(once, [] {
    for (int v = 0; v < 32768 + 16; v++) {
      const long e = std::min(8160L, std::lround(std::pow(std::min(v, 32768) / 32768.0, 1.0 / 2.2) * 8160.0));
      t.encode[v] = uint16_t(e >= 8160 ? 8160 + 2048 : e);
    }
    std::mt19937 rng(0x7A2E1Du);
    std::normal_distribution<double> g(0.0, 1.0);
    for (int i = 0; i < 16384; i++) t.dither[i] = int16_t(std::lround(g(rng) * 22.6 + 16.0));
    for (int i = 0; i < 16; i++) t.dither[16384 + i] = t.dither[i];
  });
  return t;
}

uint64_t vl_pixel_code(lrgb_t px, const vl_g22_tables &t) noexcept {
  auto enc = [&](uint16_t v) { return uint64_t(t.encode[v > 32768 ? 32768 : v]); };
  const uint64_t bright = int(px.r) + px.g + px.b > 9 ? 0xFFFF : 0;
  return enc(px.b) | enc(px.g) << 16 | enc(px.r) << 32 | bright << 48;
}

namespace vl_generic {
void convert_row(const lrgb_t *src, uint8_t *dst, int n, uint32_t idx, int dither, const vl_g22_tables &t) {
  auto enc = [&](uint16_t v) { return int(t.encode[v > 32768 ? 32768 : v]); };
  auto byte = [](int e, int d) { return uint8_t(std::clamp((e + d) >> 5, 0, 255)); };
  for (int x = 0; x < n; x++, idx = (idx + 1) & 16383) {
    const lrgb_t px = src[x];
    // Black stays black: no dither on (nearly) dark pixels.
    const int d = (dither && int(px.r) + px.g + px.b > 9) ? t.dither[idx] : 0;
    dst[4 * x + 0] = byte(enc(px.b), d);
    dst[4 * x + 1] = byte(enc(px.g), d);
    dst[4 * x + 2] = byte(enc(px.r), d);
    dst[4 * x + 3] = 0;
  }
}

void convert_row_coded(const lrgb_t *src, uint8_t *dst, int n, uint32_t idx, int dither, const vl_column_codes &,
                       const vl_g22_tables &t) {
  convert_row(src, dst, n, idx, dither, t);  // the codes are what the table gives
}

void convert_row_select(const int32_t *rows, int32_t iy, const uint64_t *below, const uint64_t *above, uint8_t *dst,
                        int n, uint32_t idx, int dither, const vl_g22_tables &t) {
  for (int x = 0; x < n; x++, idx = (idx + 1) & 16383) {
    const uint64_t code = rows[x] < iy ? below[x] : above[x];
    const int d = (dither && (code >> 48)) ? t.dither[idx] : 0;
    for (int ch = 0; ch < 3; ch++) dst[4 * x + ch] = uint8_t(std::clamp((int((code >> (16 * ch)) & 0xFFFF) + d) >> 5, 0, 255));
    dst[4 * x + 3] = 0;
  }
}

void composite_row(const lrgb_t *f, const lrgb_t *p, lrgb_t *c, int n) {
  for (int x = 0; x < n; x++) {
    const int64_t a = p[x].a;
    if (a >= 32768) {
      c[x] = lrgb_t{p[x].r, p[x].g, p[x].b, f[x].a};
    } else if (a == 0) {
      c[x] = f[x];
    } else {
      c[x].r = uint16_t(f[x].r + (((int64_t(p[x].r) - f[x].r) * a) >> 15));
      c[x].g = uint16_t(f[x].g + (((int64_t(p[x].g) - f[x].g) * a) >> 15));
      c[x].b = uint16_t(f[x].b + (((int64_t(p[x].b) - f[x].b) * a) >> 15));
      c[x].a = f[x].a;
    }
  }
}

void grid_row(lrgb_t *row, const uint16_t *alpha, lrgb_t g, int64_t weight, int n) {
  for (int x = 0; x < n; x++) {
    if (!alpha[x]) continue;
    lrgb_t &p = row[x];
    const int64_t q = (int64_t(alpha[x]) * weight) >> 15, r = 32768 - q;
    p.r = uint16_t((p.r * r + g.r * q) >> 15);
    p.g = uint16_t((p.g * r + g.g * q) >> 15);
    p.b = uint16_t((p.b * r + g.b * q) >> 15);
  }
}

void select_row(lrgb_t *row, const int32_t *rows, int32_t iy, const lrgb_t *below, const lrgb_t *above, int n) {
  for (int x = 0; x < n; x++) row[x] = rows[x] < iy ? below[x] : above[x];
}
}  // namespace vl_generic

#if !(defined(__x86_64__) || defined(_M_X64))
namespace vl_avx2 {
void convert_row(const lrgb_t *src, uint8_t *dst, int n, uint32_t idx, int dither, const vl_g22_tables &t) {
  vl_generic::convert_row(src, dst, n, idx, dither, t);
}
void composite_row(const lrgb_t *f, const lrgb_t *p, lrgb_t *c, int n) { vl_generic::composite_row(f, p, c, n); }
void grid_row(lrgb_t *row, const uint16_t *alpha, lrgb_t g, int64_t weight, int n) {
  vl_generic::grid_row(row, alpha, g, weight, n);
}
void select_row(lrgb_t *row, const int32_t *rows, int32_t iy, const lrgb_t *below, const lrgb_t *above, int n) {
  vl_generic::select_row(row, rows, iy, below, above, n);
}
void convert_row_coded(const lrgb_t *src, uint8_t *dst, int n, uint32_t idx, int dither, const vl_column_codes &c,
                       const vl_g22_tables &t) {
  vl_generic::convert_row_coded(src, dst, n, idx, dither, c, t);
}
void convert_row_select(const int32_t *rows, int32_t iy, const uint64_t *below, const uint64_t *above, uint8_t *dst,
                        int n, uint32_t idx, int dither, const vl_g22_tables &t) {
  vl_generic::convert_row_select(rows, iy, below, above, dst, n, idx, dither, t);
}
}  // namespace vl_avx2
#endif

namespace {
bool cpu_has_avx2() {
#if defined(__x86_64__) || defined(_M_X64)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2;
#else
  return false;
#endif
}
std::atomic<int32_t> g_kernel{VL_KERNEL_AUTO};
bool use_avx2() { return g_kernel.load(std::memory_order_relaxed) != VL_KERNEL_GENERIC && cpu_has_avx2(); }
}  // namespace

int32_t vl_use_pixel_kernel(int32_t choice) noexcept {
  if (choice == VL_KERNEL_AVX2 && !cpu_has_avx2()) return 0;
  if (choice < VL_KERNEL_AUTO || choice > VL_KERNEL_AVX2) return 0;
  g_kernel.store(choice, std::memory_order_relaxed);
  return 1;
}

void vl_convert_row(const lrgb_t *src, uint8_t *dst, int n, uint32_t idx, int dither) noexcept {
  if (n <= 0) return;
  const vl_g22_tables &t = vl_g22();
  if (use_avx2()) return vl_avx2::convert_row(src, dst, n, idx & 16383, dither, t);
  vl_generic::convert_row(src, dst, n, idx & 16383, dither, t);
}
void vl_convert_row_coded(const lrgb_t *src, uint8_t *dst, int n, uint32_t idx, int dither,
                          const vl_column_codes &c) noexcept {
  if (n <= 0) return;
  const vl_g22_tables &t = vl_g22();
  if (use_avx2()) return vl_avx2::convert_row_coded(src, dst, n, idx & 16383, dither, c, t);
  vl_generic::convert_row_coded(src, dst, n, idx & 16383, dither, c, t);
}
void vl_convert_row_select(const int32_t *rows, int32_t iy, const uint64_t *below, const uint64_t *above,
                           uint8_t *dst, int n, uint32_t idx, int dither) noexcept {
  if (n <= 0) return;
  const vl_g22_tables &t = vl_g22();
  if (use_avx2()) return vl_avx2::convert_row_select(rows, iy, below, above, dst, n, idx & 16383, dither, t);
  vl_generic::convert_row_select(rows, iy, below, above, dst, n, idx & 16383, dither, t);
}
void vl_composite_row(const lrgb_t *f, const lrgb_t *p, lrgb_t *c, int n) noexcept {
  if (n <= 0) return;
  if (use_avx2()) return vl_avx2::composite_row(f, p, c, n);
  vl_generic::composite_row(f, p, c, n);
}
void vl_grid_row(lrgb_t *row, const uint16_t *alpha, lrgb_t g, int64_t weight, int n) noexcept {
  if (n <= 0) return;
  if (use_avx2()) return vl_avx2::grid_row(row, alpha, g, weight, n);
  vl_generic::grid_row(row, alpha, g, weight, n);
}
void vl_select_row(lrgb_t *row, const int32_t *rows, int32_t iy, const lrgb_t *below, const lrgb_t *above,
                   int n) noexcept {
  if (n <= 0) return;
  if (use_avx2()) return vl_avx2::select_row(row, rows, iy, below, above, n);
  vl_generic::select_row(row, rows, iy, below, above, n);
}
