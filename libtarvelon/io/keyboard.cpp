// Keyboard shortcuts outside text entry.
#include "io/keyboard.h"

#include "state/undo.h"
#include "system/instance.h"

namespace {
constexpr int32_t kKeyY = 89, kKeyZ = 90;

// The field holding the toolkit's text focus, or -1.
int32_t active_field(const inst_t *ci) {
  if (!ci->knob_textedits || !ci->knob_textedit_on) return -1;
  const textedit_t *te = ci->vantalib_gui_context.cur_te;
  for (int32_t i = 0; i < ci->knob_textedit_count; i++)
    if (te == &ci->knob_textedits[i]) return i;
  return -1;
}
}  // namespace

int32_t tarvelon_on_key_down(inst_t *ci, int32_t key, int32_t ctrl_down, int32_t shift_down, int32_t alt_down,
                             const tarvelon_clipboard_t *clipboard) noexcept {
  (void)clipboard;
  if (!ci) return 0;
  if (active_field(ci) < 0) {
    if (ctrl_down && !alt_down && (key == kKeyY || key == kKeyZ)) {
      tarvelon_undo_step(ci, (key == kKeyY || shift_down) ? 1 : 0);
      return 1;
    }
    return 0;
  }
  return 1;  // an open field swallows every key
}

int32_t tarvelon_on_text_input(inst_t *ci, const char *utf8) noexcept {
  if (!ci || !utf8 || static_cast<unsigned char>(utf8[0]) < 32) return 0;
  return active_field(ci) >= 0 ? 1 : 0;
}

void tarvelon_on_key_focus_lost(inst_t *ci) noexcept { (void)ci; }

int32_t tarvelon_knob_textedit_is_active(const inst_t *ci) noexcept {
  if (!ci || !ci->knob_textedit_on || ci->knob_textedit_count < 1) return 0;
  for (int32_t i = 0; i < ci->knob_textedit_count; i++)
    if (ci->knob_textedit_on[i]) return 1;
  return 0;
}

int32_t tarvelon_activate_preset_button(inst_t *, int32_t) noexcept { return 0; }
