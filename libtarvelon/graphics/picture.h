// The picture behind the panel: the spectrum fill, the grid, the band points,
// the curve and the response, painted a strip at a time. A frame prepares
// what every strip shares (column colours, the grid's strength, the list of
// overlays in drawing order) once; any rectangle of the picture can then be
// painted on its own and comes out as the whole picture has it there.
#pragma once
#include <cstdint>
#include <vector>

#include "vl_blend.h"
#include "vl_pixel_kernels.h"
#include "vl_raster.h"

struct inst_t;
struct tarvelon_band_view_t;

// One overlay as the frame drew it, kept to be drawn strip by strip.
struct tarvelon_overlay_t {
  enum kind_t : int32_t { line, circle, curve } kind;
  int32_t mode;  // circle mode
  xy_t a, b;     // line ends; a circle's centre in a
  double size, radius, intensity;
  lrgb_t colour;
  blend_func_t blend;
  recti_t box;  // the pixels it may touch
};

struct tarvelon_picture_t {
  bool recording = false;
  std::vector<tarvelon_overlay_t> overlays;
  // Spectrum colours by column (index ix + kSpectrumMargin); none when not painted.
  std::vector<lrgb_t> below, above;
  bool painted = false;
  int64_t grid_weight = 0;
  // Candidates for the conversion of the area's columns [0, kVW): fill over
  // and under the curve, then the same with the grid's common row (4 with a grid).
  std::vector<uint64_t> colour[4], code[4];
  int32_t candidates = 0;
  // Which pixels of the hole anything but fill and grid may touch, in groups
  // of 8 columns from hole.p0.x: one bit per group, `words` words per row
  // from hole.p0.y. Untouched groups are converted straight from the codes
  // of the fill under or over the curve, grid included.
  recti_t hole{};
  int32_t groups = 0, words = 0;
  std::vector<uint64_t> touched;
  std::vector<uint8_t> whole_rows;  // per hole row: no pixel of it follows the column rule
  bool planned = false;
};

// Everything a frame's strips share, after the tables: the column colours,
// the grid, and the overlays recorded (the band positions are worked out and
// the rings and dashes move on here). [GUI thread, inside a frame]
void tarvelon_prepare_picture(inst_t *ci, tarvelon_band_view_t *view) noexcept;
// Paints the picture into the pixels of `target` inside `r` (window
// coordinates; target's origin says where it lies). With `planned`, pixels
// of the hole no overlay touches are left as they are: the conversion
// (planned too) makes them from the codes. [GUI thread]
void tarvelon_paint_picture(inst_t *ci, framebuffer_t *target, recti_t r, bool planned = false) noexcept;
// Converts row y, columns [x0, x1), of target into the output plane `out`
// (window-sized, 4 bytes a pixel), with the column candidates inside the area.
void tarvelon_convert_picture_row(inst_t *ci, const framebuffer_t *target, uint8_t *out, int32_t out_w, int32_t y,
                                  int32_t x0, int32_t x1, bool planned = false) noexcept;
// Marks the pixels of `box` as touched by something drawn over the picture
// this frame, so planned painting leaves them to the pixels. [GUI thread]
void tarvelon_touch_picture(inst_t *ci, recti_t box) noexcept;
// Drawing an overlay: recorded while a frame prepares, else drawn into the
// current target at once.
void tarvelon_overlay_line(inst_t *ci, xy_t a, xy_t b, double radius, lrgb_t colour, blend_func_t blend,
                           double intensity) noexcept;
void tarvelon_overlay_line_part(inst_t *ci, xy_t a, xy_t b, double u1, double u2, double radius, lrgb_t colour,
                                blend_func_t blend, double intensity) noexcept;
void tarvelon_overlay_circle(inst_t *ci, int32_t mode, xy_t pos, double circrad, double radius, lrgb_t colour,
                             blend_func_t blend, double intensity) noexcept;
void tarvelon_overlay_curve(inst_t *ci) noexcept;
void tarvelon_release_picture(inst_t *ci) noexcept;

// Rows composed at a time: a window-wide strip stays in the cache.
constexpr int32_t kStripRows = 16;
