// Linear-light pixel rasters and the drawing-target records built on them.
#pragma once
#include <cstddef>
#include <cstdint>

// One pixel in linear light, 1.0 = 32768 per channel.
struct lrgb_t {
  uint16_t r, g, b, a;
};

struct raster_t {
  lrgb_t *l;   // pixels, row-major, may be null
  int w, h;    // dimensions in pixels
  size_t as;   // pixels allocated for l
};

// A drawing target: the raster plus the window primitives may draw into.
struct framebuffer_t {
  raster_t r;
  int w, h, maxdim_x, maxdim_y, realdim_x, realdim_y;
  double pixel_scale;
  double window_x0, window_y0, window_x1, window_y1;
};
