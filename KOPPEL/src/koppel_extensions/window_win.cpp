// The Win32 window layer: a child window inside the host's window, its own
// 10 ms timer, window messages turned into editor events, keyboard focus
// inside hosts that translate keys in their own loop, cursors and
// presentation of finished frames.
#include "window_win.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "koppel_gui.h"
#include "koppel_interface.h"
#include "window_common.h"

namespace {
constexpr const wchar_t *kTitle = L"Tarvelon Free";
constexpr UINT_PTR kTickTimer = 1;

std::atomic<uintptr_t> g_unique_id{0};
std::atomic<uint64_t> g_last_class_time{0};

// 16×16 monochrome hand cursors, hot spot in the middle: AND then XOR masks,
// two bytes a row, leftmost pixel in the top bit.
constexpr uint8_t kOpenHandAnd[32] = {0xfe, 0x7f, 0xe4, 0x0f, 0xc0, 0x07, 0xc0, 0x05, 0xe0, 0x00, 0xe0,
                                      0x00, 0x90, 0x00, 0x00, 0x00, 0x00, 0x01, 0x80, 0x01, 0xc0, 0x01,
                                      0xc0, 0x03, 0xe0, 0x03, 0xf0, 0x07, 0xf8, 0x07, 0xf8, 0x07};
constexpr uint8_t kOpenHandXor[32] = {0x00, 0x00, 0x01, 0x80, 0x19, 0xb0, 0x19, 0xb0, 0x0d, 0xb2, 0x0d,
                                      0xb6, 0x07, 0xf6, 0x67, 0xfe, 0x77, 0xfc, 0x63, 0xfc, 0x3f, 0xfc,
                                      0x1f, 0xf8, 0x0f, 0xf8, 0x07, 0xf0, 0x03, 0xf0, 0x03, 0xf0};
constexpr uint8_t kClosedHandAnd[32] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xf2, 0x4f, 0xe0, 0x03, 0xe0,
                                        0x01, 0xf0, 0x01, 0xe0, 0x01, 0xc0, 0x01, 0xc0, 0x03, 0xe0, 0x03,
                                        0xf0, 0x07, 0xf8, 0x07, 0xf8, 0x07, 0xff, 0xff, 0xff, 0xff};
constexpr uint8_t kClosedHandXor[32] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0d, 0xb0, 0x0f, 0xf4, 0x07,
                                        0xfc, 0x07, 0xfc, 0x1f, 0xfc, 0x1f, 0xfc, 0x0f, 0xf8, 0x07, 0xf0,
                                        0x03, 0xf0, 0x03, 0xf0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

KoppelWindow *W(void *gui) { return static_cast<KoppelWindow *>(gui); }

// Milliseconds since 1970 from the system clock.
uint64_t unix_time_ms() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  const uint64_t t = (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return t / 10000 - 11644473600000ull;
}

// This library's own module, for hooks and resources (cached).
HMODULE own_module() {
  static HMODULE module = [] {
    HMODULE m = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&own_module), &m);
    return m;
  }();
  return module;
}

uint32_t key_modifiers() {
  uint32_t m = 0;
  if (GetKeyState(VK_LBUTTON) < 0) m |= PW_MOD_LEFT_BUTTON;
  if (GetKeyState(VK_RBUTTON) < 0) m |= PW_MOD_RIGHT_BUTTON;
  if (GetKeyState(VK_MBUTTON) < 0) m |= PW_MOD_MIDDLE_BUTTON;
  if (GetKeyState(VK_CONTROL) < 0) m |= PW_MOD_KEY_CTRL;
  if (GetKeyState(VK_SHIFT) < 0) m |= PW_MOD_KEY_SHIFT;
  if (GetKeyState(VK_MENU) < 0) m |= PW_MOD_KEY_ALT;
  return m;
}

void translate_mouse(PWEvent *e, WPARAM wp, LPARAM lp) {
  e->mouse.x = float(int16_t(LOWORD(lp)));
  e->mouse.y = float(int16_t(HIWORD(lp)));
  e->mouse.time_ms = uint32_t(GetMessageTime());
  e->mouse.double_click_interval_ms = GetDoubleClickTime();
  uint32_t m = 0;
  const UINT keys = GET_KEYSTATE_WPARAM(wp);
  if (keys & MK_LBUTTON) m |= PW_MOD_LEFT_BUTTON;
  if (keys & MK_RBUTTON) m |= PW_MOD_RIGHT_BUTTON;
  if (keys & MK_MBUTTON) m |= PW_MOD_MIDDLE_BUTTON;
  if (keys & MK_CONTROL) m |= PW_MOD_KEY_CTRL;
  if (keys & MK_SHIFT) m |= PW_MOD_KEY_SHIFT;
  if (GetKeyState(VK_MENU) < 0) m |= PW_MOD_KEY_ALT;  // the message does not carry Alt
  e->mouse.modifiers = m;
}

bool send_mouse(KoppelWindow *w, PWEventType type, WPARAM wp, LPARAM lp) {
  PWEvent e{};
  e.type = type;
  translate_mouse(&e, wp, lp);
  return win_send(w, &e);
}

void remove_message_hook(KoppelWindow *w) {
  if (w->hGetMessageHook) UnhookWindowsHookEx(w->hGetMessageHook);
  w->hGetMessageHook = nullptr;
}

void remove_hooks(KoppelWindow *w) {
  remove_message_hook(w);
  if (w->hCallWndHook) UnhookWindowsHookEx(w->hCallWndHook);
  w->hCallWndHook = nullptr;
}

// A key or character message: an event for the editor; true when it used it.
bool handle_key(KoppelWindow *w, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_CHAR) {
    // One UTF-16 unit a message: a surrogate pair arrives in two.
    const uint16_t unit = uint16_t(wp);
    wchar_t units[2];
    int n = 0;
    if (unit >= 0xD800 && unit < 0xDC00) {
      w->pending_high_surrogate = unit;
      return true;
    }
    if (unit >= 0xDC00 && unit < 0xE000 && w->pending_high_surrogate) units[n++] = wchar_t(w->pending_high_surrogate);
    w->pending_high_surrogate = 0;
    units[n++] = wchar_t(unit);
    char utf8[4] = {};
    const int len = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, units, n, utf8, 4, nullptr, nullptr);
    const uint32_t code = len > 0 ? pw_pack_utf8(reinterpret_cast<const unsigned char *>(utf8), size_t(len)) : 0;
    if (code == 127) return false;  // Ctrl+Backspace types DEL: no text
    PWEvent e{};
    e.type = PW_EVENT_TEXT;
    e.text.codepoint = code;
    e.text.modifiers = key_modifiers();
    return win_send(w, &e);
  }
  PWEvent e{};
  e.type = (lp & (LPARAM(1) << 31)) ? PW_EVENT_KEY_UP : PW_EVENT_KEY_DOWN;
  e.key.virtual_key = PWVirtualKey(uint32_t(wp));
  e.key.modifiers = key_modifiers() | ((lp & (LPARAM(1) << 30)) ? uint32_t(PW_MOD_KEY_REPEAT) : 0u);
  return win_send(w, &e);
}

// Messages of this thread on their way out of the queue: keys for our
// window reach the editor before the host's loop can translate them away.
LRESULT CALLBACK get_msg_proc(int code, WPARAM wp, LPARAM lp) {
  if (code == HC_ACTION && wp == PM_REMOVE) {
    MSG *m = reinterpret_cast<MSG *>(lp);
    KoppelWindow *w = m && (m->message == WM_KEYDOWN || m->message == WM_KEYUP || m->message == WM_CHAR)
                          ? win_record_of(m->hwnd)
                          : nullptr;
    if (w) {
      HHOOK hook = w->hGetMessageHook;
      if (handle_key(w, m->message, m->wParam, m->lParam)) {
        if (m->message == WM_KEYDOWN) {
          TranslateMessage(m);
          // The character it posted comes through this hook again, at once.
          MSG c;
          while (PeekMessageW(&c, m->hwnd, WM_CHAR, WM_DEADCHAR, PM_REMOVE)) {
          }
        }
        // Used: the host's loop dispatches nothing for it.
        *m = MSG{};
        m->message = WM_NULL;
      } else if (HWND parent = GetParent(m->hwnd)) {
        m->hwnd = parent;  // not ours to keep: the host's window gets it
      }
      return CallNextHookEx(hook, code, wp, lp);
    }
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

struct find_ours {
  KoppelWindow *found = nullptr;
};
BOOL CALLBACK find_child(HWND hwnd, LPARAM lp) {
  auto *f = reinterpret_cast<find_ours *>(lp);
  f->found = win_record_of(hwnd);
  return f->found ? FALSE : TRUE;
}

// Messages sent to the host's windows on its GUI thread: the sizing drag, so
// the editor knows the edge being dragged and when the drag ends.
LRESULT CALLBACK call_wnd_proc(int code, WPARAM wp, LPARAM lp) {
  if (code == HC_ACTION) {
    const CWPSTRUCT *c = reinterpret_cast<const CWPSTRUCT *>(lp);
    if (c && (c->message == WM_SIZING || c->message == WM_ENTERSIZEMOVE || c->message == WM_EXITSIZEMOVE)) {
      find_ours f;
      EnumChildWindows(c->hwnd, find_child, reinterpret_cast<LPARAM>(&f));
      if (KoppelWindow *w = f.found) {
        PWEvent e{};
        if (c->message == WM_SIZING) {
          w->ResizeDirection = c->wParam >= 1 && c->wParam <= 8 ? PWResizeDirection(c->wParam) : PW_RESIZE_UNKNOWN;
        } else if (c->message == WM_ENTERSIZEMOVE) {
          e.type = PW_EVENT_RESIZE_BEGIN;
          win_send(w, &e);
        } else {
          e.type = PW_EVENT_RESIZE_END;
          win_send(w, &e);
          w->ResizeDirection = PW_RESIZE_UNKNOWN;
        }
      }
    }
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

// Records whose tear-down waits for a file prompt's loop on this thread, a
// list through the records themselves: a thread-local with a destructor
// would run our code at thread exit, perhaps after the host unloaded us.
thread_local KoppelWindow *t_deferred = nullptr;

void defer_teardown(KoppelWindow *w) {
  if (w->end_deferred || w->free_deferred) return;
  w->next_deferred = t_deferred;
  t_deferred = w;
}

// The tear-down while the window handle is still usable.
void end_window(KoppelWindow *w, HWND hwnd) {
  KillTimer(hwnd, kTickTimer);
  w->hParent = nullptr;
  remove_hooks(w);
  w->hPrevKeyboardFocus = nullptr;
  if (w->gui && win_prompt_running()) {
    // The editor may be the prompt's caller: it ends once the prompt returns,
    // without a window by then.
    defer_teardown(w);
    w->end_deferred = true;
  } else if (w->gui) {
    w->hwnd = hwnd;  // the editor may still present or ask for the window while it ends
    void *gui = w->gui;
    w->gui = nullptr;
    pw_destroy_gui(gui);
  }
  w->hwnd = nullptr;
  if (w->drop_registered) RevokeDragDrop(hwnd);
  w->drop_registered = false;
  w->DropTarget.files.clear();
}

// The DPI a window is shown at: GetDpiForWindow where the system has it
// (looked up, as older Windows lacks it), else the screen's; 96 is 100 %.
UINT window_dpi(HWND h) {
  using dpi_fn = UINT(WINAPI *)(HWND);
  static const dpi_fn get =
      reinterpret_cast<dpi_fn>(reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  UINT dpi = (get && h) ? get(h) : 0;
  if (!dpi) {
    if (HDC dc = GetDC(nullptr)) {
      dpi = UINT(GetDeviceCaps(dc, LOGPIXELSX));
      ReleaseDC(nullptr, dc);
    }
  }
  return dpi ? dpi : 96;
}

void apply_scale(KoppelWindow *w, float scale);

// Without a scale from the host the editor follows its monitor's DPI.
void follow_dpi(KoppelWindow *w, UINT dpi) {
  if (!w || w->host_scale_set || !dpi) return;
  const float s = float(dpi) / 96.0f;
  if (s != w->content_scale_factor) apply_scale(w, s);
}

LRESULT CALLBACK wnd_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  KoppelWindow *w = win_record_of(hwnd);
  if (!w) return DefWindowProcW(hwnd, msg, wp, lp);
  switch (msg) {
    case WM_MOUSEMOVE: {
      TRACKMOUSEEVENT t{sizeof t, TME_LEAVE, hwnd, HOVER_DEFAULT};
      TrackMouseEvent(&t);
      if (!w->MouseIsOver) {
        w->MouseIsOver = true;
        SetCursor(LoadCursorW(nullptr, IDC_ARROW));
        send_mouse(w, PW_EVENT_MOUSE_ENTER, wp, lp);
      } else {
        send_mouse(w, PW_EVENT_MOUSE_MOVE, wp, lp);
      }
      return 0;
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      SetCapture(hwnd);
      send_mouse(w, msg == WM_LBUTTONDOWN ? PW_EVENT_MOUSE_LEFT_DOWN
                    : msg == WM_RBUTTONDOWN ? PW_EVENT_MOUSE_RIGHT_DOWN
                                            : PW_EVENT_MOUSE_MIDDLE_DOWN,
                 wp, lp);
      return 0;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
      ReleaseCapture();
      send_mouse(w, msg == WM_LBUTTONUP ? PW_EVENT_MOUSE_LEFT_UP
                    : msg == WM_RBUTTONUP ? PW_EVENT_MOUSE_RIGHT_UP
                                          : PW_EVENT_MOUSE_MIDDLE_UP,
                 wp, lp);
      return 0;
    case WM_MOUSEWHEEL: {
      PWEvent e{};
      e.type = PW_EVENT_MOUSE_WHEEL;
      translate_mouse(&e, wp, lp);
      e.mouse.x = 0;
      e.mouse.y = float(GET_WHEEL_DELTA_WPARAM(wp));
      win_send(w, &e);
      return 0;
    }
    case WM_MOUSELEAVE: {
      w->MouseIsOver = false;
      PWEvent e{};
      e.type = PW_EVENT_MOUSE_EXIT;
      win_send(w, &e);
      return 0;
    }
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
    case WM_CHAR:
      if (handle_key(w, msg, wp, lp)) return 0;
      // Keys the editor does not use belong to the host (its shortcuts, its transport).
      if (w->hParent && msg != WM_SYSKEYDOWN && msg != WM_SYSKEYUP) {
        PostMessageW(w->hParent, msg, wp, lp);
        return 0;
      }
      return DefWindowProcW(hwnd, msg, wp, lp);
    case WM_SETCURSOR:
      return TRUE;  // the editor chooses the cursor; default processing would reset it
    case WM_KILLFOCUS: {
      remove_message_hook(w);
      w->hPrevKeyboardFocus = nullptr;
      PWEvent e{};
      e.type = PW_EVENT_KEY_FOCUS_LOST;
      win_send(w, &e);
      return 0;
    }
    case WM_TIMER:
    case WM_PW_TICK:
      // No frame starts inside a prompt's loop: the editor waits for the answer.
      if (w->gui && !win_prompt_running()) pw_tick(w->gui);
      return 0;
    case WM_PW_FILE_CHOSEN:
      win_finish_choose_file(w);
      return DefWindowProcW(hwnd, msg, wp, lp);
    case 0x02E0:  // WM_DPICHANGED: moved to a monitor of another scale
      follow_dpi(w, LOWORD(wp));
      return 0;
    case 0x02E3:  // WM_DPICHANGED_AFTERPARENT: what a child window is told
      follow_dpi(w, window_dpi(hwnd));
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the frame covers every pixel
    case WM_PAINT: {
      PAINTSTRUCT ps;
      BeginPaint(hwnd, &ps);
      EndPaint(hwnd, &ps);
      if (w->gui) pw_expose(w->gui);
      return 0;
    }
    case WM_DESTROY:
      end_window(w, hwnd);
      return DefWindowProcW(hwnd, msg, wp, lp);
    default:
      return DefWindowProcW(hwnd, msg, wp, lp);
  }
}

HCURSOR hand_cursor(const uint8_t *and_mask, const uint8_t *xor_mask) {
  return CreateCursor(GetModuleHandleW(nullptr), 8, 8, 16, 16, and_mask, xor_mask);
}

HCURSOR ole_cursor(int id, LPCWSTR fallback) {
  HMODULE ole = GetModuleHandleW(L"ole32.dll");
  HCURSOR c = ole ? LoadCursorW(ole, MAKEINTRESOURCEW(id)) : nullptr;
  return c ? c : LoadCursorW(nullptr, fallback);
}
}  // namespace

void pw_path_list::clear() noexcept {
  for (uint32_t i = 0; paths && i < count; i++) std::free(paths[i]);
  std::free(paths);
  paths = nullptr;
  count = 0;
}

bool win_send(KoppelWindow *w, PWEvent *e) noexcept {
  if (!w || !w->gui) return false;
  e->gui = w->gui;
  return pw_event(e);
}

uintptr_t win_unique_id() noexcept { return g_unique_id.load(); }

KoppelWindow *win_record_of(HWND hwnd) noexcept {
  const uintptr_t id = g_unique_id.load();
  if (!hwnd || !id) return nullptr;
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid != GetCurrentProcessId()) return nullptr;
  if (GetWindowLongPtrW(hwnd, GWLP_WNDPROC) != reinterpret_cast<LONG_PTR>(&wnd_proc)) return nullptr;
  if (uintptr_t(GetWindowLongPtrW(hwnd, GWLP_ID)) != id) return nullptr;
  return reinterpret_cast<KoppelWindow *>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

std::wstring win_widen(const char *s) noexcept {
  if (!s || !*s) return {};
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s, -1, nullptr, 0);
  if (n <= 1) return {};
  std::wstring out(size_t(n), L'\0');
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s, -1, out.data(), n) != n) return {};
  out.resize(size_t(n - 1));
  return out;
}

std::string win_narrow(const wchar_t *s, int units) noexcept {
  if (!s || units == 0) return {};
  const int n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, s, units, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(size_t(n), '\0');
  if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, s, units, out.data(), n, nullptr, nullptr) != n) return {};
  if (units < 0) out.resize(size_t(n - 1));  // the terminator was counted
  return out;
}

void *koppel_createGUI(KoppelHostContext *host, TarvelonKoppelPlugin *plugin) noexcept {
  if (!plugin) return nullptr;
  auto *w = new (std::nothrow) KoppelWindow();
  if (!w) return nullptr;
  w->plugin = plugin;
  w->host_ctx = host;
  w->DropTarget.pw = w;

  // A class of its own for every window; two windows made within one
  // millisecond still get different names.
  uint64_t t = unix_time_ms();
  uint64_t last = g_last_class_time.load();
  do {
    if (t <= last) t = last + 1;
  } while (!g_last_class_time.compare_exchange_weak(last, t));
  _snwprintf(w->ClassName, 47, L"%ls-%llx", kTitle, static_cast<unsigned long long>(t));
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_OWNDC;
  wc.lpfnWndProc = wnd_proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = w->ClassName;
  if (!RegisterClassExW(&wc)) {
    delete w;
    return nullptr;
  }

  PWGetInfo info{};
  info.type = PW_INFO_INIT_SIZE;
  info.init_size.plugin = plugin;
  pw_get_info(&info);
  const int width = info.init_size.width ? int(info.init_size.width) : 512;
  const int height = info.init_size.height ? int(info.init_size.height) : 512;
  w->hwnd = CreateWindowExW(WS_EX_NOPARENTNOTIFY, w->ClassName, kTitle, WS_CHILD | WS_CLIPSIBLINGS, 0, 0, width,
                            height, GetDesktopWindow(), nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!w->hwnd) {
    UnregisterClassW(w->ClassName, GetModuleHandleW(nullptr));
    delete w;
    return nullptr;
  }
  uintptr_t expected = 0;
  g_unique_id.compare_exchange_strong(expected, uintptr_t(t));
  SetWindowLongPtrW(w->hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(w));
  SetWindowLongPtrW(w->hwnd, GWLP_ID, LONG_PTR(g_unique_id.load()));

  w->content_scale_factor = 1.0f;
  const HRESULT ole = OleInitialize(nullptr);
  w->ole_initialized = SUCCEEDED(ole);  // S_FALSE too: each success is undone once
  if (w->ole_initialized) w->drop_registered = RegisterDragDrop(w->hwnd, &w->DropTarget) == S_OK;
  w->gui = pw_create_gui(plugin, w);
  return w;
}

namespace {
void destroy_record(KoppelWindow *w) {
  if (w->hwnd) DestroyWindow(w->hwnd);  // ends the editor while the handle is usable
  if (w->gui) {                           // the window went away without telling us
    void *g = w->gui;
    w->gui = nullptr;
    pw_destroy_gui(g);
  }
  remove_hooks(w);
  win_abandon_choose_file(w);
  UnregisterClassW(w->ClassName, GetModuleHandleW(nullptr));
  if (w->hCursorOpenHand) DestroyCursor(w->hCursorOpenHand);
  if (w->hCursorClosedHand) DestroyCursor(w->hCursorClosedHand);
  w->DropTarget.files.clear();
  if (w->ole_initialized) OleUninitialize();
  delete w;
}
}  // namespace

void koppel_destroyGUI(void *gui) noexcept {
  KoppelWindow *w = W(gui);
  if (!w || w->free_deferred) return;
  if (win_prompt_running()) {
    // Inside a file prompt's loop the editor may be its caller: it goes away
    // from the host's sight now and is freed once the prompt returns.
    if (w->hwnd) {
      KillTimer(w->hwnd, kTickTimer);
      ShowWindow(w->hwnd, SW_HIDE);
      if (w->hParent) SetParent(w->hwnd, nullptr);
    }
    w->hParent = nullptr;
    remove_hooks(w);
    defer_teardown(w);
    w->free_deferred = true;
    return;
  }
  destroy_record(w);
}

void win_run_deferred_teardown() noexcept {
  KoppelWindow *due = t_deferred;
  t_deferred = nullptr;
  while (KoppelWindow *w = due) {
    due = w->next_deferred;
    w->next_deferred = nullptr;
    const bool free_it = w->free_deferred;
    w->end_deferred = w->free_deferred = false;
    if (free_it) {
      destroy_record(w);
    } else if (w->gui) {
      void *g = w->gui;
      w->gui = nullptr;
      pw_destroy_gui(g);
    }
  }
}

void koppel_setParent(void *gui, uintptr_t parent) noexcept {
  KoppelWindow *w = W(gui);
  if (!w || !w->hwnd) return;
  if (w->hParent) {
    KillTimer(w->hwnd, kTickTimer);
    SetParent(w->hwnd, nullptr);
    w->hParent = nullptr;
  }
  HWND p = reinterpret_cast<HWND>(parent);
  if (!p || !IsWindow(p)) return;
  SetParent(w->hwnd, p);
  w->hParent = p;
  SetTimer(w->hwnd, kTickTimer, kKoppelGuiTickMs, nullptr);
  follow_dpi(w, window_dpi(p));
  if (!w->call_wnd_hook_tried) {
    w->call_wnd_hook_tried = true;
    // Only a host window of this process can be hooked without reaching into
    // another program; elsewhere the sizing edge stays unknown.
    DWORD pid = 0;
    const DWORD thread = GetWindowThreadProcessId(p, &pid);
    if (thread && pid == GetCurrentProcessId())
      w->hCallWndHook = SetWindowsHookExW(WH_CALLWNDPROC, call_wnd_proc, own_module(), thread);
  }
}

void koppel_setVisible(void *gui, bool visible) noexcept {
  KoppelWindow *w = W(gui);
  if (w && w->hwnd) ShowWindow(w->hwnd, visible ? SW_SHOW : SW_HIDE);
}

void koppel_setScaleFactor(void *gui, float scale) noexcept {
  KoppelWindow *w = W(gui);
  if (!w || !(scale > 0.0f)) return;
  w->host_scale_set = true;
  apply_scale(w, scale);
}

namespace {
void apply_scale(KoppelWindow *w, float scale) {
  w->content_scale_factor = scale;
  // The editor may take a new size for the scale.
  uint32_t width = 0, height = 0, cw = 0, ch = 0;
  pw_send_scale(w->gui, w->plugin, scale, &width, &height);
  koppel_getSize(w, &cw, &ch);
  if (w->hwnd && width && (width != cw || height != ch))
    SetWindowPos(w->hwnd, nullptr, 0, 0, int(width), int(height), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}
}  // namespace

void koppel_getSize(void *gui, uint32_t *width, uint32_t *height) noexcept {
  KoppelWindow *w = W(gui);
  RECT r;
  if (!w || !w->hwnd || !GetWindowRect(w->hwnd, &r)) return;
  if (width) *width = uint32_t(r.right - r.left);
  if (height) *height = uint32_t(r.bottom - r.top);
}

void koppel_checkSize(void *gui, uint32_t *width, uint32_t *height) noexcept {
  KoppelWindow *w = W(gui);
  if (w) pw_constrain_size(w->gui, w->ResizeDirection, width, height);
}

bool koppel_setSize(void *gui, uint32_t width, uint32_t height) noexcept {
  KoppelWindow *w = W(gui);
  if (!w || !w->hwnd) return false;
  if (w->gui && !pw_send_resize(w->gui, width, height, w->ResizeDirection)) return false;
  koppel_checkSize(gui, &width, &height);  // the window takes the size the editor accepted
  return SetWindowPos(w->hwnd, nullptr, 0, 0, int(width), int(height), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The window has a timer of its own here: nothing for the host's run loop.
int koppel_guiFileDescriptor(void *) noexcept { return -1; }
void koppel_guiOnFileDescriptor(void *) noexcept {}
void koppel_guiOnTimer(void *) noexcept {}

bool koppel_guiOnHostKey(void *gui, bool down, uint32_t character, int32_t virtual_key, uint32_t modifiers) noexcept {
  KoppelWindow *w = W(gui);
  // With the focus the window gets the key itself: the host's copy would be a second press.
  if (!w || !w->gui || (w->hwnd && GetFocus() == w->hwnd)) return false;
  return pw_send_host_key(w->gui, down, character, virtual_key, modifiers);
}

void *pw_get_native_window(KoppelWindow *w) noexcept { return w ? w->hwnd : nullptr; }

void pw_present(KoppelWindow *w, const uint32_t *pixels, uint32_t width, uint32_t height) noexcept {
  if (!w || !w->hwnd || !pixels || !width || !height || width > 0x7fff || height > 0x7fff) return;
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = LONG(width);
  bi.bmiHeader.biHeight = -LONG(height);  // rows top down
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  HDC dc = GetDC(w->hwnd);
  if (!dc) return;
  StretchDIBits(dc, 0, 0, int(width), int(height), 0, 0, int(width), int(height), pixels, &bi, DIB_RGB_COLORS,
                SRCCOPY);
  ReleaseDC(w->hwnd, dc);
}

void pw_present_rect(KoppelWindow *w, const uint32_t *pixels, uint32_t width, uint32_t height, uint32_t x, uint32_t y,
                     uint32_t rw, uint32_t rh) noexcept {
  if (!w || !w->hwnd || !pixels || width > 0x7fff || height > 0x7fff || x >= width || y >= height) return;
  rw = rw < width - x ? rw : width - x, rh = rh < height - y ? rh : height - y;
  if (!rw || !rh) return;
  // A bitmap of just the rectangle's rows: the source origin means the same
  // whichever way up the system reads it.
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = LONG(width);
  bi.bmiHeader.biHeight = -LONG(rh);
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  HDC dc = GetDC(w->hwnd);
  if (!dc) return;
  StretchDIBits(dc, int(x), int(y), int(rw), int(rh), int(x), 0, int(rw), int(rh), pixels + size_t(y) * width, &bi,
                DIB_RGB_COLORS, SRCCOPY);
  ReleaseDC(w->hwnd, dc);
}

void pw_get_keyboard_focus(KoppelWindow *w) noexcept {
  if (!w || !w->hwnd) return;
  if (!w->hPrevKeyboardFocus) w->hPrevKeyboardFocus = SetFocus(w->hwnd);
  if (w->host_ctx && !w->hGetMessageHook) {
    // Our own thread only: a hook for every thread would reach into every
    // program on the desktop.
    const DWORD thread = GetWindowThreadProcessId(w->hwnd, nullptr);
    if (own_module() && thread) w->hGetMessageHook = SetWindowsHookExW(WH_GETMESSAGE, get_msg_proc, own_module(), thread);
  }
}

void pw_release_keyboard_focus(KoppelWindow *w) noexcept {
  if (!w) return;
  remove_message_hook(w);
  HWND prev = w->hPrevKeyboardFocus;
  w->hPrevKeyboardFocus = nullptr;
  if (prev && IsWindow(prev)) SetFocus(prev);
}

bool pw_check_keyboard_focus(KoppelWindow *w) noexcept { return w && w->hwnd && GetFocus() == w->hwnd; }

void pw_set_mouse_cursor(KoppelWindow *w, int32_t type) noexcept {
  if (!w) return;
  HCURSOR c = nullptr;
  switch (type) {
    case PW_CURSOR_ARROW: c = LoadCursorW(nullptr, IDC_ARROW); break;
    case PW_CURSOR_IBEAM: c = LoadCursorW(nullptr, IDC_IBEAM); break;
    case PW_CURSOR_NO: c = ole_cursor(1, IDC_NO); break;
    case PW_CURSOR_CROSS: c = LoadCursorW(nullptr, IDC_CROSS); break;
    case PW_CURSOR_ARROW_DRAG: c = ole_cursor(2, IDC_ARROW); break;
    case PW_CURSOR_HAND_POINT: c = LoadCursorW(nullptr, IDC_HAND); break;
    case PW_CURSOR_HAND_DRAGGABLE:
      if (!w->hCursorOpenHand) w->hCursorOpenHand = hand_cursor(kOpenHandAnd, kOpenHandXor);
      c = w->hCursorOpenHand;
      break;
    case PW_CURSOR_HAND_DRAGGING:
      if (!w->hCursorClosedHand) w->hCursorClosedHand = hand_cursor(kClosedHandAnd, kClosedHandXor);
      c = w->hCursorClosedHand;
      break;
    case PW_CURSOR_RESIZE_WE: c = LoadCursorW(nullptr, IDC_SIZEWE); break;
    case PW_CURSOR_RESIZE_NS: c = LoadCursorW(nullptr, IDC_SIZENS); break;
    case PW_CURSOR_RESIZE_NESW: c = LoadCursorW(nullptr, IDC_SIZENESW); break;
    case PW_CURSOR_RESIZE_NWSE: c = LoadCursorW(nullptr, IDC_SIZENWSE); break;
    default: break;  // no cursor: hidden
  }
  SetCursor(c);
}

void pw_beep() noexcept { MessageBeep(MB_OK); }

void pw_get_screen_size(uint32_t *width, uint32_t *height) noexcept {
  RECT r{};
  GetWindowRect(GetDesktopWindow(), &r);
  if (width) *width = uint32_t(r.right - r.left);
  if (height) *height = uint32_t(r.bottom - r.top);
}

float pw_get_content_scale_factor(KoppelWindow *w) noexcept { return w ? w->content_scale_factor : 1.0f; }
float pw_get_backing_scale_factor(KoppelWindow *) noexcept { return 1.0f; }
