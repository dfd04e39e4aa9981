// Where the visualisation area and every knob of the editor lie for a window
// size, and the static panel painted behind the knobs.
#pragma once
#include <cstdint>

#include "vl_raster.h"

struct inst_t;

constexpr int32_t kEditorMinWidth = 780, kEditorMaxWidth = 3840;
constexpr int32_t kEditorMinHeight = 566, kEditorMaxHeight = 2160;
constexpr int32_t kEditorDefaultWidth = 1060, kEditorDefaultHeight = 566;

// The UI scale: window pixels per logical pixel. The editor's sizes above are
// logical (the maximum is also the pixel maximum); at scale s everything the
// editor draws or hit-tests is s times its 1× length. The largest scale keeps
// the logical minimum within the pixel maximum (566·s ≤ 2160).
constexpr double kUiScaleMin = 1.0, kUiScaleMax = 4.0;
// The instance's scale, 1 for a null instance or an unset one. [any thread]
double tarvelon_ui_scale(const inst_t *ci) noexcept;
// Clamps and stores a new scale (non-finite or non-positive gives 1); 1 when
// it changed. The caller then lays the editor out at its new pixel size
// (tarvelon_resize_editor). [GUI thread]
int32_t tarvelon_set_ui_scale(inst_t *ci, double s) noexcept;
// Pixel size for a logical size at the instance's scale, within the limits.
void tarvelon_logical_to_pixels(const inst_t *ci, int32_t lw, int32_t lh, int32_t *pw, int32_t *ph) noexcept;
// Logical size of a pixel size (rounded), for remembering it.
void tarvelon_pixels_to_logical(const inst_t *ci, int32_t pw, int32_t ph, int32_t *lw, int32_t *lh) noexcept;
// The pixel size limits at the instance's scale: the logical minimum scaled,
// the pixel maximum as it is.
void tarvelon_editor_pixel_limits(const inst_t *ci, int32_t *min_w, int32_t *min_h, int32_t *max_w,
                                  int32_t *max_h) noexcept;

// One knob slot of the side panel: its fixed label and, for the slot that
// opens a titled frame, the frame's title and cell count (0 when none).
struct tarvelon_slot_info_t {
  const char *label;
  const char *frame_title;
  int32_t frame_cells;
};
const tarvelon_slot_info_t &tarvelon_slot_info(int32_t slot) noexcept;

// Positions for a window of w×h (upper bounds applied here, the lower ones by
// the callers). 0 when the visual storage cannot take the new width; nothing
// changes then. Takes draw_reinit_sem then proc_reinit_sem. [GUI thread]
int32_t layout_pos(inst_t *ci, int32_t w, int32_t h, int32_t layout_type) noexcept;
// The remembered logical size (or the default) at the instance's scale.
int32_t layout_pos_from_saved_gui_size(inst_t *ci) noexcept;

// The static panel into `layout`, and `layout` into `finallayout` with the
// visualisation area made transparent. Nothing without rasters. [GUI thread]
void make_layout(inst_t *ci) noexcept;
void make_final_layout(inst_t *ci) noexcept;
void clear_visual_overlay_alpha(inst_t *ci, raster_t *overlay) noexcept;
// make_layout, the version text and make_final_layout.
void tarvelon_paint_static_panel(inst_t *ci) noexcept;

// Creation: the static panel (when rasters exist) and the instance's texts.
void tarvelon_init_layout_and_text(inst_t *ci, int32_t instance_number) noexcept;
// The instance's texts take the fonts and places of its scale.
void tarvelon_apply_ui_scale_to_texts(inst_t *ci) noexcept;
// 1 and the gap's rectangle when the panel has one.
int32_t tarvelon_get_sidebar_gap_rect(const inst_t *ci, rect_t *out) noexcept;

// An editor resize: new positions, a repainted static panel and everything
// recomputed by the next frame. 0 (nothing changed) when the layout fails.
// [GUI thread] takes draw_reinit_sem then proc_reinit_sem
int32_t tarvelon_resize_editor(inst_t *ci, int32_t w, int32_t h) noexcept;
