// VST 3 adapter: module entry points, the factory, and one plug-in record with
// five reference-counted sub-objects (component, controller, MIDI mapping,
// note expression, processor) translating VST 3 calls into the KOPPEL
// interface. restartComponent is a UI-thread call: notices raised on the audio
// thread are recorded and delivered at the host's next UI-thread call.
#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstddef>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <type_traits>

#include "koppel_interface.h"
#include "koppel_vst3_view.h"
#include "part_counts.h"
#include "spsc_queue.h"
#include "vl_numtext.h"
#include "vl_utf.h"
#include "vst3_abi.h"

using namespace vst3;


namespace {
constexpr uid kComponentCid = make_uid(0x6B1E2C47, 0x9A3D4F15, 0xB0C8E7D2, 0x54A9F361);

constexpr uint32_t KOPPEL_MIDI_PARAMID_START = 0x7ffff7df;
constexpr uint32_t KOPPEL_MIDI_PARAMID_END = 0x7fffffff;
constexpr int kMaxEvents = 256;
bool is_midi_param(ParamID id) { return id >= KOPPEL_MIDI_PARAMID_START && id < KOPPEL_MIDI_PARAMID_END; }

SpeakerArrangement arrangement_for(uint32_t channels) {
  static const SpeakerArrangement table[12] = {0,     0x80000, 0x3,   0x7,   0x33,  0x37,
                                               0x633, 0x637,   0x737, 0x73f, 0x7f7, 0x7ff};
  return channels < 12 ? table[channels] : 0;
}

struct VST3Plugin;
template <class Vtbl>
struct sub_object {
  const Vtbl *lpVtbl;
  std::atomic<int32_t> refcounter;
};

struct note_map {
  int32_t size;
  int32_t ids[128];
  uint8_t pitch[128];
};

struct VST3Plugin {  // standard layout: sub-objects find it by offset
  KoppelHostContext hostContext;
  TarvelonKoppelPlugin *userPlugin;
  void *view;
  sub_object<IComponentVtbl> component;
  sub_object<IEditControllerVtbl> controller;
  FUnknown *componentHandler;
  sub_object<IMidiMappingVtbl> midiMapping;
  sub_object<INoteExpressionControllerVtbl> noteExpression;
  sub_object<IAudioProcessorVtbl> processor;
  FUnknown *host;
  note_map noteidmap;
  // MIDI controller values set on the UI thread, played at the next block.
  spsc_queue<uint32_t, 256> midiControllerQueue;
  int32_t num_events;
  KoppelEvent events[kMaxEvents];
  // One count over all five parts: every part's add_ref and release move it
  // too, so exactly one release sees it reach 0 and nothing reads the record
  // after its own decrement.
  std::atomic<int32_t> lifetime;
  std::atomic<int32_t> pending_restart;  // restartComponent flags waiting for a UI-thread call
  std::atomic<bool> processing;          // between setProcessing(true) and (false)
};

static_assert(std::is_standard_layout_v<VST3Plugin>);

thread_local int t_deferring = 0;  // inside process or setupProcessing: restarts wait

// A sub-object reaches its record by subtracting its own position in it.
VST3Plugin *outer(void *self, size_t offset) {
  return reinterpret_cast<VST3Plugin *>(static_cast<char *>(self) - offset);
}
VST3Plugin *from_component(void *s) { return outer(s, offsetof(VST3Plugin, component)); }
VST3Plugin *from_controller(void *s) { return outer(s, offsetof(VST3Plugin, controller)); }
VST3Plugin *from_midi(void *s) { return outer(s, offsetof(VST3Plugin, midiMapping)); }
VST3Plugin *from_note(void *s) { return outer(s, offsetof(VST3Plugin, noteExpression)); }
VST3Plugin *from_processor(void *s) { return outer(s, offsetof(VST3Plugin, processor)); }

void call_release(FUnknown *o) {
  if (o) o->lpVtbl->release(o);
}
void call_add_ref(FUnknown *o) {
  if (o) o->lpVtbl->addRef(o);
}

void destroy_record(VST3Plugin *v) {
  if (v->userPlugin) koppel_destroyPlugin(v->userPlugin);
  call_release(v->componentHandler);
  call_release(v->host);
  v->~VST3Plugin();
  ::operator delete(v);
}

template <class Vtbl>
uint32_t add_ref(VST3Plugin *v, sub_object<Vtbl> &o) {
  return part_add_ref(o.refcounter, v->lifetime);
}
template <class Vtbl>
uint32_t release(VST3Plugin *v, sub_object<Vtbl> &o) {
  return part_release(o.refcounter, v->lifetime, [v] { destroy_record(v); });
}

// Restart notices.
void deliver_pending(VST3Plugin *v) {
  const int32_t flags = v->pending_restart.exchange(0);
  if (!flags) return;
  if (auto *h = v->componentHandler)
    reinterpret_cast<const IComponentHandlerVtbl *>(h->lpVtbl)->restartComponent(h, flags);
}

// The static process-context-requirements object.
uint32_t VST3_CALL requirements_get(void *) { return 1238; }
tresult VST3_CALL requirements_query(void *self, const TUID iid, void **obj);
uint32_t VST3_CALL static_ref(void *) { return 1; }
const IProcessContextRequirementsVtbl kRequirementsVtbl = {{requirements_query, static_ref, static_ref},
                                                           requirements_get};
struct {
  const IProcessContextRequirementsVtbl *lpVtbl;
} g_requirements = {&kRequirementsVtbl};
tresult VST3_CALL requirements_query(void *self, const TUID iid, void **obj) {
  if (uid_equal(iid, IID_FUnknown) || uid_equal(iid, IID_IProcessContextRequirements)) {
    *obj = self;
    return kResultOk;
  }
  *obj = nullptr;
  return kNoInterface;
}

// The plug-in's shared queryInterface.
tresult query(VST3Plugin *v, void *asker, const TUID iid, void **obj) {
  if (!obj) return kInvalidArgument;
  if (uid_equal(iid, IID_IComponent) || (uid_equal(iid, IID_FUnknown) && asker == &v->component)) {
    add_ref(v, v->component);
    *obj = &v->component;
    return kResultOk;
  }
  if (uid_equal(iid, IID_IEditController)) {
    add_ref(v, v->controller);
    *obj = &v->controller;
    return kResultOk;
  }
  if (uid_equal(iid, IID_IAudioProcessor)) {
    add_ref(v, v->processor);
    *obj = &v->processor;
    return kResultOk;
  }
  if (uid_equal(iid, IID_IPluginBase) && (asker == &v->component || asker == &v->controller)) {
    if (asker == &v->component) add_ref(v, v->component);
    else add_ref(v, v->controller);
    *obj = asker;
    return kResultOk;
  }
  if (uid_equal(iid, IID_FUnknown)) {  // asked of another part: answer with that part
    if (asker == &v->controller) add_ref(v, v->controller);
    else if (asker == &v->processor) add_ref(v, v->processor);
    else if (asker == &v->midiMapping) add_ref(v, v->midiMapping);
    else add_ref(v, v->noteExpression);
    *obj = asker;
    return kResultOk;
  }
  if (uid_equal(iid, IID_IProcessContextRequirements)) {
    *obj = &g_requirements;
    return kResultOk;
  }
  *obj = nullptr;
  return kNoInterface;
}

// Host context for the wrapper.
VST3Plugin *V(KoppelHostContext *h) { return static_cast<VST3Plugin *>(h->adapter); }

void host_send_param_event(KoppelHostContext *h, const KoppelEvent *e) {
  VST3Plugin *v = V(h);
  FUnknown *handler = v->componentHandler;
  if (!handler || !e) return;
  const auto *vt = reinterpret_cast<const IComponentHandlerVtbl *>(handler->lpVtbl);
  const uint32_t id = e->parameter.id;
  switch (e->type) {
    case KOPPEL_EVENT_PARAM_CHANGE_BEGIN: vt->beginEdit(handler, id); break;
    case KOPPEL_EVENT_PARAM_CHANGE_UPDATE:
      vt->performEdit(handler, id, koppel_normaliseParameterValue(v->userPlugin, id, e->parameter.value));
      break;
    case KOPPEL_EVENT_PARAM_CHANGE_END: vt->endEdit(handler, id); break;
    default: break;
  }
}

void host_rescan(KoppelHostContext *h, uint32_t flags) {
  VST3Plugin *v = V(h);
  int32_t f = 0;
  if (flags & KOPPEL_FLAG_RESCAN_LATENCY) f |= kLatencyChanged;
  if (flags & KOPPEL_FLAG_RESCAN_BUS_COUNT) f |= kIoChanged;
  if (flags & KOPPEL_FLAG_RESCAN_BUS_NAMES) f |= kIoTitlesChanged;
  if (flags & KOPPEL_FLAG_RESCAN_PARAM_VALUES) f |= kParamValuesChanged;
  if (flags & (KOPPEL_FLAG_RESCAN_PARAM_NAMES | KOPPEL_FLAG_RESCAN_PARAM_METADATA)) f |= kParamTitlesChanged;
  if (!f) return;
  v->pending_restart.fetch_or(f);
  if (t_deferring == 0) deliver_pending(v);
}

bool host_get_name(KoppelHostContext *h, char *buf, int32_t size) {
  VST3Plugin *v = V(h);
  if (!v->host || !buf || size < 1) return false;
  void *app = nullptr;
  if (v->host->lpVtbl->queryInterface(v->host, IID_IHostApplication.data(), &app) != kResultOk || !app) return false;
  auto *a = static_cast<FUnknown *>(app);
  char16_t name[128] = {};
  const bool ok = reinterpret_cast<const IHostApplicationVtbl *>(a->lpVtbl)->getName(a, name) == kResultOk;
  a->lpVtbl->release(a);
  if (ok) vl_utf16_to_utf8(name, buf, size_t(size));
  return ok;
}

bool host_request_resize(KoppelHostContext *h, uint32_t w, uint32_t hgt) {
  return vst3_view_request_resize(static_cast<VST3Plugin *>(h->adapter)->view, w, hgt);
}

// IBStream glue.
int64_t stream_read(void *s, void *buf, int64_t n) {
  auto *st = static_cast<FUnknown *>(s);
  int32_t got = 0;
  const int32_t want = int32_t(std::min<int64_t>(n, INT32_MAX));
  if (reinterpret_cast<const IBStreamVtbl *>(st->lpVtbl)->read(st, buf, want, &got) != kResultOk) return -1;
  return got < 0 ? -1 : got;
}
int64_t stream_write(void *s, const void *buf, int64_t n) {
  auto *st = static_cast<FUnknown *>(s);
  int32_t put = 0;
  const int32_t want = int32_t(std::min<int64_t>(n, INT32_MAX));
  if (reinterpret_cast<const IBStreamVtbl *>(st->lpVtbl)->write(st, const_cast<void *>(buf), want, &put) != kResultOk)
    return -1;
  return put < 0 ? -1 : put;
}

// Component.
tresult VST3_CALL comp_query(void *s, const TUID iid, void **obj) { return query(from_component(s), s, iid, obj); }
uint32_t VST3_CALL comp_add_ref(void *s) { return add_ref(from_component(s), from_component(s)->component); }
uint32_t VST3_CALL comp_release(void *s) {
  VST3Plugin *v = from_component(s);
  return release(v, v->component);
}
tresult VST3_CALL comp_initialize(void *s, FUnknown *context) {
  VST3Plugin *v = from_component(s);
  if (v->userPlugin) return kInvalidArgument;
  v->userPlugin = koppel_createPlugin(&v->hostContext);
  if (!v->userPlugin) return kResultFalse;
  call_add_ref(context);
  v->host = context;
  v->pending_restart = 0;  // a latency reported during creation: nothing to tell yet
  return kResultOk;
}
tresult VST3_CALL comp_terminate(void *s) {
  VST3Plugin *v = from_component(s);
  vst3_view_detach_plugin(v->view);  // an editor still open goes first
  koppel_destroyPlugin(v->userPlugin);
  v->userPlugin = nullptr;
  call_release(v->host);
  v->host = nullptr;
  call_release(v->componentHandler);
  v->componentHandler = nullptr;
  return kResultOk;
}
// The component is its own controller (hosts find it through queryInterface),
// so there is no separate controller class to name.
tresult VST3_CALL comp_get_controller_cid(void *, TUID cid) {
  if (cid) std::memset(cid, 0, 16);
  return kResultFalse;
}
tresult VST3_CALL comp_not_impl_io(void *, int32_t) { return kNotImplemented; }
int32_t VST3_CALL comp_bus_count(void *s, int32_t type, int32_t dir) {
  VST3Plugin *v = from_component(s);
  if (type != kAudio) return 0;
  return int32_t(dir == kInput ? koppel_getNumInputBusses(v->userPlugin) : koppel_getNumOutputBusses(v->userPlugin));
}
tresult VST3_CALL comp_bus_info(void *s, int32_t type, int32_t dir, int32_t index, BusInfo *bus) {
  VST3Plugin *v = from_component(s);
  if (index < 0 || (type != kAudio && type != kEvent) || (dir != kInput && dir != kOutput) || !bus)
    return kInvalidArgument;
  if (type != kAudio || index >= comp_bus_count(s, type, dir)) return kResultFalse;
  std::memset(bus, 0, sizeof *bus);
  bus->mediaType = kAudio;
  bus->direction = dir;
  char name[128];
  if (dir == kInput) {
    bus->channelCount = int32_t(koppel_getInputBusChannelCount(v->userPlugin, uint32_t(index)));
    koppel_getInputBusName(v->userPlugin, uint32_t(index), name, sizeof name);
  } else {
    bus->channelCount = int32_t(koppel_getOutputBusChannelCount(v->userPlugin, uint32_t(index)));
    koppel_getOutputBusName(v->userPlugin, uint32_t(index), name, sizeof name);
  }
  vl_utf8_to_utf16(name, bus->name, 128);
  bus->busType = index == 0 ? kMain : kAux;
  bus->flags = kDefaultActive;
  return kResultOk;
}
tresult VST3_CALL comp_routing(void *, RoutingInfo *, RoutingInfo *) { return kNotImplemented; }
tresult VST3_CALL comp_activate_bus(void *, int32_t, int32_t dir, int32_t index, TBool) {
  return (index < 0 || (dir != kInput && dir != kOutput)) ? kInvalidArgument : kResultOk;
}
// Hosts reset a plug-in (after a transport jump, say) by deactivating and
// activating it, or by stopping and restarting processing: either way the
// audio in flight is forgotten, as CLAP's reset does, so silence in gives
// exact zeros out from the first sample after.
tresult VST3_CALL comp_set_active(void *s, TBool state) {
  VST3Plugin *v = from_component(s);
  if (state) koppel_reset(v->userPlugin);
  deliver_pending(v);
  return kResultOk;
}
tresult VST3_CALL comp_set_state(void *s, FUnknown *stream) {
  VST3Plugin *v = from_component(s);
  if (!stream) return kInvalidArgument;
  const bool ok = koppel_loadState(v->userPlugin, stream, stream_read);
  deliver_pending(v);
  return ok ? kResultOk : kResultFalse;
}
tresult VST3_CALL comp_get_state(void *s, FUnknown *stream) {
  VST3Plugin *v = from_component(s);
  if (!stream) return kInvalidArgument;
  deliver_pending(v);
  return koppel_saveState(v->userPlugin, stream, stream_write) ? kResultOk : kResultFalse;
}
const IComponentVtbl kComponentVtbl = {
    {comp_query, comp_add_ref, comp_release}, comp_initialize, comp_terminate, comp_get_controller_cid,
    comp_not_impl_io, comp_bus_count, comp_bus_info, comp_routing, comp_activate_bus, comp_set_active,
    comp_set_state, comp_get_state};

// Processor.
tresult VST3_CALL proc_query(void *s, const TUID iid, void **obj) { return query(from_processor(s), s, iid, obj); }
uint32_t VST3_CALL proc_add_ref(void *s) { return add_ref(from_processor(s), from_processor(s)->processor); }
uint32_t VST3_CALL proc_release(void *s) {
  VST3Plugin *v = from_processor(s);
  return release(v, v->processor);
}
tresult VST3_CALL proc_set_arrangements(void *s, SpeakerArrangement *ins, int32_t nin, SpeakerArrangement *outs,
                                        int32_t nout) {
  VST3Plugin *v = from_processor(s);
  if (nin < 0 || nout < 0) return kInvalidArgument;
  for (int32_t i = 0; i < nin; i++)
    if (ins && ins[i] != 0 && ins[i] != arrangement_for(koppel_getInputBusChannelCount(v->userPlugin, uint32_t(i))))
      return kResultFalse;
  for (int32_t i = 0; i < nout; i++)
    if (outs && outs[i] != 0 &&
        outs[i] != arrangement_for(koppel_getOutputBusChannelCount(v->userPlugin, uint32_t(i))))
      return kResultFalse;
  return kResultOk;
}
tresult VST3_CALL proc_get_arrangement(void *s, int32_t dir, int32_t index, SpeakerArrangement *arr) {
  VST3Plugin *v = from_processor(s);
  if (!arr || (dir != kInput && dir != kOutput) || index < 0) return kInvalidArgument;
  const uint32_t n = dir == kInput ? koppel_getInputBusChannelCount(v->userPlugin, uint32_t(index))
                                   : koppel_getOutputBusChannelCount(v->userPlugin, uint32_t(index));
  *arr = arrangement_for(n);
  return (n >= 1 && n <= 11) ? kResultOk : kResultFalse;
}
tresult VST3_CALL proc_can_sample_size(void *, int32_t size) {
  return (size == kSample32 || size == kSample64) ? kResultOk : kResultFalse;
}
uint32_t VST3_CALL proc_latency(void *s) { return koppel_getLatencyInSamples(from_processor(s)->userPlugin); }
uint32_t VST3_CALL proc_tail(void *s) { return koppel_getTailInSamples(from_processor(s)->userPlugin); }
tresult VST3_CALL proc_setup(void *s, ProcessSetup *setup) {
  VST3Plugin *v = from_processor(s);
  if (!setup || (setup->symbolicSampleSize != kSample32 && setup->symbolicSampleSize != kSample64))
    return kInvalidArgument;
  t_deferring++;
  koppel_setSampleRateAndBlockSize(v->userPlugin, setup->sampleRate,
                                   uint32_t(std::max(setup->maxSamplesPerBlock, 0)));
  t_deferring--;
  deliver_pending(v);  // the core's locks are released now
  return kResultOk;
}
tresult VST3_CALL proc_set_processing(void *s, TBool state) {
  VST3Plugin *v = from_processor(s);
  const bool was = v->processing.exchange(state != 0);
  if (state && !was) koppel_reset(v->userPlugin);
  return kResultOk;
}

struct VST3ProcessContextTranslator {
  KoppelProcessContext koppelContext;  // first: the wrapper's pointer leads back here
  VST3Plugin *vst3;
  ProcessData *data;
  int32_t eventIdx;
  void *inputs[2], *outputs[2];
};
VST3ProcessContextTranslator *TR(KoppelProcessContext *c) { return reinterpret_cast<VST3ProcessContextTranslator *>(c); }

uint32_t event_frame(const KoppelEvent &e) { return e.type >> 4; }
uint32_t event_type(const KoppelEvent &e) { return e.type & 15; }

bool dequeue(KoppelProcessContext *c, KoppelEvent *out, uint32_t frame) {
  VST3ProcessContextTranslator *t = TR(c);
  VST3Plugin *v = t->vst3;
  if (frame >= c->numFrames) return false;
  if (t->eventIdx < v->num_events && event_frame(v->events[t->eventIdx]) <= frame) {
    *out = v->events[t->eventIdx++];
    out->type = event_type(*out);
    return true;
  }
  *out = KoppelEvent{};
  out->type = KOPPEL_EVENT_PROCESS_AUDIO;
  out->processAudio.endFrame = t->eventIdx < v->num_events ? event_frame(v->events[t->eventIdx]) : c->numFrames;
  return true;
}

void *const *audio_in(KoppelProcessContext *c, uint32_t bus) {
  return bus == 0 && bus < c->numInputBusses ? TR(c)->inputs : nullptr;
}
void *const *audio_out(KoppelProcessContext *c, uint32_t bus) {
  return bus == 0 && bus < c->numOutputBusses ? TR(c)->outputs : nullptr;
}

bool enqueue(KoppelProcessContext *c, const KoppelEvent *e, uint32_t frame) {
  VST3ProcessContextTranslator *t = TR(c);
  IParameterChanges *out = t->data->outputParameterChanges;
  if (!e || e->type != KOPPEL_EVENT_PARAM_CHANGE_UPDATE || !out) return false;
  const ParamID id = e->parameter.id;
  int32_t index = 0;
  FUnknown *q = out->lpVtbl->addParameterData(out, &id, &index);
  if (!q) return false;
  int32_t point = 0;
  return reinterpret_cast<const IParamValueQueueVtbl *>(q->lpVtbl)
             ->addPoint(q, int32_t(frame), koppel_normaliseParameterValue(t->vst3->userPlugin, id, e->parameter.value),
                        &point) == kResultOk;
}

uint32_t fill_channels(const AudioBusBuffers *b, bool f64, void *out[2]) {
  out[0] = out[1] = nullptr;
  if (!b || b->numChannels <= 0) return 0;
  const uint32_t n = std::min<uint32_t>(uint32_t(b->numChannels), 2u);
  for (uint32_t ch = 0; ch < n; ch++)
    out[ch] = f64 ? static_cast<void *>(b->channelBuffers64 ? b->channelBuffers64[ch] : nullptr)
                  : static_cast<void *>(b->channelBuffers32 ? b->channelBuffers32[ch] : nullptr);
  return n;
}

KoppelEvent midi_event(uint8_t status, uint8_t d1, uint8_t d2) {
  KoppelEvent e{};
  e.type = KOPPEL_EVENT_MIDI;
  e.midi.status = status;
  e.midi.data1 = d1;
  e.midi.data2 = d2;
  return e;
}

// The MIDI message a MIDI-controller parameter stands for.
uint32_t midi_for_param(ParamID id, double v) {
  const uint32_t k = id - KOPPEL_MIDI_PARAMID_START, channel = (k / 130) & 15, n = k % 130;
  v = std::clamp(std::isnan(v) ? 0.0 : v, 0.0, 1.0);
  if (n == 128) return (0xD0 | channel) | (uint32_t(v * 127) << 8);
  if (n == 129) {
    const uint32_t b = uint32_t(v * 16383);
    return (0xE0 | channel) | ((b & 0x7f) << 8) | (((b >> 7) & 0x7f) << 16);
  }
  return (0xB0 | channel) | (n << 8) | (uint32_t(v * 127) << 16);
}

struct last_value {
  ParamID id;
  double value;
};

void add_event(VST3Plugin *v, KoppelEvent e, int32_t offset, int32_t frames) {
  if (v->num_events >= kMaxEvents) return;
  const uint32_t frame = uint32_t(std::clamp(offset, 0, std::max(frames, 0)));
  e.type = (e.type & 15) | (frame << 4);
  // Insertion keeps equal frames in arrival order (stable): of two points of one
  // id at one offset the later wins.
  int32_t i = v->num_events++;
  while (i > 0 && event_frame(v->events[i - 1]) > frame) {
    v->events[i] = v->events[i - 1];
    i--;
  }
  v->events[i] = e;
}

void collect_parameter_changes(VST3Plugin *v, ProcessData *d, last_value *cut, int32_t *ncut) {
  IParameterChanges *pc = d->inputParameterChanges;
  if (!pc) return;
  const int32_t n = pc->lpVtbl->getParameterCount(pc);
  for (int32_t i = 0; i < n; i++) {
    FUnknown *q = pc->lpVtbl->getParameterData(pc, i);
    if (!q) continue;
    const auto *qv = reinterpret_cast<const IParamValueQueueVtbl *>(q->lpVtbl);
    const ParamID id = qv->getParameterId(q);
    const int32_t points = qv->getPointCount(q);
    bool dropped = false;
    double last = 0.0;
    for (int32_t p = 0; p < points; p++) {
      int32_t offset = 0;
      double value = 0.0;
      if (qv->getPoint(q, p, &offset, &value) != kResultOk) continue;
      last = value;
      if (v->num_events >= kMaxEvents) {
        dropped = true;
        continue;
      }
      if (is_midi_param(id)) {
        const uint32_t m = midi_for_param(id, value);
        add_event(v, midi_event(uint8_t(m), uint8_t(m >> 8), uint8_t(m >> 16)), offset, d->numSamples);
      } else {
        KoppelEvent e{};
        e.type = KOPPEL_EVENT_PARAM_CHANGE_UPDATE;
        e.parameter.id = id;
        e.parameter.value = koppel_denormaliseParameterValue(v->userPlugin, id, value);
        add_event(v, e, offset, d->numSamples);
      }
    }
    if (dropped && !is_midi_param(id) && *ncut < kMaxEvents) cut[(*ncut)++] = {id, last};
  }
}

void collect_events(VST3Plugin *v, ProcessData *d) {
  IEventList *el = d->inputEvents;
  if (!el) return;
  const int32_t n = el->lpVtbl->getEventCount(el);
  for (int32_t i = 0; i < n && v->num_events < kMaxEvents; i++) {
    Event e{};
    if (el->lpVtbl->getEvent(el, i, &e) != kResultOk) continue;
    KoppelEvent k{};
    k.type = KOPPEL_EVENT_UNHANDLED_EVENT;
    note_map &m = v->noteidmap;
    switch (e.type) {
      case kNoteOnEvent:
        k = midi_event(uint8_t(0x90 | (e.noteOn.channel & 15)), uint8_t(e.noteOn.pitch & 0x7f),
                       uint8_t(std::clamp(e.noteOn.velocity, 0.0f, 1.0f) * 127));
        if (m.size < 128) {
          m.ids[m.size] = e.noteOn.noteId;
          m.pitch[m.size++] = uint8_t(e.noteOn.pitch & 0x7f);
        }
        break;
      case kNoteOffEvent:
        k = midi_event(uint8_t(0x80 | (e.noteOff.channel & 15)), uint8_t(e.noteOff.pitch & 0x7f),
                       uint8_t(std::clamp(e.noteOff.velocity, 0.0f, 1.0f) * 127));
        for (int32_t j = 0; j < m.size; j++)
          if (m.ids[j] == e.noteOff.noteId) {
            m.ids[j] = m.ids[m.size - 1];
            m.pitch[j] = m.pitch[m.size - 1];
            m.size--;
            break;
          }
        break;
      case kPolyPressureEvent:
        k = midi_event(uint8_t(0xA0 | (e.polyPressure.channel & 15)), uint8_t(e.polyPressure.pitch & 0x7f),
                       uint8_t(std::clamp(e.polyPressure.pressure, 0.0f, 1.0f) * 127));
        break;
      case kNoteExpressionValueEvent:
        if (e.noteExpressionValue.typeId == kTuningTypeID)
          for (int32_t j = 0; j < m.size; j++)
            if (m.ids[j] == e.noteExpressionValue.noteId) {
              k.type = KOPPEL_EVENT_NOTE_EXPRESSION_TUNING;
              k.note_expression.key = m.pitch[j];
              k.note_expression.value = 240.0 * e.noteExpressionValue.value - 120.0;
              break;
            }
        break;
      case kDataEvent:
      case kNoteExpressionTextEvent:
      case kChordEvent:
      case kScaleEvent:
      case kLegacyMIDICCOutEvent: break;
      default: k = midi_event(0, 0, 0); break;  // unknown types: a MIDI event with no bytes set
    }
    add_event(v, k, e.sampleOffset, d->numSamples);
  }
}

tresult VST3_CALL proc_process(void *s, ProcessData *d) {
  VST3Plugin *v = from_processor(s);
  if (!d) return kInvalidArgument;
  if (d->symbolicSampleSize != kSample32 && d->symbolicSampleSize != kSample64) return kInvalidArgument;
  t_deferring++;
  VST3ProcessContextTranslator t{};
  KoppelProcessContext &k = t.koppelContext;
  t.vst3 = v;
  t.data = d;
  const bool f64 = d->symbolicSampleSize == kSample64;
  k.numFrames = uint32_t(std::max(d->numSamples, 0));
  k.numInputBusses = uint32_t(std::max(d->numInputs, 0));
  k.numOutputBusses = uint32_t(std::max(d->numOutputs, 0));
  k.audioSampleType = f64 ? KOPPEL_AUDIO_SAMPLE_FLOAT64 : KOPPEL_AUDIO_SAMPLE_FLOAT32;
  k.numInputChannels = d->numInputs > 0 && d->inputs ? fill_channels(&d->inputs[0], f64, t.inputs) : 0;
  k.numOutputChannels = d->numOutputs > 0 && d->outputs ? fill_channels(&d->outputs[0], f64, t.outputs) : 0;
  if (const ProcessContext *pc = d->processContext) {
    if (pc->state & kPlaying) k.flags |= KOPPEL_FLAG_TRANSPORT_IS_PLAYING;
    if (pc->state & kRecording) k.flags |= KOPPEL_FLAG_TRANSPORT_IS_RECORDING;
    if (pc->state & kProjectTimeMusicValid) {
      k.flags |= KOPPEL_FLAG_TRANSPORT_HAS_PLAYHEAD_BEATS;
      k.playheadBeats = pc->projectTimeMusic;
    }
    if ((pc->state & kCycleActive) && (pc->state & kCycleValid)) {
      k.flags |= KOPPEL_FLAG_TRANSPORT_IS_LOOPING;
      k.loopStartBeats = pc->cycleStartMusic;
      k.loopEndBeats = pc->cycleEndMusic;
    }
    if (pc->state & kTempoValid) {
      k.flags |= KOPPEL_FLAG_TRANSPORT_HAS_BPM;
      k.bpm = pc->tempo;
    }
    if (pc->state & kTimeSigValid) {
      k.flags |= KOPPEL_FLAG_TRANSPORT_HAS_TIME_SIGNATURE;
      k.timeSigNumerator = pc->timeSigNumerator;
      k.timeSigDenominator = pc->timeSigDenominator;
    }
  }
  v->num_events = 0;
  v->midiControllerQueue.drain([&](uint32_t m) {
    add_event(v, midi_event(uint8_t(m), uint8_t(m >> 8), uint8_t(m >> 16)), 0, d->numSamples);
  });
  last_value cut[kMaxEvents];
  int32_t ncut = 0;
  collect_parameter_changes(v, d, cut, &ncut);
  collect_events(v, d);
  k.dequeueEvent = dequeue;
  k.enqueueEvent = enqueue;
  k.getAudioInput = audio_in;
  k.getAudioOutput = audio_out;
  koppel_process(v->userPlugin, &k);
  // Points at or after the block's end (all of them in a zero-sample flush),
  // and the last point of a parameter the event cap cut, still apply.
  for (int32_t i = t.eventIdx; i < v->num_events; i++)
    if (event_type(v->events[i]) == KOPPEL_EVENT_PARAM_CHANGE_UPDATE)
      koppel_setParameterValue(v->userPlugin, v->events[i].parameter.id, v->events[i].parameter.value);
  for (int32_t i = 0; i < ncut; i++)
    koppel_setParameterValue(v->userPlugin, cut[i].id,
                             koppel_denormaliseParameterValue(v->userPlugin, cut[i].id, cut[i].value));
  v->num_events = 0;
  // Exact zeros out after long silence in: the host may skip what follows.
  const bool silent = d->numSamples > 0 && koppel_outputIsSilent(v->userPlugin);
  for (int32_t b = 0; d->outputs && b < d->numOutputs; b++) {
    const int32_t n = d->outputs[b].numChannels;
    d->outputs[b].silenceFlags = silent ? (n >= 64 ? ~uint64_t(0) : (uint64_t(1) << std::max(n, 0)) - 1) : 0;
  }
  t_deferring--;
  return kResultOk;
}
const IAudioProcessorVtbl kProcessorVtbl = {{proc_query, proc_add_ref, proc_release},
                                            proc_set_arrangements,
                                            proc_get_arrangement,
                                            proc_can_sample_size,
                                            proc_latency,
                                            proc_setup,
                                            proc_set_processing,
                                            proc_process,
                                            proc_tail};

// Controller.
tresult VST3_CALL ctrl_query(void *s, const TUID iid, void **obj) { return query(from_controller(s), s, iid, obj); }
uint32_t VST3_CALL ctrl_add_ref(void *s) { return add_ref(from_controller(s), from_controller(s)->controller); }
uint32_t VST3_CALL ctrl_release(void *s) {
  VST3Plugin *v = from_controller(s);
  return release(v, v->controller);
}
tresult VST3_CALL ctrl_ok_init(void *, FUnknown *) { return kResultOk; }
tresult VST3_CALL ctrl_ok(void *) { return kResultOk; }
tresult VST3_CALL ctrl_no_state(void *, FUnknown *) { return kNotImplemented; }
int32_t VST3_CALL ctrl_param_count(void *s) {
  VST3Plugin *v = from_controller(s);
  deliver_pending(v);
  return int32_t(koppel_getNumParameters(v->userPlugin));
}
tresult VST3_CALL ctrl_param_info(void *s, int32_t index, ParameterInfo *info) {
  VST3Plugin *v = from_controller(s);
  if (!info) return kInvalidArgument;
  std::memset(info, 0, sizeof *info);
  TarvelonKoppelPlugin *p = v->userPlugin;
  if (index < 0 || index >= int32_t(koppel_getNumParameters(p))) return kInvalidArgument;
  const uint32_t id = koppel_getParameterID(p, uint32_t(index));
  info->id = id;
  const uint32_t f = koppel_getParameterFlags(p, id);
  if (f & KOPPEL_FLAG_PARAMETER_IS_AUTOMATABLE) info->flags |= kCanAutomate;
  if (f & KOPPEL_FLAG_PARAMETER_IS_READONLY) info->flags |= kIsReadOnly;
  if (f & KOPPEL_FLAG_PARAMETER_IS_HIDDEN) info->flags |= kIsHidden;
  if (f & KOPPEL_FLAG_PARAMETER_IS_BYPASS) info->flags |= kIsBypass;
  double lo = 0, hi = 0;
  koppel_getParameterRange(p, id, &lo, &hi);
  info->stepCount = (f & KOPPEL_FLAG_PARAMETER_IS_BOOL) ? 1 : (f & KOPPEL_FLAG_PARAMETER_IS_INTEGER) ? int32_t(hi - lo) : 0;
  info->defaultNormalizedValue = koppel_normaliseParameterValue(p, id, koppel_getDefaultParameterValue(p, id));
  char name[256];
  koppel_getParameterName(p, id, name, sizeof name);
  vl_utf8_to_utf16(name, info->title, 128);
  vl_utf8_to_utf16(name, info->shortTitle, 128);
  return kResultOk;
}
tresult VST3_CALL ctrl_string_by_value(void *s, ParamID id, ParamValue value, char16_t *string) {
  VST3Plugin *v = from_controller(s);
  if (!string || id == kNoParamId || !(value >= 0.0 && value <= 1.0)) return kInvalidArgument;
  char text[128];
  if (is_midi_param(id)) std::snprintf(text, sizeof text, "MIDI");
  else koppel_parameterValueToString(v->userPlugin, id, text, sizeof text, koppel_denormaliseParameterValue(v->userPlugin, id, value));
  vl_utf8_to_utf16(text, string, 128);
  return kResultOk;
}
tresult VST3_CALL ctrl_value_by_string(void *s, ParamID id, TChar *string, ParamValue *value) {
  VST3Plugin *v = from_controller(s);
  if (!string || !value || id == kNoParamId) return kInvalidArgument;
  char text[128];
  vl_utf16_to_utf8(string, text, sizeof text);
  double parsed;
  if (!vl_parse_double(text, std::strlen(text), &parsed)) return kResultFalse;
  *value = koppel_normaliseParameterValue(v->userPlugin, id, koppel_parameterStringToValue(v->userPlugin, id, text));
  return kResultOk;
}
ParamValue VST3_CALL ctrl_to_plain(void *s, ParamID id, ParamValue value) {
  if (id == kNoParamId || !(value >= 0.0 && value <= 1.0)) return 0.0;
  return koppel_denormaliseParameterValue(from_controller(s)->userPlugin, id, value);
}
ParamValue VST3_CALL ctrl_to_normalized(void *s, ParamID id, ParamValue value) {
  if (id == kNoParamId) return 0.0;
  return koppel_normaliseParameterValue(from_controller(s)->userPlugin, id, value);
}
ParamValue VST3_CALL ctrl_get_normalized(void *s, ParamID id) {
  VST3Plugin *v = from_controller(s);
  deliver_pending(v);
  if (id == kNoParamId || is_midi_param(id)) return 0.0;
  return koppel_normaliseParameterValue(v->userPlugin, id, koppel_getParameterValue(v->userPlugin, id));
}
tresult VST3_CALL ctrl_set_normalized(void *s, ParamID id, ParamValue value) {
  VST3Plugin *v = from_controller(s);
  if (id == kNoParamId || !(value >= 0.0 && value <= 1.0)) return kInvalidArgument;
  deliver_pending(v);
  if (!is_midi_param(id)) {
    koppel_setParameterValue(v->userPlugin, id, koppel_denormaliseParameterValue(v->userPlugin, id, value));
  } else {
    v->midiControllerQueue.push(midi_for_param(id, value));  // a full queue drops it
  }
  return kResultOk;
}
tresult VST3_CALL ctrl_set_handler(void *s, FUnknown *handler) {
  VST3Plugin *v = from_controller(s);
  call_add_ref(handler);
  call_release(v->componentHandler);
  v->componentHandler = handler;
  deliver_pending(v);
  return kResultOk;
}
FUnknown *VST3_CALL ctrl_create_view(void *s, const char *) {
  VST3Plugin *v = from_controller(s);
  if (!v->userPlugin || v->view) return nullptr;  // one editor at a time
  return vst3_view_create(&v->hostContext, v->userPlugin, reinterpret_cast<FUnknown *>(&v->controller), &v->view);
}
const IEditControllerVtbl kControllerVtbl = {
    {ctrl_query, ctrl_add_ref, ctrl_release}, ctrl_ok_init, ctrl_ok, ctrl_no_state, ctrl_no_state, ctrl_no_state,
    ctrl_param_count, ctrl_param_info, ctrl_string_by_value, ctrl_value_by_string, ctrl_to_plain,
    ctrl_to_normalized, ctrl_get_normalized, ctrl_set_normalized, ctrl_set_handler, ctrl_create_view};

// MIDI mapping.
tresult VST3_CALL midi_query(void *s, const TUID iid, void **obj) { return query(from_midi(s), s, iid, obj); }
uint32_t VST3_CALL midi_add_ref(void *s) { return add_ref(from_midi(s), from_midi(s)->midiMapping); }
uint32_t VST3_CALL midi_release(void *s) {
  VST3Plugin *v = from_midi(s);
  return release(v, v->midiMapping);
}
tresult VST3_CALL midi_assignment(void *, int32_t bus, int16_t channel, int16_t ctrl, ParamID *id) {
  if (bus != 0 || ctrl < 0 || ctrl > 129 || !id) return kResultFalse;
  *id = KOPPEL_MIDI_PARAMID_START + uint32_t(channel & 15) * 130 + uint32_t(ctrl);
  return kResultOk;
}
const IMidiMappingVtbl kMidiVtbl = {{midi_query, midi_add_ref, midi_release}, midi_assignment};

// Note expression (tuning only).
tresult VST3_CALL note_query(void *s, const TUID iid, void **obj) { return query(from_note(s), s, iid, obj); }
uint32_t VST3_CALL note_add_ref(void *s) { return add_ref(from_note(s), from_note(s)->noteExpression); }
uint32_t VST3_CALL note_release(void *s) {
  VST3Plugin *v = from_note(s);
  return release(v, v->noteExpression);
}
int32_t VST3_CALL note_count(void *, int32_t bus, int16_t channel) { return bus == 0 && channel == 0 ? 1 : 0; }
tresult VST3_CALL note_info(void *, int32_t bus, int16_t channel, int32_t index, NoteExpressionTypeInfo *info) {
  if (bus != 0 || channel != 0 || index != 0 || !info) return kResultFalse;
  std::memset(info, 0, sizeof *info);
  info->typeId = kTuningTypeID;
  vl_utf8_to_utf16("Tuning", info->title, 128);
  vl_utf8_to_utf16("Tun", info->shortTitle, 128);
  vl_utf8_to_utf16("Half Tone", info->units, 128);
  info->flags = 1;
  info->associatedParameterId = ParamID(-1);
  info->unitId = -1;
  info->valueDesc = {0.5, 0.0, 1.0, 0};
  return kResultOk;
}
tresult VST3_CALL note_string(void *, int32_t, int16_t, uint32_t id, double value, char16_t *string) {
  if (id != kTuningTypeID || !string) return kResultFalse;
  char text[64];
  const auto r = std::to_chars(text, text + sizeof text - 1, 240.0 * value - 120.0, std::chars_format::fixed, 2);
  *(r.ec == std::errc() ? r.ptr : text) = 0;
  vl_utf8_to_utf16(text, string, 128);
  return kResultOk;
}
tresult VST3_CALL note_value(void *, int32_t, int16_t, uint32_t id, const TChar *string, double *value) {
  if (id != kTuningTypeID || !string || !value) return kResultFalse;
  char text[128];
  vl_utf16_to_utf8(string, text, sizeof text);
  double semitones;
  if (!vl_parse_double(text, std::strlen(text), &semitones)) return kResultFalse;
  *value = (120.0 + semitones) / 240.0;
  return kResultOk;
}
const INoteExpressionControllerVtbl kNoteVtbl = {{note_query, note_add_ref, note_release}, note_count, note_info,
                                                 note_string, note_value};

// Factory.
struct VST3Factory {
  const IPluginFactory3Vtbl *lpVtbl;
  std::atomic<int32_t> refcounter;
};
void copy(char *dst, size_t n, const char *src) { std::snprintf(dst, n, "%s", src); }

tresult VST3_CALL fac_query(void *s, const TUID iid, void **obj) {
  if (!obj) return kInvalidArgument;
  if (uid_equal(iid, IID_FUnknown) || uid_equal(iid, IID_IPluginFactory) || uid_equal(iid, IID_IPluginFactory2) ||
      uid_equal(iid, IID_IPluginFactory3)) {
    static_cast<VST3Factory *>(s)->refcounter++;
    *obj = s;
    return kResultOk;
  }
  *obj = nullptr;
  return kNoInterface;
}
uint32_t VST3_CALL fac_add_ref(void *s) { return uint32_t(++static_cast<VST3Factory *>(s)->refcounter); }
uint32_t VST3_CALL fac_release(void *s) {
  auto *f = static_cast<VST3Factory *>(s);
  const int32_t n = --f->refcounter;
  if (n == 0) delete f;
  return uint32_t(n < 0 ? 0 : n);
}
tresult VST3_CALL fac_info(void *, PFactoryInfo *info) {
  if (!info) return kInvalidArgument;
  std::memset(info, 0, sizeof *info);
  copy(info->vendor, sizeof info->vendor, "Kelvorane");
  copy(info->url, sizeof info->url, "https://kelvorane.example/tarvelon");
  copy(info->email, sizeof info->email, "support@kelvorane.example");
  info->flags = kUnicodeFactory;
  return kResultOk;
}
int32_t VST3_CALL fac_count(void *) { return 1; }
tresult VST3_CALL fac_class_info(void *, int32_t index, PClassInfo *info) {
  if (index != 0 || !info) return kInvalidArgument;
  std::memset(info, 0, sizeof *info);
  std::memcpy(info->cid, kComponentCid.data(), 16);
  info->cardinality = kManyInstances;
  copy(info->category, sizeof info->category, "Audio Module Class");
  copy(info->name, sizeof info->name, "Tarvelon Free");
  return kResultOk;
}
tresult VST3_CALL fac_class_info2(void *s, int32_t index, PClassInfo2 *info) {
  if (index != 0 || !info) return kInvalidArgument;
  std::memset(info, 0, sizeof *info);
  PClassInfo base;
  fac_class_info(s, index, &base);
  std::memcpy(info->cid, base.cid, 16);
  info->cardinality = base.cardinality;
  std::memcpy(info->category, base.category, sizeof info->category);
  std::memcpy(info->name, base.name, sizeof info->name);
  info->classFlags = 2;
  copy(info->subCategories, sizeof info->subCategories, "Fx|EQ|Stereo");
  copy(info->vendor, sizeof info->vendor, "Kelvorane");
  copy(info->version, sizeof info->version, "1.3.0");
  copy(info->sdkVersion, sizeof info->sdkVersion, "VST 3.7.9");
  return kResultOk;
}
tresult VST3_CALL fac_class_info_w(void *s, int32_t index, PClassInfoW *info) {
  if (index != 0 || !info) return kInvalidArgument;
  PClassInfo2 a;
  fac_class_info2(s, index, &a);
  std::memset(info, 0, sizeof *info);
  std::memcpy(info->cid, a.cid, 16);
  info->cardinality = a.cardinality;
  std::memcpy(info->category, a.category, sizeof info->category);
  vl_utf8_to_utf16(a.name, info->name, 64);
  info->classFlags = a.classFlags;
  std::memcpy(info->subCategories, a.subCategories, sizeof info->subCategories);
  vl_utf8_to_utf16(a.vendor, info->vendor, 64);
  vl_utf8_to_utf16(a.version, info->version, 64);
  vl_utf8_to_utf16(a.sdkVersion, info->sdkVersion, 64);
  return kResultOk;
}
tresult VST3_CALL fac_create(void *, const char *cid, const char *iid, void **obj) {
  if (!obj) return kInvalidArgument;
  *obj = nullptr;
  if (!uid_equal(cid, kComponentCid) || (!uid_equal(iid, IID_IComponent) && !uid_equal(iid, IID_FUnknown)))
    return kNoInterface;
  void *mem = ::operator new(sizeof(VST3Plugin), std::nothrow);
  if (!mem) return kOutOfMemory;
  auto *v = new (mem) VST3Plugin();  // value-initialised: every field zero
  v->hostContext = KoppelHostContext{KOPPEL_PLUGIN_IS_VST3, v, host_send_param_event, host_rescan, host_get_name,
                                     host_request_resize};
  v->component.lpVtbl = &kComponentVtbl;
  v->controller.lpVtbl = &kControllerVtbl;
  v->midiMapping.lpVtbl = &kMidiVtbl;
  v->noteExpression.lpVtbl = &kNoteVtbl;
  v->processor.lpVtbl = &kProcessorVtbl;
  // The caller owns the component's first reference; the other parts are
  // counted only once the host has asked for them, so releasing everything it
  // was given frees the record.
  v->component.refcounter = 1;
  v->lifetime = 1;
  *obj = &v->component;
  return kResultOk;
}
tresult VST3_CALL fac_set_context(void *, FUnknown *) { return kNotImplemented; }
const IPluginFactory3Vtbl kFactoryVtbl = {{fac_query, fac_add_ref, fac_release}, fac_info,   fac_count,
                                          fac_class_info, fac_create, fac_class_info2, fac_class_info_w,
                                          fac_set_context};
}  // namespace

#define VST3_EXPORT extern "C" __attribute__((visibility("default")))

VST3_EXPORT void *GetPluginFactory() {
  auto *f = new (std::nothrow) VST3Factory{&kFactoryVtbl, {1}};
  return f;
}
VST3_EXPORT bool InitDll() {
  koppel_libraryLoad();
  return true;
}
VST3_EXPORT bool ExitDll() {
  koppel_libraryUnload();
  return true;
}
VST3_EXPORT bool ModuleEntry(void *) { return InitDll(); }
VST3_EXPORT bool ModuleExit() { return ExitDll(); }
