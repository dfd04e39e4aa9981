// The per-frame pipeline: clocks, idle takeover, cached tables, painting,
// compositing, knobs and the conversion to presented pixels.
#include "graphics/frame.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "audio/engine.h"
#include "dsp/fft.h"
#include "dsp/filter_design.h"
#include "dsp/scales.h"
#include "graphics/artwork.h"
#include "graphics/curve_grid.h"
#include "graphics/knobs.h"
#include "graphics/layout.h"
#include "graphics/resources.h"
#include "graphics/spectrum.h"
#include "graphics/text.h"
#include "io/pointer.h"
#include "io/prefs.h"
#include "state/params.h"
#include "system/instance.h"
#include "vl_clock.h"
#include "vl_colour.h"
#include "vl_draw.h"
#include "vl_gui_context.h"
#include "vl_numtext.h"
#include "vl_pixel_kernels.h"

namespace {
constexpr double kIdleSeconds = 0.4;
constexpr double kIdleDone = 1000.0;

struct knob_slot {
  int32_t slot;
  const char *title;
  int32_t param;  // relative to the selected band for slots 1..3
};
constexpr knob_slot kKnobs[] = {
    {1, "", TV_PARAM_BAND_GAIN},          {2, "", TV_PARAM_BAND_FREQ},
    {3, "", TV_PARAM_BAND_SLOPE},         {4, "Colour", TV_PARAM_COLOUR},
    {5, "Colour Gain", TV_PARAM_COLOUR_GAIN}, {6, "Gamma", TV_PARAM_GAMMA},
    {7, "Transpose", TV_PARAM_TRANSPOSE}, {8, "Overall Gain", TV_PARAM_OVERALL_GAIN},
    {9, "Gain Scale", TV_PARAM_GAIN_SCALE}, {10, "Resolution", TV_PARAM_RESOLUTION},
    {11, "Delay", TV_PARAM_INPUT_BUFFER}, {12, "Limiter", TV_PARAM_LIMITER},
    {13, "", TV_PARAM_VERT_RANGE},        {14, "", TV_PARAM_HOR_ZOOM},
    {15, "", TV_PARAM_HOR_POSITION},
};

void advance_clocks(inst_t *ci) {
  const double t = get_time_hr();
  ci->frame_s = std::min(0.04, t - ci->time0);
  if (!(ci->frame_s >= 0.0)) ci->frame_s = 0.0;
  ci->time0 = ci->time1 = t;
  ci->time_since_start += ci->frame_s;
  ci->time_since_prefsave += ci->frame_s;
  if (ci->time_since_prefsave >= 0.5 && ci->prefsave_pending == 1) {
    ci->time_since_prefsave = 0.0;
    ci->prefsave_pending = 0;
    tarvelon_save_prefs(ci);
  }
}

// With the host stopped the editor keeps the curve and response live itself,
// and the stereo spectrum goes dark once per pause.
void take_over_when_idle(inst_t *ci) {
  if (!(ci->time_since_proc > kIdleSeconds)) {
    ci->time_since_proc += ci->frame_s;
    return;
  }
  tarvelon_sync_and_redesign_when_idle(ci);
  if (ci->time_since_proc == kIdleDone) return;
  const int32_t w = ci->visual_width;
  if (ci->spectral_table && w > 0)
    for (int c = 0; c < 2; c++)
      if (ci->spectral_table[c]) std::fill(ci->spectral_table[c], ci->spectral_table[c] + w, 0.0);
  if (ci->last2k_size > 0 && ci->last2k_fft)
    for (int c = 0; c < 2; c++)
      if (ci->last2k_fft[c]) std::fill(ci->last2k_fft[c], ci->last2k_fft[c] + ci->last2k_size, 0.0);
  ci->time_since_proc = kIdleDone;
}

// Column rows of the display curve for the current vertical view.
void compute_curve_rows(inst_t *ci) {
  const int32_t w = ci->visual_width;
  if (!ci->spline_lut || !ci->spline_lut[1] || !ci->spline_lut[2] || !ci->spline_lut_int) return;
  ++ci->table_recomputations;
  const double top = ci->kVH - 1.0;
  for (int32_t x = 0; x < w; x++) {
    double v = ci->spline_lut[1][x];
    if (!std::isfinite(v)) v = tv::kFloorDb;
    const double row = tarvelon_curve_row(ci, v);
    ci->spline_lut[2][x] = row;
    // Far outside the area the row only needs to stay outside it.
    ci->spline_lut_int[x] = int32_t(std::clamp(row + 0.5, -1e6, top + 1e6));
  }
}

void recompute_tables(inst_t *ci, tarvelon_band_view_t *view) {
  const bool hz = ci->hzoom_changed.exchange(0) != 0;
  const bool vz = ci->vzoom_changed.exchange(0) != 0;
  if (ci->fft_mag_changed.exchange(0) || hz) {
    ++ci->table_recomputations;
    comp_fft_mag_lut(ci);
  }
  if (ci->last2k_changed || hz) comp_spectral_table(ci);
  {
    // The band list and the display curve are processing state: copy them
    // under a short lock and paint from the copy.
    vl_lock_guard lock(ci->proc_reinit_sem);
    if (hz) {
      ++ci->table_recomputations;
      tarvelon_design_spline_only(ci);
    }
    tarvelon_take_band_view(ci, view);
  }
  bool spline = false;
  {
    vl_lock_guard lock(ci->spline_sem);
    spline = ci->spline_changed.exchange(0) != 0;
    if ((spline || hz) && ci->spline_lut && ci->spline_lut[0] && ci->spline_lut[1])
      std::copy(ci->spline_lut[0], ci->spline_lut[0] + ci->visual_width, ci->spline_lut[1]);
  }
  if (spline || vz || hz) compute_curve_rows(ci);
  if (vz || hz) make_grids_lut(ci);
  ci->spectrum_dark = tarvelon_spectrum_table_is_dark(ci);
}

// fb under finallayout into composite: outside the visualisation area the
// panel is opaque, so only the area itself needs the picture.
void composite_layers(inst_t *ci) {
  raster_t &out = ci->composite;
  const raster_t &fb = ci->fb, &panel = ci->finallayout;
  if (!out.l || !fb.l || !panel.l || out.as != fb.as || out.as != panel.as) return;
  const int32_t W = out.w, H = out.h;
  for (int32_t y = 0; y < H; y++) {
    const size_t o = size_t(y) * size_t(W);
    vl_composite_row(fb.l + o, panel.l + o, out.l + o, W);
  }
}

void draw_knobs(inst_t *ci, const tarvelon_band_view_t &view) {
  const raster_t *strip = tarvelon_graphics().bknob;
  const int32_t band = std::clamp(ci->selband, 0, 3);
  for (const knob_slot &k : kKnobs) {
    const int32_t param = k.slot <= 3 ? k.param + band : k.param;
    tarvelon_draw_knob(ci, strip, k.title, param, k.slot, view.selband_on);
  }
}

void draw_clip_light(inst_t *ci) {
  const double level = ci->max_sample;
  if (!(level > 0.0) || !ci->cpos) return;
  const tarvelon_scaled_art_t *art = tarvelon_scaled_art(ci);
  const raster_t *light = art ? &art->light : tarvelon_graphics().light;
  const lrgb_t light_c = make_colour_g22rgb_l(192, 240, 255, 255);
  const ctrl_pos_t &c = ci->cpos[12];
  const bool full = level > 1.0;
  if (light && light->l)
    blit_sprite_fma(ci, light->l, light->w, light->h, c.gx, c.gy, 0, &light_c, full ? 1.0 : level);
  double next = full ? 0.9 : level * 0.9;
  if (next < 1e-6 || !std::isfinite(next)) next = 0.0;
  ci->max_sample = next;
}

void draw_caption(inst_t *ci) {
  text_t *t = ci->debug_txt;
  if (!t || !t->text) return;
  if (ci->print_delay == 2) {
    const double sr = ci->samplerate > 0.0 ? double(ci->samplerate) : 44100.0;
    const int32_t ksize = ci->ksize ? *ci->ksize : 0, N = ci->fft_size ? *ci->fft_size : 0;
    char buf[kTextCapacity];
    size_t n = 0;
    auto add = [&](const char *s) {
      for (; *s && n + 1 < sizeof buf; s++) buf[n++] = *s;
      buf[n] = 0;
    };
    auto num = [&](double v) {
      char tmp[64];
      vl_format_fixed(tmp, sizeof tmp, v, 0);
      add(tmp);
    };
    add("Delay: "), num(ci->latency * 1000.0 / sr), add(" ms (kernel: "), num((ksize / 2) * 1000.0 / sr);
    add(" ms, buffer: "), num((N + 1 - ksize) * 1000.0 / sr), add(" ms)");
    std::memcpy(t->text, buf, n + 1);
    ci->print_delay = 0;
  }
  blit_text(t, &ci->composite, black, 1.3);
}
}  // namespace

int32_t tarvelon_draw_frame(inst_t *ci) noexcept {
  if (!ci) return -1;
  vl_gui_context_t *prev = tarvelon_bind_vantalib_gui_runtime(ci);
  vl_mutex_lock(ci->draw_reinit_sem);
  {
    vl_lock_guard proc(ci->proc_reinit_sem);
    tarvelon_resize_visual_analyzer_storage(ci);
    if (ci->last2k_size > 0) {
      if (!ci->last2k_plan) ci->last2k_plan = fft_plan_init(ci, ci->last2k_size);
      else fft_plan_resize(ci->last2k_plan, ci->last2k_size);
    }
    if (!tarvelon_resize_visual_width_storage(ci, ci->kVW) || !ci->fb.l || !ci->composite.l) {
      vl_mutex_unlock(ci->proc_reinit_sem);
      vl_mutex_unlock(ci->draw_reinit_sem);
      tarvelon_restore_vantalib_gui_runtime(prev);
      return -1;
    }
  }
  advance_clocks(ci);
  take_over_when_idle(ci);

  int32_t claimed = 0;
  for (int32_t i = 0; ci->knob_textedit_on && i < ci->knob_textedit_count; i++)
    if (ci->knob_textedit_on[i]) claimed = 1;
  ci->vantalib_mouse_claimed = claimed;
  tarvelon_host_process_gui_frame(ci, claimed);
  // What arrived since the last frame stays visible to this frame's widgets;
  // a frame without input starts from no clicks.
  tarvelon_begin_vantalib_gui_frame(ci);

  const double mo = ci->mouseout_time;
  if (mo > 0.0 && mo < 6.0) ci->mouseout_time = mo + 0.16 * ci->frame_s;
  ci->screen_timeout = 0;

  tarvelon_band_view_t view;
  recompute_tables(ci, &view);

  const int32_t scheme = ci->colscheme;
  vl_current().fb = &ci->fb_ctx;
  if (ci->colgain != 0.0) paint_rainbows(ci, scheme);
  if (ci->mouseout_time < 2.0) draw_grids_lut(ci);
  draw_bezier(ci, &view, scheme);
  draw_dashed_fft(ci, scheme);
  tarvelon_store_band_positions(ci, &view);

  composite_layers(ci);
  vl_current().fb = &ci->composite_ctx;
  draw_knobs(ci, view);
  draw_clip_light(ci);
  draw_caption(ci);
  tarvelon_draw_knob_text_entries(ci);

  vl_current().fb = &ci->composite_ctx;
  convert_lrgb_to_g22(1);
  ci->fb_size_changed = 0;
  vl_mutex_unlock(ci->draw_reinit_sem);
  tarvelon_restore_vantalib_gui_runtime(prev);
  return -1;
}

int32_t tarvelon_editor_storage_acquire(inst_t *ci) noexcept {
  if (!ci) return 0;
  vl_gui_context_t *prev = tarvelon_bind_vantalib_gui_runtime(ci);
  {
    vl_lock_guard draw(ci->draw_reinit_sem);
    if (ci->editor_users++ == 0 || !ci->fb.l) {
      tarvelon_resize_framebuffer_storage(ci, 1);
      tarvelon_paint_static_panel(ci);
      ci->fb_size_changed = 1;
      ci->fft_mag_changed = 1, ci->last2k_changed = 1, ci->spline_changed = 1;
      ci->vzoom_changed = 1, ci->hzoom_changed = 1;
    }
  }
  tarvelon_restore_vantalib_gui_runtime(prev);
  return ci->fb.l && ci->composite.l && ci->layout.l && ci->finallayout.l && ci->grids_lut;
}

void tarvelon_editor_storage_release(inst_t *ci) noexcept {
  if (!ci || ci->editor_users <= 0) return;
  vl_gui_context_t *prev = tarvelon_bind_vantalib_gui_runtime(ci);
  {
    vl_lock_guard draw(ci->draw_reinit_sem);
    if (--ci->editor_users == 0) tarvelon_resize_framebuffer_storage(ci, 1);
  }
  tarvelon_restore_vantalib_gui_runtime(prev);
}
