// Knobs, their value texts, the drag readout and the clip light.
#include "graphics/knobs.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "dsp/scales.h"
#include "graphics/artwork.h"
#include "graphics/layout.h"
#include "graphics/resources.h"
#include "graphics/text.h"
#include "state/eq.h"
#include "system/instance.h"
#include "vl_colour.h"
#include "vl_draw.h"
#include "vl_gui_context.h"
#include "vl_numtext.h"

namespace {
// A bounded string built by appending, never by printing into itself.
struct text_builder {
  char *buf;
  size_t cap, len = 0;
  text_builder(char *b, size_t c) : buf(b), cap(c) {
    if (cap) buf[0] = 0;
  }
  text_builder &add(const char *s) {
    for (; s && *s && len + 1 < cap; s++) buf[len++] = *s;
    if (cap) buf[len] = 0;
    return *this;
  }
  text_builder &num(double v, int precision, bool plus = false, int width = 0, bool left = false) {
    char tmp[64];
    vl_format_fixed(tmp, sizeof tmp, v, precision, plus, width, left);
    return add(tmp);
  }
};

void band_letters(int32_t i, char out[3]) {
  if (i < 0) i = 0;
  if (i < 26) {
    out[0] = char('A' + i), out[1] = 0;
  } else {
    out[0] = char(64 + std::min(i / 26, 26)), out[1] = char('A' + i % 26), out[2] = 0;
  }
}
}  // namespace

double tarvelon_knob_gain_db(double v) noexcept {
  if (std::isnan(v)) return -INFINITY;
  if (v < -60.0) v = 20.0 * std::log10(((v + 60.0 + tv::kNeper) * 0.001) / tv::kNeper);
  return (std::isnan(v) || v <= -160.0) ? -INFINITY : v;
}

void tarvelon_knob_value_text(int32_t ctrl_id, double v, char *text, int32_t size) noexcept {
  if (!text || size < 1) return;
  text_builder t(text, size_t(size));
  switch (ctrl_id) {
    case 1: {
      const double db = tarvelon_knob_gain_db(v);
      if (std::isinf(db)) t.add("-INF");
      else t.num(db, 1);
      break;
    }
    case 2: t.num(v, 0); break;
    case 3: t.num(v, std::fabs(v) >= 99.95 ? 0 : 1); break;
    case 4: {
      static const char *const names[3] = {"RGB", "CMY", "Stereo"};
      const double r = std::isfinite(v) ? std::trunc(v) : -1.0;
      if (r >= 0.0 && r <= 2.0) t.add(names[int(r)]);  // any other value: no text
      break;
    }
    default: t.num(v, (std::fabs(v) > 0.0 && std::fabs(v) < 0.999) ? 2 : 1); break;
  }
}

int32_t tarvelon_knob_frame(double n) noexcept {
  if (!std::isfinite(n)) return n > 0 ? 191 : 0;
  return int32_t(std::clamp(std::round(n * 191.0), 0.0, 191.0));
}

void tarvelon_draw_knob(inst_t *ci, const raster_t *knob, const char *title, int32_t param_id, int32_t ctrl_id,
                        int32_t band_on) noexcept {
  (void)title;
  if (!ci || !ci->cpos || ctrl_id < 0 || ctrl_id >= kTarvelonControlCount || param_id < 0) return;
  const ctrl_pos_t &c = ci->cpos[ctrl_id];
  const double s = tarvelon_ui_scale(ci);
  text_t *t = ci->knob_txt;
  if (t && t->text) {
    t->x = c.gx - 0.5 * s, t->y = c.gy;
    const double v = tarvelon_host_get_param_value(ci, param_id);
    if (ctrl_id == 4) {
      // An unnamed scheme value keeps whatever the text showed before.
      char tmp[32] = "";
      tarvelon_knob_value_text(ctrl_id, v, tmp, sizeof tmp);
      if (tmp[0]) std::snprintf(t->text, kTextCapacity, "%s", tmp);
    } else {
      tarvelon_knob_value_text(ctrl_id, v, t->text, kTextCapacity);
    }
    if (ctrl_id >= 1 && ctrl_id <= 3 && !band_on) t->text[0] = 0;
    blit_text_fb(t, &ci->composite_ctx, make_colour_g22rgb_l(64, 192, 255, 255), 1.3);
  }
  const int32_t k = tarvelon_knob_frame(tarvelon_host_get_param_normalized(ci, param_id));
  if (s != 1.0) {
    // Drawn for the scale (and kept per slot until its value moves).
    const lrgb_t *pix = tarvelon_scaled_knob_frame(ci, ctrl_id, k);
    if (!pix) return;
    const int32_t n = tarvelon_knob_art_size(s);
    const raster_t frame{const_cast<lrgb_t *>(pix), n, n, size_t(n) * size_t(n), nullptr};
    vl_target_scope scope(&ci->composite_ctx);
    blit_sprite(&frame, xyi_t{c.gx, c.gy}, blend_add, 0, 0);
    return;
  }
  if (!knob || !knob->l || knob->w <= 0 || knob->h <= 0) return;
  const size_t frame_px = size_t(knob->w) * size_t(knob->h);
  if (knob->as && (size_t(k) + 1) * frame_px > knob->as) return;  // a short strip has fewer frames
  const raster_t frame{knob->l + size_t(k) * frame_px, knob->w, knob->h, frame_px, nullptr};
  vl_target_scope scope(&ci->composite_ctx);
  blit_sprite(&frame, xyi_t{c.gx, c.gy}, blend_add, 0, 0);
}

uint64_t tarvelon_knob_look(inst_t *ci, const raster_t *knob, int32_t param_id, int32_t ctrl_id, int32_t band_on,
                            recti_t *box) noexcept {
  if (box) *box = recti_t{};
  if (!ci || !ci->cpos || ctrl_id < 0 || ctrl_id >= kTarvelonControlCount || param_id < 0 || !box) return 0;
  const ctrl_pos_t &c = ci->cpos[ctrl_id];
  const double scale = tarvelon_ui_scale(ci);
  char text[kTextCapacity] = "";
  if (ci->knob_txt && ci->knob_txt->text) {
    const double v = tarvelon_host_get_param_value(ci, param_id);
    if (ctrl_id == 4) {
      tarvelon_knob_value_text(ctrl_id, v, text, sizeof text);
      if (!text[0]) std::snprintf(text, sizeof text, "%s", ci->knob_txt->text);
    } else {
      tarvelon_knob_value_text(ctrl_id, v, text, sizeof text);
    }
    if (ctrl_id >= 1 && ctrl_id <= 3 && !band_on) text[0] = 0;
    text_t probe = *ci->knob_txt;
    probe.text = text, probe.x = c.gx - 0.5 * scale, probe.y = c.gy;
    text_extent(&probe, box);
  }
  const int32_t k = tarvelon_knob_frame(tarvelon_host_get_param_normalized(ci, param_id));
  // The sprite as tarvelon_draw_knob places it: the strip's frame, or the
  // frame drawn for the scale.
  const int32_t kw = scale != 1.0 ? tarvelon_knob_art_size(scale) : (knob ? knob->w : 0);
  const int32_t kh = scale != 1.0 ? kw : (knob ? knob->h : 0);
  if (kw > 0 && kh > 0) {
    const recti_t s{{c.gx - kw / 2, c.gy - kh / 2}, {c.gx - kw / 2 + kw, c.gy - kh / 2 + kh}};
    if (box->p1.x <= box->p0.x || box->p1.y <= box->p0.y) *box = s;
    box->p0.x = std::min(box->p0.x, s.p0.x), box->p0.y = std::min(box->p0.y, s.p0.y);
    box->p1.x = std::max(box->p1.x, s.p1.x), box->p1.y = std::max(box->p1.y, s.p1.y);
  }
  // FNV-1a over the frame, the position and the text.
  uint64_t h = 1469598103934665603ull;
  auto mix = [&](uint64_t v) {
    for (int i = 0; i < 8; i++) h = (h ^ ((v >> (8 * i)) & 0xFF)) * 1099511628211ull;
  };
  mix(uint64_t(k)), mix(uint64_t(uint32_t(c.gx)) << 32 | uint32_t(c.gy));
  for (const char *p = text; *p; p++) mix(uint8_t(*p));
  return h;
}

void print_control_info(inst_t *ci) noexcept {
  if (!ci || !ci->equ || !ci->debug_txt || !ci->debug_txt->text) return;
  const int32_t i = ci->grabbed_id;
  if (i < 0 || i >= kBandCount) return;
  const eq_t &e = ci->equ[i];
  char letters[3];
  band_letters(i, letters);
  char buf[kTextCapacity];
  text_builder t(buf, sizeof buf);
  const int freq_prec = e.freq < 100.0 ? 1 : 0;
  if (ci->grabbed_type == 0) {
    const double g = tarvelon_knob_gain_db(e.db);
    t.add("Band ").add(letters).add(" :").add(" freq: ").num(e.freq, freq_prec, false, 4).add(" Hz -");
    if (std::isinf(g)) t.add(" gain: -INF dB");
    else t.add(" gain: ").num(g, std::fabs(g) >= 12.5 ? 1 : 2, true, 2).add(" dB");
  } else if (ci->grabbed_type == 1 || ci->grabbed_type == 2) {
    t.add("Band ").add(letters).add(",").add(" ").add(ci->grabbed_type == 1 ? "top" : "bottom");
    t.add(" handle : freq: ").num(e.freq, freq_prec, false, 4).add(" Hz - slope: ").num(e.slope, 1, false, 4, true);
    t.add(" dB/octave");
  } else {
    return;
  }
  std::memcpy(ci->debug_txt->text, buf, t.len + 1);
}

void blit_sprite_fma(inst_t *ci, const lrgb_t *sprite, int32_t width, int32_t height, int32_t pos_x, int32_t pos_y,
                     int32_t mode, const lrgb_t *colour, double ratio) noexcept {
  (void)ci;
  framebuffer_t *fb = vl_current().fb;
  if (!sprite || !colour || width <= 0 || height <= 0 || !fb || !fb->r.l || !std::isfinite(ratio)) return;
  const int64_t left = (mode & 4) ? pos_x : int64_t(pos_x) - width / 2;
  const int64_t top = (mode & 4) ? pos_y : int64_t(pos_y) - height / 2;
  const int64_t kr = std::llround(colour->r * ratio), kg = std::llround(colour->g * ratio),
                kb = std::llround(colour->b * ratio);
  const xyi_t o = fb->origin;
  int64_t x0 = std::max<int64_t>(left, o.x), x1 = std::min<int64_t>(left + width, int64_t(o.x) + fb->r.w);
  int64_t y0 = std::max<int64_t>(top, o.y), y1 = std::min<int64_t>(top + height, int64_t(o.y) + fb->r.h);
  if (fb->clip_on) {
    x0 = std::max<int64_t>(x0, fb->clip.p0.x), x1 = std::min<int64_t>(x1, fb->clip.p1.x);
    y0 = std::max<int64_t>(y0, fb->clip.p0.y), y1 = std::min<int64_t>(y1, fb->clip.p1.y);
  }
  auto add = [](uint16_t &dst, int64_t s, int64_t k) {
    dst = uint16_t(std::clamp<int64_t>(dst + ((s * k) >> 15), 0, 32768));
  };
  for (int64_t y = y0; y < y1; y++) {
    const lrgb_t *src = sprite + size_t(y - top) * size_t(width);
    lrgb_t *dst = fb->r.l + size_t(y - o.y) * size_t(fb->r.w);  // pixel x at dst[x - o.x]
    for (int64_t x = x0; x < x1; x++) {
      const lrgb_t s = src[x - left];
      lrgb_t &d = dst[x - o.x];
      add(d.r, s.r, kr), add(d.g, s.g, kg), add(d.b, s.b, kb);
    }
  }
}
