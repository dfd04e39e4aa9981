// Thread-local current toolkit state and per-editor contexts.
#include "vl_gui_context.h"

#include <cstring>

namespace {
vl_thread_state_t fresh_state() {
  vl_thread_state_t s{};
  s.zoom.scale = 1.0;
  s.zoom.drawing_thickness = 1.0;
  return s;
}

thread_local vl_thread_state_t t_state = fresh_state();
thread_local vl_gui_context_t *t_bound = nullptr;

void save_into(vl_gui_context_t *ctx) {
  ctx->fb = t_state.fb;
  ctx->zoom = t_state.zoom;
  ctx->mouse = t_state.mouse;
  ctx->cur_te = t_state.cur_te;
  ctx->prev_te = t_state.prev_te;
  ctx->next_te = t_state.next_te;
}

void load_from(const vl_gui_context_t *ctx) {
  t_state.fb = ctx->fb;
  t_state.zoom = ctx->zoom;
  t_state.mouse = ctx->mouse;
  t_state.cur_te = ctx->cur_te;
  t_state.prev_te = ctx->prev_te;
  t_state.next_te = ctx->next_te;
}
}  // namespace

vl_thread_state_t &vl_current() noexcept { return t_state; }

void vl_gui_context_init(vl_gui_context_t *ctx) noexcept {
  if (!ctx) return;
  std::memset(ctx, 0, sizeof *ctx);
  ctx->zoom.scale = 1.0;
  ctx->zoom.drawing_thickness = 1.0;
  ctx->initialised = 1;
}

void vl_gui_context_destroy(vl_gui_context_t *ctx) noexcept {
  if (!ctx) return;
  if (t_bound == ctx) {
    t_bound = nullptr;
    t_state = fresh_state();
  }
  ctx->initialised = 0;
}

vl_gui_context_t *vl_gui_context_bind(vl_gui_context_t *ctx) noexcept {
  vl_gui_context_t *prev = t_bound;
  if (prev == ctx) return prev;
  if (prev) save_into(prev);
  if (ctx)
    load_from(ctx);
  else
    t_state = fresh_state();
  t_bound = ctx;
  return prev;
}

vl_gui_context_t *vl_gui_context_bound() noexcept { return t_bound; }

void init_zoom(vl_zoom_t *z, const vl_mouse_t *m, double drawing_thickness) noexcept {
  (void)m;
  if (!z) return;
  z->scale = 1.0;
  z->offset_x = z->offset_y = 0.0;
  z->drawing_thickness = drawing_thickness;
}

void calc_screen_limits(vl_zoom_t *z) noexcept {
  if (!z) return;
  const framebuffer_t *fb = t_state.fb;
  double w = fb ? fb->w : 0, h = fb ? fb->h : 0;
  double s = z->scale > 0 ? z->scale : 1.0;
  z->limit_l[0] = -z->offset_x / s;
  z->limit_l[1] = -z->offset_y / s;
  z->limit_u[0] = (w - z->offset_x) / s;
  z->limit_u[1] = (h - z->offset_y) / s;
}

int ctrl_textedit(textedit_t *te, rect_t box) noexcept {
  if (!te) return 0;
  vl_thread_state_t &st = vl_current();
  const vl_mouse_t &m = st.mouse;
  const bool focused = st.cur_te == te;
  if (focused && m.e_lmb > 0) {
    const bool inside = m.orig[0] >= box.p0.x && m.orig[0] <= box.p1.x && m.orig[1] >= box.p0.y && m.orig[1] <= box.p1.y;
    if (!inside) st.cur_te = nullptr;
  }
  int result = te->return_flag;
  if (st.cur_te != te && te->was_cur_te && !result) result = TE_FOCUS_LOST;
  te->was_cur_te = st.cur_te == te;
  te->return_flag = 0;
  return result == TE_RETURN || result == TE_FOCUS_LOST || result == TE_TAB ? result : 0;
}
