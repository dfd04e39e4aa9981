// Stereo processing through the engine against the same overlap-add (same
// kernel and transform lengths) written over FFTW's half-complex transforms.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>
#include <vector>

#include "audio/engine.h"
#include "dsp/filter_design.h"
#include "memory_host.h"
#include "state/params.h"
#include "system/instance.h"

namespace {
struct engine_case {
  double sr;
  double resolution;
  int host_block;
};

memory_host *new_host(const engine_case &c) {
  auto *host = new memory_host;
  host->samplerate = c.sr;
  return host;
}

void BM_ProcessStereo(benchmark::State &state, engine_case c) {
  memory_host *host = new_host(c);
  inst_t *ci = tarvelon_create_hosted_plugin_instance(nullptr, 16, memory_host::callbacks(), host, nullptr);
  host->set(TV_PARAM_RESOLUTION, c.resolution);
  tarvelon_on_param_change(ci, TV_PARAM_RESOLUTION);
  host->set(TV_PARAM_LIMITER, 60.0);
  const int n = c.host_block;
  std::vector<double> l(static_cast<size_t>(n)), r(static_cast<size_t>(n)), ol(static_cast<size_t>(n)), orr(static_cast<size_t>(n));
  for (int i = 0; i < n; i++) {
    l[size_t(i)] = std::sin(0.05 * i);
    r[size_t(i)] = std::cos(0.031 * i);
  }
  double *in[2] = {l.data(), r.data()}, *out[2] = {ol.data(), orr.data()};
  tarvelon_process_audio_runtime_owned(ci, in, out, n);  // settle any rebuild
  for (auto _ : state) {
    tarvelon_process_audio_runtime_owned(ci, in, out, n);
    benchmark::DoNotOptimize(ol.data());
  }
  state.counters["ns_per_frame"] = benchmark::Counter(double(state.iterations()) * n,
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["fft"] = ci->fft_size_value;
  tarvelon_destroy_instance(ci);
  delete host;
}

// The reference: blocks of `needed` samples zero-padded to N, R2HC, bin
// product, HC2R, overlap-add into a ring; same buffering as the engine.
void BM_FftwOlaReference(benchmark::State &state, engine_case c) {
  memory_host *host = new_host(c);
  inst_t *ci = tarvelon_create_hosted_plugin_instance(nullptr, 16, memory_host::callbacks(), host, nullptr);
  host->set(TV_PARAM_RESOLUTION, c.resolution);
  tarvelon_on_param_change(ci, TV_PARAM_RESOLUTION);
  const int n = c.host_block;
  {
    std::vector<double> z(static_cast<size_t>(n)), o(static_cast<size_t>(n));
    double *in[2] = {z.data(), z.data()}, *out[2] = {o.data(), o.data()};
    tarvelon_process_audio_runtime_owned(ci, in, out, n);  // take the engine's sizes and kernel
  }
  const int N = ci->fft_size_value, needed = ci->needed_samples;
  std::vector<double> kernel(ci->kernel, ci->kernel + N);
  tarvelon_destroy_instance(ci);
  delete host;

  std::vector<double> block[2] = {std::vector<double>(static_cast<size_t>(N)), std::vector<double>(static_cast<size_t>(N))};
  std::vector<double> spec(static_cast<size_t>(N)), res(static_cast<size_t>(N));
  std::vector<double> ring[2] = {std::vector<double>(size_t(N + needed)), std::vector<double>(size_t(N + needed))};
  fftw_plan fwd = fftw_plan_r2r_1d(N, block[0].data(), spec.data(), FFTW_R2HC, FFTW_MEASURE);
  fftw_plan bwd = fftw_plan_r2r_1d(N, spec.data(), res.data(), FFTW_HC2R, FFTW_MEASURE);
  std::vector<double> l(static_cast<size_t>(n)), r(static_cast<size_t>(n)), ol(static_cast<size_t>(n)), orr(static_cast<size_t>(n));
  for (int i = 0; i < n; i++) {
    l[size_t(i)] = std::sin(0.05 * i);
    r[size_t(i)] = std::cos(0.031 * i);
  }
  const double *in[2] = {l.data(), r.data()};
  double *out[2] = {ol.data(), orr.data()};
  const double scale = 1.0 / N;
  int gotten = 0, count = needed, offset = 0;
  const int S = N + needed;
  for (auto _ : state) {
    int pos = 0;
    while (pos < n) {
      const int take = std::min(n - pos, needed - gotten);
      for (int ch = 0; ch < 2; ch++)
        std::copy(in[ch] + pos, in[ch] + pos + take, block[ch].begin() + gotten);
      gotten += take;
      if (gotten == needed) {
        for (int ch = 0; ch < 2; ch++) {
          fftw_execute_r2r(fwd, block[ch].data(), spec.data());
          spec[0] *= kernel[0];
          for (int k = 1; 2 * k < N; k++) {
            const double a = spec[size_t(k)], b = spec[size_t(N - k)], cc = kernel[size_t(k)], d = kernel[size_t(N - k)];
            spec[size_t(k)] = a * cc - b * d;
            spec[size_t(N - k)] = b * cc + a * d;
          }
          if (N % 2 == 0) spec[size_t(N / 2)] *= kernel[size_t(N / 2)];
          fftw_execute_r2r(bwd, spec.data(), res.data());
          const int start = (count + offset) % S;
          for (int i = 0; i < N; i++) ring[ch][size_t((start + i) % S)] += res[size_t(i)] * scale;
          std::fill(block[ch].begin(), block[ch].end(), 0.0);
        }
        count += needed;
        gotten = 0;
      }
      for (int ch = 0; ch < 2; ch++)
        for (int i = 0; i < take; i++) {
          double &v = ring[ch][size_t((offset + i) % S)];
          out[ch][pos + i] = v;
          v = 0.0;
        }
      offset = (offset + take) % S;
      count -= take;
      pos += take;
    }
    benchmark::DoNotOptimize(ol.data());
  }
  state.counters["ns_per_frame"] = benchmark::Counter(double(state.iterations()) * n,
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["fft"] = N;
  fftw_destroy_plan(fwd);
  fftw_destroy_plan(bwd);
}

const engine_case k44 = {44100.0, 1.0, 256}, k48 = {48000.0, 1.0, 256}, kBig = {44100.0, 1.0, 4096},
                  kHuge = {192000.0, 16.0, 256};
}  // namespace

BENCHMARK_CAPTURE(BM_ProcessStereo, defaults_44k1, k44);
BENCHMARK_CAPTURE(BM_FftwOlaReference, defaults_44k1, k44);
BENCHMARK_CAPTURE(BM_ProcessStereo, defaults_48k, k48);
BENCHMARK_CAPTURE(BM_FftwOlaReference, defaults_48k, k48);
BENCHMARK_CAPTURE(BM_ProcessStereo, host_block_4096, kBig);
BENCHMARK_CAPTURE(BM_FftwOlaReference, host_block_4096, kBig);
BENCHMARK_CAPTURE(BM_ProcessStereo, res16_192k, kHuge);
BENCHMARK_CAPTURE(BM_FftwOlaReference, res16_192k, kHuge);
