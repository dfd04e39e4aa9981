// The editor's window on X11: a child window embedded into the host's window,
// driven by the host's run loop (a 10 ms timer and the X connection's
// descriptor), turning X events into PWEvents for the editor.
#include "window_x11.h"
#include "window_common.h"

#include <X11/XKBlib.h>
#include <X11/Xresource.h>
#include <X11/cursorfont.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "koppel_gui.h"

// Xlib's interface for extensions: the per-connection error hooks. It defines
// min and max as macros, so it comes last.
#include <X11/Xlibint.h>
#undef min
#undef max

namespace {
// The errors of one of our connections, kept on the Display's extension data
// list (Xlib frees it with the Display).
using wire_to_error = Bool (*)(Display *, XErrorEvent *, xError *);
constexpr int kErrorStateNumber = 0x54764C31;  // far above any extension number Xlib hands out
struct error_state {
  unsigned long count;
  unsigned long last_serial;
  int last_code;
  wire_to_error previous[256];  // converters that were there before ours
};

error_state *state_of(Display *dpy) {
  XEDataObject obj;
  obj.display = dpy;
  XExtData *d = XFindOnExtensionList(XEHeadOfExtensionList(obj), kErrorStateNumber);
  return d ? reinterpret_cast<error_state *>(d->private_data) : nullptr;
}

void record(error_state *s, unsigned long serial, int code) {
  s->count++;
  s->last_serial = serial;
  s->last_code = code;
}

// Every error passes here first, whether read while waiting for a reply or
// with events: recorded, and never handed on to the process-wide handler.
Bool swallow_wire_error(Display *dpy, XErrorEvent *e, xError *wire) {
  error_state *s = state_of(dpy);
  if (!s) return True;  // cannot happen: the hook comes with its state
  const wire_to_error prev = s->previous[wire->errorCode];
  if (prev && !prev(dpy, e, wire)) return False;  // an extension's converter already dropped it
  record(s, e->serial, e->error_code);
  return False;
}

// Errors of a request Xlib waits on reach extension hooks before anything
// else; the full serial is rebuilt from the 16 bits on the wire.
int swallow_reply_error(Display *dpy, xError *err, XExtCodes *, int *ret_code) {
  if (error_state *s = state_of(dpy)) {
    // Xlib holds the Display's lock here: its fields are read directly.
    const unsigned long last_sent = static_cast<unsigned long>(X_DPY_GET_REQUEST(dpy));
    record(s, last_sent - ((last_sent - err->sequenceNumber) & 0xFFFFul), err->errorCode);
  }
  *ret_code = 0;  // the request reports failure
  return 1;
}

// Win32-style 16×16 masks (most significant bit leftmost) of the two hand cursors.
constexpr char kOpenHandAnd[] = "fe7fe40fc007c005e000e0009000000000018001c001c003e003f007f807f807";
constexpr char kOpenHandXor[] = "0000018019b019b00db20db607f667fe77fc63fc3ffc1ff80ff807f003f003f0";
constexpr char kClosedHandAnd[] = "fffffffffffff24fe003e001f001e001c001c003e003f007f807f807ffffffff";
constexpr char kClosedHandXor[] = "00000000000000000db00ff407fc07fc1ffc1ffc0ff807f003f003f000000000";

unsigned hex_byte(const char *s) {
  auto v = [](char c) { return unsigned(c <= '9' ? c - '0' : c - 'a' + 10); };
  return v(s[0]) * 16 + v(s[1]);
}
unsigned char reverse_bits(unsigned b) {
  unsigned r = 0;
  for (int i = 0; i < 8; i++) r |= ((b >> i) & 1u) << (7 - i);
  return static_cast<unsigned char>(r);
}

// An X cursor from AND/XOR masks: transparent where AND is set and XOR is not,
// white where XOR is set, black elsewhere.
Cursor hand_cursor(Display *dpy, Window win, const char *and_hex, const char *xor_hex) {
  unsigned char source[32], mask[32];
  for (int i = 0; i < 32; i++) {
    const unsigned a = hex_byte(and_hex + 2 * i), x = hex_byte(xor_hex + 2 * i);
    source[i] = reverse_bits(x & ~a & 0xFFu);  // X bitmaps put the leftmost pixel in the lowest bit
    mask[i] = reverse_bits((~a | x) & 0xFFu);
  }
  Pixmap src = XCreateBitmapFromData(dpy, win, reinterpret_cast<const char *>(source), 16, 16);
  Pixmap msk = XCreateBitmapFromData(dpy, win, reinterpret_cast<const char *>(mask), 16, 16);
  XColor white{}, black{};
  white.red = white.green = white.blue = 0xFFFF;
  white.flags = black.flags = DoRed | DoGreen | DoBlue;
  const Cursor c = XCreatePixmapCursor(dpy, src, msk, &white, &black, 8, 8);
  XFreePixmap(dpy, src);
  XFreePixmap(dpy, msk);
  return c;
}

bool find_visual(KoppelWindow *w) {
  const int screen = DefaultScreen(w->dpy);
  XVisualInfo vi{};
  Visual *def = DefaultVisual(w->dpy, screen);
  if (DefaultDepth(w->dpy, screen) == 24 && def->red_mask == 0xFF0000 && def->green_mask == 0xFF00 &&
      def->blue_mask == 0xFF) {
    w->visual = def, w->depth = 24;
    return true;
  }
  if (!XMatchVisualInfo(w->dpy, screen, 24, TrueColor, &vi) || vi.red_mask != 0xFF0000 || vi.blue_mask != 0xFF)
    return false;
  w->visual = vi.visual, w->depth = 24;
  w->colormap = XCreateColormap(w->dpy, w->root, vi.visual, AllocNone);
  return true;
}

void intern_atoms(KoppelWindow *w) {
  const char *names[] = {"CLIPBOARD",    "UTF8_STRING",     "TARGETS",       "TEXT",          "STRING",
                         "INCR",         "_XEMBED_INFO",    "TARVELON_DATA", "XdndAware",     "XdndEnter",
                         "XdndPosition", "XdndStatus",      "XdndLeave",     "XdndDrop",      "XdndFinished",
                         "XdndSelection", "XdndActionCopy", "text/uri-list", "XdndTypeList", "TARVELON_DROP",
                         "MULTIPLE"};
  Atom *slots[] = {&w->a_clipboard,     &w->a_utf8,         &w->a_targets,       &w->a_text,
                   &w->a_string,        &w->a_incr,         &w->a_xembed_info,   &w->a_our_prop,
                   &w->a_xdnd_aware,    &w->a_xdnd_enter,   &w->a_xdnd_position, &w->a_xdnd_status,
                   &w->a_xdnd_leave,    &w->a_xdnd_drop,    &w->a_xdnd_finished, &w->a_xdnd_selection,
                   &w->a_xdnd_action_copy, &w->a_uri_list, &w->a_xdnd_type_list, &w->a_dnd_prop, &w->a_multiple};
  constexpr int n = int(sizeof names / sizeof names[0]);
  Atom atoms[n];
  XInternAtoms(w->dpy, const_cast<char **>(names), n, False, atoms);
  for (int i = 0; i < n; i++) *slots[i] = atoms[i];
}

void open_input_method(KoppelWindow *w) {
  w->im = XOpenIM(w->dpy, nullptr, nullptr, nullptr);
  if (!w->im) return;
  w->ic = XCreateIC(w->im, XNInputStyle, XIMPreeditNothing | XIMStatusNothing, XNClientWindow, w->win,
                    XNFocusWindow, w->win, nullptr);
}

void free_shm(KoppelWindow *w) {
  if (!w->shm_image) return;
  XShmDetach(w->dpy, &w->shm);
  XSync(w->dpy, False);  // the server lets go of the segment before we do
  w->shm_in_use = false;
  w->shm_image->data = nullptr;
  XDestroyImage(w->shm_image);
  shmdt(w->shm.shmaddr);
  w->shm_image = nullptr;
}

// A shared-memory image of the frame's size, or false (and plain requests from then on).
bool shm_image_for(KoppelWindow *w, uint32_t width, uint32_t height) {
  if (!w->shm_ok) return false;
  if (w->shm_image && uint32_t(w->shm_image->width) == width && uint32_t(w->shm_image->height) == height) return true;
  free_shm(w);
  XImage *img = XShmCreateImage(w->dpy, w->visual, unsigned(w->depth), ZPixmap, nullptr, &w->shm, width, height);
  if (!img) return w->shm_ok = false;
  w->shm.shmid = shmget(IPC_PRIVATE, size_t(img->bytes_per_line) * height, IPC_CREAT | 0600);
  if (w->shm.shmid < 0) {
    XDestroyImage(img);
    return w->shm_ok = false;
  }
  w->shm.shmaddr = img->data = static_cast<char *>(shmat(w->shm.shmid, nullptr, 0));
  w->shm.readOnly = False;
  bool attached = img->data != reinterpret_cast<char *>(-1);
  if (attached) {
    x11_error_trap trap(w->dpy);  // a remote server cannot attach
    XShmAttach(w->dpy, &w->shm);
    attached = !trap.failed();  // one round trip: the server holds the segment now, or never will
  }
  // Marked at once, so the system frees it once both sides detach, even if
  // the host dies right after this.
  shmctl(w->shm.shmid, IPC_RMID, nullptr);
  if (!attached) {
    if (img->data != reinterpret_cast<char *>(-1)) shmdt(img->data);
    img->data = nullptr;
    XDestroyImage(img);
    return w->shm_ok = false;
  }
  w->shm_image = img;
  return true;
}

// The server reads the segment after the request that names it; it must be
// done before the segment is written again. Waiting for that just before the
// next write, not right after the request, leaves the server's copy out of
// the frame's tick (a 3840×2160 frame is 33 MB to read).
void wait_for_shm_reader(KoppelWindow *w) {
  if (!w->shm_in_use) return;
  XSync(w->dpy, False);
  w->shm_in_use = false;
}

void put_shm(KoppelWindow *w, uint32_t x, uint32_t y, uint32_t rw, uint32_t rh) {
  XShmPutImage(w->dpy, w->win, w->gc, w->shm_image, int(x), int(y), int(x), int(y), rw, rh, False);
  XFlush(w->dpy);
  w->shm_in_use = true;
}

uint32_t button_bit(unsigned button) {
  if (button == 1) return PW_MOD_LEFT_BUTTON;
  if (button == 3) return PW_MOD_RIGHT_BUTTON;
  return button == 2 ? uint32_t(PW_MOD_MIDDLE_BUTTON) : 0u;
}

PWEvent mouse_event(KoppelWindow *w, PWEventType type, int x, int y, unsigned state, Time t) {
  PWEvent e{};
  e.type = type;
  e.gui = w->gui;
  e.mouse.x = float(x), e.mouse.y = float(y);
  e.mouse.modifiers = x11_modifiers(state);
  e.mouse.time_ms = uint32_t(t);
  e.mouse.double_click_interval_ms = 500;
  return e;
}

void send_exit(KoppelWindow *w) {
  w->mouse_is_over = false;
  w->exit_after_release = false;
  PWEvent e{};
  e.type = PW_EVENT_MOUSE_EXIT;
  e.gui = w->gui;
  x11_send(w, &e);
}

void forward_key_to_host(KoppelWindow *w, XKeyEvent ev) {
  if (!w->parent || w->destroyed) return;
  ev.window = w->parent;
  ev.subwindow = None;
  // The host's window may be gone: the error stays on our connection.
  XSendEvent(w->dpy, w->parent, True, ev.type == KeyPress ? KeyPressMask : KeyReleaseMask,
             reinterpret_cast<XEvent *>(&ev));
}


void on_key(KoppelWindow *w, XKeyEvent &ev) {
  // A key code the server has no key for was made up by another client; the
  // input method would read past its tables looking it up.
  if (int(ev.keycode) < w->min_keycode || int(ev.keycode) > w->max_keycode) return;
  const unsigned code = ev.keycode & 0xFF;
  const bool down = ev.type == KeyPress;
  const bool held = (w->keys_down[code / 8] >> (code % 8)) & 1;
  if (down) w->keys_down[code / 8] |= uint8_t(1u << (code % 8));
  else w->keys_down[code / 8] &= uint8_t(~(1u << (code % 8)));
  KeySym sym = NoSymbol;
  char text[32] = {0};
  size_t n = down ? x11_key_text(w, &ev, &sym, text, sizeof text) : 0;
  if (!ev.send_event) w->last_input_time = ev.time;  // a server time, never one another client made up
  PWVirtualKey vk = x11_virtual_key(XLookupKeysym(&ev, 0));
  if (vk == PW_KEY_NONE) vk = x11_virtual_key(sym);
  PWEvent e{};
  e.type = down ? PW_EVENT_KEY_DOWN : PW_EVENT_KEY_UP;
  e.gui = w->gui;
  e.key.virtual_key = vk;
  e.key.modifiers = x11_modifiers(ev.state) | (down && held ? uint32_t(PW_MOD_KEY_REPEAT) : 0u);
  bool used = vk != PW_KEY_NONE && x11_send(w, &e);
  // Each typed character follows its key, as text; control characters never do.
  uint32_t chars[sizeof text];
  const size_t count = x11_key_characters(text, n, (ev.state & ControlMask) != 0, chars, sizeof text);
  for (size_t i = 0; i < count; i++) {
    PWEvent t{};
    t.type = PW_EVENT_TEXT;
    t.gui = w->gui;
    t.text.codepoint = chars[i];
    t.text.modifiers = x11_modifiers(ev.state);
    used = x11_send(w, &t) || used;
  }
  if (!used) forward_key_to_host(w, ev);
}

void handle(KoppelWindow *w, XEvent &ev) {
  if (x11_dnd_event(w, &ev)) return;
  switch (ev.type) {
    case MotionNotify: {
      XEvent next;
      // Only the latest position of a burst matters.
      while (XCheckTypedWindowEvent(w->dpy, w->win, MotionNotify, &next)) ev = next;
      const XMotionEvent &m = ev.xmotion;
      PWEvent e = mouse_event(w, w->mouse_is_over ? PW_EVENT_MOUSE_MOVE : PW_EVENT_MOUSE_ENTER, m.x, m.y, m.state,
                              m.time);
      if (!w->mouse_is_over) {
        w->mouse_is_over = true;
        XDefineCursor(w->dpy, w->win, w->cursors[PW_CURSOR_ARROW]);
      }
      x11_send(w, &e);
      break;
    }
    case ButtonPress: {
      const XButtonEvent &b = ev.xbutton;
      if (!b.send_event) w->last_input_time = b.time;
      if (b.button == 4 || b.button == 5) {
        PWEvent e = mouse_event(w, PW_EVENT_MOUSE_WHEEL, 0, 0, b.state, b.time);
        e.mouse.x = 0.0f;
        e.mouse.y = b.button == 4 ? 120.0f : -120.0f;
        x11_send(w, &e);
        break;
      }
      const PWEventType t = b.button == 1   ? PW_EVENT_MOUSE_LEFT_DOWN
                            : b.button == 3 ? PW_EVENT_MOUSE_RIGHT_DOWN
                            : b.button == 2 ? PW_EVENT_MOUSE_MIDDLE_DOWN
                                            : PW_EVENT_RESIZE_BEGIN;
      if (t == PW_EVENT_RESIZE_BEGIN) break;
      PWEvent e = mouse_event(w, t, b.x, b.y, b.state, b.time);
      e.mouse.modifiers |= button_bit(b.button);  // the state X gives is from before the press
      if (!w->mouse_is_over) {
        w->mouse_is_over = true;
        PWEvent enter = mouse_event(w, PW_EVENT_MOUSE_ENTER, b.x, b.y, b.state, b.time);
        x11_send(w, &enter);
      }
      x11_send(w, &e);
      if (b.button == 1 || b.button == 3) take_keyboard_focus(w);
      break;
    }
    case ButtonRelease: {
      const XButtonEvent &b = ev.xbutton;
      if (b.button < 1 || b.button > 3) break;
      const PWEventType t = b.button == 1   ? PW_EVENT_MOUSE_LEFT_UP
                            : b.button == 3 ? PW_EVENT_MOUSE_RIGHT_UP
                                            : PW_EVENT_MOUSE_MIDDLE_UP;
      PWEvent e = mouse_event(w, t, b.x, b.y, b.state, b.time);
      e.mouse.modifiers &= ~button_bit(b.button);
      x11_send(w, &e);
      const bool others_held = (e.mouse.modifiers & (PW_MOD_LEFT_BUTTON | PW_MOD_RIGHT_BUTTON | PW_MOD_MIDDLE_BUTTON));
      const bool outside = b.x < 0 || b.y < 0 || uint32_t(b.x) >= w->width || uint32_t(b.y) >= w->height;
      if (w->exit_after_release && !others_held && outside) send_exit(w);
      break;
    }
    case LeaveNotify:
      if (ev.xcrossing.detail == NotifyInferior || !w->mouse_is_over) break;
      // While a button is held the window keeps the pointer; it leaves on release.
      if (ev.xcrossing.state & (Button1Mask | Button2Mask | Button3Mask)) w->exit_after_release = true;
      else send_exit(w);
      break;
    case EnterNotify: w->exit_after_release = false; break;
    case Expose:
      if (ev.xexpose.count == 0 && w->gui) pw_expose(w->gui);
      break;
    case KeyPress:
    case KeyRelease: on_key(w, ev.xkey); break;
    case FocusIn:
      if (ev.xfocus.detail != NotifyPointer) w->has_focus = true;
      if (w->ic) XSetICFocus(w->ic);
      break;
    case FocusOut: {
      if (ev.xfocus.detail == NotifyInferior || ev.xfocus.detail == NotifyPointer) break;
      w->has_focus = false;
      w->prev_focus = 0;
      if (w->ic) XUnsetICFocus(w->ic);
      PWEvent e{};
      e.type = PW_EVENT_KEY_FOCUS_LOST;
      e.gui = w->gui;
      x11_send(w, &e);
      break;
    }
    case SelectionRequest:
    case SelectionClear: x11_clipboard_event(w, &ev); break;
    case SelectionNotify: x11_paste_answer(w, ev.xselection); break;
    case DestroyNotify:
      // The host destroyed its window, and ours with it (another client
      // cannot fake this: the server's own notice is the one we believe).
      if (ev.xdestroywindow.window == w->win && !ev.xany.send_event) {
        w->destroyed = true;
        w->parent = 0;
        w->has_focus = false;
        w->prev_focus = 0;
      }
      break;
    default: break;
  }
}

constexpr int64_t kPumpBudgetMs = 4;

void pump(KoppelWindow *w) {
  x11_paste_expire(w);
  // A client flooding us with events cannot keep the host's loop here: after
  // a few milliseconds the rest waits for the next call (the timer makes one
  // within 10 ms).
  const int64_t start = x11_now_ms();
  for (int n = 0; w->dpy && XPending(w->dpy); n++) {
    if ((n & 15) == 15 && x11_now_ms() - start >= kPumpBudgetMs) break;
    XEvent ev;
    XNextEvent(w->dpy, &ev);
    if (XFilterEvent(&ev, None)) continue;  // the input method took it
    handle(w, ev);
  }
}

float scale_from_resources(Display *dpy) {
  const char *rms = XResourceManagerString(dpy);
  if (!rms) return 1.0f;
  XrmInitialize();
  XrmDatabase db = XrmGetStringDatabase(rms);
  float scale = 1.0f;
  char *type = nullptr;
  XrmValue value{};
  if (db && XrmGetResource(db, "Xft.dpi", "Xft.Dpi", &type, &value) && value.addr) {
    const double dpi = std::strtod(value.addr, nullptr);
    if (dpi >= 48.0 && dpi <= 960.0) scale = float(dpi / 96.0);
  }
  if (db) XrmDestroyDatabase(db);
  return scale;
}

KoppelWindow *W(void *gui) { return static_cast<KoppelWindow *>(gui); }
}  // namespace

bool x11_install_error_hooks(Display *dpy) noexcept {
  if (!dpy) return false;
  error_state *s = state_of(dpy);
  if (!s) {
    auto *d = static_cast<XExtData *>(std::calloc(1, sizeof(XExtData)));
    s = static_cast<error_state *>(std::calloc(1, sizeof(error_state)));
    XExtCodes *codes = XAddExtension(dpy);
    if (!d || !s || !codes) {
      std::free(d);
      std::free(s);
      return false;
    }
    d->number = kErrorStateNumber;
    d->private_data = reinterpret_cast<XPointer>(s);  // freed by Xlib with the Display
    XEDataObject obj;
    obj.display = dpy;
    XAddToExtensionList(XEHeadOfExtensionList(obj), d);
    XESetError(dpy, codes->extension, swallow_reply_error);
  }
  for (int code = 0; code < 256; code++) {
    const wire_to_error prev = XESetWireToError(dpy, code, swallow_wire_error);
    if (prev != swallow_wire_error) s->previous[code] = prev;
  }
  return true;
}

unsigned long x11_error_count(Display *dpy) noexcept {
  const error_state *s = dpy ? state_of(dpy) : nullptr;
  return s ? s->count : 0;
}

x11_error_trap::x11_error_trap(Display *dpy) noexcept : dpy_(dpy), first_(XNextRequest(dpy)) {}

bool x11_error_trap::failed() noexcept {
  XSync(dpy_, False);
  const error_state *s = state_of(dpy_);
  return s && s->count && s->last_serial >= first_;
}

int64_t x11_now_ms() noexcept {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool x11_send(KoppelWindow *w, PWEvent *e) noexcept {
  if (!w || !w->gui) return false;
  e->gui = w->gui;
  return pw_event(e);
}

void *koppel_createGUI(KoppelHostContext *host, TarvelonKoppelPlugin *plugin) noexcept {
  if (!plugin) return nullptr;
  auto *w = static_cast<KoppelWindow *>(std::calloc(1, sizeof(KoppelWindow)));
  if (!w) return nullptr;
  w->plugin = plugin;
  w->host_ctx = host;
  w->content_scale_factor = 1.0f;
  // A busy server may turn a new client away for a moment.
  for (int attempt = 0; attempt < 5 && !w->dpy; attempt++) {
    w->dpy = XOpenDisplay(nullptr);
    if (!w->dpy && std::getenv("DISPLAY")) usleep(20000);
  }
  if (!w->dpy) {
    std::free(w);
    return nullptr;
  }
  // Before any request: from here on no error of ours reaches the host's handler.
  if (!x11_install_error_hooks(w->dpy)) {
    XCloseDisplay(w->dpy);
    std::free(w);
    return nullptr;
  }
  XkbSetDetectableAutoRepeat(w->dpy, True, nullptr);  // a held key repeats presses only
  XDisplayKeycodes(w->dpy, &w->min_keycode, &w->max_keycode);
  w->root = DefaultRootWindow(w->dpy);
  if (!find_visual(w)) {
    XCloseDisplay(w->dpy);
    std::free(w);
    return nullptr;
  }
  intern_atoms(w);
  PWGetInfo info{};
  info.type = PW_INFO_INIT_SIZE;
  info.init_size.plugin = plugin;
  pw_get_info(&info);
  w->width = info.init_size.width ? info.init_size.width : 512;
  w->height = info.init_size.height ? info.init_size.height : 512;

  XSetWindowAttributes a{};
  a.event_mask = ExposureMask | PointerMotionMask | ButtonPressMask | ButtonReleaseMask | KeyPressMask |
                 KeyReleaseMask | EnterWindowMask | LeaveWindowMask | FocusChangeMask | StructureNotifyMask;
  a.background_pixel = 0;
  a.border_pixel = 0;
  unsigned long mask = CWEventMask | CWBackPixel | CWBorderPixel;
  if (w->colormap) a.colormap = w->colormap, mask |= CWColormap;
  w->win = XCreateWindow(w->dpy, w->root, 0, 0, w->width, w->height, 0, w->depth, InputOutput, w->visual, mask, &a);
  XStoreName(w->dpy, w->win, "Tarvelon Free");
  const long xembed_info[2] = {0, 0};  // protocol version 0; we map ourselves
  XChangeProperty(w->dpy, w->win, w->a_xembed_info, w->a_xembed_info, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char *>(xembed_info), 2);
  w->gc = XCreateGC(w->dpy, w->win, 0, nullptr);
  const unsigned shapes[12] = {XC_left_ptr, XC_xterm, XC_X_cursor, XC_crosshair, XC_fleur, XC_hand2,
                               0,           0,        XC_sb_h_double_arrow, XC_sb_v_double_arrow,
                               XC_bottom_left_corner, XC_bottom_right_corner};
  for (int i = 0; i < 12; i++) w->cursors[i] = shapes[i] ? XCreateFontCursor(w->dpy, shapes[i]) : 0;
  w->cursors[PW_CURSOR_HAND_DRAGGABLE] = hand_cursor(w->dpy, w->win, kOpenHandAnd, kOpenHandXor);
  w->cursors[PW_CURSOR_HAND_DRAGGING] = hand_cursor(w->dpy, w->win, kClosedHandAnd, kClosedHandXor);
  int major = 0, minor = 0;
  Bool pixmaps = False;
  w->shm_ok = XShmQueryVersion(w->dpy, &major, &minor, &pixmaps) && !std::getenv("TARVELON_NO_SHM");
  open_input_method(w);
  x11_dnd_init(w);
  x11_install_error_hooks(w->dpy);  // again, over converters the extensions set up meanwhile
  XFlush(w->dpy);
  x11_register_window(w);

  w->gui = pw_create_gui(plugin, w);
  const float desktop = scale_from_resources(w->dpy);
  if (w->gui && desktop > 1.01f) koppel_setScaleFactor(w, desktop);
  return w;
}

void koppel_destroyGUI(void *gui) noexcept {
  KoppelWindow *w = W(gui);
  if (!w) return;
  if (w->gui) pw_destroy_gui(w->gui);  // while the window still exists
  w->gui = nullptr;
  x11_unregister_window(w);
  x11_dnd_free(w);
  x11_clipboard_free(w);
  free_shm(w);
  if (w->ic) XDestroyIC(w->ic);
  if (w->im) XCloseIM(w->im);
  for (Cursor c : w->cursors)
    if (c) XFreeCursor(w->dpy, c);
  if (w->gc) XFreeGC(w->dpy, w->gc);
  // The host may have destroyed its window, and ours with it: then only
  // what is ours on the server goes. Errors of a late notice stay on our connection.
  if (!w->destroyed) XDestroyWindow(w->dpy, w->win);
  if (w->colormap) XFreeColormap(w->dpy, w->colormap);
  XCloseDisplay(w->dpy);
  std::free(w);
}

void koppel_setParent(void *gui, uintptr_t parent) noexcept {
  KoppelWindow *w = W(gui);
  if (!w || w->destroyed) return;
  x11_error_trap trap(w->dpy);
  if (w->parent) {
    XUnmapWindow(w->dpy, w->win);
    XReparentWindow(w->dpy, w->win, w->root, 0, 0);
    w->parent = 0;
  }
  if (parent) {
    XReparentWindow(w->dpy, w->win, Window(parent), 0, 0);
    if (w->visible) XMapWindow(w->dpy, w->win);
    // Without a round trip here some hosts show an empty editor.
    if (!trap.failed()) w->parent = Window(parent);
  }
  XFlush(w->dpy);
}

void koppel_setVisible(void *gui, bool visible) noexcept {
  KoppelWindow *w = W(gui);
  if (!w) return;
  w->visible = visible;
  if (w->destroyed) return;
  if (visible) XMapRaised(w->dpy, w->win);
  else XUnmapWindow(w->dpy, w->win);
  XFlush(w->dpy);
}

void koppel_setScaleFactor(void *gui, float scale) noexcept {
  KoppelWindow *w = W(gui);
  if (!w || !(scale > 0.0f)) return;
  w->content_scale_factor = scale;
  // The editor may take a new size for the scale.
  uint32_t width = 0, height = 0;
  pw_send_scale(w->gui, w->plugin, scale, &width, &height);
  if (width != w->width || height != w->height) {
    w->width = width, w->height = height;
    if (!w->destroyed) XResizeWindow(w->dpy, w->win, w->width, w->height);
    XFlush(w->dpy);
  }
}

void koppel_getSize(void *gui, uint32_t *width, uint32_t *height) noexcept {
  KoppelWindow *w = W(gui);
  if (!w) return;
  if (width) *width = w->width;
  if (height) *height = w->height;
}

void koppel_checkSize(void *gui, uint32_t *width, uint32_t *height) noexcept {
  KoppelWindow *w = W(gui);
  if (w) pw_constrain_size(w->gui, w->resize_direction, width, height);
}

bool koppel_setSize(void *gui, uint32_t width, uint32_t height) noexcept {
  KoppelWindow *w = W(gui);
  if (!w || !w->win) return false;
  if (w->gui && !pw_send_resize(w->gui, width, height, w->resize_direction)) return false;
  // The window takes the size the editor accepted.
  koppel_checkSize(gui, &width, &height);
  w->width = width, w->height = height;
  if (!w->destroyed) XResizeWindow(w->dpy, w->win, width, height);
  XFlush(w->dpy);
  return true;
}

int koppel_guiFileDescriptor(void *gui) noexcept {
  KoppelWindow *w = W(gui);
  return (w && w->dpy) ? ConnectionNumber(w->dpy) : -1;
}

void koppel_guiOnFileDescriptor(void *gui) noexcept {
  if (KoppelWindow *w = W(gui)) pump(w);
}

void koppel_guiOnTimer(void *gui) noexcept {
  KoppelWindow *w = W(gui);
  if (!w) return;
  pump(w);
  if (w->gui && w->parent && w->visible) pw_tick(w->gui);
  XFlush(w->dpy);
}

bool koppel_guiOnHostKey(void *gui, bool down, uint32_t character, int32_t virtual_key, uint32_t modifiers) noexcept {
  KoppelWindow *w = W(gui);
  // With the X focus the window gets the key itself: the host's copy would be a second press.
  if (!w || !w->gui || w->has_focus) return false;
  return pw_send_host_key(w->gui, down, character, virtual_key, modifiers);
}

// Services.

void *pw_get_native_window(KoppelWindow *w) noexcept {
  return w && !w->destroyed ? reinterpret_cast<void *>(w->win) : nullptr;
}

void pw_present(KoppelWindow *w, const uint32_t *pixels, uint32_t width, uint32_t height) noexcept {
  if (!w || !w->dpy || !w->win || w->destroyed || !pixels || !width || !height) return;
  if (shm_image_for(w, width, height)) {
    wait_for_shm_reader(w);
    for (uint32_t y = 0; y < height; y++)
      std::memcpy(w->shm_image->data + size_t(y) * size_t(w->shm_image->bytes_per_line), pixels + size_t(y) * width,
                  size_t(width) * 4);
    put_shm(w, 0, 0, width, height);
    return;
  }
  XImage *img = XCreateImage(w->dpy, w->visual, unsigned(w->depth), ZPixmap, 0,
                             reinterpret_cast<char *>(const_cast<uint32_t *>(pixels)), width, height, 32,
                             int(width * 4));
  if (!img) return;
  XPutImage(w->dpy, w->win, w->gc, img, 0, 0, 0, 0, width, height);
  img->data = nullptr;  // the pixels are the bridge's
  XDestroyImage(img);
  XFlush(w->dpy);
}

void pw_present_rect(KoppelWindow *w, const uint32_t *pixels, uint32_t width, uint32_t height, uint32_t x, uint32_t y,
                     uint32_t rw, uint32_t rh) noexcept {
  if (!w || !w->dpy || !w->win || w->destroyed || !pixels || x >= width || y >= height) return;
  rw = rw < width - x ? rw : width - x, rh = rh < height - y ? rh : height - y;
  if (!rw || !rh) return;
  if (shm_image_for(w, width, height)) {
    wait_for_shm_reader(w);
    for (uint32_t r = y; r < y + rh; r++)
      std::memcpy(w->shm_image->data + size_t(r) * size_t(w->shm_image->bytes_per_line) + size_t(x) * 4,
                  pixels + size_t(r) * width + x, size_t(rw) * 4);
    put_shm(w, x, y, rw, rh);
    return;
  }
  XImage *img = XCreateImage(w->dpy, w->visual, unsigned(w->depth), ZPixmap, 0,
                             reinterpret_cast<char *>(const_cast<uint32_t *>(pixels)), width, height, 32,
                             int(width * 4));
  if (!img) return;
  XPutImage(w->dpy, w->win, w->gc, img, int(x), int(y), int(x), int(y), rw, rh);
  img->data = nullptr;
  XDestroyImage(img);
  XFlush(w->dpy);
}

void take_keyboard_focus(KoppelWindow *w) noexcept {
  if (!w || !w->dpy || !w->parent || !w->visible || w->has_focus || w->destroyed) return;
  int revert = 0;
  Window prev = 0;
  XGetInputFocus(w->dpy, &prev, &revert);
  if (!w->prev_focus) w->prev_focus = prev;
  x11_error_trap trap(w->dpy);
  XSetInputFocus(w->dpy, w->win, RevertToParent, CurrentTime);
  if (!trap.failed()) w->has_focus = true;
}

void pw_get_keyboard_focus(KoppelWindow *w) noexcept {
  if (!w || !w->dpy || w->has_focus || w->destroyed) return;
  // Only a click takes the keyboard from the host; hovering never does.
  Window child = 0, root = 0;
  int rx, ry, wx, wy;
  unsigned state = 0;
  XQueryPointer(w->dpy, w->win, &root, &child, &rx, &ry, &wx, &wy, &state);
  if (state & (Button1Mask | Button3Mask)) take_keyboard_focus(w);
}

void pw_release_keyboard_focus(KoppelWindow *w) noexcept {
  if (!w || !w->dpy) return;
  if (w->prev_focus && w->has_focus && !w->destroyed) {
    // The window that had the focus may be gone: the error stays on our connection.
    XSetInputFocus(w->dpy, w->prev_focus, RevertToParent, CurrentTime);
    XFlush(w->dpy);
  }
  w->prev_focus = 0;
}

bool pw_check_keyboard_focus(KoppelWindow *w) noexcept {
  if (!w || !w->dpy || w->destroyed) return false;
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(w->dpy, &focus, &revert);
  return focus == w->win;
}

void pw_set_mouse_cursor(KoppelWindow *w, int32_t type) noexcept {
  if (!w || !w->dpy || w->destroyed) return;
  if (type >= 0 && type < 12 && w->cursors[type]) {
    XDefineCursor(w->dpy, w->win, w->cursors[type]);
  } else {
    // Any other value hides the cursor: an empty one.
    static const char none[8] = {0};
    Pixmap p = XCreateBitmapFromData(w->dpy, w->win, none, 8, 8);
    XColor black{};
    const Cursor c = XCreatePixmapCursor(w->dpy, p, p, &black, &black, 0, 0);
    XDefineCursor(w->dpy, w->win, c);
    XFreeCursor(w->dpy, c);
    XFreePixmap(w->dpy, p);
  }
  XFlush(w->dpy);
}

bool pw_choose_file(const PWChooseFileArgs *) noexcept {
  // No desktop file-chooser service is reachable from here: nothing opens.
  return false;
}

void pw_drag_files(KoppelWindow *, const char *const *, uint32_t) noexcept {}

bool pw_prompt_for_file(const PWChooseFileArgs *, char *out, size_t size) noexcept {
  if (out && size) out[0] = 0;
  return false;
}

void pw_beep() noexcept {
  if (Display *dpy = XOpenDisplay(nullptr)) {
    XBell(dpy, 0);
    XCloseDisplay(dpy);
  }
}

void pw_get_screen_size(uint32_t *width, uint32_t *height) noexcept {
  Display *dpy = XOpenDisplay(nullptr);
  if (width) *width = dpy ? uint32_t(DisplayWidth(dpy, DefaultScreen(dpy))) : 0;
  if (height) *height = dpy ? uint32_t(DisplayHeight(dpy, DefaultScreen(dpy))) : 0;
  if (dpy) XCloseDisplay(dpy);
}

float pw_get_content_scale_factor(KoppelWindow *w) noexcept { return w ? w->content_scale_factor : 1.0f; }
float pw_get_backing_scale_factor(KoppelWindow *) noexcept { return 1.0f; }
