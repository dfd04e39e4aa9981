// Cost of one filter redesign, which runs on the audio thread at a block
// boundary whenever the bands change: the design itself, and the whole
// redesign of a running engine (the design plus, when the kernel runs in
// parts, its cut into part spectra), with the kernel in parts and whole.
#include <benchmark/benchmark.h>

#include <vector>

#include "audio/engine.h"
#include "audio/partitions.h"
#include "dsp/filter_design.h"
#include "memory_host.h"
#include "state/eq.h"
#include "state/params.h"
#include "system/instance.h"

namespace {
void BM_DesignFilters(benchmark::State &state, double sr, int32_t ksize, int32_t n) {
  memory_host host;
  host.samplerate = sr;
  inst_t *ci = tarvelon_create_hosted_plugin_instance(nullptr, 16, memory_host::callbacks(), &host, nullptr);
  host.set(4, 6.0);
  host.set(13, -3.0);
  tarvelon_load_eq_from_params(ci, 0);
  for (auto _ : state) {
    design_filters(ci, ci->fbank, ci->equ, ci->eqs, ksize, n, sr, nullptr, &ci->spline_changed, ci->spline_sem, 0,
                   &ci->eqs_count, 0);
    benchmark::DoNotOptimize(ci->fbank->fir);
  }
  tarvelon_destroy_instance(ci);
}

// A running engine at the rate and Resolution (Input Buffer Size at its
// default) redesigning for alternating band gains, as automation does.
void BM_Redesign(benchmark::State &state, double sr, double resolution, bool whole) {
  memory_host host;
  host.samplerate = sr;
  tarvelon_use_partitions(!whole);
  inst_t *ci = tarvelon_create_hosted_plugin_instance(nullptr, 16, memory_host::callbacks(), &host, nullptr);
  host.set(TV_PARAM_RESOLUTION, resolution);
  tarvelon_on_param_change(ci, TV_PARAM_RESOLUTION);
  std::vector<double> z(64, 0.0), o(64, 0.0);
  double *in[2] = {z.data(), z.data()}, *out[2] = {o.data(), o.data()};
  tarvelon_process_audio_runtime_owned(ci, in, out, 64);  // the build
  tarvelon_use_partitions(true);
  double gain = 3.0;
  for (auto _ : state) {
    state.PauseTiming();
    gain = -gain;
    host.set(4, gain);
    tarvelon_load_eq_from_params(ci, 0);
    ci->filter_update_pending.raise();
    state.ResumeTiming();
    benchmark::DoNotOptimize(tarvelon_redesign_filters_for_audio(ci, ci->kernel, ci->ksize_value, ci->fft_size_value));
  }
  state.counters["parts"] = ci->parts ? ci->parts->parts : 1;
  tarvelon_destroy_instance(ci);
}
}  // namespace

BENCHMARK_CAPTURE(BM_Redesign, defaults_44k1_parts, 44100.0, 1.0, false);
BENCHMARK_CAPTURE(BM_Redesign, defaults_44k1_whole, 44100.0, 1.0, true);
BENCHMARK_CAPTURE(BM_Redesign, res16_192k_parts, 192000.0, 16.0, false);
BENCHMARK_CAPTURE(BM_Redesign, res16_192k_whole, 192000.0, 16.0, true);
BENCHMARK_CAPTURE(BM_DesignFilters, defaults_44k1, 44100.0, 1025, 1350);
BENCHMARK_CAPTURE(BM_DesignFilters, defaults_48k, 48000.0, 1115, 1500);
BENCHMARK_CAPTURE(BM_DesignFilters, res16_192k, 192000.0, 71393, 72900);
