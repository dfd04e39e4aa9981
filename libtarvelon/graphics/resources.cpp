// Decoding the embedded bundle into fonts and images.
#include "graphics/resources.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "vl_colour.h"
#include "vl_image.h"

extern const uint8_t tarvelon_fileball[];
extern const size_t tarvelon_fileball_size;

lrgb_t white, black, gui_col_def;

namespace {
tarvelon_graphics_t g{};
std::mutex g_mutex;  // loading and unloading; the objects are read-only afterwards

raster_t *load_member(const char *path) {
  auto *r = static_cast<raster_t *>(std::calloc(1, sizeof(raster_t)));
  if (!r) return nullptr;
  const fileball_subfile_t *m = fileball_find_subfile(&g.resources, path);
  *r = m ? load_image_mem_builtin(m->data, m->len, VL_PLANE_L) : make_raster_empty();
  return r;
}

raster_t member_raster(const char *path) {
  const fileball_subfile_t *m = fileball_find_subfile(&g.resources, path);
  return m ? load_image_mem_builtin(m->data, m->len, VL_PLANE_L) : make_raster_empty();
}

void load_font_set(font_t **metrics, font_t **f12, font_t **f15, const char *prefix, int spacing) {
  if (*metrics) return;
  const std::string base = std::string("resources/img/font/") + prefix;
  raster_t limits = member_raster((base + "48.png").c_str());
  *metrics = font_load(&limits, spacing);
  raster_t s12 = member_raster((base + "12.png").c_str());
  raster_t s15 = member_raster((base + "15.png").c_str());
  *f12 = make_font_size(*metrics, 12.0, &s12);
  *f15 = make_font_size(*metrics, 15.0, &s15);
}

void load_locked(const uint8_t *bundle, size_t size) {
  if (g.resources.file_count == 0 && !g.bundle_copy && bundle && size) {
    g.bundle_copy = static_cast<uint8_t *>(std::malloc(size));
    if (g.bundle_copy) {
      std::memcpy(g.bundle_copy, bundle, size);
      buffer_t b{g.bundle_copy, size, size};
      g.resources = fileball_extract_mem_to_struct(&b);
    }
  }
  load_font_set(&g.font_main, &g.font12, &g.font15, "font", 6);
  load_font_set(&g.fbold, &g.fbold12, &g.fbold15, "bold", 8);
  if (!g.bknob) {
    g.bknob = load_member("resources/img/black_knob.png");
    if (g.bknob) g.bknob->h /= 192;  // frame 0; frame k starts k·60·60 pixels into the plane
  }
  if (!g.light) g.light = load_member("resources/img/light.png");
  if (!g.logo) g.logo = load_member("resources/img/logo.png");
  if (!g.shade) g.shade = load_member("resources/img/shadow.png");
}

void release_raster(raster_t *&r) {
  if (r) free_raster(r);
  std::free(r);
  r = nullptr;
}
}  // namespace

void init_colours() noexcept {
  white = make_colour_g22rgb_l(255, 255, 255, 255);
  black = {0, 0, 0, 32768};
  gui_col_def = make_colour_g22rgb_l(64, 192, 255, 255);
}

void tarvelon_load_graphics_resources(inst_t *) noexcept {
  std::lock_guard<std::mutex> lock(g_mutex);
  init_colours();
  load_locked(tarvelon_fileball, tarvelon_fileball_size);
}

void tarvelon_load_graphics_resources_from(const uint8_t *bundle, size_t size) noexcept {
  std::lock_guard<std::mutex> lock(g_mutex);
  init_colours();
  load_locked(bundle, size);
}

const tarvelon_graphics_t &tarvelon_graphics() noexcept { return g; }

void tarvelon_unload_graphics_resources() noexcept {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (font_t **f : {&g.font_main, &g.font12, &g.font15, &g.fbold, &g.fbold12, &g.fbold15}) {
    free_font(*f);
    *f = nullptr;
  }
  if (g.bknob) g.bknob->h *= 192;
  for (raster_t **r : {&g.bknob, &g.light, &g.logo, &g.shade}) release_raster(*r);
  fileball_free(&g.resources);
  std::free(g.bundle_copy);
  g.bundle_copy = nullptr;
}
