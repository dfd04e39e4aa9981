#include "vl_image.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <mutex>

#include "vl_colour.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#include "stb_image.h"  // Debian libstb-dev
#pragma GCC diagnostic pop

namespace {
// Static storage, not heap: a library can be unloaded without leaving it behind.
const uint16_t *srgb16_table() {
  static uint16_t t[65536];
  static std::once_flag once;
  std::call_once(once, [] {
    for (int v = 0; v < 65536; v++) t[v] = uint16_t(std::lround(srgb_to_linear(v / 65535.0) * 32768.0));
  });
  return t;
}
}  // namespace

raster_t load_image_mem_builtin(const void *raw_data, size_t size, int mode) noexcept {
  if (!raw_data || size == 0 || size > size_t(INT_MAX) || !(mode & VL_PLANE_L)) return make_raster_empty();
  int w = 0, h = 0, comp = 0;
  stbi_us *px = stbi_load_16_from_memory(static_cast<const stbi_uc *>(raw_data), int(size), &w, &h, &comp, 4);
  if (!px || w <= 0 || h <= 0) {
    stbi_image_free(px);
    return make_raster_empty();
  }
  raster_t r = make_raster(nullptr, w, h, mode);
  if (!r.l) {
    stbi_image_free(px);
    free_raster(&r);
    return make_raster_empty();
  }
  const uint16_t *lin = srgb16_table();
  const size_t n = size_t(w) * size_t(h);
  for (size_t i = 0; i < n; i++) {
    const stbi_us *s = px + 4 * i;
    r.l[i] = {lin[s[0]], lin[s[1]], lin[s[2]], uint16_t((uint32_t(s[3]) * 32768u + 32767u) / 65535u)};
  }
  stbi_image_free(px);
  return r;
}
