// Single-field text editor state, as used by the knob text entry.
#pragma once
#include <cstddef>

struct textedit_t {
  char *string;     // UTF-8, owned (malloc), may be null
  size_t alloc;     // bytes allocated for string
  int curpos, sel0, sel1;
  int edit_mode, read_only, return_flag, was_cur_te, tab_switch, sel_all;
};

// Frees the text of an editor and clears it; null is ignored. [GUI thread]
void textedit_free(textedit_t *te) noexcept;
