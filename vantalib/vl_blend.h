// The six blend operations the display draws with: (background pixel,
// foreground colour, coverage p in 0..32768). Integer arithmetic, >> 15.
#pragma once
#include <cstdint>

#include "vl_raster.h"

using blend_func_t = void (*)(lrgb_t *bg, lrgb_t fg, int32_t p);

inline uint16_t vl_clip32768(int64_t v) { return uint16_t(v > 32768 ? 32768 : (v < 0 ? 0 : v)); }

// The background becomes the foreground (coverage ignored).
inline void blend_solid(lrgb_t *bg, lrgb_t fg, int32_t) { *bg = fg; }

// bg += (fg·p + 16384) >> 15 on all four channels, saturating at 32768.
inline void blend_add(lrgb_t *bg, lrgb_t fg, int32_t p) {
  bg->r = vl_clip32768(int64_t(bg->r) + ((int64_t(fg.r) * p + 16384) >> 15));
  bg->g = vl_clip32768(int64_t(bg->g) + ((int64_t(fg.g) * p + 16384) >> 15));
  bg->b = vl_clip32768(int64_t(bg->b) + ((int64_t(fg.b) * p + 16384) >> 15));
  bg->a = vl_clip32768(int64_t(bg->a) + ((int64_t(fg.a) * p + 16384) >> 15));
}

// bg = (fg·p + bg·(32768 − p)) >> 15 on r, g, b; alpha unchanged.
inline void blend_blend(lrgb_t *bg, lrgb_t fg, int32_t p) {
  const int64_t q = 32768 - p;
  bg->r = uint16_t((int64_t(fg.r) * p + int64_t(bg->r) * q) >> 15);
  bg->g = uint16_t((int64_t(fg.g) * p + int64_t(bg->g) * q) >> 15);
  bg->b = uint16_t((int64_t(fg.b) * p + int64_t(bg->b) * q) >> 15);
}

// bg = (((fg·bg) >> 15)·p + bg·(32768 − p)) >> 15 on r, g, b; alpha unchanged.
inline void blend_mul(lrgb_t *bg, lrgb_t fg, int32_t p) {
  const int64_t q = 32768 - p;
  bg->r = uint16_t((((int64_t(fg.r) * bg->r) >> 15) * p + int64_t(bg->r) * q) >> 15);
  bg->g = uint16_t((((int64_t(fg.g) * bg->g) >> 15) * p + int64_t(bg->g) * q) >> 15);
  bg->b = uint16_t((((int64_t(fg.b) * bg->b) >> 15) * p + int64_t(bg->b) * q) >> 15);
}

// q = (p·fg.a) >> 15; all four channels: bg = (fg·q + bg·(32768 − q)) >> 15.
inline void blend_alphablendfg(lrgb_t *bg, lrgb_t fg, int32_t p) {
  const int64_t q = (int64_t(p) * fg.a) >> 15, r = 32768 - q;
  bg->r = uint16_t((int64_t(fg.r) * q + int64_t(bg->r) * r) >> 15);
  bg->g = uint16_t((int64_t(fg.g) * q + int64_t(bg->g) * r) >> 15);
  bg->b = uint16_t((int64_t(fg.b) * q + int64_t(bg->b) * r) >> 15);
  bg->a = uint16_t((int64_t(fg.a) * q + int64_t(bg->a) * r) >> 15);
}

// Only alpha: bg.a = (bg.a·(32768 − p) + fg.a·p) >> 15.
inline void blend_blendalphaonly(lrgb_t *bg, lrgb_t fg, int32_t p) {
  bg->a = uint16_t((int64_t(bg->a) * (32768 - p) + int64_t(fg.a) * p) >> 15);
}
