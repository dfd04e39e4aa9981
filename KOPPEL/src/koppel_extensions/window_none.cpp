// Platforms whose window layer is not built yet: no editor can be made, and
// every service reports that it did nothing.
#include <cstdlib>

#include "koppel_gui.h"
#include "pw_window.h"

void *koppel_createGUI(KoppelHostContext *, TarvelonKoppelPlugin *) noexcept { return nullptr; }
void koppel_destroyGUI(void *) noexcept {}
void koppel_setParent(void *, uintptr_t) noexcept {}
void koppel_setVisible(void *, bool) noexcept {}
void koppel_setScaleFactor(void *, float) noexcept {}
void koppel_getSize(void *, uint32_t *, uint32_t *) noexcept {}
void koppel_checkSize(void *, uint32_t *, uint32_t *) noexcept {}
bool koppel_setSize(void *, uint32_t, uint32_t) noexcept { return false; }
int koppel_guiFileDescriptor(void *) noexcept { return -1; }
void koppel_guiOnFileDescriptor(void *) noexcept {}
void koppel_guiOnTimer(void *) noexcept {}
bool koppel_guiOnHostKey(void *, bool, uint32_t, int32_t, uint32_t) noexcept { return false; }

void *pw_get_native_window(KoppelWindow *) noexcept { return nullptr; }
void pw_present(KoppelWindow *, const uint32_t *, uint32_t, uint32_t) noexcept {}
void pw_get_keyboard_focus(KoppelWindow *) noexcept {}
void pw_release_keyboard_focus(KoppelWindow *) noexcept {}
bool pw_check_keyboard_focus(KoppelWindow *) noexcept { return false; }
void pw_set_clipboard_text(KoppelWindow *, const char *) noexcept {}
bool pw_get_clipboard_text(KoppelWindow *, char **text, size_t *length) noexcept {
  if (text) *text = nullptr;
  if (length) *length = 0;
  return false;
}
void pw_free_clipboard_text(char *text) noexcept { std::free(text); }
void pw_set_mouse_cursor(KoppelWindow *, int32_t) noexcept {}
bool pw_choose_file(const PWChooseFileArgs *) noexcept { return false; }
void pw_drag_files(KoppelWindow *, const char *const *, uint32_t) noexcept {}
void pw_beep() noexcept {}
void pw_get_screen_size(uint32_t *width, uint32_t *height) noexcept {
  if (width) *width = 0;
  if (height) *height = 0;
}
float pw_get_content_scale_factor(KoppelWindow *) noexcept { return 1.0f; }
float pw_get_backing_scale_factor(KoppelWindow *) noexcept { return 1.0f; }
