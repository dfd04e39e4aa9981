#include "vl_textedit.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

struct textedit_snapshot_t {
  char *text;
  int curpos, sel0, sel1;
};

namespace {
constexpr int kUndoDepth = 64;
constexpr size_t kMaxText = 1 << 16;  // a knob value never needs more

size_t len_of(const textedit_t *te) { return te->string ? std::strlen(te->string) : 0; }

bool reserve(textedit_t *te, size_t bytes) {
  if (te->string && te->alloc >= bytes) return true;
  const size_t want = std::max<size_t>(bytes, 32);
  char *s = static_cast<char *>(std::realloc(te->string, want));
  if (!s) return false;
  if (!te->string) s[0] = 0;
  te->string = s;
  te->alloc = want;
  return true;
}

void clamp_positions(textedit_t *te) {
  const int n = int(len_of(te));
  te->curpos = std::clamp(te->curpos, 0, n);
  te->sel0 = std::clamp(te->sel0, 0, n);
  te->sel1 = std::clamp(te->sel1, 0, n);
}

// Byte offsets move by whole UTF-8 characters.
int prev_char(const char *s, int pos) {
  if (pos <= 0) return 0;
  pos--;
  while (pos > 0 && (static_cast<unsigned char>(s[pos]) & 0xC0) == 0x80) pos--;
  return pos;
}
int next_char(const char *s, int pos, int n) {
  if (pos >= n) return n;
  pos++;
  while (pos < n && (static_cast<unsigned char>(s[pos]) & 0xC0) == 0x80) pos++;
  return pos;
}

void free_snapshot(textedit_snapshot_t &s) {
  std::free(s.text);
  s.text = nullptr;
}

// Records the state before a change; the undone states beyond it are dropped.
void remember(textedit_t *te) {
  if (!te->undo) {
    te->undo = static_cast<textedit_snapshot_t *>(std::calloc(kUndoDepth, sizeof(textedit_snapshot_t)));
    if (!te->undo) return;
    te->undo_capacity = kUndoDepth;
  }
  for (int i = te->undo_pos; i < te->undo_count; i++) free_snapshot(te->undo[i]);
  te->undo_count = te->undo_pos;
  if (te->undo_count == te->undo_capacity) {  // the oldest state goes
    free_snapshot(te->undo[0]);
    std::memmove(te->undo, te->undo + 1, size_t(te->undo_capacity - 1) * sizeof(textedit_snapshot_t));
    te->undo[te->undo_capacity - 1] = textedit_snapshot_t{};
    te->undo_count--;
  }
  const size_t n = len_of(te);
  char *copy = static_cast<char *>(std::malloc(n + 1));
  if (!copy) return;
  std::memcpy(copy, te->string ? te->string : "", n + 1);
  te->undo[te->undo_count++] = textedit_snapshot_t{copy, te->curpos, te->sel0, te->sel1};
  te->undo_pos = te->undo_count;
}

void set_text_keep_history(textedit_t *te, const char *text) {
  const size_t n = std::strlen(text);
  if (!reserve(te, n + 1)) return;
  std::memcpy(te->string, text, n + 1);
}

void clear_history(textedit_t *te) {
  for (int i = 0; i < te->undo_count; i++) free_snapshot(te->undo[i]);
  te->undo_count = te->undo_pos = 0;
}

void replace_range(textedit_t *te, int from, int to, const char *ins, size_t ins_len) {
  const size_t n = len_of(te);
  if (n - size_t(to - from) + ins_len > kMaxText || !reserve(te, n - size_t(to - from) + ins_len + 1)) return;
  std::memmove(te->string + from + ins_len, te->string + to, n - size_t(to) + 1);
  std::memcpy(te->string + from, ins, ins_len);
  te->curpos = from + int(ins_len);
  te->sel0 = te->sel1 = te->curpos;
}

// The valid UTF-8 of src (invalid sequences dropped), single-line fields
// turning line breaks into spaces (a CR LF pair into one).
size_t clean_utf8(const char *src, char *dst, size_t cap, bool single_line) {
  size_t o = 0;
  const auto *s = reinterpret_cast<const unsigned char *>(src);
  for (size_t i = 0; s[i] && o + 4 < cap;) {
    const unsigned c = s[i];
    if (c == '\r' && s[i + 1] == '\n') {
      i++;
      continue;  // the LF that follows stands for both
    }
    if (c == '\r' || c == '\n') {
      dst[o++] = single_line ? ' ' : '\n';
      i++;
      continue;
    }
    const size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    bool ok = len != 0 && (c >= 0x20 || c == '\t') && c != 0x7F;
    for (size_t k = 1; ok && k < len; k++) ok = (s[i + k] & 0xC0) == 0x80;
    if (ok && len == 2) ok = c >= 0xC2;
    if (ok && len == 3) {
      const unsigned cp = ((c & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
      ok = cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF);
    }
    if (ok && len == 4) {
      const unsigned cp = ((c & 0x07) << 18) | ((s[i + 1] & 0x3F) << 12);
      ok = cp >= 0x10000 && cp <= 0x10FFFF;
    }
    if (!ok) {
      i++;
      continue;
    }
    std::memcpy(dst + o, s + i, len);
    o += len, i += len;
  }
  dst[o] = 0;
  return o;
}
}  // namespace

void textedit_init(textedit_t *te, int edit_mode) noexcept {
  if (!te) return;
  textedit_free(te);
  te->edit_mode = edit_mode;
  reserve(te, 32);
}

void textedit_free(textedit_t *te) noexcept {
  if (!te) return;
  clear_history(te);
  std::free(te->undo);
  std::free(te->string);
  std::memset(te, 0, sizeof *te);
}

void textedit_set_new_text(textedit_t *te, const char *text) noexcept {
  if (!te) return;
  clear_history(te);
  const size_t n = std::min(text ? std::strlen(text) : 0, kMaxText);
  if (!reserve(te, n + 1)) return;
  std::memcpy(te->string, text ? text : "", n);
  te->string[n] = 0;
  te->sel0 = 0;
  te->sel1 = te->curpos = int(n);
  te->return_flag = 0;
}

size_t textedit_length(const textedit_t *te) noexcept { return te ? len_of(te) : 0; }

void textedit_select_all(textedit_t *te) noexcept {
  if (!te) return;
  te->sel0 = 0;
  te->sel1 = te->curpos = int(len_of(te));
}

void textedit_erase_selection(textedit_t *te) noexcept {
  if (!te || te->read_only || te->sel0 == te->sel1) return;
  clamp_positions(te);
  remember(te);
  replace_range(te, std::min(te->sel0, te->sel1), std::max(te->sel0, te->sel1), "", 0);
}

void textedit_insert(textedit_t *te, const char *utf8) noexcept {
  if (!te || !utf8 || te->read_only) return;
  const size_t n = std::min(std::strlen(utf8), kMaxText);
  char *clean = static_cast<char *>(std::malloc(n + 5));
  if (!clean) return;
  const size_t m = clean_utf8(utf8, clean, n + 5, te->edit_mode != TE_MULTI_LINE);
  if (m > 0) {
    if (!te->string) reserve(te, 32);
    clamp_positions(te);
    remember(te);
    const int from = te->sel0 != te->sel1 ? std::min(te->sel0, te->sel1) : te->curpos;
    const int to = te->sel0 != te->sel1 ? std::max(te->sel0, te->sel1) : te->curpos;
    replace_range(te, from, to, clean, m);
  }
  std::free(clean);
}

void textedit_key(textedit_t *te, int code, int ctrl, int shift) noexcept {
  if (!te) return;
  (void)ctrl;
  if (!te->string) reserve(te, 32);
  clamp_positions(te);
  const int n = int(len_of(te));
  const bool has_sel = te->sel0 != te->sel1;
  auto move_to = [&](int pos) {
    if (shift) {
      if (!has_sel) te->sel0 = te->curpos;
      te->sel1 = pos;
    } else {
      te->sel0 = te->sel1 = pos;
    }
    te->curpos = pos;
  };
  switch (code) {
    case TE_KEY_RETURN:
    case TE_KEY_RETURN2:
    case TE_KEY_KEYPAD_ENTER: te->return_flag = TE_RETURN; break;
    case TE_KEY_TAB:
      if (te->edit_mode != TE_MULTI_LINE) te->return_flag = TE_TAB, te->tab_switch = 1;
      break;
    case TE_KEY_ESCAPE:
      // Leaves with the text it had when editing began.
      if (te->undo && te->undo_count > 0) {
        while (textedit_undo(te, 0)) {
        }
      }
      te->return_flag = TE_FOCUS_LOST;
      break;
    case TE_KEY_BACKSPACE:
      if (te->read_only) break;
      if (has_sel) textedit_erase_selection(te);
      else if (te->curpos > 0) remember(te), replace_range(te, prev_char(te->string, te->curpos), te->curpos, "", 0);
      break;
    case TE_KEY_DELETE:
      if (te->read_only) break;
      if (has_sel) textedit_erase_selection(te);
      else if (te->curpos < n) remember(te), replace_range(te, te->curpos, next_char(te->string, te->curpos, n), "", 0);
      break;
    case TE_KEY_LEFT: move_to(has_sel && !shift ? std::min(te->sel0, te->sel1) : prev_char(te->string, te->curpos)); break;
    case TE_KEY_RIGHT:
      move_to(has_sel && !shift ? std::max(te->sel0, te->sel1) : next_char(te->string, te->curpos, n));
      break;
    case TE_KEY_HOME:
    case TE_KEY_UP: move_to(0); break;
    case TE_KEY_END:
    case TE_KEY_DOWN: move_to(n); break;
    default: break;
  }
}

int textedit_undo(textedit_t *te, int redo) noexcept {
  if (!te || !te->undo) return 0;
  if (!redo) {
    if (te->undo_pos == 0) return 0;
    // The state now becomes redoable the first time we step back.
    if (te->undo_pos == te->undo_count) {
      remember(te);
      te->undo_pos = te->undo_count - 1;
    }
    const textedit_snapshot_t &s = te->undo[--te->undo_pos];
    set_text_keep_history(te, s.text);
    te->curpos = s.curpos, te->sel0 = s.sel0, te->sel1 = s.sel1;
    return 1;
  }
  if (te->undo_pos + 1 >= te->undo_count) return 0;
  const textedit_snapshot_t &s = te->undo[++te->undo_pos];
  set_text_keep_history(te, s.text);
  te->curpos = s.curpos, te->sel0 = s.sel0, te->sel1 = s.sel1;
  return 1;
}
