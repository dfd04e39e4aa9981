// Decoding the embedded bundle into fonts and images.
#include "graphics/resources.h"

#include <cmath>
#include <cstdio>
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

constexpr int kSheetCount = int(sizeof kTarvelonSheetSizes / sizeof kTarvelonSheetSizes[0]);
// Drawable fonts at each sheet's own size, per face (0 regular, 1 bold);
// entries 0 and 1 are the 12 and 15 pixel fonts of g.
font_t *g_sheets[2][kSheetCount] = {};
struct scaled_set {
  double s;
  tarvelon_font_set_t fonts;
};
// One per scale asked for, kept until unload (plain storage: no destructor
// at exit drops the only pointers to them).
constexpr size_t kMaxScaledSets = 32;
scaled_set g_scaled[kMaxScaledSets];
size_t g_scaled_count = 0;

font_t *sheet_locked(int face, int index) {
  if (index == 0) return face ? g.fbold12 : g.font12;
  if (index == 1) return face ? g.fbold15 : g.font15;
  font_t *&f = g_sheets[face][index];
  if (!f) {
    const font_t *metrics = face ? g.fbold : g.font_main;
    char path[64];
    std::snprintf(path, sizeof path, "resources/img/font/%s%d.png", face ? "bold" : "font", kTarvelonSheetSizes[index]);
    raster_t r = member_raster(path);
    f = make_font_size(metrics, kTarvelonSheetSizes[index], &r);
    if (!f) f = sheet_locked(face, index - 1);  // a missing sheet: the next smaller one
  }
  return f;
}

int sheet_index(double height) {
  int best = 0;
  for (int i = 1; i < kSheetCount; i++)
    if (std::fabs(std::log(height / kTarvelonSheetSizes[i])) < std::fabs(std::log(height / kTarvelonSheetSizes[best])))
      best = i;
  return best;
}

font_t *view_locked(int face, double height) {
  font_t *sheet = sheet_locked(face, sheet_index(height));
  if (!sheet) return nullptr;
  if (sheet->size == height) return sheet;
  return make_font_view(sheet, height);
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

int tarvelon_sheet_size_for(double height) noexcept {
  return (height > 0 && std::isfinite(height)) ? kTarvelonSheetSizes[sheet_index(height)] : kTarvelonSheetSizes[0];
}

tarvelon_font_set_t tarvelon_fonts_for_scale(double s) noexcept {
  if (s == 1.0 || !(s > 0.0) || !std::isfinite(s)) return {g.font12, g.font15, g.fbold12, g.fbold15};
  std::lock_guard<std::mutex> lock(g_mutex);
  const scaled_set *nearest = nullptr;
  for (size_t i = 0; i < g_scaled_count; i++) {
    const scaled_set &e = g_scaled[i];
    if (e.s == s) return e.fonts;
    if (!nearest || std::fabs(e.s - s) < std::fabs(nearest->s - s)) nearest = &e;
  }
  // A host that keeps changing the scale gets the nearest set once the cache
  // is full rather than an ever-growing list.
  if (g_scaled_count >= kMaxScaledSets && nearest) return nearest->fonts;
  scaled_set &e = g_scaled[g_scaled_count++];
  e = scaled_set{s, {view_locked(0, 12.0 * s), view_locked(0, 15.0 * s), view_locked(1, 12.0 * s), view_locked(1, 15.0 * s)}};
  return e.fonts;
}

raster_t tarvelon_load_logo_for_scale(double s) noexcept {
  int best = kTarvelonLogoScales[0];
  for (int pct : kTarvelonLogoScales)
    if (std::fabs(std::log(s * 100.0 / pct)) < std::fabs(std::log(s * 100.0 / best))) best = pct;
  char path[64];
  std::snprintf(path, sizeof path, "resources/img/logo%d.png", best);
  std::lock_guard<std::mutex> lock(g_mutex);
  return member_raster(path);
}

void tarvelon_unload_graphics_resources() noexcept {
  std::lock_guard<std::mutex> lock(g_mutex);
  // Views first: they borrow the sheets' planes.
  for (size_t i = 0; i < g_scaled_count; i++)
    for (font_t *f : {g_scaled[i].fonts.font12, g_scaled[i].fonts.font15, g_scaled[i].fonts.fbold12,
                      g_scaled[i].fonts.fbold15})
      if (f && f->borrowed) free_font(f);
  g_scaled_count = 0;
  for (auto &face : g_sheets)
    for (int i = 2; i < kSheetCount; i++) {
      // A missing sheet stands in with a smaller one: free each font once.
      bool dup = false;
      for (int j = 2; j < i; j++) dup = dup || face[j] == face[i];
      if (face[i] && !dup && face[i] != g.font12 && face[i] != g.font15 && face[i] != g.fbold12 &&
          face[i] != g.fbold15)
        free_font(face[i]);
    }
  for (auto &face : g_sheets)
    for (font_t *&f : face) f = nullptr;
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
