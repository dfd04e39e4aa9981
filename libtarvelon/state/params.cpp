// Parameter declarations and the core's reaction to parameter changes.
#include "state/params.h"

#include <cmath>

#include "dsp/scales.h"
#include "system/host_callbacks.h"
#include "system/inst.h"

namespace {
constexpr double kGainDefault = 1e-6;  // a hair above 0 dB, as stored sessions expect

const tarvelon_param_info_t kParams[TV_PARAM_COUNT] = {
    {"Band A on", TV_PARAM_KIND_BOOL, 0, 1, 1, 1, "", 1},
    {"Band B on", TV_PARAM_KIND_BOOL, 0, 1, 1, 1, "", 1},
    {"Band C on", TV_PARAM_KIND_BOOL, 0, 1, 1, 1, "", 1},
    {"Band D on", TV_PARAM_KIND_BOOL, 0, 1, 1, 1, "", 1},
    {"Band A gain", TV_PARAM_KIND_DOUBLE, tv::kFloorDb, 60, kGainDefault, 0.01, "dB", 1},
    {"Band B gain", TV_PARAM_KIND_DOUBLE, tv::kFloorDb, 60, kGainDefault, 0.01, "dB", 1},
    {"Band C gain", TV_PARAM_KIND_DOUBLE, tv::kFloorDb, 60, kGainDefault, 0.01, "dB", 1},
    {"Band D gain", TV_PARAM_KIND_DOUBLE, tv::kFloorDb, 60, kGainDefault, 0.01, "dB", 1},
    {"Band A freq", TV_PARAM_KIND_DOUBLE, 20, 20000, 80, 0.01, "Hz", 3},
    {"Band B freq", TV_PARAM_KIND_DOUBLE, 20, 20000, 370, 0.01, "Hz", 3},
    {"Band C freq", TV_PARAM_KIND_DOUBLE, 20, 20000, 1700, 0.01, "Hz", 3},
    {"Band D freq", TV_PARAM_KIND_DOUBLE, 20, 20000, 8000, 0.01, "Hz", 3},
    {"Band A slope", TV_PARAM_KIND_DOUBLE, -100, 100, 0, 0.01, "dB/oct", 1},
    {"Band B slope", TV_PARAM_KIND_DOUBLE, -100, 100, 0, 0.01, "dB/oct", 1},
    {"Band C slope", TV_PARAM_KIND_DOUBLE, -100, 100, 0, 0.01, "dB/oct", 1},
    {"Band D slope", TV_PARAM_KIND_DOUBLE, -100, 100, 0, 0.01, "dB/oct", 1},
    {"Transpose", TV_PARAM_KIND_DOUBLE, -120, 120, 0, 0.01, "semitones", 1},
    {"Overall Gain", TV_PARAM_KIND_DOUBLE, -60, 60, 0, 0.01, "dB", 1},
    {"Gain Scale", TV_PARAM_KIND_DOUBLE, -4, 4, 1, 0.01, "x", 1},
    {"Colour", TV_PARAM_KIND_INT, 0, 2, 2, 1, "", 1},
    {"Colour Gain", TV_PARAM_KIND_DOUBLE, 0, 40, 1, 0.01, "x", 4},
    {"Gamma", TV_PARAM_KIND_DOUBLE, 1, 2, 1, 0.01, "", 1},
    {"Resolution", TV_PARAM_KIND_DOUBLE, 0.2, 16, 1, 0.1, "x", 2},
    {"Input Buffer Size", TV_PARAM_KIND_DOUBLE, 0, 6, 0.2, 0.1, "x", 2},
    {"Limiter", TV_PARAM_KIND_DOUBLE, -30, 60, 0, 0.01, "dB", 1},
    {"Vert. Range", TV_PARAM_KIND_DOUBLE, 3, tv::kFullVertRange, tv::kFullVertRange, 0.01, "dB", 2},
    {"Hor. Zoom", TV_PARAM_KIND_DOUBLE, 1, 10, 1, 0.001, "x", 2},
    {"Hor. Position", TV_PARAM_KIND_DOUBLE, 0, 1, 0.5, 1e-6, "", 1},
};

// Knob controls 1..15; 1-3 start on band B's ids and are rebound to the
// selected band during start-up.
constexpr int32_t kControlParams[16] = {-1, 5, 10, 15, 19, 20, 21, 16, 17, 18, 22, 23, 24, 25, 26, 27};

void mark_prefs_pending(inst_t *ci) {
  ci->time_since_prefsave = 0.0;
  ci->prefsave_pending = 1;
}

double colgain_of(double v) { return (v >= 0.0 && v <= 40.0) ? v : 1.0; }
double gamma_of(double v) { return (v >= 1.0 && v <= 2.0) ? v : 1.0; }
double vzoom_of(double range) { return range >= 3.0 ? tv::kFullVertRange / std::fmin(range, tv::kFullVertRange) : 1.0; }
}  // namespace

const tarvelon_param_info_t *tarvelon_param_info(int32_t id) noexcept {
  return (id >= 0 && id < TV_PARAM_COUNT) ? &kParams[id] : nullptr;
}

int32_t tarvelon_control_param(int32_t ctrl) noexcept { return (ctrl >= 0 && ctrl < 16) ? kControlParams[ctrl] : -1; }

void tarvelon_define_plugin_params(inst_t *ci) noexcept {
  if (!ci) return;
  for (int32_t id = 0; id < TV_PARAM_COUNT; id++) {
    const tarvelon_param_info_t &p = kParams[id];
    switch (p.kind) {
      case TV_PARAM_KIND_BOOL: tarvelon_host_init_param_bool(ci, id, p.name, int32_t(p.def), p.label); break;
      case TV_PARAM_KIND_INT:
        tarvelon_host_init_param_int(ci, id, p.name, int32_t(p.def), int32_t(p.min), int32_t(p.max), p.label);
        break;
      case TV_PARAM_KIND_DOUBLE:
        tarvelon_host_init_param_double(ci, id, p.name, p.def, p.min, p.max, p.step, p.label);
        break;
    }
    if (p.shape != 1.0) tarvelon_host_set_param_shape(ci, id, p.shape);
  }
}

namespace {
tarvelon_hview_t make_hview(double z, double p) {
  double hz = 1.0, span = 0.0;
  if (z >= 1.0 && z <= 10.0) {
    hz = 1.0 / z;
    span = 1.0 - 1.0 / z;
  }
  p = std::isnan(p) ? 0.5 : std::fmin(std::fmax(p, 0.0), 1.0);
  const double L = tv::kLn1000, F = tv::kLn20;
  const double zmin = std::exp(span * p * L + F);
  const double zmax = std::exp(hz * L + F + span * p * L);
  return tarvelon_hview_t{hz, p, zmin, zmax, (std::log(zmin) - F) / L, (std::log(zmax) - F) / L};
}
}  // namespace

// Automation writes this on the audio thread while the editor may be writing
// it too: a writer never waits for another, it leaves its value owed instead,
// and whoever publishes next (a writer, the next block, the next frame)
// publishes the view the parameters give by then.
void tarvelon_set_horizontal_zoom(inst_t *ci, double z, double p) noexcept {
  if (!ci) return;
  if (ci->hview.try_store(make_hview(z, p))) tarvelon_publish_owed_horizontal_view(ci);
}

void tarvelon_publish_owed_horizontal_view(inst_t *ci) noexcept {
  if (!ci) return;
  // Each round either publishes or finds another writer, which takes it over.
  while (ci->hview.take_owed())
    if (!ci->hview.try_store(make_hview(tarvelon_host_get_param_value(ci, TV_PARAM_HOR_ZOOM),
                                        tarvelon_host_get_param_value(ci, TV_PARAM_HOR_POSITION))))
      break;
}

void tarvelon_on_param_change(inst_t *ci, int32_t id) noexcept {
  if (!ci || id < 0 || id >= TV_PARAM_COUNT) return;
  const double v = tarvelon_host_get_param_value(ci, id);
  switch (id) {
    case TV_PARAM_COLOUR: ci->colscheme = int32_t(std::isfinite(v) ? v : 0.0); mark_prefs_pending(ci); break;
    case TV_PARAM_COLOUR_GAIN: ci->colgain = colgain_of(v); mark_prefs_pending(ci); break;
    case TV_PARAM_GAMMA: ci->gamma = gamma_of(v); mark_prefs_pending(ci); break;
    case TV_PARAM_RESOLUTION:
    case TV_PARAM_INPUT_BUFFER:
      ci->reinit_flag.raise();
      mark_prefs_pending(ci);
      break;
    case TV_PARAM_LIMITER: mark_prefs_pending(ci); break;
    case TV_PARAM_VERT_RANGE:
      ci->vzoom = vzoom_of(v);
      ci->vzoom_changed = 1;
      ci->mouseout_time = 1e-7;
      mark_prefs_pending(ci);
      break;
    case TV_PARAM_HOR_ZOOM:
    case TV_PARAM_HOR_POSITION:
      tarvelon_set_horizontal_zoom(ci, tarvelon_host_get_param_value(ci, TV_PARAM_HOR_ZOOM),
                                   tarvelon_host_get_param_value(ci, TV_PARAM_HOR_POSITION));
      ci->hzoom_changed = 1;
      ci->mouseout_time = 1e-7;
      break;
    default:  // band parameters and the three curve modifiers
      ci->diff_eq.raise();
      if (ci->mouseout_time > 0.0) ci->mouseout_time = 1e-7;
      break;
  }
}

void tarvelon_set_knob_value(inst_t *ci, double value, int32_t param_id, int32_t ctrl_id) noexcept {
  if (!ci) return;
  tarvelon_host_set_param_value(ci, param_id, value);
  tarvelon_host_set_control_value_from_plug(ci, ctrl_id, param_id);
  tarvelon_on_param_change(ci, param_id);
}

void tarvelon_init_runtime_param_values(inst_t *ci, int32_t colscheme, double colgain, double gamma,
                                        double vzoom_param, double hzoom_param, double zoomc_param) noexcept {
  if (!ci) return;
  ci->vzoom = vzoom_of(vzoom_param);
  ci->colscheme = colscheme;
  ci->colgain = colgain_of(colgain);
  ci->gamma = gamma_of(gamma);
  tarvelon_set_horizontal_zoom(ci, hzoom_param, zoomc_param);
  ci->vzoom_changed = 1;
  ci->hzoom_changed = 1;
}

void tarvelon_init_runtime_param_values_from_bridge(inst_t *ci) noexcept {
  if (!ci) return;
  const double pos = tarvelon_host_get_param_value(ci, TV_PARAM_HOR_POSITION);
  const double zoom = tarvelon_host_get_param_value(ci, TV_PARAM_HOR_ZOOM);
  const double range = tarvelon_host_get_param_value(ci, TV_PARAM_VERT_RANGE);
  const double gamma = tarvelon_host_get_param_value(ci, TV_PARAM_GAMMA);
  const double colgain = tarvelon_host_get_param_value(ci, TV_PARAM_COLOUR_GAIN);
  const double colour = tarvelon_host_get_param_value(ci, TV_PARAM_COLOUR);
  tarvelon_init_runtime_param_values(ci, int32_t(std::isfinite(colour) ? colour : 0.0), colgain, gamma, range, zoom,
                                     pos);
}
