// The core instance record: everything one plug-in instance needs, grouped by
// the subsystem that owns each field. Zero-initialised at creation.
#pragma once
#include <cstdint>

#include "system/shared_value.h"
#include "vl_gui_context.h"
#include "vl_mutex.h"
#include "vl_raster.h"
#include "vl_textedit.h"

struct eq_t;
struct fft_plan_t;
struct filterbank_t;
struct text_t;
struct tarvelon_host_callbacks_t;

struct gc_t {
  void *ptr;
};

// The horizontal view: visible fraction `hzoom`, its centre `zoomc`, the edge
// frequencies in Hz and as pitch (0..1 over 20 Hz..20 kHz).
struct tarvelon_hview_t {
  double hzoom, zoomc, zmin, zmax, zminp, zmaxp;
};

// On-screen position of one knob-panel control.
struct ctrl_pos_t {
  int32_t gx, gy, ox, oy, oex, oey, type;
};

constexpr int kTarvelonControlCount = 16;

struct inst_t {
  // Allocation list: every block that lives as long as the instance.
  gc_t *gc_list;
  int32_t gc_capacity;

  // Text objects.
  text_t *debug_txt, *db_txt, *freq_txt, *knob_txt;

  // Rasters and the framebuffer records describing them.
  raster_t fb, composite, layout, finallayout, grids;
  framebuffer_t fb_ctx, composite_ctx, layout_ctx, finallayout_ctx, grids_ctx;

  vl_gui_context_t vantalib_gui_context;

  // Graph geometry in pixels.
  int32_t kVW, kVH, vx, vy;
  double vxf, vyf;

  // Analyser input history (two channels each).
  double **last2k, **last2k_copy, **last2k_fft;
  int32_t last2k_size, last2k_offset;
  relaxed<int32_t> last2k_changed;
  publish_flag diff_eq;                // band parameters changed; bands must be re-derived
  publish_flag filter_update_pending;  // bands re-derived; filter not yet redesigned
  fft_plan_t *last2k_plan;

  // Filter magnitude published for display.
  double **fft_mag;
  int32_t fft_mag_capacity;
  int32_t *fft_size, *ksize;  // point at fft_size_value / ksize_value
  double *kernel;
  relaxed<int32_t> fft_mag_changed;
  double *fft_mag_lut;
  double *last2k_bman;
  double **spline_lut;
  int32_t *spline_lut_int;
  relaxed<int32_t> spline_changed, vzoom_changed, hzoom_changed;

  // Animation clocks, seconds.
  double time0, time1, frame_s, dash_offset, selrings_offset;

  // Audio setting.
  double samplerate;
  relaxed<int32_t> latency;
  int32_t prev_latency;

  // Spectrum drawing.
  double **spectral_table;
  int32_t visual_width;

  // Display values derived from parameters (written by parameter changes on
  // either thread, read by drawing).
  relaxed<int32_t> colscheme;
  relaxed<double> colgain, gamma, vzoom;
  // The visible frequency window, published whole (written by parameter
  // changes on either thread, read by the display and the display curve).
  seqlocked<tarvelon_hview_t> hview;

  // Editor size and display flags.
  int32_t gui_width, gui_height;
  rect_t sidebar_gap_rect;
  int8_t fb_size_changed;

  // Audio engine state.
  filterbank_t *fbank;
  double *transition;
  double **inter_buffer;
  int32_t needed_samples, gotten_samples;
  double **overflow;
  int32_t overflow_count, overflow_size;
  int32_t audio_fft_capacity, audio_convout_capacity;
  relaxed<int32_t> audio_buffers_ready;
  int32_t fft_size_value, ksize_value;  // written only under both reinit locks
  double *fft_input;
  fft_plan_t *plan;
  double **convout;
  int32_t convout_count, convout_size, convout_offset;
  struct tarvelon_partitions_t *parts;  // the kernel in parts, when it has more than one

  // Band model.
  eq_t *equ, *eqs, *designed_equ;
  int32_t eqs_count;

  // Undo history. The band model tells whoever keeps the history that bands
  // were re-derived through this one call (null: no history).
  int32_t (*bands_synced)(inst_t *ci);
  double *undo_equ;
  int32_t undo_capacity, undo_oldest, undo_now, undo_newest, undo_ready, undo_group, undo_restoring;

  // Pointer interaction.
  int32_t grabbed, grabbed_id, grabbed_type, hover, hover_id, hover_type;
  double grabbed_offset_x, grabbed_offset_y;
  int32_t grabbed_mouse_x, grabbed_mouse_y, vantalib_mouse_claimed, vantalib_input_frame_open,
      vantalib_click_origin_collected;

  // Knob text entry.
  textedit_t *knob_textedits;
  int8_t *knob_textedit_on;
  int32_t knob_textedit_count;

  // Host link.
  void *tarvelon_inst;
  const tarvelon_host_callbacks_t *host_callbacks;
  void *host_user_data;

  // Mutexes; see the lock order in instance.h.
  vl_mutex_t *fft_sem, *fft_mag_sem, *spline_sem, *draw_reinit_sem, *proc_reinit_sem;

  // Miscellaneous.
  relaxed<double> mouseout_time;
  lrgb_t *grids_lut;
  relaxed<int32_t> screen_timeout;
  void *pGraphics;
  ctrl_pos_t *cpos;
  relaxed<double> max_sample;
  int32_t selband;
  double time_since_start;
  relaxed<double> time_since_proc;
  relaxed<double> time_since_prefsave;
  relaxed<int32_t> prefsave_pending;
  publish_flag reinit_flag;  // engine must be rebuilt before the next block
  double env, env_time;      // limiter envelope
  int32_t ctrlcount;
  relaxed<int32_t> print_delay;
  double built_samplerate;  // rate the engine buffers and filter were last built for
  // The engine always takes blocks this long in one step: the larger of the
  // host's announced maximum and the largest block it ever sent.
  // [written and read under proc_reinit_sem]
  int32_t host_max_block, largest_block_seen;
  // Consecutive input frames that were exactly zero (non-finite samples
  // count as zero: the engine plays them as zero), saturating. [audio thread]
  int64_t silent_input_frames;

  // Editors (and snapshots) currently using the window-sized rasters; they
  // exist only while this is above 0. [GUI thread]
  int32_t editor_users;
  // UI scale: window pixels per logical pixel, 1..4 (0 reads as 1). The
  // layout, every drawn length and the hit tests follow it. [GUI thread]
  double ui_scale;
  // Artwork drawn for ui_scale (knob frames, light, shadow, logo); exists
  // only with the window-sized rasters, and only at a scale other than 1.
  struct tarvelon_scaled_art_t *scaled_art;
  struct tarvelon_curve_cover_t *curve_cover;  // the curve's amounts while an editor is open
  struct tarvelon_picture_t *picture;          // what a frame's strips share
  struct tarvelon_spectrum_bins_t *spectrum_bins;  // the bins under each column of the spectrum
  raster_t strip;                              // the rows being composed (window wide)
  // The panel as painted, without axis labels, kept only where labels and
  // ticks go: label_band[0] (left of the area) then label_band[1] (below it).
  lrgb_t *label_bands;
  recti_t label_band[2];
  // The grid layer's coverage alone, so the per-frame grid blend reads two
  // bytes a pixel; its colour is the same everywhere. Most rows of the area
  // are alike (only level lines differ): grid_alpha holds the common row
  // first, then each row that differs from it, kVW values each;
  // grid_alpha_rows says which one area row iy reads (0: the common row).
  uint16_t *grid_alpha;
  int32_t *grid_alpha_rows;
  size_t grid_alpha_size;  // kVW × kVH when it was made
  lrgb_t grid_rgb;
  // The last frame showed no spectrum at all (every level 0). [GUI thread]
  int32_t spectrum_dark;
  // What the presented pixels show, so a frame recomposes and converts only
  // what changed. [GUI thread]
  int32_t frame_full;            // 1: the next frame redoes the whole window
  const void *frame_target;      // the output plane the last frame wrote
  recti_t frame_visual;          // where the picture shows through the panel
  recti_t frame_hole;            // where it shows alone (panel alpha 0)
  uint64_t frame_knob_key[kTarvelonControlCount];
  recti_t frame_knob_box[kTarvelonControlCount];
  uint64_t frame_caption_key;
  recti_t frame_caption_box;
  int32_t frame_light_shown, frame_entry_shown;
  double frame_light_level;
  // The rectangles the last frame changed in the output plane.
  recti_t frame_dirty[2 * kTarvelonControlCount + 4];
  int32_t frame_dirty_count;
  // A frame drawn over more than one call: rectangle frame_next_rect of
  // frame_dirty is done up to row frame_next_row; what it draws with.
  int32_t frame_pending, frame_next_rect, frame_next_row;
  int32_t frame_selband_on, frame_entries;
  recti_t frame_caption_drawn;
  // Table recomputations done by frames, for tests that prove caching.
  relaxed<int64_t> table_recomputations;
};
