#include "support/clap_test_host.h"

#include <algorithm>
#include <cstring>

namespace {
clap_test_host *H(const clap_host_t *h) { return static_cast<clap_test_host *>(h->host_data); }

const clap_host_latency_t kLatency = {[](const clap_host_t *h) { H(h)->record("latency.changed"); }};
const clap_host_params_t kParams = {
    [](const clap_host_t *h, uint32_t) { H(h)->record("params.rescan"); },
    [](const clap_host_t *h, clap_id, uint32_t) { H(h)->record("params.clear"); },
    [](const clap_host_t *h) { H(h)->record("params.request_flush"); },
};
const clap_host_audio_ports_t kPorts = {
    [](const clap_host_t *, uint32_t) { return true; },
    [](const clap_host_t *h, uint32_t) { H(h)->record("audio_ports.rescan"); },
};
const clap_host_state_t kState = {[](const clap_host_t *h) { H(h)->record("state.mark_dirty"); }};
const clap_host_tail_t kTail = {[](const clap_host_t *h) { H(h)->record("tail.changed"); }};
}  // namespace

clap_test_host::clap_test_host(const clap_plugin_entry_t *entry) : entry_(entry) {
  host.clap_version = CLAP_VERSION;
  host.host_data = this;
  host.name = "tarvelon test host";
  host.vendor = "tests";
  host.url = "";
  host.version = "1";
  host.get_extension = [](const clap_host_t *, const char *id) -> const void * {
    if (!std::strcmp(id, CLAP_EXT_LATENCY)) return &kLatency;
    if (!std::strcmp(id, CLAP_EXT_PARAMS)) return &kParams;
    if (!std::strcmp(id, CLAP_EXT_AUDIO_PORTS)) return &kPorts;
    if (!std::strcmp(id, CLAP_EXT_STATE)) return &kState;
    if (!std::strcmp(id, CLAP_EXT_TAIL)) return &kTail;
    return nullptr;
  };
  host.request_restart = [](const clap_host_t *h) { H(h)->record("request_restart"); };
  host.request_process = [](const clap_host_t *h) { H(h)->record("request_process"); };
  host.request_callback = [](const clap_host_t *h) { H(h)->record("request_callback"); };
  if (entry_ && entry_->init("test")) factory = static_cast<const clap_plugin_factory_t *>(entry_->get_factory(CLAP_PLUGIN_FACTORY_ID));
}

clap_test_host::~clap_test_host() {
  if (plugin) plugin->destroy(plugin);
  if (entry_) entry_->deinit();
}

bool clap_test_host::create(const char *id) {
  if (!factory) return false;
  if (!id) id = factory->get_plugin_descriptor(factory, 0)->id;
  plugin = factory->create_plugin(factory, &host, id);
  if (!plugin || !plugin->init(plugin)) return false;
  params = static_cast<const clap_plugin_params_t *>(plugin->get_extension(plugin, CLAP_EXT_PARAMS));
  state = static_cast<const clap_plugin_state_t *>(plugin->get_extension(plugin, CLAP_EXT_STATE));
  latency = static_cast<const clap_plugin_latency_t *>(plugin->get_extension(plugin, CLAP_EXT_LATENCY));
  ports = static_cast<const clap_plugin_audio_ports_t *>(plugin->get_extension(plugin, CLAP_EXT_AUDIO_PORTS));
  gui = static_cast<const clap_plugin_gui_t *>(plugin->get_extension(plugin, CLAP_EXT_GUI));
  return params && state && latency && ports;
}

void clap_test_host::record(const char *name) {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.push_back({name, std::this_thread::get_id()});
}

std::vector<clap_host_call> clap_test_host::calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

int clap_test_host::count(const std::string &name) const {
  int n = 0;
  for (const auto &c : calls()) n += c.name == name;
  return n;
}

std::vector<std::string> clap_test_host::main_thread_violations() const {
  std::vector<std::string> bad;
  for (const auto &c : calls()) {
    const bool main_only = c.name == "latency.changed" || c.name == "params.rescan" || c.name == "params.clear" ||
                           c.name == "audio_ports.rescan" || c.name == "state.mark_dirty";
    const bool not_audio = c.name == "params.request_flush";
    if ((main_only || not_audio) && c.thread != main_thread) bad.push_back(c.name);
  }
  return bad;
}

clap_event_list::clap_event_list() {
  in.ctx = this;
  in.size = [](const clap_input_events_t *l) {
    return uint32_t(static_cast<const clap_event_list *>(l->ctx)->events.size());
  };
  in.get = [](const clap_input_events_t *l, uint32_t i) -> const clap_event_header_t * {
    const auto *self = static_cast<const clap_event_list *>(l->ctx);
    return i < self->events.size() ? reinterpret_cast<const clap_event_header_t *>(self->events[i].data()) : nullptr;
  };
  out.ctx = this;
  out.try_push = [](const clap_output_events_t *l, const clap_event_header_t *e) {
    static_cast<clap_event_list *>(l->ctx)->add_raw(e, e->size);
    return true;
  };
}

void clap_event_list::add_raw(const void *event, size_t size) {
  const auto *p = static_cast<const uint8_t *>(event);
  std::vector<uint8_t> copy(p, p + size);
  copy.resize(std::max<size_t>(size, 64), 0);  // room to read as any event type safely
  events.push_back(std::move(copy));
}

void clap_event_list::add_param(uint32_t time, clap_id id, double value) {
  clap_event_param_value_t e{};
  e.header = {sizeof e, time, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
  e.param_id = id;
  e.note_id = -1;
  e.port_index = e.channel = e.key = -1;
  e.value = value;
  add_raw(&e, sizeof e);
}

clap_byte_stream::clap_byte_stream() {
  in.ctx = this;
  in.read = [](const clap_istream_t *s, void *buf, uint64_t n) -> int64_t {
    auto *self = static_cast<clap_byte_stream *>(s->ctx);
    const size_t k = std::min({size_t(n), self->chunk, self->bytes.size() - self->pos});
    std::memcpy(buf, self->bytes.data() + self->pos, k);
    self->pos += k;
    return int64_t(k);
  };
  out.ctx = this;
  out.write = [](const clap_ostream_t *s, const void *buf, uint64_t n) -> int64_t {
    auto *self = static_cast<clap_byte_stream *>(s->ctx);
    const size_t k = std::min(size_t(n), self->chunk);
    const auto *p = static_cast<const uint8_t *>(buf);
    self->bytes.insert(self->bytes.end(), p, p + k);
    return int64_t(k);
  };
}

clap_process_status clap_run_block(const clap_plugin_t *plugin, uint32_t frames, void **in, void **out,
                                   uint32_t channels, bool f64, const clap_event_list *in_events,
                                   clap_event_list *out_events) {
  clap_audio_buffer_t ib{}, ob{};
  ib.channel_count = ob.channel_count = channels;
  if (f64) {
    ib.data64 = reinterpret_cast<double **>(in);
    ob.data64 = reinterpret_cast<double **>(out);
  } else {
    ib.data32 = reinterpret_cast<float **>(in);
    ob.data32 = reinterpret_cast<float **>(out);
  }
  static const clap_event_list empty;
  clap_event_list sink;
  clap_process_t p{};
  p.steady_time = -1;
  p.frames_count = frames;
  p.audio_inputs = &ib;
  p.audio_outputs = &ob;
  p.audio_inputs_count = p.audio_outputs_count = 1;
  p.in_events = in_events ? &in_events->in : &empty.in;
  p.out_events = out_events ? &out_events->out : &sink.out;
  return plugin->process(plugin, &p);
}
