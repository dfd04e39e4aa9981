// The editor bridge: the wrapper's side of the editor window. It owns the
// bitmap the core composes into, draws and presents a frame per tick, queues
// window events and replays them inside the next frame, and drives the knobs.
// Everything here runs on the GUI thread.
#pragma once
#include <cstdint>

#include "pw_window.h"

struct TarvelonKoppelPlugin;
struct inst_t;

constexpr uint32_t kKoppelGuiQueueSize = 256;
constexpr uint32_t kKoppelDefaultDoubleClickMs = 500;

struct TarvelonKoppelGui {
  TarvelonKoppelPlugin *plugin;
  KoppelWindow *pw;
  int32_t activeKnob;  // -1: none
  float activeKnobStartX, activeKnobStartY;
  double activeKnobStartNativeValue;
  float lastX, lastY;
  uint32_t lastLeftClickTimeMs;  // 0: none
  float lastLeftClickX, lastLeftClickY;
  float collectedX, collectedY;
  PWEvent inputEvents[kKoppelGuiQueueSize];
  uint32_t inputEventCount;
  // Events below this index are being replayed and are not coalesced into.
  uint32_t replayEnd;
  // Buttons pressed and not yet released in the replay (a lost release is
  // made good on focus loss and when the editor closes).
  uint32_t buttonsHeld;
  bool ticking;      // a tick is running: a nested one is refused
  // The host closed the editor from inside a tick (an edit report it answered
  // by closing the view): the record is freed when the tick unwinds, and
  // nothing is presented through the window layer any more.
  bool closing;
  bool hasStorage;   // the core's editor storage is held for this editor
  // Frame budget: the clock of the last frame and the last input (µs), the
  // frame's smoothed cost, and how many frames were drawn.
  int64_t lastFrameUs, lastInputUs;
  double frameCostUs;
  uint64_t framesDrawn;
  int32_t cursor;  // the pointer shape last set (PWCursorType)
  // A very large frame is presented on the tick after the one that drew it,
  // so no single tick holds the host's GUI thread for both: the rectangles
  // still to present (x, y, w, h), and how many.
  uint32_t owedRects[8][4];
  uint32_t owedCount;
  // A frame drawn over several ticks: when it began and the CPU time its
  // parts took so far (µs).
  int64_t frameStartUs;
  int64_t frameCpuUs;
  // The parameter values the last frame showed: a value the host changes
  // moves a knob, so a still editor wakes for it.
  double shownValues[32];
};

// Within this long after input frames keep coming (at the frame budget) even
// when nothing seems to move, so what the input set off is shown.
constexpr int64_t kKoppelInteractiveUs = 200000;
// Frames start at least this far apart: 60 a second at most, and a tick of a
// 16 ms timer that comes a little early still draws.
constexpr int64_t kKoppelMinFrameSpacingUs = 14000;
// Frames are spaced so that drawing takes at most a tenth of a core (at
// least ten frames a second).
constexpr double kKoppelFrameBudget = 0.1;
// and that all editors of the process together take at most half of it.
constexpr double kKoppelSharedBudget = 0.5;
// A frame that changed more pixels than this (a 4K window's picture) is
// presented on the next tick rather than in the tick that drew it; and a
// tick draws about this many pixels of a frame, the rest on the next ticks.
constexpr uint64_t kKoppelSplitPresentPixels = 3000000;
constexpr int64_t kKoppelFramePixelsPerTick = 3000000;

// Queues one event: a move replaces a move at the end of the queue; a full
// queue makes room by dropping its oldest move or wheel event, and never drops
// a button event for anything else. false when the event was dropped.
bool tarvelon_koppel_queue_input_event(TarvelonKoppelGui *gui, const PWEvent *event) noexcept;
// Knob under (x, y), the highest-numbered one winning; -1 for none.
int32_t tarvelon_koppel_find_knob_at(TarvelonKoppelPlugin *p, float x, float y) noexcept;
bool tarvelon_koppel_recent_double_click(const TarvelonKoppelGui *gui, const PWEvent *event) noexcept;
// Whether a tick at `now_us` draws a frame under the budget above.
bool tarvelon_koppel_frame_due(const TarvelonKoppelGui *gui, int64_t now_us) noexcept;
// Draws one frame (replaying the queue) and presents it, or owes the
// presentation to the next tick when the frame changed very many pixels.
void tarvelon_koppel_draw_gui(TarvelonKoppelGui *gui) noexcept;
// Presents what a frame left owed; false when nothing was. [GUI thread]
bool tarvelon_koppel_present_owed(TarvelonKoppelGui *gui) noexcept;
// Draws the next part of a frame begun on an earlier tick (and presents it
// when it is complete); false when no frame was pending. [GUI thread]
bool tarvelon_koppel_continue_frame(TarvelonKoppelGui *gui) noexcept;
// The core's process_gui_frame callback: replays the queue inside a frame.
void tarvelon_koppel_process_gui_frame(void *user_data, inst_t *ci, int32_t mouse_claimed) noexcept;
// The editor bitmap at the core's framebuffer size; false when it cannot be made.
bool tarvelon_koppel_bind_draw_bitmap(TarvelonKoppelPlugin *p) noexcept;
