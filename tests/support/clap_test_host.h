// A CLAP host for the tests: loads a plug-in through a clap_entry, records
// every host call with the thread it came from, and builds process blocks.
#pragma once
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "clap_abi.h"

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

 private:
  const clap_plugin_entry_t *entry_;
  mutable std::mutex mutex_;
  std::vector<clap_host_call> calls_;
};

// An event list the host hands to process or flush.
struct clap_event_list {
  std::vector<std::vector<uint8_t>> events;
  clap_input_events_t in{};
  clap_output_events_t out{};
  clap_event_list();
  void add_param(uint32_t time, clap_id id, double value);
  void add_raw(const void *event, size_t size);
  template <class E>
  std::vector<const E *> of_type(uint16_t type) const {
    std::vector<const E *> r;
    for (const auto &e : events)
      if (reinterpret_cast<const clap_event_header_t *>(e.data())->type == type)
        r.push_back(reinterpret_cast<const E *>(e.data()));
    return r;
  }
};

// Byte streams that move at most `chunk` bytes per call.
struct clap_byte_stream {
  std::vector<uint8_t> bytes;
  size_t pos = 0, chunk = 1 << 20;
  clap_istream_t in{};
  clap_ostream_t out{};
  clap_byte_stream();
};

// Runs one block; channels may be 32- or 64-bit.
clap_process_status clap_run_block(const clap_plugin_t *plugin, uint32_t frames, void **in, void **out,
                                   uint32_t channels, bool f64, const clap_event_list *in_events,
                                   clap_event_list *out_events);
