// The editor in a real X window through the VST 3 interface, with the module
// loaded from the built bundle as a host would load it.
#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <cmath>
#include <vector>

#include <string>

#include "support/prefs_folder.h"
#include "koppel_clap.h"
#include "support/clap_test_host.h"
#include "support/vst3_plug_frame.h"
#include "state/eq.h"
#include "system/inst.h"
#include "tarvelon_koppel.h"
#include "tarvelon_snapshot_ext.h"
#include "support/vst3_test_host.h"
#include "support/x11_harness.h"

using namespace vst3;
using namespace vst3_host;

namespace {
const char *const kX11Type = "X11EmbedWindowID";

struct vst3_editor {
  module mod{TARVELON_VST3_PATH};
  instance inst{mod};
  plug_frame frame;
  FUnknown *view = nullptr;

  const IPlugViewVtbl *v() const { return reinterpret_cast<const IPlugViewVtbl *>(view->lpVtbl); }
  bool open(Window parent) {
    view = inst.ctrl()->createView(inst.controller, "editor");
    if (!view) return false;
    v()->setFrame(view, reinterpret_cast<FUnknown *>(&frame));
    return v()->attached(view, reinterpret_cast<void *>(parent), kX11Type) == kResultOk;
  }
  void close() {
    if (!view) return;
    v()->removed(view);
    v()->setFrame(view, nullptr);
    view->lpVtbl->release(view);
    view = nullptr;
  }
  ~vst3_editor() { close(); }
};

#define NEED_DISPLAY(h) \
  if (!(h).ok) GTEST_SKIP() << "no X display"
}  // namespace

TEST(X11Vst3Editor, TheViewEmbedsAndDrawsOnTheHostsRunLoop) {
  x11_harness x;
  NEED_DISPLAY(x);
  vst3_editor e;
  ASSERT_TRUE(e.inst.controller);
  e.view = e.inst.ctrl()->createView(e.inst.controller, "editor");
  ASSERT_NE(e.view, nullptr);
  EXPECT_EQ(e.v()->isPlatformTypeSupported(e.view, kX11Type), kResultOk);
  EXPECT_NE(e.v()->isPlatformTypeSupported(e.view, "HWND"), kResultOk);
  EXPECT_EQ(e.inst.ctrl()->createView(e.inst.controller, "editor"), nullptr) << "one editor at a time";
  ViewRect r{};
  ASSERT_EQ(e.v()->getSize(e.view, &r), kResultOk);
  EXPECT_EQ(r.right - r.left, 1060);
  EXPECT_EQ(r.bottom - r.top, 566);
  void *scale = query(e.view, IID_IPlugViewContentScaleSupport);
  ASSERT_NE(scale, nullptr);
  release(scale);

  e.v()->setFrame(e.view, reinterpret_cast<FUnknown *>(&e.frame));
  ASSERT_EQ(e.v()->attached(e.view, reinterpret_cast<void *>(x.parent), kX11Type), kResultOk);
  EXPECT_EQ(e.frame.timers, 1);
  EXPECT_EQ(e.frame.handlers, 1);
  e.frame.loop.run_for(200);
  const std::vector<Window> kids = x.children();
  ASSERT_EQ(kids.size(), 1u);
  std::vector<uint32_t> px;
  int w = 0, h = 0;
  ASSERT_TRUE(x.image(kids[0], &px, &w, &h));
  EXPECT_EQ(w, 1060);
  size_t lit = 0;
  for (uint32_t p : px) lit += p != 0;
  EXPECT_GT(lit, px.size() / 4);

  // A wheel notch over the curve zooms in, and the host hears it as an edit of "Hor. Zoom".
  x.move_to(kids[0], 300, 250);
  e.frame.loop.run_for(30);
  x.button(4, true);
  x.button(4, false);
  for (int waited = 0; waited < 3000 && std::fabs(e.inst.value(26) - 1.25) > 1e-9; waited += 10) e.frame.loop.run_for(10);
  EXPECT_NEAR(e.inst.value(26), 1.25, 1e-9);
  EXPECT_GT(e.inst.handler.count("performEdit"), 0);

  e.v()->removed(e.view);
  EXPECT_EQ(e.frame.timers, 0);
  EXPECT_EQ(e.frame.handlers, 0);
  EXPECT_TRUE(x.children().empty());
}

TEST(X11Vst3Editor, KeysFromTheHostAreTakenOnlyWhenUsed) {
  x11_harness x;
  NEED_DISPLAY(x);
  vst3_editor e;
  ASSERT_TRUE(e.open(x.parent));
  constexpr int16_t kCommand = 4, kShift = 1, kAlt = 2;
  EXPECT_EQ(e.v()->onKeyDown(e.view, u'z', 0, kCommand), kResultTrue);
  EXPECT_EQ(e.v()->onKeyDown(e.view, u'z', 0, kCommand | kShift), kResultTrue);
  EXPECT_NE(e.v()->onKeyDown(e.view, u'z', 0, kCommand | kAlt), kResultTrue);
  EXPECT_NE(e.v()->onKeyDown(e.view, u' ', 7, 0), kResultTrue) << "space stays the host's";
  EXPECT_NE(e.v()->onKeyUp(e.view, u'z', 0, kCommand), kResultTrue);
}

TEST(X11Vst3Editor, SizesAreConstrainedAndTheFrameResizes) {
  x11_harness x;
  NEED_DISPLAY(x);
  vst3_editor e;
  ASSERT_TRUE(e.open(x.parent));
  ViewRect r{0, 0, 100, 100};
  EXPECT_EQ(e.v()->checkSizeConstraint(e.view, &r), kResultOk);
  EXPECT_EQ(r.right, 780);
  EXPECT_EQ(r.bottom, 566);
  r = ViewRect{0, 0, 5000, 3000};
  e.v()->checkSizeConstraint(e.view, &r);
  EXPECT_EQ(r.right, 3840);
  EXPECT_EQ(r.bottom, 2160);
  r = ViewRect{0, 0, 1200, 700};
  EXPECT_EQ(e.v()->onSize(e.view, &r), kResultOk);
  e.frame.loop.run_for(30);
  int w = 0, h = 0;
  ASSERT_TRUE(x.geometry(x.children().at(0), &w, &h));
  EXPECT_EQ(w, 1200);
  EXPECT_EQ(h, 700);
  r = ViewRect{0, 0, -1, 10};
  EXPECT_EQ(e.v()->onSize(e.view, &r), kInvalidArgument);

  // Content scaling asks the frame for the new size.
  void *scale = query(e.view, IID_IPlugViewContentScaleSupport);
  ASSERT_NE(scale, nullptr);
  reinterpret_cast<const IPlugViewContentScaleSupportVtbl *>(static_cast<FUnknown *>(scale)->lpVtbl)
      ->setContentScaleFactor(scale, 1.0f);
  EXPECT_FALSE(e.frame.resizes.empty());
  release(scale);
}

TEST(X11Vst3Editor, AFrameWithoutARunLoopGetsNoEditor) {
  x11_harness x;
  NEED_DISPLAY(x);
  vst3_editor e;
  e.frame.offer_run_loop = false;
  EXPECT_FALSE(e.open(x.parent));
  EXPECT_EQ(e.frame.timers, 0);
}

TEST(X11Vst3Editor, TerminatingWithTheViewOpenTearsTheEditorDownFirst) {
  x11_harness x;
  NEED_DISPLAY(x);
  vst3_editor e;
  ASSERT_TRUE(e.open(x.parent));
  e.frame.loop.run_for(50);
  ASSERT_FALSE(x.children().empty());
  e.inst.comp()->terminate(e.inst.component);
  EXPECT_TRUE(x.children().empty());
  EXPECT_EQ(e.frame.timers, 0) << "no timer reaches the terminated plug-in";
  e.frame.loop.run_for(30);
  ViewRect r{};
  EXPECT_EQ(e.v()->getSize(e.view, &r), kResultOk) << "the empty view still answers";
  EXPECT_NE(e.v()->attached(e.view, reinterpret_cast<void *>(x.parent), kX11Type), kResultOk);
  e.close();
}

TEST(X11Vst3Editor, AContentScaleOfTwoGivesTwiceThePixelsThroughTheViewsSizes) {
  x11_harness x;
  NEED_DISPLAY(x);
  const std::string prefs = make_temp_folder();
  set_prefs_folder(prefs);
  {
    vst3_editor e;
    ASSERT_TRUE(e.open(x.parent));
    void *scale = query(e.view, IID_IPlugViewContentScaleSupport);
    ASSERT_NE(scale, nullptr);
    EXPECT_EQ(reinterpret_cast<const IPlugViewContentScaleSupportVtbl *>(static_cast<FUnknown *>(scale)->lpVtbl)
                  ->setContentScaleFactor(scale, 2.0f),
              kResultOk);
    release(scale);
    ASSERT_FALSE(e.frame.resizes.empty()) << "the frame is asked for the new size";
    EXPECT_EQ(e.frame.resizes.back().right - e.frame.resizes.back().left, 2120);
    EXPECT_EQ(e.frame.resizes.back().bottom - e.frame.resizes.back().top, 1132);
    ViewRect r{};
    ASSERT_EQ(e.v()->getSize(e.view, &r), kResultOk);
    EXPECT_EQ(r.right - r.left, 2120);
    EXPECT_EQ(r.bottom - r.top, 1132);
    r = ViewRect{0, 0, 100, 100};
    EXPECT_EQ(e.v()->checkSizeConstraint(e.view, &r), kResultOk);
    EXPECT_EQ(r.right, 1560) << "the logical minimum in pixels";
    EXPECT_EQ(r.bottom, 1132);
    r = ViewRect{0, 0, 5000, 3000};
    e.v()->checkSizeConstraint(e.view, &r);
    EXPECT_EQ(r.right, 3840);
    EXPECT_EQ(r.bottom, 2160);
    r = ViewRect{0, 0, 2600, 1600};
    EXPECT_EQ(e.v()->onSize(e.view, &r), kResultOk);
    e.frame.loop.run_for(30);
    int w = 0, h = 0;
    ASSERT_TRUE(x.geometry(x.children().at(0), &w, &h));
    EXPECT_EQ(w, 2600);
    EXPECT_EQ(h, 1600);
  }
  remove_folder(prefs);
}

namespace {
// A host that has an X error handler of its own (as toolkits install one):
// errors are counted, never fatal.
int g_x_errors = 0;
int count_x_error(Display *, XErrorEvent *) {
  g_x_errors++;
  return 0;
}
struct lenient_x_errors {
  XErrorHandler previous = XSetErrorHandler(count_x_error);
  ~lenient_x_errors() { XSetErrorHandler(previous); }
};

// Where band 2's point is drawn in a 1060×566 editor with the default
// settings: an instance of the same plug-in, through its CLAP side, draws one
// frame and tells.
bool band_point(int *bx, int *by) {
  clap_test_host h(&clap_entry);
  if (!h.create()) return false;
  const auto *snap =
      static_cast<const tarvelon_plugin_snapshot_t *>(h.plugin->get_extension(h.plugin, TARVELON_EXT_SNAPSHOT));
  std::vector<uint32_t> px(1060 * 566);
  if (!snap || !snap->draw(h.plugin, 1060, 566, px.data())) return false;
  const inst_t *ci = koppel_clap_user_plugin(h.plugin)->ci;
  if (!ci->equ[2].on) return false;
  *bx = int(ci->equ[2].x), *by = int(ci->equ[2].y);
  return true;
}

// Opens the editor and returns its window with the pointer over band 2.
Window open_over_band(x11_harness &x, vst3_editor &e, int *bx, int *by) {
  if (!band_point(bx, by) || !e.open(x.parent)) return 0;
  e.frame.loop.run_for(100);
  const std::vector<Window> kids = x.children();
  if (kids.empty()) return 0;
  x.move_to(kids.back(), *bx, *by);
  e.frame.loop.run_for(30);
  return kids.back();
}

// Drags band 2 through the server, serving the host's run loop between steps.
void drag_band(x11_harness &x, vst3_editor &e, int bx, int by) {
  x.button(1, true);
  e.frame.loop.run_for(40);
  for (int i = 1; i <= 12; i++) {
    x.move_to(x.parent, bx + 5 * i, by - 4 * i);  // the editor (at 0, 0) may be gone by now
    e.frame.loop.run_for(20);
  }
  x.button(1, false);
  e.frame.loop.run_for(60);
}

// The host closes the view (removed, then its last release) from inside one
// of its edit callbacks.
void close_view_now(vst3_editor &e) {
  if (!e.view) return;
  e.v()->removed(e.view);
  e.v()->setFrame(e.view, nullptr);
  FUnknown *v = e.view;
  e.view = nullptr;
  v->lpVtbl->release(v);
}
}  // namespace

// A host that closes the editor when it hears the first value of a drag (the
// window is gone before our frame has finished presenting): the process goes
// on, the run loop is left, and nothing reaches the freed editor.
TEST(X11Vst3Editor, TheViewClosedInsidePerformEditDuringADragIsSafe) {
  x11_harness x;
  NEED_DISPLAY(x);
  vst3_editor e;
  int bx = 0, by = 0;
  ASSERT_NE(open_over_band(x, e, &bx, &by), Window(0));
  int closes = 0;
  e.inst.handler.on_perform = [&] {
    if (!e.view) return;
    closes++;
    close_view_now(e);
  };
  drag_band(x, e, bx, by);
  e.frame.loop.run_for(100);
  e.inst.handler.on_perform = nullptr;
  EXPECT_EQ(closes, 1) << "the drag reached the host";
  EXPECT_EQ(e.frame.timers, 0);
  EXPECT_EQ(e.frame.handlers, 0);
  EXPECT_TRUE(x.children().empty());
  // A new editor opens and draws as before.
  ASSERT_TRUE(e.open(x.parent));
  e.frame.loop.run_for(60);
  EXPECT_EQ(x.children().size(), 1u);
}

// The same from endEdit, with the host rebuilding the view at once (a new
// view attached while the old editor's frame is still on the stack).
TEST(X11Vst3Editor, TheViewRebuiltInsideEndEditDuringADragIsSafe) {
  x11_harness x;
  NEED_DISPLAY(x);
  vst3_editor e;
  int bx = 0, by = 0;
  ASSERT_NE(open_over_band(x, e, &bx, &by), Window(0));
  int rebuilds = 0;
  e.inst.handler.on_end = [&] {
    if (rebuilds > 0 || !e.view) return;
    rebuilds++;
    close_view_now(e);
    ASSERT_TRUE(e.open(x.parent)) << "a new view while the old one's frame unwinds";
  };
  drag_band(x, e, bx, by);
  e.inst.handler.on_end = nullptr;
  EXPECT_EQ(rebuilds, 1);
  e.frame.loop.run_for(100);
  EXPECT_EQ(e.frame.timers, 1) << "only the new view ticks";
  EXPECT_EQ(e.frame.handlers, 1);
  const std::vector<Window> kids = x.children();
  ASSERT_EQ(kids.size(), 1u);
  std::vector<uint32_t> px;
  int w = 0, h = 0;
  ASSERT_TRUE(x.image(kids[0], &px, &w, &h));
  size_t lit = 0;
  for (uint32_t p : px) lit += p != 0;
  EXPECT_GT(lit, px.size() / 4) << "the new editor draws";
  e.close();
  EXPECT_EQ(e.frame.timers, 0);
}

// A host that drops its last reference without calling removed(): the editor
// stops ticking at that release, not when the run loop lets go.
TEST(X11Vst3Editor, AViewReleasedWithoutRemovedStopsTickingAtRelease) {
  x11_harness x;
  NEED_DISPLAY(x);
  vst3_editor e;
  ASSERT_TRUE(e.open(x.parent));
  e.frame.loop.run_for(60);
  ASSERT_EQ(e.frame.timers, 1);
  FUnknown *v = e.view;
  e.view = nullptr;
  EXPECT_EQ(v->lpVtbl->release(v), 0u);
  EXPECT_EQ(e.frame.timers, 0) << "no tick after the host's last release";
  EXPECT_EQ(e.frame.handlers, 0);
  EXPECT_TRUE(x.children().empty());
  e.frame.loop.run_for(60);
  ASSERT_TRUE(e.open(x.parent)) << "the plug-in makes a new view";
  e.frame.loop.run_for(30);
  e.close();
}

// The host destroys its container window first and only then calls
// removed() and releases the view: ticks in between find the window gone,
// and the teardown is clean.
TEST(X11Vst3Editor, TheContainerDestroyedBeforeRemovedIsSurvived) {
  x11_harness x;
  NEED_DISPLAY(x);
  lenient_x_errors host_handler;
  const Window container = XCreateSimpleWindow(x.dpy, x.parent, 0, 0, 1200, 800, 0, 0, 0);
  XMapWindow(x.dpy, container);
  XSync(x.dpy, False);
  vst3_editor e;
  ASSERT_TRUE(e.open(container));
  e.frame.loop.run_for(60);
  XDestroyWindow(x.dpy, container);
  XSync(x.dpy, False);
  e.frame.loop.run_for(100);
  e.close();
  EXPECT_EQ(e.frame.timers, 0);
  EXPECT_EQ(e.frame.handlers, 0);
  e.frame.loop.run_for(30);
}

// The host released the view without removed() and then terminates the
// plug-in: the run loop's references are the view's last ones, and
// unregistering them must tear the view down exactly once.
TEST(X11Vst3Editor, AViewReleasedWithoutRemovedThenTerminatedIsTornDownOnce) {
  x11_harness x;
  NEED_DISPLAY(x);
  vst3_editor e;
  ASSERT_TRUE(e.open(x.parent));
  e.frame.loop.run_for(60);
  FUnknown *v = e.view;
  e.view = nullptr;
  v->lpVtbl->release(v);
  e.inst.comp()->terminate(e.inst.component);
  EXPECT_EQ(e.frame.timers, 0);
  EXPECT_EQ(e.frame.handlers, 0);
  EXPECT_EQ(e.frame.loop_object.refs.load(), 1) << "the run loop is released once";
  EXPECT_TRUE(x.children().empty());
  e.frame.loop.run_for(30);
}
