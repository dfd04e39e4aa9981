// Parameters to band records and back, and the knobs bound to the selected band.
#include <cmath>
#include <cstring>

#include "dsp/scales.h"
#include "state/eq.h"
#include "state/params.h"
#include "system/instance.h"

namespace {
// Normalised position of 0 dB in the gain range floor..60.
constexpr double kZeroDbNormalised = 0.5337484150845695;

struct curve_modifiers {
  double transpose_mul, ogain, gainmul;
};

curve_modifiers read_modifiers(inst_t *ci) {
  return {std::pow(2.0, tarvelon_host_get_param_value(ci, TV_PARAM_TRANSPOSE) / 12.0),
          tarvelon_host_get_param_value(ci, TV_PARAM_OVERALL_GAIN),
          tarvelon_host_get_param_value(ci, TV_PARAM_GAIN_SCALE)};
}

// Gain scaling in real dB where 0 × anything is 0: a floor gain (-inf real dB)
// under Gain Scale 0 must not become NaN.
double scaled(double realdb, double mul) { return mul == 0.0 ? 0.0 : realdb * mul; }

void notify_bands_synced(inst_t *ci) {
  if (ci->bands_synced) ci->bands_synced(ci);
}
}  // namespace

void tarvelon_init_eq_state(inst_t *ci) noexcept {
  if (!ci) return;
  ci->equ = static_cast<eq_t *>(gc_calloc(ci, kBandCount, sizeof(eq_t)));
  ci->eqs = static_cast<eq_t *>(gc_calloc(ci, kSortedPointCount, sizeof(eq_t)));
  ci->designed_equ = static_cast<eq_t *>(gc_calloc(ci, kBandCount, sizeof(eq_t)));
  tarvelon_load_eq_from_params(ci, 1);
  notify_bands_synced(ci);  // the first history entry
}

void tarvelon_load_eq_from_params(inst_t *ci, int32_t set_defaults) noexcept {
  if (!ci || !ci->equ) return;
  const curve_modifiers m = read_modifiers(ci);
  for (int32_t i = 0; i < kBandCount; i++) {
    eq_t &e = ci->equ[i];
    e.on = tarvelon_host_get_param_bool(ci, TV_PARAM_BAND_ON + i);
    const double r = scaled(db_to_realdb(tarvelon_host_get_param_value(ci, TV_PARAM_BAND_GAIN + i)), m.gainmul) + m.ogain;
    e.db = (r < -160.0 || std::isnan(r)) ? tv::kFloorDb : std::fmin(realdb_to_db(r), 60.0);
    e.freq = tarvelon_host_get_param_value(ci, TV_PARAM_BAND_FREQ + i) * m.transpose_mul;
    e.slope = tarvelon_host_get_param_value(ci, TV_PARAM_BAND_SLOPE + i) * m.gainmul;
    if (set_defaults) {
      e.id = i;
      e.defaultfreq = e.on ? e.freq : -1.0;
    }
  }
}

int32_t tarvelon_sync_eq_params_with_controls(inst_t *ci, int32_t) noexcept {
  if (!ci) return 0;
  ci->diff_eq.take();
  ci->filter_update_pending.raise();
  tarvelon_load_eq_from_params(ci, 0);
  notify_bands_synced(ci);
  return 1;
}

int32_t tarvelon_sync_eq_params(inst_t *ci) noexcept {
  return (ci && ci->diff_eq.is_set()) ? tarvelon_sync_eq_params_with_controls(ci, 0) : 0;
}

int32_t tarvelon_sync_eq_params_from_user_input(inst_t *ci) noexcept {
  return (ci && ci->diff_eq.is_set()) ? tarvelon_sync_eq_params_with_controls(ci, 1) : 0;
}

void tarvelon_sync_eq_param_from_user_input(inst_t *ci, int32_t band_id, int32_t param_base, int32_t ctrl_id) noexcept {
  if (!ci || !ci->equ || band_id < 0 || band_id >= kBandCount) return;
  const eq_t &e = ci->equ[band_id];
  const int32_t param_id = band_id + param_base;
  const curve_modifiers m = read_modifiers(ci);
  const double gainmul_inv = std::fabs(m.gainmul) > 1e-12 ? 1.0 / m.gainmul : 0.0;
  double value;
  switch (param_base) {
    case TV_PARAM_BAND_ON:
      tarvelon_host_set_param_value(ci, param_id, e.on ? 1.0 : 0.0);
      tarvelon_host_set_control_value_from_user_input(ci, ctrl_id, param_id);
      tarvelon_on_param_change(ci, param_id);
      return;
    case TV_PARAM_BAND_GAIN: {
      const double r = scaled(db_to_realdb(e.db) - m.ogain, gainmul_inv);
      value = r < -160.0 ? tv::kFloorDb : realdb_to_db(r);
      break;
    }
    case TV_PARAM_BAND_FREQ: value = std::fmin(e.freq / m.transpose_mul, 20000.0); break;
    case TV_PARAM_BAND_SLOPE: value = e.slope * gainmul_inv; break;
    default: return;
  }
  tarvelon_host_set_param_value(ci, param_id, value);
  if (ctrl_id >= 0) tarvelon_host_set_control_value_from_user_input(ci, ctrl_id, param_id);
  tarvelon_on_param_change(ci, param_id);
}

void tarvelon_setup_selected_band_control_params(inst_t *ci, double slope_default) noexcept {
  if (!ci) return;
  const int32_t b = (ci->selband >= 0 && ci->selband < kBandCount) ? ci->selband : 0;
  tarvelon_host_change_control_param(ci, 1, TV_PARAM_BAND_GAIN + b);
  tarvelon_host_change_control_param(ci, 2, TV_PARAM_BAND_FREQ + b);
  tarvelon_host_change_control_param(ci, 3, TV_PARAM_BAND_SLOPE + b);
  tarvelon_host_change_control_default_value(ci, 1, kZeroDbNormalised);
  const double deffreq = ci->equ ? ci->equ[b].defaultfreq : -1.0;
  tarvelon_host_change_control_default_value(ci, 2,
                                             tarvelon_host_get_param_normalized_value(ci, TV_PARAM_BAND_FREQ + b, deffreq));
  tarvelon_host_change_control_default_value(ci, 3, slope_default);
}

void tarvelon_setup_selected_band_controls(inst_t *ci, int32_t from_user_input) noexcept {
  if (!ci) return;
  tarvelon_setup_selected_band_control_params(ci, 0.5);
  const int32_t b = (ci->selband >= 0 && ci->selband < kBandCount) ? ci->selband : 0;
  for (int32_t k = 0; k < 3; k++) {
    const int32_t ctrl = 1 + k, id = TV_PARAM_BAND_GAIN + 4 * k + b;
    if (from_user_input) tarvelon_host_set_control_value_from_user_input(ci, ctrl, id);
    else tarvelon_host_set_control_value_from_plug(ci, ctrl, id);
  }
}

int32_t tarvelon_eq_state_differs_from_designed(const inst_t *ci) noexcept {
  if (!ci || !ci->equ || !ci->designed_equ) return 1;
  for (int b = 0; b < kBandCount; b++) {
    const eq_t &e = ci->equ[b], &d = ci->designed_equ[b];
    if (e.on != d.on) return 1;
    if (e.on && (tarvelon_eq_value_changed(e.freq, d.freq) || tarvelon_eq_value_changed(e.db, d.db) ||
                 tarvelon_eq_value_changed(e.slope, d.slope)))
      return 1;
  }
  return 0;
}

void tarvelon_remember_designed_eq_state(inst_t *ci) noexcept {
  if (!ci || !ci->equ || !ci->designed_equ) return;
  std::memcpy(ci->designed_equ, ci->equ, sizeof(eq_t) * kBandCount);
}
