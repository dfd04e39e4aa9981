// The clipboard through the X CLIPBOARD selection: we own it while our text is
// the clipboard's and answer other clients' requests. Reading never waits:
// text of one of this process's editors is taken directly; another client is
// asked, and its answer re-issues the paste when it arrives.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "window_common.h"
#include "window_x11.h"

namespace {
// The open windows of this process. The lock also guards every window's
// clip_text, which another editor's paste reads; no X call is made under it.
std::mutex g_open_lock;
KoppelWindow *g_open = nullptr;

char *copy_text(const char *src, size_t n) {
  char *t = static_cast<char *>(std::malloc(n + 1));
  if (!t) return nullptr;
  if (n) std::memcpy(t, src, n);
  t[n] = 0;
  return t;
}

void answer_request(KoppelWindow *w, const XSelectionRequestEvent &rq) {
  if (rq.requestor == None) return;  // nobody to answer
  XEvent reply{};
  reply.xselection.type = SelectionNotify;
  reply.xselection.display = rq.display;
  reply.xselection.requestor = rq.requestor;
  reply.xselection.selection = rq.selection;
  reply.xselection.target = rq.target;
  reply.xselection.time = rq.time;
  reply.xselection.property = None;
  const Atom prop = rq.property != None ? rq.property : rq.target;  // obsolete clients give no property
  // A requestor that closed its window before we answer makes these fail:
  // the connection's own error hooks take that, never the host.
  switch (x11_selection_reply_for(w, rq)) {
    case x11_selection_reply::targets: {
      const Atom targets[] = {w->a_targets, w->a_utf8, w->a_string, w->a_text};
      XChangeProperty(w->dpy, rq.requestor, prop, XA_ATOM, 32, PropModeReplace,
                      reinterpret_cast<const unsigned char *>(targets), 4);
      reply.xselection.property = prop;
      break;
    }
    case x11_selection_reply::utf8_text:
      XChangeProperty(w->dpy, rq.requestor, prop, w->a_utf8, 8, PropModeReplace,
                      reinterpret_cast<const unsigned char *>(w->clip_text), int(w->clip_len));
      reply.xselection.property = prop;
      break;
    case x11_selection_reply::latin1_text: {
      // STRING is Latin-1: characters beyond it become '?'.
      char *latin = static_cast<char *>(std::malloc(w->clip_len + 1));
      if (!latin) break;
      size_t n = 0;
      const auto *s = reinterpret_cast<const unsigned char *>(w->clip_text);
      for (size_t i = 0; i < w->clip_len;) {
        const unsigned c = s[i];
        const size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : 4;
        if (i + len > w->clip_len) break;
        const uint32_t cp = len == 1 ? c : len == 2 ? ((c & 0x1F) << 6) | (s[i + 1] & 0x3F) : 0x100;
        latin[n++] = cp < 0x100 ? char(cp) : '?';
        i += len;
      }
      XChangeProperty(w->dpy, rq.requestor, prop, XA_STRING, 8, PropModeReplace,
                      reinterpret_cast<const unsigned char *>(latin), int(n));
      std::free(latin);
      reply.xselection.property = prop;
      break;
    }
    case x11_selection_reply::refuse: break;
  }
  XSendEvent(w->dpy, rq.requestor, False, 0, &reply);
  XFlush(w->dpy);
}

// Latin-1 bytes as UTF-8.
char *utf8_of_latin1(const unsigned char *s, size_t n, size_t *len) {
  char *t = static_cast<char *>(std::malloc(2 * n + 1));
  if (!t) return nullptr;
  size_t o = 0;
  for (size_t i = 0; i < n; i++) {
    if (s[i] < 0x80) {
      t[o++] = char(s[i]);
    } else {
      t[o++] = char(0xC0 | (s[i] >> 6));
      t[o++] = char(0x80 | (s[i] & 0x3F));
    }
  }
  t[o] = 0;
  *len = o;
  return t;
}
}  // namespace

bool x11_valid_utf8(const unsigned char *s, size_t n) noexcept {
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

bool x11_selection_answers(const XSelectionEvent &ev, Window win, Atom selection, Atom target, Atom property,
                           Time time) noexcept {
  if (ev.type != SelectionNotify || ev.requestor != win || ev.selection != selection || ev.target != target)
    return false;
  if (ev.property != None && ev.property != property) return false;
  return time == CurrentTime || ev.time == time;
}

char *x11_clipboard_text_of(const KoppelWindow *w, Atom type, int format, const unsigned char *data,
                            unsigned long items, unsigned long bytes_after, size_t *len) noexcept {
  if (len) *len = 0;
  // An incremental transfer is refused: the text of a field is never that long.
  if (!w || !data || format != 8 || bytes_after != 0 || type == w->a_incr) return nullptr;
  size_t n = items;
  // The length is the property's; a terminator the owner may add ends the text.
  if (const void *nul = std::memchr(data, 0, n)) n = size_t(static_cast<const unsigned char *>(nul) - data);
  size_t out_len = 0;
  char *t = nullptr;
  if (type == XA_STRING) {
    t = utf8_of_latin1(data, n, &out_len);
  } else if (type == w->a_utf8 || type == w->a_text) {
    if (!x11_valid_utf8(data, n)) return nullptr;
    t = copy_text(reinterpret_cast<const char *>(data), n);
    out_len = n;
  }
  if (t && len) *len = out_len;
  return t;
}

x11_selection_reply x11_selection_reply_for(const KoppelWindow *w, const XSelectionRequestEvent &rq) noexcept {
  if (!w || rq.owner != w->win || rq.selection != w->a_clipboard || !w->clip_text || rq.requestor == None)
    return x11_selection_reply::refuse;
  if (rq.target == w->a_targets) return x11_selection_reply::targets;
  if (rq.target == w->a_utf8 || rq.target == w->a_text) return x11_selection_reply::utf8_text;
  if (rq.target == w->a_string) return x11_selection_reply::latin1_text;
  return x11_selection_reply::refuse;  // MULTIPLE and anything else: politely nothing
}

void x11_register_window(KoppelWindow *w) noexcept {
  std::lock_guard<std::mutex> lock(g_open_lock);
  w->next_open = g_open;
  g_open = w;
}

void x11_unregister_window(KoppelWindow *w) noexcept {
  std::lock_guard<std::mutex> lock(g_open_lock);
  for (KoppelWindow **p = &g_open; *p; p = &(*p)->next_open)
    if (*p == w) {
      *p = w->next_open;
      break;
    }
  w->next_open = nullptr;
}

char *x11_text_of_own_window(Window owner, size_t *len) noexcept {
  if (len) *len = 0;
  if (owner == None) return nullptr;
  std::lock_guard<std::mutex> lock(g_open_lock);
  for (KoppelWindow *o = g_open; o; o = o->next_open)
    if (o->win == owner && !o->destroyed && o->clip_text) {
      char *t = copy_text(o->clip_text, o->clip_len);
      if (t && len) *len = o->clip_len;
      return t;
    }
  return nullptr;
}

void x11_set_own_text(KoppelWindow *w, char *text, size_t len) noexcept {
  char *old = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_open_lock);
    old = w->clip_text;
    w->clip_text = text;
    w->clip_len = text ? len : 0;
  }
  std::free(old);
}

void x11_clipboard_event(KoppelWindow *w, XEvent *ev) noexcept {
  if (ev->type == SelectionRequest) answer_request(w, ev->xselectionrequest);
  else if (ev->type == SelectionClear && ev->xselectionclear.selection == w->a_clipboard &&
           ev->xselectionclear.window == w->win)
    x11_set_own_text(w, nullptr, 0);
}

void x11_clipboard_free(KoppelWindow *w) noexcept {
  x11_set_own_text(w, nullptr, 0);
  std::free(w->paste_text);
  w->paste_text = nullptr;
  w->paste_len = 0;
  w->paste_pending = false;
}

void x11_paste_answer(KoppelWindow *w, const XSelectionEvent &ev) noexcept {
  if (!w->paste_pending || !x11_selection_answers(ev, w->win, w->a_clipboard, w->a_utf8, w->a_our_prop, w->paste_time))
    return;
  w->paste_pending = false;
  if (ev.property == None) return;  // the owner had no text
  Atom type = None;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char *data = nullptr;
  size_t len = 0;
  char *text = nullptr;
  if (XGetWindowProperty(w->dpy, w->win, w->a_our_prop, 0, kX11MaxPropertyLongs, True, AnyPropertyType, &type,
                         &format, &items, &after, &data) == Success)
    text = x11_clipboard_text_of(w, type, format, data, items, after, &len);
  if (data) XFree(data);
  if (after) XDeleteProperty(w->dpy, w->win, w->a_our_prop);  // what we did not read goes too
  if (!text) return;
  std::free(w->paste_text);
  w->paste_text = text;
  w->paste_len = len;
  w->paste_text_deadline_ms = x11_now_ms() + kX11PasteWaitMs;
  // The paste is made again, now that the text is here: the editor's Ctrl+V
  // takes it from paste_text at once.
  PWEvent e{};
  e.type = PW_EVENT_KEY_DOWN;
  e.key.virtual_key = PWVirtualKey(PW_KEY_A + ('V' - 'A'));
  e.key.modifiers = PW_MOD_KEY_CTRL;
  const bool used = x11_send(w, &e);
  e.type = PW_EVENT_KEY_UP;
  x11_send(w, &e);
  if (!used) {
    std::free(w->paste_text);
    w->paste_text = nullptr;
    w->paste_len = 0;
  }
}

void x11_paste_expire(KoppelWindow *w) noexcept {
  const int64_t now = x11_now_ms();
  if (w->paste_pending && now >= w->paste_deadline_ms) w->paste_pending = false;
  if (w->paste_text && now >= w->paste_text_deadline_ms) {
    std::free(w->paste_text);
    w->paste_text = nullptr;
    w->paste_len = 0;
  }
}

void pw_set_clipboard_text(KoppelWindow *w, const char *text) noexcept {
  if (!w || !w->dpy) return;
  if (!text) text = "";
  size_t n = std::strlen(text);
  if (!x11_valid_utf8(reinterpret_cast<const unsigned char *>(text), n)) n = 0;
  char *copy = copy_text(text, n);
  if (!copy) return;
  x11_set_own_text(w, copy, n);
  if (w->destroyed) return;
  XSetSelectionOwner(w->dpy, w->a_clipboard, w->win, CurrentTime);
  if (XGetSelectionOwner(w->dpy, w->a_clipboard) != w->win) x11_set_own_text(w, nullptr, 0);
  XFlush(w->dpy);
}

bool pw_get_clipboard_text(KoppelWindow *w, char **text, size_t *length) noexcept {
  if (text) *text = nullptr;
  if (length) *length = 0;
  if (!w || !w->dpy || !text) return false;
  // The answer to an earlier request, arrived since: this is the re-issued paste.
  if (w->paste_text) {
    *text = w->paste_text;
    if (length) *length = w->paste_len + 1;
    w->paste_text = nullptr;
    w->paste_len = 0;
    return true;
  }
  if (w->destroyed) return false;
  const Window owner = XGetSelectionOwner(w->dpy, w->a_clipboard);  // the server answers, no other client
  if (owner == None) return false;
  size_t n = 0;
  if (char *own = x11_text_of_own_window(owner, &n)) {
    *text = own;
    if (length) *length = n + 1;
    return true;
  }
  // Another client: ask it, keep drawing, and paste when it answers.
  if (!w->paste_pending || x11_now_ms() >= w->paste_deadline_ms) {
    XDeleteProperty(w->dpy, w->win, w->a_our_prop);
    w->paste_time = w->last_input_time;
    XConvertSelection(w->dpy, w->a_clipboard, w->a_utf8, w->a_our_prop, w->win, w->paste_time);
    XFlush(w->dpy);
    w->paste_pending = true;
    w->paste_deadline_ms = x11_now_ms() + kX11PasteWaitMs;
  }
  return false;
}

void pw_free_clipboard_text(char *text) noexcept { std::free(text); }
