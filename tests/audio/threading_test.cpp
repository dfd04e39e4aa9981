// Runs audio on one thread while another edits parameters, undoes and takes
// over synchronisation as an idle editor would; meant for ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "audio/engine.h"
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
