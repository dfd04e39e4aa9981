// The X11 window layer's record and the helpers its files share. One X
// connection per editor window, used only on the host's GUI thread.
#pragma once
#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>

#include <cstddef>
#include <cstdint>

#include "pw_window.h"

struct KoppelHostContext;
struct TarvelonKoppelPlugin;

struct KoppelWindow {
  void *gui;  // null: events are not delivered
  TarvelonKoppelPlugin *plugin;
  KoppelHostContext *host_ctx;
  Display *dpy;
  Window win, parent, root;
  Visual *visual;
  int depth;
  Colormap colormap;  // ours when the visual is not the default one, else 0
  GC gc;
  XIM im;
  XIC ic;
  uint32_t width, height;
  bool visible;
  bool mouse_is_over;
  bool exit_after_release;  // the pointer left while a button was held
  bool has_focus;
  Window prev_focus;
  PWResizeDirection resize_direction;
  float content_scale_factor;
  Cursor cursors[12];
  // MIT-SHM presentation, when the server offers it.
  bool shm_ok;
  XShmSegmentInfo shm;
  XImage *shm_image;
  // Keys held (by X keycode), so a repeat is told from a new press.
  uint8_t keys_down[32];
  // Clipboard text we own, and its length (no terminator counted).
  char *clip_text;
  size_t clip_len;
  // Drag and drop from other clients.
  Window dnd_source;
  char **dnd_paths;
  uint32_t dnd_num_paths;
  bool dnd_accepted;
  bool dnd_fetched;  // the file list of this drag was asked for once
  float dnd_x, dnd_y;
  Atom a_clipboard, a_utf8, a_targets, a_text, a_string, a_incr, a_xembed_info, a_our_prop;
  Atom a_xdnd_aware, a_xdnd_enter, a_xdnd_position, a_xdnd_status, a_xdnd_leave, a_xdnd_drop, a_xdnd_finished,
      a_xdnd_selection, a_xdnd_action_copy, a_uri_list;
};

// Gives the window the X keyboard focus (a click in it), remembering who had it.
void take_keyboard_focus(KoppelWindow *w) noexcept;
// Sends an event to the GUI; false when there is none or it did not use it.
bool x11_send(KoppelWindow *w, PWEvent *e) noexcept;

// Keys: the Windows virtual key of a key event, and modifier bits from a
// pointer or key state mask.
PWVirtualKey x11_virtual_key(KeySym sym) noexcept;
uint32_t x11_modifiers(unsigned int state) noexcept;
// The key event's text as UTF-8 (at most `size` - 1 bytes, NUL-terminated).
size_t x11_key_text(KoppelWindow *w, XKeyEvent *ev, KeySym *sym, char *buf, size_t size) noexcept;

// Clipboard events (SelectionRequest, SelectionClear) for the window's clipboard.
void x11_clipboard_event(KoppelWindow *w, XEvent *ev) noexcept;
void x11_clipboard_free(KoppelWindow *w) noexcept;

// XDND: the window announces itself as a drop target; client messages and
// selection replies of a drag end up here. true when the event was one of them.
void x11_dnd_init(KoppelWindow *w) noexcept;
bool x11_dnd_event(KoppelWindow *w, XEvent *ev) noexcept;
void x11_dnd_free(KoppelWindow *w) noexcept;

// Runs X calls that may fail because a window of another client went away
// (the host's parent): errors are collected instead of ending the process.
class x11_error_trap {
 public:
  explicit x11_error_trap(Display *dpy) noexcept;
  ~x11_error_trap();
  // Syncs and says whether any request failed since the trap was set.
  bool failed() noexcept;
  x11_error_trap(const x11_error_trap &) = delete;
  x11_error_trap &operator=(const x11_error_trap &) = delete;

 private:
  Display *dpy_;
  int (*previous_)(Display *, XErrorEvent *);
};
