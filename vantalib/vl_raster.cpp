#include "vl_raster.h"

#include <cstdlib>

raster_t make_raster(void *data, int w, int h, int mode) noexcept {
  raster_t r{};
  if (w <= 0 || h <= 0) return r;
  const size_t n = size_t(w) * size_t(h);
  r.w = w;
  r.h = h;
  if (mode & VL_PLANE_L) {
    r.l = data ? static_cast<lrgb_t *>(data) : static_cast<lrgb_t *>(std::calloc(n, sizeof(lrgb_t)));
    r.as = r.l ? n : 0;
  }
  if (mode & VL_PLANE_SRGB) r.srgb = static_cast<srgb_t *>(std::calloc(n, sizeof(srgb_t)));
  return r;
}

raster_t make_raster_empty() noexcept { return raster_t{}; }

void free_raster(raster_t *r) noexcept {
  if (!r) return;
  std::free(r->l);
  std::free(r->srgb);
  *r = raster_t{};
}
