// The engine against an independent reference: a direct convolution in long
// double of the same input, where every block of `needed` samples is filtered
// by the filter it was given (the falling half by the old filter and the
// rising half by the new one when the filter changed as it completed), across
// settings that run the kernel whole (P = 1), in a few parts (P = 4) and in
// many (P >= 40), random host block lengths, filter changes on consecutive
// blocks and rebuilds in the middle of the run.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "audio/engine.h"
#include "audio/partitions.h"
#include "dsp/filter_design.h"
#include "state/params.h"
#include "support/test_instance.h"

namespace {
using samples = std::vector<double>;

struct setting {
  double rate, resolution, input_buffer;
  int min_parts, max_parts;
};

void apply(test_instance &t, const setting &s) {
  t.set_param(TV_PARAM_RESOLUTION, s.resolution);
  t.set_param(TV_PARAM_INPUT_BUFFER, s.input_buffer);
  t.set_param(TV_PARAM_LIMITER, 60.0);  // the limiter off: the output is the convolution
}

int32_t parts_of(const test_instance &t) { return t.ci->parts ? t.ci->parts->parts : 1; }

samples kernel_now(const test_instance &t) {
  const filterbank_t *fb = t.ci->fbank;
  samples h(size_t(fb->kernel_size));
  const double s = 1.0 / std::sqrt(double(fb->fft_size));
  for (size_t j = 0; j < h.size(); j++) h[j] = fb->fir_time_domain[j] * s;
  return h;
}

// What happened in one stretch between rebuilds: where it starts, its sizes,
// and each completed block's filters (the one before the block completed and
// the one after; they differ when the block was crossfaded).
struct epoch {
  size_t start = 0;
  int32_t needed = 0, latency = 0, parts = 1;
  std::vector<samples> before, after;
};

// Adds the reference output of one epoch to y (input x from the epoch's
// start), in long double: block k's sample i, weighted by the crossfade
// windows, times tap j lands at start + kB + i + j + B (one block of silence).
void reference(const epoch &e, const samples &x, size_t end, std::vector<long double> &y) {
  const int32_t B = e.needed;
  for (size_t k = 0; k < e.after.size(); k++) {
    const samples &h_new = e.after[k], &h_old = e.before[k];
    const bool fade = h_new != h_old;
    for (int32_t i = 0; i < B; i++) {
      const size_t at = e.start + k * size_t(B) + size_t(i);
      if (at >= end) return;
      const long double v = x[at];
      if (v == 0.0L) continue;
      const long double rise = fade ? 0.5L - 0.5L * std::cos(3.14159265358979323846264338327950288L * i / (B - 1)) : 1.0L;
      const long double a = v * rise, b = v * (1.0L - rise);
      const size_t base = at + size_t(B);
      for (size_t j = 0; j < h_new.size() && base + j < end; j++) {
        long double acc = a * h_new[j];
        if (fade) acc += b * h_old[j];
        y[base + j] += acc;
      }
    }
  }
}

struct run_plan {
  size_t frames;
  unsigned seed;
  // Calls before which the curve changes (a band gain steps each time).
  size_t change_from = 0, change_to = 0;
  // A call before which the settings change to `rebuild_to` (0: none).
  size_t rebuild_call = 0;
  setting rebuild_to{};
};

struct run_result {
  std::array<samples, 2> in, out;
  std::vector<epoch> epochs;
};

run_result play(const setting &s, const run_plan &plan) {
  test_instance t(s.rate);
  apply(t, s);
  std::mt19937 rng(plan.seed);
  std::uniform_real_distribution<double> u(-0.5, 0.5);
  run_result r;
  for (auto &ch : r.in) {
    ch.resize(plan.frames);
    for (double &v : ch) v = u(rng);
  }
  for (auto &ch : r.out) ch.assign(plan.frames, 0.0);
  // Settle the first build before the measured run starts.
  {
    double z[1] = {0.0}, o[1] = {0.0};
    double *zi[2] = {z, z}, *oo[2] = {o, o};
    tarvelon_process_audio_runtime_owned(t.ci, zi, oo, 1);
  }
  tarvelon_flush_audio_runtime_owned(t.ci);

  auto open_epoch = [&](size_t start) {
    epoch e;
    e.start = start;
    e.needed = t.ci->needed_samples;
    e.latency = t.host->latency.load();
    e.parts = parts_of(t);
    r.epochs.push_back(e);
  };
  open_epoch(0);
  samples filter = kernel_now(t);
  size_t pos = 0, gathered = 0;
  double gain = -6.0;
  for (size_t call = 0; pos < plan.frames; call++) {
    if (call >= plan.change_from && call < plan.change_to) {
      gain = gain > 6.0 ? -6.0 : gain + 1.5;
      t.set_param(TV_PARAM_BAND_GAIN + 1, gain);
    }
    const bool rebuild = plan.rebuild_call && call == plan.rebuild_call;
    if (rebuild) apply(t, plan.rebuild_to);
    const int32_t B = rebuild ? 0 : t.ci->needed_samples;
    int32_t len = int32_t(std::uniform_int_distribution<int>(1, rebuild ? 64 : std::min(B, 1024))(rng));
    len = int32_t(std::min<size_t>(size_t(len), plan.frames - pos));
    double *i[2] = {r.in[0].data() + pos, r.in[1].data() + pos};
    double *o[2] = {r.out[0].data() + pos, r.out[1].data() + pos};
    tarvelon_process_audio_runtime_owned(t.ci, i, o, len);
    if (rebuild) {
      EXPECT_LT(len, t.ci->needed_samples) << "the rebuild call must not complete a block itself";
      open_epoch(pos);
      gathered = 0;
      filter = kernel_now(t);
    }
    epoch &e = r.epochs.back();
    gathered += size_t(len);
    pos += size_t(len);
    if (gathered >= size_t(e.needed)) {
      gathered -= size_t(e.needed);
      samples now = kernel_now(t);
      e.before.push_back(filter);
      e.after.push_back(now);
      filter = std::move(now);
    }
  }
  return r;
}

// Largest difference between the engine's output and the reference, over
// every epoch, both channels.
double worst_error(const run_result &r) {
  double worst = 0.0;
  for (size_t n = 0; n < r.epochs.size(); n++) {
    const epoch &e = r.epochs[n];
    const size_t end = n + 1 < r.epochs.size() ? r.epochs[n + 1].start : r.in[0].size();
    for (int ch = 0; ch < 2; ch++) {
      std::vector<long double> y(end, 0.0L);
      reference(e, r.in[size_t(ch)], end, y);
      for (size_t i = e.start; i < end; i++)
        worst = std::max(worst, double(std::fabs((long double)r.out[size_t(ch)][i] - y[i])));
    }
  }
  return worst;
}

// Whole kernel (P = 1), the defaults (P = 4), and many parts: a long kernel
// with the shortest block extension.
const setting kWhole{44100.0, 1.0, 6.0, 1, 1};
const setting kDefaults{44100.0, 1.0, 0.2, 4, 4};
const setting kMany{44100.0, 12.0, 0.0, 40, 1000};
const setting kMid{48000.0, 4.0, 0.2, 2, 1000};

class AgainstDirectConvolution : public ::testing::TestWithParam<setting> {};

TEST_P(AgainstDirectConvolution, SteadyFilterAndRandomHostBlocks) {
  const setting s = GetParam();
  run_plan plan{};
  plan.seed = 1;
  {
    test_instance t(s.rate);
    apply(t, s);
    double z[1] = {0.0}, o[1] = {0.0};
    double *zi[2] = {z, z}, *oo[2] = {o, o};
    tarvelon_process_audio_runtime_owned(t.ci, zi, oo, 1);
    ASSERT_GE(parts_of(t), s.min_parts);
    ASSERT_LE(parts_of(t), s.max_parts);
    plan.frames = size_t(t.ci->ksize_value) + 7 * size_t(t.ci->needed_samples);
  }
  const run_result r = play(s, plan);
  EXPECT_LT(worst_error(r), 1e-12);
}

TEST_P(AgainstDirectConvolution, FilterChangesOnConsecutiveBlocks) {
  const setting s = GetParam();
  run_plan plan{};
  plan.seed = 2;
  plan.frames = 0;
  {
    test_instance t(s.rate);
    apply(t, s);
    double z[1] = {0.0}, o[1] = {0.0};
    double *zi[2] = {z, z}, *oo[2] = {o, o};
    tarvelon_process_audio_runtime_owned(t.ci, zi, oo, 1);
    plan.frames = size_t(t.ci->ksize_value) + 9 * size_t(t.ci->needed_samples);
  }
  // A change before every call from the 3rd to the 40th: each block that
  // completes in that stretch is crossfaded from the filter of the one before.
  plan.change_from = 3;
  plan.change_to = 40;
  const run_result r = play(s, plan);
  size_t fades = 0, consecutive = 0;
  for (const epoch &e : r.epochs)
    for (size_t k = 0; k < e.after.size(); k++) {
      const bool fade = e.after[k] != e.before[k];
      fades += fade;
      consecutive += fade && k > 0 && e.after[k - 1] != e.before[k - 1];
    }
  EXPECT_GE(fades, 2u);
  EXPECT_GE(consecutive, 1u) << "no two neighbouring blocks both crossfaded";
  EXPECT_LT(worst_error(r), 1e-12);
}

INSTANTIATE_TEST_SUITE_P(Settings, AgainstDirectConvolution, ::testing::Values(kWhole, kDefaults, kMany, kMid));

// A rebuild in the middle of the run (Resolution and Input Buffer Size
// change while a crossfade's products are still pending): the new epoch
// starts from silence with its own sizes and is exact again, in either
// direction between one part and many.
TEST(AgainstDirectConvolutionAcrossRebuilds, ManyPartsToOneAndBack) {
  struct change {
    setting from, to;
    size_t frames;
  };
  // 3 parts of 400 and 4 parts of 300 take the same ring: the slot flags
  // must still follow the number of parts (the sanitizer build sees it).
  const setting three{44100.0, 0.4, 0.1, 3, 3}, four{44100.0, 0.4, 0.0, 4, 4};
  for (const auto &[from, to, frames] : {change{kMany, kWhole, 12000}, change{kDefaults, kMany, 20000},
                                         change{kWhole, kMid, 20000}, change{three, four, 6000}}) {
    run_plan plan{};
    plan.seed = 3;
    plan.frames = frames;
    plan.change_from = 6;
    plan.change_to = 12;
    plan.rebuild_call = 12;
    plan.rebuild_to = to;
    const setting first{from.rate, from.resolution, from.input_buffer, 1, 1000};
    plan.rebuild_to.rate = from.rate;  // one instance, one rate
    const run_result r = play(first, plan);
    ASSERT_EQ(r.epochs.size(), 2u);
    EXPECT_NE(r.epochs[0].needed, r.epochs[1].needed);
    EXPECT_LT(worst_error(r), 1e-12) << from.resolution << " -> " << to.resolution;
  }
}

// The reported latency is where an impulse comes out, for every setting the
// engine can run in parts or whole.
TEST(PartitionedLatency, ImpulseComesOutAfterExactlyTheReportedLatency) {
  for (const setting &s : {kWhole, kDefaults, kMany, kMid, setting{96000.0, 16.0, 0.2, 40, 1000},
                           setting{192000.0, 1.0, 6.0, 1, 1}, setting{44100.0, 0.2, 0.0, 1, 1000}}) {
    test_instance t(s.rate);
    apply(t, s);
    double z[1] = {0.0}, o[1] = {0.0};
    double *zi[2] = {z, z}, *oo[2] = {o, o};
    tarvelon_process_audio_runtime_owned(t.ci, zi, oo, 1);
    tarvelon_flush_audio_runtime_owned(t.ci);
    const size_t frames = size_t(t.ci->latency) + 2 * size_t(t.ci->needed_samples) + 16;
    samples in(frames, 0.0), out_l(frames, 0.0), out_r(frames, 0.0);
    in[0] = 1.0;
    size_t pos = 0;
    while (pos < frames) {
      const int32_t len = int32_t(std::min<size_t>(frames - pos, size_t(std::min(t.ci->needed_samples, 97))));
      double *i[2] = {in.data() + pos, in.data() + pos}, *o2[2] = {out_l.data() + pos, out_r.data() + pos};
      tarvelon_process_audio_runtime_owned(t.ci, i, o2, len);
      pos += size_t(len);
    }
    size_t peak = 0;
    for (size_t i = 0; i < frames; i++)
      if (std::fabs(out_l[i]) > std::fabs(out_l[peak])) peak = i;
    EXPECT_EQ(int64_t(peak), int64_t(t.host->latency.load())) << s.rate << " Hz, Resolution " << s.resolution;
    EXPECT_NEAR(out_l[peak], 1.0, 1e-6);  // the flat curve's gain, to the design's rounding
    EXPECT_EQ(out_l, out_r);
  }
}

// Silence after sound: the output must be bit-identical whether silent blocks
// skip their work or not, and nothing may still be in flight when the engine
// says its output is silent, whatever the number of parts. With the whole
// kernel, a long block and long host calls, the rounding of the last sounding
// transform still reaches the first frames of the call in which the latency
// plus N has passed, so the quiet test has to wait one block longer.
TEST(PartitionedSilence, SkippingSilentBlocksChangesNoBitInAnySetting) {
  for (const setting &s : {kWhole, kDefaults, kMany}) {
    auto go = [&](bool skip, std::vector<int> *silent_at) {
      tarvelon_skip_silent_blocks(skip);
      test_instance t(s.rate);
      apply(t, s);
      const int32_t B = 16384;
      size_t n = 0;
      samples out_all;
      std::mt19937 rng(5);
      std::uniform_real_distribution<double> u(-0.5, 0.5);
      samples buf(16384, 0.0), l(16384, 0.0), r(16384, 0.0);
      {
        double z[1] = {0.0}, o[1] = {0.0};
        double *zi[2] = {z, z}, *oo[2] = {o, o};
        tarvelon_process_audio_runtime_owned(t.ci, zi, oo, 1);  // the build
      }
      // Sound into the first frames of a block (its transform's rounding
      // reaches furthest then), a silence long enough to go quiet, sound
      // again, silence.
      const int32_t needed = t.ci->needed_samples;
      const size_t sound1 = size_t(needed) + 1, quiet = 60000, sound2 = 3000, tail = 60000;
      const size_t total = sound1 + quiet + sound2 + tail;
      while (n < total) {
        // The sound ends with a short call just into the second block, and
        // then whole blocks per call: a long call's output reaches back
        // furthest before the silence the engine has counted.
        const int32_t want = n == 0 ? needed - 1 : (n == size_t(needed) - 1 ? 2 : std::min(B, needed));
        const int32_t len = int32_t(std::min<size_t>(total - n, size_t(want)));
        for (int32_t i = 0; i < len; i++) {
          const size_t at = n + size_t(i);
          const bool loud = at < sound1 || (at >= sound1 + quiet && at < sound1 + quiet + sound2);
          buf[size_t(i)] = loud ? u(rng) : 0.0;
        }
        double *i2[2] = {buf.data(), buf.data()}, *o2[2] = {l.data(), r.data()};
        tarvelon_process_audio_runtime_owned(t.ci, i2, o2, len);
        if (silent_at) silent_at->push_back(tarvelon_output_is_silent(t.ci));
        out_all.insert(out_all.end(), l.begin(), l.begin() + len);
        n += size_t(len);
      }
      tarvelon_skip_silent_blocks(true);
      return out_all;
    };
    std::vector<int> silent;
    const samples skipped = go(true, &silent), full = go(false, nullptr);
    ASSERT_EQ(skipped.size(), full.size());
    EXPECT_EQ(std::memcmp(skipped.data(), full.data(), skipped.size() * sizeof(double)), 0)
        << "Resolution " << s.resolution << ", Input Buffer Size " << s.input_buffer;
    EXPECT_NE(std::count(silent.begin(), silent.end(), 1), 0) << "never went quiet";
  }
}
}  // namespace
