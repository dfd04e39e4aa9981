#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <cstring>
#include <atomic>
#include <thread>
#include <vector>

#include "support/thread_barrier.h"
#include "support/stereo_buffer.h"
#include "support/vst3_test_host.h"
#include "vl_utf.h"

using namespace vst3;
using namespace vst3_host;

namespace {
constexpr ParamID kLimiter = 24, kResolution = 22;

module &the_module() {
  static module m(TARVELON_VST3_PATH);
  return m;
}

using stereo = stereo_buffer<double>;

double normalised(instance &p, ParamID id, double plain) { return p.ctrl()->plainParamToNormalized(p.controller, id, plain); }
}  // namespace

TEST(Vst3Module, FactoryDescribesOneEffectClass) {
  module &m = the_module();
  ASSERT_NE(m.factory, nullptr) << "bundle at " << TARVELON_VST3_PATH;
  EXPECT_EQ(m.f()->countClasses(m.factory), 1);
  PClassInfo2 info2;
  ASSERT_EQ(m.f()->getClassInfo2(m.factory, 0, &info2), kResultOk);
  EXPECT_STREQ(info2.category, "Audio Module Class");
  EXPECT_STREQ(info2.subCategories, "Fx|EQ|Stereo");
  EXPECT_STREQ(info2.name, "Tarvelon Free");
  PClassInfoW w;
  ASSERT_EQ(m.f()->getClassInfoUnicode(m.factory, 0, &w), kResultOk);
  char name[64];
  vl_utf16_to_utf8(w.name, name, sizeof name);
  EXPECT_STREQ(name, "Tarvelon Free");
  EXPECT_EQ(m.f()->getClassInfo(m.factory, 1, reinterpret_cast<PClassInfo *>(&info2)), kInvalidArgument);
  void *obj = reinterpret_cast<void *>(1);
  EXPECT_EQ(m.f()->createInstance(m.factory, IID_IComponent.data(), IID_IComponent.data(), &obj), kNoInterface);
  EXPECT_EQ(obj, nullptr);
}

TEST(Vst3Component, SecondInitializeIsRejectedAndBusesAreStereo) {
  instance p(the_module());
  ASSERT_NE(p.component, nullptr);
  application other;
  EXPECT_EQ(p.comp()->initialize(p.component, reinterpret_cast<FUnknown *>(&other)), kInvalidArgument);
  EXPECT_EQ(p.comp()->getBusCount(p.component, kAudio, kInput), 1);
  EXPECT_EQ(p.comp()->getBusCount(p.component, kEvent, kInput), 0);
  BusInfo bus;
  ASSERT_EQ(p.comp()->getBusInfo(p.component, kAudio, kOutput, 0, &bus), kResultOk);
  EXPECT_EQ(bus.channelCount, 2);
  char name[64];
  vl_utf16_to_utf8(bus.name, name, sizeof name);
  EXPECT_STREQ(name, "Stereo Output");
  EXPECT_EQ(p.comp()->getBusInfo(p.component, kAudio, kOutput, -1, &bus), kInvalidArgument);
  SpeakerArrangement empty[1] = {0}, stereo_arr[1] = {0x3}, mono[1] = {0x80000};
  EXPECT_EQ(p.proc()->setBusArrangements(p.processor, empty, 1, empty, 1), kResultOk);
  EXPECT_EQ(p.proc()->setBusArrangements(p.processor, stereo_arr, 1, stereo_arr, 1), kResultOk);
  EXPECT_EQ(p.proc()->setBusArrangements(p.processor, mono, 1, mono, 1), kResultFalse);
  EXPECT_EQ(p.proc()->canProcessSampleSize(p.processor, kSample64), kResultOk);
  EXPECT_EQ(p.proc()->canProcessSampleSize(p.processor, 7), kResultFalse);
  EXPECT_EQ(query(p.component, IID_IMidiMapping), nullptr);
  // A component that is its own controller names no controller class (one the
  // factory could not create would send hosts after a phantom).
  TUID cid;
  std::memset(cid, 0x55, sizeof cid);
  EXPECT_EQ(p.comp()->getControllerClassId(p.component, cid), kResultFalse);
  void *made = nullptr;
  EXPECT_NE(p.mod.f()->createInstance(p.mod.factory, cid, IID_IEditController.data(), &made), kResultOk);
}

TEST(Vst3Controller, ParameterInfoTextsAndRanges) {
  instance p(the_module());
  EXPECT_EQ(p.ctrl()->getParameterCount(p.controller), 28);
  ParameterInfo info;
  ASSERT_EQ(p.ctrl()->getParameterInfo(p.controller, 0, &info), kResultOk);
  EXPECT_EQ(info.stepCount, 1);
  EXPECT_EQ(info.flags, kCanAutomate);
  ASSERT_EQ(p.ctrl()->getParameterInfo(p.controller, 19, &info), kResultOk);
  EXPECT_EQ(info.stepCount, 2);
  char title[128];
  vl_utf16_to_utf8(info.title, title, sizeof title);
  EXPECT_STREQ(title, "Colour");
  EXPECT_EQ(p.ctrl()->getParameterInfo(p.controller, 28, &info), kInvalidArgument);

  char16_t text[128];
  EXPECT_EQ(p.ctrl()->getParamStringByValue(p.controller, 21, 1.5, text), kInvalidArgument);
  ASSERT_EQ(p.ctrl()->getParamStringByValue(p.controller, 10, normalised(p, 10, 1000.0), text), kResultOk);
  char utf8[128];
  vl_utf16_to_utf8(text, utf8, sizeof utf8);
  EXPECT_EQ(std::string(utf8).substr(0, 4), "1000");
  char16_t in[] = u"440 Hz";
  double v = -1;
  ASSERT_EQ(p.ctrl()->getParamValueByString(p.controller, 8, in, &v), kResultOk);
  EXPECT_NEAR(p.ctrl()->normalizedParamToPlain(p.controller, 8, v), 440.0, 1e-9);
  char16_t junk[] = u"warm";
  EXPECT_EQ(p.ctrl()->getParamValueByString(p.controller, 8, junk, &v), kResultFalse);
  EXPECT_EQ(p.ctrl()->setParamNormalized(p.controller, 5, 2.0), kInvalidArgument);
}

TEST(Vst3Controller, HostValuesAreNeverEchoedAsEdits) {
  instance p(the_module());
  p.handler.on_perform = [&] { p.ctrl()->setParamNormalized(p.controller, 5, 0.3); };
  ASSERT_EQ(p.ctrl()->setParamNormalized(p.controller, 5, 0.7), kResultOk);
  EXPECT_EQ(p.handler.count("performEdit"), 0);
  EXPECT_NEAR(p.ctrl()->getParamNormalized(p.controller, 5), 0.7, 1e-12);
}

TEST(Vst3Process, EventsAreSortedStablyAndSplitTheBlock) {
  instance p(the_module());
  p.setup(44100.0, 256);
  stereo warm(256, 0.9), out(256);
  for (int i = 0; i < 20; i++) p.process(256, warm.ch, 2, out.ch, 2, true);
  parameter_changes changes;
  changes.add(kLimiter).points = {{40, normalised(p, kLimiter, -6.0)}, {10, normalised(p, kLimiter, -1.0)}};
  changes.add(kLimiter).points = {{10, normalised(p, kLimiter, 0.0)}};  // same offset, later: wins
  ASSERT_EQ(p.process(256, warm.ch, 2, out.ch, 2, true, &changes), kResultOk);
  for (int i = 0; i < 40; i++) ASSERT_NEAR(out.l[size_t(i)], 0.9, 1e-3) << i;  // 0 dB does not touch 0.9
  for (int i = 40; i < 256; i++) ASSERT_LE(out.l[size_t(i)], std::pow(10.0, -6.0 / 20.0) + 1e-9) << i;
}

TEST(Vst3Process, ThreeHundredPointsDeliverTheFirst256AndTheLastValueStillApplies) {
  instance p(the_module());
  p.setup(44100.0, 512);
  stereo in(512), out(512);
  parameter_changes changes;
  value_queue &q = changes.add(kLimiter);
  for (int i = 0; i < 300; i++) q.points.push_back({i, normalised(p, kLimiter, -30.0 + i * 0.1)});
  ASSERT_EQ(p.process(512, in.ch, 2, out.ch, 2, true, &changes), kResultOk);
  EXPECT_NEAR(p.value(kLimiter), -30.0 + 299 * 0.1, 1e-9);
}

TEST(Vst3Process, ZeroSampleFlushAndPointsAtTheEndApply) {
  instance p(the_module());
  p.setup(44100.0, 256);
  parameter_changes changes;
  changes.add(kLimiter).points = {{0, normalised(p, kLimiter, -12.0)}};
  ASSERT_EQ(p.process(0, nullptr, 0, nullptr, 0, true, &changes), kResultOk);
  EXPECT_NEAR(p.value(kLimiter), -12.0, 1e-9);
  stereo in(64), out(64);
  parameter_changes late;
  late.add(kLimiter).points = {{64, normalised(p, kLimiter, -3.0)}, {500, normalised(p, kLimiter, -4.0)}};
  p.process(64, in.ch, 2, out.ch, 2, true, &late);
  EXPECT_NEAR(p.value(kLimiter), -4.0, 1e-9);
}

TEST(Vst3Process, MonoAndEmptyBusesStayWithinTheHostArrays) {
  instance p(the_module());
  p.setup(48000.0, 128, kSample32);
  std::vector<float> mono(128, 0.5f), mono_out(128, 3.0f);
  void *in[1] = {mono.data()}, *out[1] = {mono_out.data()};
  EXPECT_EQ(p.process(128, in, 1, out, 1, false), kResultOk);
  EXPECT_EQ(p.process(128, in, 0, out, 0, false), kResultOk);
  EXPECT_EQ(p.proc()->getLatencySamples(p.processor), 943u);
  event_list events;
  for (int n = 0; n < 200; n++) {  // notes in turn, each with a tuning expression
    Event on{};
    on.type = kNoteOnEvent;
    on.noteOn = {0, int16_t(n % 128), 0, 1.0f, 0, n};
    Event tune{};
    tune.type = kNoteExpressionValueEvent;
    tune.noteExpressionValue = {kTuningTypeID, n, 0.75};
    Event off{};
    off.type = kNoteOffEvent;
    off.noteOff = {0, int16_t(n % 128), 0.0f, n, 0};
    events.events = {on, tune, off};
    ASSERT_EQ(p.process(128, in, 1, out, 1, false, nullptr, &events), kResultOk);
  }
}

TEST(Vst3Process, LatencyChangesAreReportedOnTheUiThreadOnly) {
  instance p(the_module());
  p.setup(44100.0, 256);
  const int before = p.handler.count("restartComponent");
  std::thread audio([&] {
    stereo in(256), out(256);
    parameter_changes changes;
    changes.add(kResolution).points = {{0, normalised(p, kResolution, 2.0)}};
    p.process(256, in.ch, 2, out.ch, 2, true, &changes);
    p.process(256, in.ch, 2, out.ch, 2, true);
  });
  audio.join();
  EXPECT_EQ(p.handler.count("restartComponent"), before) << "never from process";
  p.ctrl()->getParamNormalized(p.controller, 0);  // the host's next UI-thread call
  ASSERT_GT(p.handler.count("restartComponent"), before);
  for (const auto &c : p.handler.calls) EXPECT_EQ(c.thread, std::this_thread::get_id());
  EXPECT_GT(p.proc()->getLatencySamples(p.processor), 838u);
}

TEST(Vst3State, IBStreamStateIsTheKoppelStateAndShortTransfersWork) {
  instance a(the_module()), b(the_module());
  a.ctrl()->setParamNormalized(a.controller, 6, 0.25);
  memory_stream s;
  s.chunk = 5;
  ASSERT_EQ(a.comp()->getState(a.component, reinterpret_cast<FUnknown *>(&s)), kResultOk);
  ASSERT_EQ(s.bytes.size(), 460u);
  uint32_t magic;
  std::memcpy(&magic, s.bytes.data(), 4);
  EXPECT_EQ(magic, 0x54415256u);
  s.chunk = 3;
  ASSERT_EQ(b.comp()->setState(b.component, reinterpret_cast<FUnknown *>(&s)), kResultOk);
  EXPECT_NEAR(b.ctrl()->getParamNormalized(b.controller, 6), 0.25, 1e-12);
  memory_stream s2;
  b.comp()->getState(b.component, reinterpret_cast<FUnknown *>(&s2));
  EXPECT_EQ(s.bytes, s2.bytes);
  memory_stream broken;
  broken.fail = true;
  EXPECT_EQ(b.comp()->getState(b.component, reinterpret_cast<FUnknown *>(&broken)), kResultFalse);
  EXPECT_EQ(b.comp()->setState(b.component, reinterpret_cast<FUnknown *>(&broken)), kResultFalse);
}

TEST(Vst3Lifetime, TheRecordGoesWhenAllPartsAreReleasedInAnyOrder) {
  module &m = the_module();
  PClassInfo info;
  m.f()->getClassInfo(m.factory, 0, &info);
  for (int order = 0; order < 2; order++) {
    void *component = nullptr;
    ASSERT_EQ(m.f()->createInstance(m.factory, info.cid, IID_IComponent.data(), &component), kResultOk);
    application app;
    vt<IComponentVtbl>(component)->initialize(component, reinterpret_cast<FUnknown *>(&app));
    void *processor = query(component, IID_IAudioProcessor);
    void *controller = query(component, IID_IEditController);
    void *base = query(controller, IID_IPluginBase);
    ASSERT_EQ(base, controller);
    release(base);
    vt<IComponentVtbl>(component)->terminate(component);
    if (order == 0) {
      release(component), release(processor), release(controller);
    } else if (order == 1) {
      release(controller), release(processor), release(component);
    }
    EXPECT_EQ(app.refs.load(), 1) << "the host context is released";
  }
}

// A host that releases the controller it got from queryInterface once too
// often (as some do, treating it as an object of its own) must not free the
// record under the component it still uses (ASan reports a use after free).
TEST(Vst3Lifetime, AnExtraReleaseOfOnePartLeavesTheOthersAlive) {
  module &m = the_module();
  PClassInfo info;
  m.f()->getClassInfo(m.factory, 0, &info);
  void *component = nullptr;
  ASSERT_EQ(m.f()->createInstance(m.factory, info.cid, IID_IComponent.data(), &component), kResultOk);
  application app;
  ASSERT_EQ(vt<IComponentVtbl>(component)->initialize(component, reinterpret_cast<FUnknown *>(&app)), kResultOk);
  void *controller = query(component, IID_IEditController);
  ASSERT_NE(controller, nullptr);
  EXPECT_EQ(release(controller), 0u);
  EXPECT_EQ(release(controller), 0u) << "the extra release is ignored";
  memory_stream s;
  EXPECT_EQ(vt<IComponentVtbl>(component)->getState(component, reinterpret_cast<FUnknown *>(&s)), kResultOk);
  EXPECT_EQ(s.bytes.size(), 460u);
  vt<IComponentVtbl>(component)->terminate(component);
  EXPECT_EQ(release(component), 0u);
  EXPECT_EQ(app.refs.load(), 1) << "the record went with the component";
}

// The last references of three parts released on three threads at the same
// moment, thousands of times: the record is freed exactly once and nobody
// reads it afterwards (ASan and TSan report any use after free or unordered
// access). The threads live across rounds and meet at a barrier, so the
// releases really overlap.
TEST(Vst3Lifetime, PartsReleasedTogetherOnThreeThreadsFreeTheRecordOnce) {
  module &m = the_module();
  PClassInfo info;
  m.f()->getClassInfo(m.factory, 0, &info);
  constexpr int kRounds = 20000;
  void *parts[3] = {};
  thread_barrier start(4), done(4);
  std::vector<std::thread> threads;
  for (int k = 0; k < 3; k++)
    threads.emplace_back([&, k] {
      for (int round = 0; round < kRounds; round++) {
        start.arrive_and_wait();
        release(parts[k]);
        done.arrive_and_wait();
      }
    });
  for (int round = 0; round < kRounds; round++) {
    void *component = nullptr;
    ASSERT_EQ(m.f()->createInstance(m.factory, info.cid, IID_IComponent.data(), &component), kResultOk);
    parts[0] = component;
    parts[1] = query(component, IID_IAudioProcessor);
    parts[2] = query(component, IID_IEditController);
    start.arrive_and_wait();
    done.arrive_and_wait();
  }
  for (auto &t : threads) t.join();
}

// setupProcessing builds the engine for the announced block: the latency read
// then is the delay the audio gets, and processing never asks for a restart.
TEST(Vst3Process, ReportedLatencyIsTheImpulseDelayForTheAnnouncedBlock) {
  struct setting {
    double rate;
    int32_t block;
  };
  for (const setting s : {setting{44100, 1024}, setting{48000, 1024}, setting{44100, 32}, setting{48000, 4096}}) {
    instance p(the_module());
    p.setup(s.rate, s.block);
    const uint32_t latency = p.proc()->getLatencySamples(p.processor);
    const int restarts = p.handler.count("restartComponent");
    stereo in(size_t(s.block)), out(size_t(s.block));
    int64_t best_at = -1;
    double best = 0.0;
    for (int64_t pos = 0; pos < int64_t(latency) + 3 * s.block; pos += s.block) {
      for (int32_t i = 0; i < s.block; i++) in.l[size_t(i)] = in.r[size_t(i)] = (pos + i == 0) ? 1.0 : 0.0;
      p.process(s.block, in.ch, 2, out.ch, 2, true);
      for (int32_t i = 0; i < s.block; i++)
        if (std::fabs(out.l[size_t(i)]) > best) best = std::fabs(out.l[size_t(i)]), best_at = pos + i;
    }
    EXPECT_EQ(best_at, int64_t(latency)) << s.rate << " Hz, " << s.block << "-frame blocks";
    p.ctrl()->getParamNormalized(p.controller, 0);  // where a deferred restart would be delivered
    EXPECT_EQ(p.handler.count("restartComponent"), restarts);
  }
}

// MIDI controller values set by the host on its UI thread travel to the audio
// thread through a single-producer single-consumer queue (ThreadSanitizer
// reports any unordered access).
TEST(Vst3Threads, MidiControllerValuesCrossFromTheUiThreadSafely) {
  constexpr uint32_t kMidiParamStart = 0x7ffff7df;  // the adapter's first MIDI controller parameter
  instance p(the_module());
  p.setup(44100.0, 64);
  std::atomic<bool> stop{false};
  std::thread audio([&] {
    stereo in(64), out(64);
    while (!stop.load()) p.process(64, in.ch, 2, out.ch, 2, true);
  });
  for (int i = 0; i < 20000; i++)
    p.ctrl()->setParamNormalized(p.controller, kMidiParamStart + uint32_t(i % 128), (i % 100) / 100.0);
  stop = true;
  audio.join();
  SUCCEED();
}

TEST(Vst3Process, LongSilenceSetsTheOutputSilenceFlags) {
  instance p(the_module());
  p.setup(44100.0, 512);
  stereo zeros(512), out(512), sound(512, 0.25);
  // The host's buffers report no silence; the plug-in says when its output is.
  for (int block = 0; block < 8; block++) p.process(512, zeros.ch, 2, out.ch, 2, true);
  EXPECT_EQ(p.last_output_silence_flags(), 3u);
  p.process(512, sound.ch, 2, out.ch, 2, true);
  EXPECT_EQ(p.last_output_silence_flags(), 0u);
}

// Hosts reset a plug-in (after a transport jump) by stopping processing and
// deactivating, then activating and starting again; some only stop and
// restart processing. Either way the old position must not play at the new
// one: silence in gives exact zeros out from the first sample after.
TEST(Vst3Process, ReactivationForgetsAudioInFlight) {
  struct step {
    bool deactivate;
  };
  for (const step s : {step{true}, step{false}}) {
    instance p(the_module());
    p.setup(44100.0, 512);
    stereo noise(512), silence(512), out(512);
    uint32_t seed = 12345;
    double loudest = 0.0;
    for (int block = 0; block < 4; block++) {
      for (size_t i = 0; i < 512; i++) {
        seed = seed * 1664525u + 1013904223u;
        noise.l[i] = noise.r[i] = (double(seed >> 8) / double(1u << 24) - 0.5) * 0.5;  // ±0.25
      }
      p.process(512, noise.ch, 2, out.ch, 2, true);
      for (double v : out.l) loudest = std::max(loudest, std::fabs(v));
    }
    ASSERT_GT(loudest, 0.05) << "audio is in flight before the reset";
    p.proc()->setProcessing(p.processor, 0);
    if (s.deactivate) {
      p.comp()->setActive(p.component, 0);
      p.comp()->setActive(p.component, 1);
    }
    p.proc()->setProcessing(p.processor, 1);
    for (int block = 0; block < 6; block++) {
      p.process(512, silence.ch, 2, out.ch, 2, true);
      for (size_t i = 0; i < 512; i++) {
        ASSERT_EQ(out.l[i], 0.0) << (s.deactivate ? "reactivated" : "restarted") << ", block " << block << " sample " << i;
        ASSERT_EQ(out.r[i], 0.0);
      }
    }
  }
}

#ifndef _WIN32  // a display is an X11 matter
// A host may create the view while it loads a session on a machine without a
// display: the view exists (so the load goes on) and only attaching fails.
TEST(Vst3View, WithoutADisplayTheViewExistsAndAttachingFailsCleanly) {
  const char *display = std::getenv("DISPLAY");
  const std::string saved = display ? display : "";
  for (const char *value : {static_cast<const char *>(nullptr), ":9999"}) {
    if (value) setenv("DISPLAY", value, 1);
    else unsetenv("DISPLAY");
    instance p(the_module());
    FUnknown *view = p.ctrl()->createView(p.controller, "editor");
    ASSERT_NE(view, nullptr) << (value ? value : "DISPLAY unset");
    const auto *v = reinterpret_cast<const IPlugViewVtbl *>(view->lpVtbl);
    ViewRect r{};
    EXPECT_EQ(v->getSize(view, &r), kResultOk);
    EXPECT_EQ(r.right - r.left, 1060);
    EXPECT_EQ(r.bottom - r.top, 566);
    r = ViewRect{0, 0, 100, 100};
    EXPECT_EQ(v->checkSizeConstraint(view, &r), kResultOk);
    EXPECT_EQ(r.right, 780) << "the editor's limits hold without a window";
    EXPECT_EQ(v->attached(view, reinterpret_cast<void *>(uintptr_t(0x1234)), "X11EmbedWindowID"), kResultFalse);
    EXPECT_EQ(v->removed(view), kResultOk);
    EXPECT_EQ(view->lpVtbl->release(view), 0u);
    FUnknown *again = p.ctrl()->createView(p.controller, "editor");
    ASSERT_NE(again, nullptr) << "a released view makes room for a new one";
    again->lpVtbl->release(again);
  }
  if (display) setenv("DISPLAY", saved.c_str(), 1);
  else unsetenv("DISPLAY");
}
#endif
