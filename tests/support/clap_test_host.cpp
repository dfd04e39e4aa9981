#include "support/clap_test_host.h"

#include <algorithm>
#include <cstring>

namespace {
clap_test_host *H(const clap_host_t *h) { return static_cast<clap_test_host *>(h->host_data); }

const clap_host_latency_t kLatency = {[](const clap_host_t *h) { H(h)->record("latency.changed"); }};
const clap_host_params_t kParams = {
    [](const clap_host_t *h, uint32_t) { H(h)->record("params.rescan"); },
    [](const clap_host_t *h, clap_id, uint32_t) { H(h)->record("params.clear"); },
    [](const clap_host_t *h) {
      H(h)->record("params.request_flush");
      if (H(h)->on_request_flush) H(h)->on_request_flush();
    },
};
const clap_host_audio_ports_t kPorts = {
    [](const clap_host_t *, uint32_t) { return true; },
    [](const clap_host_t *h, uint32_t) { H(h)->record("audio_ports.rescan"); },
};
const clap_host_state_t kState = {[](const clap_host_t *h) { H(h)->record("state.mark_dirty"); }};
const clap_host_tail_t kTail = {[](const clap_host_t *h) { H(h)->record("tail.changed"); }};

const clap_host_timer_support_t kTimers = {
    [](const clap_host_t *h, uint32_t period, clap_id *id) {
      clap_test_host *t = H(h);
      const clap_plugin_t *p = t->plugin;
      const uint64_t n = t->loop.next_id;
      t->loop.add_timer(period, [p, n] {
        auto *ext = static_cast<const clap_plugin_timer_support_t *>(p->get_extension(p, CLAP_EXT_TIMER_SUPPORT));
        if (ext) ext->on_timer(p, clap_id(n));
      });
      *id = clap_id(n);
      t->record("timer.register");
      return true;
    },
    [](const clap_host_t *h, clap_id id) {
      H(h)->record("timer.unregister");
      return H(h)->loop.remove_timer(id);
    },
};
const clap_host_posix_fd_support_t kFds = {
    [](const clap_host_t *h, int fd, uint32_t) {
      clap_test_host *t = H(h);
      const clap_plugin_t *p = t->plugin;
      t->loop.add_fd(fd, [p, fd] {
        auto *ext = static_cast<const clap_plugin_posix_fd_support_t *>(p->get_extension(p, CLAP_EXT_POSIX_FD_SUPPORT));
        if (ext) ext->on_fd(p, fd, CLAP_POSIX_FD_READ);
      });
      t->record("fd.register");
      return true;
    },
    [](const clap_host_t *, int, uint32_t) { return true; },
    [](const clap_host_t *h, int fd) {
      H(h)->record("fd.unregister");
      return H(h)->loop.remove_fd(fd);
    },
};
const clap_host_gui_t kGui = {
    [](const clap_host_t *) {},
    [](const clap_host_t *h, uint32_t w, uint32_t hh) {
      H(h)->resize_requests.push_back({w, hh});
      return true;
    },
    [](const clap_host_t *) { return false; },
    [](const clap_host_t *) { return false; },
    [](const clap_host_t *, bool) {},
};
}  // namespace

clap_test_host::clap_test_host(const clap_plugin_entry_t *entry) : entry_(entry) {
  clap_host_describe(&host, this, "tarvelon test host", "tests", "1");
  host.get_extension = [](const clap_host_t *h, const char *id) -> const void * {
    if (!std::strcmp(id, CLAP_EXT_LATENCY)) return &kLatency;
    if (!std::strcmp(id, CLAP_EXT_PARAMS)) return &kParams;
    if (!std::strcmp(id, CLAP_EXT_AUDIO_PORTS)) return &kPorts;
    if (!std::strcmp(id, CLAP_EXT_STATE)) return &kState;
    if (!std::strcmp(id, CLAP_EXT_TAIL)) return &kTail;
    if (!std::strcmp(id, CLAP_EXT_GUI)) return &kGui;
    if (H(h)->offer_run_loop && !std::strcmp(id, CLAP_EXT_TIMER_SUPPORT)) return &kTimers;
    if (H(h)->offer_run_loop && !std::strcmp(id, CLAP_EXT_POSIX_FD_SUPPORT)) return &kFds;
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

