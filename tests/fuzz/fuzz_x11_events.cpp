// Fuzzes the decoding the X11 window layer does of other clients' traffic,
// without a server: XDND messages against the drag in progress, file lists,
// selection answers and requests, clipboard properties and key text.
#include <X11/Xatom.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "koppel_extensions/window_x11.h"

namespace {
struct input {
  const uint8_t *p;
  size_t n;
  uint8_t byte() { return n ? (n--, *p++) : 0; }
  uint64_t word() {
    uint64_t v = 0;
    for (int i = 0; i < 8; i++) v = v << 8 | byte();
    return v;
  }
};

void check(bool ok) {
  if (!ok) std::abort();
}

struct fake_window {
  KoppelWindow w{};
  fake_window() {
    w.win = 0x400001;
    Atom next = 300;
    for (Atom *a : {&w.a_clipboard, &w.a_utf8, &w.a_targets, &w.a_text, &w.a_string, &w.a_incr, &w.a_our_prop,
                    &w.a_multiple, &w.a_xdnd_enter, &w.a_xdnd_position, &w.a_xdnd_leave, &w.a_xdnd_drop,
                    &w.a_xdnd_selection, &w.a_uri_list, &w.a_dnd_prop})
      *a = next++;
  }
  // An atom the layer knows, or any other value.
  Atom atom(input &in) {
    const uint8_t b = in.byte();
    return b < 200 ? Atom(300 + b % 16) : Atom(in.word());
  }
  Window window(input &in) {
    const uint8_t b = in.byte();
    return b < 128 ? w.win : b < 192 ? Window(0x600000 + b % 4) : Window(in.word());
  }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  input in{data, size};
  fake_window f;
  KoppelWindow &w = f.w;
  char text[] = "440*2";
  while (in.n) {
    switch (in.byte() % 6) {
      case 0: {  // an XDND client message against the drag in progress
        XClientMessageEvent m{};
        m.type = ClientMessage;
        m.window = f.window(in);
        m.message_type = f.atom(in);
        m.format = in.byte() % 3 == 0 ? 8 : 32;
        m.data.l[0] = long(f.window(in));
        for (int i = 1; i < 5; i++) m.data.l[i] = long(in.word());
        const x11_dnd_message kind = x11_dnd_classify(&w, m);
        if (kind != x11_dnd_message::none) check(m.window == w.win && m.format == 32);
        if (kind == x11_dnd_message::enter) {
          w.dnd_source = Window(m.data.l[0]);
        } else if (kind != x11_dnd_message::none) {
          check(w.dnd_source != 0 && Window(m.data.l[0]) == w.dnd_source);
          if (kind == x11_dnd_message::leave || kind == x11_dnd_message::drop) w.dnd_source = 0;
        }
        break;
      }
      case 1: {  // a file list
        const size_t want = in.byte() * 8u, len = want < in.n ? want : in.n;
        char **paths = nullptr;
        const uint32_t n = x11_parse_uri_list(reinterpret_cast<const char *>(in.p), len, &paths);
        check(n <= kX11MaxDropPaths && (n == 0) == (paths == nullptr));
        for (uint32_t i = 0; i < n; i++) check(paths[i][0] == '/' && std::strlen(paths[i]) < kX11MaxPathBytes);
        x11_free_paths(paths, n);
        in.p += len, in.n -= len;
        break;
      }
      case 2: {  // a clipboard owner's property
        const Atom type = in.byte() & 1 ? XA_STRING : f.atom(in);
        const int format = (in.byte() % 4) * 8;
        const unsigned long after = in.byte() < 16 ? in.word() : 0;
        const size_t want = in.byte(), len = want < in.n ? want : in.n;
        size_t out_len = 0;
        char *t = x11_clipboard_text_of(&w, type, format, in.p, len, after, &out_len);
        if (t) {
          check(format == 8 && after == 0 && type != w.a_incr);
          check(std::strlen(t) == out_len && x11_valid_utf8(reinterpret_cast<unsigned char *>(t), out_len));
          std::free(t);
        }
        in.p += len, in.n -= len;
        break;
      }
      case 3: {  // a selection answer
        XSelectionEvent ev{};
        ev.type = in.byte() & 1 ? SelectionNotify : SelectionRequest;
        ev.requestor = f.window(in);
        ev.selection = f.atom(in);
        ev.target = f.atom(in);
        ev.property = in.byte() & 1 ? None : f.atom(in);
        ev.time = Time(in.byte());
        const Time asked = Time(in.byte());
        if (x11_selection_answers(ev, w.win, w.a_clipboard, w.a_utf8, w.a_our_prop, asked))
          check(ev.requestor == w.win && ev.selection == w.a_clipboard && ev.target == w.a_utf8 &&
                (ev.property == None || ev.property == w.a_our_prop) && (asked == CurrentTime || ev.time == asked));
        break;
      }
      case 4: {  // a selection request
        XSelectionRequestEvent rq{};
        rq.type = SelectionRequest;
        rq.owner = f.window(in);
        rq.requestor = in.byte() & 1 ? None : f.window(in);
        rq.selection = f.atom(in);
        rq.target = f.atom(in);
        w.clip_text = in.byte() & 1 ? text : nullptr;
        w.clip_len = w.clip_text ? 5 : 0;
        if (x11_selection_reply_for(&w, rq) != x11_selection_reply::refuse)
          check(rq.owner == w.win && rq.requestor != None && w.clip_text && rq.target != w.a_multiple);
        w.clip_text = nullptr;
        break;
      }
      default: {  // a key's text and symbol
        const size_t want = in.byte() % 32u, len = want < in.n ? want : in.n;
        const char *key_text = reinterpret_cast<const char *>(in.p);
        in.p += len, in.n -= len;
        uint32_t chars[32];
        const size_t count = x11_key_characters(key_text, len, in.byte() & 1, chars, sizeof chars / 4);
        check(count <= len);
        for (size_t i = 0; i < count; i++) check((chars[i] & 0xFF) >= 0x20 && (chars[i] & 0xFF) != 0x7F);
        const PWVirtualKey vk = x11_virtual_key(KeySym(in.word()));
        check(vk == PW_KEY_NONE || (uint32_t(vk) > 0 && uint32_t(vk) < 256));
        x11_modifiers(unsigned(in.word()));
        break;
      }
    }
  }
  return 0;
}
