// A CLAP host for the tests: loads a plug-in through a clap_entry, records
// every host call with the thread it came from, and builds process blocks.
#pragma once
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "clap_abi.h"
#include "clap_host_kit.h"
#include "support/gui_loop.h"

struct clap_host_call {
  std::string name;
  std::thread::id thread;
};

class clap_test_host {
 public:
  explicit clap_test_host(const clap_plugin_entry_t *entry);
  ~clap_test_host();
  clap_test_host(const clap_test_host &) = delete;
  clap_test_host &operator=(const clap_test_host &) = delete;

  const clap_plugin_factory_t *factory = nullptr;
  const clap_plugin_t *plugin = nullptr;
  const clap_plugin_params_t *params = nullptr;
  const clap_plugin_state_t *state = nullptr;
  const clap_plugin_latency_t *latency = nullptr;
  const clap_plugin_audio_ports_t *ports = nullptr;
  const clap_plugin_gui_t *gui = nullptr;
  std::thread::id main_thread = std::this_thread::get_id();

  bool create(const char *id = nullptr);  // create + init + extensions
  std::vector<clap_host_call> calls() const;
  int count(const std::string &name) const;
  // Calls made from a thread other than the main thread, for main-thread-only names.
  std::vector<std::string> main_thread_violations() const;
  void record(const char *name);

  clap_host_t host{};
  // The run loop an editor needs; a host may leave it out.
  bool offer_run_loop = true;
  gui_loop loop;
  std::vector<std::pair<uint32_t, uint32_t>> resize_requests;
  // A host's reaction inside its request_flush (flushing at once, closing the editor...).
  std::function<void()> on_request_flush;

 private:
  const clap_plugin_entry_t *entry_;
  mutable std::mutex mutex_;
  std::vector<clap_host_call> calls_;
};


