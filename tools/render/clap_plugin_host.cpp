#include "clap_plugin_host.h"

#include "tarvelon_snapshot_ext.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>

namespace {
clap_plugin_host *self(const clap_host_t *h) { return static_cast<clap_plugin_host *>(h->host_data); }
}  // namespace

void clap_plugin_host::on_restart(const clap_host_t *h) { self(h)->restart_requested_ = true; }

clap_plugin_host::~clap_plugin_host() {
  if (plugin_) {
    if (active_) plugin_->deactivate(plugin_);
    plugin_->destroy(plugin_);
  }
  if (entry_) entry_->deinit();
  if (lib_) dlclose(lib_);
}

bool clap_plugin_host::load(const std::string &path, std::string *error) {
  // A name without a slash would make the loader search the system folders,
  // not the file the user named.
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  lib_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!lib_) {
    *error = "cannot load plug-in " + path + ": " + dlerror();
    return false;
  }
  entry_ = static_cast<const clap_plugin_entry_t *>(dlsym(lib_, "clap_entry"));
  if (!entry_ || entry_->clap_version.major < 1 || !entry_->init(path.c_str())) {
    entry_ = nullptr;
    *error = path + " is not a CLAP plug-in";
    return false;
  }
  const auto *factory = static_cast<const clap_plugin_factory_t *>(entry_->get_factory(CLAP_PLUGIN_FACTORY_ID));
  const clap_plugin_descriptor_t *desc = factory ? factory->get_plugin_descriptor(factory, 0) : nullptr;
  host_.clap_version = CLAP_VERSION;
  host_.host_data = this;
  host_.name = "tarvelon-render";
  host_.vendor = "Kelvorane";
  host_.url = "";
  host_.version = "1.3.0";
  host_.get_extension = [](const clap_host_t *, const char *) -> const void * { return nullptr; };
  host_.request_restart = on_restart;
  host_.request_process = [](const clap_host_t *) {};
  host_.request_callback = [](const clap_host_t *) {};
  plugin_ = desc ? factory->create_plugin(factory, &host_, desc->id) : nullptr;
  if (!plugin_ || !plugin_->init(plugin_)) {
    *error = "the plug-in in " + path + " could not be created";
    return false;
  }
  params_ = static_cast<const clap_plugin_params_t *>(plugin_->get_extension(plugin_, CLAP_EXT_PARAMS));
  state_ = static_cast<const clap_plugin_state_t *>(plugin_->get_extension(plugin_, CLAP_EXT_STATE));
  latency_ = static_cast<const clap_plugin_latency_t *>(plugin_->get_extension(plugin_, CLAP_EXT_LATENCY));
  snapshot_ = static_cast<const tarvelon_plugin_snapshot_t *>(plugin_->get_extension(plugin_, TARVELON_EXT_SNAPSHOT));
  if (!params_ || !state_ || !latency_) {
    *error = "the plug-in lacks the params, state or latency extension";
    return false;
  }
  return true;
}

bool clap_plugin_host::activate(double rate, uint32_t block) {
  if (active_) deactivate();
  active_ = plugin_->activate(plugin_, rate, 1, block) && plugin_->start_processing(plugin_);
  restart_requested_ = false;
  return active_;
}

void clap_plugin_host::deactivate() {
  if (!active_) return;
  plugin_->stop_processing(plugin_);
  plugin_->deactivate(plugin_);
  active_ = false;
}

void clap_plugin_host::reset() { plugin_->reset(plugin_); }
uint32_t clap_plugin_host::latency() const { return latency_->get(plugin_); }

void clap_plugin_host::process(double *const *in, double *const *out, uint32_t frames) {
  struct list {
    std::vector<clap_event_param_value_t> events;
  } events;
  for (const pending_param &p : pending_) {
    clap_event_param_value_t e{};
    e.header = {sizeof e, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
    e.param_id = p.id;
    e.note_id = -1;
    e.port_index = e.channel = e.key = -1;
    e.value = p.value;
    events.events.push_back(e);
  }
  pending_.clear();
  clap_input_events_t in_events{&events, [](const clap_input_events_t *l) {
                                  return uint32_t(static_cast<list *>(l->ctx)->events.size());
                                },
                                [](const clap_input_events_t *l, uint32_t i) -> const clap_event_header_t * {
                                  return &static_cast<list *>(l->ctx)->events[i].header;
                                }};
  clap_output_events_t out_events{nullptr, [](const clap_output_events_t *, const clap_event_header_t *) {
                                    return true;
                                  }};
  clap_audio_buffer_t ib{}, ob{};
  ib.data64 = const_cast<double **>(in);
  ob.data64 = const_cast<double **>(out);
  ib.channel_count = ob.channel_count = 2;
  clap_process_t p{};
  p.steady_time = -1;
  p.frames_count = frames;
  p.audio_inputs = &ib;
  p.audio_outputs = &ob;
  p.audio_inputs_count = p.audio_outputs_count = 1;
  p.in_events = &in_events;
  p.out_events = &out_events;
  plugin_->process(plugin_, &p);
}

std::vector<std::string> clap_plugin_host::parameter_names() const {
  std::vector<std::string> names;
  for (uint32_t i = 0, n = params_->count(plugin_); i < n; i++) {
    clap_param_info_t info;
    if (params_->get_info(plugin_, i, &info)) names.emplace_back(info.name);
  }
  return names;
}

bool clap_plugin_host::find_parameter(const std::string &name, clap_id *id) const {
  for (uint32_t i = 0, n = params_->count(plugin_); i < n; i++) {
    clap_param_info_t info;
    if (params_->get_info(plugin_, i, &info) && name == info.name) {
      *id = info.id;
      return true;
    }
  }
  return false;
}

bool clap_plugin_host::text_to_value(clap_id id, const std::string &text, double *value) const {
  return params_->text_to_value(plugin_, id, text.c_str(), value);
}

bool clap_plugin_host::parameter_range(clap_id id, double *min, double *max) const {
  for (uint32_t i = 0, n = params_->count(plugin_); i < n; i++) {
    clap_param_info_t info;
    if (params_->get_info(plugin_, i, &info) && info.id == id) {
      *min = info.min_value, *max = info.max_value;
      return true;
    }
  }
  return false;
}

std::string clap_plugin_host::value_to_text(clap_id id, double value) const {
  char buf[256] = "";
  if (!params_->value_to_text(plugin_, id, value, buf, sizeof buf)) return std::to_string(value);
  return buf;
}

void clap_plugin_host::set_parameter(clap_id id, double value) {
  pending_.push_back({id, value});
  // Outside processing the plug-in takes parameter events through flush.
  if (!active_) {
    struct one {
      clap_event_param_value_t e;
    } ev{};
    ev.e.header = {sizeof ev.e, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
    ev.e.param_id = id;
    ev.e.value = value;
    clap_input_events_t in{&ev, [](const clap_input_events_t *) { return uint32_t(1); },
                           [](const clap_input_events_t *l, uint32_t) -> const clap_event_header_t * {
                             return &static_cast<one *>(l->ctx)->e.header;
                           }};
    params_->flush(plugin_, &in, nullptr);
    pending_.pop_back();
  }
}

double clap_plugin_host::parameter(clap_id id) const {
  double v = 0;
  params_->get_value(plugin_, id, &v);
  return v;
}

bool clap_plugin_host::save_state(std::vector<uint8_t> *bytes) const {
  clap_ostream_t os{bytes, [](const clap_ostream_t *s, const void *buf, uint64_t n) -> int64_t {
                      auto *v = static_cast<std::vector<uint8_t> *>(s->ctx);
                      v->insert(v->end(), static_cast<const uint8_t *>(buf), static_cast<const uint8_t *>(buf) + n);
                      return int64_t(n);
                    }};
  return state_->save(plugin_, &os);
}

bool clap_plugin_host::load_state(const std::vector<uint8_t> &bytes) {
  struct cursor {
    const std::vector<uint8_t> *b;
    size_t pos;
  } c{&bytes, 0};
  clap_istream_t is{&c, [](const clap_istream_t *s, void *buf, uint64_t n) -> int64_t {
                      auto *cur = static_cast<cursor *>(s->ctx);
                      const size_t k = std::min<size_t>(size_t(n), cur->b->size() - cur->pos);
                      std::memcpy(buf, cur->b->data() + cur->pos, k);
                      cur->pos += k;
                      return int64_t(k);
                    }};
  return state_->load(plugin_, &is);
}

bool clap_plugin_host::snapshot(uint32_t width, uint32_t height, std::vector<uint32_t> *pixels) const {
  if (!snapshot_ || !snapshot_->draw || !pixels) return false;
  pixels->assign(size_t(width) * size_t(height), 0u);
  return snapshot_->draw(plugin_, width, height, pixels->data());
}

void clap_plugin_host::keep_editor_live() const {
  if (snapshot_ && snapshot_->keep_live) snapshot_->keep_live(plugin_);
}
