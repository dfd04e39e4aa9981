// The X11 window layer's own services: key translation, the clipboard between
// two editors through the server, and the drop target refusing files.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/keysym.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "koppel_clap.h"
#include "koppel_extensions/window_x11.h"
#include "koppel_gui.h"
#include "koppel_gui_bridge.h"
#include "support/clap_test_host.h"
#include "support/x11_harness.h"
#include "tarvelon_koppel.h"

namespace {
struct open_editor {
  clap_test_host host{&clap_entry};
  bool ok = false;
  explicit open_editor(Window parent) {
    if (!host.create() || !host.gui->create(host.plugin, CLAP_WINDOW_API_X11, false)) return;
    clap_window_t w{};
    w.api = CLAP_WINDOW_API_X11;
    w.x11 = parent;
    ok = host.gui->set_parent(host.plugin, &w) && host.gui->show(host.plugin);
  }
  ~open_editor() {
    if (ok) host.gui->destroy(host.plugin);
  }
  KoppelWindow *window() const { return koppel_clap_user_plugin(host.plugin)->gui->pw; }
};

#define NEED_DISPLAY(h) \
  if (!(h).ok) GTEST_SKIP() << "no X display"
}  // namespace

TEST(X11Keys, KeysymsBecomeWindowsVirtualKeys) {
  EXPECT_EQ(x11_virtual_key(XK_a), PW_KEY_A);
  EXPECT_EQ(x11_virtual_key(XK_Z), PW_KEY_Z);
  EXPECT_EQ(x11_virtual_key(XK_y), PW_KEY_Y);
  EXPECT_EQ(x11_virtual_key(XK_0), PW_KEY_0);
  EXPECT_EQ(x11_virtual_key(XK_Return), PW_KEY_ENTER);
  EXPECT_EQ(x11_virtual_key(XK_KP_Enter), PW_KEY_ENTER);
  EXPECT_EQ(x11_virtual_key(XK_BackSpace), PW_KEY_BACKSPACE);
  EXPECT_EQ(x11_virtual_key(XK_Escape), PW_KEY_ESCAPE);
  EXPECT_EQ(x11_virtual_key(XK_Left), PW_KEY_ARROW_LEFT);
  EXPECT_EQ(x11_virtual_key(XK_Delete), PW_KEY_DELETE);
  EXPECT_EQ(x11_virtual_key(XK_F24), PW_KEY_F24);
  EXPECT_EQ(x11_virtual_key(XK_minus), PW_KEY_MINUS);
  EXPECT_EQ(x11_virtual_key(XK_period), PW_KEY_PERIOD);
  EXPECT_EQ(x11_virtual_key(XK_Control_R), PW_KEY_CTRL_RIGHT);
  EXPECT_EQ(x11_virtual_key(XK_KP_7), PWVirtualKey(103));
  EXPECT_EQ(x11_virtual_key(XK_eacute), PW_KEY_NONE) << "no virtual key: text only";
  EXPECT_EQ(x11_modifiers(ControlMask | ShiftMask | Mod1Mask | Button1Mask | Button3Mask),
            uint32_t(PW_MOD_KEY_CTRL | PW_MOD_KEY_SHIFT | PW_MOD_KEY_ALT | PW_MOD_LEFT_BUTTON | PW_MOD_RIGHT_BUTTON));
  EXPECT_EQ(x11_modifiers(Button2Mask | LockMask), uint32_t(PW_MOD_MIDDLE_BUTTON)) << "Caps Lock is no modifier";
}

TEST(X11Clipboard, TextCrossesBetweenTwoEditorsThroughTheServer) {
  x11_harness x;
  NEED_DISPLAY(x);
  open_editor a(x.parent), b(x.parent);
  ASSERT_TRUE(a.ok && b.ok);
  KoppelWindow *wa = a.window(), *wb = b.window();
  pw_set_clipboard_text(wa, "440*2 Hz – ok");
  char *text = nullptr;
  size_t len = 0;
  ASSERT_TRUE(pw_get_clipboard_text(wa, &text, &len)) << "the owner reads its own copy";
  EXPECT_STREQ(text, "440*2 Hz – ok");
  EXPECT_EQ(len, std::strlen(text) + 1);
  pw_free_clipboard_text(text);

  // The other editor asks the server; the owner answers from its own loop.
  std::atomic<bool> serve{true};
  std::thread owner([&] {
    while (serve) {
      koppel_guiOnFileDescriptor(wa);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  text = nullptr;
  const bool got = pw_get_clipboard_text(wb, &text, &len);
  serve = false;
  owner.join();
  ASSERT_TRUE(got);
  EXPECT_STREQ(text, "440*2 Hz – ok");
  pw_free_clipboard_text(text);

  pw_set_clipboard_text(wa, "bad \xC3\x28 utf-8");
  ASSERT_TRUE(pw_get_clipboard_text(wa, &text, &len));
  EXPECT_STREQ(text, "") << "invalid UTF-8 becomes an empty text";
  pw_free_clipboard_text(text);
  EXPECT_FALSE(pw_get_clipboard_text(nullptr, &text, &len));
  EXPECT_EQ(text, nullptr);
}

TEST(X11Drop, FilesDraggedOntoTheEditorAreRefused) {
  x11_harness x;
  NEED_DISPLAY(x);
  open_editor e(x.parent);
  ASSERT_TRUE(e.ok);
  e.host.loop.run_for(50);
  Display *d = x.dpy;
  const Window target = x.children().at(0);
  const Window source = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 10, 10, 0, 0, 0);
  auto atom = [&](const char *n) { return XInternAtom(d, n, False); };
  const Atom selection = atom("XdndSelection"), uri_list = atom("text/uri-list");
  XSetSelectionOwner(d, selection, source, CurrentTime);
  auto send = [&](const char *type, long l1, long l2, long l3, long l4) {
    XEvent m{};
    m.xclient.type = ClientMessage;
    m.xclient.window = target;
    m.xclient.message_type = atom(type);
    m.xclient.format = 32;
    m.xclient.data.l[0] = long(source);
    m.xclient.data.l[1] = l1, m.xclient.data.l[2] = l2, m.xclient.data.l[3] = l3, m.xclient.data.l[4] = l4;
    XSendEvent(d, target, False, NoEventMask, &m);
    XFlush(d);
  };
  int statuses = 0, accepted = 0, finished = 0, finished_ok = 0, requests = 0;
  auto serve = [&](int ms) {
    for (int i = 0; i < ms / 10; i++) {
      e.host.loop.run_for(10);
      while (XPending(d)) {
        XEvent ev;
        XNextEvent(d, &ev);
        if (ev.type == SelectionRequest) {
          const XSelectionRequestEvent &rq = ev.xselectionrequest;
          const char data[] = "file:///tmp/a%20b.wav\r\nfile:///tmp/c.wav\r\n";
          XChangeProperty(d, rq.requestor, rq.property, rq.target, 8, PropModeReplace,
                          reinterpret_cast<const unsigned char *>(data), int(sizeof data - 1));
          XEvent reply{};
          reply.xselection.type = SelectionNotify;
          reply.xselection.requestor = rq.requestor;
          reply.xselection.selection = rq.selection;
          reply.xselection.target = rq.target;
          reply.xselection.property = rq.property;
          reply.xselection.time = rq.time;
          XSendEvent(d, rq.requestor, False, 0, &reply);
          XFlush(d);
          requests++;
        } else if (ev.type == ClientMessage && ev.xclient.message_type == atom("XdndStatus")) {
          statuses++;
          accepted += int(ev.xclient.data.l[1] & 1);
        } else if (ev.type == ClientMessage && ev.xclient.message_type == atom("XdndFinished")) {
          finished++;
          finished_ok += int(ev.xclient.data.l[1] & 1);
        }
      }
    }
  };
  send("XdndEnter", 5L << 24, long(uri_list), 0, 0);
  send("XdndPosition", 0, (100L << 16) | 100L, CurrentTime, long(atom("XdndActionCopy")));
  serve(200);
  EXPECT_EQ(requests, 1) << "the file list is fetched once";
  EXPECT_GE(statuses, 1);
  EXPECT_EQ(accepted, 0) << "the editor takes no files";
  send("XdndPosition", 0, (120L << 16) | 110L, CurrentTime, long(atom("XdndActionCopy")));
  send("XdndDrop", 0, CurrentTime, 0, 0);
  serve(200);
  EXPECT_EQ(requests, 1);
  EXPECT_EQ(finished, 1);
  EXPECT_EQ(finished_ok, 0);
  XDestroyWindow(d, source);
}
