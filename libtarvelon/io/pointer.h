// Pointer editing of the curve: hit test, grabbing and dragging band points
// and slope handles, adding and removing bands, zoom and pan of the frequency
// axis, the hover readout, and the toolkit's view of the pointer.
// Coordinates are window pixels. [GUI thread] Every handler ignores a null
// instance and takes proc_reinit_sem while it reads or writes bands.
#pragma once
#include <cstdint>

struct inst_t;

// Toolkit actions for tarvelon_on_vantalib_mouse_event.
enum tarvelon_mouse_action : int32_t {
  TV_MOUSE_MOVE = 0,
  TV_MOUSE_LEFT_DOWN,
  TV_MOUSE_LEFT_UP,
  TV_MOUSE_RIGHT_DOWN,
  TV_MOUSE_RIGHT_UP,
  TV_MOUSE_MIDDLE_DOWN,
  TV_MOUSE_MIDDLE_UP,
  TV_MOUSE_ENTER,
  TV_MOUSE_EXIT,
  TV_MOUSE_WHEEL,
};

// Nearest enabled band point or handle strictly closer than sqrt(*mindistp),
// only while (x, y) lies in the curve area; ties go to the lower band, then
// point before handle 1 before handle 2.
void tarvelon_find_nearest_control_handle(inst_t *ci, int32_t x, int32_t y, double *mindistp, int32_t *idp,
                                          int32_t *typep, int32_t *foundp) noexcept;

void tarvelon_on_mouse_down(inst_t *ci, int32_t x, int32_t y, int32_t left_button) noexcept;
void tarvelon_on_mouse_drag(inst_t *ci, int32_t x, int32_t y, int32_t dx, int32_t right_button, int32_t middle_button,
                            int32_t left_button) noexcept;
void tarvelon_on_mouse_dblclick(inst_t *ci, int32_t x, int32_t y, int32_t left_button) noexcept;
void tarvelon_on_mouse_wheel(inst_t *ci, int32_t x, int32_t y, int32_t wheel_delta) noexcept;
void tarvelon_on_mouse_over(inst_t *ci, int32_t x, int32_t y) noexcept;
void tarvelon_on_mouse_out(inst_t *ci) noexcept;
void tarvelon_on_mouse_up(inst_t *ci) noexcept;

// Parameter of knob control 1..15 (1..3 follow the selected band); -1 otherwise.
int32_t tarvelon_control_param_id(const inst_t *ci, int32_t ctrl_id) noexcept;
// Normalised change for a drag over a knob's rectangle; vertical drags grow upwards.
double tarvelon_knob_drag_delta(int32_t vertical_direction, double base_gearing, int32_t ctrl_down, int32_t shift_down,
                                double rect_l, double rect_t, double rect_r, double rect_b, double dx,
                                double dy) noexcept;
int32_t tarvelon_knob_should_prompt(int32_t right_button) noexcept;
int32_t tarvelon_knob_can_prompt(int32_t param_id, int32_t prompt_disabled) noexcept;
int32_t tarvelon_knob_prompt_uses_param_rect(int32_t display_text_count) noexcept;
void tarvelon_knob_text_prompt_rect(int32_t rect_l, int32_t rect_t, int32_t rect_r, int32_t rect_b, int32_t *out_l,
                                    int32_t *out_t, int32_t *out_r, int32_t *out_b) noexcept;

// The pointer as the toolkit sees it, updated as each event arrives. 1 (0 for
// a null instance).
int32_t tarvelon_on_vantalib_mouse_event(inst_t *ci, int32_t x, int32_t y, int32_t event_type, int32_t click_count,
                                         int32_t wheel_delta, int32_t ctrl_down, int32_t shift_down,
                                         int32_t alt_down) noexcept;
// Closes the toolkit's input frame before the frame's widgets run.
void tarvelon_begin_vantalib_gui_frame(inst_t *ci) noexcept;
void tarvelon_on_vantalib_focus_lost_event(inst_t *ci) noexcept;
