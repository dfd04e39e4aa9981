// Runs audio on one thread while another edits parameters, undoes and takes
// over synchronisation as an idle editor would; meant for ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <vector>
#include <thread>

#include "audio/engine.h"
#include "graphics/frame.h"
#include "state/eq.h"
#include "vl_clock.h"
#include "state/params.h"
#include "state/undo.h"
#include "support/test_instance.h"

TEST(Threading, AudioAndEditorThreadsShareTheInstanceSafely) {
  test_instance t;
  std::atomic<bool> stop{false};
  std::thread audio([&] {
    std::vector<double> l(256, 0.1), r(256, -0.1), ol(256), orr(256);
    double *in[2] = {l.data(), r.data()}, *out[2] = {ol.data(), orr.data()};
    while (!stop.load()) tarvelon_process_audio_runtime_owned(t.ci, in, out, 256);
  });
  for (int i = 0; i < 300; i++) {
    tarvelon_undo_begin_edit(t.ci);
    t.set_param(4 + i % 4, -10.0 + i % 20);
    t.set_param(25, 10.0 + i % 40);
    tarvelon_undo_end_edit(t.ci);
    if (i % 7 == 0) tarvelon_undo_step(t.ci, i % 14 == 0);
    if (i % 50 == 0) t.set_param(23, 0.2 + 0.1 * (i % 3));
    t.ci->time_since_proc = 1.0;
    tarvelon_sync_and_redesign_when_idle(t.ci);
  }
  stop = true;
  audio.join();
  EXPECT_EQ(t.ci->audio_buffers_ready.load(), 1);
}

// Automation on the audio thread switches bands on and off and moves them
// while the editor draws frames: the frame copies what it paints under a
// short lock, so neither side sees the other's half-written band list.
TEST(Threading, FramesDrawnWhileAudioMovesAndTogglesBands) {
  test_instance t;
  ASSERT_EQ(tarvelon_editor_storage_acquire(t.ci), 1);
  std::vector<srgb_t> pixels(size_t(t.ci->fb.w) * size_t(t.ci->fb.h));
  t.ci->composite.srgb = pixels.data();
  sync_vantalib_framebuffers(t.ci);
  std::atomic<bool> stop{false};
  std::thread audio([&] {
    std::vector<double> l(64), r(64), ol(64), orr(64);
    double *in[2] = {l.data(), r.data()}, *out[2] = {ol.data(), orr.data()};
    for (int i = 0; !stop.load(); i++) {
      for (int k = 0; k < 64; k++) l[size_t(k)] = r[size_t(k)] = 0.1 * std::sin(0.01 * (i * 64 + k));
      const int band = i % 4;
      t.set_param(TV_PARAM_BAND_ON + band, (i / 4) % 3 != 0);
      t.set_param(TV_PARAM_BAND_FREQ + band, 50.0 + (i * 37) % 15000);
      tarvelon_process_audio_runtime_owned(t.ci, in, out, 64);
    }
  });
  const double end = get_time_hr() + 2.0;
  int frames = 0;
  while (get_time_hr() < end) {
    tarvelon_draw_frame(t.ci);
    frames++;
  }
  stop = true;
  audio.join();
  EXPECT_GE(frames, 2) << "frames kept coming while audio ran";
  for (int b = 0; b < 4; b++) EXPECT_TRUE(std::isfinite(t.ci->equ[b].x));
  t.ci->composite.srgb = nullptr;
  sync_vantalib_framebuffers(t.ci);
  tarvelon_editor_storage_release(t.ci);
}

// The horizontal view is changed by automation on the audio thread while the
// editor reads it: every read is one whole view, never a mix of two.
TEST(Threading, TheHorizontalViewIsReadWhole) {
  test_instance t;
  std::atomic<bool> stop{false};
  std::thread audio([&] {
    for (int i = 0; !stop.load(); i++) tarvelon_set_horizontal_zoom(t.ci, i % 2 ? 1.0 : 4.0, i % 2 ? 0.5 : 0.1);
  });
  int mixed = 0;
  for (int i = 0; i < 200000; i++) {
    const tarvelon_hview_t v = t.ci->hview.load();
    if (std::fabs((v.zmaxp - v.zminp) - v.hzoom) > 1e-9) mixed++;
  }
  stop = true;
  audio.join();
  EXPECT_EQ(mixed, 0);
}
