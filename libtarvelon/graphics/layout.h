// Where the visualisation area and every knob of the editor lie for a window
// size, and the static panel painted behind the knobs.
#pragma once
#include <cstdint>

#include "vl_raster.h"

struct inst_t;

constexpr int32_t kEditorMinWidth = 780, kEditorMaxWidth = 3840;
constexpr int32_t kEditorMinHeight = 566, kEditorMaxHeight = 2160;
constexpr int32_t kEditorDefaultWidth = 1060, kEditorDefaultHeight = 566;

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
// 1 and the gap's rectangle when the panel has one.
int32_t tarvelon_get_sidebar_gap_rect(const inst_t *ci, rect_t *out) noexcept;

// An editor resize: new positions, a repainted static panel and everything
// recomputed by the next frame. 0 (nothing changed) when the layout fails.
// [GUI thread] takes draw_reinit_sem then proc_reinit_sem
int32_t tarvelon_resize_editor(inst_t *ci, int32_t w, int32_t h) noexcept;
