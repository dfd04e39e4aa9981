// The table through which the core reaches its host: parameter storage, knob
// controls, graphics set-up, latency and the preset folder. The core calls the
// entries only through the tarvelon_host_* forwarders, which fall back to the
// process defaults and report missing entries on standard error.
#pragma once
#include <cstdint>

struct inst_t;

// Every entry receives the host user data first, then the instance (null when
// the call came through the process defaults without an instance).
struct tarvelon_host_callbacks_t {
  void (*init_param_bool)(void *ud, inst_t *ci, int32_t id, const char *name, int32_t def, const char *label);
  void (*init_param_int)(void *ud, inst_t *ci, int32_t id, const char *name, int32_t def, int32_t min, int32_t max,
                         const char *label);
  void (*init_param_double)(void *ud, inst_t *ci, int32_t id, const char *name, double def, double min, double max,
                            double step, const char *label);
  void (*set_param_shape)(void *ud, inst_t *ci, int32_t id, double shape);
  double (*get_param_value)(void *ud, inst_t *ci, int32_t id);
  int32_t (*get_param_int)(void *ud, inst_t *ci, int32_t id);
  int32_t (*get_param_bool)(void *ud, inst_t *ci, int32_t id);
  void (*set_param_value)(void *ud, inst_t *ci, int32_t id, double value);
  double (*get_param_normalized)(void *ud, inst_t *ci, int32_t id);
  double (*get_param_normalized_value)(void *ud, inst_t *ci, int32_t id, double value);
  void (*change_control_param)(void *ud, inst_t *ci, int32_t ctrl, int32_t id);
  void (*change_control_default_value)(void *ud, inst_t *ci, int32_t ctrl, double normalised);
  void (*create_graphics)(void *ud, inst_t *ci, int32_t fps_hint);
  void (*attach_graphics)(void *ud, inst_t *ci);
  void (*attach_draw_control)(void *ud, inst_t *ci);
  void (*attach_knob_control)(void *ud, inst_t *ci, int32_t ctrl, int32_t id, int32_t half_size);
  void (*bind_draw_bitmap)(void *ud, inst_t *ci);
  void (*set_control_value_from_plug)(void *ud, inst_t *ci, int32_t ctrl, int32_t id);
  void (*set_control_value_from_user_input)(void *ud, inst_t *ci, int32_t ctrl, int32_t id);
  void (*inform_host_of_program_change)(void *ud, inst_t *ci);
  void (*set_latency)(void *ud, inst_t *ci, int32_t samples);
  double (*get_sample_rate)(void *ud, inst_t *ci);
  int32_t (*get_input_channel_count)(void *ud, inst_t *ci);
  void (*set_preset_dir)(void *ud, inst_t *ci, const char *path);
  void (*get_preset_dir)(void *ud, inst_t *ci, char *buf, int32_t size);
  int32_t (*prompt_for_preset_path)(void *ud, inst_t *ci, int32_t save, char *buf, int32_t size);
  void (*process_gui_frame)(void *ud, inst_t *ci, int32_t mouse_claimed);
};

// Process defaults, copied into every new bare instance. Meant to be set once
// before instances are created. [main thread]
void tarvelon_set_default_host_callbacks(const tarvelon_host_callbacks_t *table, void *user_data) noexcept;
const tarvelon_host_callbacks_t *tarvelon_get_default_host_callbacks() noexcept;
void *tarvelon_get_default_host_user_data() noexcept;

// Per-instance link; a null instance is ignored / gives null.
void tarvelon_set_host_callbacks(inst_t *ci, const tarvelon_host_callbacks_t *table, void *user_data) noexcept;
const tarvelon_host_callbacks_t *tarvelon_get_host_callbacks(const inst_t *ci) noexcept;
void *tarvelon_get_host_user_data(const inst_t *ci) noexcept;

// 1 when the table is non-null and entries 0..25 are set (process_gui_frame is optional).
int32_t tarvelon_host_callbacks_are_complete(const tarvelon_host_callbacks_t *table) noexcept;

// Forwarders. [any thread the core runs on] They allocate nothing themselves.
void tarvelon_host_init_param_bool(inst_t *ci, int32_t id, const char *name, int32_t def, const char *label) noexcept;
void tarvelon_host_init_param_int(inst_t *ci, int32_t id, const char *name, int32_t def, int32_t min, int32_t max,
                                  const char *label) noexcept;
void tarvelon_host_init_param_double(inst_t *ci, int32_t id, const char *name, double def, double min, double max,
                                     double step, const char *label) noexcept;
void tarvelon_host_set_param_shape(inst_t *ci, int32_t id, double shape) noexcept;
double tarvelon_host_get_param_value(inst_t *ci, int32_t id) noexcept;
int32_t tarvelon_host_get_param_int(inst_t *ci, int32_t id) noexcept;
int32_t tarvelon_host_get_param_bool(inst_t *ci, int32_t id) noexcept;
void tarvelon_host_set_param_value(inst_t *ci, int32_t id, double value) noexcept;
double tarvelon_host_get_param_normalized(inst_t *ci, int32_t id) noexcept;
double tarvelon_host_get_param_normalized_value(inst_t *ci, int32_t id, double value) noexcept;
void tarvelon_host_change_control_param(inst_t *ci, int32_t ctrl, int32_t id) noexcept;
void tarvelon_host_change_control_default_value(inst_t *ci, int32_t ctrl, double normalised) noexcept;
void tarvelon_host_create_graphics(inst_t *ci, int32_t fps_hint) noexcept;
void tarvelon_host_attach_graphics(inst_t *ci) noexcept;
void tarvelon_host_attach_draw_control(inst_t *ci) noexcept;
void tarvelon_host_attach_knob_control(inst_t *ci, int32_t ctrl, int32_t id, int32_t half_size) noexcept;
void tarvelon_host_bind_draw_bitmap(inst_t *ci) noexcept;
void tarvelon_host_set_control_value_from_plug(inst_t *ci, int32_t ctrl, int32_t id) noexcept;
void tarvelon_host_set_control_value_from_user_input(inst_t *ci, int32_t ctrl, int32_t id) noexcept;
void tarvelon_host_inform_host_of_program_change(inst_t *ci) noexcept;
void tarvelon_host_set_latency(inst_t *ci, int32_t samples) noexcept;
double tarvelon_host_get_sample_rate(inst_t *ci) noexcept;
int32_t tarvelon_host_get_input_channel_count(inst_t *ci) noexcept;
void tarvelon_host_set_preset_dir(inst_t *ci, const char *path) noexcept;
void tarvelon_host_get_preset_dir(inst_t *ci, char *buf, int32_t size) noexcept;
int32_t tarvelon_host_prompt_for_preset_path(inst_t *ci, int32_t save, char *buf, int32_t size) noexcept;
// Silent when no entry exists: the frame's input is then simply not processed.
void tarvelon_host_process_gui_frame(inst_t *ci, int32_t mouse_claimed) noexcept;
