// Single-field text editor state and its editing operations, as used by the
// knob text entry: UTF-8 insertion over the selection, cursor keys, erasing,
// select all, its own undo and redo, and the end-of-editing result.
#pragma once
#include <cstddef>

struct textedit_snapshot_t;

struct textedit_t {
  char *string;     // UTF-8, owned (malloc), may be null
  size_t alloc;     // bytes allocated for string
  int curpos, sel0, sel1;  // byte offsets; no selection when sel0 == sel1
  int edit_mode, read_only, return_flag, was_cur_te, tab_switch, sel_all;
  // Text undo: earlier and undone states (owned).
  textedit_snapshot_t *undo;
  int undo_count, undo_pos, undo_capacity;
};

// Toolkit key codes (keyboard usage numbers) the editor understands.
enum : int {
  TE_KEY_RETURN = 40,
  TE_KEY_ESCAPE = 41,
  TE_KEY_BACKSPACE = 42,
  TE_KEY_TAB = 43,
  TE_KEY_HOME = 74,
  TE_KEY_DELETE = 76,
  TE_KEY_END = 77,
  TE_KEY_RIGHT = 79,
  TE_KEY_LEFT = 80,
  TE_KEY_DOWN = 81,
  TE_KEY_UP = 82,
  TE_KEY_KEYPAD_ENTER = 88,
  TE_KEY_RETURN2 = 158,
};
// Results of ctrl_textedit / return_flag: 1 Return, 2 focus lost, 3 Tab.
enum : int { TE_RETURN = 1, TE_FOCUS_LOST = 2, TE_TAB = 3 };
enum : int { TE_SINGLE_LINE = 0, TE_MULTI_LINE = 1 };

// Every function ignores a null editor. [GUI thread] allocates
void textedit_init(textedit_t *te, int edit_mode) noexcept;
// Frees the text and the history and clears the editor.
void textedit_free(textedit_t *te) noexcept;
// New text, all of it selected (typing replaces it); the history restarts.
void textedit_set_new_text(textedit_t *te, const char *text) noexcept;
// Inserts UTF-8 text at the cursor over the selection (nothing when read-only);
// invalid bytes are dropped, and in a single-line field line breaks become spaces.
void textedit_insert(textedit_t *te, const char *utf8) noexcept;
// One key by toolkit code: editing, cursor movement (extending the selection
// with Shift), and Return / Tab / Escape ending the editing.
void textedit_key(textedit_t *te, int code, int ctrl, int shift) noexcept;
void textedit_select_all(textedit_t *te) noexcept;
void textedit_erase_selection(textedit_t *te) noexcept;
int textedit_undo(textedit_t *te, int redo) noexcept;  // 1 when a state was restored
// The text's length in bytes (0 without text).
size_t textedit_length(const textedit_t *te) noexcept;
