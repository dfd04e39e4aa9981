#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/stereo_buffer.h"
#include "support/fake_adapter.h"
#include "system/inst.h"

namespace {
using stereo = stereo_buffer<double>;
using stereo_f = stereo_buffer<float>;
}  // namespace

TEST(WrapperProcess, BlockIsCutAtEveryEventAndEachEventPrecedesItsSegment) {
  test_plugin t;
  stereo in(512), out(512);
  fake_block b(512, true, in.ch, 2, out.ch, 2);
  b.add_param(0, 24, -1.0);
  b.add_param(100, 24, -2.0);
  b.add_param(300, 24, -3.0);
  std::vector<double> limiter_at_segment;
  b.on_buffers = [&] { limiter_at_segment.push_back(koppel_getParameterValue(t.p, 24)); };
  koppel_process(t.p, &b.ctx);
  EXPECT_EQ(limiter_at_segment, (std::vector<double>{-1.0, -2.0, -3.0}));
  EXPECT_TRUE(t.host.sent.empty()) << "automation is never reported back";
}

TEST(WrapperProcess, SegmentEndsAreClippedAndNeverGoBackwards) {
  test_plugin t;
  stereo in(256), out(256);
  fake_block b(256, true, in.ch, 2, out.ch, 2);
  KoppelEvent beyond{};
  beyond.type = KOPPEL_EVENT_PROCESS_AUDIO;
  beyond.processAudio.endFrame = 100000;
  KoppelEvent backwards = beyond;
  backwards.processAudio.endFrame = 10;
  KoppelEvent empty = beyond;
  empty.processAudio.endFrame = 0;
  b.events = {{0, empty}, {0, backwards}, {10, backwards}, {10, beyond}};
  int segments = 0;
  b.on_buffers = [&] { segments++; };
  koppel_process(t.p, &b.ctx);
  EXPECT_EQ(segments, 2);  // 0..10 and 10..256; the empty and the backward ones are skipped
}

TEST(WrapperProcess, DefaultsPassAudioDelayedByTheReportedLatency) {
  test_plugin t;
  koppel_setSampleRateAndBlockSize(t.p, 44100.0, 256);
  ASSERT_EQ(koppel_getLatencyInSamples(t.p), 838u);
  const size_t n = 4096;
  stereo_f in(n), out(n);
  for (size_t i = 0; i < n; i++) in.l[i] = in.r[i] = float(std::sin(0.01 * double(i)));
  for (size_t pos = 0; pos < n; pos += 256) {  // shorter than the engine's block: no rebuild
    void *ic[2] = {in.l.data() + pos, in.r.data() + pos}, *oc[2] = {out.l.data() + pos, out.r.data() + pos};
    fake_block b(256, false, ic, 2, oc, 2);
    koppel_process(t.p, &b.ctx);
  }
  for (size_t i = 838; i < n; i++) ASSERT_NEAR(out.l[i], in.l[i - 838], 1e-5) << i;
  for (size_t i = 0; i < 838; i++) ASSERT_NEAR(out.r[i], 0.0f, 1e-9);
}

TEST(WrapperProcess, AMonoHostIsReadOnlyWhereItGaveChannels) {
  test_plugin t;
  std::vector<float> mono_in(256, 0.5f), mono_out(256, 9.0f);
  void *in[1] = {mono_in.data()}, *out[1] = {mono_out.data()};
  fake_block b(256, false, in, 1, out, 1);
  koppel_process(t.p, &b.ctx);  // ASan: nothing beyond channel 0 is touched
  EXPECT_EQ(mono_out[0], 0.0f);
}

TEST(WrapperProcess, LongBlocksGoInPiecesAndUnprocessableSegmentsAreSilent) {
  test_plugin t;
  const size_t n = 20000;
  stereo in(n, 0.25), out(n, 7.0);
  fake_block b(uint32_t(n), true, in.ch, 2, out.ch, 2);
  koppel_process(t.p, &b.ctx);
  EXPECT_LE(t.p->processCapacity, kKoppelMaxSegment);
  for (double v : out.l) ASSERT_TRUE(std::isfinite(v) && v != 7.0);

  inst_t *core = t.p->ci;
  t.p->ci = nullptr;
  stereo out2(64, 7.0);
  fake_block b2(64, true, in.ch, 2, out2.ch, 2);
  koppel_process(t.p, &b2.ctx);
  for (double v : out2.r) ASSERT_EQ(v, 0.0);
  t.p->ci = core;
}

TEST(WrapperProcess, LatencyIsReportedOnEveryRebuildAndRateZeroMeans44100) {
  test_plugin t;
  const int before = t.host.rescans_with(KOPPEL_FLAG_RESCAN_LATENCY);
  koppel_setSampleRateAndBlockSize(t.p, 48000.0, 256);
  EXPECT_EQ(t.host.rescans_with(KOPPEL_FLAG_RESCAN_LATENCY), before + 1);
  EXPECT_EQ(koppel_getLatencyInSamples(t.p), 943u);
  koppel_setSampleRateAndBlockSize(t.p, 0.0, 256);
  EXPECT_EQ(t.p->sampleRate, 44100.0);
  EXPECT_EQ(koppel_getLatencyInSamples(t.p), 838u);
  EXPECT_EQ(koppel_getTailInSamples(t.p), 0u);
  char name[8];
  koppel_getOutputBusName(t.p, 0, name, sizeof name);
  EXPECT_STREQ(name, "Stereo ");
  koppel_process(t.p, nullptr);
  koppel_process(nullptr, nullptr);
}
