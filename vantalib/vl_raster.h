// Pixel formats, rasters and drawing targets. All drawing is in linear light
// with 1.0 = 32768 per 16-bit channel; only the final conversion produces
// gamma-encoded 8-bit pixels.
#pragma once
#include <cstddef>
#include <cstdint>

// One pixel in linear light, 1.0 = 32768 per channel.
struct lrgb_t {
  uint16_t r, g, b, a;
};
// Linear float colour, 1.0 = 1.0.
struct frgb_t {
  float r, g, b, a;
};
// Gamma-encoded output pixel; in a presented buffer the bytes are b, g, r, 0.
struct srgb_t {
  uint8_t r, g, b, a;
};

struct xy_t {
  double x, y;
};
struct xyi_t {
  int32_t x, y;
};
struct rect_t {
  xy_t p0, p1;
};
// Whole pixels [p0.x, p1.x) × [p0.y, p1.y).
struct recti_t {
  xyi_t p0, p1;
};

struct raster_t {
  lrgb_t *l;     // linear working plane, may be null
  int w, h;      // dimensions in pixels
  size_t as;     // pixels allocated for l
  srgb_t *srgb;  // output plane (bytes b, g, r, 0 per pixel), may be null
};

// A drawing target: the raster plus the window primitives may draw into.
struct framebuffer_t {
  raster_t r;
  int w, h, maxdim_x, maxdim_y, realdim_x, realdim_y;
  double pixel_scale;
  double window_x0, window_y0, window_x1, window_y1;
  // With clip_on, sprites draw only inside clip (a frame redrawing one
  // rectangle draws what overlaps it and nothing beyond).
  recti_t clip;
  int32_t clip_on;
  // Window position of the raster's first pixel: a raster holding a strip of
  // a larger picture draws exactly the pixels the whole picture would have
  // there, at the same coordinates. Lines, circles, boxes and sprites honour
  // it; everything else expects {0, 0}.
  xyi_t origin;
};

// Planes for make_raster.
enum : int { VL_PLANE_SRGB = 1, VL_PLANE_L = 2 };

// A raster of w×h with the named planes, zero-filled (malloc; free with
// free_raster). With data non-null the l plane adopts it. [any thread]
raster_t make_raster(void *data, int w, int h, int mode) noexcept;
raster_t make_raster_empty() noexcept;
void free_raster(raster_t *r) noexcept;
