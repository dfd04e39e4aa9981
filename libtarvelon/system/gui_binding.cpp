// Binding an instance's toolkit context as the current one on this thread.
#include <cmath>

#include "system/instance.h"

vl_gui_context_t *tarvelon_bind_vantalib_gui_runtime(inst_t *ci) noexcept {
  if (!ci) return vl_gui_context_bound();
  vl_gui_context_t *prev = vl_gui_context_bind(&ci->vantalib_gui_context);
  ci->fb_ctx.pixel_scale = 1.0;
  vl_thread_state_t &cur = vl_current();
  cur.fb = &ci->fb_ctx;
  init_zoom(&cur.zoom, &cur.mouse, cur.zoom.drawing_thickness > 0 ? cur.zoom.drawing_thickness : 1.0);
  calc_screen_limits(&cur.zoom);
  return prev;
}

void tarvelon_prepare_vantalib_gui_runtime(inst_t *ci) noexcept {
  if (ci) tarvelon_bind_vantalib_gui_runtime(ci);
}

void tarvelon_restore_vantalib_gui_runtime(vl_gui_context_t *previous) noexcept { vl_gui_context_bind(previous); }

int32_t tarvelon_eq_value_changed(double a, double b) noexcept {
  if (!std::isfinite(a) || !std::isfinite(b)) return 1;
  return std::fabs(a - b) > std::fabs(a) * 1e-10 + 1e-8 ? 1 : 0;
}
