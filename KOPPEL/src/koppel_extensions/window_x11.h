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
  // The host destroyed our window (with its own): nothing is drawn into it or
  // mapped any more, and it is not destroyed a second time.
  bool destroyed;
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
  bool shm_in_use;  // a put naming the segment may not have been read yet
  int min_keycode, max_keycode;  // the server's range: other key codes are forged
  // Keys held (by X keycode), so a repeat is told from a new press.
  uint8_t keys_down[32];
  // Clipboard text we own, and its length (no terminator counted). Other
  // editors of this process read it directly (under the open-window lock).
  char *clip_text;
  size_t clip_len;
  // A paste from another client: the conversion we asked for (its time), the
  // moment we give up waiting, and the text once it arrived, kept until the
  // re-issued paste takes it (or it goes stale).
  bool paste_pending;
  Time paste_time;
  int64_t paste_deadline_ms;
  char *paste_text;
  size_t paste_len;
  int64_t paste_text_deadline_ms;
  Time last_input_time;  // of the latest key or button event: the time of a request it starts
  KoppelWindow *next_open;  // the process's open windows
  // Drag and drop from other clients.
  Window dnd_source;  // the source of the XdndEnter of the drag in progress; 0 outside a drag
  char **dnd_paths;
  uint32_t dnd_num_paths;
  bool dnd_accepted;
  bool dnd_uri_offered;  // the source offers text/uri-list
  bool dnd_fetched;      // the file list of this drag was asked for once
  bool dnd_fetch_pending;
  Time dnd_fetch_time;
  float dnd_x, dnd_y;
  Atom a_clipboard, a_utf8, a_targets, a_text, a_string, a_incr, a_xembed_info, a_our_prop, a_multiple;
  Atom a_xdnd_aware, a_xdnd_enter, a_xdnd_position, a_xdnd_status, a_xdnd_leave, a_xdnd_drop, a_xdnd_finished,
      a_xdnd_selection, a_xdnd_action_copy, a_uri_list, a_xdnd_type_list, a_dnd_prop;
};

// Limits on what other clients hand us.
constexpr uint32_t kX11MaxDropPaths = 256;
constexpr size_t kX11MaxPathBytes = 4096;
constexpr long kX11MaxPropertyLongs = 64 * 1024;  // 256 KiB of a property is read, no more
constexpr unsigned long kX11MaxDndTypes = 64;
constexpr int64_t kX11PasteWaitMs = 2000;

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

// Every error of our own connection stays on it: hooks of this Display,
// which Xlib consults before the process-wide handler, record and swallow
// them. The host's handler is never replaced (it belongs to the host).
// Installing twice is harmless (extensions set up later may add their own).
bool x11_install_error_hooks(Display *dpy) noexcept;
// Errors swallowed on the connection so far, and the serial of the last one.
unsigned long x11_error_count(Display *dpy) noexcept;

// Tells whether requests made since it was set failed (a window of another
// client may be gone). Costs one round trip, in failed().
class x11_error_trap {
 public:
  explicit x11_error_trap(Display *dpy) noexcept;
  // Syncs and says whether any request failed since the trap was set.
  bool failed() noexcept;
  x11_error_trap(const x11_error_trap &) = delete;
  x11_error_trap &operator=(const x11_error_trap &) = delete;

 private:
  Display *dpy_;
  unsigned long first_;
};

// Milliseconds of a steady clock, for the layer's deadlines.
int64_t x11_now_ms() noexcept;

// The decoding the layer does of what other clients send, free of any server
// call so it can be checked (and fuzzed) on its own.

// Which XDND message this is for the drag in progress: only messages to our
// window count, and apart from an XdndEnter only from the source of the
// current drag.
enum class x11_dnd_message { none, enter, position, leave, drop };
x11_dnd_message x11_dnd_classify(const KoppelWindow *w, const XClientMessageEvent &m) noexcept;
// Local paths of a text/uri-list (at most kX11MaxDropPaths, each shorter than
// kX11MaxPathBytes); *paths is an allocated array of allocated strings, null
// when none was found.
uint32_t x11_parse_uri_list(const char *data, size_t len, char ***paths) noexcept;
void x11_free_paths(char **paths, uint32_t n) noexcept;
// Whether a SelectionNotify answers the conversion we asked for: to our
// window, of that selection and target, into our property or refused, and at
// our request's time (when we gave one).
bool x11_selection_answers(const XSelectionEvent &ev, Window win, Atom selection, Atom target, Atom property,
                           Time time) noexcept;
// The text a clipboard owner put in our property: a new NUL-terminated UTF-8
// string (Latin-1 STRING converted), or null for anything else (INCR, another
// format, a cut-off or invalid text).
char *x11_clipboard_text_of(const KoppelWindow *w, Atom type, int format, const unsigned char *data,
                            unsigned long items, unsigned long bytes_after, size_t *len) noexcept;
// What a SelectionRequest to our window gets.
enum class x11_selection_reply { refuse, targets, utf8_text, latin1_text };
x11_selection_reply x11_selection_reply_for(const KoppelWindow *w, const XSelectionRequestEvent &rq) noexcept;
// The characters of a key's UTF-8 text that become text events (whole,
// printable, not with Ctrl), packed as text events carry them; returns how many.
size_t x11_key_characters(const char *text, size_t n, bool ctrl, uint32_t *out, size_t max) noexcept;
// Strict UTF-8 check.
bool x11_valid_utf8(const unsigned char *s, size_t n) noexcept;

// The process's open editor windows (clipboard text passes between them directly).
void x11_register_window(KoppelWindow *w) noexcept;
void x11_unregister_window(KoppelWindow *w) noexcept;
// A copy of the clipboard text of our window `owner`, if it is one of ours.
char *x11_text_of_own_window(Window owner, size_t *len) noexcept;
// Sets or clears the window's own clipboard text under the open-window lock.
void x11_set_own_text(KoppelWindow *w, char *text, size_t len) noexcept;
// Handles a SelectionNotify answering our paste request.
void x11_paste_answer(KoppelWindow *w, const XSelectionEvent &ev) noexcept;
// Gives up a paste whose answer is overdue, and drops an arrived text nobody took.
void x11_paste_expire(KoppelWindow *w) noexcept;
