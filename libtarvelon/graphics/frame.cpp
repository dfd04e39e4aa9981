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
#include "graphics/picture.h"
#include "graphics/resources.h"
#include "graphics/spectrum.h"
#include "graphics/text.h"
#include "io/keyboard.h"
#include "io/pointer.h"
#include "io/prefs.h"
#include "state/params.h"
#include "system/alloc.h"
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
  if (vz || hz) {
    make_grids_lut(ci);
    ci->frame_full = 1;  // new axis labels in the panel
  }
  ci->spectrum_dark = tarvelon_spectrum_table_is_dark(ci);
}

recti_t intersect(recti_t a, recti_t b) {
  return recti_t{{std::max(a.p0.x, b.p0.x), std::max(a.p0.y, b.p0.y)}, {std::min(a.p1.x, b.p1.x), std::min(a.p1.y, b.p1.y)}};
}
bool empty(recti_t r) { return r.p0.x >= r.p1.x || r.p0.y >= r.p1.y; }
recti_t unite(recti_t a, recti_t b) {
  if (empty(a)) return b;
  if (empty(b)) return a;
  return recti_t{{std::min(a.p0.x, b.p0.x), std::min(a.p0.y, b.p0.y)}, {std::max(a.p1.x, b.p1.x), std::max(a.p1.y, b.p1.y)}};
}

// Where the picture shows through the panel: every pixel whose panel alpha is
// below full. Everywhere else the composite is the panel alone.
recti_t visual_rect(const inst_t *ci) {
  const raster_t &panel = ci->finallayout;
  const recti_t all{{0, 0}, {ci->fb.w, ci->fb.h}};
  if (!panel.l || panel.w != all.p1.x || panel.h != all.p1.y) return all;
  recti_t r{{panel.w, panel.h}, {0, 0}};
  for (int32_t y = 0; y < panel.h; y++) {
    const lrgb_t *row = panel.l + size_t(y) * size_t(panel.w);
    int32_t x0 = 0;
    while (x0 < panel.w && row[x0].a >= 32768) x0++;
    if (x0 == panel.w) continue;
    int32_t x1 = panel.w;
    while (row[x1 - 1].a >= 32768) x1--;
    r = recti_t{{std::min(r.p0.x, x0), std::min(r.p0.y, y)}, {std::max(r.p1.x, x1), y + 1}};
  }
  return empty(r) ? recti_t{} : r;
}

// The clip light's strength this frame (0: dark); it decays by 0.9 a frame.
double take_light_level(inst_t *ci) {
  const double level = ci->max_sample;
  if (!(level > 0.0) || !ci->cpos) return 0.0;
  const bool full = level > 1.0;
  double next = full ? 0.9 : level * 0.9;
  if (next < 1e-6 || !std::isfinite(next)) next = 0.0;
  ci->max_sample = next;
  return full ? 1.0 : level;
}

const raster_t *light_art(inst_t *ci) {
  const tarvelon_scaled_art_t *art = tarvelon_scaled_art(ci);
  return art ? &art->light : tarvelon_graphics().light;
}

recti_t light_box(inst_t *ci) {
  const raster_t *light = light_art(ci);
  if (!light || !ci->cpos) return recti_t{};
  const ctrl_pos_t &c = ci->cpos[12];
  return recti_t{{c.gx - light->w / 2, c.gy - light->h / 2}, {c.gx - light->w / 2 + light->w, c.gy - light->h / 2 + light->h}};
}

void draw_clip_light(inst_t *ci, double ratio) {
  const raster_t *light = light_art(ci);
  if (!(ratio > 0.0) || !light || !light->l || !ci->cpos) return;
  const lrgb_t light_c = make_colour_g22rgb_l(192, 240, 255, 255);
  const ctrl_pos_t &c = ci->cpos[12];
  blit_sprite_fma(ci, light->l, light->w, light->h, c.gx, c.gy, 0, &light_c, ratio);
}

void update_caption(inst_t *ci) {
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
}

void draw_caption(inst_t *ci) { blit_text_fb(ci->debug_txt, &ci->composite_ctx, black, 1.3); }

uint64_t caption_key(const inst_t *ci, recti_t *box) {
  *box = recti_t{};
  if (!ci->debug_txt || !ci->debug_txt->text) return 0;
  text_extent(ci->debug_txt, box);
  uint64_t h = 1469598103934665603ull;
  for (const char *p = ci->debug_txt->text; *p; p++) h = (h ^ uint8_t(*p)) * 1099511628211ull;
  return h;
}

// Inside the panel's hole (alpha 0 everywhere) the composite is the picture
// itself. Empty when the hole is not clean.
recti_t clean_hole(const inst_t *ci) {
  const raster_t &panel = ci->finallayout;
  const recti_t hole = intersect(recti_t{{ci->vx, ci->vy}, {ci->vx + ci->kVW, ci->vy + ci->kVH}},
                                 recti_t{{0, 0}, {panel.w, panel.h}});
  if (!panel.l || empty(hole) || panel.w != ci->fb.w || panel.h != ci->fb.h) return recti_t{};
  for (int32_t y = hole.p0.y; y < hole.p1.y; y++)
    for (int32_t x = hole.p0.x; x < hole.p1.x; x++)
      if (panel.l[size_t(y) * size_t(panel.w) + size_t(x)].a) return recti_t{};
  return hole;
}

// The picture under the panel for the pixels of s (in the strip): the panel
// alone outside the picture, the picture alone in the hole, mixed between.
void composite_strip(inst_t *ci, const framebuffer_t &strip, recti_t s) {
  const raster_t &panel = ci->finallayout;
  const recti_t pic = intersect(s, ci->frame_visual), hole = ci->frame_hole;
  for (int32_t y = s.p0.y; y < s.p1.y; y++) {
    lrgb_t *row = strip.r.l + size_t(y - strip.origin.y) * size_t(strip.r.w);  // pixel x at row[x - s.p0.x]
    const lrgb_t *under = panel.l + size_t(y) * size_t(panel.w);              // pixel x at under[x]
    auto copy_panel = [&](int32_t a, int32_t b) {
      if (a < b) std::copy(under + a, under + b, row + (a - s.p0.x));
    };
    auto mix = [&](int32_t a, int32_t b) {
      if (a < b) vl_composite_row(row + (a - s.p0.x), under + a, row + (a - s.p0.x), b - a);
    };
    if (y < pic.p0.y || y >= pic.p1.y || empty(pic)) {
      copy_panel(s.p0.x, s.p1.x);
      continue;
    }
    copy_panel(s.p0.x, pic.p0.x);
    copy_panel(pic.p1.x, s.p1.x);
    if (y >= hole.p0.y && y < hole.p1.y && !empty(hole)) {
      const int32_t h0 = std::clamp(hole.p0.x, pic.p0.x, pic.p1.x), h1 = std::clamp(hole.p1.x, pic.p0.x, pic.p1.x);
      mix(pic.p0.x, h0);
      mix(h1, pic.p1.x);
    } else {
      mix(pic.p0.x, pic.p1.x);
    }
  }
}

// Composes, overlays and converts the pixels of r a strip at a time in the
// window-wide strip raster, so a strip's pixels are still in cache when the
// next step reads them: the picture, the panel over it, then every knob,
// light and caption (and text entry) that reaches into the strip, drawn only
// inside it, and the conversion into the output plane.
void render_rect(inst_t *ci, recti_t r, int32_t selband_on, double light, recti_t caption, bool entries) {
  r = intersect(r, recti_t{{0, 0}, {ci->fb.w, ci->fb.h}});
  const raster_t &panel = ci->finallayout;
  if (empty(r) || !ci->strip.l || !panel.l || panel.w != ci->fb.w || panel.h != ci->fb.h || !ci->composite.srgb)
    return;
  const int32_t w = r.p1.x - r.p0.x;
  const int32_t rows = int32_t(std::min<size_t>(ci->strip.as / size_t(w), 4096));
  if (rows < 1) return;
  const raster_t *strip_img = tarvelon_graphics().bknob;
  const int32_t band = std::clamp(ci->selband, 0, 3);
  const recti_t lbox = light_box(ci);
  uint8_t *out = reinterpret_cast<uint8_t *>(ci->composite.srgb);
  const framebuffer_t saved = ci->composite_ctx;
  framebuffer_t &target = ci->composite_ctx;  // knobs and texts draw into it
  const bool planned = !entries;  // text entries (rare) take the whole path
  for (int32_t y = r.p0.y; y < r.p1.y; y += rows) {
    const recti_t s{{r.p0.x, y}, {r.p1.x, std::min(r.p1.y, y + rows)}};
    target = framebuffer_t{};
    target.r = raster_t{ci->strip.l, w, s.p1.y - s.p0.y, ci->strip.as, nullptr};
    target.w = target.maxdim_x = target.realdim_x = w;
    target.h = target.maxdim_y = target.realdim_y = target.r.h;
    target.pixel_scale = 1.0;
    target.origin = s.p0;
    tarvelon_paint_picture(ci, &target, intersect(s, ci->frame_visual), planned);
    composite_strip(ci, target, s);
    target.clip = s, target.clip_on = 1;
    vl_current().fb = &target;
    for (const knob_slot &k : kKnobs)
      if (!empty(intersect(ci->frame_knob_box[k.slot], s)))
        tarvelon_draw_knob(ci, strip_img, k.title, k.slot <= 3 ? k.param + band : k.param, k.slot, selband_on);
    if (light > 0.0 && !empty(intersect(lbox, s))) draw_clip_light(ci, light);
    if (!empty(intersect(caption, s))) draw_caption(ci);
    if (entries) tarvelon_draw_knob_text_entries(ci);
    for (int32_t yy = s.p0.y; yy < s.p1.y; yy++)
      tarvelon_convert_picture_row(ci, &target, out, ci->fb.w, yy, s.p0.x, s.p1.x, planned);
  }
  target = saved;
  vl_current().fb = &ci->composite_ctx;
}

void add_dirty(inst_t *ci, recti_t r) {
  r = intersect(r, recti_t{{0, 0}, {ci->fb.w, ci->fb.h}});
  if (empty(r)) return;
  constexpr int32_t cap = int32_t(sizeof ci->frame_dirty / sizeof ci->frame_dirty[0]);
  if (ci->frame_dirty_count < cap) ci->frame_dirty[ci->frame_dirty_count++] = r;
  else ci->frame_dirty[cap - 1] = unite(ci->frame_dirty[cap - 1], r);
}

// Draws the pending frame's rectangles, in order, until about `budget`
// pixels are done (0: all). 1 when nothing is left.
int32_t render_pending(inst_t *ci, int64_t budget) {
  int64_t done = 0;
  while (ci->frame_pending && ci->frame_next_rect < ci->frame_dirty_count) {
    const recti_t r = ci->frame_dirty[ci->frame_next_rect];
    const int64_t w = std::max(1, r.p1.x - r.p0.x);
    int32_t rows = r.p1.y - ci->frame_next_row;
    if (budget > 0) {
      if (done >= budget) return 0;
      // Whole strips, at least one, so the pieces are no smaller than a strip.
      const int64_t fit = std::max<int64_t>(kStripRows, (budget - done) / w / kStripRows * kStripRows);
      rows = int32_t(std::min<int64_t>(rows, fit));
    }
    render_rect(ci, recti_t{{r.p0.x, ci->frame_next_row}, {r.p1.x, ci->frame_next_row + rows}}, ci->frame_selband_on,
                ci->frame_light_level, ci->frame_caption_drawn, ci->frame_entries != 0);
    done += w * rows;
    ci->frame_next_row += rows;
    if (ci->frame_next_row >= r.p1.y) {
      ci->frame_next_rect++;
      if (ci->frame_next_rect < ci->frame_dirty_count) ci->frame_next_row = ci->frame_dirty[ci->frame_next_rect].p0.y;
    }
  }
  ci->frame_pending = 0;
  return 1;
}

// What changed since the last frame reaches the output plane: the picture
// area always (it animates), a knob when what it shows changed, the light
// while it glows and once after, the caption when its text changed. A size
// change, a new output plane, a new panel or an open text entry redo it all.
// What a frame left undrawn (drawn in parts) is drawn with this one.
void present_changes(inst_t *ci, const tarvelon_band_view_t &view, int64_t budget) {
  const recti_t all{{0, 0}, {ci->fb.w, ci->fb.h}};
  const bool entry = tarvelon_knob_textedit_is_active(ci) != 0;
  const bool full = ci->frame_full || ci->fb_size_changed || ci->frame_target != ci->composite.srgb || entry ||
                    ci->frame_entry_shown;
  ci->frame_entry_shown = entry;
  recti_t left[sizeof ci->frame_dirty / sizeof ci->frame_dirty[0]];
  int32_t nleft = 0;
  for (int32_t i = ci->frame_pending ? ci->frame_next_rect : ci->frame_dirty_count; i < ci->frame_dirty_count; i++) {
    left[nleft] = ci->frame_dirty[i];
    if (i == ci->frame_next_rect) left[nleft].p0.y = ci->frame_next_row;
    nleft++;
  }
  ci->frame_dirty_count = 0;
  const double light = take_light_level(ci);
  update_caption(ci);
  recti_t caption{};
  const uint64_t ckey = caption_key(ci, &caption);
  const raster_t *strip_img = tarvelon_graphics().bknob;
  const int32_t band = std::clamp(ci->selband, 0, 3);
  ci->frame_light_level = light;
  ci->frame_selband_on = view.selband_on, ci->frame_caption_drawn = caption, ci->frame_entries = full;
  ci->frame_pending = 1, ci->frame_next_rect = 0;
  if (full) {
    for (const knob_slot &k : kKnobs)
      ci->frame_knob_key[k.slot] = tarvelon_knob_look(ci, strip_img, k.slot <= 3 ? k.param + band : k.param, k.slot,
                                                      view.selband_on, &ci->frame_knob_box[k.slot]);
    ci->frame_caption_key = ckey, ci->frame_caption_box = caption;
    ci->frame_light_shown = light > 0.0;
    add_dirty(ci, all);
    ci->frame_next_row = 0;
    ci->frame_full = 0;
    ci->frame_target = ci->composite.srgb;
    render_pending(ci, budget);
    return;
  }
  add_dirty(ci, ci->frame_visual);
  for (const knob_slot &k : kKnobs) {
    recti_t box{};
    const uint64_t key = tarvelon_knob_look(ci, strip_img, k.slot <= 3 ? k.param + band : k.param, k.slot,
                                            view.selband_on, &box);
    if (key == ci->frame_knob_key[k.slot]) continue;
    add_dirty(ci, unite(box, ci->frame_knob_box[k.slot]));
    ci->frame_knob_key[k.slot] = key, ci->frame_knob_box[k.slot] = box;
  }
  if (light > 0.0 || ci->frame_light_shown) add_dirty(ci, light_box(ci));
  ci->frame_light_shown = light > 0.0;
  if (ckey != ci->frame_caption_key) {
    add_dirty(ci, unite(caption, ci->frame_caption_box));
    ci->frame_caption_key = ckey, ci->frame_caption_box = caption;
  }
  for (int32_t i = 0; i < nleft; i++) add_dirty(ci, left[i]);
  // Whatever is drawn over the picture keeps its pixels out of the straight
  // conversion. (A whole frame, above, converts everything the whole way.)
  for (const knob_slot &k : kKnobs) tarvelon_touch_picture(ci, ci->frame_knob_box[k.slot]);
  if (light > 0.0) tarvelon_touch_picture(ci, light_box(ci));
  tarvelon_touch_picture(ci, caption);
  ci->frame_next_row = ci->frame_dirty_count ? ci->frame_dirty[0].p0.y : 0;
  render_pending(ci, budget);
}

}  // namespace

int32_t tarvelon_draw_frame(inst_t *ci) noexcept { return tarvelon_draw_frame_within(ci, 0); }

int32_t tarvelon_draw_frame_within(inst_t *ci, int64_t budget) noexcept {
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
    if (!tarvelon_resize_visual_width_storage(ci, ci->kVW) || !ci->strip.l || !ci->finallayout.l) {
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
  if (ci->frame_full || ci->fb_size_changed) {  // the panel may have changed: where the picture shows
    ci->frame_visual = visual_rect(ci);
    ci->frame_hole = clean_hole(ci);
  }

  tarvelon_prepare_picture(ci, &view);
  tarvelon_store_band_positions(ci, &view);

  present_changes(ci, view, budget);
  ci->fb_size_changed = 0;
  vl_mutex_unlock(ci->draw_reinit_sem);
  tarvelon_restore_vantalib_gui_runtime(prev);
  return -1;
}

int32_t tarvelon_continue_frame(inst_t *ci, int64_t budget) noexcept {
  if (!ci || !ci->frame_pending) return 1;
  vl_gui_context_t *prev = tarvelon_bind_vantalib_gui_runtime(ci);
  int32_t done = 1;
  {
    vl_lock_guard draw(ci->draw_reinit_sem);
    // A new size or output plane since the frame began: the next frame redoes
    // everything, so what is left is dropped.
    if (ci->fb_size_changed || ci->frame_full || ci->frame_target != ci->composite.srgb || !ci->strip.l)
      ci->frame_pending = 0;
    else
      done = render_pending(ci, budget);
  }
  tarvelon_restore_vantalib_gui_runtime(prev);
  return done;
}

int32_t tarvelon_frame_pending(const inst_t *ci) noexcept { return ci && ci->frame_pending; }

int32_t tarvelon_editor_storage_acquire(inst_t *ci) noexcept {
  if (!ci) return 0;
  vl_gui_context_t *prev = tarvelon_bind_vantalib_gui_runtime(ci);
  {
    vl_lock_guard draw(ci->draw_reinit_sem);
    if (ci->editor_users++ == 0 || !ci->strip.l) {
      tarvelon_resize_framebuffer_storage(ci, 1);
      tarvelon_paint_static_panel(ci);
      ci->fb_size_changed = 1;
      ci->frame_full = 1;
      ci->frame_pending = 0;
      ci->fft_mag_changed = 1, ci->last2k_changed = 1, ci->spline_changed = 1;
      ci->vzoom_changed = 1, ci->hzoom_changed = 1;
    }
  }
  tarvelon_restore_vantalib_gui_runtime(prev);
  return ci->strip.l && ci->finallayout.l;
}

void tarvelon_editor_storage_release(inst_t *ci) noexcept {
  if (!ci || ci->editor_users <= 0) return;
  vl_gui_context_t *prev = tarvelon_bind_vantalib_gui_runtime(ci);
  {
    vl_lock_guard draw(ci->draw_reinit_sem);
    if (--ci->editor_users == 0) {
      ci->frame_pending = 0;
      tarvelon_resize_framebuffer_storage(ci, 1);
      tv_trim_heap();
    }
  }
  tarvelon_restore_vantalib_gui_runtime(prev);
}

int32_t tarvelon_frame_dirty_rects(const inst_t *ci, recti_t *out, int32_t max) noexcept {
  if (!ci || !out || max <= 0) return 0;
  const int32_t n = ci->frame_dirty_count;
  if (n <= max) {
    std::copy(ci->frame_dirty, ci->frame_dirty + n, out);
    return n;
  }
  out[0] = recti_t{{0, 0}, {ci->fb.w, ci->fb.h}};  // more than asked for: everything
  return 1;
}

void tarvelon_redraw_whole_frame(inst_t *ci) noexcept {
  if (!ci) return;
  vl_gui_context_t *prev = tarvelon_bind_vantalib_gui_runtime(ci);
  {
    vl_lock_guard draw(ci->draw_reinit_sem);
    tarvelon_band_view_t view;
    {
      vl_lock_guard proc(ci->proc_reinit_sem);
      tarvelon_take_band_view(ci, &view);
    }
    render_rect(ci, recti_t{{0, 0}, {ci->fb.w, ci->fb.h}}, view.selband_on, ci->frame_light_level,
                ci->frame_caption_box, true);
    ci->frame_pending = 0;  // everything is drawn
  }
  tarvelon_restore_vantalib_gui_runtime(prev);
}
