// One editor frame, and the editor-only storage frames draw into.
#pragma once
#include <cstdint>

#include "vl_raster.h"

struct inst_t;

// Draws one frame into composite (its srgb plane holds the presented pixels
// when one is installed). Returns -1 in every case. [GUI thread] takes
// draw_reinit_sem for the frame, proc_reinit_sem only briefly
int32_t tarvelon_draw_frame(inst_t *ci) noexcept;
// The same, drawing only about `budget` pixels of the frame's changes (0: all,
// as above); the rest is drawn by tarvelon_continue_frame on later calls, so a
// very large frame need not hold the GUI thread in one piece. The frame's
// dirty rectangles are complete once nothing is pending. A frame begun while
// one is pending also draws what that one left.
int32_t tarvelon_draw_frame_within(inst_t *ci, int64_t budget) noexcept;
// Draws about `budget` more pixels of a pending frame (0: all of it); 1 when
// nothing is left (a size or output change since the frame began drops the
// rest: the next frame redoes everything). [GUI thread] takes draw_reinit_sem
int32_t tarvelon_continue_frame(inst_t *ci, int64_t budget) noexcept;
int32_t tarvelon_frame_pending(const inst_t *ci) noexcept;
// The rectangles of the output plane the last frame changed (the whole
// window after a size change or a new output plane), at most `max` of them:
// what the window needs to be sent. Returns how many. [GUI thread]
int32_t tarvelon_frame_dirty_rects(const inst_t *ci, recti_t *out, int32_t max) noexcept;

// Every pixel of the output plane again from the layers as the last frame
// left them (no clock advances, nothing changes): the picture the changed
// rectangles must add up to. [GUI thread]
void tarvelon_redraw_whole_frame(inst_t *ci) noexcept;

// The window-sized rasters exist only while an editor (or a snapshot) uses
// them: the first user allocates them and paints the static panel, the last
// one frees them. 1 when the rasters are there. [GUI thread]
int32_t tarvelon_editor_storage_acquire(inst_t *ci) noexcept;
void tarvelon_editor_storage_release(inst_t *ci) noexcept;

// Knob text entry drawn over the knobs; typed values arrive with the
// keyboard handling. [inside a frame]
void tarvelon_draw_knob_text_entries(inst_t *ci) noexcept;
