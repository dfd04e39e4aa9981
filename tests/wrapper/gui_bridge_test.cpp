// The editor bridge without a window: events go in through pw_event, frames
// are drawn by pw_tick, and what reaches the parameters and the host is checked.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "audio/engine.h"
#include "graphics/frame.h"
#include "graphics/layout.h"
#include "koppel_gui_bridge.h"
#include "state/eq.h"
#include "support/bridge_fixture.h"
#include "system/inst.h"
#include "system/instance.h"

namespace {
int count_updates(const fake_host &h, uint32_t id) {
  int n = 0;
  for (const KoppelEvent &e : h.sent)
    if (e.type == KOPPEL_EVENT_PARAM_CHANGE_UPDATE && e.parameter.id == id) n++;
  return n;
}
}  // namespace

TEST(GuiBridge, SizesStayWithinTheEditorLimits) {
  bridge b;
  PWGetInfo q{};
  q.type = PW_INFO_CONSTRAIN_SIZE;
  q.constrain_size.width = 100, q.constrain_size.height = 100;
  pw_get_info(&q);
  EXPECT_EQ(q.constrain_size.width, 780u);
  EXPECT_EQ(q.constrain_size.height, 566u);
  q.constrain_size.width = 5000, q.constrain_size.height = 3000;
  pw_get_info(&q);
  EXPECT_EQ(q.constrain_size.width, 3840u);
  EXPECT_EQ(q.constrain_size.height, 2160u);

  PWEvent e{};
  e.type = PW_EVENT_RESIZE_UPDATE;
  e.gui = b.g;
  e.resize.width = 100, e.resize.height = 100;
  EXPECT_TRUE(pw_event(&e));
  EXPECT_EQ(b.ci()->fb.w, 780);
  EXPECT_EQ(b.ci()->fb.h, 566);
  EXPECT_EQ(b.t.p->drawWidth, 780u);
  EXPECT_EQ(b.ci()->composite.srgb, reinterpret_cast<srgb_t *>(b.t.p->drawPixels));
  e.resize.width = 1200, e.resize.height = 700;
  EXPECT_TRUE(pw_event(&e));
  EXPECT_EQ(b.t.p->drawWidth, 1200u);
  EXPECT_EQ(b.t.p->drawHeight, 700u);
  EXPECT_EQ(b.ci()->gui_width, 1200);  // remembered for the next editor

  PWGetInfo init{};
  init.type = PW_INFO_INIT_SIZE;
  pw_get_info(&init);
  EXPECT_EQ(init.init_size.width, 512u) << "no plug-in: the fallback size";
}

TEST(GuiBridge, DoubleClicksNeedTimeAndPlace) {
  bridge b;
  b.g->lastLeftClickTimeMs = 10000;
  b.g->lastLeftClickX = 100, b.g->lastLeftClickY = 100;
  PWEvent e{};
  e.mouse.x = 103, e.mouse.y = 100;
  e.mouse.time_ms = 10400;
  EXPECT_TRUE(tarvelon_koppel_recent_double_click(b.g, &e));
  e.mouse.time_ms = 10600;
  EXPECT_FALSE(tarvelon_koppel_recent_double_click(b.g, &e)) << "beyond the default 500 ms";
  e.mouse.double_click_interval_ms = 700;
  EXPECT_TRUE(tarvelon_koppel_recent_double_click(b.g, &e));
  e.mouse.time_ms = 10400, e.mouse.x = 106;
  EXPECT_FALSE(tarvelon_koppel_recent_double_click(b.g, &e)) << "6 pixels away";
  b.g->lastLeftClickTimeMs = 0;
  e.mouse.x = 100;
  EXPECT_FALSE(tarvelon_koppel_recent_double_click(b.g, &e)) << "no click recorded";
}

TEST(GuiBridge, MovesCoalesceAndAFullQueueNeverDropsAButton) {
  bridge b;
  for (int i = 0; i < 300; i++) b.send(PW_EVENT_MOUSE_MOVE, float(i), 10);
  EXPECT_EQ(b.g->inputEventCount, 1u);
  EXPECT_EQ(b.g->inputEvents[0].mouse.x, 299.0f);

  b.g->inputEventCount = 0;
  PWEvent wheel{};
  wheel.type = PW_EVENT_MOUSE_WHEEL;
  for (uint32_t i = 0; i < 300; i++) tarvelon_koppel_queue_input_event(b.g, &wheel);
  EXPECT_EQ(b.g->inputEventCount, kKoppelGuiQueueSize);
  PWEvent press{};
  press.type = PW_EVENT_MOUSE_LEFT_DOWN;
  EXPECT_TRUE(tarvelon_koppel_queue_input_event(b.g, &press));
  EXPECT_EQ(b.g->inputEvents[kKoppelGuiQueueSize - 1].type, PW_EVENT_MOUSE_LEFT_DOWN);

  b.g->inputEventCount = 0;
  for (uint32_t i = 0; i < kKoppelGuiQueueSize; i++) tarvelon_koppel_queue_input_event(b.g, &press);
  PWEvent move{};
  move.type = PW_EVENT_MOUSE_MOVE;
  EXPECT_FALSE(tarvelon_koppel_queue_input_event(b.g, &move));
  for (uint32_t i = 0; i < kKoppelGuiQueueSize; i++) ASSERT_EQ(b.g->inputEvents[i].type, PW_EVENT_MOUSE_LEFT_DOWN);
  b.g->inputEventCount = 0;
}

TEST(GuiBridge, KeysGoToTheHostUnlessTheyAreUndoOrRedo) {
  bridge b;
  EXPECT_FALSE(b.key('A', 0));
  EXPECT_FALSE(b.key(PW_KEY_SPACEBAR, 0)) << "the host's transport key";
  EXPECT_TRUE(b.key(PW_KEY_Z, PW_MOD_KEY_CTRL));
  EXPECT_TRUE(b.key(PW_KEY_Y, PW_MOD_KEY_CTRL | PW_MOD_KEY_SHIFT));
  EXPECT_FALSE(b.key(PW_KEY_Z, PW_MOD_KEY_CTRL | PW_MOD_KEY_ALT));
  PWEvent up{};
  up.type = PW_EVENT_KEY_UP;
  up.gui = b.g;
  EXPECT_FALSE(pw_event(&up));
  PWEvent text{};
  text.type = PW_EVENT_TEXT;
  text.gui = b.g;
  text.text.codepoint = 'a';
  EXPECT_FALSE(pw_event(&text));
  PWEvent none{};
  none.type = PW_EVENT_MOUSE_MOVE;
  EXPECT_FALSE(pw_event(&none)) << "an event without an editor";
  EXPECT_FALSE(pw_event(nullptr));
}

TEST(GuiBridge, KnobDragsAreGearedByRangeAndModifiers) {
  bridge b;
  // "Colour" is an integer knob over 0..2: one knob height down covers the range.
  const ctrl_pos_t &colour = b.knob(4);
  ASSERT_EQ(tarvelon_koppel_find_knob_at(b.t.p, float(colour.gx), float(colour.gy)), 4);
  const double c0 = b.param(19);
  b.drag(float(colour.gx), float(colour.gy), float(colour.gx), float(colour.gy + 60));
  EXPECT_EQ(b.param(19), std::fmax(c0 - 2.0, 0.0));

  // "Colour Gain" is continuous: 60 px up with half size 30 is a quarter turn, a fortieth with Ctrl.
  const ctrl_pos_t &gain = b.knob(5);
  const double n0 = b.t.p->controls[5].normalizedValue;
  b.drag(float(gain.gx), float(gain.gy), float(gain.gx), float(gain.gy - 60));
  const double n1 = b.t.p->controls[5].normalizedValue;
  EXPECT_NEAR(n1 - n0, std::fmin(0.25, 1.0 - n0), 1e-9);
  b.drag(float(gain.gx), float(gain.gy), float(gain.gx), float(gain.gy + 60), PW_MOD_KEY_CTRL);
  EXPECT_NEAR(b.t.p->controls[5].normalizedValue - n1, -0.025, 1e-9);

  // One wheel notch over it: a hundredth.
  const double n2 = b.t.p->controls[5].normalizedValue;
  b.send(PW_EVENT_MOUSE_MOVE, float(gain.gx), float(gain.gy));
  PWEvent w{};
  w.type = PW_EVENT_MOUSE_WHEEL;
  w.gui = b.g;
  w.mouse.y = -120.0f;
  pw_event(&w);
  pw_tick(b.g);
  EXPECT_NEAR(b.t.p->controls[5].normalizedValue - n2, -0.01, 1e-9);
  EXPECT_GT(count_updates(b.t.host, 20), 0) << "knob edits reach the host";
}

TEST(GuiBridge, ABandDragIsOneUndoStepThatTheHostHears) {
  bridge b;
  const int band = b.first_band_on();
  ASSERT_GE(band, 0);
  const eq_t e0 = b.ci()->equ[band];
  const double gain0 = b.param(4 + band), freq0 = b.param(8 + band);
  b.t.host.sent.clear();
  b.drag(float(e0.x), float(e0.y), float(e0.x + 40), float(e0.y - 30));
  EXPECT_NE(b.param(8 + band), freq0);
  EXPECT_NE(b.param(4 + band), gain0);
  EXPECT_GT(count_updates(b.t.host, 8 + band), 0);
  ASSERT_FALSE(b.t.host.sent.empty());
  EXPECT_EQ(b.t.host.sent.front().type, uint32_t(KOPPEL_EVENT_PARAM_CHANGE_BEGIN));
  EXPECT_EQ(b.ci()->grabbed, 0);
  EXPECT_EQ(b.ci()->undo_group, 0);

  b.t.host.sent.clear();
  EXPECT_TRUE(b.key(PW_KEY_Z, PW_MOD_KEY_CTRL));
  pw_tick(b.g);
  EXPECT_DOUBLE_EQ(b.param(8 + band), freq0) << "one step undoes the whole drag";
  EXPECT_DOUBLE_EQ(b.param(4 + band), gain0);
  EXPECT_GT(count_updates(b.t.host, 8 + band), 0) << "the undo reaches the host as an edit";
  EXPECT_TRUE(b.key(PW_KEY_Y, PW_MOD_KEY_CTRL));
  pw_tick(b.g);
  EXPECT_NE(b.param(8 + band), freq0);
}

TEST(GuiBridge, AClickWithoutMotionSelectsButChangesNothing) {
  bridge b;
  const int band = b.first_band_on();
  ASSERT_GE(band, 0);
  const eq_t e0 = b.ci()->equ[band];
  const double freq0 = b.param(8 + band), gain0 = b.param(4 + band);
  b.drag(float(e0.x + 2), float(e0.y + 1), float(e0.x + 2), float(e0.y + 1));
  EXPECT_EQ(b.ci()->selband, band);
  EXPECT_EQ(b.param(8 + band), freq0);
  EXPECT_EQ(b.param(4 + band), gain0);
}

TEST(GuiBridge, ALostReleaseStillEndsTheDrag) {
  bridge b;
  const int band = b.first_band_on();
  ASSERT_GE(band, 0);
  const eq_t e0 = b.ci()->equ[band];
  b.send(PW_EVENT_MOUSE_LEFT_DOWN, float(e0.x), float(e0.y), PW_MOD_LEFT_BUTTON);
  b.send(PW_EVENT_MOUSE_MOVE, float(e0.x + 20), float(e0.y), PW_MOD_LEFT_BUTTON);
  pw_tick(b.g);
  EXPECT_EQ(b.ci()->grabbed, 1);
  EXPECT_EQ(b.ci()->undo_group, 1);
  PWEvent lost{};
  lost.type = PW_EVENT_KEY_FOCUS_LOST;
  lost.gui = b.g;
  EXPECT_FALSE(pw_event(&lost));
  pw_tick(b.g);
  EXPECT_EQ(b.ci()->grabbed, 0);
  EXPECT_EQ(b.ci()->undo_group, 0);
  EXPECT_EQ(b.g->buttonsHeld, 0u);

  // An editor closed in the middle of a drag closes the group too.
  b.send(PW_EVENT_MOUSE_LEFT_DOWN, float(b.ci()->equ[band].x), float(b.ci()->equ[band].y), PW_MOD_LEFT_BUTTON);
  pw_tick(b.g);
  EXPECT_EQ(b.ci()->undo_group, 1);
  pw_destroy_gui(b.g);
  b.g = nullptr;
  EXPECT_EQ(b.ci()->undo_group, 0);
  EXPECT_EQ(b.ci()->grabbed, 0);
  EXPECT_EQ(b.t.p->gui, nullptr);
}

TEST(GuiBridge, ANestedTickIsRefusedAndLateEventsWait) {
  bridge b;
  int nested = 0;
  b.t.host.on_send = [&](const KoppelEvent &) {
    // A host pumping its events inside our edit report.
    b.send(PW_EVENT_MOUSE_MOVE, 5, 5);
    pw_tick(b.g);
    nested++;
  };
  const ctrl_pos_t &gain = b.knob(5);
  b.send(PW_EVENT_MOUSE_MOVE, float(gain.gx), float(gain.gy));
  PWEvent w{};
  w.type = PW_EVENT_MOUSE_WHEEL;
  w.gui = b.g;
  w.mouse.y = 120.0f;
  pw_event(&w);
  pw_tick(b.g);
  b.t.host.on_send = nullptr;
  EXPECT_GT(nested, 0);
  ASSERT_EQ(b.g->inputEventCount, 1u) << "the event that came during the replay stays queued";
  EXPECT_EQ(b.g->inputEvents[0].type, PW_EVENT_MOUSE_MOVE);
}

TEST(GuiBridge, BandsAreAddedAndRemovedByDoubleClick) {
  bridge b;
  inst_t *ci = b.ci();
  auto dblclick = [&](float x, float y) {
    b.send(PW_EVENT_MOUSE_LEFT_DOWN, x, y, PW_MOD_LEFT_BUTTON);
    b.send(PW_EVENT_MOUSE_LEFT_UP, x, y);
    b.clock -= 1300;  // the next press 100 ms after the first
    b.send(PW_EVENT_MOUSE_LEFT_DOWN, x, y, PW_MOD_LEFT_BUTTON);
    b.send(PW_EVENT_MOUSE_LEFT_UP, x, y);
    pw_tick(b.g);
    pw_tick(b.g);
  };
  for (int i = 0; i < kBandCount; i++) ASSERT_EQ(ci->equ[i].on, 1) << "the default curve uses all four bands";
  const float x = float(ci->vx + ci->kVW * 0.93), y = float(ci->vy + ci->kVH * 0.2);
  dblclick(x, y);
  for (int i = 0; i < kBandCount; i++) EXPECT_EQ(ci->equ[i].on, 1) << "no free slot: only a click";

  const int band = 1;
  dblclick(float(ci->equ[band].x), float(ci->equ[band].y));
  EXPECT_EQ(ci->equ[band].on, 0);
  EXPECT_EQ(b.param(band), 0.0);

  dblclick(x, y);
  EXPECT_EQ(ci->equ[band].on, 1);
  EXPECT_EQ(b.param(band), 1.0);
  EXPECT_EQ(ci->selband, band);
  EXPECT_EQ(b.param(12 + band), 0.0) << "a new band starts flat";
  const tarvelon_hview_t hv = ci->hview.load();
  const double at_x = hv.zmin * std::pow(hv.zmax / hv.zmin, (int(x) - ci->vxf) / (ci->kVW - 1));
  EXPECT_NEAR(b.param(8 + band), at_x, at_x * 1e-9) << "at the pointer";
}

namespace {
// The state of an editor whose frame has shown everything: audio idle and
// taken over, no fade, nothing to recompute, the last input long ago.
void settle(bridge &b, int64_t now) {
  inst_t *ci = b.ci();
  b.g->lastFrameUs = now - 5'000;
  b.g->lastInputUs = now - 5'000'000;
  b.g->frameCostUs = 1'000;
  ci->time_since_proc = 1000.0;
  ci->mouseout_time = 0.0;
  ci->max_sample = 0.0;
  ci->fft_mag_changed = 0, ci->last2k_changed = 0, ci->spline_changed = 0;
  ci->vzoom_changed = 0, ci->hzoom_changed = 0, ci->fb_size_changed = 0;
  ci->print_delay = 1;  // waiting for audio: nothing to show yet
  for (uint32_t id = 0; id < kKoppelParamCount; id++) b.g->shownValues[id] = b.t.p->params[id].value.load();
}

// Audio blocks as a host delivers them, straight into the engine.
void process(inst_t *ci, double level, int blocks) {
  std::vector<double> l(512), r(512), ol(512), orr(512);
  uint32_t seed = 9;
  for (int k = 0; k < blocks; k++) {
    for (size_t i = 0; i < l.size(); i++) {
      seed = seed * 1664525u + 1013904223u;
      l[i] = r[i] = level * (double(seed >> 8) / 16777216.0 - 0.5);
    }
    double *in[2] = {l.data(), r.data()}, *out[2] = {ol.data(), orr.data()};
    tarvelon_process_audio_runtime_owned(ci, in, out, 512);
  }
}
}  // namespace

TEST(GuiBridge, AStillEditorStopsDrawingAndChangesWakeItAtMostSixtyTimesASecond) {
  bridge b;
  inst_t *ci = b.ci();
  const int64_t now = 100'000'000'000;
  settle(b, now);
  EXPECT_FALSE(tarvelon_koppel_frame_due(b.g, now)) << "nothing moves: no frame";
  EXPECT_FALSE(tarvelon_koppel_frame_due(b.g, now + 10'000'000)) << "however long it waits";
  ci->hzoom_changed = 1;
  EXPECT_FALSE(tarvelon_koppel_frame_due(b.g, now)) << "not within a sixtieth of a second of the last frame";
  EXPECT_TRUE(tarvelon_koppel_frame_due(b.g, now + 12'000)) << "a change is drawn";
  ci->hzoom_changed = 0;
  ci->max_sample = 0.5;
  EXPECT_TRUE(tarvelon_koppel_frame_due(b.g, now + 12'000)) << "the clip light fades";
  ci->max_sample = 0.0;
  b.t.p->params[20].value = b.t.p->params[20].value.load() + 0.5;
  EXPECT_TRUE(tarvelon_koppel_frame_due(b.g, now + 12'000)) << "the host moved a knob";
  settle(b, now);
  ci->time_since_proc = 0.2;  // audio playing: the spectrum moves
  ci->spectrum_dark = 0;
  EXPECT_FALSE(tarvelon_koppel_frame_due(b.g, now + 5'000));
  EXPECT_TRUE(tarvelon_koppel_frame_due(b.g, now + 12'000)) << "60 frames a second while a frame is cheap";
  b.g->frameCostUs = 4'000;
  EXPECT_FALSE(tarvelon_koppel_frame_due(b.g, now + 30'000)) << "a tenth of a core at most";
  EXPECT_TRUE(tarvelon_koppel_frame_due(b.g, now + 40'000));

  settle(b, now);
  b.send(PW_EVENT_MOUSE_MOVE, 10, 10);
  EXPECT_TRUE(tarvelon_koppel_frame_due(b.g, now + 5'000)) << "queued input is replayed at once";
}

TEST(GuiBridge, SilenceFromAPlayingHostLetsTheEditorRestAndSoundWakesIt) {
  bridge b;
  inst_t *ci = b.ci();
  ci->screen_timeout = 0;
  process(ci, 0.5, 20);  // sound: a lit spectrum
  pw_tick(b.g);
  b.g->lastFrameUs = 0;
  pw_tick(b.g);
  EXPECT_EQ(ci->spectrum_dark, 0);
  // Silence long enough to flush the analyser, drawn frame by frame.
  for (int k = 0; k < 40; k++) {
    process(ci, 0.0, 2);
    b.g->lastFrameUs = 0;
    pw_tick(b.g);
  }
  ASSERT_EQ(ci->spectrum_dark, 1) << "the spectrum has faded to black";
  const int64_t now = 100'000'000'000;
  b.g->lastFrameUs = now - 50'000;
  b.g->lastInputUs = now - 5'000'000;
  ci->mouseout_time = 0.0;
  ci->max_sample = 0.0;
  ci->print_delay = 0;
  for (int k = 0; k < 5; k++) {
    process(ci, 0.0, 1);  // the host keeps processing silence
    EXPECT_LT(ci->time_since_proc, 0.4) << "audio is running";
    EXPECT_FALSE(tarvelon_koppel_frame_due(b.g, now + k * 16'000)) << "silence keeps a black spectrum black " << k;
  }
  const uint64_t frames = b.g->framesDrawn;
  for (int k = 0; k < 100; k++) {  // tens of seconds of silence at 60 ticks a second: no frame
    process(ci, 0.0, 1);
    pw_tick(b.g);
  }
  EXPECT_EQ(b.g->framesDrawn, frames);
  process(ci, 0.01, 1);  // sound again, however quiet
  EXPECT_TRUE(tarvelon_koppel_frame_due(b.g, now + 100'000)) << "sound wakes the editor";
}

TEST(GuiBridge, OpeningTheEditorDrawsNoBurst) {
  bridge b;
  b.send(PW_EVENT_MOUSE_ENTER, 100, 100);
  const int64_t t0 = 200'000'000'000;
  b.g->lastFrameUs = t0 - 20'000;
  b.g->lastInputUs = t0;
  b.g->frameCostUs = 500.0;
  int frames = 0;
  // Half a second of 10 ms ticks right after opening, the frame cost as measured.
  for (int64_t t = t0; t < t0 + 500'000; t += 10'000) {
    if (!tarvelon_koppel_frame_due(b.g, t)) continue;
    frames++;
    b.g->lastFrameUs = t;
    b.g->inputEventCount = 0;
  }
  EXPECT_LE(frames, 26) << "no more than 60 frames a second at 10 ms ticks (every second tick)";
  EXPECT_GE(frames, 1);
}

TEST(GuiBridge, AHostScaleLaysTheEditorOutAgainAtItsLogicalSize) {
  bridge b;
  inst_t *ci = b.ci();
  PWEvent e{};
  e.type = PW_EVENT_CONTENT_SCALE_FACTOR_CHANGED;
  e.gui = b.g;
  e.content_scale_factor = 2.0f;
  EXPECT_TRUE(pw_event(&e));
  EXPECT_EQ(ci->fb.w, 2120);
  EXPECT_EQ(ci->fb.h, 1132);
  EXPECT_EQ(ci->cpos[1].gx, 2 * 886) << "laid out again, not just enlarged";
  EXPECT_EQ(ci->gui_width, 1060) << "sizes are remembered in logical pixels";

  // A user's resize at 2× is remembered as its logical size, so the editor
  // keeps its apparent size when the host moves it to a 1× screen.
  PWEvent r{};
  r.type = PW_EVENT_RESIZE_UPDATE;
  r.gui = b.g;
  r.resize.width = 2600, r.resize.height = 1600;
  EXPECT_TRUE(pw_event(&r));
  EXPECT_EQ(ci->gui_width, 1300);
  EXPECT_EQ(ci->gui_height, 800);
  r.resize.width = 1000, r.resize.height = 700;  // below the logical minimum at 2×
  EXPECT_TRUE(pw_event(&r));
  EXPECT_EQ(ci->fb.w, 1560);
  EXPECT_EQ(ci->fb.h, 1132);
  r.resize.width = 2600, r.resize.height = 1600;
  EXPECT_TRUE(pw_event(&r));
  e.content_scale_factor = 1.0f;
  EXPECT_TRUE(pw_event(&e));
  EXPECT_EQ(ci->fb.w, 1300);
  EXPECT_EQ(ci->fb.h, 800);
  EXPECT_FALSE(pw_event(&e)) << "the same scale again changes nothing";

  // Past the pixel maximum the scale stops where the logical minimum still fits.
  e.content_scale_factor = 5.0f;
  EXPECT_TRUE(pw_event(&e));
  EXPECT_LE(ci->fb.w, 3840);
  EXPECT_LE(ci->fb.h, 2160);
  EXPECT_GE(ci->fb.h, int(566 * tarvelon_ui_scale(ci)) - 1);
  EXPECT_NEAR(tarvelon_ui_scale(ci), 2160.0 / 566.0, 1e-12);
  e.content_scale_factor = std::nanf("");
  EXPECT_FALSE(pw_event(&e));
  e.content_scale_factor = -2.0f;
  EXPECT_FALSE(pw_event(&e));
}

TEST(GuiBridge, AKnobDragAtTwoTimesTurnsAsFarAsHalfTheDragAtOneTimes) {
  // Frames are forced (not left to the frame-rate gate): each step replays.
  auto drag = [](bridge &b, int k, float dy, uint32_t mods = 0) {
    const ctrl_pos_t &c = b.knob(k);
    b.send(PW_EVENT_MOUSE_MOVE, float(c.gx), float(c.gy), mods);
    b.send(PW_EVENT_MOUSE_LEFT_DOWN, float(c.gx), float(c.gy), mods | PW_MOD_LEFT_BUTTON);
    tarvelon_koppel_draw_gui(b.g);
    b.send(PW_EVENT_MOUSE_MOVE, float(c.gx), float(c.gy) + dy, mods | PW_MOD_LEFT_BUTTON);
    tarvelon_koppel_draw_gui(b.g);
    b.send(PW_EVENT_MOUSE_LEFT_UP, float(c.gx), float(c.gy) + dy, mods);
    tarvelon_koppel_draw_gui(b.g);
  };
  bridge one, two;
  PWEvent e{};
  e.type = PW_EVENT_CONTENT_SCALE_FACTOR_CHANGED;
  e.gui = two.g;
  e.content_scale_factor = 2.0f;
  ASSERT_TRUE(pw_event(&e));
  ASSERT_EQ(two.knob(5).gx, 2 * one.knob(5).gx);
  EXPECT_EQ(tarvelon_koppel_find_knob_at(two.t.p, float(two.knob(5).gx), float(two.knob(5).gy + 50)), 5)
      << "the knob's square is scaled: 25 logical pixels below its centre is still on it";
  EXPECT_EQ(tarvelon_koppel_find_knob_at(one.t.p, float(one.knob(5).gx), float(one.knob(5).gy + 50)), -1);

  // "Colour Gain" (continuous): 30 px at 1× and 60 px at 2× turn it alike, with and without Ctrl.
  for (uint32_t mods : {0u, uint32_t(PW_MOD_KEY_CTRL)}) {
    const double a0 = one.t.p->controls[5].normalizedValue, b0 = two.t.p->controls[5].normalizedValue;
    ASSERT_DOUBLE_EQ(a0, b0);
    drag(one, 5, -30.0f, mods);
    drag(two, 5, -60.0f, mods);
    const double da = one.t.p->controls[5].normalizedValue - a0, db = two.t.p->controls[5].normalizedValue - b0;
    EXPECT_GT(da, 0.0);
    EXPECT_NEAR(db, da, 1e-12) << "mods " << mods;
  }
  // "Colour" (integer, native units): 30 px down at 1× as 60 px at 2×.
  const double c0 = one.param(19);
  ASSERT_EQ(two.param(19), c0);
  drag(one, 4, 30.0f);
  drag(two, 4, 60.0f);
  EXPECT_NE(one.param(19), c0);
  EXPECT_EQ(two.param(19), one.param(19));
}

// A host that closes the editor when it hears an edit: the reports go out at
// the frame's last unlock, before the frame is presented. The rest of that
// frame must not reach the closed editor's window, and the record is freed
// once the frame is done.
TEST(GuiBridge, AnEditorClosedByTheHostInsideItsFrameIsFreedAfterIt) {
  bridge b;
  const int band = b.first_band_on();
  ASSERT_GE(band, 0);
  const eq_t e0 = b.ci()->equ[band];
  int closes = 0;
  b.t.host.on_send = [&](const KoppelEvent &) {
    if (!b.g) return;
    closes++;
    pw_destroy_gui(b.g);
    b.g = nullptr;
    EXPECT_EQ(b.t.p->gui, nullptr) << "the plug-in forgets its editor at once";
  };
  b.drag(float(e0.x), float(e0.y), float(e0.x + 40), float(e0.y - 30));  // ticks a null editor once closed
  b.t.host.on_send = nullptr;
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(b.ci()->editor_users, 0) << "the editor's rasters are freed";
  // The plug-in takes a new editor afterwards.
  b.g = static_cast<TarvelonKoppelGui *>(pw_create_gui(b.t.p, nullptr));
  pw_tick(b.g);
  EXPECT_EQ(b.t.p->gui, b.g);
}

// A 4K frame is drawn over a few ticks and shown on the tick after the last
// part, so no tick holds the host's GUI thread for all of it; a frame of the
// default size is drawn and shown in one tick. Whatever is owed goes out
// before the pixels change again.
TEST(GuiBridge, AVeryLargeFrameIsDrawnInPartsAndPresentedOnTheNextTick) {
  bridge b;
  EXPECT_EQ(b.g->owedCount, 0u) << "a default-size frame is presented in its own tick";
  EXPECT_FALSE(tarvelon_frame_pending(b.ci()));
  PWEvent e{};
  e.type = PW_EVENT_RESIZE_UPDATE;
  e.gui = b.g;
  e.resize.width = 3840, e.resize.height = 2160;
  const uint64_t frames = b.g->framesDrawn;
  ASSERT_TRUE(pw_event(&e));
  EXPECT_TRUE(tarvelon_frame_pending(b.ci())) << "8.3 million pixels are more than one tick draws";
  int parts = 1;
  while (tarvelon_frame_pending(b.ci()) && parts < 10) {
    EXPECT_EQ(b.g->framesDrawn, frames) << "a frame counts once it is complete";
    pw_tick(b.g);
    parts++;
  }
  EXPECT_EQ(parts, 3) << "about three million pixels a tick";
  EXPECT_EQ(b.g->framesDrawn, frames + 1);
  ASSERT_EQ(b.g->owedCount, 1u) << "the whole new frame is owed";
  EXPECT_EQ(b.g->owedRects[0][2], 3840u);
  pw_tick(b.g);
  EXPECT_EQ(b.g->owedCount, 0u);
  EXPECT_EQ(b.g->framesDrawn, frames + 1) << "that tick only presented";
  // A resize back while a frame is pending: the rest is dropped and the new
  // size is drawn and shown at once.
  b.ci()->frame_full = 1;
  b.g->lastFrameUs = 0;
  pw_tick(b.g);
  ASSERT_TRUE(tarvelon_frame_pending(b.ci()));
  e.resize.width = 1060, e.resize.height = 566;
  ASSERT_TRUE(pw_event(&e));
  EXPECT_FALSE(tarvelon_frame_pending(b.ci()));
  EXPECT_EQ(b.g->owedCount, 0u) << "a default-size frame owes nothing";
  EXPECT_FALSE(tarvelon_koppel_present_owed(b.g));
  EXPECT_FALSE(tarvelon_koppel_present_owed(nullptr));
  EXPECT_FALSE(tarvelon_koppel_continue_frame(nullptr));
}
