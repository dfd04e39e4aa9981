// The editor in a Win32 child window through the CLAP and VST 3 interfaces:
// presentation, synthetic input through the system's queue, keys that belong
// to the host, the host's sizing drag, and teardown. Runs under Wine inside
// Xvfb in the test script, and on Windows as it is.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "graphics/layout.h"
#include "koppel_clap.h"
#include "koppel_extensions/window_win.h"
#include "koppel_gui_bridge.h"
#include "state/eq.h"
#include "support/clap_editor.h"
#include "support/clap_test_host.h"
#include "support/vst3_plug_frame.h"
#include "support/vst3_test_host.h"
#include "system/inst.h"
#include "tarvelon_koppel.h"

namespace {
// A host's top-level window, recording the keys that reach it.
struct host_window {
  HWND hwnd = nullptr;
  std::vector<WPARAM> keys;

  static LRESULT CALLBACK proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    auto *self = reinterpret_cast<host_window *>(GetWindowLongPtrW(h, GWLP_USERDATA));
    if (self && msg == WM_KEYDOWN) self->keys.push_back(wp);
    return DefWindowProcW(h, msg, wp, lp);
  }
  host_window() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TarvelonTestHost";
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    RegisterClassExW(&wc);  // fails harmlessly when already registered
    hwnd = CreateWindowExW(0, L"TarvelonTestHost", L"Test host", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 1300,
                           800, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ShowWindow(hwnd, SW_SHOW);
    SetForegroundWindow(hwnd);
  }
  ~host_window() { DestroyWindow(hwnd); }
  std::vector<HWND> children() const {
    std::vector<HWND> out;
    for (HWND c = GetWindow(hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) out.push_back(c);
    return out;
  }
};


KoppelWindow *window_of(const clap_editor &e) {
  const TarvelonKoppelPlugin *p = e.core_plugin();
  return p && p->gui ? p->gui->pw : nullptr;
}

// Synthetic input through the system's queue, as a user's mouse gives it.
void mouse_to(HWND win, int x, int y) {
  POINT p{x, y};
  ClientToScreen(win, &p);
  SetCursorPos(p.x, p.y);
  INPUT in{};
  in.type = INPUT_MOUSE;
  in.mi.dx = LONG(p.x * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1));
  in.mi.dy = LONG(p.y * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1));
  in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  SendInput(1, &in, sizeof in);
}
void left_button(bool down) {
  INPUT in{};
  in.type = INPUT_MOUSE;
  in.mi.dwFlags = down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
  SendInput(1, &in, sizeof in);
}
void key(WORD vk, bool down) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
  SendInput(1, &in, sizeof in);
}

// The window's pixels as the screen shows them (0x00RRGGBB, rows top down).
std::vector<uint32_t> capture(HWND win, int w, int h) {
  std::vector<uint32_t> px(size_t(w) * size_t(h), 0);
  HDC src = GetDC(win);
  HDC mem = CreateCompatibleDC(src);
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void *bits = nullptr;
  HBITMAP bmp = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, w, h, src, 0, 0, SRCCOPY);
  GdiFlush();
  for (size_t i = 0; i < px.size(); i++) px[i] = static_cast<const uint32_t *>(bits)[i] & 0xFFFFFF;
  SelectObject(mem, old);
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(win, src);
  return px;
}

// A 24-bit BMP of a capture, for looking at what the window showed.
void write_bmp(const std::string &path, const std::vector<uint32_t> &px, int w, int h) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  const uint32_t row = (uint32_t(w) * 3 + 3) & ~3u, size = 54 + row * uint32_t(h);
  uint8_t hdr[54] = {'B', 'M'};
  auto put32 = [&](int at, uint32_t v) {
    for (int i = 0; i < 4; i++) hdr[at + i] = uint8_t(v >> (8 * i));
  };
  put32(2, size), put32(10, 54), put32(14, 40), put32(18, uint32_t(w)), put32(22, uint32_t(h));
  hdr[26] = 1, hdr[28] = 24;
  put32(34, row * uint32_t(h));
  std::fwrite(hdr, 1, 54, f);
  std::vector<uint8_t> line(row, 0);
  for (int y = h - 1; y >= 0; y--) {
    for (int x = 0; x < w; x++) {
      const uint32_t p = px[size_t(y) * size_t(w) + size_t(x)];
      line[size_t(x) * 3] = uint8_t(p), line[size_t(x) * 3 + 1] = uint8_t(p >> 8), line[size_t(x) * 3 + 2] = uint8_t(p >> 16);
    }
    std::fwrite(line.data(), 1, row, f);
  }
  std::fclose(f);
}

void save_capture(const char *name, HWND win, int w, int h) {
  const char *dir = std::getenv("TARVELON_SCREENSHOT_DIR");
  if (dir && *dir) write_bmp(std::string(dir) + "/" + name, capture(win, w, h), w, h);
}
}  // namespace

TEST(WinEditor, ThePresentedWindowShowsTheFrame) {
  host_window parent;
  clap_editor e;
  ASSERT_TRUE(e.create_and_open(reinterpret_cast<uintptr_t>(parent.hwnd)));
  uint32_t w = 0, h = 0;
  ASSERT_TRUE(e.host.gui->get_size(e.host.plugin, &w, &h));
  EXPECT_EQ(w, 1060u);
  EXPECT_EQ(h, 566u);
  const std::vector<HWND> kids = parent.children();
  ASSERT_EQ(kids.size(), 1u);
  EXPECT_EQ(pw_get_native_window(window_of(e)), kids[0]);
  EXPECT_EQ(uintptr_t(GetWindowLongPtrW(kids[0], GWLP_ID)), win_unique_id());
  EXPECT_NE(win_unique_id(), 0u);
  e.host.loop.run_for(400);  // the window's own timer draws
  const TarvelonKoppelPlugin *p = e.core_plugin();
  ASSERT_NE(p->drawPixels, nullptr);
  // Still for a moment, then the frame in the bitmap is the one on screen.
  e.host.loop.run_for(50);
  const std::vector<uint32_t> shown = capture(kids[0], int(w), int(h));
  size_t differ = 0, lit = 0;
  for (size_t i = 0; i < shown.size(); i++) {
    differ += shown[i] != (p->drawPixels[i] & 0xFFFFFF);
    lit += shown[i] != 0;
  }
  EXPECT_EQ(differ, 0u) << "the window holds exactly the editor's frame";
  EXPECT_GT(lit, shown.size() / 4) << "and the frame is not empty";
  save_capture("win-editor.bmp", kids[0], int(w), int(h));
  e.close();
  EXPECT_TRUE(parent.children().empty()) << "no window is left behind";
}

TEST(WinEditor, DraggingABandPointWithSyntheticInputEditsAndCtrlZUndoes) {
  host_window parent;
  clap_editor e;
  ASSERT_TRUE(e.create_and_open(reinterpret_cast<uintptr_t>(parent.hwnd)));
  e.host.loop.run_for(200);
  HWND win = pw_get_native_window(window_of(e)) ? static_cast<HWND>(pw_get_native_window(window_of(e))) : nullptr;
  ASSERT_NE(win, nullptr);
  const inst_t *ci = e.core_plugin()->ci;
  const int band = 2;
  ASSERT_EQ(ci->equ[band].on, 1);
  const int bx = int(ci->equ[band].x), by = int(ci->equ[band].y);
  const double freq0 = koppel_getParameterValue(e.core_plugin(), 8 + band);
  mouse_to(win, bx, by);
  e.host.loop.run_for(40);
  left_button(true);
  e.host.loop.run_for(40);
  for (int i = 1; i <= 10; i++) {
    mouse_to(win, bx + 6 * i, by - 3 * i);
    e.host.loop.run_for(20);
  }
  left_button(false);
  serve_until(e.host.loop,
              [&] { return koppel_getParameterValue(e.core_plugin(), 8 + band) > freq0 * 1.05 && ci->grabbed == 0; });
  const double dragged = koppel_getParameterValue(e.core_plugin(), 8 + band);
  EXPECT_GT(dragged, freq0 * 1.05);
  EXPECT_GT(e.host.count("params.request_flush"), 0) << "the host is asked to collect the edits";
  EXPECT_EQ(GetFocus(), win) << "a click gives the editor the keyboard";
  save_capture("win-dragged.bmp", win, 1060, 566);

  // Ctrl+Z is the editor's; a plain Q is the host's.
  parent.keys.clear();
  key(VK_CONTROL, true), key('Z', true), key('Z', false), key(VK_CONTROL, false);
  serve_until(e.host.loop, [&] { return koppel_getParameterValue(e.core_plugin(), 8 + band) < dragged; });
  EXPECT_NEAR(koppel_getParameterValue(e.core_plugin(), 8 + band), freq0, freq0 * 1e-6) << "undone";
  key('Q', true), key('Q', false);
  serve_until(e.host.loop, [&] { return std::count(parent.keys.begin(), parent.keys.end(), WPARAM('Q')) > 0; }, 1000);
  EXPECT_EQ(std::count(parent.keys.begin(), parent.keys.end(), WPARAM('Q')), 1) << "the unused key reaches the host";
  EXPECT_EQ(std::count(parent.keys.begin(), parent.keys.end(), WPARAM('Z')), 0) << "the used key does not";
  e.close();
}

TEST(WinEditor, HostResizingStaysWithinTheLimitsAndTheSizingHookTracksTheEdge) {
  host_window parent;
  clap_editor e;
  ASSERT_TRUE(e.create_and_open(reinterpret_cast<uintptr_t>(parent.hwnd)));
  uint32_t w = 100, h = 100;
  ASSERT_TRUE(e.host.gui->adjust_size(e.host.plugin, &w, &h));
  EXPECT_EQ(w, 780u);
  EXPECT_EQ(h, 566u);
  EXPECT_FALSE(e.host.gui->set_size(e.host.plugin, 100, 100));
  EXPECT_FALSE(e.host.gui->set_size(e.host.plugin, 5000, 3000));
  ASSERT_TRUE(e.host.gui->set_size(e.host.plugin, 1200, 700));
  e.host.loop.run_for(100);
  RECT r;
  GetWindowRect(static_cast<HWND>(pw_get_native_window(window_of(e))), &r);
  EXPECT_EQ(r.right - r.left, 1200);
  EXPECT_EQ(r.bottom - r.top, 700);
  EXPECT_EQ(e.core_plugin()->ci->fb.w, 1200);

  // The host window's sizing drag by its bottom-right corner.
  KoppelWindow *kw = window_of(e);
  SendMessageW(parent.hwnd, WM_ENTERSIZEMOVE, 0, 0);
  RECT drag{0, 0, 1300, 800};
  SendMessageW(parent.hwnd, WM_SIZING, WMSZ_BOTTOMRIGHT, reinterpret_cast<LPARAM>(&drag));
  EXPECT_EQ(kw->ResizeDirection, PW_RESIZE_BOTTOMRIGHT);
  SendMessageW(parent.hwnd, WM_EXITSIZEMOVE, 0, 0);
  EXPECT_EQ(kw->ResizeDirection, PW_RESIZE_UNKNOWN);
  e.close();
}

TEST(WinEditor, AParentOfAnotherProcessGetsNoSizingHook) {
  // The desktop window belongs to another process: hooking its thread would
  // reach into that program.
  DWORD pid = 0;
  GetWindowThreadProcessId(GetDesktopWindow(), &pid);
  if (pid == GetCurrentProcessId()) GTEST_SKIP() << "the desktop belongs to this process here";
  clap_editor e;
  ASSERT_TRUE(e.create_and_open(reinterpret_cast<uintptr_t>(GetDesktopWindow())));
  EXPECT_EQ(window_of(e)->hCallWndHook, nullptr);
  EXPECT_TRUE(e.host.gui->set_size(e.host.plugin, 900, 600)) << "resizing still works, edge unknown";
  EXPECT_EQ(window_of(e)->ResizeDirection, PW_RESIZE_UNKNOWN);
  e.close();
}

TEST(WinEditor, OpeningAndClosingFiftyTimesLeavesNoWindowClassOrHook) {
  host_window parent;
  clap_editor e;
  ASSERT_TRUE(e.host.create());
  std::wstring last_class;
  for (int i = 0; i < 50; i++) {
    ASSERT_TRUE(e.create_and_open(reinterpret_cast<uintptr_t>(parent.hwnd))) << i;
    e.host.loop.run_for(i % 10 == 0 ? 30 : 0);
    KoppelWindow *kw = window_of(e);
    ASSERT_NE(kw, nullptr);
    last_class = kw->ClassName;
    if (i % 2) pw_get_keyboard_focus(kw);  // a message hook to remove
    e.close();
    ASSERT_TRUE(parent.children().empty()) << i;
  }
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  EXPECT_FALSE(GetClassInfoExW(GetModuleHandleW(nullptr), last_class.c_str(), &wc)) << "the class is unregistered";
  EXPECT_EQ(e.core_plugin()->gui, nullptr);
}

TEST(WinEditor, TwoEditorsGetTheirOwnClassesAndOneIdentifier) {
  host_window parent;
  clap_editor a, b;
  ASSERT_TRUE(a.create_and_open(reinterpret_cast<uintptr_t>(parent.hwnd)));
  ASSERT_TRUE(b.create_and_open(reinterpret_cast<uintptr_t>(parent.hwnd)));
  EXPECT_NE(std::wstring(window_of(a)->ClassName), std::wstring(window_of(b)->ClassName));
  const auto kids = parent.children();
  ASSERT_EQ(kids.size(), 2u);
  EXPECT_EQ(GetWindowLongPtrW(kids[0], GWLP_ID), GetWindowLongPtrW(kids[1], GWLP_ID));
  // A window of the same process that is not ours is never taken for one.
  EXPECT_EQ(win_record_of(parent.hwnd), nullptr);
  EXPECT_EQ(win_record_of(nullptr), nullptr);
  b.close();
  a.host.loop.run_for(50);
  a.close();
}

TEST(WinEditor, DestroyingThePluginWithItsEditorOpenIsClean) {
  host_window parent;
  {
    clap_editor e;
    ASSERT_TRUE(e.create_and_open(reinterpret_cast<uintptr_t>(parent.hwnd)));
    e.host.loop.run_for(50);
    e.open = false;  // the host forgets to close it
  }
  EXPECT_TRUE(parent.children().empty());
}

TEST(WinVst3Editor, TheViewEmbedsInAWindowHandleWithoutARunLoop) {
  host_window parent;
  vst3_host::module mod(TARVELON_VST3_PATH);
  ASSERT_NE(mod.factory, nullptr);
  vst3_host::instance inst(mod);
  ASSERT_NE(inst.controller, nullptr);
  vst3::FUnknown *view = inst.ctrl()->createView(inst.controller, "editor");
  ASSERT_NE(view, nullptr);
  auto *v = reinterpret_cast<const vst3::IPlugViewVtbl *>(view->lpVtbl);
  EXPECT_EQ(v->isPlatformTypeSupported(view, "HWND"), vst3::kResultOk);
  EXPECT_NE(v->isPlatformTypeSupported(view, "X11EmbedWindowID"), vst3::kResultOk);
  vst3_host::plug_frame frame;
  frame.offer_run_loop = false;  // Windows hosts have none to offer
  v->setFrame(view, reinterpret_cast<vst3::FUnknown *>(&frame));
  ASSERT_EQ(v->attached(view, parent.hwnd, "HWND"), vst3::kResultOk);
  frame.loop.run_for(200);
  const auto kids = parent.children();
  ASSERT_EQ(kids.size(), 1u);
  EXPECT_TRUE(IsWindowVisible(kids[0]));
  vst3::ViewRect r{};
  ASSERT_EQ(v->getSize(view, &r), vst3::kResultOk);
  EXPECT_EQ(r.right - r.left, 1060);
  v->removed(view);
  v->setFrame(view, nullptr);
  view->lpVtbl->release(view);
  EXPECT_TRUE(parent.children().empty());
}

TEST(WinEditor, WithoutAHostScaleTheEditorFollowsItsMonitorsDpi) {
  host_window parent;
  clap_editor e;
  ASSERT_TRUE(e.host.create());
  ASSERT_TRUE(e.host.gui->create(e.host.plugin, CLAP_WINDOW_API_WIN32, false));
  clap_window_t win{};
  win.api = CLAP_WINDOW_API_WIN32;
  win.win32 = parent.hwnd;
  ASSERT_TRUE(e.host.gui->set_parent(e.host.plugin, &win));
  e.open = e.host.gui->show(e.host.plugin);
  KoppelWindow *kw = window_of(e);
  ASSERT_NE(kw, nullptr);
  HWND editor = static_cast<HWND>(pw_get_native_window(kw));
  inst_t *ci = e.core_plugin()->ci;
  const int32_t lw = ci->gui_width, lh = ci->gui_height;

  // Moved to a monitor at 192 DPI (200 %): twice the pixels, the same logical size.
  RECT suggested{0, 0, 2 * lw, 2 * lh};
  SendMessageW(editor, 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&suggested));
  uint32_t w = 0, h = 0;
  ASSERT_TRUE(e.host.gui->get_size(e.host.plugin, &w, &h));
  EXPECT_EQ(w, uint32_t(std::min(2 * lw, 3840)));
  EXPECT_EQ(h, uint32_t(std::min(2 * lh, 2160)));
  EXPECT_EQ(ci->fb.w, int32_t(w));
  EXPECT_FLOAT_EQ(kw->content_scale_factor, 2.0f);
  EXPECT_EQ(ci->gui_width, lw) << "the remembered size stays logical";

  // Once the host gives a scale, the monitor's DPI no longer decides it.
  ASSERT_TRUE(e.host.gui->set_scale(e.host.plugin, 1.0));
  SendMessageW(editor, 0x02E0, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
  ASSERT_TRUE(e.host.gui->get_size(e.host.plugin, &w, &h));
  EXPECT_EQ(w, uint32_t(lw));
  EXPECT_EQ(h, uint32_t(lh));
  e.close();
}

// A DPI-aware host whose window sits at 192 DPI (Wine: LogPixels 192 in the
// prefix's "Control Panel\Desktop"; Windows: a 200 % monitor) opens the
// editor at 2× without being asked. Skipped where the screen is not at 192 DPI.
TEST(WinEditor, AParentAt192DpiOpensTheEditorAtTwoTimes) {
  using ctx_fn = void *(WINAPI *)(void *);
  using dpi_fn = UINT(WINAPI *)(HWND);
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  const auto set_ctx =
      reinterpret_cast<ctx_fn>(reinterpret_cast<void *>(GetProcAddress(user32, "SetThreadDpiAwarenessContext")));
  const auto get_dpi = reinterpret_cast<dpi_fn>(reinterpret_cast<void *>(GetProcAddress(user32, "GetDpiForWindow")));
  if (!set_ctx || !get_dpi) GTEST_SKIP() << "no per-window DPI on this system";
  // Per-monitor aware, as hosts are; this thread only, put back at the end.
  void *const before = set_ctx(reinterpret_cast<void *>(intptr_t(-4)));
  {
    host_window parent;
    if (get_dpi(parent.hwnd) != 192) {
      set_ctx(before);
      GTEST_SKIP() << "the host window is at " << get_dpi(parent.hwnd) << " DPI";
    }
    clap_editor e;
    ASSERT_TRUE(e.host.create());
    ASSERT_TRUE(e.host.gui->create(e.host.plugin, CLAP_WINDOW_API_WIN32, false));
    clap_window_t win{};
    win.api = CLAP_WINDOW_API_WIN32;
    win.win32 = parent.hwnd;
    ASSERT_TRUE(e.host.gui->set_parent(e.host.plugin, &win));
    e.open = e.host.gui->show(e.host.plugin);
    inst_t *ci = e.core_plugin()->ci;
    EXPECT_EQ(tarvelon_ui_scale(ci), 2.0);
    uint32_t w = 0, h = 0;
    ASSERT_TRUE(e.host.gui->get_size(e.host.plugin, &w, &h));
    EXPECT_EQ(w, uint32_t(std::min(2 * ci->gui_width, 3840)));
    EXPECT_EQ(h, uint32_t(std::min(2 * ci->gui_height, 2160)));
    e.close();
  }
  set_ctx(before);
}
