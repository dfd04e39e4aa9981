// Stereo processing through the engine against the same overlap-add (same
// kernel and transform lengths) written over FFTW's half-complex transforms,
// and against the engine as it was before the kernel was cut into parts (the
// same engine built with one transform of length N per block), in one run.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "audio/engine.h"
#include "audio/partitions.h"
#include "dsp/filter_design.h"
#include "memory_host.h"
#include "state/params.h"
#include "system/instance.h"

namespace {
struct engine_case {
  double sr;
  double resolution;
  int host_block;
  double input_buffer = 0.2;  // "Input Buffer Size"
};

memory_host *new_host(const engine_case &c) {
  auto *host = new memory_host;
  host->samplerate = c.sr;
  return host;
}

// An instance at the case's rate and resolution.
inst_t *new_instance(memory_host *host, const engine_case &c) {
  inst_t *ci = tarvelon_create_hosted_plugin_instance(nullptr, 16, memory_host::callbacks(), host, nullptr);
  host->set(TV_PARAM_RESOLUTION, c.resolution);
  tarvelon_on_param_change(ci, TV_PARAM_RESOLUTION);
  host->set(TV_PARAM_INPUT_BUFFER, c.input_buffer);
  tarvelon_on_param_change(ci, TV_PARAM_INPUT_BUFFER);
  return ci;
}

void process_stereo(benchmark::State &state, engine_case c, bool silent, bool whole = false) {
  memory_host *host = new_host(c);
  tarvelon_use_partitions(!whole);
  inst_t *ci = new_instance(host, c);
  host->set(TV_PARAM_LIMITER, 60.0);
  const int n = c.host_block;
  std::vector<double> l(static_cast<size_t>(n)), r(static_cast<size_t>(n)), ol(static_cast<size_t>(n)), orr(static_cast<size_t>(n));
  for (int i = 0; i < n && !silent; i++) {
    l[size_t(i)] = std::sin(0.05 * i);
    r[size_t(i)] = std::cos(0.031 * i);
  }
  double *in[2] = {l.data(), r.data()}, *out[2] = {ol.data(), orr.data()};
  tarvelon_process_audio_runtime_owned(ci, in, out, n);  // settle any rebuild
  tarvelon_use_partitions(true);
  for (auto _ : state) {
    tarvelon_process_audio_runtime_owned(ci, in, out, n);
    benchmark::DoNotOptimize(ol.data());
  }
  state.counters["ns_per_frame"] = benchmark::Counter(double(state.iterations()) * n,
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["fft"] = ci->fft_size_value;
  state.counters["parts"] = ci->parts ? ci->parts->parts : 1;
  tarvelon_destroy_instance(ci);
  delete host;
}

void BM_ProcessStereo(benchmark::State &state, engine_case c) { process_stereo(state, c, false); }
// The engine with the kernel whole (one transform of length N per block).
void BM_ProcessWhole(benchmark::State &state, engine_case c) { process_stereo(state, c, false, true); }
// A stopped transport: blocks of exact zeros, as hosts feed them for hours.
void BM_ProcessSilence(benchmark::State &state, engine_case c) { process_stereo(state, c, true); }

// The reference: blocks of `needed` samples zero-padded to N, FFTW r2c, bin
// product, c2r, overlap-add into a ring; same buffering as the engine.
void BM_FftwOlaReference(benchmark::State &state, engine_case c) {
  memory_host *host = new_host(c);
  inst_t *ci = new_instance(host, c);
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

  // The kernel as complex bins for FFTW's r2c layout (its fastest real path).
  const int bins = N / 2 + 1;
  std::vector<double> kre(static_cast<size_t>(bins)), kim(static_cast<size_t>(bins), 0.0);
  for (int k = 0; k < bins; k++) {
    kre[size_t(k)] = kernel[size_t(k)];
    if (k > 0 && 2 * k < N) kim[size_t(k)] = kernel[size_t(N - k)];
  }
  std::vector<double> block[2] = {std::vector<double>(static_cast<size_t>(N)), std::vector<double>(static_cast<size_t>(N))};
  std::vector<double> res(static_cast<size_t>(N));
  auto *spectrum = static_cast<fftw_complex *>(fftw_malloc(sizeof(fftw_complex) * size_t(bins)));
  std::vector<double> ring[2] = {std::vector<double>(static_cast<size_t>(N + needed)),
                                 std::vector<double>(static_cast<size_t>(N + needed))};
  fftw_plan fwd = fftw_plan_dft_r2c_1d(N, block[0].data(), spectrum, FFTW_MEASURE);
  fftw_plan bwd = fftw_plan_dft_c2r_1d(N, spectrum, res.data(), FFTW_MEASURE);
  for (auto &b : block) std::fill(b.begin(), b.end(), 0.0);
  std::vector<double> l(static_cast<size_t>(n)), r(static_cast<size_t>(n)), ol(static_cast<size_t>(n)),
      orr(static_cast<size_t>(n));
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
          fftw_execute_dft_r2c(fwd, block[ch].data(), spectrum);
          for (int k = 0; k < bins; k++) {
            const double a = spectrum[k][0], b = spectrum[k][1], c = kre[size_t(k)], d = kim[size_t(k)];
            spectrum[k][0] = a * c - b * d;
            spectrum[k][1] = b * c + a * d;
          }
          fftw_execute_dft_c2r(bwd, spectrum, res.data());
          const int start = (count + offset) % S, first = std::min(N, S - start);
          double *acc = ring[ch].data();
          for (int i = 0; i < first; i++) acc[start + i] += res[size_t(i)] * scale;
          for (int i = first; i < N; i++) acc[i - first] += res[size_t(i)] * scale;
          std::fill(block[ch].begin(), block[ch].end(), 0.0);
        }
        count += needed;
        gotten = 0;
      }
      const int first = std::min(take, S - offset);
      for (int ch = 0; ch < 2; ch++) {
        double *acc = ring[ch].data();
        std::copy(acc + offset, acc + offset + first, out[ch] + pos);
        std::fill(acc + offset, acc + offset + first, 0.0);
        std::copy(acc, acc + (take - first), out[ch] + pos + first);
        std::fill(acc, acc + (take - first), 0.0);
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
  fftw_free(spectrum);
}

const engine_case k44 = {44100.0, 1.0, 256}, k48 = {48000.0, 1.0, 256}, kBig = {44100.0, 1.0, 4096},
                  kHuge = {192000.0, 16.0, 256}, k96 = {96000.0, 1.0, 256}, kTiny = {44100.0, 1.0, 32},
                  kLongest = {44100.0, 1.0, 256, 6.0}, kRes16at48 = {48000.0, 16.0, 256},
                  kRes16at96 = {96000.0, 16.0, 256}, kRes4at96 = {96000.0, 4.0, 256};
}  // namespace

#define ENGINE_CASE(name, c)                            \
  BENCHMARK_CAPTURE(BM_ProcessStereo, name, c);         \
  BENCHMARK_CAPTURE(BM_ProcessWhole, name, c);          \
  BENCHMARK_CAPTURE(BM_FftwOlaReference, name, c)

ENGINE_CASE(defaults_44k1, k44);
ENGINE_CASE(defaults_48k, k48);
ENGINE_CASE(host_block_4096, kBig);
ENGINE_CASE(res16_192k, kHuge);
ENGINE_CASE(defaults_96k, k96);
ENGINE_CASE(host_block_32, kTiny);
ENGINE_CASE(input_buffer_max, kLongest);
ENGINE_CASE(res16_48k, kRes16at48);
ENGINE_CASE(res16_96k, kRes16at96);
ENGINE_CASE(res4_96k, kRes4at96);
BENCHMARK_CAPTURE(BM_ProcessSilence, defaults_44k1, k44);
BENCHMARK_CAPTURE(BM_ProcessSilence, host_block_4096, kBig);
