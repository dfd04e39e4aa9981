// Resolution of host callbacks: the instance's table, else the process
// defaults, else a line on standard error and a fallback value.
#include "system/host_callbacks.h"

#include <cstdio>

#include "system/inst.h"

namespace {
const tarvelon_host_callbacks_t *g_default_table = nullptr;
void *g_default_user_data = nullptr;

// Finds the callable entry for one call. An instance with a table never falls
// back to the defaults: a hole in its own table is reported.
template <class Fn>
bool resolve(inst_t *ci, Fn tarvelon_host_callbacks_t::*entry, Fn *fn, void **ud) {
  if (ci && ci->host_callbacks) {
    *fn = ci->host_callbacks->*entry;
    *ud = ci->host_user_data;
    return *fn != nullptr;
  }
  if (g_default_table && g_default_table->*entry) {
    *fn = g_default_table->*entry;
    *ud = g_default_user_data;
    return true;
  }
  return false;
}

void report_missing(const char *name) { std::fprintf(stderr, "libtarvelon missing host callback: %s\n", name); }

template <class R, class... Sig, class... Args>
R forward(inst_t *ci, R (*tarvelon_host_callbacks_t::*entry)(void *, inst_t *, Sig...), const char *name, R fallback,
          Args... args) {
  R (*fn)(void *, inst_t *, Sig...) = nullptr;
  void *ud = nullptr;
  if (!resolve(ci, entry, &fn, &ud)) {
    report_missing(name);
    return fallback;
  }
  return fn(ud, ci, args...);
}

template <class... Sig, class... Args>
void forward_void(inst_t *ci, void (*tarvelon_host_callbacks_t::*entry)(void *, inst_t *, Sig...), const char *name,
                  Args... args) {
  void (*fn)(void *, inst_t *, Sig...) = nullptr;
  void *ud = nullptr;
  if (!resolve(ci, entry, &fn, &ud)) {
    report_missing(name);
    return;
  }
  fn(ud, ci, args...);
}
}  // namespace

#define TV_FWD(name, fallback, ...) forward(ci, &tarvelon_host_callbacks_t::name, #name, fallback, ##__VA_ARGS__)
#define TV_FWD_VOID(name, ...) forward_void(ci, &tarvelon_host_callbacks_t::name, #name, ##__VA_ARGS__)

void tarvelon_set_default_host_callbacks(const tarvelon_host_callbacks_t *table, void *user_data) noexcept {
  g_default_table = table;
  g_default_user_data = user_data;
}
const tarvelon_host_callbacks_t *tarvelon_get_default_host_callbacks() noexcept { return g_default_table; }
void *tarvelon_get_default_host_user_data() noexcept { return g_default_user_data; }

void tarvelon_set_host_callbacks(inst_t *ci, const tarvelon_host_callbacks_t *table, void *user_data) noexcept {
  if (!ci) return;
  ci->host_callbacks = table;
  ci->host_user_data = user_data;
}
const tarvelon_host_callbacks_t *tarvelon_get_host_callbacks(const inst_t *ci) noexcept {
  return ci ? ci->host_callbacks : nullptr;
}
void *tarvelon_get_host_user_data(const inst_t *ci) noexcept { return ci ? ci->host_user_data : nullptr; }

int32_t tarvelon_host_callbacks_are_complete(const tarvelon_host_callbacks_t *t) noexcept {
  if (!t) return 0;
  const bool ok = t->init_param_bool && t->init_param_int && t->init_param_double && t->set_param_shape &&
                  t->get_param_value && t->get_param_int && t->get_param_bool && t->set_param_value &&
                  t->get_param_normalized && t->get_param_normalized_value && t->change_control_param &&
                  t->change_control_default_value && t->create_graphics && t->attach_graphics &&
                  t->attach_draw_control && t->attach_knob_control && t->bind_draw_bitmap &&
                  t->set_control_value_from_plug && t->set_control_value_from_user_input &&
                  t->inform_host_of_program_change && t->set_latency && t->get_sample_rate &&
                  t->get_input_channel_count && t->set_preset_dir && t->get_preset_dir && t->prompt_for_preset_path;
  return ok ? 1 : 0;
}

void tarvelon_host_init_param_bool(inst_t *ci, int32_t id, const char *name, int32_t def, const char *label) noexcept {
  TV_FWD_VOID(init_param_bool, id, name, def, label);
}
void tarvelon_host_init_param_int(inst_t *ci, int32_t id, const char *name, int32_t def, int32_t min, int32_t max,
                                  const char *label) noexcept {
  TV_FWD_VOID(init_param_int, id, name, def, min, max, label);
}
void tarvelon_host_init_param_double(inst_t *ci, int32_t id, const char *name, double def, double min, double max,
                                     double step, const char *label) noexcept {
  TV_FWD_VOID(init_param_double, id, name, def, min, max, step, label);
}
void tarvelon_host_set_param_shape(inst_t *ci, int32_t id, double shape) noexcept {
  TV_FWD_VOID(set_param_shape, id, shape);
}
double tarvelon_host_get_param_value(inst_t *ci, int32_t id) noexcept { return TV_FWD(get_param_value, 0.0, id); }
int32_t tarvelon_host_get_param_int(inst_t *ci, int32_t id) noexcept { return TV_FWD(get_param_int, 0, id); }
int32_t tarvelon_host_get_param_bool(inst_t *ci, int32_t id) noexcept { return TV_FWD(get_param_bool, 0, id); }
void tarvelon_host_set_param_value(inst_t *ci, int32_t id, double value) noexcept {
  TV_FWD_VOID(set_param_value, id, value);
}
double tarvelon_host_get_param_normalized(inst_t *ci, int32_t id) noexcept {
  return TV_FWD(get_param_normalized, 0.0, id);
}
double tarvelon_host_get_param_normalized_value(inst_t *ci, int32_t id, double value) noexcept {
  return TV_FWD(get_param_normalized_value, 0.0, id, value);
}
void tarvelon_host_change_control_param(inst_t *ci, int32_t ctrl, int32_t id) noexcept {
  TV_FWD_VOID(change_control_param, ctrl, id);
}
void tarvelon_host_change_control_default_value(inst_t *ci, int32_t ctrl, double normalised) noexcept {
  TV_FWD_VOID(change_control_default_value, ctrl, normalised);
}
void tarvelon_host_create_graphics(inst_t *ci, int32_t fps_hint) noexcept { TV_FWD_VOID(create_graphics, fps_hint); }
void tarvelon_host_attach_graphics(inst_t *ci) noexcept { TV_FWD_VOID(attach_graphics); }
void tarvelon_host_attach_draw_control(inst_t *ci) noexcept { TV_FWD_VOID(attach_draw_control); }
void tarvelon_host_attach_knob_control(inst_t *ci, int32_t ctrl, int32_t id, int32_t half_size) noexcept {
  TV_FWD_VOID(attach_knob_control, ctrl, id, half_size);
}
void tarvelon_host_bind_draw_bitmap(inst_t *ci) noexcept { TV_FWD_VOID(bind_draw_bitmap); }
void tarvelon_host_set_control_value_from_plug(inst_t *ci, int32_t ctrl, int32_t id) noexcept {
  TV_FWD_VOID(set_control_value_from_plug, ctrl, id);
}
void tarvelon_host_set_control_value_from_user_input(inst_t *ci, int32_t ctrl, int32_t id) noexcept {
  TV_FWD_VOID(set_control_value_from_user_input, ctrl, id);
}
void tarvelon_host_inform_host_of_program_change(inst_t *ci) noexcept { TV_FWD_VOID(inform_host_of_program_change); }
void tarvelon_host_set_latency(inst_t *ci, int32_t samples) noexcept { TV_FWD_VOID(set_latency, samples); }
double tarvelon_host_get_sample_rate(inst_t *ci) noexcept { return TV_FWD(get_sample_rate, 44100.0); }
int32_t tarvelon_host_get_input_channel_count(inst_t *ci) noexcept { return TV_FWD(get_input_channel_count, 1); }
void tarvelon_host_set_preset_dir(inst_t *ci, const char *path) noexcept { TV_FWD_VOID(set_preset_dir, path); }
void tarvelon_host_get_preset_dir(inst_t *ci, char *buf, int32_t size) noexcept {
  if (buf && size >= 1) buf[0] = 0;
  TV_FWD_VOID(get_preset_dir, buf, size);
}
int32_t tarvelon_host_prompt_for_preset_path(inst_t *ci, int32_t save, char *buf, int32_t size) noexcept {
  if (buf && size >= 1) buf[0] = 0;
  return TV_FWD(prompt_for_preset_path, 0, save, buf, size);
}
void tarvelon_host_process_gui_frame(inst_t *ci, int32_t mouse_claimed) noexcept {
  void (*fn)(void *, inst_t *, int32_t) = nullptr;
  void *ud = nullptr;
  if (resolve(ci, &tarvelon_host_callbacks_t::process_gui_frame, &fn, &ud)) fn(ud, ci, mouse_claimed);
}
