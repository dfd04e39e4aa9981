// The editor inside hosts that trust it with their process: a second X client
// firing forged and random traffic at it, and a host whose own X error
// handler must stay the one in charge, untouched and unbothered by us.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/keysym.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "koppel_clap.h"
#include "koppel_extensions/window_x11.h"
#include "koppel_gui_bridge.h"
#include "state/eq.h"
#include "support/clap_editor.h"
#include "support/x11_harness.h"
#include "system/inst.h"
#include "tarvelon_koppel.h"

namespace {
#define NEED_DISPLAY(h) \
  if (!(h).ok) GTEST_SKIP() << "no X display"

Window editor_window(const x11_harness &x) {
  const std::vector<Window> kids = x.children();
  return kids.empty() ? 0 : kids.back();
}

// Seconds of hostile traffic: long under AddressSanitizer, where the test
// earns its keep, short elsewhere.
int hostile_seconds() {
  if (const char *s = std::getenv("TARVELON_HOSTILE_SECONDS")) return std::max(1, std::atoi(s));
#if defined(__SANITIZE_ADDRESS__)
  return 35;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return 35;
#else
  return 3;
#endif
#else
  return 3;
#endif
}

#if defined(__SANITIZE_ADDRESS__)
constexpr int kHostileSlowdown = 3;
#else
constexpr int kHostileSlowdown = 1;
#endif

// The hostile client: runs in a child process with a connection of its own
// (its own errors, of which it makes many, must not end the test process),
// and returns how many events and property changes it fired.
long run_hostile_client(Window target, int seconds, unsigned seed) {
  Display *d = XOpenDisplay(nullptr);
  if (!d) return -1;
  XSetErrorHandler([](Display *, XErrorEvent *) { return 0; });
  std::mt19937 rng(seed);
  auto pick = [&](size_t n) { return size_t(rng() % n); };
  auto atom = [&](const char *n) { return XInternAtom(d, n, False); };
  const char *names[] = {"XdndEnter",    "XdndPosition", "XdndStatus",   "XdndLeave",     "XdndDrop",
                         "XdndFinished", "XdndSelection", "XdndTypeList", "text/uri-list", "CLIPBOARD",
                         "TARGETS",      "MULTIPLE",     "UTF8_STRING",  "STRING",        "TEXT",
                         "INCR",         "TARVELON_DATA", "TARVELON_DROP", "_XEMBED_INFO", "XdndAware",
                         "XdndActionCopy", "ATOM_PAIR",  "WM_PROTOCOLS"};
  std::vector<Atom> atoms;
  for (const char *n : names) atoms.push_back(atom(n));
  const Atom xdnd[] = {atom("XdndEnter"), atom("XdndPosition"), atom("XdndLeave"), atom("XdndDrop")};
  const Atom uri = atom("text/uri-list"), clipboard = atom("CLIPBOARD"), xdnd_sel = atom("XdndSelection");
  auto random_atom = [&]() -> Atom {
    switch (pick(4)) {
      case 0: return Atom(rng());             // mostly no atom at all
      case 1: return None;
      default: return atoms[pick(atoms.size())];
    }
  };
  std::vector<Window> own;
  auto fresh_window = [&] {
    const Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
    own.push_back(w);
    if (own.size() > 16) {
      XDestroyWindow(d, own.front());
      own.erase(own.begin());
    }
    return w;
  };
  std::vector<Window> gone;
  auto some_window = [&]() -> Window {
    switch (pick(5)) {
      case 0: return own.empty() ? fresh_window() : own[pick(own.size())];
      case 1: return gone.empty() ? Window(0x3FFFF00) : gone[pick(gone.size())];
      case 2: return Window(rng());
      case 3: return None;
      default: return fresh_window();
    }
  };
  auto vanished = [&] {
    const Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
    XDestroyWindow(d, w);
    gone.push_back(w);
    if (gone.size() > 64) gone.erase(gone.begin());
    return w;
  };
  std::vector<unsigned char> junk(300 * 1024);
  for (unsigned char &c : junk) c = static_cast<unsigned char>(rng());
  const char uri_list[] = "file:///tmp/a.wav\r\nfile:///tmp/b%20c.wav\r\n";
  long sent = 0;
  auto send = [&](XEvent &ev, Window to) {
    XSendEvent(d, to, False, NoEventMask, &ev);
    sent++;
  };
  auto client_message = [&](Atom type, int format, Window from) {
    XEvent m{};
    m.xclient.type = ClientMessage;
    m.xclient.window = pick(8) ? target : Window(rng());
    m.xclient.message_type = type;
    m.xclient.format = format;
    for (long &l : m.xclient.data.l) l = long(rng());
    if (format == 32) {
      m.xclient.data.l[0] = long(from);
      if (pick(2)) m.xclient.data.l[1] = long((5u << 24) | (rng() & 1));
      if (pick(2)) m.xclient.data.l[2] = pick(2) ? long(uri) : long((rng() & 0x7FF) << 16 | (rng() & 0x7FF));
      if (pick(2)) m.xclient.data.l[3] = pick(2) ? CurrentTime : long(rng());
    }
    send(m, target);
  };
  // Answers what the editor asks of us, badly.
  auto answer_requests = [&] {
    while (XPending(d)) {
      XEvent ev;
      XNextEvent(d, &ev);
      if (ev.type != SelectionRequest) continue;
      const XSelectionRequestEvent &rq = ev.xselectionrequest;
      const Atom type = pick(3) ? random_atom() : (pick(2) ? atom("INCR") : (pick(2) ? uri : atom("UTF8_STRING")));
      const int format = pick(3) == 0 ? 32 : pick(2) ? 8 : 16;
      size_t bytes = pick(4) == 0 ? junk.size() : pick(64);
      const unsigned char *data = junk.data();
      if (pick(3) == 0) data = reinterpret_cast<const unsigned char *>(uri_list), bytes = sizeof uri_list - 1;
      // Xlib takes format-32 data as an array of longs, whatever their width.
      const int items = int(bytes / (format == 32 ? sizeof(long) : size_t(format / 8)));
      XChangeProperty(d, pick(6) ? rq.requestor : some_window(), pick(4) ? rq.property : random_atom(), type, format,
                      PropModeReplace, data, items);
      XEvent reply{};
      reply.xselection.type = SelectionNotify;
      reply.xselection.requestor = rq.requestor;
      reply.xselection.selection = pick(4) ? rq.selection : random_atom();
      reply.xselection.target = pick(4) ? rq.target : random_atom();
      reply.xselection.property = pick(4) ? rq.property : random_atom();
      reply.xselection.time = pick(4) ? rq.time : Time(rng());
      if (pick(8)) send(reply, rq.requestor);
      sent++;
    }
  };
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (long round = 0; std::chrono::steady_clock::now() < end; round++) {
    switch (pick(9)) {
      case 0: {  // an XDND sequence, in order or not, from a source or a stranger
        const Window from = pick(3) ? some_window() : vanished();
        const int steps = 1 + int(pick(6));
        for (int i = 0; i < steps; i++) client_message(pick(3) ? xdnd[i % 4] : xdnd[pick(4)], 32, from);
        if (pick(2) && !own.empty()) XSetSelectionOwner(d, xdnd_sel, own.back(), CurrentTime);
        break;
      }
      case 1: {  // a SelectionNotify naming anything
        XEvent ev{};
        ev.xselection.type = SelectionNotify;
        ev.xselection.requestor = pick(6) ? target : some_window();
        ev.xselection.selection = pick(2) ? (pick(2) ? clipboard : xdnd_sel) : random_atom();
        ev.xselection.target = pick(2) ? (pick(2) ? uri : atom("UTF8_STRING")) : random_atom();
        ev.xselection.property = random_atom();
        ev.xselection.time = pick(2) ? CurrentTime : Time(rng());
        send(ev, target);
        break;
      }
      case 2: {  // a SelectionRequest from a requestor that is gone, or never was
        XEvent ev{};
        ev.xselectionrequest.type = SelectionRequest;
        ev.xselectionrequest.owner = pick(6) ? target : some_window();
        ev.xselectionrequest.requestor = pick(2) ? vanished() : some_window();
        ev.xselectionrequest.selection = pick(4) ? clipboard : random_atom();
        const Atom odd[] = {atom("TARGETS"), atom("MULTIPLE"), atom("UTF8_STRING"), atom("STRING"), atom("TEXT"),
                            Atom(rng()), None};
        ev.xselectionrequest.target = odd[pick(7)];
        ev.xselectionrequest.property = random_atom();
        ev.xselectionrequest.time = Time(rng());
        send(ev, target);
        break;
      }
      case 3: {  // any client message at all
        const int formats[] = {8, 16, 32, 0, 7};
        client_message(pick(2) ? random_atom() : xdnd[pick(4)], formats[pick(5)], some_window());
        break;
      }
      case 4: {  // properties of our window changed under us
        const int format = pick(3) == 0 ? 32 : pick(2) ? 8 : 16;
        const size_t bytes = pick(8) == 0 ? 64 * 1024 : pick(256);
        XChangeProperty(d, target, random_atom(), random_atom(), format, pick(4) ? PropModeReplace : PropModeAppend,
                        junk.data(), int(bytes / (format == 32 ? sizeof(long) : size_t(format / 8))));
        if (pick(4) == 0) XDeleteProperty(d, target, random_atom());
        sent++;
        break;
      }
      case 5: {  // a type list of any length on a source
        const Window src = own.empty() ? fresh_window() : own[pick(own.size())];
        const int count = pick(4) == 0 ? 20000 : int(pick(12));
        std::vector<Atom> types(size_t(count) + 1);
        for (Atom &a : types) a = pick(16) ? random_atom() : uri;
        XChangeProperty(d, src, atom("XdndTypeList"), pick(4) ? XA_ATOM : random_atom(), 32, PropModeReplace,
                        reinterpret_cast<const unsigned char *>(types.data()), count);
        sent++;
        break;
      }
      case 6:  // take the clipboard, maybe with a window about to go
        XSetSelectionOwner(d, clipboard, pick(3) ? fresh_window() : vanished(), CurrentTime);
        sent++;
        break;
      case 7: {  // keys nobody pressed
        XEvent ev{};
        ev.xkey.type = pick(2) ? KeyPress : KeyRelease;
        ev.xkey.window = target;
        ev.xkey.keycode = unsigned(rng() & 0xFF);
        ev.xkey.state = unsigned(rng() & ~unsigned(ControlMask) & 0xFF);
        ev.xkey.time = Time(rng());
        send(ev, target);
        break;
      }
      default: break;
    }
    answer_requests();
    // A flood, but one the editor's process can work through as it comes
    // (slower under the sanitizer), so the test measures survival, not backlog.
    if (round % 8 == 0) {
      XSync(d, False);
      std::this_thread::sleep_for(std::chrono::milliseconds(kHostileSlowdown * 8));
    }
  }
  XCloseDisplay(d);
  return sent;
}
}  // namespace

TEST(X11Hostile, AForgingClientNeverTakesTheHostDown) {
  x11_harness x;
  NEED_DISPLAY(x);
  // No handler: Xlib's default, which ends the process, stands for a host that installs none.
  XSetErrorHandler(nullptr);
  clap_editor e;
  ASSERT_TRUE(e.create_and_open(x.parent));
  e.host.loop.run_for(100);
  const Window target = editor_window(x);
  ASSERT_NE(target, Window(0));
  KoppelWindow *w = e.core_plugin()->gui->pw;
  const int seconds = hostile_seconds();
  const unsigned seed = 20261207;
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(out[0]);
    const long sent = run_hostile_client(target, seconds, seed);
    if (write(out[1], &sent, sizeof sent) != sizeof sent) _exit(2);
    _exit(0);
  }
  close(out[1]);
  // The host's loop runs on; the editor copies and pastes now and then, so
  // its own requests meet the hostile answers too.
  int status = 0;
  long ticks = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    e.host.loop.run_for(10);
    if (++ticks % 7 == 0) {
      char *text = nullptr;
      size_t len = 0;
      if (pw_get_clipboard_text(w, &text, &len)) pw_free_clipboard_text(text);
    }
    if (ticks % 23 == 0) pw_set_clipboard_text(w, "-3.5");
  }
  long sent = -1;
  ASSERT_EQ(read(out[0], &sent, sizeof sent), ssize_t(sizeof sent));
  close(out[0]);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // The rest of the traffic, then a quiet moment.
  for (int quiet = 0, i = 0; quiet < 20 && i < 3000; i++) {
    e.host.loop.run_for(10);
    quiet = XEventsQueued(w->dpy, QueuedAfterReading) == 0 ? quiet + 1 : 0;
  }
  std::printf("hostile client: %ld events and property changes in %d s (seed %u); %lu errors kept on our "
              "connection; %ld host-loop rounds\n",
              sent, seconds, seed, x11_error_count(w->dpy), ticks);
  EXPECT_GT(sent, 100L * seconds);

  // Still alive, and a drag still edits a band.
  const inst_t *ci = e.core_plugin()->ci;
  const int band = 2;
  ASSERT_EQ(ci->equ[band].on, 1);
  const int bx = int(ci->equ[band].x), by = int(ci->equ[band].y);
  const double freq0 = koppel_getParameterValue(e.core_plugin(), 8 + band);
  x.move_to(target, bx, by);
  e.host.loop.run_for(40);
  x.button(1, true);
  e.host.loop.run_for(40);
  for (int i = 1; i <= 10; i++) {
    x.move_to(target, bx + 6 * i, by - 3 * i);
    e.host.loop.run_for(20);
  }
  x.button(1, false);
  serve_until(e.host.loop, [&] {
    return koppel_getParameterValue(e.core_plugin(), 8 + band) > freq0 * 1.05 && ci->grabbed == 0;
  });
  EXPECT_GT(koppel_getParameterValue(e.core_plugin(), 8 + band), freq0 * 1.05);
  e.close();
  // Leaks are the sanitizer's to report when the process ends.
}

TEST(X11Hostile, TheHostsErrorHandlerStaysTheHostsAndSeesOnlyItsOwnErrors) {
  x11_harness x;
  NEED_DISPLAY(x);
  x11_host_error_handler handler(x.dpy);
  Display *d = x.dpy;
  auto atom = [&](const char *n) { return XInternAtom(d, n, False); };
  // Twenty sessions; under the sanitizer, where each costs seconds, five
  // (the normal build runs all twenty).
  const int rounds = kHostileSlowdown > 1 ? 5 : 20;
  for (int round = 0; round < rounds; round++) {
    clap_editor e;
    ASSERT_TRUE(e.create_and_open(x.parent));
    auto pump = [&](int ms) { e.host.loop.run_for(ms); };
    pump(30);
    const Window win = editor_window(x);
    const inst_t *ci = e.core_plugin()->ci;
    // A drag.
    const int bx = int(ci->equ[2].x), by = int(ci->equ[2].y);
    // (The server keeps the order of input: one turn of the loop takes it all.)
    x.move_to(win, bx, by);
    x.button(1, true);
    for (int i = 1; i <= 3; i++) x.move_to(win, bx + 5 * i, by);
    x.button(1, false);
    pump(20);
    // Typing, copying and pasting in a knob's field.
    x.move_to(win, ci->cpos[2].gx, ci->cpos[2].gy);
    x.button(3, true);
    x.button(3, false);
    serve_until(e.host.loop, [&] { return ci->knob_textedit_on[2] == 1; }, 1000);
    x.key(XK_5);
    x.key(XK_a, true);
    x.key(XK_c, true);
    x.key(XK_v, true);
    x.key(XK_Escape);
    pump(40);
    // A drop from a window of the host's, which then goes away.
    const Window source = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
    XSetSelectionOwner(d, atom("XdndSelection"), source, CurrentTime);
    auto message = [&](const char *type, long l1, long l2) {
      XEvent m{};
      m.xclient.type = ClientMessage;
      m.xclient.window = win;
      m.xclient.message_type = atom(type);
      m.xclient.format = 32;
      m.xclient.data.l[0] = long(source);
      m.xclient.data.l[1] = l1, m.xclient.data.l[2] = l2;
      XSendEvent(d, win, False, NoEventMask, &m);
    };
    message("XdndEnter", 5L << 24, long(atom("text/uri-list")));
    message("XdndPosition", 0, (50L << 16) | 50L);
    message("XdndDrop", 0, 0);
    XDestroyWindow(d, source);
    x.sync();
    pump(40);
    if (round == rounds / 2) {
      // The host's own mistake, mid-session.
      XChangeProperty(d, Window(0x3FFFFF3), XA_STRING, XA_STRING, 8, PropModeReplace,
                      reinterpret_cast<const unsigned char *>("x"), 1);
      XSync(d, False);
    }
    e.close();
    x.sync();
    ASSERT_TRUE(x11_host_error_handler::installed()) << "round " << round;
  }
  EXPECT_TRUE(x11_host_error_handler::installed()) << "the process-wide handler is still the host's";
  EXPECT_EQ(x11_host_error_handler::on_other_connections, 0) << "it was called for none of our requests";
  EXPECT_EQ(x11_host_error_handler::on_host_connection, 1) << "and did get the host's own error";
}
