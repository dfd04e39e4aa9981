// The GUI half of the KOPPEL interface, served by the platform window layer
// and called by the format adapters on the host's GUI (main) thread.
#pragma once
#include <cstdint>

struct KoppelHostContext;
struct TarvelonKoppelPlugin;

// Null when no window can be made (no display, no plug-in). allocates
void *koppel_createGUI(KoppelHostContext *host, TarvelonKoppelPlugin *plugin) noexcept;
// Hides, detaches and frees; null is ignored.
void koppel_destroyGUI(void *gui) noexcept;
// Detaches from the current parent, then embeds into `parent` when non-zero
// (an X window id or a window handle).
void koppel_setParent(void *gui, uintptr_t parent) noexcept;
void koppel_setVisible(void *gui, bool visible) noexcept;
void koppel_setScaleFactor(void *gui, float scale) noexcept;
void koppel_getSize(void *gui, uint32_t *width, uint32_t *height) noexcept;
void koppel_checkSize(void *gui, uint32_t *width, uint32_t *height) noexcept;
bool koppel_setSize(void *gui, uint32_t width, uint32_t height) noexcept;

// Where the platform has no timer of its own for plug-ins (X11), the adapter
// drives the window from the host's run loop: the descriptor to watch (-1 when
// none), what to do when it is readable, and the 10 ms tick.
constexpr uint32_t kKoppelGuiTickMs = 10;
int koppel_guiFileDescriptor(void *gui) noexcept;
void koppel_guiOnFileDescriptor(void *gui) noexcept;
void koppel_guiOnTimer(void *gui) noexcept;
// A key the host handed to the view instead of the window (VST 3 on Linux):
// true when the editor consumed it.
bool koppel_guiOnHostKey(void *gui, bool down, uint32_t character, int32_t virtual_key, uint32_t modifiers) noexcept;
