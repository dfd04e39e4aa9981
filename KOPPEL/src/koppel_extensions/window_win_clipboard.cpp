// The clipboard as Unicode text, read within the block's own size.
#include <cstdlib>
#include <cstring>

#include "window_win.h"

void pw_set_clipboard_text(KoppelWindow *w, const char *text) noexcept {
  if (!w || !w->hwnd || !text) return;
  if (!OpenClipboard(w->hwnd)) return;
  if (EmptyClipboard()) {
    // Invalid UTF-8 measures as nothing: the clipboard then holds an empty text.
    int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (units <= 0) units = 1;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size_t(units) * sizeof(wchar_t));
    if (block) {
      auto *dst = static_cast<wchar_t *>(GlobalLock(block));
      if (dst) {
        if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, dst, units) <= 0) dst[0] = 0;
        dst[units - 1] = 0;
        GlobalUnlock(block);
      }
      // The clipboard owns the block only when it took it.
      if (!dst || !SetClipboardData(CF_UNICODETEXT, block)) GlobalFree(block);
    }
  }
  CloseClipboard();
}

bool pw_get_clipboard_text(KoppelWindow *w, char **text, size_t *length) noexcept {
  if (text) *text = nullptr;
  if (length) *length = 0;
  if (!w || !w->hwnd || !text || !length) return false;
  if (!IsClipboardFormatAvailable(CF_UNICODETEXT) || !OpenClipboard(w->hwnd)) return false;
  bool ok = false;
  HANDLE block = GetClipboardData(CF_UNICODETEXT);
  const auto *src = block ? static_cast<const wchar_t *>(GlobalLock(block)) : nullptr;
  if (src) {
    // Another program's block need not be terminated: its size bounds the text.
    const size_t max_units = GlobalSize(block) / sizeof(wchar_t);
    size_t units = 0;
    while (units < max_units && src[units]) units++;
    const int n = units ? WideCharToMultiByte(CP_UTF8, 0, src, int(units), nullptr, 0, nullptr, nullptr) : 0;
    if (units == 0 || n > 0) {
      char *out = static_cast<char *>(std::malloc(size_t(n) + 1));
      if (out) {
        if (n) WideCharToMultiByte(CP_UTF8, 0, src, int(units), out, n, nullptr, nullptr);
        out[n] = 0;
        *text = out;
        *length = size_t(n) + 1;
        ok = true;
      }
    }
    GlobalUnlock(block);
  }
  CloseClipboard();
  return ok;
}

void pw_free_clipboard_text(char *text) noexcept { std::free(text); }
