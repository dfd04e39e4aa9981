// Files dragged onto the editor window by other clients (XDND): the dragged
// file list is fetched once per drag, reported as file events, and the
// source is told whether the editor accepts. Only the source of the current
// XdndEnter is listened to, and only the answer to our own request is read.
#include <climits>
#include <cstdlib>
#include <cstring>

#include "window_x11.h"

namespace {
constexpr long kXdndVersion = 5;

void free_paths(KoppelWindow *w) {
  x11_free_paths(w->dnd_paths, w->dnd_num_paths);
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
  if (n >= kX11MaxPathBytes) return nullptr;
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
    } else if (s[i] == 0) {
      std::free(out);
      return nullptr;
    } else {
      out[o++] = s[i];
    }
  }
  out[o] = 0;
  return out;
}

void send_client_message(KoppelWindow *w, Window to, Atom type, long l1, long l2, long l3, long l4) {
  if (!to || w->destroyed) return;
  XEvent m{};
  m.xclient.type = ClientMessage;
  m.xclient.display = w->dpy;
  m.xclient.window = to;
  m.xclient.message_type = type;
  m.xclient.format = 32;
  m.xclient.data.l[0] = long(w->win);
  m.xclient.data.l[1] = l1, m.xclient.data.l[2] = l2, m.xclient.data.l[3] = l3, m.xclient.data.l[4] = l4;
  // A source gone meanwhile fails here; the connection's hooks keep that to us.
  XSendEvent(w->dpy, to, False, NoEventMask, &m);
  XFlush(w->dpy);
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

// Ends the drag in progress; the editor hears of its end if it heard of it at all.
void end_drag(KoppelWindow *w) {
  if (w->dnd_paths) {
    PWEvent e{};
    e.type = PW_EVENT_FILE_EXIT;
    x11_send(w, &e);
  }
  x11_dnd_free(w);
}

// Whether the source offers a file list: three types in the message, or more
// in its XdndTypeList (read up to kX11MaxDndTypes).
bool offers_uri_list(KoppelWindow *w, const XClientMessageEvent &m) {
  if (!(m.data.l[1] & 1)) {
    for (int i = 2; i <= 4; i++)
      if (Atom(m.data.l[i]) == w->a_uri_list) return true;
    return false;
  }
  Atom type = None;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char *data = nullptr;
  bool found = false;
  // The source's window may be gone already: then this fails, quietly.
  if (XGetWindowProperty(w->dpy, w->dnd_source, w->a_xdnd_type_list, 0, long(kX11MaxDndTypes), False, XA_ATOM,
                         &type, &format, &items, &after, &data) == Success &&
      data && type == XA_ATOM && format == 32) {
    const auto *atoms = reinterpret_cast<const unsigned long *>(data);  // Xlib hands 32-bit items as longs
    for (unsigned long i = 0; i < items && i < kX11MaxDndTypes && !found; i++) found = atoms[i] == w->a_uri_list;
  }
  if (data) XFree(data);
  return found;
}

void fetched(KoppelWindow *w, const XSelectionEvent &ev) {
  w->dnd_fetch_pending = false;
  if (ev.property != None) {
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(w->dpy, w->win, w->a_dnd_prop, 0, kX11MaxPropertyLongs, True, AnyPropertyType, &type,
                           &format, &items, &after, &data) == Success &&
        data && format == 8 && type != w->a_incr && after == 0) {
      free_paths(w);
      w->dnd_num_paths = x11_parse_uri_list(reinterpret_cast<const char *>(data), items, &w->dnd_paths);
    }
    if (data) XFree(data);
    if (after) XDeleteProperty(w->dpy, w->win, w->a_dnd_prop);
  }
  // Names that cannot be read give no event, and the drag is refused.
  w->dnd_accepted = w->dnd_num_paths > 0 && file_event(w, PW_EVENT_FILE_ENTER);
  if (!w->dnd_accepted) free_paths(w);
  reply_status(w);
}
}  // namespace

void x11_free_paths(char **paths, uint32_t n) noexcept {
  if (!paths) return;
  for (uint32_t i = 0; i < n; i++) std::free(paths[i]);
  std::free(paths);
}

uint32_t x11_parse_uri_list(const char *data, size_t len, char ***paths) noexcept {
  *paths = nullptr;
  if (!data) return 0;
  char **out = static_cast<char **>(std::calloc(kX11MaxDropPaths, sizeof(char *)));
  if (!out) return 0;
  uint32_t n = 0;
  size_t start = 0;
  while (start < len && n < kX11MaxDropPaths) {
    size_t end = start;
    while (end < len && data[end] != '\n' && data[end] != '\r') end++;
    if (end > start && data[start] != '#')
      if (char *p = path_of_uri(data + start, end - start)) out[n++] = p;
    start = end + 1;
  }
  if (!n) {
    std::free(out);
    return 0;
  }
  *paths = out;
  return n;
}

x11_dnd_message x11_dnd_classify(const KoppelWindow *w, const XClientMessageEvent &m) noexcept {
  if (!w || m.type != ClientMessage || m.window != w->win || m.format != 32) return x11_dnd_message::none;
  const Window from = Window(m.data.l[0]);
  const Atom t = m.message_type;
  if (t == w->a_xdnd_enter) {
    const long version = (m.data.l[1] >> 24) & 0xFF;
    return from != None && version >= 3 ? x11_dnd_message::enter : x11_dnd_message::none;
  }
  if (!w->dnd_source || from != w->dnd_source) return x11_dnd_message::none;
  if (t == w->a_xdnd_position) return x11_dnd_message::position;
  if (t == w->a_xdnd_leave) return x11_dnd_message::leave;
  if (t == w->a_xdnd_drop) return x11_dnd_message::drop;
  return x11_dnd_message::none;
}

void x11_dnd_init(KoppelWindow *w) noexcept {
  const long version = kXdndVersion;
  XChangeProperty(w->dpy, w->win, w->a_xdnd_aware, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char *>(&version), 1);
}

void x11_dnd_free(KoppelWindow *w) noexcept {
  free_paths(w);
  w->dnd_source = 0;
  w->dnd_fetched = false;
  w->dnd_fetch_pending = false;
  w->dnd_accepted = false;
  w->dnd_uri_offered = false;
}

bool x11_dnd_event(KoppelWindow *w, XEvent *ev) noexcept {
  if (ev->type == SelectionNotify && ev->xselection.selection == w->a_xdnd_selection) {
    if (w->dnd_source && w->dnd_fetch_pending &&
        x11_selection_answers(ev->xselection, w->win, w->a_xdnd_selection, w->a_uri_list, w->a_dnd_prop,
                              w->dnd_fetch_time))
      fetched(w, ev->xselection);
    return true;
  }
  if (ev->type != ClientMessage) return false;
  const XClientMessageEvent &m = ev->xclient;
  switch (x11_dnd_classify(w, m)) {
    case x11_dnd_message::enter:
      // A new drag replaces one whose source fell silent.
      end_drag(w);
      w->dnd_source = Window(m.data.l[0]);
      w->dnd_uri_offered = offers_uri_list(w, m);
      return true;
    case x11_dnd_message::position: {
      int x = 0, y = 0;
      Window child;
      const unsigned long xy = static_cast<unsigned long>(m.data.l[2]);
      XTranslateCoordinates(w->dpy, w->root, w->win, int((xy >> 16) & 0xFFFF), int(xy & 0xFFFF), &x, &y, &child);
      w->dnd_x = float(x), w->dnd_y = float(y);
      if (!w->dnd_fetched && w->dnd_uri_offered) {
        w->dnd_fetched = w->dnd_fetch_pending = true;
        w->dnd_fetch_time = Time(m.data.l[3]);
        XDeleteProperty(w->dpy, w->win, w->a_dnd_prop);
        XConvertSelection(w->dpy, w->a_xdnd_selection, w->a_uri_list, w->a_dnd_prop, w->win, w->dnd_fetch_time);
        w->dnd_accepted = false;
      } else {
        w->dnd_accepted = w->dnd_paths && file_event(w, PW_EVENT_FILE_MOVE);
      }
      reply_status(w);
      return true;
    }
    case x11_dnd_message::leave: end_drag(w); return true;
    case x11_dnd_message::drop: {
      const bool ok = w->dnd_paths && file_event(w, PW_EVENT_FILE_DROP);
      send_client_message(w, w->dnd_source, w->a_xdnd_finished, ok ? 1 : 0, ok ? long(w->a_xdnd_action_copy) : 0,
                          0, 0);
      x11_dnd_free(w);
      return true;
    }
    case x11_dnd_message::none:
      // Other XDND messages (forged, late or not for us) are swallowed; any
      // other client message is not ours to judge.
      return m.message_type == w->a_xdnd_enter || m.message_type == w->a_xdnd_position ||
             m.message_type == w->a_xdnd_leave || m.message_type == w->a_xdnd_drop;
  }
  return false;
}
