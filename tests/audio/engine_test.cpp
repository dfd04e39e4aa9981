#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

#include "audio/engine.h"
#include "dsp/filter_design.h"
#include "dsp/scales.h"
#include "state/params.h"
#include "support/test_instance.h"
#include "system/alloc.h"

namespace {
using samples = std::vector<double>;

samples noise(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> d(-0.5, 0.5);
  samples x(n);
  for (double &v : x) v = d(rng);
  return x;
}

// Feeds `in` (two channels) through the engine in blocks whose sizes cycle
// through `blocks`; before_block(k) runs before the k-th call.
std::array<samples, 2> run(test_instance &t, const std::array<samples, 2> &in, std::vector<int> blocks,
                          const std::function<void(int)> &before_block = nullptr) {
  const size_t n = in[0].size();
  std::array<samples, 2> out{samples(n), samples(n)};
  size_t pos = 0;
  for (int call = 0; pos < n; call++) {
    const int len = int(std::min<size_t>(size_t(blocks[size_t(call) % blocks.size()]), n - pos));
    if (before_block) before_block(call);
    double *i[2] = {const_cast<double *>(in[0].data() + pos), const_cast<double *>(in[1].data() + pos)};
    double *o[2] = {out[0].data() + pos, out[1].data() + pos};
    tarvelon_process_audio_runtime_owned(t.ci, i, o, len);
    pos += size_t(len);
  }
  return out;
}

samples kernel_of(const test_instance &t) {
  const filterbank_t *fb = t.ci->fbank;
  samples h(size_t(fb->kernel_size));
  for (size_t j = 0; j < h.size(); j++) h[j] = fb->fir_time_domain[j] / std::sqrt(double(fb->fft_size));
  return h;
}

// Direct convolution of x with h, placed `delay` samples later: y[n] = sum h[j] x[n - delay - j].
samples convolve_delayed(const samples &x, const samples &h, int delay, size_t n) {
  samples y(n, 0.0);
  for (size_t m = 0; m < n; m++) {
    const long base = long(m) - delay;
    double acc = 0;
    for (size_t j = 0; j < h.size(); j++) {
      const long i = base - long(j);
      if (i >= 0 && i < long(x.size())) acc += h[j] * x[size_t(i)];
    }
    y[m] = acc;
  }
  return y;
}

double max_abs_diff(const samples &a, const samples &b, size_t from = 0) {
  double m = 0;
  for (size_t i = from; i < a.size(); i++) m = std::fmax(m, std::fabs(a[i] - b[i]));
  return m;
}

// Designs pending band changes at once, as the editor does while audio is
// stopped, so the measured run has no crossfade.
void settle(test_instance &t) {
  t.ci->time_since_proc = 1.0;
  tarvelon_sync_and_redesign_when_idle(t.ci);
}

void shape_bands(test_instance &t) {
  t.set_param(4, 9.0);
  t.set_param(12, 4.0);
  t.set_param(5, -12.0);
  t.set_param(10, 2500.0);
  t.set_param(7, 6.0);
  t.set_param(24, 60.0);  // limiter off
}
}  // namespace

TEST(EngineSizes, LatencyFollowsRateResolutionAndHostBlock) {
  {
    test_instance t(44100.0);
    EXPECT_EQ(t.host->latency.load(), 838);
    EXPECT_EQ(t.ci->needed_samples, 326);
    EXPECT_EQ(t.ci->fft_size_value, 1350);
    const int reports = t.host->latency_reports;
    tarvelon_reset_audio_runtime_owned(t.ci);  // same rate: nothing
    EXPECT_EQ(t.host->latency_reports.load(), reports);

    std::array<samples, 2> in{samples(4096, 0.0), samples(4096, 0.0)};
    run(t, in, {4096});
    EXPECT_EQ(t.host->latency.load(), 4608);
    EXPECT_EQ(t.ci->fft_size_value, 5120);

    // A settings change keeps room for the largest block the host has sent.
    t.set_param(23, 0.0);
    std::array<samples, 2> small{samples(64, 0.0), samples(64, 0.0)};
    run(t, small, {64});
    EXPECT_EQ(t.ci->fft_size_value, 5120);
  }
  {
    test_instance t(44100.0);
    t.set_param(23, 0.0);  // minimum block extension of 128 before rounding up
    std::array<samples, 2> small{samples(64, 0.0), samples(64, 0.0)};
    run(t, small, {64});
    EXPECT_EQ(t.ci->fft_size_value, next_fast_fft_size(1024 + 128));
  }
  {
    test_instance t(48000.0);
    EXPECT_EQ(t.host->latency.load(), 943);
  }
  {
    test_instance t(192000.0);
    t.set_param(22, 16.0);
    std::array<samples, 2> in{samples(8, 0.0), samples(8, 0.0)};
    run(t, in, {8});
    EXPECT_EQ(t.ci->ksize_value, 71393);
    EXPECT_EQ(t.ci->fft_size_value, 72900);
  }
}

TEST(EngineSizes, SettingUnchangedSizesRebuildsNothing) {
  test_instance t;
  const int reports = t.host->latency_reports;
  const std::array<samples, 2> in{noise(3000, 1), noise(3000, 2)};
  auto reference = run(t, in, {100});
  test_instance u;
  auto out = run(u, in, {100}, [&](int call) {
    if (call == 10) u.set_param(22, 1.0);  // a state load sets these to what they were
    if (call == 11) u.set_param(23, 0.2);
  });
  EXPECT_EQ(u.host->latency_reports.load(), reports);
  EXPECT_EQ(max_abs_diff(out[0], reference[0]), 0.0);
}

class EngineExactness : public ::testing::TestWithParam<int> {};

TEST_P(EngineExactness, OutputIsTheDirectConvolutionDelayedByTheLatency) {
  const int block = GetParam();
  test_instance t;
  shape_bands(t);
  settle(t);
  const size_t n = 3000;
  const std::array<samples, 2> in{noise(n, 3), noise(n, 4)};
  // A block larger than `needed` rebuilds the engine at the first call, which
  // then starts from silence with the new block length.
  auto out = run(t, in, {block});
  if (block > 326) {
    EXPECT_GE(t.ci->needed_samples, block);
  }
  const samples h = kernel_of(t);
  for (int ch = 0; ch < 2; ch++)
    EXPECT_LT(max_abs_diff(out[size_t(ch)], convolve_delayed(in[size_t(ch)], h, t.ci->needed_samples, n)), 1e-12)
        << "block " << block;
}

INSTANTIATE_TEST_SUITE_P(HostBlocks, EngineExactness, ::testing::Values(1, 7, 100, 326, 512));

TEST(Engine, ResultDoesNotDependOnHowTheHostCutsBlocks) {
  const std::array<samples, 2> in{noise(5000, 5), noise(5000, 6)};
  test_instance a, b;
  shape_bands(a);
  shape_bands(b);
  settle(a);
  settle(b);
  auto x = run(a, in, {1, 7, 100, 33, 326, 2});
  auto y = run(b, in, {326});
  EXPECT_LT(max_abs_diff(x[0], y[0]), 1e-12);
  EXPECT_LT(max_abs_diff(x[1], y[1]), 1e-12);
}

TEST(Engine, AChangeWhileRunningIsCrossfadedOverOneBlock) {
  test_instance t;
  t.set_param(24, 60.0);
  const int g = 326, change_call = 4;
  const size_t n = size_t(g) * 10;
  const std::array<samples, 2> in{noise(n, 7), noise(n, 8)};
  samples h_old, h_new;
  auto out = run(t, in, {g}, [&](int call) {
    if (call == 0) h_old = kernel_of(t);
    if (call == change_call) t.set_param(6, 10.0);
    if (call == change_call + 1) h_new = kernel_of(t);
  });
  ASSERT_NE(h_old, h_new);
  for (int ch = 0; ch < 2; ch++) {
    samples want(n, 0.0);
    for (int k = 0; k * g < int(n); k++) {
      samples x_old(n, 0.0), x_new(n, 0.0);
      for (int i = 0; i < g; i++) {
        const double v = in[size_t(ch)][size_t(k * g + i)];
        const double rise = 0.5 - 0.5 * std::cos(M_PI * i / (g - 1));
        const double w_new = k < change_call ? 0.0 : (k == change_call ? rise : 1.0);
        x_old[size_t(k * g + i)] = v * (1.0 - w_new);
        x_new[size_t(k * g + i)] = v * w_new;
      }
      const samples a = convolve_delayed(x_old, h_old, g, n), b = convolve_delayed(x_new, h_new, g, n);
      for (size_t i = 0; i < n; i++) want[i] += a[i] + b[i];
    }
    EXPECT_LT(max_abs_diff(out[size_t(ch)], want), 1e-12);
  }
}

TEST(Engine, OneInputChannelFeedsBothAnalyserRingsUntilTheEditorIsGoneASecond) {
  test_instance t(44100.0, 1);
  std::array<samples, 2> in{noise(2000, 9), samples(2000, 0.0)};
  run(t, in, {500});
  for (int i = 0; i < 2000; i++) {
    ASSERT_EQ(t.ci->last2k[0][i], in[0][size_t(i)]);
    ASSERT_EQ(t.ci->last2k[1][i], in[0][size_t(i)]);
  }
  EXPECT_EQ(t.ci->last2k_offset, 2000);
  std::array<samples, 2> long_run{samples(50000, 0.25), samples(50000, 0.0)};
  run(t, long_run, {512});
  const int32_t offset = t.ci->last2k_offset;
  run(t, in, {512});
  EXPECT_EQ(t.ci->last2k_offset, offset) << "capture pauses once no frame was drawn for a second of audio";
  EXPECT_LE(t.ci->screen_timeout.load(), 44101) << "the pause counter saturates";
  t.ci->screen_timeout = 0;  // the editor drew a frame
  run(t, in, {500});
  EXPECT_NE(t.ci->last2k_offset, offset);
}

TEST(Engine, AFailedBuildOutputsSilenceReportsNothingAndRetries) {
  test_instance t;
  const std::array<samples, 2> in{noise(652, 10), noise(652, 11)};
  run(t, in, {326});
  const int reports = t.host->latency_reports;
  t.set_param(22, 2.0);
  const std::array<samples, 2> one_block{noise(326, 12), noise(326, 13)};
  tv_alloc_fail_after(0);
  std::array<samples, 2> out1 = run(t, one_block, {326});
  tv_alloc_fail_after(-1);
  EXPECT_EQ(max_abs_diff(out1[0], samples(326, 0.0)), 0.0);
  EXPECT_EQ(t.host->latency_reports.load(), reports);
  EXPECT_TRUE(t.ci->reinit_flag.is_set());
  run(t, in, {326});
  EXPECT_EQ(t.host->latency_reports.load(), reports + 1);
  EXPECT_EQ(t.ci->audio_buffers_ready.load(), 1);

  test_instance huge(1536000.0);
  huge.set_param(22, 16.0);  // kernel beyond what the engine accepts
  auto out2 = run(huge, in, {326});
  EXPECT_EQ(max_abs_diff(out2[1], samples(652, 0.0)), 0.0);
  EXPECT_EQ(huge.ci->audio_buffers_ready.load(), 0);
}

TEST(Engine, SteadyProcessingWithRedesignsAllocatesNothing) {
  test_instance t;
  const std::array<samples, 2> in{noise(4000, 12), noise(4000, 13)};
  run(t, in, {256});
  const uint64_t before = tv_alloc_count();
  run(t, in, {256}, [&](int call) { t.set_param(5, -20.0 + call); });
  EXPECT_EQ(tv_alloc_count(), before);
}

TEST(Engine, NonFiniteInputLeavesNoTrace) {
  test_instance t;
  std::array<samples, 2> in{noise(3000, 14), noise(3000, 15)};
  in[0][700] = NAN;
  in[1][900] = INFINITY;
  auto out = run(t, in, {100});
  for (int ch = 0; ch < 2; ch++)
    for (double v : out[size_t(ch)]) ASSERT_TRUE(std::isfinite(v));
  EXPECT_TRUE(std::isfinite(t.ci->env));
}

TEST(Engine, NullAndEmptyCallsAreHarmless) {
  test_instance t;
  double *none[2] = {nullptr, nullptr};
  tarvelon_process_audio_runtime_owned(t.ci, none, none, 0);
  tarvelon_process_audio_runtime_owned(nullptr, none, none, 10);
  tarvelon_process_audio_runtime_owned(t.ci, nullptr, nullptr, 10);
  t.host->channels = 7;  // more than the engine has: clamped to two
  std::array<samples, 2> in{noise(400, 1), noise(400, 2)};
  run(t, in, {200});
}

// Blocks of exact zeros skip their transforms. The output must not change by
// a single bit for that, across silence, a curve change during the silence
// (a crossfade) and the return of sound; and once the silence has outlasted
// everything in flight, the engine says the output is silent.
TEST(Engine, SilentBlocksCostNoTransformAndChangeNoBit) {
  const size_t n = 20000;
  std::array<samples, 2> in{noise(n, 21), noise(n, 22)};
  for (size_t i = 3000; i < 14000; i++) in[0][i] = in[1][i] = 0.0;
  in[1][9000] = std::nan("");  // played as zero
  auto play = [&](bool skip, std::vector<int> *silent_at) {
    tarvelon_skip_silent_blocks(skip);
    test_instance t;
    auto out = run(t, in, {100, 333, 64}, [&](int call) {
      if (call == 60) t.set_param(TV_PARAM_BAND_GAIN + 1, 9.0);  // inside the silence
      if (silent_at) silent_at->push_back(tarvelon_output_is_silent(t.ci));
    });
    tarvelon_skip_silent_blocks(true);
    return out;
  };
  std::vector<int> silent;
  const auto skipped = play(true, &silent), full = play(false, nullptr);
  for (int ch = 0; ch < 2; ch++)
    EXPECT_EQ(std::memcmp(skipped[size_t(ch)].data(), full[size_t(ch)].data(), n * sizeof(double)), 0) << ch;
  // Calls are 100, 333, 64 frames long (497 per cycle of three).
  auto frame_of = [](size_t call) { return (call / 3) * 497 + (call % 3 > 0 ? 100 : 0) + (call % 3 > 1 ? 333 : 0); };
  bool went_silent = false;
  for (size_t call = 0; call + 1 < silent.size(); call++) {
    if (!silent[call + 1]) continue;  // the state after `call`
    went_silent = true;
    const size_t from = frame_of(call), to = std::min(n, frame_of(call + 1));
    for (size_t i = from; i < to; i++) ASSERT_EQ(skipped[0][i], 0.0) << "said silent but played " << i;
    EXPECT_GE(from, 3000u + 838u) << "silent before the last sound could have left";
    EXPECT_LT(from, 14000u);
  }
  EXPECT_TRUE(went_silent);
}

// The silence scan works in chunks with an early end: one tiny sample
// anywhere in a long call, or in its last few frames, is still sound.
TEST(Engine, OneTinySampleAnywhereInALongCallIsSound) {
  for (int at : {0, 7, 8, 255, 256, 257, 4095, 4096, 4098}) {
    test_instance t;
    std::array<samples, 2> quiet{samples(4099, 0.0), samples(4099, 0.0)};
    for (int i = 0; i < 3; i++) run(t, quiet, {4099});
    ASSERT_GT(t.ci->silent_input_frames, 0) << at;
    quiet[at % 2][size_t(at)] = 4.9e-324;  // the smallest denormal
    run(t, quiet, {4099});
    EXPECT_EQ(t.ci->silent_input_frames, 0) << "sound at frame " << at;
  }
}
