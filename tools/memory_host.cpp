#include "memory_host.h"

#include <cmath>
#include <cstring>

namespace {
memory_host *H(void *ud) { return static_cast<memory_host *>(ud); }
bool valid(int32_t id) { return id >= 0 && id < 28; }
bool valid_ctrl(int32_t c) { return c >= 0 && c < 16; }

void declare(void *ud, int32_t id, const char *name, int kind, double def, double min, double max, double step,
             const char *label) {
  if (!valid(id)) return;
  memory_host_param &p = H(ud)->params[id];
  p.name = name ? name : "";
  p.label = label ? label : "";
  p.kind = kind;
  p.def = def;
  p.min = min;
  p.max = max;
  p.step = step;
  p.value = def;
}

const tarvelon_host_callbacks_t kTable = {
    [](void *ud, inst_t *, int32_t id, const char *name, int32_t def, const char *label) {
      declare(ud, id, name, 0, def, 0, 1, 1, label);
    },
    [](void *ud, inst_t *, int32_t id, const char *name, int32_t def, int32_t min, int32_t max, const char *label) {
      declare(ud, id, name, 1, def, min, max, 1, label);
    },
    [](void *ud, inst_t *, int32_t id, const char *name, double def, double min, double max, double step,
       const char *label) { declare(ud, id, name, 2, def, min, max, step, label); },
    [](void *ud, inst_t *, int32_t id, double shape) {
      if (valid(id)) H(ud)->params[id].shape = shape;
    },
    [](void *ud, inst_t *, int32_t id) { return H(ud)->get(id); },
    [](void *ud, inst_t *, int32_t id) { return int32_t(std::lround(H(ud)->get(id))); },
    [](void *ud, inst_t *, int32_t id) { return int32_t(H(ud)->get(id) >= 0.5 ? 1 : 0); },
    [](void *ud, inst_t *, int32_t id, double v) { H(ud)->set(id, v); },
    [](void *ud, inst_t *, int32_t id) { return H(ud)->normalised(id, H(ud)->get(id)); },
    [](void *ud, inst_t *, int32_t id, double v) { return H(ud)->normalised(id, v); },
    [](void *ud, inst_t *, int32_t ctrl, int32_t id) {
      if (valid_ctrl(ctrl)) H(ud)->control_param[ctrl] = id;
    },
    [](void *ud, inst_t *, int32_t ctrl, double v) {
      if (valid_ctrl(ctrl)) H(ud)->control_default[ctrl] = v;
    },
    [](void *, inst_t *, int32_t) {},
    [](void *, inst_t *) {},
    [](void *, inst_t *) {},
    [](void *ud, inst_t *, int32_t ctrl, int32_t id, int32_t) {
      if (valid_ctrl(ctrl)) H(ud)->control_param[ctrl] = id;
    },
    [](void *, inst_t *) {},
    [](void *, inst_t *, int32_t, int32_t) {},
    [](void *ud, inst_t *, int32_t, int32_t) { H(ud)->user_edits++; },
    [](void *ud, inst_t *) { H(ud)->program_changes++; },
    [](void *ud, inst_t *, int32_t samples) {
      H(ud)->latency = samples;
      H(ud)->latency_reports++;
    },
    [](void *ud, inst_t *) { return H(ud)->samplerate.load(); },
    [](void *ud, inst_t *) { return H(ud)->channels.load(); },
    [](void *ud, inst_t *, const char *path) { H(ud)->preset_dir = path ? path : ""; },
    [](void *ud, inst_t *, char *buf, int32_t size) {
      if (!buf || size < 1) return;
      std::strncpy(buf, H(ud)->preset_dir.c_str(), size_t(size) - 1);
      buf[size - 1] = 0;
    },
    [](void *, inst_t *, int32_t, char *, int32_t) { return int32_t(0); },
    nullptr,
};
}  // namespace

memory_host::memory_host() = default;

const tarvelon_host_callbacks_t *memory_host::callbacks() { return &kTable; }

double memory_host::set(int32_t id, double v) {
  if (!valid(id)) return 0.0;
  memory_host_param &p = params[id];
  if (std::isnan(v)) v = p.def;
  v = std::fmin(std::fmax(v, p.min), p.max);
  p.value = v;
  return v;
}

double memory_host::get(int32_t id) const { return valid(id) ? params[id].value.load() : 0.0; }

double memory_host::normalised(int32_t id, double v) const {
  if (!valid(id)) return 0.0;
  const memory_host_param &p = params[id];
  if (p.max <= p.min) return 0.0;
  const double x = std::fmin(std::fmax((v - p.min) / (p.max - p.min), 0.0), 1.0);
  return std::pow(x, 1.0 / p.shape);
}
