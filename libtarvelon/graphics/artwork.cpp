// Procedural knob, light and shadow artwork, and the per-instance cache of it
// drawn at the editor's scale.
#include "graphics/artwork.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "graphics/layout.h"
#include "graphics/resources.h"
#include "system/instance.h"
#include "vl_colour.h"
#include "vl_draw.h"
#include "vl_gui_context.h"

namespace {
constexpr int kKnobFrames = 192;

uint16_t channel(double v) { return uint16_t(std::lround(std::clamp(v, 0.0, 1.0) * 32768.0)); }

raster_t square(int32_t n) { return make_raster(nullptr, n, n, VL_PLANE_L); }

void free_art(tarvelon_scaled_art_t *a) {
  if (!a) return;
  free_raster(&a->light);
  free_raster(&a->shade);
  free_raster(&a->logo);
  for (lrgb_t *&p : a->knob_pix) {
    std::free(p);
    p = nullptr;
  }
  std::free(a);
}

bool make_art(tarvelon_scaled_art_t *a, double s) {
  a->s = s;
  a->knob_px = tarvelon_knob_art_size(s);
  for (int32_t &k : a->knob_frame) k = -1;
  const int32_t n = tarvelon_knob_art_size(s), m = tarvelon_shadow_art_size(s);
  a->light = square(n);
  a->shade = square(m);
  if (!a->light.l || !a->shade.l) return false;
  for (int32_t y = 0; y < n; y++)
    for (int32_t x = 0; x < n; x++) {
      double c[4];
      tarvelon_light_art(x, y, s, c);
      a->light.l[size_t(y) * size_t(n) + size_t(x)] = lrgb_t{channel(c[0]), channel(c[1]), channel(c[2]), channel(c[3])};
    }
  for (int32_t y = 0; y < m; y++)
    for (int32_t x = 0; x < m; x++) {
      const uint16_t v = channel(tarvelon_shadow_art(x, y, s));
      a->shade.l[size_t(y) * size_t(m) + size_t(x)] = lrgb_t{v, v, v, 32768};
    }
  a->logo = tarvelon_load_logo_for_scale(s);
  return true;
}
}  // namespace

tarvelon_scaled_art_t *tarvelon_scaled_art(inst_t *ci) noexcept {
  if (!ci) return nullptr;
  const double s = tarvelon_ui_scale(ci);
  if (s == 1.0 || ci->editor_users <= 0) {
    tarvelon_release_scaled_art(ci);
    return nullptr;
  }
  if (ci->scaled_art && ci->scaled_art->s == s) return ci->scaled_art;
  tarvelon_release_scaled_art(ci);
  auto *a = static_cast<tarvelon_scaled_art_t *>(std::calloc(1, sizeof(tarvelon_scaled_art_t)));
  if (!a) return nullptr;
  if (!make_art(a, s)) {
    free_art(a);
    return nullptr;
  }
  ci->scaled_art = a;
  return a;
}

void tarvelon_release_scaled_art(inst_t *ci) noexcept {
  if (!ci) return;
  free_art(ci->scaled_art);
  ci->scaled_art = nullptr;
}

const lrgb_t *tarvelon_scaled_knob_frame(inst_t *ci, int32_t slot, int32_t frame) noexcept {
  tarvelon_scaled_art_t *a = tarvelon_scaled_art(ci);
  if (!a || slot < 0 || slot >= 16 || frame < 0 || frame >= kKnobFrames) return nullptr;
  const int32_t n = a->knob_px;
  if (a->knob_frame[slot] == frame && a->knob_pix[slot]) return a->knob_pix[slot];
  if (!a->knob_pix[slot]) a->knob_pix[slot] = static_cast<lrgb_t *>(std::malloc(size_t(n) * size_t(n) * sizeof(lrgb_t)));
  if (!a->knob_pix[slot]) return nullptr;
  // Black around the knob: the frame is added onto the panel.
  std::fill(a->knob_pix[slot], a->knob_pix[slot] + size_t(n) * size_t(n), lrgb_t{0, 0, 0, 32768});
  raster_t r{a->knob_pix[slot], n, n, size_t(n) * size_t(n), nullptr};
  framebuffer_t fb{};
  sync_one_framebuffer(&fb, &r);
  {
    vl_target_scope scope(&fb);
    tarvelon_draw_knob_art(-135.0 + 270.0 * frame / (kKnobFrames - 1), a->s);
  }
  a->knob_frame[slot] = frame;
  return a->knob_pix[slot];
}
