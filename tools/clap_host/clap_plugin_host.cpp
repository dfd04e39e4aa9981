#include "clap_plugin_host.h"

#include "clap_host_kit.h"
#include "shared_library.h"
#include "tarvelon_snapshot_ext.h"

#ifndef _WIN32
#include <unistd.h>
#endif

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
  shared_library::close(lib_);
}

std::string built_clap_path() {
#ifdef _WIN32
  return "Tarvelon Free.clap";
#else
  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return "Tarvelon Free.clap";
  exe[n] = 0;
  std::string dir(exe);
  for (int up = 0; up < 4 && dir.rfind('/') != std::string::npos; up++) {
    dir = dir.substr(0, dir.rfind('/'));
    const std::string candidate = dir + "/Tarvelon Free.clap";
    if (access(candidate.c_str(), R_OK) == 0) return candidate;
  }
  return "Tarvelon Free.clap";
#endif
}

bool clap_plugin_host::load(const std::string &path, std::string *error) {
  std::string why;
  lib_ = shared_library::open(path, &why);
  if (!lib_) {
    *error = "cannot load plug-in " + path + ": " + why;
    return false;
  }
  entry_ = static_cast<const clap_plugin_entry_t *>(shared_library::symbol(lib_, "clap_entry"));
  if (!entry_ || entry_->clap_version.major < 1 || !entry_->init(path.c_str())) {
    entry_ = nullptr;
    *error = path + " is not a CLAP plug-in";
    return false;
  }
  const auto *factory = static_cast<const clap_plugin_factory_t *>(entry_->get_factory(CLAP_PLUGIN_FACTORY_ID));
  const clap_plugin_descriptor_t *desc = factory ? factory->get_plugin_descriptor(factory, 0) : nullptr;
  clap_host_describe(&host_, this, "tarvelon-render", "Kelvorane", "1.3.0");
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
  clap_event_list events;
  for (const pending_param &p : pending_) events.add_param(0, p.id, p.value);
  pending_.clear();
  clap_run_block(plugin_, frames, reinterpret_cast<void **>(const_cast<double **>(in)),
                 reinterpret_cast<void **>(const_cast<double **>(out)), 2, true, &events, nullptr);
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

double clap_plugin_host::default_value(clap_id id) const {
  for (uint32_t i = 0, n = params_->count(plugin_); i < n; i++) {
    clap_param_info_t info;
    if (params_->get_info(plugin_, i, &info) && info.id == id) return info.default_value;
  }
  return 0.0;
}

std::string clap_plugin_host::value_to_text(clap_id id, double value) const {
  char buf[256] = "";
  if (!params_->value_to_text(plugin_, id, value, buf, sizeof buf)) return std::to_string(value);
  return buf;
}

void clap_plugin_host::set_parameter(clap_id id, double value) {
  // Outside processing the plug-in takes parameter events through flush.
  if (active_) {
    pending_.push_back({id, value});
    return;
  }
  clap_event_list ev;
  ev.add_param(0, id, value);
  params_->flush(plugin_, &ev.in, nullptr);
}

double clap_plugin_host::parameter(clap_id id) const {
  double v = 0;
  params_->get_value(plugin_, id, &v);
  return v;
}

bool clap_plugin_host::save_state(std::vector<uint8_t> *bytes) const {
  clap_byte_stream s;
  if (!state_->save(plugin_, &s.out)) return false;
  *bytes = std::move(s.bytes);
  return true;
}

bool clap_plugin_host::load_state(const std::vector<uint8_t> &bytes) {
  clap_byte_stream s;
  s.bytes = bytes;
  return state_->load(plugin_, &s.in);
}

bool clap_plugin_host::snapshot(uint32_t width, uint32_t height, std::vector<uint32_t> *pixels) const {
  if (!snapshot_ || !snapshot_->draw || !pixels) return false;
  pixels->assign(size_t(width) * size_t(height), 0u);
  return snapshot_->draw(plugin_, width, height, pixels->data());
}

bool clap_plugin_host::snapshot(uint32_t width, uint32_t height, double scale, std::vector<uint32_t> *pixels) const {
  if (scale == 1.0) return snapshot(width, height, pixels);
  if (!snapshot_ || !snapshot_->draw_scaled || !pixels) return false;
  pixels->assign(size_t(width) * size_t(height), 0u);
  return snapshot_->draw_scaled(plugin_, width, height, scale, pixels->data());
}

void clap_plugin_host::keep_editor_live() const {
  if (snapshot_ && snapshot_->keep_live) snapshot_->keep_live(plugin_);
}
