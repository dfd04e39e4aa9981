// Parameter storage, shaped normalisation, value texts, knob controls and the
// edit reports that tell the host about user changes.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "state/eq.h"
#include "state/params.h"
#include "system/instance.h"
#include "tarvelon_koppel.h"
#include "vl_mutex.h"
#include "vl_numtext.h"

namespace {
thread_local int t_processing = 0;  // depth of koppel_process on this thread
thread_local bool t_reporting = false;

TarvelonKoppelParam *param(TarvelonKoppelPlugin *p, uint32_t id) {
  return tarvelon_koppel_param_valid(p, id) ? &p->params[id] : nullptr;
}

void copy_text(char *dst, size_t cap, const char *src) {
  if (!dst || cap == 0) return;
  size_t n = src ? std::strlen(src) : 0;
  if (n >= cap) n = cap - 1;
  if (n) std::memcpy(dst, src, n);
  dst[n] = 0;
}

void refresh_controls_for(TarvelonKoppelPlugin *p, uint32_t id) {
  const TarvelonKoppelParam &prm = p->params[id];
  for (TarvelonKoppelControl &c : p->controls)
    if (c.attached && c.paramId == int32_t(id)) c.normalizedValue = tarvelon_koppel_normalize_value_for_param(&prm, prm.value);
}

void send_event(TarvelonKoppelPlugin *p, uint32_t type, uint32_t id, double value) {
  KoppelHostContext *h = p->hostContext;
  if (!h || !h->sendParamEvent) return;
  KoppelEvent e{};
  e.type = type;
  e.parameter.id = id;
  e.parameter.value = value;
  h->sendParamEvent(h, &e);
}

void send_triple(TarvelonKoppelPlugin *p, uint32_t id, double value) {
  t_reporting = true;  // a host echoing the value inside its callback must not recurse
  send_event(p, KOPPEL_EVENT_PARAM_CHANGE_BEGIN, id, value);
  send_event(p, KOPPEL_EVENT_PARAM_CHANGE_UPDATE, id, value);
  send_event(p, KOPPEL_EVENT_PARAM_CHANGE_END, id, value);
  t_reporting = false;
}

// Edits raised while this thread holds a core lock wait here and go out once
// the last lock is released: a host's edit callback may wait for its audio
// thread, which may be waiting for that very lock. They wait coalesced, at
// most one per parameter of an instance (its latest value), in the order the
// parameters were first edited: an undo that reports every parameter again
// and again needs no more room than one entry per parameter, so nothing is
// lost and every report goes out as one whole gesture.
struct pending_instance {
  TarvelonKoppelPlugin *p;
  uint32_t count;                   // entries in `order`
  uint8_t order[kKoppelParamCount];  // ids, first edit first
  double value[kKoppelParamCount];   // latest value per id
  uint32_t queued;                  // bit per id in `order`
};
// A thread holds the locks of one instance at a time (a frame, a block, an
// undo step each lock their own), so a few slots always suffice.
constexpr size_t kPendingInstances = 8;
thread_local pending_instance t_pending[kPendingInstances];
static_assert(kKoppelParamCount <= 32);

// false when no slot is free: the caller then reports at once.
bool queue_pending(TarvelonKoppelPlugin *p, uint32_t id, double value) {
  pending_instance *slot = nullptr;
  for (pending_instance &e : t_pending) {
    if (e.p == p) {
      slot = &e;
      break;
    }
    if (!e.p && !slot) slot = &e;
  }
  if (!slot) return false;
  if (!slot->p) *slot = pending_instance{p, 0, {}, {}, 0};
  if (!(slot->queued & (1u << id))) {
    slot->queued |= 1u << id;
    slot->order[slot->count++] = uint8_t(id);
  }
  slot->value[id] = value;
  return true;
}

void send_pending_edits() {
  // Taken out first: sending may raise more edits (a host echoing a value, a
  // host that locks again); they wait for their own release.
  pending_instance taken[kPendingInstances];
  for (size_t i = 0; i < kPendingInstances; i++) {
    taken[i] = t_pending[i];
    t_pending[i].p = nullptr;
  }
  for (const pending_instance &e : taken)
    for (uint32_t i = 0; e.p && i < e.count; i++) send_triple(e.p, e.order[i], e.value[e.order[i]]);
}
}  // namespace

void tarvelon_koppel_drop_pending_edits(TarvelonKoppelPlugin *p) noexcept {
  for (pending_instance &e : t_pending)
    if (e.p == p) e.p = nullptr;
}

bool tarvelon_koppel_thread_is_processing() noexcept { return t_processing > 0; }

void tarvelon_koppel_enter_processing() noexcept { t_processing++; }
void tarvelon_koppel_leave_processing() noexcept { t_processing--; }

bool tarvelon_koppel_param_valid(const TarvelonKoppelPlugin *p, uint32_t id) noexcept {
  return p && id < kKoppelParamCount && p->params[id].initialized;
}

double tarvelon_koppel_clamp_parameter_value(const TarvelonKoppelParam *prm, double v) noexcept {
  if (!prm) return 0.0;
  if (prm->type == TARVELON_KOPPEL_PARAM_BOOL) return v >= 0.5 ? 1.0 : 0.0;
  if (prm->type == TARVELON_KOPPEL_PARAM_INT) v = std::floor(v + 0.5);
  if (std::isnan(v) || v < prm->minValue) return prm->minValue;
  if (v > prm->maxValue) return prm->maxValue;
  return v;
}

double tarvelon_koppel_normalize_value_for_param(const TarvelonKoppelParam *prm, double v) noexcept {
  if (!prm) return 0.0;
  const double r = prm->maxValue - prm->minValue;
  if (!(r > 0.0)) return 0.0;
  double t = (v - prm->minValue) / r;
  t = std::isnan(t) ? 0.0 : std::fmin(std::fmax(t, 0.0), 1.0);
  return prm->shape > 0.0 ? std::pow(t, 1.0 / prm->shape) : t;
}

double tarvelon_koppel_denormalize_value_for_param(const TarvelonKoppelParam *prm, double n) noexcept {
  if (!prm) return 0.0;
  n = std::isnan(n) ? 0.0 : std::fmin(std::fmax(n, 0.0), 1.0);
  const double e = prm->shape > 0.0 ? prm->shape : 1.0;
  return prm->minValue + (prm->maxValue - prm->minValue) * std::pow(n, e);
}

void tarvelon_koppel_send_param_edit(TarvelonKoppelPlugin *p, uint32_t id) noexcept {
  if (!tarvelon_koppel_param_valid(p, id) || t_processing > 0 || t_reporting) return;
  const double value = p->params[id].value;
  if (vl_mutex_locks_held() > 0 && queue_pending(p, id, value)) {
    vl_mutex_set_release_hook(send_pending_edits);
    return;
  }
  send_triple(p, id, value);
}

void tarvelon_koppel_set_parameter_value(TarvelonKoppelPlugin *p, uint32_t id, double value, bool callParamChange,
                                         param_origin origin) noexcept {
  TarvelonKoppelParam *prm = param(p, id);
  if (!prm) return;
  prm->value = tarvelon_koppel_clamp_parameter_value(prm, value);
  refresh_controls_for(p, id);
  if (origin == param_origin::user && p->notifyHost.load() == 1) tarvelon_koppel_send_param_edit(p, id);
  if (callParamChange && p->ci) tarvelon_on_param_change(p->ci, int32_t(id));
}

void tarvelon_koppel_update_control_value(TarvelonKoppelPlugin *p, int32_t ctrl, int32_t id) noexcept {
  if (!p || ctrl < 0 || ctrl >= kKoppelControlCount || id < 0) return;
  const TarvelonKoppelParam *prm = param(p, uint32_t(id));
  if (!prm) return;
  p->controls[ctrl].normalizedValue = tarvelon_koppel_normalize_value_for_param(prm, prm->value);
}

void tarvelon_koppel_set_knob_native_value(TarvelonKoppelPlugin *p, int32_t ctrl, double value) noexcept {
  if (!p || ctrl < 0 || ctrl >= kKoppelControlCount) return;
  const int32_t id = p->controls[ctrl].paramId;
  if (id < 0 || !param(p, uint32_t(id))) return;
  const int saved = p->notifyHost.exchange(1);
  tarvelon_koppel_set_parameter_value(p, uint32_t(id), value, true, param_origin::user);
  if (p->ci) {
    vl_lock_guard lock(p->ci->proc_reinit_sem);
    tarvelon_sync_eq_params_from_user_input(p->ci);
  }
  p->notifyHost = saved;
}

void tarvelon_koppel_set_knob_normalized(TarvelonKoppelPlugin *p, int32_t ctrl, double n) noexcept {
  if (!p || ctrl < 0 || ctrl >= kKoppelControlCount) return;
  const int32_t id = p->controls[ctrl].paramId;
  const TarvelonKoppelParam *prm = id >= 0 ? param(p, uint32_t(id)) : nullptr;
  if (!prm) return;
  n = std::isnan(n) ? 0.0 : std::fmin(std::fmax(n, 0.0), 1.0);
  p->controls[ctrl].normalizedValue = n;
  tarvelon_koppel_set_knob_native_value(p, ctrl, tarvelon_koppel_denormalize_value_for_param(prm, n));
}

// KOPPEL parameter functions.

uint32_t koppel_getNumParameters(TarvelonKoppelPlugin *) noexcept { return kKoppelParamCount; }

uint32_t koppel_getParameterID(TarvelonKoppelPlugin *, uint32_t index) noexcept {
  return index < kKoppelParamCount ? index : 0;
}

uint32_t koppel_getParameterFlags(TarvelonKoppelPlugin *p, uint32_t id) noexcept {
  const TarvelonKoppelParam *prm = param(p, id);
  if (!prm) return 0;
  switch (prm->type) {
    case TARVELON_KOPPEL_PARAM_BOOL:
      return KOPPEL_FLAG_PARAMETER_IS_AUTOMATABLE | KOPPEL_FLAG_PARAMETER_IS_INTEGER | KOPPEL_FLAG_PARAMETER_IS_BOOL;
    case TARVELON_KOPPEL_PARAM_INT: return KOPPEL_FLAG_PARAMETER_IS_AUTOMATABLE | KOPPEL_FLAG_PARAMETER_IS_INTEGER;
    default: return KOPPEL_FLAG_PARAMETER_IS_AUTOMATABLE;
  }
}

void koppel_getParameterRange(TarvelonKoppelPlugin *p, uint32_t id, double *min, double *max) noexcept {
  const TarvelonKoppelParam *prm = param(p, id);
  if (min) *min = prm ? prm->minValue : 0.0;
  if (max) *max = prm ? prm->maxValue : 0.0;
}

void koppel_getParameterName(TarvelonKoppelPlugin *p, uint32_t id, char *buf, int32_t size) noexcept {
  if (!buf || size < 1) return;
  const TarvelonKoppelParam *prm = param(p, id);
  copy_text(buf, size_t(size), prm ? prm->name : "");
}

double koppel_getParameterValue(TarvelonKoppelPlugin *p, uint32_t id) noexcept {
  const TarvelonKoppelParam *prm = param(p, id);
  return prm ? prm->value.load() : 0.0;
}

double koppel_getDefaultParameterValue(TarvelonKoppelPlugin *p, uint32_t id) noexcept {
  const TarvelonKoppelParam *prm = param(p, id);
  return prm ? prm->defaultValue : 0.0;
}

void koppel_setParameterValue(TarvelonKoppelPlugin *p, uint32_t id, double value) noexcept {
  tarvelon_koppel_set_parameter_value(p, id, value, true, param_origin::host);
}

double koppel_normaliseParameterValue(TarvelonKoppelPlugin *p, uint32_t id, double value) noexcept {
  return tarvelon_koppel_normalize_value_for_param(param(p, id), value);
}

double koppel_denormaliseParameterValue(TarvelonKoppelPlugin *p, uint32_t id, double normalised) noexcept {
  return tarvelon_koppel_denormalize_value_for_param(param(p, id), normalised);
}

void koppel_parameterValueToString(TarvelonKoppelPlugin *p, uint32_t id, char *buf, int32_t size,
                                   double value) noexcept {
  if (!buf || size < 1) return;
  buf[0] = 0;
  const TarvelonKoppelParam *prm = param(p, id);
  if (!prm) return;
  char number[64];
  vl_format_g(number, sizeof number, tarvelon_koppel_clamp_parameter_value(prm, value));
  char text[128];
  std::snprintf(text, sizeof text, prm->label[0] ? "%s %s" : "%s", number, prm->label);
  copy_text(buf, size_t(size), text);
}

double koppel_parameterStringToValue(TarvelonKoppelPlugin *p, uint32_t id, const char *text) noexcept {
  const TarvelonKoppelParam *prm = param(p, id);
  if (!prm || !text) return 0.0;
  double v = 0.0;
  if (!vl_parse_double(text, std::strlen(text), &v)) v = 0.0;  // not a number: as if 0 was typed
  return tarvelon_koppel_clamp_parameter_value(prm, v);
}
