// A host for the core that keeps parameters in memory: what the demo and the
// tests use in place of the plug-in wrapper. Values are atomics so the audio
// thread may read them while another thread writes.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "system/host_callbacks.h"

struct memory_host_param {
  std::string name, label;
  int kind = -1;  // 0 bool, 1 int, 2 double; -1 not declared
  double min = 0, max = 1, def = 0, step = 0, shape = 1;
  std::atomic<double> value{0.0};
};

struct memory_host {
  memory_host_param params[28];
  std::atomic<double> samplerate{44100.0};
  std::atomic<int32_t> channels{2};
  std::atomic<int32_t> latency{-1};
  std::atomic<int32_t> latency_reports{0};
  std::atomic<int32_t> program_changes{0};
  std::atomic<int32_t> user_edits{0};
  int32_t control_param[16] = {};
  double control_default[16] = {};
  std::string preset_dir;

  memory_host();
  // The table with every entry set; user data is the host itself.
  static const tarvelon_host_callbacks_t *callbacks();
  // Stores a clamped value (as the wrapper does) and returns it.
  double set(int32_t id, double v);
  double get(int32_t id) const;
  double normalised(int32_t id, double v) const;
};
