// Cost of one filter redesign, which runs on the audio thread at a block
// boundary whenever the bands change.
#include <benchmark/benchmark.h>

#include "dsp/filter_design.h"
#include "memory_host.h"
#include "state/eq.h"
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
}  // namespace

BENCHMARK_CAPTURE(BM_DesignFilters, defaults_44k1, 44100.0, 1025, 1350);
BENCHMARK_CAPTURE(BM_DesignFilters, defaults_48k, 48000.0, 1115, 1500);
BENCHMARK_CAPTURE(BM_DesignFilters, res16_192k, 192000.0, 71393, 72900);
