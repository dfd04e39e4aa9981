// tarvelon_callback_times: how long single host callbacks take, not just
// their average. A host's deadline is about the slowest callback, so for each
// setting (host block 32/64/256 frames at 44.1/48/96/192 kHz, Resolution
// 1/4/16, "Input Buffer Size" at its default and its maximum) it prints the
// mean, p99, maximum and max/mean of at least 20 000 callbacks of stereo
// noise against the callback's budget (its length in real time), and what an
// instance holds in memory at the defaults and at the largest lengths.
//
// usage: tarvelon_callback_times [--calls N] [--quick] [--whole] [--kernel]
//   --kernel: only print the name of the FFT kernel this processor runs.
//   --quick: only the 48/96/192 kHz rows at Resolution 16 and the defaults.
//   --whole: the engine with the kernel whole (one transform of length N per
//            block, as before it was cut into parts), for comparison.
//
// Hosts run their audio threads at real-time priority; so does this tool
// when the system lets it (it says which), or else any busy neighbour's time
// slice lands in the maximum. Between callbacks it rests now and then, as a
// host thread idles between periods, so the kernel's real-time throttling
// never has to step in either.
#include <malloc.h>
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "audio/engine.h"
#include "audio/partitions.h"
#include "dsp/fft_kernels.h"
#include "memory_host.h"
#include "state/params.h"
#include "system/instance.h"

namespace {
struct setting {
  double rate, resolution, input_buffer;
  int block;
};

inst_t *new_instance(memory_host *host, const setting &s) {
  host->samplerate = s.rate;
  inst_t *ci = tarvelon_create_hosted_plugin_instance(nullptr, 16, memory_host::callbacks(), host, nullptr);
  host->set(TV_PARAM_RESOLUTION, s.resolution);  // whatever the user's preferences say
  tarvelon_on_param_change(ci, TV_PARAM_RESOLUTION);
  host->set(TV_PARAM_INPUT_BUFFER, s.input_buffer);
  tarvelon_on_param_change(ci, TV_PARAM_INPUT_BUFFER);
  host->set(TV_PARAM_LIMITER, 60.0);
  return ci;
}

// One row: callbacks after the engine has been built and its first block
// has gone through (so neither the rebuild nor the warm-up is counted).
void measure(const setting &s, int calls) {
  auto host = std::make_unique<memory_host>();
  inst_t *ci = new_instance(host.get(), s);
  const int n = s.block;
  const size_t len = size_t(n);
  std::vector<double> l(len), r(len), ol(len), orr(len);
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(-0.5, 0.5);
  double *in[2] = {l.data(), r.data()}, *out[2] = {ol.data(), orr.data()};
  auto fill = [&] {
    for (int i = 0; i < n; i++) l[size_t(i)] = u(rng), r[size_t(i)] = u(rng);
  };
  tarvelon_process_audio_runtime_owned(ci, in, out, n);  // the rebuild for the settings
  const int warm = 2 * (ci->needed_samples / n + 1);
  for (int call = 0; call < warm; call++) {
    fill();
    tarvelon_process_audio_runtime_owned(ci, in, out, n);
  }
  std::vector<double> us;
  us.reserve(size_t(calls));
  double sum = 0.0, busy = 0.0;
  for (int call = 0; call < calls; call++) {
    fill();
    const auto t0 = std::chrono::steady_clock::now();
    tarvelon_process_audio_runtime_owned(ci, in, out, n);
    const auto t1 = std::chrono::steady_clock::now();
    const double t = std::chrono::duration<double, std::micro>(t1 - t0).count();
    us.push_back(t);
    sum += t;
    busy += t;
    if (busy > 4000.0) {
      const timespec rest{0, 1000000};
      nanosleep(&rest, nullptr);
      busy = 0.0;
    }
  }
  std::sort(us.begin(), us.end());
  const double mean = sum / double(calls), budget = n / s.rate * 1e6;
  const double p99 = us[us.size() * 99 / 100], mx = us.back();
  const bool strict = s.rate == 48000.0 || s.rate == 96000.0;
  const char *verdict = strict ? (p99 < budget / 4 && mx < budget / 4 ? "ok" : "OVER 1/4")
                               : (mx < budget ? "ok" : "OVER");
  std::printf("%5.1f kHz  Res %4.1f  IBS %3.1f  block %3d  N %6d  needed %5d  P %3d  mean %7.2f  p99 %8.2f"
              "  max %8.2f  max/mean %6.1f  budget %5.0f us  %s\n",
              s.rate / 1000, s.resolution, s.input_buffer, n, ci->fft_size_value, ci->needed_samples,
              ci->parts ? ci->parts->parts : 1, mean, p99, mx, mx / mean, budget, verdict);
  std::fflush(stdout);
  tarvelon_destroy_instance(ci);
}

// Bytes on the instance's allocation list after the engine is built for a
// setting (every engine buffer lives there).
void memory(const char *label, double rate, double resolution, double input_buffer) {
  auto host = std::make_unique<memory_host>();
  inst_t *ci = new_instance(host.get(), {rate, resolution, input_buffer, 256});
  std::vector<double> l(256), r(256), ol(256), orr(256);
  double *in[2] = {l.data(), r.data()}, *out[2] = {ol.data(), orr.data()};
  for (int i = 0; i < 4; i++) tarvelon_process_audio_runtime_owned(ci, in, out, 256);
  size_t bytes = 0;
  for (int i = 0; i < ci->gc_capacity; i++)
    if (ci->gc_list[i].ptr) bytes += malloc_usable_size(ci->gc_list[i].ptr);
  std::printf("%-50s N %6d  K %6d  needed %6d  %7.2f MB per instance\n", label, ci->fft_size_value, ci->ksize_value,
              ci->needed_samples, double(bytes) / (1024.0 * 1024.0));
  tarvelon_destroy_instance(ci);
}
}  // namespace

int main(int argc, char **argv) {
  int calls = 20000;
  bool quick = false;
  for (int i = 1; i < argc; i++) {
    if (!std::strcmp(argv[i], "--calls") && i + 1 < argc) calls = std::max(100, std::atoi(argv[++i]));
    else if (!std::strcmp(argv[i], "--quick")) quick = true;
    else if (!std::strcmp(argv[i], "--whole")) tarvelon_use_partitions(false);
    else if (!std::strcmp(argv[i], "--kernel")) {
      std::printf("%s\n", fft_kernel_name());
      return 0;
    }
  }
  sched_param prio{};
  prio.sched_priority = 10;
  const bool realtime = sched_setscheduler(0, SCHED_FIFO, &prio) == 0;
  std::printf("FFT kernel: %s; real-time priority: %s\n", fft_kernel_name(), realtime ? "yes" : "no (ordinary)");
  const tarvelon_param_info_t *ibs = tarvelon_param_info(TV_PARAM_INPUT_BUFFER);
  const double ibs_max = ibs ? ibs->max : 6.0, ibs_default = ibs ? ibs->def : 0.2;
  for (double rate : {44100.0, 48000.0, 96000.0, 192000.0}) {
    if (quick && rate == 44100.0) continue;
    for (double res : {1.0, 4.0, 16.0}) {
      if (quick && res != 16.0) continue;
      for (double ib : {ibs_default, ibs_max}) {
        if (quick && ib != ibs_default) continue;
        for (int block : {32, 64, 256}) measure({rate, res, ib, block}, calls);
      }
    }
  }
  memory("memory: defaults, 44.1 kHz", 44100.0, 1.0, ibs_default);
  memory("memory: defaults, 48 kHz", 48000.0, 1.0, ibs_default);
  memory("memory: Resolution 16, default buffer, 192 kHz", 192000.0, 16.0, ibs_default);
  memory("memory: Resolution 16, no buffer, 192 kHz", 192000.0, 16.0, 0.0);
  memory("memory: Resolution 16, largest buffer, 192 kHz", 192000.0, 16.0, ibs_max);
  return 0;
}
