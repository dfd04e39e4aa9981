#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "shared_library.h"

#include "koppel_clap.h"
#include "support/stereo_buffer.h"
#include "support/clap_test_host.h"
#include "tarvelon_koppel.h"

namespace {
constexpr clap_id kLimiter = 24, kResolution = 22;

using stereo_f64 = stereo_buffer<double>;
using stereo_f32 = stereo_buffer<float>;

struct active_plugin {
  clap_test_host host{&clap_entry};
  active_plugin() {
    EXPECT_TRUE(host.create());
    EXPECT_TRUE(host.plugin->activate(host.plugin, 44100.0, 1, 512));
    EXPECT_TRUE(host.plugin->start_processing(host.plugin));
  }
  double value(clap_id id) {
    double v = 0;
    host.params->get_value(host.plugin, id, &v);
    return v;
  }
};
}  // namespace

TEST(ClapFactory, OneDescriptorAndOnlyItsId) {
  clap_test_host host(&clap_entry);
  ASSERT_NE(host.factory, nullptr);
  EXPECT_EQ(host.factory->get_plugin_count(host.factory), 1u);
  EXPECT_EQ(host.factory->get_plugin_descriptor(host.factory, 1), nullptr);
  const clap_plugin_descriptor_t *d = host.factory->get_plugin_descriptor(host.factory, 0);
  EXPECT_STREQ(d->name, "Tarvelon Free");
  EXPECT_TRUE(std::strstr(d->id, ".koppel") != nullptr);
  EXPECT_EQ(host.factory->create_plugin(host.factory, &host.host, "other.id"), nullptr);
  clap_host_t old = host.host;
  old.clap_version.major = 0;
  EXPECT_EQ(host.factory->create_plugin(host.factory, &old, d->id), nullptr);
  EXPECT_EQ(clap_entry.get_factory("clap.other"), nullptr);
}

TEST(ClapProcess, EventsSplitTheBlockAtTheirTimes) {
  active_plugin a;
  stereo_f64 warm(256, 0.9), out(256);
  for (int i = 0; i < 20; i++) clap_run_block(a.host.plugin, 256, warm.ch, out.ch, 2, true, nullptr, nullptr);
  ASSERT_NEAR(out.l[0], 0.9, 1e-3);  // DC passes the default curve
  clap_event_list ev;
  ev.add_param(0, kLimiter, 0.0);
  ev.add_param(128, kLimiter, -6.0);
  clap_run_block(a.host.plugin, 256, warm.ch, out.ch, 2, true, &ev, nullptr);
  for (int i = 0; i < 128; i++) ASSERT_NEAR(out.l[size_t(i)], 0.9, 1e-3) << i;
  for (int i = 128; i < 256; i++) ASSERT_LE(out.l[size_t(i)], std::pow(10.0, -6.0 / 20.0) + 1e-9) << i;
}

TEST(ClapProcess, ThirtyTwoAndSixtyFourBitBuffersGiveTheSameAudio) {
  active_plugin a, b;
  stereo_f64 in64(4096), out64(4096);
  stereo_f32 in32(4096), out32(4096);
  for (size_t i = 0; i < 4096; i++) {
    in32.l[i] = in32.r[i] = float(std::sin(0.03 * double(i)));
    in64.l[i] = in64.r[i] = double(in32.l[i]);
  }
  for (size_t pos = 0; pos < 4096; pos += 256) {
    void *i64[2] = {in64.l.data() + pos, in64.r.data() + pos}, *o64[2] = {out64.l.data() + pos, out64.r.data() + pos};
    void *i32[2] = {in32.l.data() + pos, in32.r.data() + pos}, *o32[2] = {out32.l.data() + pos, out32.r.data() + pos};
    clap_run_block(a.host.plugin, 256, i64, o64, 2, true, nullptr, nullptr);
    clap_run_block(b.host.plugin, 256, i32, o32, 2, false, nullptr, nullptr);
  }
  for (size_t i = 0; i < 4096; i++) ASSERT_NEAR(out32.l[i], out64.l[i], 1e-6);
  EXPECT_GT(std::fabs(out64.l[4000]), 1e-3);
}

TEST(ClapProcess, LateAndZeroFrameEventsAreAppliedAndMonoIsSafe) {
  active_plugin a;
  std::vector<float> mono(64, 0.5f), mono_out(64);
  void *in[1] = {mono.data()}, *out[1] = {mono_out.data()};
  clap_event_list ev;
  ev.add_param(63, kLimiter, -3.0);
  ev.add_param(64, kLimiter, -9.0);  // at the block's end
  clap_run_block(a.host.plugin, 64, in, out, 1, false, &ev, nullptr);
  EXPECT_EQ(a.value(kLimiter), -9.0);
  clap_event_list flushless;
  flushless.add_param(0, kLimiter, -12.0);
  clap_run_block(a.host.plugin, 0, in, out, 1, false, &flushless, nullptr);
  EXPECT_EQ(a.value(kLimiter), -12.0);
}

TEST(ClapProcess, ResetForgetsAudioInFlight) {
  active_plugin a;
  stereo_f64 loud(256, 0.7), silence(256), out(256);
  for (int i = 0; i < 3; i++) clap_run_block(a.host.plugin, 256, loud.ch, out.ch, 2, true, nullptr, nullptr);
  a.host.plugin->reset(a.host.plugin);
  for (int i = 0; i < 8; i++) {
    clap_run_block(a.host.plugin, 256, silence.ch, out.ch, 2, true, nullptr, nullptr);
    for (double v : out.l) ASSERT_EQ(v, 0.0);
  }
}

TEST(ClapParams, InfoFlagsAndTextRoundTrips) {
  active_plugin a;
  double got = 123.0;
  EXPECT_FALSE(a.host.params->get_value(a.host.plugin, 28, &got)) << "an unknown id is a failure";
  EXPECT_FALSE(a.host.params->get_value(a.host.plugin, 0xFFFFFFFFu, &got));
  EXPECT_TRUE(a.host.params->get_value(a.host.plugin, 17, &got));
  clap_param_info_t info;
  ASSERT_TRUE(a.host.params->get_info(a.host.plugin, 0, &info));
  EXPECT_EQ(info.flags, CLAP_PARAM_IS_STEPPED | CLAP_PARAM_IS_AUTOMATABLE);
  ASSERT_TRUE(a.host.params->get_info(a.host.plugin, 8, &info));
  EXPECT_EQ(info.flags, uint32_t(CLAP_PARAM_IS_AUTOMATABLE));
  EXPECT_STREQ(info.name, "Band A freq");
  EXPECT_EQ(info.default_value, 80.0);
  EXPECT_FALSE(a.host.params->get_info(a.host.plugin, 28, &info));
  char text[64];
  ASSERT_TRUE(a.host.params->value_to_text(a.host.plugin, 10, 1000.0, text, sizeof text));
  EXPECT_STREQ(text, "1000 Hz");
  double v = 0;
  ASSERT_TRUE(a.host.params->text_to_value(a.host.plugin, 8, "440 Hz", &v));
  EXPECT_EQ(v, 440.0);
  EXPECT_FALSE(a.host.params->text_to_value(a.host.plugin, 8, "warm", &v));
  clap_audio_port_info_t port;
  ASSERT_TRUE(a.host.ports->get(a.host.plugin, 0, false, &port));
  EXPECT_EQ(port.id, 1u);
  EXPECT_EQ(port.in_place_pair, 0u);
  EXPECT_STREQ(port.port_type, "stereo");
  EXPECT_FALSE(a.host.ports->get(a.host.plugin, 1, true, &port));
#ifdef _WIN32
  const char *native = CLAP_WINDOW_API_WIN32, *foreign = "x11";
#else
  const char *native = "x11", *foreign = CLAP_WINDOW_API_WIN32;
#endif
  EXPECT_TRUE(a.host.gui->is_api_supported(a.host.plugin, native, false));
  EXPECT_FALSE(a.host.gui->is_api_supported(a.host.plugin, native, true)) << "no floating window";
  EXPECT_FALSE(a.host.gui->is_api_supported(a.host.plugin, foreign, false));
  EXPECT_FALSE(a.host.gui->is_api_supported(a.host.plugin, "cocoa", false));
  EXPECT_FALSE(a.host.gui->is_api_supported(a.host.plugin, nullptr, false));
}

TEST(ClapParams, FlushAppliesValuesAndSendsQueuedEditorGestures) {
  active_plugin a;
  clap_event_list in, out;
  in.add_param(0, kLimiter, -4.5);
  a.host.params->flush(a.host.plugin, &in.in, &out.out);
  EXPECT_EQ(a.value(kLimiter), -4.5);

  TarvelonKoppelPlugin *p = koppel_clap_user_plugin(a.host.plugin);
  tarvelon_koppel_set_knob_native_value(p, 1, 5.0);  // an editor knob edit on the main thread
  EXPECT_EQ(a.host.count("params.request_flush"), 1);
  clap_event_list out2;
  a.host.params->flush(a.host.plugin, &in.in, &out2.out);
  ASSERT_EQ(out2.events.size(), 3u);
  EXPECT_EQ(out2.of_type<clap_event_param_gesture_t>(CLAP_EVENT_PARAM_GESTURE_BEGIN).size(), 1u);
  const auto values = out2.of_type<clap_event_param_value_t>(CLAP_EVENT_PARAM_VALUE);
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0]->param_id, 4u);
  EXPECT_EQ(values[0]->value, 5.0);
  EXPECT_EQ(out2.of_type<clap_event_param_gesture_t>(CLAP_EVENT_PARAM_GESTURE_END).size(), 1u);
}

TEST(ClapState, SavedThroughClapIsTheKoppelStateAndShortStreamsWork) {
  active_plugin a, b;
  clap_event_list ev;
  ev.add_param(0, 5, -7.0);
  a.host.params->flush(a.host.plugin, &ev.in, nullptr);
  clap_byte_stream s;
  s.chunk = 7;
  ASSERT_TRUE(a.host.state->save(a.host.plugin, &s.out));
  ASSERT_EQ(s.bytes.size(), 460u);
  std::vector<uint8_t> direct;
  ASSERT_TRUE(koppel_saveState(koppel_clap_user_plugin(a.host.plugin), &direct,
                               [](void *d, const void *buf, int64_t n) -> int64_t {
                                 auto *v = static_cast<std::vector<uint8_t> *>(d);
                                 v->insert(v->end(), static_cast<const uint8_t *>(buf),
                                           static_cast<const uint8_t *>(buf) + n);
                                 return n;
                               }));
  EXPECT_EQ(s.bytes, direct);
  s.chunk = 3;
  ASSERT_TRUE(b.host.state->load(b.host.plugin, &s.in));
  EXPECT_EQ(b.value(5), -7.0);
  EXPECT_EQ(b.host.count("params.rescan"), 1);
  clap_byte_stream junk;
  junk.bytes = {1, 2, 3};
  EXPECT_FALSE(b.host.state->load(b.host.plugin, &junk.in));
}

TEST(ClapThreads, MainThreadOnlyCallsNeverComeFromTheAudioThread) {
  active_plugin a;
  const int changed_before = a.host.count("latency.changed");
  std::atomic<bool> stop{false};
  std::atomic<int> blocks{0};
  std::thread audio([&] {
    stereo_f64 in(2048, 0.1), out(2048);
    clap_event_list ev;
    ev.add_param(0, kResolution, 2.0);  // a rebuild inside process changes the latency
    clap_run_block(a.host.plugin, 512, in.ch, out.ch, 2, true, &ev, nullptr);
    clap_run_block(a.host.plugin, 2048, in.ch, out.ch, 2, true, nullptr, nullptr);  // more than it promised
    while (!stop.load()) {
      clap_run_block(a.host.plugin, 256, in.ch, out.ch, 2, true, nullptr, nullptr);
      blocks++;
    }
  });
  // Meanwhile the main thread does what hosts and editors do there.
  TarvelonKoppelPlugin *p = koppel_clap_user_plugin(a.host.plugin);
  for (int round = 0; blocks.load() < 200 || round < 20; round++) {
    clap_byte_stream s;
    ASSERT_TRUE(a.host.state->save(a.host.plugin, &s.out));
    ASSERT_TRUE(a.host.state->load(a.host.plugin, &s.in));
    double v;
    for (clap_id id = 0; id < 28; id++) EXPECT_TRUE(a.host.params->get_value(a.host.plugin, id, &v));
    tarvelon_koppel_set_knob_normalized(p, 8, (round % 10) / 10.0);  // Overall Gain from the editor
  }
  stop = true;
  audio.join();
  EXPECT_GE(a.host.count("request_restart"), 1);
  EXPECT_EQ(a.host.count("latency.changed"), changed_before) << "not while active, not from the audio thread";
  a.host.plugin->deactivate(a.host.plugin);
  ASSERT_TRUE(a.host.plugin->activate(a.host.plugin, 44100.0, 1, 2048));
  EXPECT_GT(a.host.count("latency.changed"), changed_before);
  EXPECT_TRUE(a.host.main_thread_violations().empty());
}

TEST(ClapLibrary, TheBuiltFileExportsOnlyTheEntryAndRuns) {
  std::string why;
  void *lib = shared_library::open(TARVELON_CLAP_PATH, &why);
  ASSERT_NE(lib, nullptr) << why;
  const auto *entry = static_cast<const clap_plugin_entry_t *>(shared_library::symbol(lib, "clap_entry"));
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(shared_library::symbol(lib, "koppel_createPlugin"), nullptr);
  EXPECT_EQ(shared_library::symbol(lib, "tarvelon_on_param_change"), nullptr);
  {
    clap_test_host host(entry);
    ASSERT_TRUE(host.create());
    ASSERT_TRUE(host.plugin->activate(host.plugin, 48000.0, 1, 256));
    EXPECT_EQ(host.latency->get(host.plugin), 943u);
    stereo_f32 in(256, 0.25f), out(256);
    EXPECT_EQ(clap_run_block(host.plugin, 256, in.ch, out.ch, 2, false, nullptr, nullptr), CLAP_PROCESS_CONTINUE);
  }
  shared_library::close(lib);
}

namespace {
// Feeds a unit impulse at frame 0 in blocks of `block` frames and returns the
// frame where the output peaks (a flat linear-phase filter: its centre tap).
template <class RunBlock>
int64_t impulse_delay(uint32_t block, int64_t span, RunBlock run_block) {
  stereo_buffer<double> in(block), out(block);
  int64_t best_at = -1;
  double best = 0.0;
  for (int64_t pos = 0; pos < span; pos += block) {
    for (uint32_t i = 0; i < block; i++) in.l[i] = in.r[i] = (pos + i == 0) ? 1.0 : 0.0;
    run_block(in, out);
    for (uint32_t i = 0; i < block; i++)
      if (std::fabs(out.l[i]) > best) best = std::fabs(out.l[i]), best_at = pos + i;
  }
  return best_at;
}
}  // namespace

// The latency a host reads after activation is the delay it then gets, for
// the block length it announced, without the plug-in asking to restart.
TEST(ClapLatency, ReportedLatencyIsTheImpulseDelayForTheAnnouncedBlock) {
  struct setting {
    double rate;
    uint32_t block;
  };
  for (const setting s : {setting{44100, 1024}, setting{48000, 1024}, setting{44100, 32}, setting{48000, 4096}}) {
    clap_test_host host(&clap_entry);
    ASSERT_TRUE(host.create());
    ASSERT_TRUE(host.plugin->activate(host.plugin, s.rate, 1, s.block));
    ASSERT_TRUE(host.plugin->start_processing(host.plugin));
    const uint32_t latency = host.latency->get(host.plugin);
    const int restarts = host.count("request_restart"), changes = host.count("latency.changed");
    const int64_t delay = impulse_delay(s.block, int64_t(latency) + 3 * s.block, [&](auto &in, auto &out) {
      clap_run_block(host.plugin, s.block, in.ch, out.ch, 2, true, nullptr, nullptr);
    });
    EXPECT_EQ(delay, int64_t(latency)) << s.rate << " Hz, " << s.block << "-frame blocks";
    EXPECT_EQ(host.count("request_restart"), restarts);
    EXPECT_EQ(host.count("latency.changed"), changes);
    if (s.block == 1024 && s.rate == 44100) {
      EXPECT_EQ(latency, 1648u);
    }
    if (s.block == 32 && s.rate == 44100) {
      EXPECT_EQ(latency, 838u) << "short blocks keep the settings' size";
    }
  }
}

// A stopped transport feeds zeros for hours: once everything in flight has
// played out the plug-in says it may sleep (zeros out, constant channels),
// and the first sound wakes it.
TEST(ClapProcess, LongSilenceLetsTheHostSleepAndSoundWakesIt) {
  active_plugin a;
  stereo_f64 zeros(512), out(512), sound(512, 0.25);
  clap_process_status status = CLAP_PROCESS_CONTINUE;
  int blocks = 0;
  for (; blocks < 40 && status != CLAP_PROCESS_SLEEP; blocks++) {
    clap_audio_buffer_t ib{}, ob{};
    ib.channel_count = ob.channel_count = 2;
    ib.data64 = reinterpret_cast<double **>(zeros.ch);
    ob.data64 = reinterpret_cast<double **>(out.ch);
    clap_event_list none, sink;
    clap_process_t p{};
    p.steady_time = -1;
    p.frames_count = 512;
    p.audio_inputs = &ib;
    p.audio_outputs = &ob;
    p.audio_inputs_count = p.audio_outputs_count = 1;
    p.in_events = &none.in;
    p.out_events = &sink.out;
    status = a.host.plugin->process(a.host.plugin, &p);
    if (status == CLAP_PROCESS_SLEEP) {
      EXPECT_EQ(ob.constant_mask, 3u);
      for (double v : out.l) ASSERT_EQ(v, 0.0);
    }
  }
  EXPECT_EQ(status, CLAP_PROCESS_SLEEP) << "after " << blocks << " silent blocks";
  // The latency, one transform block, and one more for the last transform's
  // rounding to leave the accumulator.
  EXPECT_LE(blocks, 7) << "silence is recognised soon after the latency and two transform blocks";
  EXPECT_EQ(clap_run_block(a.host.plugin, 512, sound.ch, out.ch, 2, true, nullptr, nullptr), CLAP_PROCESS_CONTINUE);
}

// An undo reports every parameter; fifty of them before the host collects
// must reach it whole: gestures balanced, one per parameter, each carrying
// the plug-in's current value, whatever the burst.
TEST(ClapParams, EditorEditsCoalescePerParameterAndGesturesStayBalanced) {
  active_plugin a;
  TarvelonKoppelPlugin *p = koppel_clap_user_plugin(a.host.plugin);
  p->notifyHost = 1;
  for (int round = 0; round < 50; round++)
    for (uint32_t id = 0; id < kKoppelParamCount; id++) {
      double lo = 0, hi = 0;
      koppel_getParameterRange(p, id, &lo, &hi);
      tarvelon_koppel_set_parameter_value(p, id, lo + (hi - lo) * double((round * 3 + int(id)) % 8) / 7.0, false,
                                          param_origin::user);
    }
  p->notifyHost = 0;
  clap_event_list in, out;
  a.host.params->flush(a.host.plugin, &in.in, &out.out);
  ASSERT_EQ(out.events.size(), 3u * kKoppelParamCount);
  std::vector<int> seen(kKoppelParamCount, 0);
  for (size_t i = 0; i + 2 < out.events.size(); i += 3) {
    const auto *b = reinterpret_cast<const clap_event_param_gesture_t *>(out.events[i].data());
    const auto *v = reinterpret_cast<const clap_event_param_value_t *>(out.events[i + 1].data());
    const auto *e = reinterpret_cast<const clap_event_param_gesture_t *>(out.events[i + 2].data());
    ASSERT_EQ(b->header.type, CLAP_EVENT_PARAM_GESTURE_BEGIN);
    ASSERT_EQ(v->header.type, CLAP_EVENT_PARAM_VALUE);
    ASSERT_EQ(e->header.type, CLAP_EVENT_PARAM_GESTURE_END);
    ASSERT_LT(b->param_id, kKoppelParamCount);
    EXPECT_EQ(v->param_id, b->param_id);
    EXPECT_EQ(e->param_id, b->param_id);
    EXPECT_EQ(v->value, a.value(b->param_id)) << "parameter " << b->param_id;
    seen[b->param_id]++;
  }
  for (uint32_t id = 0; id < kKoppelParamCount; id++) EXPECT_EQ(seen[id], 1) << "parameter " << id;
  clap_event_list again;
  a.host.params->flush(a.host.plugin, &in.in, &again.out);
  EXPECT_TRUE(again.events.empty()) << "nothing is sent twice";
}

// A host whose output list is full takes nothing: the edit stays pending and
// goes out whole at the next flush.
TEST(ClapParams, AnEditTheHostHasNoRoomForWaitsForTheNextFlush) {
  active_plugin a;
  TarvelonKoppelPlugin *p = koppel_clap_user_plugin(a.host.plugin);
  tarvelon_koppel_set_knob_native_value(p, 1, 5.0);
  clap_output_events_t full{};
  full.try_push = [](const clap_output_events_t *, const clap_event_header_t *) { return false; };
  clap_event_list in, out;
  a.host.params->flush(a.host.plugin, &in.in, &full);
  a.host.params->flush(a.host.plugin, &in.in, &out.out);
  ASSERT_EQ(out.events.size(), 3u);
  const auto values = out.of_type<clap_event_param_value_t>(CLAP_EVENT_PARAM_VALUE);
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0]->value, 5.0);
}
