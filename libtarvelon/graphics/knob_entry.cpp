// Knob text fields drawn over their knobs, and their end of editing.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "graphics/frame.h"
#include "graphics/layout.h"
#include "graphics/resources.h"
#include "graphics/text.h"
#include "io/keyboard.h"
#include "io/pointer.h"
#include "system/host_callbacks.h"
#include "system/instance.h"
#include "vl_colour.h"
#include "vl_draw.h"
#include "vl_numtext.h"

namespace {
// Where the caret before byte n sits: left-aligned text starts one space in.
double caret_x(double x0, const char *text, size_t n, const font_t *f) {
  if (!f || f->h <= 0 || !f->width) return x0;
  char buf[kTextCapacity];
  n = std::min(n, sizeof buf - 1);
  std::memcpy(buf, text, n);
  buf[n] = 0;
  return x0 + (f->width[0] + text_width(buf, f)) * f->size / f->h;
}

void draw_field(inst_t *ci, const textedit_t *te, rect_t box, bool focused) {
  const double s = tarvelon_ui_scale(ci);
  draw_black_rect(box, (vl_current().zoom.drawing_thickness > 0 ? vl_current().zoom.drawing_thickness : 1.0) * s,
                  0.98);
  const font_t *f = tarvelon_fonts_for_scale(s).font12;
  if (!f || !te->string) return;
  const size_t n = std::min(textedit_length(te), size_t(kTextCapacity - 1));
  char buf[kTextCapacity];
  std::memcpy(buf, te->string, n);
  buf[n] = 0;
  const double x0 = box.p0.x, cy = 0.5 * (box.p0.y + box.p1.y);
  const lrgb_t text_colour = make_colour_g22rgb_l(64, 192, 255, 255);
  if (te->sel0 != te->sel1) {
    const int lo = std::min(te->sel0, te->sel1), hi = std::max(te->sel0, te->sel1);
    const rect_t sel{{caret_x(x0, buf, size_t(lo), f), box.p0.y + 2.0 * s},
                     {caret_x(x0, buf, size_t(hi), f), box.p1.y - 2.0 * s}};
    draw_roundrect(sel, 0.0, 0.5 * s, make_colour_g22rgb_l(40, 70, 120, 255), blend_blend, 1.0);
  }
  text_t t{};
  t.font = const_cast<font_t *>(f);
  t.x = x0, t.y = cy;
  t.text = buf;
  t.mode = TEXT_LEFT | TEXT_MIDDLE;
  blit_text_fb(&t, &ci->composite_ctx, text_colour, 1.3);
  if (focused) {
    const double cx = caret_x(x0, buf, size_t(std::clamp(te->curpos, 0, int(n))), f);
    draw_line_thin(xy_t{cx, box.p0.y + 2.0 * s}, xy_t{cx, box.p1.y - 2.0 * s}, 0.6 * s, text_colour, blend_add, 1.0);
  }
}
}  // namespace

void tarvelon_draw_knob_text_entries(inst_t *ci) noexcept {
  if (!ci || !ci->knob_textedit_on || !ci->knob_textedits || !ci->cpos || !tarvelon_knob_textedit_is_active(ci))
    return;
  const int32_t slots = std::min(ci->ctrlcount < 1 || ci->ctrlcount > 16 ? 16 : ci->ctrlcount, ci->knob_textedit_count);
  vl_thread_state_t &st = vl_current();
  vl_target_scope scope(&ci->composite_ctx);
  for (int32_t i = 0; i < slots; i++) {
    if (ci->cpos[i].type != 1 || ci->knob_textedit_on[i] <= 0) continue;
    const int32_t param = tarvelon_control_param_id(ci, i);
    if (param < 0) {
      ci->knob_textedit_on[i] = 0;
      continue;
    }
    textedit_t *te = &ci->knob_textedits[i];
    if (!te->string) textedit_init(te, TE_SINGLE_LINE);
    if (ci->knob_textedit_on[i] == 2) {
      char value[32];
      vl_format_g(value, sizeof value, tarvelon_host_get_param_value(ci, param), 6);
      textedit_set_new_text(te, value);
      te->return_flag = te->sel_all = te->tab_switch = 0;
      st.cur_te = te;
      te->was_cur_te = 1;
    }
    const ctrl_pos_t &c = ci->cpos[i];
    // The 52×16 logical box on the knob's centre.
    const double s = tarvelon_ui_scale(ci);
    int32_t l = 0, t = 0, r = 0, b = 0;
    tarvelon_knob_text_prompt_rect(c.gx - 30, c.gy - 30, c.gx + 30, c.gy + 30, &l, &t, &r, &b);
    if (s != 1.0) {
      const int32_t hw = int32_t(std::lround(26.0 * s)), hh = int32_t(std::lround(8.0 * s));
      l = c.gx - hw, r = c.gx + hw, t = c.gy - hh, b = c.gy + hh;
    }
    const rect_t box{{double(l), double(t)}, {double(r), double(b)}};
    draw_field(ci, te, box, st.cur_te == te);
    const int result = ctrl_textedit(te, box);
    if (result) tarvelon_commit_knob_textedit_control(ci, i);
    if (ci->knob_textedit_on[i] != 0 && ci->knob_textedit_on[i] != 1) ci->knob_textedit_on[i] /= 2;
  }
}
