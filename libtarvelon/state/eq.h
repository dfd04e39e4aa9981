// Band records, their synchronisation with the parameters, the sorted point
// list with end points, and the curve through the points.
#pragma once
#include <cstdint>

struct inst_t;

struct eq_t {
  int32_t on;
  double freq;         // Hz, after transposition
  double defaultfreq;  // frequency when the defaults were loaded, -1 if the band was off then
  double pitch;        // ln(freq/20)/ln(1000): 0 at 20 Hz, 1 at 20 kHz
  double db;           // curve dB
  double slope;        // dB per octave
  double h1pitch, h1db;  // right handle
  double h2pitch, h2db;  // left handle
  double x, y;           // display position, pixels
  double h1x, h1y, h2x, h2y;
  int32_t id;  // band 0..3, -1 for a synthetic end point
};

constexpr int kBandCount = 4;
constexpr int kSortedPointCount = kBandCount + 2;

// Allocates the band arrays, loads them from the parameters with defaults, and
// records the first undo entry. [creation]
void tarvelon_init_eq_state(inst_t *ci) noexcept;
void tarvelon_load_eq_from_params(inst_t *ci, int32_t set_defaults) noexcept;
// Re-derive the bands from the parameters. [audio thread in its block, or under proc_reinit_sem]
int32_t tarvelon_sync_eq_params_with_controls(inst_t *ci, int32_t from_user_input) noexcept;
int32_t tarvelon_sync_eq_params(inst_t *ci) noexcept;                  // only when diff_eq is set
int32_t tarvelon_sync_eq_params_from_user_input(inst_t *ci) noexcept;  // only when diff_eq is set
// Writes one band value (param_base 0, 4, 8 or 12) from equ to its parameter.
void tarvelon_sync_eq_param_from_user_input(inst_t *ci, int32_t band_id, int32_t param_base, int32_t ctrl_id) noexcept;
void tarvelon_setup_selected_band_control_params(inst_t *ci, double slope_default) noexcept;
void tarvelon_setup_selected_band_controls(inst_t *ci, int32_t from_user_input) noexcept;

int32_t tarvelon_eq_state_differs_from_designed(const inst_t *ci) noexcept;
void tarvelon_remember_designed_eq_state(inst_t *ci) noexcept;

// Sorted point list: eqs[0] low end, eqs[1..count] enabled bands by frequency,
// eqs[count+1] high end. Clamps the bands' freq and db in place.
void sort_eq(eq_t *equ, eq_t *eqs, int32_t *eqs_countp, double minf, double maxf) noexcept;
// Handles at thirds of each interval and end-point gains from the outer handles.
void eq_compute_handles(eq_t *eqs, int32_t count) noexcept;
// Cubic Bezier in curve dB between points i and i+1 at parameter t.
double eq_segment_value(const eq_t *eqs, int32_t i, double t) noexcept;
// Curve value at a pitch (0..1 over 20 Hz..20 kHz); flat outside the end points.
double eq_curve_at_pitch(const eq_t *eqs, int32_t count, double pitch) noexcept;
