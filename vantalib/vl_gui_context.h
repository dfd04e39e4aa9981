// Per-editor toolkit state (current framebuffer, zoom, mouse, text focus) and
// the thread-local binding that makes one editor's state the current one.
#pragma once
#include "vl_raster.h"
#include "vl_textedit.h"

struct vl_mouse_t {
  double a[2];          // absolute pointer position in window pixels
  double u[2];          // position in world units
  double d[2];          // movement since the input frame began
  double orig[2];       // where the last left press of the frame was
  int window_focus_flag, mouse_focus_flag;  // 1 focused, -2 lost
  int b_lmb, b_rmb, b_mmb;  // button states: 1 held, 0 up
  int e_lmb, e_rmb, e_mmb;  // pressed during this input frame
  int r_lmb, r_rmb, r_mmb;  // released during this input frame
  int clicks;
  int mod_ctrl, mod_alt, mod_shift;
  double wheel;
};

struct vl_zoom_t {
  double scale;         // pixels per world unit
  double offset_x, offset_y;
  double drawing_thickness;
  double limit_u[2];    // world coordinates of the bottom-right screen corner
  double limit_l[2];    // and of the top-left
};

struct vl_gui_context_t {
  framebuffer_t *fb;
  vl_zoom_t zoom;
  vl_mouse_t mouse;
  textedit_t *cur_te, *prev_te, *next_te;
  int initialised;
};

// The state the current thread draws and reads input with. These are what the
// toolkit primitives use; a bound context is saved back into when unbound.
struct vl_thread_state_t {
  framebuffer_t *fb;
  vl_zoom_t zoom;
  vl_mouse_t mouse;
  textedit_t *cur_te, *prev_te, *next_te;
};
vl_thread_state_t &vl_current() noexcept;

// [GUI thread] no allocation
void vl_gui_context_init(vl_gui_context_t *ctx) noexcept;
// Unbinds the context if it is the bound one, so no binding outlives it.
void vl_gui_context_destroy(vl_gui_context_t *ctx) noexcept;
// Saves the thread state into the bound context, loads ctx (null unbinds) and
// returns the previously bound context.
vl_gui_context_t *vl_gui_context_bind(vl_gui_context_t *ctx) noexcept;
vl_gui_context_t *vl_gui_context_bound() noexcept;

// The text-edit control for a field shown in `box` (window pixels): a left
// press outside the box this frame takes the focus away. Returns the field's
// end of editing (TE_RETURN, TE_FOCUS_LOST, TE_TAB) once, else 0. [GUI thread]
int ctrl_textedit(textedit_t *te, rect_t box) noexcept;

// Rebuilds the zoom record from the window and thickness, and its screen limits.
void init_zoom(vl_zoom_t *z, const vl_mouse_t *m, double drawing_thickness) noexcept;
void calc_screen_limits(vl_zoom_t *z) noexcept;

// Makes another framebuffer the current drawing target for a scope.
class vl_target_scope {
 public:
  explicit vl_target_scope(framebuffer_t *fb) noexcept : saved_(vl_current().fb) { vl_current().fb = fb; }
  ~vl_target_scope() { vl_current().fb = saved_; }
  vl_target_scope(const vl_target_scope &) = delete;
  vl_target_scope &operator=(const vl_target_scope &) = delete;

 private:
  framebuffer_t *saved_;
};
