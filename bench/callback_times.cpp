// tarvelon_callback_times: how long single host callbacks take, not just
// their average. The engine transforms a whole block inside the one callback
// that completes it, so most callbacks are cheap and a few carry a transform;
// a host's deadline is about the slowest. Prints the median, p99 and maximum
// of 256-frame callbacks at the defaults and with "Input Buffer Size" at its
// maximum (44.1 kHz, stereo noise), and what an instance holds in memory at
// the defaults and at the largest lengths.
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include "audio/engine.h"
#include "memory_host.h"
#include "state/params.h"
#include "system/instance.h"

namespace {
void measure(const char *label, double input_buffer) {
  auto host = std::make_unique<memory_host>();
  host->samplerate = 44100.0;
  inst_t *ci = tarvelon_create_hosted_plugin_instance(nullptr, 16, memory_host::callbacks(), host.get(), nullptr);
  host->set(TV_PARAM_RESOLUTION, 1.0);  // whatever the user's preferences say
  tarvelon_on_param_change(ci, TV_PARAM_RESOLUTION);
  host->set(TV_PARAM_INPUT_BUFFER, input_buffer);
  tarvelon_on_param_change(ci, TV_PARAM_INPUT_BUFFER);
  constexpr int kBlock = 256, kCalls = 20000;
  std::vector<double> l(kBlock), r(kBlock), ol(kBlock), orr(kBlock);
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(-0.5, 0.5);
  double *in[2] = {l.data(), r.data()}, *out[2] = {ol.data(), orr.data()};
  std::vector<double> us;
  us.reserve(kCalls);
  for (int call = 0; call < kCalls + 200; call++) {
    for (int i = 0; i < kBlock; i++) l[size_t(i)] = u(rng), r[size_t(i)] = u(rng);
    const auto t0 = std::chrono::steady_clock::now();
    tarvelon_process_audio_runtime_owned(ci, in, out, kBlock);
    const auto t1 = std::chrono::steady_clock::now();
    if (call >= 200) us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());  // after the rebuild
  }
  std::sort(us.begin(), us.end());
  const double budget = kBlock / 44100.0 * 1e6;
  std::printf("%-34s N %6d  median %8.2f us  p99 %8.2f us  max %8.2f us  (budget %.0f us)\n", label, ci->fft_size_value,
              us[us.size() / 2], us[us.size() * 99 / 100], us.back(), budget);
  tarvelon_destroy_instance(ci);
}

// Bytes on the instance's allocation list after the engine is built for a
// setting (every engine buffer lives there).
void memory(const char *label, double rate, double resolution, double input_buffer) {
  auto host = std::make_unique<memory_host>();
  host->samplerate = rate;
  inst_t *ci = tarvelon_create_hosted_plugin_instance(nullptr, 16, memory_host::callbacks(), host.get(), nullptr);
  host->set(TV_PARAM_RESOLUTION, resolution);
  tarvelon_on_param_change(ci, TV_PARAM_RESOLUTION);
  host->set(TV_PARAM_INPUT_BUFFER, input_buffer);
  tarvelon_on_param_change(ci, TV_PARAM_INPUT_BUFFER);
  std::vector<double> l(256), r(256), ol(256), orr(256);
  double *in[2] = {l.data(), r.data()}, *out[2] = {ol.data(), orr.data()};
  for (int i = 0; i < 4; i++) tarvelon_process_audio_runtime_owned(ci, in, out, 256);
  size_t bytes = 0;
  for (int i = 0; i < ci->gc_capacity; i++)
    if (ci->gc_list[i].ptr) bytes += malloc_usable_size(ci->gc_list[i].ptr);
  std::printf("%-46s N %6d  K %6d  %7.2f MB per instance\n", label, ci->fft_size_value, ci->ksize_value,
              double(bytes) / (1024.0 * 1024.0));
  tarvelon_destroy_instance(ci);
}
}  // namespace

int main() {
  measure("defaults (Input Buffer Size 0.2)", 0.2);
  const tarvelon_param_info_t *ibs = tarvelon_param_info(TV_PARAM_INPUT_BUFFER);
  measure("Input Buffer Size at its maximum", ibs ? ibs->max : 8.0);
  memory("memory: defaults, 44.1 kHz", 44100.0, 1.0, 0.2);
  memory("memory: Resolution 16, largest buffer, 192 kHz", 192000.0, 16.0, ibs ? ibs->max : 8.0);
  return 0;
}
