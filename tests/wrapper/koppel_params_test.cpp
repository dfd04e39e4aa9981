#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <vector>
#include <string>
#include <thread>

#include "state/eq.h"
#include "state/params.h"
#include "state/undo.h"
#include "support/fake_adapter.h"
#include "system/inst.h"
#include "vl_mutex.h"

namespace {
std::string value_text(TarvelonKoppelPlugin *p, uint32_t id, double v) {
  char buf[64];
  koppel_parameterValueToString(p, id, buf, sizeof buf, v);
  return buf;
}
}  // namespace

TEST(WrapperParams, TextsInBothDirections) {
  test_plugin t;
  EXPECT_EQ(value_text(t.p, 10, 1000.0), "1000 Hz");
  EXPECT_EQ(value_text(t.p, 21, 1.5), "1.5");
  EXPECT_EQ(value_text(t.p, 30, 1.0), "");
  EXPECT_EQ(value_text(t.p, 9, 1e9), "20000 Hz");  // clamped

  EXPECT_EQ(koppel_parameterStringToValue(t.p, 8, "440 Hz"), 440.0);
  EXPECT_EQ(koppel_parameterStringToValue(t.p, 19, "5"), 2.0);
  EXPECT_EQ(koppel_parameterStringToValue(t.p, 8, nullptr), 0.0);
  EXPECT_EQ(koppel_parameterStringToValue(t.p, 8, ""), 20.0);      // as if 0 was typed, clamped
  EXPECT_EQ(koppel_parameterStringToValue(t.p, 8, "loud"), 20.0);
  EXPECT_EQ(koppel_parameterStringToValue(t.p, 16, " -3.5e0 st"), -3.5);
  EXPECT_EQ(koppel_parameterStringToValue(t.p, 99, "1"), 0.0);
  const std::string huge(100000, '9');
  EXPECT_EQ(koppel_parameterStringToValue(t.p, 8, huge.c_str()), 20.0);  // out of range: no number

  char tiny[4];
  koppel_parameterValueToString(t.p, 10, tiny, sizeof tiny, 1000.0);
  EXPECT_STREQ(tiny, "100");
  char name[6];
  koppel_getParameterName(t.p, 4, name, sizeof name);
  EXPECT_STREQ(name, "Band ");
}

TEST(WrapperParams, ClampingFlagsAndShapedNormalisation) {
  test_plugin t;
  koppel_setParameterValue(t.p, 19, 1.4);
  EXPECT_EQ(koppel_getParameterValue(t.p, 19), 1.0);
  koppel_setParameterValue(t.p, 0, 0.49);
  EXPECT_EQ(koppel_getParameterValue(t.p, 0), 0.0);
  koppel_setParameterValue(t.p, 5, NAN);
  EXPECT_EQ(koppel_getParameterValue(t.p, 5), t.p->params[5].minValue);

  EXPECT_EQ(koppel_getParameterFlags(t.p, 0), 22u);
  EXPECT_EQ(koppel_getParameterFlags(t.p, 19), 20u);
  EXPECT_EQ(koppel_getParameterFlags(t.p, 8), 16u);
  EXPECT_EQ(koppel_getParameterFlags(t.p, 28), 0u);
  EXPECT_EQ(koppel_getNumParameters(t.p), 28u);

  EXPECT_NEAR(koppel_normaliseParameterValue(t.p, 8, 632.4555320336758), 0.31296, 1e-5);
  EXPECT_NEAR(koppel_denormaliseParameterValue(t.p, 8, 0.5), 2517.5, 1e-9);
  EXPECT_EQ(koppel_normaliseParameterValue(t.p, 8, NAN), 0.0);
  double lo = 1, hi = 1;
  koppel_getParameterRange(t.p, 40, &lo, &hi);
  EXPECT_EQ(lo, 0.0);
  EXPECT_EQ(hi, 0.0);
  koppel_setParameterValue(nullptr, 1, 1.0);
  EXPECT_EQ(koppel_getParameterValue(nullptr, 1), 0.0);
}

TEST(WrapperParams, KnobsAttachWithTheirParameters) {
  test_plugin t;
  EXPECT_TRUE(t.p->controls[4].attached);
  EXPECT_EQ(t.p->controls[4].paramId, 19);
  EXPECT_EQ(t.p->controls[1].paramId, 4);  // rebound to band A at start-up
  tarvelon_koppel_host_callbacks.attach_knob_control(t.p, t.p->ci, 15, 27, 0);
  EXPECT_EQ(t.p->controls[15].halfSize, 30);
  tarvelon_koppel_host_callbacks.change_control_default_value(t.p, t.p->ci, 3, -2.0);
  EXPECT_EQ(t.p->controls[3].defaultNormalizedValue, 0.0);
  koppel_setParameterValue(t.p, 21, 2.0);
  EXPECT_EQ(t.p->controls[6].normalizedValue.load(), 1.0);
}

TEST(WrapperParams, KnobEditsReportAWholeGestureAndReachTheBands) {
  test_plugin t;
  tarvelon_koppel_set_knob_native_value(t.p, 1, 6.0);  // selected band A's gain
  ASSERT_EQ(t.host.sent.size(), 3u);
  EXPECT_EQ(t.host.sent[0].type, uint32_t(KOPPEL_EVENT_PARAM_CHANGE_BEGIN));
  EXPECT_EQ(t.host.sent[1].type, uint32_t(KOPPEL_EVENT_PARAM_CHANGE_UPDATE));
  EXPECT_EQ(t.host.sent[2].type, uint32_t(KOPPEL_EVENT_PARAM_CHANGE_END));
  EXPECT_EQ(t.host.sent[1].parameter.id, 4u);
  EXPECT_EQ(t.host.sent[1].parameter.value, 6.0);
  EXPECT_NEAR(t.p->ci->equ[0].db, 6.0, 1e-12);
  EXPECT_EQ(t.p->notifyHost.load(), 0);

  tarvelon_koppel_set_knob_normalized(t.p, 10, 1.0);  // Resolution to its maximum
  EXPECT_EQ(koppel_getParameterValue(t.p, 22), 16.0);
}

TEST(WrapperParams, HostValuesAreNeverReportedBack) {
  test_plugin t;
  t.p->notifyHost = 1;  // as while editor input is replayed
  koppel_setParameterValue(t.p, 5, 3.0);
  EXPECT_TRUE(t.host.sent.empty());
}

TEST(WrapperParams, AHostEchoInsideTheReportDoesNotRecurse) {
  test_plugin t;
  int echoes = 0;
  t.host.on_send = [&](const KoppelEvent &e) {
    echoes++;
    tarvelon_koppel_set_knob_native_value(t.p, 2, e.parameter.value + 1.0);  // a host that answers with an edit
  };
  tarvelon_koppel_set_knob_native_value(t.p, 2, 500.0);
  EXPECT_EQ(t.host.sent.size(), 3u);
  EXPECT_EQ(echoes, 3);
}

TEST(WrapperParams, ReportsAreSuppressedOnlyOnTheProcessingThread) {
  test_plugin t;
  tarvelon_koppel_enter_processing();
  tarvelon_koppel_set_knob_native_value(t.p, 1, 2.0);
  EXPECT_TRUE(t.host.sent.empty());
  std::thread editor([&] { tarvelon_koppel_set_knob_native_value(t.p, 1, 3.0); });
  editor.join();
  tarvelon_koppel_leave_processing();
  EXPECT_EQ(t.host.sent.size(), 3u) << "the editor thread's edit is reported while audio runs";
}

TEST(WrapperPreset, ChosenPathsGetTheExtensionAndTheFolderIsRemembered) {
  test_plugin t;
  char buf[64];
  EXPECT_EQ(tarvelon_koppel_accept_preset_path(t.p, 1, "/home/u/presets/warm", buf, sizeof buf), 1);
  EXPECT_STREQ(buf, "/home/u/presets/warm.dat");
  EXPECT_STREQ(t.p->presetDir, "/home/u/presets");
  EXPECT_EQ(tarvelon_koppel_accept_preset_path(t.p, 1, "/x/LOUD.DAT", buf, sizeof buf), 1);
  EXPECT_STREQ(buf, "/x/LOUD.DAT");
  EXPECT_EQ(tarvelon_koppel_accept_preset_path(t.p, 0, "/x/open", buf, sizeof buf), 1);
  EXPECT_STREQ(buf, "/x/open");
  char small[8];
  EXPECT_EQ(tarvelon_koppel_accept_preset_path(t.p, 1, "/a/bcd", small, sizeof small), 0);
  EXPECT_STREQ(small, "");
  EXPECT_EQ(tarvelon_koppel_accept_preset_path(t.p, 0, "/a/bcdefgh", small, sizeof small), 0);
  EXPECT_EQ(tarvelon_koppel_accept_preset_path(t.p, 0, nullptr, buf, sizeof buf), 0);
#ifndef _WIN32  // Windows asks with its file dialog (the window layer's tests cover it)
  EXPECT_EQ(tarvelon_koppel_host_callbacks.prompt_for_preset_path(t.p, t.p->ci, 1, buf, sizeof buf), 0);
#endif
}

// An undo reports its restored values while the core holds the processing
// lock. A host whose edit callback waits for its own audio thread (which needs
// that lock for its next block) must still get every report, in order, once
// the lock is released: no deadlock.
TEST(WrapperParams, EditsRaisedUnderACoreLockAreSentAfterItInOrder) {
  test_plugin t;
  koppel_setSampleRateAndBlockSize(t.p, 44100.0, 64);
  t.p->notifyHost = 1;
  tarvelon_undo_begin_edit(t.p->ci);
  tarvelon_koppel_set_parameter_value(t.p, 17, -6.0, true, param_origin::user);  // Overall Gain
  tarvelon_undo_end_edit(t.p->ci);
  t.host.sent.clear();

  std::atomic<int> blocks{0};
  std::atomic<bool> stop{false};
  std::thread audio([&] {
    std::vector<float> l(64), r(64), ol(64), orr(64);
    void *in[2] = {l.data(), r.data()}, *out[2] = {ol.data(), orr.data()};
    while (!stop.load()) {
      fake_block b(64, false, in, 2, out, 2);
      koppel_process(t.p, &b.ctx);
      blocks++;
    }
  });
  bool waited_too_long = false;
  t.host.on_send = [&](const KoppelEvent &) {
    const int seen = blocks.load();
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (blocks.load() == seen && std::chrono::steady_clock::now() < until) std::this_thread::yield();
    waited_too_long |= blocks.load() == seen;
  };
  EXPECT_EQ(tarvelon_undo_step(t.p->ci, 0), 1);
  t.host.on_send = nullptr;
  stop = true;
  audio.join();
  EXPECT_FALSE(waited_too_long) << "the audio thread was stuck behind a report";
  ASSERT_GE(t.host.sent.size(), 3u);
  bool saw_gain = false;
  for (size_t i = 0; i + 2 < t.host.sent.size(); i += 3) {  // whole gestures, in order
    EXPECT_EQ(t.host.sent[i].type, uint32_t(KOPPEL_EVENT_PARAM_CHANGE_BEGIN));
    EXPECT_EQ(t.host.sent[i + 1].type, uint32_t(KOPPEL_EVENT_PARAM_CHANGE_UPDATE));
    EXPECT_EQ(t.host.sent[i + 2].type, uint32_t(KOPPEL_EVENT_PARAM_CHANGE_END));
    if (t.host.sent[i + 1].parameter.id == 17) saw_gain = t.host.sent[i + 1].parameter.value == 0.0;
  }
  EXPECT_TRUE(saw_gain) << "the undone Overall Gain reached the host";
}

// An undo reports every parameter while the core holds its lock; forty of
// them behind one stall must still leave the host with the plug-in's values:
// one whole gesture per parameter, carrying its latest value.
TEST(WrapperParams, ReportsQueuedUnderACoreLockCoalesceAndNoneIsLost) {
  test_plugin t;
  t.p->notifyHost = 1;
  {
    vl_lock_guard lock(t.p->ci->proc_reinit_sem);
    for (int round = 0; round < 40; round++)
      for (uint32_t id = 0; id < kKoppelParamCount; id++) {
        double lo = 0, hi = 0;
        koppel_getParameterRange(t.p, id, &lo, &hi);
        tarvelon_koppel_set_parameter_value(t.p, id, lo + (hi - lo) * double((round * 7 + int(id)) % 10) / 9.0, false,
                                            param_origin::user);
      }
    EXPECT_TRUE(t.host.sent.empty()) << "nothing goes out under the lock";
  }
  ASSERT_EQ(t.host.sent.size(), 3u * kKoppelParamCount) << "one gesture per parameter";
  std::vector<int> seen(kKoppelParamCount, 0);
  for (size_t i = 0; i + 2 < t.host.sent.size(); i += 3) {
    const uint32_t id = t.host.sent[i].parameter.id;
    ASSERT_LT(id, kKoppelParamCount);
    EXPECT_EQ(t.host.sent[i].type, uint32_t(KOPPEL_EVENT_PARAM_CHANGE_BEGIN));
    EXPECT_EQ(t.host.sent[i + 1].type, uint32_t(KOPPEL_EVENT_PARAM_CHANGE_UPDATE));
    EXPECT_EQ(t.host.sent[i + 2].type, uint32_t(KOPPEL_EVENT_PARAM_CHANGE_END));
    EXPECT_EQ(t.host.sent[i + 1].parameter.id, id);
    EXPECT_EQ(t.host.sent[i + 2].parameter.id, id);
    EXPECT_EQ(t.host.sent[i + 1].parameter.value, koppel_getParameterValue(t.p, id)) << "parameter " << id;
    seen[id]++;
  }
  for (uint32_t id = 0; id < kKoppelParamCount; id++) EXPECT_EQ(seen[id], 1) << "parameter " << id;
}

// Automation of "Hor. Zoom" publishes the visible window on the audio thread.
// When the editor's writer is stopped half-way through publishing it (the
// scheduler pre-empted it), the audio thread must not wait for it: the block
// finishes, and the next one publishes the automated view.
TEST(WrapperThreads, AutomatedZoomNeverWaitsForTheEditorsWriter) {
  test_plugin t;
  koppel_setSampleRateAndBlockSize(t.p, 44100.0, 64);
  std::vector<float> l(64), r(64), ol(64), orr(64);
  void *in[2] = {l.data(), r.data()}, *out[2] = {ol.data(), orr.data()};
  ASSERT_TRUE(t.p->ci->hview.hold_writer());
  std::atomic<bool> done{false};
  std::thread audio([&] {
    fake_block b(64, false, in, 2, out, 2);
    b.add_param(10, 26, 4.0);  // Hor. Zoom
    koppel_process(t.p, &b.ctx);
    done = true;
  });
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done.load() && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const bool finished = done.load();
  t.p->ci->hview.release_writer();  // the editor runs again
  audio.join();
  EXPECT_TRUE(finished) << "the audio thread waited for the editor's writer";
  EXPECT_EQ(koppel_getParameterValue(t.p, 26), 4.0);
  fake_block next(64, false, in, 2, out, 2);
  koppel_process(t.p, &next.ctx);
  EXPECT_DOUBLE_EQ(t.p->ci->hview.load().hzoom, 0.25) << "the next block published the automated view";
}
