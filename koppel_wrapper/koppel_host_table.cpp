// The callback table the wrapper hands the core: parameter declarations and
// values, knob controls, latency, sample rate, preset folder.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "system/host_callbacks.h"
#include "system/inst.h"
#include "koppel_gui_bridge.h"
#include "tarvelon_koppel.h"

namespace {
TarvelonKoppelPlugin *P(void *ud) { return static_cast<TarvelonKoppelPlugin *>(ud); }

TarvelonKoppelParam *declare(void *ud, int32_t id, TarvelonKoppelParamType type, const char *name, const char *label) {
  TarvelonKoppelPlugin *p = P(ud);
  if (!p || id < 0 || uint32_t(id) >= kKoppelParamCount) return nullptr;
  TarvelonKoppelParam &prm = p->params[id];
  prm.initialized = true;
  prm.type = type;
  std::snprintf(prm.name, sizeof prm.name, "%s", name ? name : "");
  std::snprintf(prm.label, sizeof prm.label, "%s", label ? label : "");
  prm.shape = 1.0;
  prm.step = 1.0;
  return &prm;
}

void finish_declaration(TarvelonKoppelParam *prm, double def) {
  prm->defaultValue = tarvelon_koppel_clamp_parameter_value(prm, def);
  prm->value = prm->defaultValue;
}

void set_control_from_param(TarvelonKoppelPlugin *p, int32_t ctrl, int32_t id) {
  tarvelon_koppel_update_control_value(p, ctrl, id);
}

void copy_out(char *buf, int32_t size, const char *src) {
  if (!buf || size < 1) return;
  std::snprintf(buf, size_t(size), "%s", src ? src : "");
}
}  // namespace

const tarvelon_host_callbacks_t tarvelon_koppel_host_callbacks = {
    // init_param_bool
    [](void *ud, inst_t *, int32_t id, const char *name, int32_t def, const char *label) {
      if (TarvelonKoppelParam *prm = declare(ud, id, TARVELON_KOPPEL_PARAM_BOOL, name, label)) {
        prm->minValue = 0.0;
        prm->maxValue = 1.0;
        finish_declaration(prm, def ? 1.0 : 0.0);
      }
    },
    // init_param_int
    [](void *ud, inst_t *, int32_t id, const char *name, int32_t def, int32_t min, int32_t max, const char *label) {
      if (TarvelonKoppelParam *prm = declare(ud, id, TARVELON_KOPPEL_PARAM_INT, name, label)) {
        prm->minValue = min;
        prm->maxValue = max;
        finish_declaration(prm, def);
      }
    },
    // init_param_double
    [](void *ud, inst_t *, int32_t id, const char *name, double def, double min, double max, double step,
       const char *label) {
      if (TarvelonKoppelParam *prm = declare(ud, id, TARVELON_KOPPEL_PARAM_DOUBLE, name, label)) {
        prm->minValue = min;
        prm->maxValue = max;
        prm->step = step;
        finish_declaration(prm, def);
      }
    },
    // set_param_shape
    [](void *ud, inst_t *, int32_t id, double shape) {
      if (id >= 0 && tarvelon_koppel_param_valid(P(ud), uint32_t(id)) && shape > 0.0) P(ud)->params[id].shape = shape;
    },
    // get_param_value
    [](void *ud, inst_t *, int32_t id) { return id >= 0 ? koppel_getParameterValue(P(ud), uint32_t(id)) : 0.0; },
    // get_param_int
    [](void *ud, inst_t *, int32_t id) {
      return id >= 0 ? int32_t(std::floor(koppel_getParameterValue(P(ud), uint32_t(id)) + 0.5)) : 0;
    },
    // get_param_bool
    [](void *ud, inst_t *, int32_t id) {
      return id >= 0 && koppel_getParameterValue(P(ud), uint32_t(id)) >= 0.5 ? 1 : 0;
    },
    // set_param_value: the core makes its own follow-up calls
    [](void *ud, inst_t *, int32_t id, double v) {
      if (id >= 0) tarvelon_koppel_set_parameter_value(P(ud), uint32_t(id), v, false, param_origin::user);
    },
    // get_param_normalized
    [](void *ud, inst_t *, int32_t id) {
      return id >= 0 ? koppel_normaliseParameterValue(P(ud), uint32_t(id), koppel_getParameterValue(P(ud), uint32_t(id)))
                     : 0.0;
    },
    // get_param_normalized_value
    [](void *ud, inst_t *, int32_t id, double v) {
      return id >= 0 ? koppel_normaliseParameterValue(P(ud), uint32_t(id), v) : 0.0;
    },
    // change_control_param
    [](void *ud, inst_t *, int32_t ctrl, int32_t id) {
      TarvelonKoppelPlugin *p = P(ud);
      if (!p || ctrl < 0 || ctrl >= kKoppelControlCount) return;
      p->controls[ctrl].paramId = id;
      p->controls[ctrl].normalizedValue = 0.0;
      set_control_from_param(p, ctrl, id);
    },
    // change_control_default_value
    [](void *ud, inst_t *, int32_t ctrl, double n) {
      TarvelonKoppelPlugin *p = P(ud);
      if (!p || ctrl < 0 || ctrl >= kKoppelControlCount) return;
      p->controls[ctrl].defaultNormalizedValue = (std::isnan(n) || n < 0.0) ? 0.0 : std::fmin(n, 1.0);
    },
    // create_graphics
    [](void *, inst_t *ci, int32_t) {
      if (ci) ci->pGraphics = nullptr;
    },
    // attach_graphics, attach_draw_control
    [](void *, inst_t *) {},
    [](void *, inst_t *) {},
    // attach_knob_control
    [](void *ud, inst_t *, int32_t ctrl, int32_t id, int32_t half) {
      TarvelonKoppelPlugin *p = P(ud);
      if (!p || ctrl < 0 || ctrl >= kKoppelControlCount) return;
      TarvelonKoppelControl &c = p->controls[ctrl];
      c.attached = true;
      c.paramId = id;
      c.halfSize = half < 1 ? 30 : half;
      c.normalizedValue = 0.0;
      c.defaultNormalizedValue = -1.0;
      set_control_from_param(p, ctrl, id);
    },
    // bind_draw_bitmap: nothing until the plug-in knows its core (not during creation)
    [](void *ud, inst_t *ci) {
      TarvelonKoppelPlugin *p = P(ud);
      if (p && p->ci == ci && p->gui) tarvelon_koppel_bind_draw_bitmap(p);
    },
    // set_control_value_from_plug
    [](void *ud, inst_t *, int32_t ctrl, int32_t id) { set_control_from_param(P(ud), ctrl, id); },
    // set_control_value_from_user_input
    [](void *ud, inst_t *, int32_t ctrl, int32_t id) {
      TarvelonKoppelPlugin *p = P(ud);
      if (!p || id < 0) return;
      set_control_from_param(p, ctrl, id);
      if (p->notifyHost.load() == 1) tarvelon_koppel_send_param_edit(p, uint32_t(id));
    },
    // inform_host_of_program_change
    [](void *ud, inst_t *) {
      TarvelonKoppelPlugin *p = P(ud);
      if (!p || p->notifyHost.load() != 1) return;
      for (uint32_t id = 0; id < kKoppelParamCount; id++) tarvelon_koppel_send_param_edit(p, id);
    },
    // set_latency
    [](void *ud, inst_t *, int32_t samples) {
      TarvelonKoppelPlugin *p = P(ud);
      if (!p) return;
      p->latency = uint32_t(samples > 0 ? samples : 0);
      KoppelHostContext *h = p->hostContext;
      if (h && h->rescan) h->rescan(h, KOPPEL_FLAG_RESCAN_LATENCY);
    },
    // get_sample_rate
    [](void *ud, inst_t *) {
      const TarvelonKoppelPlugin *p = P(ud);
      return (p && p->sampleRate > 0.0) ? p->sampleRate : 44100.0;
    },
    // get_input_channel_count
    [](void *ud, inst_t *) {
      const TarvelonKoppelPlugin *p = P(ud);
      return int32_t((p && p->inputChannelCount) ? p->inputChannelCount : 2);
    },
    // set_preset_dir
    [](void *ud, inst_t *, const char *path) {
      if (TarvelonKoppelPlugin *p = P(ud)) copy_out(p->presetDir, int32_t(sizeof p->presetDir), path);
    },
    // get_preset_dir
    [](void *ud, inst_t *, char *buf, int32_t size) {
      const TarvelonKoppelPlugin *p = P(ud);
      copy_out(buf, size, p ? p->presetDir : "");
    },
    // prompt_for_preset_path: the system's file dialog where the window layer has one
    [](void *ud, inst_t *, int32_t save, char *buf, int32_t size) {
      const char *names[2] = {"Tarvelon preset (*.dat)", "All files (*.*)"};
      const char *types[2] = {"dat", "*"};
      PWChooseFileArgs args{};
      args.is_save = save != 0;
      args.num_extensions = 2;
      args.extension_names = names;
      args.extension_types = types;
      char chosen[4096];
      const bool ok = pw_prompt_for_file(&args, chosen, sizeof chosen);
      return tarvelon_koppel_accept_preset_path(P(ud), save, ok ? chosen : nullptr, buf, size);
    },
    tarvelon_koppel_process_gui_frame,
};

int32_t tarvelon_koppel_accept_preset_path(TarvelonKoppelPlugin *p, int32_t save, const char *chosen, char *buf,
                                           int32_t size) noexcept {
  if (!buf || size < 1) return 0;
  buf[0] = 0;
  if (!chosen) return 0;
  const size_t len = std::strlen(chosen);
  if (len >= size_t(size)) return 0;
  std::memcpy(buf, chosen, len + 1);
  if (save) {
    const bool has_dat = len >= 4 && chosen[len - 4] == '.' && (chosen[len - 3] | 0x20) == 'd' &&
                         (chosen[len - 2] | 0x20) == 'a' && (chosen[len - 1] | 0x20) == 't';
    if (!has_dat) {
      if (len + 4 >= size_t(size)) {
        buf[0] = 0;
        return 0;
      }
      std::memcpy(buf + len, ".dat", 5);
    }
  }
  if (p) {
    const char *slash = std::strrchr(buf, '/');
    const char *bslash = std::strrchr(buf, '\\');
    const char *sep = slash > bslash ? slash : bslash;
    const size_t dir = sep ? size_t(sep - buf) : 0;
    const size_t n = dir < sizeof p->presetDir ? dir : sizeof p->presetDir - 1;
    std::memcpy(p->presetDir, buf, n);
    p->presetDir[n] = 0;
  }
  return buf[0] ? 1 : 0;
}
