// Gaussian-edged drawing primitives. Every primitive draws into the current
// framebuffer of the bound toolkit context, clipped to it: shapes are drawn as
// if convolved with a gaussian exp(-(d/radius)²), so edges are antialiased and
// a line's weight does not depend on its angle or sub-pixel position.
// Coordinates are pixels, x right, y down, pixel centres at integers.
// [GUI thread] no allocation
#pragma once
#include "vl_blend.h"
#include "vl_raster.h"

void draw_line_thin(xy_t p1, xy_t p2, double radius, lrgb_t colour, blend_func_t blend, double intensity) noexcept;
// The part u1..u2 (fractions of p1→p2) of that segment; nothing if u1 >= u2.
void draw_line_thin_short(xy_t p1, xy_t p2, double u1, double u2, double radius, lrgb_t colour, blend_func_t blend,
                          double intensity) noexcept;
// circlemode 0: filled disc of radius circrad; 2: a ring of that radius.
void draw_circle(int circlemode, xy_t pos, double circrad, double radius, lrgb_t colour, blend_func_t blend,
                 double intensity) noexcept;
void draw_roundrect(rect_t box, double corner, double radius, lrgb_t colour, blend_func_t blend,
                    double intensity) noexcept;
// A frame 1 px wide at the sides and bottom with a 17.5 px title band, around
// c.x × c.y cells of pitch `space` whose first centre is `pos`.
void draw_titled_roundrect_frame(xy_t pos, double radius, xyi_t c, xy_t space, lrgb_t colour,
                                 blend_func_t blend) noexcept;
// The same frame with every length of it (borders, title band, corners)
// times k, for a UI drawn at k pixels per unit; k = 1 is the call above.
void draw_titled_roundrect_frame_scaled(xy_t pos, double radius, xyi_t c, xy_t space, lrgb_t colour,
                                        blend_func_t blend, double k) noexcept;
// Darkens the box towards black by `intensity`.
void draw_black_rect(rect_t box, double radius, double intensity) noexcept;
// hmode 0 centred, 2 right edge at pos.x, else left edge; vmode 0 centred, 4
// bottom row at pos.y, else top row.
void blit_sprite(const raster_t *sprite, xyi_t pos, blend_func_t blend, int hmode, int vmode) noexcept;
// Composites a layer of the framebuffer's size by its alpha.
void blit_overlay(const raster_t *layer) noexcept;
// The current framebuffer's l plane to its srgb plane (bytes b, g, r, 0);
// mode 1 dithers (never touching black), mode 0 does not.
void convert_lrgb_to_g22(int mode) noexcept;
// The same for the pixels of [x0, x1) × [y0, y1) only (clipped to the
// framebuffer), byte for byte what the whole conversion gives there.
void convert_lrgb_to_g22_rect(int mode, int x0, int y0, int x1, int y1) noexcept;
// Where the dither of window row y starts (pixel x of the row uses this + x):
// any rectangle converts exactly as it would as part of the whole frame.
uint32_t vl_row_dither_start(int y) noexcept;

rect_t make_rect_centred(xy_t centre, xy_t size) noexcept;
