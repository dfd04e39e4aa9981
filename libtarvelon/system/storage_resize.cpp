// Storage rebuilt when the editor, the graph width or the sample rate changes.
#include <cstring>

#include "dsp/scales.h"
#include "graphics/artwork.h"
#include "graphics/curve_cover.h"
#include "graphics/curve_grid.h"
#include "graphics/picture.h"
#include "graphics/spectrum.h"
#include "system/instance.h"

void tarvelon_resize_lrgb_raster(inst_t *ci, raster_t *r, size_t pixel_count, int32_t resolution_changed) noexcept {
  if (!ci || !r) return;
  if (!resolution_changed && r->l && r->as == pixel_count) return;
  gc_free(ci, r->l);
  r->l = static_cast<lrgb_t *>(gc_calloc(ci, pixel_count, sizeof(lrgb_t)));
  r->as = pixel_count;
}

void tarvelon_resize_framebuffer_storage(inst_t *ci, int32_t resolution_changed) noexcept {
  if (!ci) return;
  if (ci->editor_users <= 0) {
    // No editor: keep the sizes, drop the pixels (most instances never open one).
    gc_free(ci, ci->label_bands);
    ci->label_bands = nullptr;
    for (raster_t *r : {&ci->fb, &ci->composite, &ci->layout, &ci->finallayout, &ci->strip}) {
      gc_free(ci, r->l);
      r->l = nullptr;
      r->as = 0;
    }
    gc_free(ci, ci->grids_lut);
    ci->grids_lut = nullptr;
    tarvelon_free_grid_alpha(ci);
    tarvelon_release_scaled_art(ci);  // drawn for the editor's scale: goes with it
    tarvelon_release_curve_cover(ci);
    tarvelon_release_picture(ci);
    tarvelon_release_spectrum_bins(ci);
    sync_vantalib_framebuffers(ci);
    return;
  }
  const size_t n = size_t(ci->fb.w > 0 ? ci->fb.w : 0) * size_t(ci->fb.h > 0 ? ci->fb.h : 0);
  // The unlabelled panel layer is made while the panel is painted; a new
  // size paints it again.
  tarvelon_resize_lrgb_raster(ci, &ci->finallayout, n, resolution_changed);
  // The picture and the composite are made a strip of rows at a time: only
  // the strip is kept, and fb and composite hold the window's size alone.
  for (raster_t *r : {&ci->fb, &ci->composite}) {
    gc_free(ci, r->l);
    r->l = nullptr, r->as = 0;
  }
  ci->strip.w = ci->fb.w, ci->strip.h = kStripRows;
  tarvelon_resize_lrgb_raster(ci, &ci->strip, size_t(ci->fb.w > 0 ? ci->fb.w : 0) * kStripRows, resolution_changed);
  // The grid layer exists only while the grid is drawn; its coverage stays.
  const size_t g = size_t(ci->kVW > 0 ? ci->kVW : 0) * size_t(ci->kVH > 0 ? ci->kVH : 0);
  if (resolution_changed || g != ci->grid_alpha_size) tarvelon_free_grid_alpha(ci);
  sync_vantalib_framebuffers(ci);
}

void sync_one_framebuffer(framebuffer_t *fb, const raster_t *r) noexcept {
  if (!fb || !r) return;
  std::memset(fb, 0, sizeof *fb);
  fb->r = *r;
  fb->w = fb->maxdim_x = fb->realdim_x = r->w;
  fb->h = fb->maxdim_y = fb->realdim_y = r->h;
  fb->pixel_scale = 1.0;
  const double t = vl_current().zoom.drawing_thickness;
  fb->window_x0 = -4.0 * t;
  fb->window_y0 = -4.0 * t;
  fb->window_x1 = r->w - 1 + 4.0 * t;
  fb->window_y1 = r->h - 1 + 4.0 * t;
}

void sync_vantalib_framebuffers(inst_t *ci) noexcept {
  if (!ci) return;
  ci->grids.l = ci->grids_lut;
  ci->grids.w = ci->kVW;
  ci->grids.h = ci->kVH;
  ci->grids.as = size_t(ci->kVW > 0 ? ci->kVW : 0) * size_t(ci->kVH > 0 ? ci->kVH : 0);
  sync_one_framebuffer(&ci->fb_ctx, &ci->fb);
  sync_one_framebuffer(&ci->composite_ctx, &ci->composite);
  sync_one_framebuffer(&ci->layout_ctx, &ci->layout);
  sync_one_framebuffer(&ci->finallayout_ctx, &ci->finallayout);
  sync_one_framebuffer(&ci->grids_ctx, &ci->grids);
}

int32_t tarvelon_replace_visual_buffers(inst_t *ci, double **slots[7], size_t length, int32_t **integer_slot) noexcept {
  if (!ci || !slots) return 0;
  double *fresh[7] = {};
  int32_t *fresh_int = nullptr;
  bool ok = true;
  for (int i = 0; i < 7 && ok; i++) ok = (fresh[i] = static_cast<double *>(gc_calloc(ci, length, sizeof(double))));
  if (ok && integer_slot) ok = (fresh_int = static_cast<int32_t *>(gc_calloc(ci, length, sizeof(int32_t))));
  if (!ok) {
    for (double *p : fresh) gc_free(ci, p);
    gc_free(ci, fresh_int);
    return 0;
  }
  for (int i = 0; i < 7; i++) {
    if (!slots[i]) {
      gc_free(ci, fresh[i]);
      continue;
    }
    gc_free(ci, *slots[i]);
    *slots[i] = fresh[i];
  }
  if (integer_slot) {
    gc_free(ci, *integer_slot);
    *integer_slot = fresh_int;
  }
  return 1;
}

int32_t tarvelon_resize_visual_width_storage(inst_t *ci, int32_t width) noexcept {
  if (!ci) return 0;
  if (ci->visual_width == width) return 1;
  if (width < 2 || !ci->spectral_table || !ci->spline_lut) return 0;
  double **slots[7] = {&ci->spectral_table[0], &ci->spectral_table[1], &ci->spectral_table[2], &ci->fft_mag_lut,
                       &ci->spline_lut[0],     &ci->spline_lut[1],     &ci->spline_lut[2]};
  if (!tarvelon_replace_visual_buffers(ci, slots, size_t(width), &ci->spline_lut_int)) return 0;
  ci->visual_width = width;
  ci->last2k_changed = 1;
  ci->fft_mag_changed = 1;
  ci->spline_changed = 1;
  ci->vzoom_changed = 1;
  ci->hzoom_changed = 1;
  return 1;
}

int32_t tarvelon_analyzer_size_for_rate(double samplerate) noexcept { return last2k_size_calc(samplerate); }

int32_t tarvelon_resize_visual_analyzer_storage(inst_t *ci) noexcept {
  if (!ci) return 0;
  const int32_t size = tarvelon_analyzer_size_for_rate(ci->samplerate);
  if (ci->last2k_size == size) return 1;
  if (size <= 0 || !ci->last2k || !ci->last2k_copy || !ci->last2k_fft) return 0;
  double **slots[7] = {&ci->last2k[0],     &ci->last2k[1],     &ci->last2k_copy[0], &ci->last2k_copy[1],
                       &ci->last2k_fft[0], &ci->last2k_fft[1], &ci->last2k_bman};
  if (!tarvelon_replace_visual_buffers(ci, slots, size_t(size), nullptr)) return 0;
  ci->last2k_size = size;
  blackman_coefs(ci->last2k_bman, size);
  ci->last2k_offset = 0;
  ci->last2k_changed = 1;
  return 1;
}
