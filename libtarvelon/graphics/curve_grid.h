// The frequency and level grid with its axis labels, the band points with their
// handles and selection rings, the curve, and the realised response as a
// crawling dashed line.
#pragma once
#include <cstdint>

#include "state/eq.h"

struct inst_t;

// What the frame paints the bands from: a copy of the band records taken
// under the processing lock, so painting never reads what the audio thread
// may be rewriting. Screen positions are computed into the copy and stored
// back under the same short lock.
struct tarvelon_band_view_t {
  eq_t eqs[kSortedPointCount];
  int32_t count;  // enabled bands: eqs[1..count]
  int32_t selband, selband_on;
  int32_t hover, hover_id, hover_type;
};
void tarvelon_take_band_view(inst_t *ci, tarvelon_band_view_t *view) noexcept;       // [caller holds proc_reinit_sem]
void tarvelon_store_band_positions(inst_t *ci, const tarvelon_band_view_t *view) noexcept;  // takes proc_reinit_sem

// The grid layer and the axis labels in finallayout. [GUI thread]
void make_grids_lut(inst_t *ci) noexcept;
void draw_freq_grid(inst_t *ci) noexcept;
void draw_db_grid(inst_t *ci) noexcept;
void draw_db_dashed_line(inst_t *ci, double y, double intensity, int32_t is_84_shown) noexcept;
// The grid's coverage along area row iy (kVW values), or null without a grid
// layer of the area's size. [GUI thread]
const uint16_t *tarvelon_grid_alpha_row(const inst_t *ci, int32_t iy) noexcept;
void tarvelon_free_grid_alpha(inst_t *ci) noexcept;
// The grid's strength now (0..32768): it fades once the pointer has left, and
// is not drawn at all from a mouse-out time of 2 s on.
int64_t tarvelon_grid_weight(const inst_t *ci) noexcept;
// Handles, points, selection rings and the curve: recorded for the frame's
// strips while a frame prepares its picture, else drawn into the current target.
void draw_bezier(inst_t *ci, tarvelon_band_view_t *view, int32_t colscheme) noexcept;
// The designed filter's response as a dashed line, the same way.
void draw_dashed_fft(inst_t *ci, int32_t colscheme) noexcept;

// Vertical pixel of a curve value, without clamping (0 at the top).
double tarvelon_curve_row(const inst_t *ci, double v) noexcept;
