// The knob frame, clip light and knob shadow as functions of the UI scale:
// the 1× images in the bundle and the editor at other scales both come from here.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "graphics/artwork.h"
#include "vl_colour.h"
#include "vl_draw.h"

int32_t tarvelon_knob_art_size(double s) noexcept { return int32_t(std::lround(60.0 * s)); }
int32_t tarvelon_shadow_art_size(double s) noexcept { return int32_t(std::lround(240.0 * s)); }

void tarvelon_draw_knob_art(double degrees, double s) noexcept {
  const double o = (tarvelon_knob_art_size(s) - 1) * 0.5;  // the middle of the square
  const xy_t c{o, o};
  draw_circle(0, c, 24.0 * s, 1.4 * s, make_colour_lin(0.0, 0.0, 0.0, 1), blend_blend, 0.8);        // soft edge
  draw_circle(0, c, 22.0 * s, 0.8 * s, make_colour_lin(0.018, 0.018, 0.021, 1), blend_blend, 1.0);  // body
  draw_circle(0, xy_t{o, o - 3.0 * s}, 15.0 * s, 6.0 * s, make_colour_lin(0.03, 0.03, 0.035, 1), blend_add,
              1.0);                                                                                  // sheen
  draw_circle(2, c, 21.6 * s, 0.7 * s, make_colour_lin(0.10, 0.10, 0.11, 1), blend_add, 0.7);       // rim
  const double a = degrees * std::numbers::pi / 180.0;
  const xy_t d{std::sin(a), -std::cos(a)};
  draw_line_thin({c.x + 8.0 * s * d.x, c.y + 8.0 * s * d.y}, {c.x + 19.0 * s * d.x, c.y + 19.0 * s * d.y}, 1.1 * s,
                 make_colour_lin(0.85, 0.85, 0.85, 1), blend_add, 1.0);
}

void tarvelon_light_art(int32_t x, int32_t y, double s, double rgba[4]) noexcept {
  const double o = (tarvelon_knob_art_size(s) - 1) * 0.5;
  const double d = std::hypot(x - o, y - o) / s;
  const double core = 0.5 * std::erfc((d - 6.0) / 1.2), glow = std::exp(-(d / 13.0) * (d / 13.0));
  const double white = core * 0.6;
  rgba[0] = 1.0, rgba[1] = std::min(1.0, 0.12 + white), rgba[2] = std::min(1.0, 0.03 + white * 0.5);
  rgba[3] = std::min(1.0, core + 0.8 * glow);
}

double tarvelon_shadow_art(int32_t x, int32_t y, double s) noexcept {
  const double o = (tarvelon_shadow_art_size(s) - 1) * 0.5;
  const double d = std::hypot(x - o, y - (o + 4.0 * s)) / s;
  return 1.0 - 0.75 * std::exp(-std::pow(d / 62.0, 2.4));
}

