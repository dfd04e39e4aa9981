// Keys and typed text reaching the editor: undo and redo of curve edits, and
// the knob text fields. [GUI thread]
#pragma once
#include <cstdint>

struct inst_t;

// Clipboard access handed in by the window side; any entry may be null.
struct tarvelon_clipboard_t {
  void *user_data;
  void (*set_text)(void *user_data, const char *text);
  char *(*get_text)(void *user_data);  // a new UTF-8 copy or null
  void (*free_text)(void *user_data, char *text);
};

// key is a window-layer virtual key (Windows numbering). 1 when used.
int32_t tarvelon_on_key_down(inst_t *ci, int32_t key, int32_t ctrl_down, int32_t shift_down, int32_t alt_down,
                             const tarvelon_clipboard_t *clipboard) noexcept;
// 1 when the text went into an open knob field.
int32_t tarvelon_on_text_input(inst_t *ci, const char *utf8) noexcept;
// Writes a field's value (its expression, or the control's fallback when it
// does not evaluate) to the knob's parameter and closes the field. 1 when a
// value was committed.
int32_t tarvelon_commit_knob_textedit_control(inst_t *ci, int32_t ctrl_id) noexcept;
// The window lost the keyboard: open fields commit.
void tarvelon_on_key_focus_lost(inst_t *ci) noexcept;
int32_t tarvelon_knob_textedit_is_active(const inst_t *ci) noexcept;
// This edition has no preset buttons. Always 0.
int32_t tarvelon_activate_preset_button(inst_t *ci, int32_t ctrl_id) noexcept;
