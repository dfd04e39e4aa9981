// Draws a test card of the toolkit and the embedded resources into a PNG:
// lines at several radii and angles, discs and rings, round rectangles, the
// titled frame, each blend, text in the four fonts and alignments, knob frames,
// the clip light, logo and shadow. usage: tarvelon_testcard OUT.png
#include <cmath>
#include <cstdio>
#include <vector>

#include "graphics/resources.h"
#include "png_out.h"
#include "graphics/text.h"
#include "vl_colour.h"
#include "vl_draw.h"
#include "vl_gui_context.h"

namespace {
constexpr int W = 1060, H = 566;

void label(raster_t *r, font_t *f, double x, double y, int mode, const char *s) {
  char buf[kTextCapacity];
  std::snprintf(buf, sizeof buf, "%s", s);
  text_t t{f, x, y, buf, buf, mode, x, y, 0};
  blit_text(&t, r, make_colour_lin(0.8, 0.8, 0.8, 1), 1.0);
}

}  // namespace

int main(int argc, char **argv) {
  const char *out = argc > 1 ? argv[1] : "testcard.png";
  tarvelon_load_graphics_resources(nullptr);
  const tarvelon_graphics_t &g = tarvelon_graphics();
  framebuffer_t fb{};
  fb.r = make_raster(nullptr, W, H, VL_PLANE_L | VL_PLANE_SRGB);
  fb.w = W, fb.h = H;
  vl_current().fb = &fb;
  for (size_t i = 0; i < size_t(W) * H; i++) fb.r.l[i] = make_colour_lin(0.01, 0.011, 0.014, 1);
  const lrgb_t white_l = make_colour_lin(1, 1, 1, 1), orange = make_colour_g22rgb_l(255, 160, 40, 255);

  // Lines: a fan at radii 0.5, 0.8, 1.5, 3 with sub-pixel offsets.
  const double radii[] = {0.5, 0.8, 1.5, 3.0};
  for (int k = 0; k < 4; k++) {
    const xy_t c{70.0 + k * 130.0 + 0.3 * k, 90.0 + 0.25 * k};
    for (int a = 0; a < 24; a++) {
      const double t = a * M_PI / 12.0;
      draw_line_thin({c.x + 10 * std::cos(t), c.y + 10 * std::sin(t)}, {c.x + 55 * std::cos(t), c.y + 55 * std::sin(t)},
                     radii[k], white_l, blend_add, 0.8);
    }
    char s[32];
    std::snprintf(s, sizeof s, "radius %.1f", radii[k]);
    label(&fb.r, g.font12, c.x, c.y + 66, 0, s);
  }
  // Dashes.
  for (int i = 0; i < 10; i++)
    draw_line_thin_short({560, 40}, {1040, 60}, i * 0.1, i * 0.1 + 0.06, 0.8, orange, blend_add, 1.0);
  // Discs and rings.
  for (int i = 0; i < 6; i++) {
    draw_circle(0, {590.0 + i * 75, 120}, 4.0 + i * 5, 0.7, make_colour_lin(0.2, 0.5, 1.0, 1), blend_add, 1.0);
    draw_circle(2, {590.0 + i * 75, 200}, 4.0 + i * 5, 0.8 + 0.2 * i, white_l, blend_add, 0.9);
  }
  // Round rectangles, the titled frame and a black box.
  draw_roundrect({{40, 200}, {200, 260}}, 12, 1.0, make_colour_lin(0.05, 0.3, 0.1, 1), blend_blend, 1.0);
  draw_titled_roundrect_frame({280, 230}, 0.7, {3, 1}, {70, 70}, make_colour_lin(0.3, 0.3, 0.35, 1), blend_add);
  draw_black_rect({{60, 215}, {180, 245}}, 1.0, 0.98);
  // Each blend over a grey strip.
  blend_func_t blends[] = {blend_solid, blend_add, blend_blend, blend_mul, blend_alphablendfg, blend_blendalphaonly};
  const char *names[] = {"solid", "add", "blend", "mul", "alphablendfg", "alphaonly"};
  for (int i = 0; i < 6; i++) {
    const double x = 40 + i * 165.0;
    draw_roundrect({{x, 300}, {x + 140, 330}}, 0, 0.6, make_colour_lin(0.25, 0.25, 0.25, 1), blend_solid, 1.0);
    draw_circle(0, {x + 70, 315}, 12, 0.8, make_colour_lin(1.0, 0.3, 0.1, 0.5), blends[i], 0.7);
    label(&fb.r, g.font12, x + 70, 340, 0, names[i]);
  }
  // Text: four fonts, three alignments around a marker.
  font_t *fonts[] = {g.font12, g.font15, g.fbold12, g.fbold15};
  const int modes[] = {TEXT_LEFT, 0, TEXT_RIGHT, TEXT_RIGHT | TEXT_MIDDLE};
  for (int i = 0; i < 4; i++) {
    const double y = 380 + i * 24.0;
    draw_line_thin({300, y - 4}, {300, y + 18}, 0.5, orange, blend_add, 1.0);
    label(&fb.r, fonts[i], 300, y, modes[i], "Band A 1700 Hz -3.5 dB \xe9\xe8\xfc");
  }
  // Knob frames, the light, the logo and the shadow.
  raster_t frame = *g.bknob;
  for (int k = 0; k < 5; k++) {
    frame.l = g.bknob->l + size_t(k * 47) * 3600;
    blit_sprite(&frame, {640 + k * 70, 420}, blend_add, 0, 0);
  }
  blit_sprite(g.light, {1000, 420}, blend_alphablendfg, 0, 0);
  blit_sprite(g.logo, {860, 520}, blend_add, 0, 0);
  raster_t shade = *g.shade;
  blit_sprite(&shade, {120, 480}, blend_mul, 0, 0);
  convert_lrgb_to_g22(1);
  std::string error;
  const bool ok = write_presented_png(out, reinterpret_cast<const uint8_t *>(fb.r.srgb), W, H, &error);
  free_raster(&fb.r);
  if (!ok) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::printf("wrote %s\n", out);
  return 0;
}
