// One editor frame, and the editor-only storage frames draw into.
#pragma once
#include <cstdint>

struct inst_t;

// Draws one frame into composite (its srgb plane holds the presented pixels
// when one is installed). Returns -1 in every case. [GUI thread] takes
// draw_reinit_sem for the frame, proc_reinit_sem only briefly
int32_t tarvelon_draw_frame(inst_t *ci) noexcept;

// The window-sized rasters exist only while an editor (or a snapshot) uses
// them: the first user allocates them and paints the static panel, the last
// one frees them. 1 when the rasters are there. [GUI thread]
int32_t tarvelon_editor_storage_acquire(inst_t *ci) noexcept;
void tarvelon_editor_storage_release(inst_t *ci) noexcept;

// Knob text entry drawn over the knobs; typed values arrive with the
// keyboard handling. [inside a frame]
void tarvelon_draw_knob_text_entries(inst_t *ci) noexcept;
