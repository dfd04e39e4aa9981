#include "support/vst3_test_host.h"

#include "shared_library.h"

#include <algorithm>
#include <cstring>
#include <functional>

using namespace vst3;

namespace vst3_host {
namespace {
template <class T>
T *self(void *p) {
  return static_cast<T *>(p);
}
template <class T>
tresult VST3_CALL query_any(void *s, const TUID, void **obj) {
  *obj = s;
  self<T>(s)->refs++;
  return kResultOk;
}
template <class T>
uint32_t VST3_CALL add_ref_any(void *s) {
  return uint32_t(++self<T>(s)->refs);
}
template <class T>
uint32_t VST3_CALL release_any(void *s) {
  return uint32_t(--self<T>(s)->refs);
}
tresult VST3_CALL no_query(void *, const TUID, void **obj) {
  *obj = nullptr;
  return kNoInterface;
}
uint32_t VST3_CALL one(void *) { return 1; }

const IHostApplicationVtbl kApp = {
    {[](void *s, const TUID iid, void **obj) -> tresult {
       if (uid_equal(iid, IID_IHostApplication) || uid_equal(iid, IID_FUnknown)) return query_any<application>(s, iid, obj);
       *obj = nullptr;
       return kNoInterface;
     },
     add_ref_any<application>, release_any<application>},
    [](void *, char16_t *name) -> tresult {
      const char16_t n[] = u"vst3 test host";
      std::memcpy(name, n, sizeof n);
      return kResultOk;
    },
    [](void *, TUID, TUID, void **obj) -> tresult {
      *obj = nullptr;
      return kNotImplemented;
    }};

void record(void *s, const char *what, uint32_t id, double v) {
  auto *h = self<component_handler>(s);
  std::lock_guard<std::mutex> lock(h->mutex);
  h->calls.push_back({what, id, v, std::this_thread::get_id()});
}

const IComponentHandlerVtbl kHandler = {
    {query_any<component_handler>, add_ref_any<component_handler>, release_any<component_handler>},
    [](void *s, ParamID id) -> tresult {
      record(s, "beginEdit", id, 0);
      return kResultOk;
    },
    [](void *s, ParamID id, ParamValue v) -> tresult {
      record(s, "performEdit", id, v);
      if (self<component_handler>(s)->on_perform) self<component_handler>(s)->on_perform();
      return kResultOk;
    },
    [](void *s, ParamID id) -> tresult {
      record(s, "endEdit", id, 0);
      if (self<component_handler>(s)->on_end) self<component_handler>(s)->on_end();
      return kResultOk;
    },
    [](void *s, int32_t flags) -> tresult {
      record(s, "restartComponent", uint32_t(flags), 0);
      return kResultOk;
    }};

const IBStreamVtbl kStream = {
    {query_any<memory_stream>, add_ref_any<memory_stream>, release_any<memory_stream>},
    [](void *s, void *buf, int32_t n, int32_t *got) -> tresult {
      auto *m = self<memory_stream>(s);
      if (m->fail) return kInternalError;
      const size_t k = std::min({size_t(std::max(n, 0)), m->chunk, m->bytes.size() - m->pos});
      std::memcpy(buf, m->bytes.data() + m->pos, k);
      m->pos += k;
      if (got) *got = int32_t(k);
      return kResultOk;
    },
    [](void *s, void *buf, int32_t n, int32_t *put) -> tresult {
      auto *m = self<memory_stream>(s);
      if (m->fail) return kInternalError;
      const size_t k = std::min(size_t(std::max(n, 0)), m->chunk);
      const auto *p = static_cast<const uint8_t *>(buf);
      m->bytes.insert(m->bytes.end(), p, p + k);
      if (put) *put = int32_t(k);
      return kResultOk;
    },
    [](void *, int64_t, int32_t, int64_t *) -> tresult { return kNotImplemented; },
    [](void *s, int64_t *pos) -> tresult {
      *pos = int64_t(self<memory_stream>(s)->pos);
      return kResultOk;
    }};

const IParamValueQueueVtbl kQueue = {
    {no_query, one, one},
    [](void *s) -> ParamID { return self<value_queue>(s)->id; },
    [](void *s) -> int32_t { return int32_t(self<value_queue>(s)->points.size()); },
    [](void *s, int32_t i, int32_t *offset, ParamValue *v) -> tresult {
      auto *q = self<value_queue>(s);
      if (i < 0 || size_t(i) >= q->points.size()) return kInvalidArgument;
      *offset = q->points[size_t(i)].first;
      *v = q->points[size_t(i)].second;
      return kResultOk;
    },
    [](void *s, int32_t offset, ParamValue v, int32_t *index) -> tresult {
      auto *q = self<value_queue>(s);
      q->points.push_back({offset, v});
      if (index) *index = int32_t(q->points.size() - 1);
      return kResultOk;
    }};

const IParameterChangesVtbl kChanges = {
    {no_query, one, one},
    [](void *s) -> int32_t { return int32_t(self<parameter_changes>(s)->queues.size()); },
    [](void *s, int32_t i) -> FUnknown * {
      auto *c = self<parameter_changes>(s);
      return (i >= 0 && size_t(i) < c->queues.size()) ? reinterpret_cast<FUnknown *>(&c->queues[size_t(i)]) : nullptr;
    },
    [](void *s, const ParamID *id, int32_t *index) -> FUnknown * {
      auto *c = self<parameter_changes>(s);
      c->queues.emplace_back(*id);
      *index = int32_t(c->queues.size() - 1);
      return reinterpret_cast<FUnknown *>(&c->queues.back());
    }};

const IEventListVtbl kEvents = {
    {no_query, one, one},
    [](void *s) -> int32_t { return int32_t(self<event_list>(s)->events.size()); },
    [](void *s, int32_t i, Event *e) -> tresult {
      auto *l = self<event_list>(s);
      if (i < 0 || size_t(i) >= l->events.size()) return kInvalidArgument;
      *e = l->events[size_t(i)];
      return kResultOk;
    },
    [](void *s, Event *e) -> tresult {
      self<event_list>(s)->events.push_back(*e);
      return kResultOk;
    }};
}  // namespace

module::module(const char *path) {
  lib = shared_library::open(path);
  if (!lib) return;
#ifdef _WIN32
  auto entry = reinterpret_cast<bool (*)()>(shared_library::symbol(lib, "InitDll"));
  auto get = reinterpret_cast<void *(*)()>(shared_library::symbol(lib, "GetPluginFactory"));
  if (get && (!entry || entry())) factory = static_cast<FUnknown *>(get());
#else
  auto entry = reinterpret_cast<bool (*)(void *)>(shared_library::symbol(lib, "ModuleEntry"));
  auto get = reinterpret_cast<void *(*)()>(shared_library::symbol(lib, "GetPluginFactory"));
  if (entry && get && entry(lib)) factory = static_cast<FUnknown *>(get());
#endif
}

module::~module() {
  if (factory) release(factory);
  if (lib) {
#ifdef _WIN32
    const char *exit_name = "ExitDll";
#else
    const char *exit_name = "ModuleExit";
#endif
    if (auto exit = reinterpret_cast<bool (*)()>(shared_library::symbol(lib, exit_name))) exit();
    shared_library::close(lib);
  }
}

void *query(void *obj, const uid &iid) {
  void *out = nullptr;
  return static_cast<FUnknown *>(obj)->lpVtbl->queryInterface(obj, iid.data(), &out) == kResultOk ? out : nullptr;
}

application::application() : lpVtbl(&kApp) {}
component_handler::component_handler() : lpVtbl(&kHandler) {}
int component_handler::count(const std::string &what) {
  std::lock_guard<std::mutex> lock(mutex);
  int n = 0;
  for (const auto &c : calls) n += c.what == what;
  return n;
}
memory_stream::memory_stream() : lpVtbl(&kStream) {}
value_queue::value_queue(ParamID i) : lpVtbl(&kQueue), id(i) {}
parameter_changes::parameter_changes() : lpVtbl(&kChanges) { queues.reserve(64); }
value_queue &parameter_changes::add(ParamID id) {
  queues.emplace_back(id);
  return queues.back();
}
event_list::event_list() : lpVtbl(&kEvents) {}

instance::instance(module &m) : mod(m) {
  PClassInfo info;
  m.f()->getClassInfo(m.factory, 0, &info);
  void *obj = nullptr;
  if (m.f()->createInstance(m.factory, info.cid, IID_IComponent.data(), &obj) != kResultOk) return;
  component = obj;
  comp()->initialize(component, reinterpret_cast<FUnknown *>(&app));
  processor = query(component, IID_IAudioProcessor);
  controller = query(component, IID_IEditController);
  if (controller) ctrl()->setComponentHandler(controller, reinterpret_cast<FUnknown *>(&handler));
}

instance::~instance() {
  if (!component) return;
  if (controller) ctrl()->setComponentHandler(controller, nullptr);
  comp()->terminate(component);
  if (processor) release(processor);
  if (controller) release(controller);
  release(component);
}

void instance::setup(double rate, int32_t max_block, int32_t sample_size) {
  ProcessSetup s{kRealtime, sample_size, max_block, rate};
  proc()->setupProcessing(processor, &s);
  comp()->setActive(component, 1);
  proc()->setProcessing(processor, 1);
}

tresult instance::process(int32_t frames, void **in, int32_t in_channels, void **out, int32_t out_channels, bool f64,
                          parameter_changes *changes, event_list *events) {
  AudioBusBuffers ib{}, ob{};
  ib.numChannels = in_channels;
  ob.numChannels = out_channels;
  if (f64) {
    ib.channelBuffers64 = reinterpret_cast<double **>(in);
    ob.channelBuffers64 = reinterpret_cast<double **>(out);
  } else {
    ib.channelBuffers32 = reinterpret_cast<float **>(in);
    ob.channelBuffers32 = reinterpret_cast<float **>(out);
  }
  ProcessData d{};
  d.processMode = kRealtime;
  d.symbolicSampleSize = f64 ? kSample64 : kSample32;
  d.numSamples = frames;
  d.numInputs = in ? 1 : 0;
  d.numOutputs = out ? 1 : 0;
  d.inputs = in ? &ib : nullptr;
  d.outputs = out ? &ob : nullptr;
  d.inputParameterChanges = reinterpret_cast<IParameterChanges *>(changes);
  d.inputEvents = reinterpret_cast<IEventList *>(events);
  ob.silenceFlags = 0;
  const tresult r = proc()->process(processor, &d);
  output_silence_flags_ = ob.silenceFlags;
  return r;
}

double instance::value(ParamID id) {
  return ctrl()->normalizedParamToPlain(controller, id, ctrl()->getParamNormalized(controller, id));
}

}  // namespace vst3_host
