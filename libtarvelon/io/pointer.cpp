// Pointer editing of the curve.
#include "io/pointer.h"

#include <cmath>
#include <cstring>

#include "dsp/scales.h"
#include "graphics/knobs.h"
#include "graphics/layout.h"
#include "graphics/text.h"
#include "state/eq.h"
#include "state/params.h"
#include "system/host_callbacks.h"
#include "system/instance.h"
#include "vl_numtext.h"

namespace {
constexpr double kGrabRadius = 7.0;  // logical pixels
// The squared grab radius in window pixels at the instance's scale.
double grab_radius2(const inst_t *ci) {
  const double r = kGrabRadius * tarvelon_ui_scale(ci);
  return r * r;
}
constexpr double kLn20 = 2.995732273553991, kLn1000 = 6.907755278982137;
constexpr double kOctavesPerPitch = 9.965784284662087;
constexpr double kFadeStart = 1e-7;

bool in_area(const inst_t *ci, int32_t x, int32_t y) {
  return x >= ci->vx && x < ci->vx + ci->kVW && y >= ci->vy && y < ci->vy + ci->kVH;
}

double freq_at(const inst_t *ci, double x) {
  const tarvelon_hview_t hv = ci->hview.load();
  const double span = ci->kVW > 1 ? double(ci->kVW - 1) : 1.0;
  return hv.zmin * std::pow(10.0, (std::log10(hv.zmax) - std::log10(hv.zmin)) * (x - ci->vxf) / span);
}

double db_at(const inst_t *ci, double y) { return pix_to_db(ci, y - ci->vyf, ci->kVH); }
double pitch_of(double f) { return (std::log(f) - kLn20) / kLn1000; }
double param(inst_t *ci, int32_t id) { return tarvelon_host_get_param_value(ci, id); }

void start_fade(inst_t *ci) {
  if (ci->mouseout_time == 0.0) ci->mouseout_time = kFadeStart;
}

bool any_knob_field_open(const inst_t *ci) {
  for (int32_t i = 0; ci->knob_textedit_on && i < ci->knob_textedit_count; i++)
    if (ci->knob_textedit_on[i]) return true;
  return false;
}

void clear_readout(inst_t *ci) {
  if (ci->debug_txt && ci->debug_txt->text) ci->debug_txt->text[0] = 0;
}

// The knob's parameter changed by the pointer: the knob follows as user input.
void set_view_param(inst_t *ci, int32_t id, double v, int32_t ctrl) {
  tarvelon_host_set_param_value(ci, id, v);
  tarvelon_host_set_control_value_from_user_input(ci, ctrl, id);
}

void apply_zoom(inst_t *ci) {
  tarvelon_set_horizontal_zoom(ci, param(ci, TV_PARAM_HOR_ZOOM), param(ci, TV_PARAM_HOR_POSITION));
  ci->hzoom_changed = 1;
}

// Appends to a bounded buffer; the readout never formats into itself.
struct readout {
  char buf[kTextCapacity];
  size_t len = 0;
  void add(const char *s) {
    for (; *s && len + 1 < sizeof buf; s++) buf[len++] = *s;
    buf[len] = 0;
  }
  void num(double v, int decimals, bool sign) {
    char tmp[64];
    vl_format_fixed(tmp, sizeof tmp, v, decimals);
    if (sign && v >= 0.0) add("+");
    add(tmp);
  }
};

void write_hover_readout(inst_t *ci, int32_t x, int32_t y) {
  if (!ci->debug_txt || !ci->debug_txt->text) return;
  const double r = db_to_realdb(db_at(ci, y));
  const double f = freq_at(ci, x);
  readout t;
  t.add("freq: ");
  char tmp[64];
  vl_format_fixed(tmp, sizeof tmp, f, f < 100.0 ? 1 : 0);
  for (size_t pad = std::strlen(tmp); pad < 4; pad++) t.add(" ");  // "%4.1f" width
  t.add(tmp);
  t.add(" Hz - gain: ");
  if (!(r > -160.0)) t.add("-INF");
  else t.num(r, std::fabs(r) < 12.5 ? 2 : 1, true);
  t.add(" dB");
  std::memcpy(ci->debug_txt->text, t.buf, t.len + 1);
}

void select_grabbed_band(inst_t *ci) {
  print_control_info(ci);
  if (ci->selband != ci->grabbed_id) ci->selrings_offset = 0.0;
  ci->selband = ci->grabbed_id;
  tarvelon_setup_selected_band_controls(ci, 1);
}

void open_knob_prompt(inst_t *ci, int32_t x, int32_t y) {
  if (!ci->cpos) return;
  const int32_t top = ci->ctrlcount < 1 ? 15 : (ci->ctrlcount < 16 ? ci->ctrlcount : 16) - 1;
  for (int32_t slot = top; slot >= 0; slot--) {
    const ctrl_pos_t &c = ci->cpos[slot];
    if (c.type != 1 || tarvelon_control_param_id(ci, slot) < 0) continue;
    if (x < c.gx - 30 || x > c.gx + 29 || y < c.gy - 30 || y > c.gy + 29) continue;
    if (ci->knob_textedit_on && slot < ci->knob_textedit_count) ci->knob_textedit_on[slot] = 2;
    return;
  }
}

void drag_handle(inst_t *ci, eq_t &b, double px, double freq, double db, double g) {
  double f = freq;
  if (ci->grabbed_type == 1 && b.h1x > px) f = 20.0 * std::pow(10.0, 3.0 * b.h1pitch);
  if (ci->grabbed_type == 2 && px > b.h2x) f = 20.0 * std::pow(10.0, 3.0 * b.h2pitch);
  const double dp = pitch_of(f) - b.pitch;
  // With no frequency distance the slope is undefined: keep the one there is.
  if (dp == 0.0 || !std::isfinite(dp)) return;
  double s = (db - b.db) / dp / kOctavesPerPitch;
  const bool wrong_side = ci->grabbed_type == 1 ? b.freq > f : f > b.freq;
  if (wrong_side) s = s > 0.0 ? -100.0 : 100.0;
  const double lim = std::fabs(g) * 100.0;
  if (s > lim) s = lim;
  if (s < -lim) s = -lim;
  b.slope = s;
}
}  // namespace

void tarvelon_find_nearest_control_handle(inst_t *ci, int32_t x, int32_t y, double *mindistp, int32_t *idp,
                                          int32_t *typep, int32_t *foundp) noexcept {
  if (!ci || !ci->equ || !mindistp || !in_area(ci, x, y)) return;
  for (int32_t i = 0; i < kBandCount; i++) {
    const eq_t &e = ci->equ[i];
    if (!e.on) continue;
    const double ix[3] = {e.x, e.h1x, e.h2x}, iy[3] = {e.y, e.h1y, e.h2y};
    for (int32_t j = 0; j < 3; j++) {
      const double d2 = (x - ix[j]) * (x - ix[j]) + (y - iy[j]) * (y - iy[j]);
      if (!(d2 < *mindistp)) continue;
      *mindistp = d2;
      if (idp) *idp = i;
      if (typep) *typep = j;
      if (foundp) *foundp = 1;
    }
  }
}

void tarvelon_on_mouse_down(inst_t *ci, int32_t x, int32_t y, int32_t left_button) noexcept {
  if (!ci) return;
  vl_lock_guard lock(ci->proc_reinit_sem);
  if (!left_button) {
    open_knob_prompt(ci, x, y);
    return;
  }
  if (any_knob_field_open(ci)) {
    vl_current().cur_te = nullptr;  // the open field commits on losing focus
    return;
  }
  double d2 = grab_radius2(ci);
  int32_t id = 0, type = 0, found = 0;
  tarvelon_find_nearest_control_handle(ci, x, y, &d2, &id, &type, &found);
  if (found) {
    const eq_t &e = ci->equ[id];
    const double px = type == 0 ? e.x : type == 1 ? e.h1x : e.h2x;
    const double py = type == 0 ? e.y : type == 1 ? e.h1y : e.h2y;
    ci->grabbed = 1, ci->grabbed_id = id, ci->grabbed_type = type;
    ci->grabbed_mouse_x = x, ci->grabbed_mouse_y = y;
    ci->grabbed_offset_x = x - px, ci->grabbed_offset_y = y - py;
  } else if (!ci->grabbed) {
    return;
  }
  select_grabbed_band(ci);
}

void tarvelon_on_mouse_drag(inst_t *ci, int32_t x, int32_t y, int32_t dx, int32_t right_button, int32_t middle_button,
                            int32_t left_button) noexcept {
  if (!ci || any_knob_field_open(ci)) return;
  vl_lock_guard lock(ci->proc_reinit_sem);
  const tarvelon_hview_t hv = ci->hview.load();
  if ((right_button || middle_button) && hv.hzoom < 1.0) {
    const double span = ci->kVW > 1 ? double(ci->kVW - 1) : 1.0;
    const double pos = hv.zoomc + ((hv.zmaxp - hv.zminp) * double(-dx) / span) / (1.0 - hv.hzoom);
    set_view_param(ci, TV_PARAM_HOR_POSITION, pos, 15);
    apply_zoom(ci);
    ci->mouseout_time = kFadeStart;
    if (in_area(ci, x, y)) ci->mouseout_time = 0.0;
  } else if (ci->mouseout_time == 0.0) {
    ci->mouseout_time = kFadeStart;
  } else if (ci->mouseout_time > 0.0 && in_area(ci, x, y)) {
    ci->mouseout_time = 0.0;
  }
  if (!left_button || !ci->equ) return;

  double px = x - ci->grabbed_offset_x, py = y - ci->grabbed_offset_y;
  if (ci->grabbed_type == 0) {
    px = std::fmax(std::fmin(px, double(ci->vx + ci->kVW - 1)), double(ci->vx));
    py = std::fmax(std::fmin(py, double(ci->vy + ci->kVH - 1)), double(ci->vy));
  }
  const double g = param(ci, TV_PARAM_GAIN_SCALE);
  if (!ci->grabbed || ci->grabbed_type < 0 || ci->grabbed_type > 2 || ci->grabbed_id < 0 ||
      ci->grabbed_id >= kBandCount || g == 0.0)
    return;
  if (x == ci->grabbed_mouse_x && y == ci->grabbed_mouse_y) return;  // a click without motion moves nothing
  if (ci->mouseout_time > 0.0) ci->mouseout_time = 0.0;
  const double db = db_at(ci, py), freq = freq_at(ci, px);
  eq_t &b = ci->equ[ci->grabbed_id];
  if (ci->grabbed_type == 0) {
    b.db = db;
    b.freq = freq;
    tarvelon_sync_eq_param_from_user_input(ci, ci->grabbed_id, TV_PARAM_BAND_GAIN, 1);
    tarvelon_sync_eq_param_from_user_input(ci, ci->grabbed_id, TV_PARAM_BAND_FREQ, 2);
  } else {
    drag_handle(ci, b, px, freq, db, g);
    tarvelon_sync_eq_param_from_user_input(ci, ci->grabbed_id, TV_PARAM_BAND_SLOPE, 3);
  }
  print_control_info(ci);
}

void tarvelon_on_mouse_dblclick(inst_t *ci, int32_t x, int32_t y, int32_t left_button) noexcept {
  if (!ci || !left_button || !ci->equ) return;
  vl_lock_guard lock(ci->proc_reinit_sem);
  if (!in_area(ci, x, y)) {
    tarvelon_on_mouse_down(ci, x, y, 1);
    return;
  }
  int32_t hit = -1;
  double best = grab_radius2(ci);
  for (int32_t i = 0; i < kBandCount; i++) {
    const eq_t &e = ci->equ[i];
    const double d2 = (x - e.x) * (x - e.x) + (y - e.y) * (y - e.y);
    if (e.on && d2 < best) best = d2, hit = i;
  }
  if (hit >= 0) {
    ci->equ[hit].on = 0;
    ci->equ[hit].defaultfreq = -1.0;
    tarvelon_sync_eq_param_from_user_input(ci, hit, TV_PARAM_BAND_ON, -1);
    return;
  }
  int32_t slot = -1;
  for (int32_t i = 0; i < kBandCount && slot < 0; i++)
    if (!ci->equ[i].on) slot = i;
  if (slot < 0) {
    tarvelon_on_mouse_down(ci, x, y, 1);
    return;
  }
  const double freq = freq_at(ci, x);
  const double db = param(ci, TV_PARAM_GAIN_SCALE) == 0.0 ? 0.0 : db_at(ci, y);
  eq_t &e = ci->equ[slot];
  e.on = 1, e.slope = 0.0, e.db = db, e.freq = e.defaultfreq = freq;
  ci->selband = slot;
  ci->selrings_offset = 0.0;
  tarvelon_setup_selected_band_control_params(ci, 0.0);
  tarvelon_sync_eq_param_from_user_input(ci, slot, TV_PARAM_BAND_ON, -1);
  tarvelon_sync_eq_param_from_user_input(ci, slot, TV_PARAM_BAND_GAIN, 1);
  tarvelon_sync_eq_param_from_user_input(ci, slot, TV_PARAM_BAND_FREQ, 2);
  tarvelon_sync_eq_param_from_user_input(ci, slot, TV_PARAM_BAND_SLOPE, 3);
}

void tarvelon_on_mouse_wheel(inst_t *ci, int32_t x, int32_t y, int32_t wheel_delta) noexcept {
  (void)y;
  if (!ci) return;
  vl_lock_guard lock(ci->proc_reinit_sem);
  const tarvelon_hview_t hv = ci->hview.load();
  const double k = std::pow(1.25, -double(wheel_delta));
  const double p = pitch_of(freq_at(ci, x));
  const double a = p - (p - hv.zminp) * k, b = p - (p - hv.zmaxp) * k, w = b - a;
  if (w > 0.1 && w < 1.0) set_view_param(ci, TV_PARAM_HOR_POSITION, a / (1.0 + a - b), 15);
  if (w > 0.0) set_view_param(ci, TV_PARAM_HOR_ZOOM, 1.0 / w, 14);
  apply_zoom(ci);
  ci->mouseout_time = kFadeStart;
}

void tarvelon_on_mouse_over(inst_t *ci, int32_t x, int32_t y) noexcept {
  if (!ci) return;
  vl_lock_guard lock(ci->proc_reinit_sem);
  ci->hover = 0;
  double d2 = grab_radius2(ci);
  int32_t id = 0, type = 0, found = 0;
  tarvelon_find_nearest_control_handle(ci, x, y, &d2, &id, &type, &found);
  if (found) ci->hover = 1, ci->hover_id = id, ci->hover_type = type;
  if (in_area(ci, x, y)) {
    if (ci->mouseout_time > 0.0) ci->mouseout_time = 0.0;
    write_hover_readout(ci, x, y);
  } else {
    clear_readout(ci);
    start_fade(ci);
  }
}

void tarvelon_on_mouse_out(inst_t *ci) noexcept {
  if (!ci) return;
  clear_readout(ci);
  ci->hover = 0;
  start_fade(ci);
}

void tarvelon_on_mouse_up(inst_t *ci) noexcept {
  if (!ci) return;
  ci->grabbed = 0;
  clear_readout(ci);
}

int32_t tarvelon_control_param_id(const inst_t *ci, int32_t ctrl_id) noexcept {
  if (ctrl_id < 1 || ctrl_id > 15) return -1;
  if (ctrl_id <= 3) {
    if (!ci || ci->selband < 0 || ci->selband >= kBandCount) return -1;
    return ci->selband + 4 * ctrl_id;
  }
  if (ctrl_id <= 6) return ctrl_id + 15;  // 19..21
  if (ctrl_id <= 9) return ctrl_id + 9;   // 16..18
  return ctrl_id + 12;                    // 22..27
}

double tarvelon_knob_drag_delta(int32_t vertical_direction, double base_gearing, int32_t ctrl_down, int32_t shift_down,
                                double rect_l, double rect_t, double rect_r, double rect_b, double dx,
                                double dy) noexcept {
  const double gearing = (ctrl_down || shift_down) ? base_gearing * 10.0 : base_gearing;
  if (!(gearing > 0.0)) return 0.0;
  if (vertical_direction) return rect_t == rect_b ? 0.0 : dy / (rect_t - rect_b) / gearing;
  return rect_r == rect_l ? 0.0 : dx / (rect_r - rect_l) / gearing;
}

int32_t tarvelon_knob_should_prompt(int32_t right_button) noexcept { return right_button != 0; }
int32_t tarvelon_knob_can_prompt(int32_t param_id, int32_t prompt_disabled) noexcept {
  return prompt_disabled == 0 && param_id >= 0;
}
int32_t tarvelon_knob_prompt_uses_param_rect(int32_t display_text_count) noexcept { return display_text_count != 0; }

void tarvelon_knob_text_prompt_rect(int32_t rect_l, int32_t rect_t, int32_t rect_r, int32_t rect_b, int32_t *out_l,
                                    int32_t *out_t, int32_t *out_r, int32_t *out_b) noexcept {
  const int32_t cx = (rect_l + rect_r) / 2, cy = (rect_t + rect_b) / 2;
  if (out_l) *out_l = cx - 26;
  if (out_t) *out_t = cy - 8;
  if (out_r) *out_r = cx + 26;
  if (out_b) *out_b = cy + 8;
}

namespace {
void open_input_frame(inst_t *ci, vl_mouse_t &m) {
  if (ci->vantalib_input_frame_open) return;
  m.d[0] = m.d[1] = 0.0;
  m.e_lmb = m.e_rmb = m.e_mmb = 0;
  m.r_lmb = m.r_rmb = m.r_mmb = 0;
  m.wheel = 0.0;
  ci->vantalib_click_origin_collected = 0;
  ci->vantalib_input_frame_open = 1;
}

// A press stays visible to the frame's widgets even when its release came
// before the frame: presses and releases are kept apart.
void button(int &held, int &pressed, int &released, int down) {
  held = down > 0 ? 1 : 0;
  (down > 0 ? pressed : released) = 1;
}
}  // namespace

int32_t tarvelon_on_vantalib_mouse_event(inst_t *ci, int32_t x, int32_t y, int32_t event_type, int32_t click_count,
                                         int32_t wheel_delta, int32_t ctrl_down, int32_t shift_down,
                                         int32_t alt_down) noexcept {
  if (!ci) return 0;
  vl_gui_context_t *prev = vl_gui_context_bind(&ci->vantalib_gui_context);
  vl_thread_state_t &st = vl_current();
  vl_mouse_t &m = st.mouse;
  open_input_frame(ci, m);
  if (std::fabs(m.a[0]) < 1e20 && std::fabs(m.a[1]) < 1e20) {
    m.d[0] += x - m.a[0];
    m.d[1] += y - m.a[1];
  } else {
    m.d[0] = m.d[1] = 0.0;
  }
  m.a[0] = x, m.a[1] = y;
  const double scale = st.zoom.scale > 0.0 ? st.zoom.scale : 1.0;
  m.u[0] = (x - st.zoom.offset_x) / scale, m.u[1] = (y - st.zoom.offset_y) / scale;
  m.window_focus_flag = m.mouse_focus_flag = 1;
  m.mod_ctrl = ctrl_down ? 1 : 0, m.mod_shift = shift_down ? 1 : 0, m.mod_alt = alt_down ? 1 : 0;
  m.clicks = click_count > 1 ? click_count : 1;
  switch (event_type) {
    case TV_MOUSE_LEFT_DOWN:
      button(m.b_lmb, m.e_lmb, m.r_lmb, 1);
      m.orig[0] = x, m.orig[1] = y;
      ci->vantalib_click_origin_collected = 1;
      break;
    case TV_MOUSE_LEFT_UP: button(m.b_lmb, m.e_lmb, m.r_lmb, -1); break;
    case TV_MOUSE_RIGHT_DOWN: button(m.b_rmb, m.e_rmb, m.r_rmb, 1); break;
    case TV_MOUSE_RIGHT_UP: button(m.b_rmb, m.e_rmb, m.r_rmb, -1); break;
    case TV_MOUSE_MIDDLE_DOWN: button(m.b_mmb, m.e_mmb, m.r_mmb, 1); break;
    case TV_MOUSE_MIDDLE_UP: button(m.b_mmb, m.e_mmb, m.r_mmb, -1); break;
    case TV_MOUSE_EXIT: m.mouse_focus_flag = -2; break;
    case TV_MOUSE_WHEEL: m.wheel += wheel_delta; break;
    default: break;
  }
  vl_gui_context_bind(prev);
  return 1;
}

void tarvelon_begin_vantalib_gui_frame(inst_t *ci) noexcept {
  if (!ci) return;
  vl_gui_context_t *prev = vl_gui_context_bind(&ci->vantalib_gui_context);
  open_input_frame(ci, vl_current().mouse);
  ci->vantalib_input_frame_open = 0;
  vl_gui_context_bind(prev);
}

void tarvelon_on_vantalib_focus_lost_event(inst_t *ci) noexcept {
  if (!ci) return;
  vl_gui_context_t *prev = vl_gui_context_bind(&ci->vantalib_gui_context);
  vl_mouse_t &m = vl_current().mouse;
  open_input_frame(ci, m);
  m.window_focus_flag = -2;
  vl_gui_context_bind(prev);
}
