// Real FFT forward + backward through fftp, against FFTW's half-complex
// transforms of the same length doing the same work (both directions and the
// unitary scaling).
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "dsp/fft.h"
#include "dsp/fft_kernels.h"
#include "dsp/scales.h"
#include "system/instance.h"

namespace {
std::vector<double> test_signal(int n) {
  std::vector<double> x(static_cast<size_t>(n));
  for (int i = 0; i < n; i++) x[size_t(i)] = std::sin(0.01 * i) + 0.3 * std::cos(0.37 * i);
  return x;
}

void BM_Fft(benchmark::State &state) {
  const int n = int(state.range(0));
  inst_t *ci = tarvelon_create_instance(nullptr, 16, nullptr);
  fft_plan_t *plan = fft_plan_init(ci, n);
  std::vector<double> x = test_signal(n), s(x.size());
  for (auto _ : state) {
    fftp(x.data(), s.data(), n, 0, plan);
    fftp(s.data(), x.data(), n, 1, plan);
    benchmark::DoNotOptimize(x.data());
  }
  state.SetItemsProcessed(state.iterations() * n);
  tarvelon_destroy_instance(ci);
}

// FFTW's fastest real path (r2c/c2r), which packs the spectrum differently
// from our half-complex layout but does the same arithmetic work.
void BM_FftwReference(benchmark::State &state) {
  const int n = int(state.range(0));
  std::vector<double> x(static_cast<size_t>(n));
  auto *s = static_cast<fftw_complex *>(fftw_malloc(sizeof(fftw_complex) * size_t(n / 2 + 1)));
  fftw_plan fwd = fftw_plan_dft_r2c_1d(n, x.data(), s, FFTW_MEASURE);
  fftw_plan bwd = fftw_plan_dft_c2r_1d(n, s, x.data(), FFTW_MEASURE);
  const std::vector<double> fresh = test_signal(n);  // planning with FFTW_MEASURE overwrote x
  std::copy(fresh.begin(), fresh.end(), x.begin());
  const double norm = 1.0 / std::sqrt(double(n));
  for (auto _ : state) {
    fftw_execute(fwd);
    for (int k = 0; k <= n / 2; k++) {
      s[k][0] *= norm;
      s[k][1] *= norm;
    }
    fftw_execute(bwd);
    for (double &v : x) v *= norm;
    benchmark::DoNotOptimize(x.data());
  }
  state.SetItemsProcessed(state.iterations() * n);
  fftw_destroy_plan(fwd);
  fftw_destroy_plan(bwd);
  fftw_free(s);
}

// The same on the AVX2 kernel, where the processor has a wider one, so the
// report can say what the wider kernel gains.
void BM_FftAvx2(benchmark::State &state) {
  if (!fft_use_kernel(FFT_KERNEL_AVX2)) {
    state.SkipWithError("no AVX2");
    return;
  }
  BM_Fft(state);
  fft_use_kernel(FFT_KERNEL_AUTO);
}
}  // namespace

BENCHMARK(BM_Fft)->Arg(1350)->Arg(1500)->Arg(5120)->Arg(10368)->Arg(72900);
BENCHMARK(BM_FftAvx2)->Arg(1350)->Arg(1500)->Arg(5120)->Arg(10368)->Arg(72900);
BENCHMARK(BM_FftwReference)->Arg(1350)->Arg(1500)->Arg(5120)->Arg(10368)->Arg(72900);

// A spread sample of the fast-length table the engine chooses from (every
// sixth length from 1000 to 100 000), both sides, for the worst ratio.
namespace {
const bool kTableSweep = [] {
  int k = 0;
  for (int n = next_fast_fft_size(1000); n <= 100000; n = next_fast_fft_size(n + 1), k++) {
    if (k % 6) continue;
    benchmark::RegisterBenchmark("BM_FftTable", BM_Fft)->Arg(n);
    benchmark::RegisterBenchmark("BM_FftwTable", BM_FftwReference)->Arg(n);
  }
  return true;
}();
}  // namespace
