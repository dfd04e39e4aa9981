// Instance creation (bare, hosted, complete) and destruction.
#include <algorithm>
#include <atomic>
#include <new>

#include "audio/engine.h"
#include "dsp/fft.h"
#include "dsp/filter_design.h"
#include "dsp/scales.h"
#include "graphics/curve_cover.h"
#include "graphics/picture.h"
#include "graphics/spectrum.h"
#include "graphics/curve_grid.h"
#include "graphics/layout.h"
#include "graphics/resources.h"
#include "io/prefs.h"
#include "state/eq.h"
#include "state/params.h"
#include "state/undo.h"
#include "system/alloc.h"
#include "system/instance.h"

namespace {
std::atomic<int32_t> g_instance_serial{0};
std::atomic<int32_t> g_live_instances{0};


void free_bare(inst_t *ci) {
  tv_free(ci->gc_list);
  tv_free(ci->knob_textedits);
  tv_free(ci->knob_textedit_on);
  ci->~inst_t();
  tv_free(ci);
}
}  // namespace

inst_t *tarvelon_create_instance(void *owner, int32_t ctrl_count, int32_t *instance_index) noexcept {
  if (instance_index) *instance_index = -1;
  void *mem = tv_calloc(1, sizeof(inst_t));
  if (!mem) return nullptr;
  inst_t *ci = new (mem) inst_t{};

  ci->gc_capacity = 1024;
  ci->gc_list = static_cast<gc_t *>(tv_calloc(1024, sizeof(gc_t)));
  ci->tarvelon_inst = owner;
  ci->ctrlcount = ctrl_count;
  ci->host_callbacks = tarvelon_get_default_host_callbacks();
  ci->host_user_data = tarvelon_get_default_host_user_data();

  const int32_t editors = (ctrl_count >= 1 && ctrl_count <= kTarvelonControlCount) ? ctrl_count
                                                                                    : kTarvelonControlCount;
  ci->knob_textedits = static_cast<textedit_t *>(tv_calloc(size_t(editors), sizeof(textedit_t)));
  ci->knob_textedit_on = static_cast<int8_t *>(tv_calloc(size_t(editors), 1));
  if (!ci->gc_list || !ci->knob_textedits || !ci->knob_textedit_on) {
    free_bare(ci);
    return nullptr;
  }
  ci->knob_textedit_count = editors;

  vl_gui_context_init(&ci->vantalib_gui_context);
  vl_gui_context_t *prev = vl_gui_context_bind(&ci->vantalib_gui_context);
  vl_mouse_t &mouse = vl_current().mouse;
  mouse.window_focus_flag = 1;
  mouse.mouse_focus_flag = 1;
  mouse.a[0] = mouse.a[1] = 1e30;  // far outside any editor
  vl_gui_context_bind(prev);

  g_live_instances.fetch_add(1, std::memory_order_relaxed);
  const int32_t serial = g_instance_serial.fetch_add(1, std::memory_order_relaxed);
  if (instance_index) *instance_index = serial & 0x7fffffff;
  return ci;
}

inst_t *tarvelon_create_hosted_instance(void *owner, int32_t ctrl_count, const tarvelon_host_callbacks_t *callbacks,
                                        void *user_data, int32_t *instance_index) noexcept {
  inst_t *ci = tarvelon_create_instance(owner, ctrl_count, instance_index);
  tarvelon_set_host_callbacks(ci, callbacks, user_data);
  return ci;
}

void tarvelon_prepare_gui_runtime(inst_t *ci) noexcept {
  if (!ci) return;
  vl_gui_context_t *prev = tarvelon_bind_vantalib_gui_runtime(ci);
  ci->cpos = static_cast<ctrl_pos_t *>(gc_calloc(ci, kTarvelonControlCount, sizeof(ctrl_pos_t)));
  tarvelon_load_prefs(ci, 0);
  if (ci->gui_width <= 0 || ci->gui_height <= 0) {
    ci->gui_width = kEditorDefaultWidth;
    ci->gui_height = kEditorDefaultHeight;
  }
  // A remembered size from an older or edited file still has to fit the limits.
  ci->gui_width = std::clamp(ci->gui_width, kEditorMinWidth, kEditorMaxWidth);
  ci->gui_height = std::clamp(ci->gui_height, kEditorMinHeight, kEditorMaxHeight);
  layout_pos_from_saved_gui_size(ci);
  sync_vantalib_framebuffers(ci);
  tarvelon_restore_vantalib_gui_runtime(prev);
}

void tarvelon_attach_plugin_controls(inst_t *ci, int32_t half_size) noexcept {
  if (!ci) return;
  tarvelon_host_attach_draw_control(ci);
  for (int32_t ctrl = 1; ctrl < kTarvelonControlCount; ctrl++)
    tarvelon_host_attach_knob_control(ci, ctrl, tarvelon_control_param(ctrl), half_size);
}

void tarvelon_init_visual_runtime(inst_t *ci, double samplerate, int32_t *fft_size, int32_t *ksize) noexcept {
  if (!ci) return;
  vl_gui_context_t *prev = tarvelon_bind_vantalib_gui_runtime(ci);
  ci->fft_size = fft_size;
  ci->ksize = ksize;
  ci->mouseout_time = 1e-7;
  ci->samplerate = tarvelon_sanitize_samplerate(samplerate);

  ci->last2k = static_cast<double **>(gc_calloc(ci, 2, sizeof(double *)));
  ci->last2k_copy = static_cast<double **>(gc_calloc(ci, 2, sizeof(double *)));
  ci->last2k_fft = static_cast<double **>(gc_calloc(ci, 2, sizeof(double *)));
  tarvelon_resize_visual_analyzer_storage(ci);
  ci->last2k_plan = fft_plan_init(ci, tarvelon_analyzer_size_for_rate(samplerate));

  ci->spectral_table = static_cast<double **>(gc_calloc(ci, 3, sizeof(double *)));
  ci->spline_lut = static_cast<double **>(gc_calloc(ci, 3, sizeof(double *)));
  tarvelon_resize_visual_width_storage(ci, ci->kVW);
  ci->fft_mag = static_cast<double **>(gc_calloc(ci, 2, sizeof(double *)));

  sync_vantalib_framebuffers(ci);
  tarvelon_init_runtime_param_values_from_bridge(ci);
  make_grids_lut(ci);

  vl_mutex_t **order[] = {&ci->fft_mag_sem, &ci->spline_sem, &ci->draw_reinit_sem, &ci->proc_reinit_sem,
                          &ci->fft_sem};
  for (vl_mutex_t **slot : order) {
    auto *mx = static_cast<vl_mutex_t *>(gc_calloc(ci, 1, 64));
    vl_mutex_init(mx);
    *slot = mx;
  }
  tarvelon_restore_vantalib_gui_runtime(prev);
}

void tarvelon_init_plugin_runtime_owned(inst_t *ci, int32_t index) noexcept {
  if (!ci) return;
  ci->fbank = static_cast<filterbank_t *>(gc_calloc(ci, 1, sizeof(filterbank_t)));
  vl_gui_context_t *prev = tarvelon_bind_vantalib_gui_runtime(ci);
  tarvelon_host_bind_draw_bitmap(ci);
  sync_vantalib_framebuffers(ci);
  tarvelon_load_graphics_resources(ci);
  tarvelon_init_layout_and_text(ci, index);
  tarvelon_init_visual_runtime(ci, tarvelon_host_get_sample_rate(ci), &ci->fft_size_value, &ci->ksize_value);
  tarvelon_undo_alloc(ci);
  tarvelon_init_eq_state(ci);
  tarvelon_alloc_audio_buffers_owned(ci);
  tarvelon_setup_selected_band_controls(ci, 0);
  tarvelon_restore_vantalib_gui_runtime(prev);
}

int32_t tarvelon_instance_is_complete(const inst_t *ci) noexcept {
  if (!ci) return 0;
  auto pair = [](double **p) { return p && p[0] && p[1]; };
  auto triple = [](double **p) { return p && p[0] && p[1] && p[2]; };
  const bool locks = ci->fft_sem && ci->fft_mag_sem && ci->spline_sem && ci->draw_reinit_sem && ci->proc_reinit_sem;
  const bool bands = ci->equ && ci->eqs && ci->designed_equ && ci->undo_equ;
  const bool engine = ci->fbank && ci->audio_buffers_ready && ci->plan && pair(ci->inter_buffer) &&
                      pair(ci->convout) && pair(ci->overflow) && ci->kernel && ci->fft_input && ci->transition;
  const bool display = ci->cpos && ci->last2k_size > 0 && pair(ci->last2k) && pair(ci->last2k_copy) &&
                       pair(ci->last2k_fft) && ci->last2k_bman && ci->last2k_plan && triple(ci->spectral_table) &&
                       triple(ci->spline_lut) && ci->spline_lut_int && ci->fft_mag_lut && pair(ci->fft_mag) &&
                       ci->debug_txt && ci->db_txt && ci->freq_txt && ci->knob_txt;
  return locks && bands && engine && display;
}

inst_t *tarvelon_create_hosted_plugin_instance(void *owner, int32_t ctrl_count,
                                               const tarvelon_host_callbacks_t *callbacks, void *user_data,
                                               int32_t *instance_index) noexcept {
  int32_t index = -1;
  inst_t *ci = tarvelon_create_instance(owner, ctrl_count, &index);
  if (!ci) {
    if (instance_index) *instance_index = -1;
    return nullptr;
  }
  tarvelon_set_host_callbacks(ci, callbacks, user_data);
  if (instance_index) *instance_index = index;

  tarvelon_define_plugin_params(ci);
  tarvelon_prepare_gui_runtime(ci);
  tarvelon_host_create_graphics(ci, 60);
  tarvelon_attach_plugin_controls(ci, 30);
  tarvelon_host_attach_graphics(ci);
  tarvelon_init_plugin_runtime_owned(ci, index);
  tarvelon_init_audio_runtime_owned(ci);
  // An instance missing a lock, a buffer or its engine would run unprotected
  // or retry for ever: refuse it whole instead.
  if (!tarvelon_instance_is_complete(ci)) {
    tarvelon_destroy_instance(ci);
    if (instance_index) *instance_index = -1;
    return nullptr;
  }
  return ci;
}

inst_t *tarvelon_create_plugin_instance(void *owner, int32_t ctrl_count, int32_t *instance_index) noexcept {
  return tarvelon_create_hosted_plugin_instance(owner, ctrl_count, tarvelon_get_default_host_callbacks(),
                                                tarvelon_get_default_host_user_data(), instance_index);
}

void tarvelon_destroy_instance(inst_t *ci) noexcept {
  if (!ci) return;
  vl_gui_context_t *prev = tarvelon_bind_vantalib_gui_runtime(ci);
  for (vl_mutex_t *mx : {ci->fft_sem, ci->fft_mag_sem, ci->spline_sem, ci->draw_reinit_sem, ci->proc_reinit_sem})
    vl_mutex_destroy(mx);
  for (int32_t i = 0; i < ci->knob_textedit_count; i++)
    if (ci->knob_textedits[i].string) textedit_free(&ci->knob_textedits[i]);
  tv_free(ci->knob_textedits);
  tv_free(ci->knob_textedit_on);
  ci->knob_textedits = nullptr;
  ci->knob_textedit_on = nullptr;
  ci->knob_textedit_count = 0;
  tarvelon_release_curve_cover(ci);
  tarvelon_release_picture(ci);
  tarvelon_release_spectrum_bins(ci);
  // If this instance was bound before the call, the previous binding is this
  // instance itself; unbinding on destroy keeps nothing pointing at freed memory.
  tarvelon_restore_vantalib_gui_runtime(prev == &ci->vantalib_gui_context ? nullptr : prev);
  vl_gui_context_destroy(&ci->vantalib_gui_context);
  gc_cleanup(ci);
  ci->~inst_t();
  tv_free(ci);
  g_live_instances.fetch_sub(1, std::memory_order_relaxed);
}

int32_t tarvelon_live_instances() noexcept { return g_live_instances.load(std::memory_order_relaxed); }
