// A wrapper instance with an editor but no window: events go in through
// pw_event and frames are drawn with pw_tick.
#pragma once
#include "koppel_gui_bridge.h"
#include "state/eq.h"
#include "support/fake_adapter.h"
#include "system/inst.h"

struct bridge {
  test_plugin t;
  TarvelonKoppelGui *g = nullptr;
  uint32_t clock = 1000;
  bridge() {
    g = static_cast<TarvelonKoppelGui *>(pw_create_gui(t.p, nullptr));
    pw_tick(g);  // lays out band points and knobs
  }
  ~bridge() { pw_destroy_gui(g); }
  inst_t *ci() const { return t.p->ci; }

  bool send(PWEventType type, float x, float y, uint32_t mods = 0) {
    PWEvent e{};
    e.type = type;
    e.gui = g;
    e.mouse.x = x, e.mouse.y = y;
    e.mouse.modifiers = mods;
    e.mouse.time_ms = clock += 700;  // far apart unless a test says otherwise
    return pw_event(&e);
  }
  bool key(uint32_t vk, uint32_t mods) {
    PWEvent e{};
    e.type = PW_EVENT_KEY_DOWN;
    e.gui = g;
    e.key.virtual_key = PWVirtualKey(vk);
    e.key.modifiers = mods;
    return pw_event(&e);
  }
  void drag(float x0, float y0, float x1, float y1, uint32_t mods = 0) {
    send(PW_EVENT_MOUSE_MOVE, x0, y0, mods);
    send(PW_EVENT_MOUSE_LEFT_DOWN, x0, y0, mods | PW_MOD_LEFT_BUTTON);
    pw_tick(g);
    send(PW_EVENT_MOUSE_MOVE, x1, y1, mods | PW_MOD_LEFT_BUTTON);
    pw_tick(g);
    send(PW_EVENT_MOUSE_LEFT_UP, x1, y1, mods);
    pw_tick(g);
  }
  int first_band_on() const {
    for (int b = 0; b < kBandCount; b++)
      if (ci()->equ[b].on) return b;
    return -1;
  }
  double param(uint32_t id) const { return koppel_getParameterValue(t.p, id); }
  // Typed text, one character an event, as a window sends it.
  void type(const char *utf8) {
    for (const unsigned char *s = reinterpret_cast<const unsigned char *>(utf8); *s;) {
      const int len = *s < 0x80 ? 1 : (*s >> 5) == 6 ? 2 : (*s >> 4) == 14 ? 3 : 4;
      PWEvent e{};
      e.type = PW_EVENT_TEXT;
      e.gui = g;
      for (int i = 0; i < len && s[i]; i++) e.text.codepoint |= uint32_t(s[i]) << (8 * i);
      pw_event(&e);
      s += len;
    }
  }
  // A right click on knob k opens its text field at the next frame.
  void open_field(int k) {
    const ctrl_pos_t &c = knob(k);
    send(PW_EVENT_MOUSE_MOVE, float(c.gx), float(c.gy));
    send(PW_EVENT_MOUSE_RIGHT_DOWN, float(c.gx), float(c.gy), PW_MOD_RIGHT_BUTTON);
    send(PW_EVENT_MOUSE_RIGHT_UP, float(c.gx), float(c.gy));
    pw_tick(g);
    pw_tick(g);
  }
  const ctrl_pos_t &knob(int k) const { return ci()->cpos[k]; }
};

