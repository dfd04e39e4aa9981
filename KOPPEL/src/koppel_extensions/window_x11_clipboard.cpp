// The clipboard through the X CLIPBOARD selection: we own it while our text is
// the clipboard's and answer other clients' requests; reading another
// client's text waits a bounded time for its answer.
#include <poll.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "window_x11.h"

namespace {
constexpr int kClipboardWaitMs = 300;

// Strict UTF-8 check: a text that is not valid UTF-8 becomes empty.
bool valid_utf8(const unsigned char *s, size_t n) {
  for (size_t i = 0; i < n;) {
    const unsigned c = s[i];
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (!len || i + len > n) return false;
    uint32_t cp = len == 1 ? c : len == 2 ? c & 0x1F : len == 3 ? c & 0x0F : c & 0x07;
    for (size_t k = 1; k < len; k++) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    const uint32_t min[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < min[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

char *copy_text(const char *src, size_t n) {
  char *t = static_cast<char *>(std::malloc(n + 1));
  if (!t) return nullptr;
  std::memcpy(t, src, n);
  t[n] = 0;
  return t;
}

void answer_request(KoppelWindow *w, const XSelectionRequestEvent &rq) {
  XEvent reply{};
  reply.xselection.type = SelectionNotify;
  reply.xselection.display = rq.display;
  reply.xselection.requestor = rq.requestor;
  reply.xselection.selection = rq.selection;
  reply.xselection.target = rq.target;
  reply.xselection.time = rq.time;
  reply.xselection.property = None;
  const Atom prop = rq.property != None ? rq.property : rq.target;  // obsolete clients give no property
  if (rq.selection == w->a_clipboard && w->clip_text) {
    if (rq.target == w->a_targets) {
      const Atom targets[] = {w->a_targets, w->a_utf8, w->a_string, w->a_text};
      XChangeProperty(w->dpy, rq.requestor, prop, XA_ATOM, 32, PropModeReplace,
                      reinterpret_cast<const unsigned char *>(targets), 4);
      reply.xselection.property = prop;
    } else if (rq.target == w->a_utf8 || rq.target == w->a_string || rq.target == w->a_text) {
      XChangeProperty(w->dpy, rq.requestor, prop, rq.target == w->a_string ? XA_STRING : w->a_utf8, 8,
                      PropModeReplace, reinterpret_cast<const unsigned char *>(w->clip_text), int(w->clip_len));
      reply.xselection.property = prop;
    }
  }
  x11_error_trap trap(w->dpy);  // the requestor may be gone already
  XSendEvent(w->dpy, rq.requestor, False, 0, &reply);
  trap.failed();
}
}  // namespace

void x11_clipboard_event(KoppelWindow *w, XEvent *ev) noexcept {
  if (ev->type == SelectionRequest) answer_request(w, ev->xselectionrequest);
  else if (ev->type == SelectionClear && ev->xselectionclear.selection == w->a_clipboard) x11_clipboard_free(w);
}

void x11_clipboard_free(KoppelWindow *w) noexcept {
  std::free(w->clip_text);
  w->clip_text = nullptr;
  w->clip_len = 0;
}

void pw_set_clipboard_text(KoppelWindow *w, const char *text) noexcept {
  if (!w || !w->dpy) return;
  if (!text) text = "";
  size_t n = std::strlen(text);
  if (!valid_utf8(reinterpret_cast<const unsigned char *>(text), n)) n = 0;
  char *copy = copy_text(text, n);
  if (!copy) return;
  x11_clipboard_free(w);
  w->clip_text = copy;
  w->clip_len = n;
  XSetSelectionOwner(w->dpy, w->a_clipboard, w->win, CurrentTime);
  if (XGetSelectionOwner(w->dpy, w->a_clipboard) != w->win) x11_clipboard_free(w);
  XFlush(w->dpy);
}

bool pw_get_clipboard_text(KoppelWindow *w, char **text, size_t *length) noexcept {
  if (text) *text = nullptr;
  if (length) *length = 0;
  if (!w || !w->dpy || !text) return false;
  if (XGetSelectionOwner(w->dpy, w->a_clipboard) == w->win && w->clip_text) {
    *text = copy_text(w->clip_text, w->clip_len);
    if (length && *text) *length = w->clip_len + 1;
    return *text != nullptr;
  }
  XDeleteProperty(w->dpy, w->win, w->a_our_prop);
  XConvertSelection(w->dpy, w->a_clipboard, w->a_utf8, w->a_our_prop, w->win, CurrentTime);
  XFlush(w->dpy);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kClipboardWaitMs);
  XEvent ev;
  bool answered = false;
  while (!answered) {
    if (XCheckTypedWindowEvent(w->dpy, w->win, SelectionNotify, &ev)) {
      answered = ev.xselection.selection == w->a_clipboard;
      continue;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd pfd{ConnectionNumber(w->dpy), POLLIN, 0};
    poll(&pfd, 1, int(left.count() < 10 ? left.count() : 10));
    XEventsQueued(w->dpy, QueuedAfterReading);
  }
  if (ev.xselection.property == None) return false;
  Atom type = None;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char *data = nullptr;
  if (XGetWindowProperty(w->dpy, w->win, w->a_our_prop, 0, LONG_MAX / 4, True, AnyPropertyType, &type, &format,
                         &items, &after, &data) != Success)
    return false;
  bool ok = false;
  if (data && type != w->a_incr && format == 8) {
    // The length is the property's; a terminator the other client may not send is never looked for.
    size_t n = items;
    const void *nul = std::memchr(data, 0, n);
    if (nul) n = size_t(static_cast<const unsigned char *>(nul) - data);
    *text = copy_text(reinterpret_cast<const char *>(data), n);
    if (*text && length) *length = n + 1;
    ok = *text != nullptr;
  }
  if (data) XFree(data);
  return ok;
}

void pw_free_clipboard_text(char *text) noexcept { std::free(text); }
