// Engine sizes, buffer (re)builds, the first filter design and latency reports.
#include <cstring>

#include "audio/engine.h"
#include "audio/partitions.h"
#include "dsp/fft.h"
#include "dsp/filter_design.h"
#include "dsp/scales.h"
#include "io/prefs.h"
#include "state/eq.h"
#include "state/params.h"
#include "system/instance.h"

namespace {
struct engine_sizes {
  int32_t ksize, fft_size, needed;
};

engine_sizes compute_sizes(double sr, int32_t bsize, double bsize_mul, double ksize_mul) {
  engine_sizes s{};
  s.ksize = kernel_size_calc(sr, ksize_mul);
  s.fft_size = fft_size_calc(bsize, s.ksize, bsize_mul / ksize_mul);
  s.needed = int32_t(int64_t(s.fft_size) + 1 - s.ksize);
  return s;
}

// The sizes for a build: the settings' own block unless it is shorter than the
// blocks the host has promised (or sent), in which case the host's block sets
// it, so the first process call never has to rebuild.
engine_sizes sizes_for(const inst_t *ci, double sr, int32_t bsize, double bsize_mul, double ksize_mul) {
  engine_sizes s = compute_sizes(sr, bsize, bsize_mul, ksize_mul);
  const int32_t floor = tarvelon_block_floor(ci);
  if (s.needed < floor) s = compute_sizes(sr, floor, bsize_mul, ksize_mul);
  return s;
}

// Resizes both channels of a two-channel buffer; false leaves the rest as is.
bool resize_pair(inst_t *ci, double **pair, size_t n) {
  for (int ch = 0; ch < 2; ch++) {
    auto *p = static_cast<double *>(gc_realloc(ci, pair[ch], n, sizeof(double)));
    if (!p) return false;
    pair[ch] = p;
  }
  return true;
}

bool resize_one(inst_t *ci, double **slot, size_t n) {
  auto *p = static_cast<double *>(gc_realloc(ci, *slot, n, sizeof(double)));
  if (!p) return false;
  *slot = p;
  return true;
}

double engine_param(inst_t *ci, int32_t id) { return tarvelon_host_get_param_value(ci, id); }
}  // namespace

tarvelon_audio_fields_t tarvelon_owned_audio_fields(inst_t *ci) noexcept {
  return {&ci->kernel,        &ci->fft_input,      ci->inter_buffer,     ci->convout,
          ci->overflow,       &ci->transition,     &ci->ksize_value,     &ci->fft_size_value,
          &ci->needed_samples, &ci->gotten_samples, &ci->overflow_count, &ci->convout_offset,
          &ci->convout_size,  &ci->convout_count,  &ci->plan};
}

void tarvelon_alloc_audio_buffers_owned(inst_t *ci) noexcept {
  if (!ci) return;
  ci->kernel = ci->transition = ci->fft_input = nullptr;
  ci->plan = nullptr;
  if (ci->fbank) ci->fbank->fir = ci->fbank->fir_time_domain = nullptr;
  ci->overflow_size = ci->audio_fft_capacity = ci->audio_convout_capacity = 0;
  ci->audio_buffers_ready = 0;
  ci->inter_buffer = static_cast<double **>(gc_calloc(ci, 2, sizeof(double *)));
  ci->convout = static_cast<double **>(gc_calloc(ci, 2, sizeof(double *)));
  ci->overflow = static_cast<double **>(gc_calloc(ci, 2, sizeof(double *)));
  tarvelon_alloc_partitions(ci);
}

void tarvelon_clear_audio_buffers(const tarvelon_audio_fields_t *f, int32_t N, int32_t needed) noexcept {
  if (!f) return;
  const size_t n = sizeof(double) * size_t(N);
  std::memset(*f->kernel, 0, n);
  std::memset(*f->fft_input, 0, n);
  std::memset(*f->transition, 0, n);
  for (int ch = 0; ch < 2; ch++) {
    std::memset(f->inter_buffer[ch], 0, n);
    std::memset(f->convout[ch], 0, sizeof(double) * (size_t(N) + size_t(needed)));
    std::memset(f->overflow[ch], 0, sizeof(double) * size_t(needed));
  }
}

int32_t tarvelon_init_audio_buffers(inst_t *ci, const tarvelon_audio_fields_t *f, int32_t bsize, double bsize_mul,
                                    double ksize_mul) noexcept {
  if (!ci || !f) return -1;
  // The request is consumed now; any failure below schedules another attempt.
  ci->reinit_flag.take();
  ci->audio_buffers_ready = 0;
  auto fail = [ci]() {
    ci->reinit_flag.raise();
    return -1;
  };

  const double sr = tarvelon_sanitize_samplerate(ci->samplerate);
  const engine_sizes s = sizes_for(ci, sr, bsize, bsize_mul, ksize_mul);
  const int32_t N = s.fft_size, needed = s.needed;
  if (N < 1 || N - 1 > tv::kMaxFftSize - 1 || needed < 1) return fail();
  if (!f->inter_buffer || !f->convout || !f->overflow || !ci->fft_mag || !ci->fbank) return fail();
  if (!ci->parts && !tarvelon_alloc_partitions(ci)) return fail();  // start-up could not: try again

  if (N != ci->audio_fft_capacity) {
    ci->audio_fft_capacity = 0;
    if (!resize_one(ci, f->kernel, size_t(N)) || !resize_one(ci, f->fft_input, size_t(N)) ||
        !resize_one(ci, f->transition, size_t(N)) || !resize_pair(ci, f->inter_buffer, size_t(N)))
      return fail();
    ci->audio_fft_capacity = N;
  }
  if (ci->kernel != *f->kernel) ci->kernel = *f->kernel;
  if (needed + N != ci->audio_convout_capacity) {
    if (!resize_pair(ci, f->convout, size_t(needed) + size_t(N))) return fail();
    ci->audio_convout_capacity = needed + N;
  }
  if (needed != ci->overflow_size) {
    if (!resize_pair(ci, f->overflow, size_t(needed))) return fail();
    ci->overflow_size = needed;
  }
  if (N != ci->fft_mag_capacity) {
    vl_lock_guard lock(ci->fft_mag_sem);
    ci->fft_mag_capacity = 0;
    if (!resize_pair(ci, ci->fft_mag, size_t(N))) return fail();
    ci->fft_mag_capacity = N;
  }
  tarvelon_clear_audio_buffers(f, N, needed);
  if (!tarvelon_size_partitions(ci, s.ksize, needed, N)) return fail();

  *f->ksize = s.ksize;
  *f->fft_size = N;
  *f->needed_samples = needed;
  ci->latency = needed + s.ksize / 2;
  *f->gotten_samples = *f->overflow_count = *f->convout_offset = 0;

  filterbank_t *fb = ci->fbank;
  double *lut = ci->spline_lut ? ci->spline_lut[0] : nullptr;
  if (!design_filters(ci, fb, ci->equ, ci->eqs, s.ksize, N, sr, lut, &ci->spline_changed, ci->spline_sem,
                      ci->visual_width, &ci->eqs_count, 0))
    return fail();
  mix_firs(ci, fb->fir, *f->kernel, N);
  tarvelon_partition_filter(ci);
  tarvelon_remember_designed_eq_state(ci);
  ci->filter_update_pending.clear();

  *f->convout_size = needed + N;
  *f->convout_count = needed;  // the first block lands behind one block of silence

  if (!*f->plan) {
    *f->plan = fft_plan_init(ci, N);
  } else {
    (*f->plan)->fft_plan_init = 0;
    if (!fft_plan_resize(*f->plan, N)) return fail();
  }
  if (!*f->plan) return fail();

  ci->built_samplerate = sr;
  ci->audio_buffers_ready = 1;
  return ci->latency;
}

void tarvelon_init_audio_runtime(inst_t *ci, const tarvelon_audio_fields_t *f, int32_t bsize, double bsize_mul,
                                 double ksize_mul) noexcept {
  const int32_t latency = tarvelon_init_audio_buffers(ci, f, bsize, bsize_mul, ksize_mul);
  if (latency >= 0) tarvelon_host_set_latency(ci, latency);
}

void tarvelon_init_audio_runtime_from_bridge(inst_t *ci, const tarvelon_audio_fields_t *f) noexcept {
  if (!ci) return;
  tarvelon_init_audio_runtime(ci, f, 0, engine_param(ci, TV_PARAM_INPUT_BUFFER), engine_param(ci, TV_PARAM_RESOLUTION));
}

void tarvelon_init_audio_runtime_owned(inst_t *ci) noexcept {
  if (!ci) return;
  tarvelon_load_prefs(ci, 1);  // may set Resolution and Input Buffer Size before the first build
  const tarvelon_audio_fields_t f = tarvelon_owned_audio_fields(ci);
  tarvelon_init_audio_runtime_from_bridge(ci, &f);
}

void tarvelon_reinit_audio_buffers(inst_t *ci, const tarvelon_audio_fields_t *f, int32_t bsize, double bsize_mul,
                                   double ksize_mul) noexcept {
  if (!ci || !f) return;
  vl_lock_guard draw(ci->draw_reinit_sem);
  vl_lock_guard proc(ci->proc_reinit_sem);
  const double sr = tarvelon_sanitize_samplerate(ci->samplerate);
  if (bsize > ci->largest_block_seen) ci->largest_block_seen = bsize;
  const engine_sizes s = sizes_for(ci, sr, bsize, bsize_mul, ksize_mul);
  // Same sizes and rate as built: a rebuild would only insert a block of
  // silence and report an unchanged latency.
  if (ci->audio_buffers_ready && s.ksize == *f->ksize && s.fft_size == *f->fft_size && sr == ci->built_samplerate) {
    ci->reinit_flag.take();
    return;
  }
  const int32_t latency = tarvelon_init_audio_buffers(ci, f, bsize, bsize_mul, ksize_mul);
  if (latency >= 0) tarvelon_host_set_latency(ci, latency);
  ci->print_delay = 1;
}

void tarvelon_reset_audio_runtime(inst_t *ci, double samplerate, const tarvelon_audio_fields_t *f) noexcept {
  if (!ci || !f) return;
  const double sr = tarvelon_sanitize_samplerate(samplerate);
  if (sr == ci->samplerate) return;
  vl_lock_guard draw(ci->draw_reinit_sem);
  vl_lock_guard proc(ci->proc_reinit_sem);
  ci->samplerate = sr;
  tarvelon_reinit_audio_buffers(ci, f, 0, engine_param(ci, TV_PARAM_INPUT_BUFFER),
                                engine_param(ci, TV_PARAM_RESOLUTION));
  tarvelon_resize_visual_analyzer_storage(ci);
}

int32_t tarvelon_block_floor(const inst_t *ci) noexcept {
  if (!ci) return 0;
  return ci->host_max_block > ci->largest_block_seen ? ci->host_max_block : ci->largest_block_seen;
}

void tarvelon_prepare_audio_runtime_owned(inst_t *ci, int32_t max_block) noexcept {
  if (!ci) return;
  const tarvelon_audio_fields_t f = tarvelon_owned_audio_fields(ci);
  const double sr = tarvelon_sanitize_samplerate(tarvelon_host_get_sample_rate(ci));
  vl_lock_guard draw(ci->draw_reinit_sem);
  vl_lock_guard proc(ci->proc_reinit_sem);
  ci->host_max_block = max_block > 0 ? max_block : 0;
  const bool new_rate = sr != ci->samplerate;
  ci->samplerate = sr;
  // Skipped inside when nothing changes, so a repeated activation costs nothing.
  tarvelon_reinit_audio_buffers(ci, &f, 0, engine_param(ci, TV_PARAM_INPUT_BUFFER),
                                engine_param(ci, TV_PARAM_RESOLUTION));
  if (new_rate) tarvelon_resize_visual_analyzer_storage(ci);
}

void tarvelon_reset_audio_runtime_from_bridge(inst_t *ci, const tarvelon_audio_fields_t *f) noexcept {
  if (ci) tarvelon_reset_audio_runtime(ci, tarvelon_host_get_sample_rate(ci), f);
}

void tarvelon_reset_audio_runtime_owned(inst_t *ci) noexcept {
  if (!ci) return;
  const tarvelon_audio_fields_t f = tarvelon_owned_audio_fields(ci);
  tarvelon_reset_audio_runtime_from_bridge(ci, &f);
}

void tarvelon_reset_visual_analyzer_buffers(inst_t *ci) noexcept {
  if (!ci) return;
  vl_lock_guard draw(ci->draw_reinit_sem);
  vl_lock_guard proc(ci->proc_reinit_sem);
  tarvelon_resize_visual_analyzer_storage(ci);
}

void tarvelon_flush_audio_runtime_owned(inst_t *ci) noexcept {
  if (!ci) return;
  vl_lock_guard proc(ci->proc_reinit_sem);
  ci->env = 0.0;
  ci->env_time = 0.0;
  if (!ci->audio_buffers_ready) return;
  const tarvelon_audio_fields_t f = tarvelon_owned_audio_fields(ci);
  const int32_t N = ci->fft_size_value, needed = ci->needed_samples;
  // The kernel is the designed filter, not audio: keep it.
  for (int ch = 0; ch < 2; ch++) {
    std::memset(f.inter_buffer[ch], 0, sizeof(double) * size_t(N));
    std::memset(f.convout[ch], 0, sizeof(double) * (size_t(N) + size_t(needed)));
    std::memset(f.overflow[ch], 0, sizeof(double) * size_t(needed));
  }
  tarvelon_clear_partitions(ci->parts);
  ci->gotten_samples = ci->overflow_count = ci->convout_offset = 0;
  ci->convout_count = needed;
}
