// The editor bridge: sizes, the bitmap, the tick, and window events.
#include "koppel_gui_bridge.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "graphics/frame.h"
#include "graphics/layout.h"
#include "graphics/spectrum.h"
#include "io/keyboard.h"
#include "io/pointer.h"
#include "io/prefs.h"
#include "state/eq.h"
#include "state/params.h"
#include "state/undo.h"
#include "system/inst.h"
#include "system/instance.h"
#include "tarvelon_koppel.h"

namespace {
uint32_t clamp_u(uint32_t v, int32_t lo, int32_t hi) {
  return v < uint32_t(lo) ? uint32_t(lo) : (v > uint32_t(hi) ? uint32_t(hi) : v);
}

bool is_press(PWEventType t) {
  return t == PW_EVENT_MOUSE_LEFT_DOWN || t == PW_EVENT_MOUSE_RIGHT_DOWN || t == PW_EVENT_MOUSE_MIDDLE_DOWN;
}
bool is_release(PWEventType t) {
  return t == PW_EVENT_MOUSE_LEFT_UP || t == PW_EVENT_MOUSE_RIGHT_UP || t == PW_EVENT_MOUSE_MIDDLE_UP;
}
bool is_pointer(PWEventType t) {
  return t == PW_EVENT_MOUSE_MOVE || t == PW_EVENT_MOUSE_ENTER || t == PW_EVENT_MOUSE_EXIT ||
         t == PW_EVENT_MOUSE_WHEEL || is_press(t) || is_release(t);
}
bool droppable(PWEventType t) { return t == PW_EVENT_MOUSE_MOVE || t == PW_EVENT_MOUSE_WHEEL; }

uint32_t button_bit(PWEventType t) {
  switch (t) {
    case PW_EVENT_MOUSE_LEFT_DOWN:
    case PW_EVENT_MOUSE_LEFT_UP: return PW_MOD_LEFT_BUTTON;
    case PW_EVENT_MOUSE_RIGHT_DOWN:
    case PW_EVENT_MOUSE_RIGHT_UP: return PW_MOD_RIGHT_BUTTON;
    default: return PW_MOD_MIDDLE_BUTTON;
  }
}

inst_t *core_of(const TarvelonKoppelGui *g) { return (g && g->plugin) ? g->plugin->ci : nullptr; }

// Editors open in this process: together they draw on one GUI thread.
std::atomic<int32_t> g_open_editors{0};

int64_t now_us() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// CPU time of the calling thread (µs): what a frame costs the host's GUI
// thread, whatever else the machine is doing. Wall time where the system's
// thread clock is too coarse.
int64_t thread_cpu_us() {
#if defined(_WIN32)
  return now_us();
#else
  timespec t{};
  if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t) != 0) return now_us();
  return int64_t(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
#endif
}

// Nothing on screen would move: no audio, or audio whose spectrum is black
// and stays black (hosts process silence while stopped); no clip light, no
// fade visible any more (handles fade as exp(-t²): below a 16-bit step from
// 3.5 on), no recomputation, caption or knob value waiting. The dashes and
// rings then rest; an open text entry (its caret) does not.
bool still(const TarvelonKoppelGui *g, inst_t *ci) {
  const double mo = ci->mouseout_time;
  if (!((mo == 0.0 || mo >= 3.5) && !(ci->max_sample > 0.0) && !ci->fft_mag_changed && !ci->spline_changed &&
        !ci->vzoom_changed && !ci->hzoom_changed && !ci->fb_size_changed && !ci->diff_eq.is_set() &&
        ci->print_delay != 2 && !ci->grabbed && !tarvelon_knob_textedit_is_active(ci)))
    return false;
  const TarvelonKoppelPlugin *p = g->plugin;
  for (uint32_t id = 0; id < kKoppelParamCount; id++)
    if (p->params[id].value.load() != g->shownValues[id]) return false;
  if (ci->time_since_proc >= 1000.0) return !ci->last2k_changed;
  return tarvelon_spectrum_stays_dark(ci) != 0;
}

void sync_bands(inst_t *ci) {
  vl_lock_guard lock(ci->proc_reinit_sem);
  tarvelon_sync_eq_params_from_user_input(ci);
}

void save_pending_prefs(inst_t *ci) {
  if (!ci || !ci->prefsave_pending) return;
  ci->prefsave_pending = 0;
  ci->time_since_prefsave = 0.0;
  tarvelon_save_prefs(ci);
}

// Clipboard access for the key handler, through the window layer.
void clip_set(void *ud, const char *text) { pw_set_clipboard_text(static_cast<KoppelWindow *>(ud), text ? text : ""); }
char *clip_get(void *ud) {
  char *text = nullptr;
  size_t len = 0;
  return pw_get_clipboard_text(static_cast<KoppelWindow *>(ud), &text, &len) ? text : nullptr;
}
void clip_free(void *, char *text) {
  if (text) pw_free_clipboard_text(text);
}

bool is_integer_param(const TarvelonKoppelPlugin *p, int32_t id) {
  return id >= 0 && uint32_t(id) < kKoppelParamCount && p->params[id].type != TARVELON_KOPPEL_PARAM_DOUBLE;
}

int32_t half_size(const TarvelonKoppelControl &c) { return c.halfSize > 0 ? c.halfSize : 30; }

void drag_knob(TarvelonKoppelGui *g, float y, uint32_t mods) {
  TarvelonKoppelPlugin *p = g->plugin;
  const int32_t k = g->activeKnob;
  const int32_t id = p->controls[k].paramId;
  if (id < 0 || uint32_t(id) >= kKoppelParamCount || !p->ci->cpos) return;
  const ctrl_pos_t &c = p->ci->cpos[k];
  // The knob's square is scaled with the editor, so a drag of one logical
  // pixel turns a knob as far as one pixel does at 1×.
  const double h = half_size(p->controls[k]) * tarvelon_ui_scale(p->ci);
  const int ctrl = (mods & PW_MOD_KEY_CTRL) ? 1 : 0, shift = (mods & PW_MOD_KEY_SHIFT) ? 1 : 0;
  if (is_integer_param(p, id)) {
    const double d = tarvelon_knob_drag_delta(1, 1.0, ctrl, shift, c.gx - h, c.gy - h, c.gx + h, c.gy + h, 0.0,
                                              double(int32_t(y - g->activeKnobStartY)));
    const TarvelonKoppelParam &prm = p->params[id];
    tarvelon_koppel_set_knob_native_value(p, k, g->activeKnobStartNativeValue + d * (prm.maxValue - prm.minValue));
  } else {
    const double d = tarvelon_knob_drag_delta(1, 4.0, ctrl, shift, c.gx - h, c.gy - h, c.gx + h, c.gy + h, 0.0,
                                              double(int32_t(y - g->lastY)));
    tarvelon_koppel_set_knob_normalized(p, k, p->controls[k].normalizedValue + d);
  }
}

void wheel_knob(TarvelonKoppelPlugin *p, int32_t k, int32_t clicks, uint32_t mods) {
  const int32_t id = p->controls[k].paramId;
  if (id < 0 || uint32_t(id) >= kKoppelParamCount) return;
  if (is_integer_param(p, id)) {
    const double step = p->params[id].step > 0.0 ? p->params[id].step : 1.0;
    tarvelon_koppel_set_knob_native_value(p, k, p->params[id].value + clicks * step);
  } else {
    const double unit = (mods & (PW_MOD_KEY_CTRL | PW_MOD_KEY_SHIFT)) ? 0.001 : 0.01;
    tarvelon_koppel_set_knob_normalized(p, k, p->controls[k].normalizedValue + clicks * unit);
  }
}

void press_knob(TarvelonKoppelGui *g, int32_t k, const PWEvent &e, bool dbl) {
  TarvelonKoppelPlugin *p = g->plugin;
  TarvelonKoppelControl &c = p->controls[k];
  const int32_t id = c.paramId;
  tarvelon_koppel_update_control_value(p, k, id);
  g->activeKnob = k;
  if (dbl && id >= 0 && uint32_t(id) < kKoppelParamCount) {
    double n = c.defaultNormalizedValue;
    if (!(n >= 0.0)) n = koppel_normaliseParameterValue(p, uint32_t(id), p->params[id].defaultValue);
    if (!(n >= 0.0)) n = c.normalizedValue;
    tarvelon_koppel_set_knob_normalized(p, k, std::fmin(std::fmax(n, 0.0), 1.0));
  }
  g->activeKnobStartX = e.mouse.x, g->activeKnobStartY = e.mouse.y;
  g->activeKnobStartNativeValue = (id >= 0 && uint32_t(id) < kKoppelParamCount) ? p->params[id].value.load() : 0.0;
}

// A release that never came (focus or grab lost, editor closed mid-drag).
void end_lost_press(TarvelonKoppelGui *g, inst_t *ci) {
  if (!g->buttonsHeld) return;
  g->buttonsHeld = 0;
  g->activeKnob = -1;
  const int saved = g->plugin->notifyHost.exchange(1);
  tarvelon_on_mouse_up(ci);
  sync_bands(ci);
  tarvelon_undo_end_edit(ci);
  g->plugin->notifyHost = saved;
}

void replay_key(TarvelonKoppelGui *g, inst_t *ci, const PWEvent &e) {
  const tarvelon_clipboard_t clip{g->pw, clip_set, clip_get, clip_free};
  switch (e.type) {
    case PW_EVENT_TEXT: {
      char utf8[5];
      for (int i = 0; i < 4; i++) utf8[i] = char((e.text.codepoint >> (8 * i)) & 0xFF);
      utf8[4] = 0;
      tarvelon_on_text_input(ci, utf8);
      break;
    }
    case PW_EVENT_KEY_DOWN: {
      const uint32_t m = e.key.modifiers;
      tarvelon_on_key_down(ci, int32_t(e.key.virtual_key), (m & PW_MOD_KEY_CTRL) != 0, (m & PW_MOD_KEY_SHIFT) != 0,
                           (m & PW_MOD_KEY_ALT) != 0, &clip);
      break;
    }
    case PW_EVENT_KEY_FOCUS_LOST:
      tarvelon_on_key_focus_lost(ci);
      end_lost_press(g, ci);
      break;
    default: break;
  }
}

// Pointer events while a knob text field owns the mouse.
void replay_claimed(TarvelonKoppelGui *g, inst_t *ci, const PWEvent &e) {
  if (is_release(e.type)) {
    g->activeKnob = -1;
    if (ci->grabbed) {
      tarvelon_on_mouse_up(ci);
      sync_bands(ci);
    }
  } else if (e.type == PW_EVENT_MOUSE_EXIT) {
    tarvelon_on_mouse_out(ci);
  } else if (e.type == PW_EVENT_MOUSE_ENTER) {
    pw_get_keyboard_focus(g->pw);
  }
  if (e.type != PW_EVENT_MOUSE_WHEEL && e.type != PW_EVENT_MOUSE_EXIT) g->lastX = e.mouse.x, g->lastY = e.mouse.y;
}

void replay_pointer(TarvelonKoppelGui *g, inst_t *ci, const PWEvent &e) {
  TarvelonKoppelPlugin *p = g->plugin;
  const int32_t x = int32_t(e.mouse.x), y = int32_t(e.mouse.y);
  const uint32_t m = e.mouse.modifiers;
  switch (e.type) {
    case PW_EVENT_MOUSE_EXIT: tarvelon_on_mouse_out(ci); break;
    case PW_EVENT_MOUSE_ENTER:
      pw_get_keyboard_focus(g->pw);
      tarvelon_on_mouse_over(ci, x, y);
      g->cursor = PW_CURSOR_ARROW;  // the window shows the arrow on entering
      break;
    case PW_EVENT_MOUSE_WHEEL: {
      const int32_t k = tarvelon_koppel_find_knob_at(p, g->lastX, g->lastY);
      tarvelon_on_key_focus_lost(ci);
      const int32_t clicks = int32_t(e.mouse.y / 120.0f);
      if (k < 0) {
        tarvelon_on_mouse_wheel(ci, int32_t(g->lastX), int32_t(g->lastY), clicks);
        sync_bands(ci);
      } else {
        wheel_knob(p, k, clicks, m);
      }
      break;
    }
    case PW_EVENT_MOUSE_LEFT_DOWN: {
      pw_get_keyboard_focus(g->pw);
      const bool dbl = tarvelon_koppel_recent_double_click(g, &e);
      const int32_t k = tarvelon_koppel_find_knob_at(p, e.mouse.x, e.mouse.y);
      if (k >= 0) {
        press_knob(g, k, e, dbl);
      } else {
        if (dbl) tarvelon_on_mouse_dblclick(ci, x, y, 1);
        else tarvelon_on_mouse_down(ci, x, y, 1);
        sync_bands(ci);
      }
      g->lastLeftClickTimeMs = e.mouse.time_ms ? e.mouse.time_ms : 1;
      g->lastLeftClickX = e.mouse.x, g->lastLeftClickY = e.mouse.y;
      break;
    }
    case PW_EVENT_MOUSE_RIGHT_DOWN:
      pw_get_keyboard_focus(g->pw);
      tarvelon_on_mouse_down(ci, x, y, 0);
      break;
    case PW_EVENT_MOUSE_MIDDLE_DOWN: break;
    case PW_EVENT_MOUSE_LEFT_UP:
    case PW_EVENT_MOUSE_RIGHT_UP:
    case PW_EVENT_MOUSE_MIDDLE_UP:
      g->activeKnob = -1;
      tarvelon_on_mouse_up(ci);
      sync_bands(ci);
      break;
    case PW_EVENT_MOUSE_MOVE:
      if (g->activeKnob >= 0 && (m & PW_MOD_LEFT_BUTTON)) {
        drag_knob(g, e.mouse.y, m);
      } else if (!(m & (PW_MOD_LEFT_BUTTON | PW_MOD_RIGHT_BUTTON | PW_MOD_MIDDLE_BUTTON))) {
        tarvelon_on_mouse_over(ci, x, y);
      } else {
        tarvelon_on_mouse_drag(ci, x, y, x - int32_t(g->lastX), (m & PW_MOD_RIGHT_BUTTON) != 0,
                               (m & PW_MOD_MIDDLE_BUTTON) != 0, (m & PW_MOD_LEFT_BUTTON) != 0);
        sync_bands(ci);
      }
      break;
    default: break;
  }
  if (e.type != PW_EVENT_MOUSE_WHEEL && e.type != PW_EVENT_MOUSE_EXIT) g->lastX = e.mouse.x, g->lastY = e.mouse.y;
}

// The core's process_gui_frame: the queue replayed inside the frame.
void replay_queue(TarvelonKoppelGui *g, inst_t *ci, int32_t mouse_claimed) {
  TarvelonKoppelPlugin *p = g->plugin;
  const int saved = p->notifyHost.exchange(1);
  const uint32_t n = g->inputEventCount;
  g->replayEnd = n;
  for (uint32_t i = 0; i < n; i++) {
    const PWEvent e = g->inputEvents[i];
    if (is_press(e.type)) {
      tarvelon_undo_begin_edit(ci);
      g->buttonsHeld |= button_bit(e.type);
    }
    if (mouse_claimed && is_pointer(e.type)) replay_claimed(g, ci, e);
    else if (is_pointer(e.type)) replay_pointer(g, ci, e);
    else replay_key(g, ci, e);
    if (is_release(e.type)) {
      g->buttonsHeld &= ~button_bit(e.type);
      tarvelon_undo_end_edit(ci);
    } else if (e.type == PW_EVENT_KEY_FOCUS_LOST) {
      tarvelon_undo_end_edit(ci);
    }
  }
  // Only what was replayed leaves the queue; events that arrived meanwhile stay.
  const uint32_t rest = g->inputEventCount - n;
  std::memmove(g->inputEvents, g->inputEvents + n, rest * sizeof(PWEvent));
  g->inputEventCount = rest;
  g->replayEnd = 0;
  p->notifyHost = saved;
}

void mouse_update(TarvelonKoppelGui *g, inst_t *ci, const PWEvent &e) {
  int32_t action = TV_MOUSE_MOVE;
  switch (e.type) {
    case PW_EVENT_MOUSE_LEFT_DOWN: action = TV_MOUSE_LEFT_DOWN; break;
    case PW_EVENT_MOUSE_LEFT_UP: action = TV_MOUSE_LEFT_UP; break;
    case PW_EVENT_MOUSE_RIGHT_DOWN: action = TV_MOUSE_RIGHT_DOWN; break;
    case PW_EVENT_MOUSE_RIGHT_UP: action = TV_MOUSE_RIGHT_UP; break;
    case PW_EVENT_MOUSE_MIDDLE_DOWN: action = TV_MOUSE_MIDDLE_DOWN; break;
    case PW_EVENT_MOUSE_MIDDLE_UP: action = TV_MOUSE_MIDDLE_UP; break;
    case PW_EVENT_MOUSE_ENTER: action = TV_MOUSE_ENTER; break;
    case PW_EVENT_MOUSE_EXIT: action = TV_MOUSE_EXIT; break;
    case PW_EVENT_MOUSE_WHEEL: action = TV_MOUSE_WHEEL; break;
    default: break;
  }
  const bool collected = e.type == PW_EVENT_MOUSE_EXIT || e.type == PW_EVENT_MOUSE_WHEEL;
  const int32_t x = int32_t(collected ? g->collectedX : e.mouse.x), y = int32_t(collected ? g->collectedY : e.mouse.y);
  const int32_t clicks = (e.type == PW_EVENT_MOUSE_LEFT_DOWN && tarvelon_koppel_recent_double_click(g, &e)) ? 2 : 1;
  const int32_t wheel = e.type == PW_EVENT_MOUSE_WHEEL ? int32_t(e.mouse.y / 120.0f) : 0;
  const uint32_t m = e.mouse.modifiers;
  tarvelon_on_vantalib_mouse_event(ci, x, y, action, clicks, wheel, (m & PW_MOD_KEY_CTRL) != 0,
                                   (m & PW_MOD_KEY_SHIFT) != 0, (m & PW_MOD_KEY_ALT) != 0);
  if (!collected) g->collectedX = e.mouse.x, g->collectedY = e.mouse.y;
}

// A frame outside the timer (after a resize): nested ticks stay refused during it.
// The editor may be closed by the host inside the frame (its edit reports go
// out at the frame's last unlock): then the record is freed here, last.
// Returns false when it was.
bool draw_now(TarvelonKoppelGui *g) {
  if (g->ticking) return true;
  g->ticking = true;
  tarvelon_koppel_draw_gui(g);
  g->ticking = false;
  if (!g->closing) return true;
  std::free(g);
  return false;
}

bool resize(TarvelonKoppelGui *g, uint32_t w, uint32_t h, bool remember = true) {
  TarvelonKoppelPlugin *p = g->plugin;
  inst_t *ci = p->ci;
  int32_t min_w = 0, min_h = 0, max_w = 0, max_h = 0;
  tarvelon_editor_pixel_limits(ci, &min_w, &min_h, &max_w, &max_h);
  w = clamp_u(w, min_w, max_w);
  h = clamp_u(h, min_h, max_h);
  g->activeKnob = -1;
  const bool installed = ci->composite.srgb == reinterpret_cast<srgb_t *>(p->drawPixels) &&
                         ci->composite_ctx.r.srgb == ci->composite.srgb;
  if (p->drawPixels && p->drawWidth == w && p->drawHeight == h && ci->fb.w == int32_t(w) &&
      ci->fb.h == int32_t(h) && installed) {
    draw_now(g);
    return true;
  }
  // The editor stays as it was unless both the new bitmap and the new layout are made.
  auto *pixels = static_cast<uint32_t *>(std::calloc(size_t(w) * h, sizeof(uint32_t)));
  if (!pixels) return false;
  if (!tarvelon_resize_editor(ci, int32_t(w), int32_t(h)) || ci->fb.w != int32_t(w) || ci->fb.h != int32_t(h)) {
    std::free(pixels);
    return false;
  }
  g->owedCount = 0;  // the frame below shows the whole new bitmap
  {
    vl_lock_guard draw(ci->draw_reinit_sem);
    uint32_t *old = p->drawPixels;
    p->drawPixels = pixels, p->drawWidth = w, p->drawHeight = h;
    ci->composite.srgb = reinterpret_cast<srgb_t *>(pixels);
    sync_vantalib_framebuffers(ci);
    std::free(old);
  }
  if (remember) {
    // Remembered in logical pixels: the same apparent size on a screen of another scale.
    int32_t lw = 0, lh = 0;
    tarvelon_pixels_to_logical(ci, ci->fb.w, ci->fb.h, &lw, &lh);
    tarvelon_remember_gui_size(ci, lw, lh);
  }
  ci->fft_mag_changed = 1, ci->last2k_changed = 1, ci->spline_changed = 1;
  ci->vzoom_changed = 1, ci->hzoom_changed = 1;
  draw_now(g);
  return true;
}
}  // namespace

void tarvelon_koppel_process_gui_frame(void *ud, inst_t *ci, int32_t mouse_claimed) noexcept {
  auto *p = static_cast<TarvelonKoppelPlugin *>(ud);
  if (!p || !p->gui || p->ci != ci || !ci) return;
  replay_queue(p->gui, ci, mouse_claimed);
}

bool tarvelon_koppel_bind_draw_bitmap(TarvelonKoppelPlugin *p) noexcept {
  if (!p || !p->ci || p->ci->fb.w <= 0 || p->ci->fb.h <= 0) return false;
  inst_t *ci = p->ci;
  const uint32_t w = uint32_t(ci->fb.w), h = uint32_t(ci->fb.h);
  vl_lock_guard draw(ci->draw_reinit_sem);
  if (!p->drawPixels || p->drawWidth != w || p->drawHeight != h) {
    auto *pixels = static_cast<uint32_t *>(std::calloc(size_t(w) * h, sizeof(uint32_t)));
    if (!pixels) return false;
    std::free(p->drawPixels);
    p->drawPixels = pixels, p->drawWidth = w, p->drawHeight = h;
  }
  ci->composite.srgb = reinterpret_cast<srgb_t *>(p->drawPixels);
  sync_vantalib_framebuffers(ci);
  return ci->composite_ctx.r.srgb == ci->composite.srgb;
}

bool tarvelon_koppel_frame_due(const TarvelonKoppelGui *g, int64_t now) noexcept {
  inst_t *ci = core_of(g);
  if (!ci) return false;
  if (g->framesDrawn == 0) return true;
  // The analyser keeps capturing while the editor is open, even when no frame
  // is drawn: sound after silence must reach the still check below.
  ci->screen_timeout = 0;
  // Queued input is replayed at once (a drag follows the pointer; the host's
  // timer already spaces the ticks), everything else at the frame rate.
  if (g->inputEventCount > 0) return true;
  const double since = double(now - g->lastFrameUs);
  if (since < double(kKoppelMinFrameSpacingUs)) return false;
  if (now - g->lastInputUs >= kKoppelInteractiveUs && still(g, ci)) return false;
  // All editors together take at most half of the host's GUI thread; at
  // least ten frames a second each, whatever one frame costs.
  const double alone = g->frameCostUs / kKoppelFrameBudget;
  const double shared = g->frameCostUs * double(std::max(1, g_open_editors.load())) / kKoppelSharedBudget;
  const double spacing = std::fmin(std::fmax(double(kKoppelMinFrameSpacingUs), std::fmax(alone, shared)), 1e5);
  return since >= spacing;
}

namespace {
// Sends the owed rectangles to the window; false when nothing was owed.
bool present_rects(TarvelonKoppelGui *g) {
  if (!g->owedCount) return false;
  const uint32_t n = g->owedCount;
  g->owedCount = 0;
  TarvelonKoppelPlugin *p = g->plugin;
  if (g->closing || !g->pw || !p || !p->drawPixels) return true;
  for (uint32_t i = 0; i < n && i < 8; i++) {
    const uint32_t *r = g->owedRects[i];
    pw_present_rect(g->pw, p->drawPixels, p->drawWidth, p->drawHeight, r[0], r[1], r[2], r[3]);
  }
  return true;
}

// The end of a frame (drawn in one tick or several): what it changed goes to
// the window (now, or on the next tick when it is very large), the pointer
// shape follows, and the frame's cost, all its parts, spaces the next.
void finish_frame(TarvelonKoppelGui *g, inst_t *ci) {
  TarvelonKoppelPlugin *p = g->plugin;
  const int64_t c0 = thread_cpu_us();
  recti_t dirty[8];
  const int32_t n = tarvelon_frame_dirty_rects(ci, dirty, 8);
  uint64_t changed = 0;
  for (int32_t i = 0; i < n; i++) {
    const uint32_t w = uint32_t(dirty[i].p1.x - dirty[i].p0.x), h = uint32_t(dirty[i].p1.y - dirty[i].p0.y);
    g->owedRects[i][0] = uint32_t(dirty[i].p0.x), g->owedRects[i][1] = uint32_t(dirty[i].p0.y);
    g->owedRects[i][2] = w, g->owedRects[i][3] = h;
    changed += uint64_t(w) * h;
  }
  g->owedCount = uint32_t(n);
  if (changed <= kKoppelSplitPresentPixels) present_rects(g);  // its cost is the frame's, below
  // An open hand over what can be dragged, a closed one while dragging.
  int32_t cursor = PW_CURSOR_ARROW;
  if (ci->grabbed || g->activeKnob >= 0) cursor = PW_CURSOR_HAND_DRAGGING;
  else if (ci->hover || tarvelon_koppel_find_knob_at(p, g->lastX, g->lastY) >= 0) cursor = PW_CURSOR_HAND_DRAGGABLE;
  if (cursor != g->cursor) {
    pw_set_mouse_cursor(g->pw, cursor);
    g->cursor = cursor;
  }
  const double cost = double(g->frameCpuUs + (thread_cpu_us() - c0));
  g->frameCostUs = g->framesDrawn == 0 ? cost : 0.75 * g->frameCostUs + 0.25 * cost;
  g->lastFrameUs = g->frameStartUs;  // frames are spaced start to start
  g->framesDrawn++;
  static_assert(kKoppelParamCount <= sizeof g->shownValues / sizeof g->shownValues[0]);
  for (uint32_t id = 0; id < kKoppelParamCount; id++) g->shownValues[id] = p->params[id].value.load();
}
}  // namespace

void tarvelon_koppel_draw_gui(TarvelonKoppelGui *g) noexcept {
  inst_t *ci = core_of(g);
  if (!ci || ci->fb.w <= 0 || ci->fb.h <= 0) return;
  TarvelonKoppelPlugin *p = g->plugin;
  const bool fits = p->drawPixels && p->drawWidth == uint32_t(ci->fb.w) && p->drawHeight == uint32_t(ci->fb.h);
  const bool installed = ci->composite.srgb == reinterpret_cast<srgb_t *>(p->drawPixels) &&
                         ci->composite_ctx.r.srgb == ci->composite.srgb && ci->composite_ctx.r.w == ci->fb.w &&
                         ci->composite_ctx.r.h == ci->fb.h;
  tarvelon_koppel_present_owed(g);  // the pixels are about to change: what is owed goes first
  if ((!fits || !installed) && !tarvelon_koppel_bind_draw_bitmap(p)) return;
  g->frameStartUs = now_us();
  const int64_t c0 = thread_cpu_us();
  tarvelon_publish_owed_horizontal_view(ci);  // a view the audio thread could not publish
  // A frame larger than a tick's share is finished on the next ticks; what
  // a pending frame left is drawn with this one.
  tarvelon_draw_frame_within(ci, kKoppelFramePixelsPerTick);
  if (g->closing) return;  // closed by the host from inside the frame: its window is gone
  g->frameCpuUs = thread_cpu_us() - c0;
  if (!tarvelon_frame_pending(ci)) finish_frame(g, ci);
}

bool tarvelon_koppel_continue_frame(TarvelonKoppelGui *g) noexcept {
  inst_t *ci = core_of(g);
  if (!ci || !tarvelon_frame_pending(ci)) return false;
  const int64_t c0 = thread_cpu_us();
  const bool done = tarvelon_continue_frame(ci, kKoppelFramePixelsPerTick) != 0;
  g->frameCpuUs += thread_cpu_us() - c0;
  if (done && !g->closing) finish_frame(g, ci);
  return true;
}

bool tarvelon_koppel_present_owed(TarvelonKoppelGui *g) noexcept {
  if (!g) return false;
  const int64_t c0 = thread_cpu_us();
  if (!present_rects(g)) return false;
  // The frame it shows is already counted in the smoothed cost, with the
  // weight of the latest frame: showing it adds to that frame's share.
  const double cost = double(thread_cpu_us() - c0);
  if (g->framesDrawn > 0) g->frameCostUs += (g->framesDrawn == 1 ? 1.0 : 0.25) * cost;
  return true;
}

bool tarvelon_koppel_queue_input_event(TarvelonKoppelGui *g, const PWEvent *e) noexcept {
  if (!g || !e) return false;
  uint32_t &n = g->inputEventCount;
  if (e->type == PW_EVENT_MOUSE_MOVE && n > g->replayEnd && g->inputEvents[n - 1].type == PW_EVENT_MOUSE_MOVE) {
    g->inputEvents[n - 1] = *e;
    return true;
  }
  if (n >= kKoppelGuiQueueSize) {
    // Room comes from the oldest move (or wheel) not being replayed; a button
    // event may also push out the oldest other non-button event.
    int32_t victim = -1;
    for (uint32_t i = g->replayEnd; i < n && victim < 0; i++)
      if (g->inputEvents[i].type == PW_EVENT_MOUSE_MOVE) victim = int32_t(i);
    for (uint32_t i = g->replayEnd; i < n && victim < 0; i++)
      if (droppable(g->inputEvents[i].type)) victim = int32_t(i);
    if (victim < 0 && (is_press(e->type) || is_release(e->type)))
      for (uint32_t i = g->replayEnd; i < n && victim < 0; i++)
        if (!is_press(g->inputEvents[i].type) && !is_release(g->inputEvents[i].type)) victim = int32_t(i);
    if (victim < 0) return false;
    std::memmove(g->inputEvents + victim, g->inputEvents + victim + 1, (n - uint32_t(victim) - 1) * sizeof(PWEvent));
    n--;
  }
  g->inputEvents[n++] = *e;
  return true;
}

int32_t tarvelon_koppel_find_knob_at(TarvelonKoppelPlugin *p, float x, float y) noexcept {
  if (!p || !p->ci || !p->ci->cpos) return -1;
  const int32_t count = p->ci->ctrlcount < kKoppelControlCount ? p->ci->ctrlcount : kKoppelControlCount;
  for (int32_t k = kKoppelControlCount - 1; k >= 0; k--) {
    const TarvelonKoppelControl &c = p->controls[k];
    if (k >= count || !c.attached || c.paramId < 0) continue;
    const ctrl_pos_t &pos = p->ci->cpos[k];
    const float h = float(half_size(c) * tarvelon_ui_scale(p->ci));
    if (pos.type == 1 && pos.gx - h <= x && x < pos.gx + h && pos.gy - h <= y && y < pos.gy + h) return k;
  }
  return -1;
}

bool tarvelon_koppel_recent_double_click(const TarvelonKoppelGui *g, const PWEvent *e) noexcept {
  if (!g || !e || g->lastLeftClickTimeMs == 0) return false;
  const uint32_t interval = e->mouse.double_click_interval_ms ? e->mouse.double_click_interval_ms
                                                              : kKoppelDefaultDoubleClickMs;
  const float dx = e->mouse.x - g->lastLeftClickX, dy = e->mouse.y - g->lastLeftClickY;
  const float r = 5.0f * float(tarvelon_ui_scale(g->plugin ? g->plugin->ci : nullptr));  // 5 logical pixels
  return uint32_t(e->mouse.time_ms - g->lastLeftClickTimeMs) <= interval && dx * dx + dy * dy <= r * r;
}

// Window-layer callbacks.

void pw_get_info(PWGetInfo *info) noexcept {
  if (!info) return;
  if (info->type == PW_INFO_INIT_SIZE) {
    const auto *p = static_cast<TarvelonKoppelPlugin *>(info->init_size.plugin);
    const bool sized = p && p->ci && p->ci->fb.w > 0 && p->ci->fb.h > 0;
    info->init_size.width = sized ? uint32_t(p->ci->fb.w) : 512;
    info->init_size.height = sized ? uint32_t(p->ci->fb.h) : 512;
  } else if (info->type == PW_INFO_CONSTRAIN_SIZE) {
    // Pixel limits at the editor's scale (the logical minimum scaled).
    const auto *g = static_cast<const TarvelonKoppelGui *>(info->constrain_size.gui);
    int32_t min_w = kEditorMinWidth, min_h = kEditorMinHeight, max_w = kEditorMaxWidth, max_h = kEditorMaxHeight;
    if (inst_t *ci = core_of(g)) tarvelon_editor_pixel_limits(ci, &min_w, &min_h, &max_w, &max_h);
    info->constrain_size.width = clamp_u(info->constrain_size.width, min_w, max_w);
    info->constrain_size.height = clamp_u(info->constrain_size.height, min_h, max_h);
  }
}

void *pw_create_gui(void *plugin, KoppelWindow *pw) noexcept {
  auto *p = static_cast<TarvelonKoppelPlugin *>(plugin);
  if (!p) return nullptr;
  auto *g = static_cast<TarvelonKoppelGui *>(std::calloc(1, sizeof(TarvelonKoppelGui)));
  if (!g) return nullptr;
  g->plugin = p;
  g->pw = pw;
  g->activeKnob = -1;
  if (p->ci) g->hasStorage = tarvelon_editor_storage_acquire(p->ci) != 0;
  p->gui = g;
  g_open_editors++;
  return g;
}

void pw_destroy_gui(void *gui) noexcept {
  auto *g = static_cast<TarvelonKoppelGui *>(gui);
  if (!g) return;
  TarvelonKoppelPlugin *p = g->plugin;
  inst_t *ci = core_of(g);
  if (ci) {
    end_lost_press(g, ci);
    save_pending_prefs(ci);
    {
      vl_lock_guard draw(ci->draw_reinit_sem);
      ci->composite.srgb = nullptr;
      sync_vantalib_framebuffers(ci);
    }
    if (g->hasStorage) tarvelon_editor_storage_release(ci);
  }
  if (p && p->gui == g) p->gui = nullptr;
  g_open_editors--;
  if (g->ticking) {  // inside this editor's own frame: the frame frees it as it unwinds
    g->closing = true;
    g->pw = nullptr;
    return;
  }
  std::free(g);
}

void pw_tick(void *gui) noexcept {
  auto *g = static_cast<TarvelonKoppelGui *>(gui);
  // A host may pump its events inside our edit report: that tick is refused.
  if (!g || g->ticking || g->closing) return;
  if (tarvelon_koppel_present_owed(g)) return;  // the last frame's pixels, in a tick of their own
  if (tarvelon_koppel_continue_frame(g)) return;  // the next part of a large frame
  if (tarvelon_koppel_frame_due(g, now_us())) draw_now(g);
}

void pw_expose(void *gui) noexcept {
  auto *g = static_cast<TarvelonKoppelGui *>(gui);
  if (!g || !g->plugin || !g->plugin->drawPixels) return;
  pw_present(g->pw, g->plugin->drawPixels, g->plugin->drawWidth, g->plugin->drawHeight);
}

bool pw_event(const PWEvent *e) noexcept {
  auto *g = e ? static_cast<TarvelonKoppelGui *>(e->gui) : nullptr;
  inst_t *ci = core_of(g);
  if (!ci) return false;
  g->lastInputUs = now_us();
  switch (e->type) {
    case PW_EVENT_RESIZE_UPDATE: return resize(g, e->resize.width, e->resize.height);
    case PW_EVENT_RESIZE_END: save_pending_prefs(ci); return false;
    case PW_EVENT_CONTENT_SCALE_FACTOR_CHANGED: {
      // The whole editor is laid out again at the new scale, keeping its
      // logical size (the remembered one).
      const float s = e->content_scale_factor;
      if (!(s > 0.0f) || !std::isfinite(s)) return false;
      int32_t lw = 0, lh = 0;
      tarvelon_pixels_to_logical(ci, ci->fb.w, ci->fb.h, &lw, &lh);
      if (ci->gui_width > 0 && ci->gui_height > 0) lw = ci->gui_width, lh = ci->gui_height;
      const bool changed = tarvelon_set_ui_scale(ci, double(s)) != 0;
      int32_t w = 0, h = 0;
      tarvelon_logical_to_pixels(ci, lw, lh, &w, &h);
      if (ci->fb.w == w && ci->fb.h == h) {
        if (!changed) return false;
        // The same pixels at another scale: only the layout changes.
        if (!tarvelon_resize_editor(ci, w, h)) return false;
        draw_now(g);
        return true;
      }
      return resize(g, uint32_t(w), uint32_t(h), false);
    }
    case PW_EVENT_KEY_DOWN: {
      const uint32_t m = e->key.modifiers;
      const bool undo_key = (e->key.virtual_key == PW_KEY_Y || e->key.virtual_key == PW_KEY_Z) &&
                            (m & PW_MOD_KEY_CTRL) && !(m & PW_MOD_KEY_ALT);
      if (!tarvelon_knob_textedit_is_active(ci) && !undo_key) return false;
      return tarvelon_koppel_queue_input_event(g, e);
    }
    case PW_EVENT_TEXT: return tarvelon_knob_textedit_is_active(ci) && tarvelon_koppel_queue_input_event(g, e);
    case PW_EVENT_KEY_UP: return tarvelon_knob_textedit_is_active(ci) != 0;
    case PW_EVENT_KEY_FOCUS_LOST:
      tarvelon_on_vantalib_focus_lost_event(ci);
      tarvelon_koppel_queue_input_event(g, e);
      return false;
    case PW_EVENT_MOUSE_MOVE:
    case PW_EVENT_MOUSE_ENTER:
    case PW_EVENT_MOUSE_EXIT:
    case PW_EVENT_MOUSE_WHEEL:
    case PW_EVENT_MOUSE_LEFT_DOWN:
    case PW_EVENT_MOUSE_RIGHT_DOWN:
    case PW_EVENT_MOUSE_MIDDLE_DOWN:
    case PW_EVENT_MOUSE_LEFT_UP:
    case PW_EVENT_MOUSE_RIGHT_UP:
    case PW_EVENT_MOUSE_MIDDLE_UP:
      mouse_update(g, ci, *e);
      tarvelon_koppel_queue_input_event(g, e);
      return true;
    default: return false;
  }
}
