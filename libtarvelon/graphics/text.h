// Bitmap-font text: glyphs from 72×48 coverage sheets resampled bilinearly to
// the drawing size and blended straight into a linear raster.
#pragma once
#include <cstdint>

#include "vl_raster.h"

struct inst_t;

struct font_t {
  int32_t w, h, c;  // cell width and height in sheet pixels (72, 48), glyph count (224: bytes 32..255)
  double size;      // drawn height in output pixels
  uint16_t *data;   // w·h·c coverage values (32768 = inked), null for metrics-only fonts
  int16_t *start;   // per glyph, sheet pixels
  int16_t *width;   // advance per glyph, sheet pixels
  int32_t borrowed; // 1: data, start and width belong to a shared sheet
};

enum : int32_t { TEXT_LEFT = 2, TEXT_RIGHT = 16, TEXT_MIDDLE = 64 };

struct text_t {
  font_t *font;
  double x, y;  // anchor in target pixels
  char *text;   // 512 bytes, zero-terminated
  char *text_prev;
  int32_t mode;  // TEXT_* flags; neither LEFT nor RIGHT: centred
  double x_prev, y_prev;
  int32_t redraw;
};
constexpr int kTextCapacity = 512;

// Metrics from a limits sheet (its pixel plane is released). Null for an
// empty or malformed sheet. [resource loading]
font_t *font_load(raster_t *data, int32_t spacing) noexcept;
// A drawable font: f0's metrics and the sheet's green channel as coverage.
// Null when the sheet does not match f0's geometry.
font_t *make_font_size(const font_t *f0, double height, raster_t *data) noexcept;
// A font drawing f's sheet at another height, sharing its planes (borrowed);
// null without memory. Free it before f.
font_t *make_font_view(const font_t *f, double height) noexcept;
void free_font(font_t *f) noexcept;

// Texts owned by the instance's allocation list. [GUI thread]
text_t *init_text(inst_t *ci, font_t *font, double x, double y, int32_t mode) noexcept;
void free_text(inst_t *ci, text_t *t) noexcept;
// Sum of advances in sheet pixels; 0 for an empty string or no font.
int32_t text_width(const char *text, const font_t *font) noexcept;
// Draws the text's string into the raster; nothing for an empty string or a
// font without coverage. Clipped to the raster.
// With a clip, only pixels inside it are drawn.
void blit_text(const text_t *t, raster_t *target, lrgb_t colour, double colintensity,
               const recti_t *clip = nullptr) noexcept;
// The same into a drawing target, where it lies in the window, inside its clip when on.
void blit_text_fb(const text_t *t, framebuffer_t *target, lrgb_t colour, double colintensity) noexcept;
// The pixels blit_text may touch for this text (unclipped); 0 and an empty
// box when it draws nothing.
int32_t text_extent(const text_t *t, recti_t *box) noexcept;
