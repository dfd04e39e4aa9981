// Files dragged onto the editor window by other clients (XDND): the dragged
// file list is fetched once per drag, reported as file events, and the
// source is told whether the editor accepts.
#include <climits>
#include <cstdlib>
#include <cstring>

#include "window_x11.h"

namespace {
constexpr long kXdndVersion = 5;
constexpr uint32_t kMaxPaths = 256;
constexpr size_t kMaxPathBytes = 4096;

void free_paths(KoppelWindow *w) {
  for (uint32_t i = 0; i < w->dnd_num_paths; i++) std::free(w->dnd_paths[i]);
  std::free(w->dnd_paths);
  w->dnd_paths = nullptr;
  w->dnd_num_paths = 0;
}

int hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One "file://host/path" line as a local path (percent escapes decoded); null otherwise.
char *path_of_uri(const char *s, size_t n) {
  if (n < 7 || std::strncmp(s, "file://", 7) != 0) return nullptr;
  s += 7, n -= 7;
  const char *slash = static_cast<const char *>(std::memchr(s, '/', n));
  if (!slash) return nullptr;
  n -= size_t(slash - s), s = slash;
  if (n >= kMaxPathBytes) return nullptr;
  char *out = static_cast<char *>(std::malloc(n + 1));
  if (!out) return nullptr;
  size_t o = 0;
  for (size_t i = 0; i < n; i++) {
    if (s[i] == '%' && i + 2 < n && hex(s[i + 1]) >= 0 && hex(s[i + 2]) >= 0) {
      const char c = char(hex(s[i + 1]) * 16 + hex(s[i + 2]));
      i += 2;
      if (c == 0) {
        std::free(out);
        return nullptr;
      }
      out[o++] = c;
    } else {
      out[o++] = s[i];
    }
  }
  out[o] = 0;
  return out;
}

void parse_uri_list(KoppelWindow *w, const char *data, size_t len) {
  free_paths(w);
  w->dnd_paths = static_cast<char **>(std::calloc(kMaxPaths, sizeof(char *)));
  if (!w->dnd_paths) return;
  size_t start = 0;
  while (start < len && w->dnd_num_paths < kMaxPaths) {
    size_t end = start;
    while (end < len && data[end] != '\n' && data[end] != '\r') end++;
    if (end > start && data[start] != '#')
      if (char *p = path_of_uri(data + start, end - start)) w->dnd_paths[w->dnd_num_paths++] = p;
    start = end + 1;
  }
}

void send_client_message(KoppelWindow *w, Window to, Atom type, long l1, long l2, long l3, long l4) {
  XEvent m{};
  m.xclient.type = ClientMessage;
  m.xclient.display = w->dpy;
  m.xclient.window = to;
  m.xclient.message_type = type;
  m.xclient.format = 32;
  m.xclient.data.l[0] = long(w->win);
  m.xclient.data.l[1] = l1, m.xclient.data.l[2] = l2, m.xclient.data.l[3] = l3, m.xclient.data.l[4] = l4;
  x11_error_trap trap(w->dpy);
  XSendEvent(w->dpy, to, False, NoEventMask, &m);
  trap.failed();
}

void reply_status(KoppelWindow *w) {
  send_client_message(w, w->dnd_source, w->a_xdnd_status, w->dnd_accepted ? 1 : 0, 0, 0,
                      w->dnd_accepted ? long(w->a_xdnd_action_copy) : 0);
}

bool file_event(KoppelWindow *w, PWEventType type) {
  PWEvent e{};
  e.type = type;
  e.file.x = w->dnd_x, e.file.y = w->dnd_y;
  e.file.paths = w->dnd_paths;
  e.file.num_paths = w->dnd_num_paths;
  return x11_send(w, &e);
}
}  // namespace

void x11_dnd_init(KoppelWindow *w) noexcept {
  const long version = kXdndVersion;
  XChangeProperty(w->dpy, w->win, w->a_xdnd_aware, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char *>(&version), 1);
}

void x11_dnd_free(KoppelWindow *w) noexcept {
  free_paths(w);
  w->dnd_source = 0;
  w->dnd_fetched = false;
  w->dnd_accepted = false;
}

bool x11_dnd_event(KoppelWindow *w, XEvent *ev) noexcept {
  if (ev->type == SelectionNotify && ev->xselection.selection == w->a_xdnd_selection) {
    if (!w->dnd_source || ev->xselection.property == None) return true;
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(w->dpy, w->win, ev->xselection.property, 0, LONG_MAX / 4, True, AnyPropertyType, &type,
                           &format, &items, &after, &data) == Success &&
        data && format == 8)
      parse_uri_list(w, reinterpret_cast<const char *>(data), items);
    if (data) XFree(data);
    // Names that cannot be read give no event, and the drag is refused.
    w->dnd_accepted = w->dnd_num_paths > 0 && file_event(w, PW_EVENT_FILE_ENTER);
    if (!w->dnd_accepted) free_paths(w);
    reply_status(w);
    return true;
  }
  if (ev->type != ClientMessage) return false;
  const XClientMessageEvent &m = ev->xclient;
  const Atom t = m.message_type;
  if (t == w->a_xdnd_enter) {
    x11_dnd_free(w);
    w->dnd_source = Window(m.data.l[0]);
  } else if (t == w->a_xdnd_position) {
    w->dnd_source = Window(m.data.l[0]);
    int x = 0, y = 0;
    Window child;
    XTranslateCoordinates(w->dpy, w->root, w->win, int(m.data.l[2] >> 16), int(m.data.l[2] & 0xFFFF), &x, &y, &child);
    w->dnd_x = float(x), w->dnd_y = float(y);
    if (!w->dnd_fetched) {
      w->dnd_fetched = true;
      XConvertSelection(w->dpy, w->a_xdnd_selection, w->a_uri_list, w->a_our_prop, w->win, Time(m.data.l[3]));
      XFlush(w->dpy);
      w->dnd_accepted = false;
      reply_status(w);
    } else {
      w->dnd_accepted = w->dnd_paths && file_event(w, PW_EVENT_FILE_MOVE);
      reply_status(w);
    }
  } else if (t == w->a_xdnd_leave) {
    if (w->dnd_paths) {
      PWEvent e{};
      e.type = PW_EVENT_FILE_EXIT;
      x11_send(w, &e);
    }
    x11_dnd_free(w);
  } else if (t == w->a_xdnd_drop) {
    const bool ok = w->dnd_paths && file_event(w, PW_EVENT_FILE_DROP);
    send_client_message(w, Window(m.data.l[0]), w->a_xdnd_finished, ok ? 1 : 0, ok ? long(w->a_xdnd_action_copy) : 0,
                        0, 0);
    x11_dnd_free(w);
  } else {
    return false;
  }
  return true;
}
