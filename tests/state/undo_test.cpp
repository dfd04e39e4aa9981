#include <gtest/gtest.h>

#include "state/eq.h"
#include "system/alloc.h"
#include "state/params.h"
#include "state/undo.h"
#include "support/test_instance.h"

namespace {
// An edit from outside the editor: stored, then synchronised as the audio
// thread would at the next block.
void host_edit(test_instance &t, int32_t id, double v) {
  t.set_param(id, v);
  vl_lock_guard lock(t.ci->proc_reinit_sem);
  tarvelon_sync_eq_params(t.ci);
}
}  // namespace

TEST(Undo, ADragRecordedAsOneGestureIsOneStep) {
  test_instance t;
  const double before = t.param(5);
  tarvelon_undo_begin_edit(t.ci);
  for (int i = 1; i <= 50; i++) host_edit(t, 5, before + i * 0.5);
  tarvelon_undo_end_edit(t.ci);
  EXPECT_EQ(tarvelon_undo_step(t.ci, 0), 1);
  EXPECT_EQ(t.param(5), before);
  EXPECT_EQ(tarvelon_undo_step(t.ci, 0), 0);  // the initial state is the floor
  EXPECT_EQ(tarvelon_undo_step(t.ci, 1), 1);
  EXPECT_EQ(t.param(5), before + 25.0);
}

TEST(Undo, AClickWithoutMotionAddsNothing) {
  test_instance t;
  tarvelon_undo_begin_edit(t.ci);
  tarvelon_undo_end_edit(t.ci);
  EXPECT_EQ(tarvelon_undo_step(t.ci, 0), 0);
}

TEST(Undo, ANewEditAfterUndosDiscardsRedo) {
  test_instance t;
  for (int i = 1; i <= 5; i++) host_edit(t, 6, double(i));
  for (int i = 0; i < 3; i++) EXPECT_EQ(tarvelon_undo_step(t.ci, 0), 1);
  EXPECT_EQ(t.param(6), 2.0);
  host_edit(t, 6, 9.0);
  EXPECT_EQ(tarvelon_undo_step(t.ci, 1), 0);
  EXPECT_EQ(tarvelon_undo_step(t.ci, 0), 1);
  EXPECT_EQ(t.param(6), 2.0);
}

TEST(Undo, RingKeeps1024EntriesAfterManyEdits) {
  test_instance t;
  for (int i = 1; i <= 1100; i++) host_edit(t, 16, -60.0 + i * 0.1);
  int steps = 0;
  while (tarvelon_undo_step(t.ci, 0)) steps++;
  EXPECT_EQ(steps, 1023);
  EXPECT_NEAR(t.param(16), -60.0 + 77 * 0.1, 1e-9);  // entries 77..1100 survive
  int redos = 0;
  while (tarvelon_undo_step(t.ci, 1)) redos++;
  EXPECT_EQ(redos, 1023);
}

TEST(Undo, DisplayParametersAreNeitherRecordedNorUndone) {
  test_instance t;
  host_edit(t, 5, 3.0);
  t.set_param(19, 1.0);
  t.set_param(21, 1.5);
  t.set_param(26, 4.0);
  EXPECT_EQ(tarvelon_undo_step(t.ci, 0), 1);
  EXPECT_EQ(t.param(5), 1e-6);
  EXPECT_EQ(t.param(19), 1.0);
  EXPECT_EQ(t.param(21), 1.5);
  EXPECT_EQ(t.param(26), 4.0);
}

TEST(Undo, UndoRestoresARemovedBandCompletely) {
  test_instance t;
  host_edit(t, 10, 2500.0);
  host_edit(t, 6, -4.0);
  host_edit(t, 14, 7.0);
  const double deffreq = t.ci->equ[2].defaultfreq;
  tarvelon_undo_begin_edit(t.ci);
  t.ci->equ[2].on = 0;
  t.ci->equ[2].defaultfreq = -1.0;
  tarvelon_sync_eq_param_from_user_input(t.ci, 2, 0, -1);
  tarvelon_undo_end_edit(t.ci);
  EXPECT_EQ(t.param(2), 0.0);

  EXPECT_EQ(tarvelon_undo_step(t.ci, 0), 1);
  EXPECT_EQ(t.param(2), 1.0);
  EXPECT_EQ(t.param(10), 2500.0);
  EXPECT_EQ(t.param(6), -4.0);
  EXPECT_EQ(t.param(14), 7.0);
  EXPECT_EQ(t.ci->equ[2].defaultfreq, deffreq);
  EXPECT_EQ(t.ci->equ[2].on, 1);
  EXPECT_GT(t.host->program_changes.load(), 0);
}

TEST(Undo, UndoDuringAnOpenGestureClosesItFirst) {
  test_instance t;
  tarvelon_undo_begin_edit(t.ci);
  host_edit(t, 4, 10.0);
  EXPECT_EQ(tarvelon_undo_step(t.ci, 0), 1);  // the drag became an entry, then was undone
  EXPECT_EQ(t.param(4), 1e-6);
  EXPECT_EQ(t.ci->undo_group, 0);
}

TEST(Undo, RecordingNeverAllocates) {
  test_instance t;
  const uint64_t before = tv_alloc_count();
  for (int i = 1; i <= 20; i++) host_edit(t, 7, double(i));
  EXPECT_EQ(tv_alloc_count(), before);
  EXPECT_EQ(add_to_undo_buffer(nullptr), 0);
  EXPECT_EQ(tarvelon_undo_step(nullptr, 0), 0);
  EXPECT_EQ(tarvelon_undo_end_edit(nullptr), 0);
}
