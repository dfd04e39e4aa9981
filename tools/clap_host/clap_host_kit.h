// The pieces every in-repo CLAP host needs: event lists for process and flush,
// byte streams for state, and one process call over 32- or 64-bit buffers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "clap_abi.h"

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

// Fills a host record's identity (CLAP version, data pointer, name, vendor,
// version); the callbacks are the caller's.
void clap_host_describe(clap_host_t *host, void *data, const char *name, const char *vendor, const char *version);

// Resident memory of this process in MB (0 where /proc is missing).
double resident_memory_mb();
