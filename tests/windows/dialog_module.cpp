// A library that opens the window layer's file dialog from inside itself, as
// the plug-in would: the test unloads it while the dialog is still open.
#include "koppel_extensions/window_win.h"

namespace {
KoppelWindow *g_window = nullptr;
}

extern "C" __declspec(dllexport) bool tarvelon_test_open_dialog(const char *title) {
  if (g_window) return false;
  g_window = new KoppelWindow();
  g_window->hwnd = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  PWChooseFileArgs args{};
  args.pw = g_window;
  args.title = title;
  return g_window->hwnd && pw_choose_file(&args);
}

// The editor goes away with its dialog still up.
extern "C" __declspec(dllexport) void tarvelon_test_close_window() {
  if (!g_window) return;
  win_abandon_choose_file(g_window);
  DestroyWindow(g_window->hwnd);
  delete g_window;
  g_window = nullptr;
}
