// The editor's procedural artwork at any UI scale s: the knob frame, the clip
// light and the knob shadow. The resource generator draws the 1× images with
// these; an editor at another scale draws them itself at its size.
#pragma once
#include <cstdint>

#include "vl_raster.h"

struct inst_t;

// Side of the square knob frame, light and shadow images at scale s (60, 60
// and 240 at 1×). [any thread]
int32_t tarvelon_knob_art_size(double s) noexcept;
int32_t tarvelon_shadow_art_size(double s) noexcept;
// One knob frame, pointer at `degrees` (0 up, clockwise), into the current
// framebuffer, which is tarvelon_knob_art_size(s) square and black. [thread
// that owns the current target]
void tarvelon_draw_knob_art(double degrees, double s) noexcept;
// Linear colour (r, g, b) and alpha of the clip light at pixel (x, y).
void tarvelon_light_art(int32_t x, int32_t y, double s, double rgba[4]) noexcept;
// Linear grey of the knob shadow (multiplied onto the panel) at pixel (x, y).
double tarvelon_shadow_art(int32_t x, int32_t y, double s) noexcept;

// Artwork an editor at a scale other than 1 draws with: owned by the instance,
// made with its window-sized rasters and released with them.
struct tarvelon_scaled_art_t {
  double s;
  raster_t light, shade, logo;
  int32_t knob_px;                // side of one knob frame
  int32_t knob_frame[16];         // the frame each slot's cache holds, −1 none
  lrgb_t *knob_pix[16];
};
// The instance's artwork for its scale, made (or remade) on demand; null at
// scale 1 (the embedded images serve) or without memory. [GUI thread]
tarvelon_scaled_art_t *tarvelon_scaled_art(inst_t *ci) noexcept;
void tarvelon_release_scaled_art(inst_t *ci) noexcept;
// One knob frame (0..191) for a control slot at the instance's scale, drawn
// when the slot's cache holds another; null when it cannot be made.
const lrgb_t *tarvelon_scaled_knob_frame(inst_t *ci, int32_t slot, int32_t frame) noexcept;
