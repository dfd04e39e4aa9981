// The 28 automatable parameters, the knob-control bindings, and how each
// parameter change reaches the core's flags and display values.
#pragma once
#include <cstdint>

struct inst_t;

enum tarvelon_param_id : int32_t {
  TV_PARAM_BAND_ON = 0,      // + band, bool
  TV_PARAM_BAND_GAIN = 4,    // + band, curve dB
  TV_PARAM_BAND_FREQ = 8,    // + band, Hz
  TV_PARAM_BAND_SLOPE = 12,  // + band, dB/oct
  TV_PARAM_TRANSPOSE = 16,
  TV_PARAM_OVERALL_GAIN = 17,
  TV_PARAM_GAIN_SCALE = 18,
  TV_PARAM_COLOUR = 19,
  TV_PARAM_COLOUR_GAIN = 20,
  TV_PARAM_GAMMA = 21,
  TV_PARAM_RESOLUTION = 22,
  TV_PARAM_INPUT_BUFFER = 23,
  TV_PARAM_LIMITER = 24,
  TV_PARAM_VERT_RANGE = 25,
  TV_PARAM_HOR_ZOOM = 26,
  TV_PARAM_HOR_POSITION = 27,
  TV_PARAM_COUNT = 28,
};

enum tarvelon_param_kind : int32_t { TV_PARAM_KIND_BOOL, TV_PARAM_KIND_INT, TV_PARAM_KIND_DOUBLE };

struct tarvelon_param_info_t {
  const char *name;  // full name, e.g. "Band A gain"
  tarvelon_param_kind kind;
  double min, max, def, step;
  const char *label;
  double shape;  // normalised position = ((v - min)/(max - min))^(1/shape)
};

// The declared table; null for ids outside 0..27. [any thread]
const tarvelon_param_info_t *tarvelon_param_info(int32_t id) noexcept;
// Parameter a knob control is attached to at creation; -1 for control 0 or
// out of range. [any thread]
int32_t tarvelon_control_param(int32_t ctrl) noexcept;

// Declares the table through the host callbacks, in id order. [main thread,
// creation] no allocation in the core (the host may allocate)
void tarvelon_define_plugin_params(inst_t *ci) noexcept;
// Reacts to a stored change of one parameter: sets flags and display values
// only. [any thread] no allocation, no lock
void tarvelon_on_param_change(inst_t *ci, int32_t id) noexcept;
// A knob turned by the core: stores the value through the host and reacts.
// [GUI thread] no allocation; the host may report the edit
void tarvelon_set_knob_value(inst_t *ci, double value, int32_t param_id, int32_t ctrl_id) noexcept;
// Publishes the visible frequency window as one whole record. [any thread]
// no allocation, never waits: while another thread publishes, the value is
// owed and published from the parameters later
void tarvelon_set_horizontal_zoom(inst_t *ci, double hzoom_param, double zoomc_param) noexcept;
// [any thread, never waits] Publishes the view the parameters give now when a
// writer found the record busy; the audio thread calls it at each block.
void tarvelon_publish_owed_horizontal_view(inst_t *ci) noexcept;
// The display values from parameter values, at creation. [main thread] no allocation
void tarvelon_init_runtime_param_values(inst_t *ci, int32_t colscheme, double colgain, double gamma,
                                        double vzoom_param, double hzoom_param, double zoomc_param) noexcept;
void tarvelon_init_runtime_param_values_from_bridge(inst_t *ci) noexcept;
