// What the window layers of every platform hand the editor alike: text,
// keys the host passed on, and size requests.
#pragma once
#include <cstddef>
#include <cstdint>

#include "pw_window.h"

// The UTF-8 bytes of one character packed as a text event carries them: first
// byte lowest, at most four.
uint32_t pw_pack_utf8(const unsigned char *s, size_t len) noexcept;

// A key the host handed over instead of the window (a VST 3 view's onKeyDown
// and onKeyUp): a key event, and for a printable character without Ctrl a
// text event too. true when the editor used either.
bool pw_send_host_key(void *gui, bool down, uint32_t character, int32_t virtual_key, uint32_t modifiers) noexcept;

// The editor's correction of a proposed size, for the edge being dragged;
// nothing without an editor.
void pw_constrain_size(void *gui, PWResizeDirection direction, uint32_t *width, uint32_t *height) noexcept;
// Tells the editor the host resizes it; false when it refused (or there is none).
bool pw_send_resize(void *gui, uint32_t width, uint32_t height, PWResizeDirection direction) noexcept;
// Tells the editor (if any) the host's new scale and gives the size the
// plug-in's editor wants at it.
void pw_send_scale(void *gui, void *plugin, float scale, uint32_t *width, uint32_t *height) noexcept;
