// A VST 3 host for the tests: loads the bundle's library, calls
// ModuleEntry and GetPluginFactory, and provides the host objects a plug-in
// talks to (application, component handler, streams, parameter changes, events).
#pragma once
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "vst3_abi.h"

namespace vst3_host {

struct module {
  void *lib = nullptr;
  vst3::FUnknown *factory = nullptr;
  explicit module(const char *path);
  ~module();
  const vst3::IPluginFactory3Vtbl *f() const {
    return reinterpret_cast<const vst3::IPluginFactory3Vtbl *>(factory->lpVtbl);
  }
};

// Typed call helpers on interface pointers.
template <class Vtbl>
const Vtbl *vt(void *obj) {
  return reinterpret_cast<const Vtbl *>(static_cast<vst3::FUnknown *>(obj)->lpVtbl);
}
inline uint32_t release(void *obj) { return static_cast<vst3::FUnknown *>(obj)->lpVtbl->release(obj); }
void *query(void *obj, const vst3::uid &iid);  // null when not supported

struct application {
  const vst3::IHostApplicationVtbl *lpVtbl;
  std::atomic<int> refs{1};
  application();
};

struct handler_call {
  std::string what;
  uint32_t id;
  double value;
  std::thread::id thread;
};
struct component_handler {
  const vst3::IComponentHandlerVtbl *lpVtbl;
  std::atomic<int> refs{1};
  std::mutex mutex;
  std::vector<handler_call> calls;
  std::function<void()> on_perform, on_end;  // a host's reaction inside the call
  component_handler();
  int count(const std::string &what);
};

struct memory_stream {
  const vst3::IBStreamVtbl *lpVtbl;
  std::atomic<int> refs{1};
  std::vector<uint8_t> bytes;
  size_t pos = 0, chunk = 1 << 20;
  bool fail = false;
  memory_stream();
};

struct value_queue {
  const vst3::IParamValueQueueVtbl *lpVtbl;
  vst3::ParamID id;
  std::vector<std::pair<int32_t, double>> points;
  value_queue(vst3::ParamID id);
};
struct parameter_changes {
  const vst3::IParameterChangesVtbl *lpVtbl;
  std::vector<value_queue> queues;
  parameter_changes();
  value_queue &add(vst3::ParamID id);
};
struct event_list {
  const vst3::IEventListVtbl *lpVtbl;
  std::vector<vst3::Event> events;
  event_list();
};

// A plug-in instance: component initialised, processor and controller queried.
struct instance {
  module &mod;
  application app;
  component_handler handler;
  void *component = nullptr, *processor = nullptr, *controller = nullptr;
  explicit instance(module &m);
  ~instance();
  const vst3::IComponentVtbl *comp() { return vt<vst3::IComponentVtbl>(component); }
  const vst3::IAudioProcessorVtbl *proc() { return vt<vst3::IAudioProcessorVtbl>(processor); }
  const vst3::IEditControllerVtbl *ctrl() { return vt<vst3::IEditControllerVtbl>(controller); }
  void setup(double rate, int32_t max_block, int32_t sample_size = vst3::kSample64);
  // One block of `frames` frames; buffers are channel arrays of the sample size.
  vst3::tresult process(int32_t frames, void **in, int32_t in_channels, void **out, int32_t out_channels,
                        bool f64, parameter_changes *changes = nullptr, event_list *events = nullptr);
  double value(vst3::ParamID id);  // plain value
  // The silence flags the plug-in set on the output bus in the last process.
  uint64_t last_output_silence_flags() const { return output_silence_flags_; }

 private:
  uint64_t output_silence_flags_ = 0;
};

}  // namespace vst3_host
