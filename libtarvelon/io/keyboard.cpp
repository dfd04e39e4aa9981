// Keys and text: undo and redo outside text entry, editing and committing the
// knob text fields inside it.
#include "io/keyboard.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "io/pointer.h"
#include "state/eq.h"
#include "state/params.h"
#include "state/undo.h"
#include "system/host_callbacks.h"
#include "system/instance.h"
#include "vl_expression.h"

namespace {
constexpr int32_t kKeyA = 65, kKeyC = 67, kKeyV = 86, kKeyX = 88, kKeyY = 89, kKeyZ = 90;

// The field holding the toolkit's text focus, or -1. The frame binds the
// instance's context; outside a frame its saved state is the one to read.
textedit_t *&focus_of(inst_t *ci) {
  return vl_gui_context_bound() == &ci->vantalib_gui_context ? vl_current().cur_te
                                                              : ci->vantalib_gui_context.cur_te;
}

int32_t active_field(inst_t *ci) {
  if (!ci->knob_textedits || !ci->knob_textedit_on) return -1;
  const textedit_t *te = focus_of(ci);
  for (int32_t i = 0; i < ci->knob_textedit_count; i++)
    if (te == &ci->knob_textedits[i]) return i;
  return -1;
}

// Keyboard usage numbers of the keys a field knows; -1 for a key it ignores.
int toolkit_code(int32_t vk) {
  if (vk >= 65 && vk <= 90) return 4 + (vk - 65);
  if (vk >= 49 && vk <= 57) return 30 + (vk - 49);
  switch (vk) {
    case 48: return 39;
    case 8: return TE_KEY_BACKSPACE;
    case 9: return TE_KEY_TAB;
    case 13: return TE_KEY_RETURN;
    case 27: return TE_KEY_ESCAPE;
    case 35: return TE_KEY_END;
    case 36: return TE_KEY_HOME;
    case 37: return TE_KEY_LEFT;
    case 38: return TE_KEY_UP;
    case 39: return TE_KEY_RIGHT;
    case 40: return TE_KEY_DOWN;
    case 46: return TE_KEY_DELETE;
    default: return -1;
  }
}

void paste(textedit_t *te, const tarvelon_clipboard_t *clip) {
  if (te->read_only) return;
  char *text = clip->get_text(clip->user_data);
  if (!text) return;
  textedit_insert(te, text);  // CR LF becomes one break, a break in one line a space
  clip->free_text(clip->user_data, text);
}

void copy(textedit_t *te, const tarvelon_clipboard_t *clip, bool cut) {
  const int lo = te->sel0 < te->sel1 ? te->sel0 : te->sel1, hi = te->sel0 < te->sel1 ? te->sel1 : te->sel0;
  if (!te->string || lo < 0 || lo == hi || size_t(hi) > textedit_length(te)) return;
  char buf[4096];
  const size_t n = size_t(hi - lo) < sizeof buf - 1 ? size_t(hi - lo) : sizeof buf - 1;
  std::memcpy(buf, te->string + lo, n);
  buf[n] = 0;
  clip->set_text(clip->user_data, buf);
  if (cut && !te->read_only) textedit_erase_selection(te);
}

double fallback(inst_t *ci, int32_t ctrl) {
  switch (ctrl) {
    case 2: {
      const int32_t b = ci->selband;
      const double def = (ci->equ && b >= 0 && b < kBandCount) ? ci->equ[b].defaultfreq : -1.0;
      return def > 0.0 ? def : 1000.0;
    }
    case 4: return 2.0;
    case 5:
    case 6:
    case 9:
    case 10:
    case 14: return 1.0;
    case 11: return 0.2;
    case 13: return 64.34294481903252;
    case 15: return 0.5;
    default: return 0.0;  // band gain and slope, transpose, overall gain, limiter
  }
}
}  // namespace

int32_t tarvelon_on_key_down(inst_t *ci, int32_t key, int32_t ctrl_down, int32_t shift_down, int32_t alt_down,
                             const tarvelon_clipboard_t *clipboard) noexcept {
  if (!ci) return 0;
  const int32_t field = active_field(ci);
  if (field < 0) {
    if (ctrl_down && !alt_down && (key == kKeyY || key == kKeyZ)) {
      tarvelon_undo_step(ci, (key == kKeyY || shift_down) ? 1 : 0);
      return 1;
    }
    return 0;
  }
  textedit_t *te = &ci->knob_textedits[field];
  if (ctrl_down) {
    switch (key) {
      case kKeyA: textedit_select_all(te); return 1;
      case kKeyZ: textedit_undo(te, shift_down ? 1 : 0); return 1;
      case kKeyY: textedit_undo(te, 1); return 1;
      case kKeyV:
        if (clipboard && clipboard->get_text && clipboard->free_text) {
          paste(te, clipboard);
          return 1;
        }
        break;
      case kKeyC:
      case kKeyX:
        if (clipboard && clipboard->set_text) {
          copy(te, clipboard, key == kKeyX);
          return 1;
        }
        break;
      default: break;
    }
  }
  const int code = toolkit_code(key);
  if (code >= 0) textedit_key(te, code, ctrl_down, shift_down);
  return 1;  // an open field swallows every key
}

int32_t tarvelon_on_text_input(inst_t *ci, const char *utf8) noexcept {
  if (!ci || !utf8 || static_cast<unsigned char>(utf8[0]) < 32) return 0;
  const int32_t field = active_field(ci);
  if (field < 0) return 0;
  textedit_insert(&ci->knob_textedits[field], utf8);
  return 1;
}

int32_t tarvelon_commit_knob_textedit_control(inst_t *ci, int32_t ctrl) noexcept {
  if (!ci || !ci->knob_textedit_on || !ci->knob_textedits || ctrl < 0 || ctrl >= ci->knob_textedit_count) return 0;
  textedit_t *te = &ci->knob_textedits[ctrl];
  const int32_t param = tarvelon_control_param_id(ci, ctrl);
  if (!te->string || param < 0) {
    ci->knob_textedit_on[ctrl] = 0;
    return 0;
  }
  double v = vlip_expression_interp_double(te->string, textedit_length(te));
  if (std::isnan(v)) v = fallback(ci, ctrl);
  tarvelon_host_set_param_value(ci, param, v);
  tarvelon_host_set_control_value_from_user_input(ci, ctrl, param);
  tarvelon_on_param_change(ci, param);
  {
    vl_lock_guard lock(ci->proc_reinit_sem);
    if (ci->diff_eq.is_set()) tarvelon_sync_eq_params_with_controls(ci, 1);
  }
  textedit_t *&focus = focus_of(ci);
  if (focus == te) focus = nullptr;
  te->return_flag = te->sel_all = te->was_cur_te = te->tab_switch = 0;
  ci->knob_textedit_on[ctrl] = 0;
  return 1;
}

void tarvelon_on_key_focus_lost(inst_t *ci) noexcept {
  if (!ci || !ci->knob_textedit_on) return;
  const int32_t field = active_field(ci);
  if (field >= 0) {
    tarvelon_commit_knob_textedit_control(ci, field);
    return;
  }
  for (int32_t i = 0; i < ci->knob_textedit_count; i++)
    if (ci->knob_textedit_on[i]) tarvelon_commit_knob_textedit_control(ci, i);
}

int32_t tarvelon_knob_textedit_is_active(const inst_t *ci) noexcept {
  if (!ci || !ci->knob_textedit_on || ci->knob_textedit_count < 1) return 0;
  for (int32_t i = 0; i < ci->knob_textedit_count; i++)
    if (ci->knob_textedit_on[i]) return 1;
  return 0;
}

int32_t tarvelon_activate_preset_button(inst_t *, int32_t) noexcept { return 0; }
