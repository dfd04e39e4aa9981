// Per-call processing: staging, analyser capture, redesign at block
// boundaries, overlap-add convolution with crossfade, and output.
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>

#include "audio/engine.h"
#include "audio/partitions.h"
#include "dsp/fft.h"
#include "dsp/fft_kernels.h"
#include "dsp/filter_design.h"
#include "dsp/scales.h"
#include "state/eq.h"
#include "state/params.h"
#include "system/instance.h"

namespace {
constexpr double kIdleTakeover = 0.4;  // seconds without audio before the editor redesigns

// A non-finite input sample would spread over a whole transform block and into
// the limiter envelope; it enters the engine as silence instead.
inline double finite_or_zero(double x) { return std::isfinite(x) ? x : 0.0; }

void copy_finite(double *dst, const double *src, int32_t n) {
  for (int32_t i = 0; i < n; i++) dst[i] = finite_or_zero(src[i]);
}

void zero_output(double *const *output, int32_t chans, int32_t nframes) {
  if (!output) return;
  for (int32_t ch = 0; ch < chans; ch++)
    if (output[ch]) std::memset(output[ch], 0, sizeof(double) * size_t(nframes));
}

void publish_display_spectrum(inst_t *ci, const double *spectrum, int32_t n) {
  vl_lock_guard lock(ci->fft_mag_sem);
  if (ci->fft_mag && ci->fft_mag[0] && ci->fft_mag_capacity >= n) {
    std::memcpy(ci->fft_mag[0], spectrum, sizeof(double) * size_t(n));
    ci->fft_mag_changed = 1;
  }
}

// Convolves the zero-padded block in `block` with `spectrum` and adds the N
// results into the circular accumulator behind the samples already counted.
void convolve_block(double *block, const double *spectrum, double *scratch, double *acc, int32_t N, int32_t start,
                    int32_t acc_size, fft_plan_t *plan) {
  fftp(block, scratch, N, 0, plan);
  fftconv(scratch, spectrum, block, N);
  fftp(block, scratch, N, 1, plan);
  const int32_t first = acc_size - start < N ? acc_size - start : N;
  for (int32_t i = 0; i < first; i++) acc[start + i] += scratch[i];
  for (int32_t i = first; i < N; i++) acc[i - first] += scratch[i];
}

int32_t channel_count(inst_t *ci) {
  const int32_t c = tarvelon_host_get_input_channel_count(ci);
  return c < 0 ? 0 : (c > 2 ? 2 : c);  // two channels are allocated
}
std::atomic<bool> g_skip_silent_blocks{true};

// true when every value is +0 or -0: the bits without their sign OR to zero.
// Eight independent accumulators keep the vector units busy on long silent
// runs, and sound ends the scan after the chunk it appears in.
bool all_zero(const double *x, int32_t n) {
  constexpr int32_t kLanes = 8, kChunk = 256;
  int32_t i = 0;
  while (i + kLanes <= n) {
    uint64_t acc[kLanes] = {};
    const int32_t end = i + kChunk <= n ? i + kChunk : n - (n - i) % kLanes;
    for (; i < end; i += kLanes)
      for (int32_t j = 0; j < kLanes; j++) {
        uint64_t bits;
        std::memcpy(&bits, &x[i + j], sizeof bits);
        acc[j] |= bits << 1;
      }
    uint64_t any = 0;
    for (int32_t j = 0; j < kLanes; j++) any |= acc[j];
    if (any) return false;
  }
  uint64_t acc = 0;
  for (; i < n; i++) {
    uint64_t bits;
    std::memcpy(&bits, &x[i], sizeof bits);
    acc |= bits << 1;
  }
  return acc == 0;
}

bool block_is_zero(const double *block, int32_t n) {
  return g_skip_silent_blocks.load(std::memory_order_relaxed) && all_zero(block, n);
}

// Counts the run of silent input; true when this call's input was silent.
bool count_silent_input(inst_t *ci, double *const *input, int32_t chans, int32_t nframes) {
  // A sample counts as sound when it is finite and not zero. Silence is
  // checked first with one vectorisable pass; only input with anything in it
  // takes the exact look (NaN and infinity play as zero).
  bool sound = false;
  for (int32_t ch = 0; ch < chans && !sound; ch++) {
    const double *x = input[ch];
    if (!x || all_zero(x, nframes)) continue;
    for (int32_t i = 0; i < nframes && !sound; i++) sound = std::isfinite(x[i]) && x[i] != 0.0;
  }
  const bool silent = !sound;
  constexpr int64_t kCap = int64_t(1) << 40;
  ci->silent_input_frames = silent ? std::min(kCap, ci->silent_input_frames + nframes) : 0;
  return silent;
}

// Staging a silent call into a silent engine: the block being collected is
// all zeros already, so only the counts move (the overflow is written, since
// it may still hold older sound).
void stage_silence(const tarvelon_audio_fields_t *f, int32_t chans, int32_t nframes) {
  const int32_t g = *f->gotten_samples, needed = *f->needed_samples;
  const int32_t to_copy = g + nframes <= needed ? nframes : needed - g;
  *f->gotten_samples = g + to_copy;
  if (to_copy < nframes) {
    *f->overflow_count = nframes - to_copy;
    for (int32_t ch = 0; ch < chans; ch++) std::memset(f->overflow[ch], 0, sizeof(double) * size_t(nframes - to_copy));
  }
}
// A completed block of a quiet engine: the collecting buffers hold zeros and
// stay so, nothing is transformed; the counts and the display move on as
// for sound.
void finish_silent_block(inst_t *ci, const tarvelon_audio_fields_t *f, int32_t chans, int32_t crossfade) {
  if (crossfade && chans >= 1 && ci->fbank) {
    publish_display_spectrum(ci, ci->fbank->fir_prev, *f->fft_size);
    publish_display_spectrum(ci, ci->fbank->fir, *f->fft_size);
  }
  // Nothing is in flight in the parts either (the quiet test waits for it):
  // the ring only moves on, as it would for a block of zeros.
  tarvelon_partitions_t *pt = ci->parts;
  if (tarvelon_partitioned(pt)) pt->head = pt->head + 1 < pt->parts ? pt->head + 1 : 0;
  *f->convout_count += *f->gotten_samples;
  *f->gotten_samples = *f->overflow_count;
  *f->overflow_count = 0;
}

// The completed block in parts: its spectrum (two during a crossfade: the
// falling half for the previous filter, the rising half for the current),
// its product with part 0 into the output block due now, that block's inverse
// transform into the accumulator; the products with parts 1 .. P-1 are left
// pending for the callbacks that collect the next block.
void convolve_block_in_parts(inst_t *ci, const tarvelon_audio_fields_t *f, int32_t chans, int32_t crossfade) {
  tarvelon_partitions_t *pt = ci->parts;
  tarvelon_partitions_finish(pt);
  const int32_t g = *f->gotten_samples, S = *f->convout_size, M = pt->length, N = *f->fft_size;
  const int32_t start = (*f->convout_count + *f->convout_offset) % S, head = pt->head;
  double *scratch = *f->fft_input, *transition = *f->transition;
  const double *now = pt->sets[pt->current], *before = pt->sets[1 - pt->current];
  filterbank_t *fb = ci->fbank;
  for (int32_t ch = 0; ch < 2; ch++) {
    pt->used[ch] = 0;
    double *acc = pt->ring[ch] + size_t(head) * size_t(M);
    if (ch >= chans) {
      // A channel the host stopped sending: its output is not written, and
      // what it had in flight must not surface when it comes back.
      if (pt->filled[ch][head]) std::memset(acc, 0, sizeof(double) * size_t(M));
      pt->filled[ch][head] = 0;
      continue;
    }
    double *block = f->inter_buffer[ch];
    if (crossfade) {
      publish_display_spectrum(ci, fb->fir_prev, N);
      publish_display_spectrum(ci, fb->fir, N);
    }
    // A block of zeros adds nothing: the slots it would touch keep their
    // bits (they never hold -0), so skipping it changes no output bit.
    if (!block_is_zero(block, g)) {
      if (!crossfade) {
        fftp(block, pt->spectrum[ch][0], M, 0, pt->plan);
        pt->used[ch] = 1;
      } else {
        std::memcpy(transition, block, sizeof(double) * size_t(M));
        hann_transition(transition, g, 1);
        fftp(transition, pt->spectrum[ch][1], M, 0, pt->plan);
        std::memcpy(transition, block, sizeof(double) * size_t(M));
        hann_transition(transition, g, 0);
        fftp(transition, pt->spectrum[ch][0], M, 0, pt->plan);
        pt->used[ch] = 3;
      }
      if (pt->used[ch] & 1) fft_spectrum_multiply_add(pt->spectrum[ch][0], now, acc, M);
      if (pt->used[ch] & 2) fft_spectrum_multiply_add(pt->spectrum[ch][1], before, acc, M);
      pt->filled[ch][head] = 1;
    }
    if (pt->filled[ch][head]) {
      fftp(acc, scratch, M, 1, pt->plan);
      double *out = f->convout[ch];
      const int32_t span = pt->span, first = S - start < span ? S - start : span;
      for (int32_t i = 0; i < first; i++) out[start + i] += scratch[i];
      for (int32_t i = first; i < span; i++) out[i - first] += scratch[i];
      std::memset(acc, 0, sizeof(double) * size_t(M));
      pt->filled[ch][head] = 0;
    }
    // Only the block's own samples can be non-zero; the padding stays zero.
    std::memset(block, 0, sizeof(double) * size_t(g));
    std::memcpy(block, f->overflow[ch], sizeof(double) * size_t(*f->overflow_count));
  }
  pt->pending = 1;
  pt->pending_slot = head;
  pt->head = head + 1 < pt->parts ? head + 1 : 0;
  *f->convout_count += g;
  *f->gotten_samples = *f->overflow_count;
  *f->overflow_count = 0;
}
}  // namespace

void tarvelon_skip_silent_blocks(bool skip) noexcept { g_skip_silent_blocks.store(skip, std::memory_order_relaxed); }

int32_t tarvelon_output_is_silent(const inst_t *ci) noexcept {
  if (!ci || !ci->audio_buffers_ready) return 0;
  // Everything a non-zero sample fed in can touch, rounding included, has
  // been played out by then. Whole blocks: the sample's block lands one block
  // late and its transform reaches N samples on (the latency, N and one block
  // more, since the block may start up to a block before the sample). In P
  // parts: the block's products reach P output blocks of 2B - 1 samples.
  const int64_t B = ci->needed_samples;
  int64_t tail = int64_t(ci->latency) + int64_t(ci->fft_size_value) + B;
  if (tarvelon_partitioned(ci->parts)) {
    const int64_t in_parts = (int64_t(ci->parts->parts) + 3) * B;
    if (in_parts > tail) tail = in_parts;
  }
  return ci->silent_input_frames > tail ? 1 : 0;
}

void tarvelon_stage_input_audio(double *const *input, double **inter_buffer, double **overflow, int32_t chans,
                                int32_t nframes, int32_t needed_samples, int32_t *gotten_samplesp,
                                int32_t *overflow_countp) noexcept {
  const int32_t g = *gotten_samplesp;
  const int32_t to_copy = g + nframes <= needed_samples ? nframes : needed_samples - g;
  for (int32_t ch = 0; ch < chans; ch++) copy_finite(inter_buffer[ch] + g, input[ch], to_copy);
  *gotten_samplesp = g + to_copy;
  if (to_copy < nframes) {
    *overflow_countp = nframes - to_copy;
    for (int32_t ch = 0; ch < chans; ch++) copy_finite(overflow[ch], input[ch] + to_copy, nframes - to_copy);
  }
}

void tarvelon_capture_visual_input(inst_t *ci, double *const *input, int32_t chans, int32_t nframes) noexcept {
  if (!ci || ci->last2k_size <= 0 || chans < 1) return;
  if (ci->samplerate > double(ci->screen_timeout.load())) {
    vl_lock_guard lock(ci->fft_sem);
    const int32_t size = ci->last2k_size;
    for (int ring = 0; ring < 2; ring++) {
      const double *src = input[chans == 1 ? 0 : ring];
      double *dst = ci->last2k[ring];
      if (size >= nframes) {
        int32_t pos = ci->last2k_offset;
        for (int32_t i = 0; i < nframes; i++) {
          dst[pos] = finite_or_zero(src[i]);
          if (++pos == size) pos = 0;
        }
      } else {
        copy_finite(dst, src + (nframes - size), size);
      }
    }
    ci->last2k_offset = size >= nframes ? (ci->last2k_offset + nframes) % size : 0;
    ci->last2k_changed = 1;
  }
  // Saturates once capture has paused, so hours without an editor cannot overflow it.
  const int64_t grown = int64_t(ci->screen_timeout.load()) + nframes;
  const int64_t cap = int64_t(ci->samplerate) + 1;
  ci->screen_timeout = int32_t(grown < cap ? grown : cap);
}

int32_t tarvelon_redesign_filters_for_audio(inst_t *ci, double *kernel, int32_t ksize, int32_t fft_size) noexcept {
  if (!ci || !ci->audio_buffers_ready) return 0;
  filterbank_t *fb = ci->fbank;
  if (!fb || !fb->design_ready || fb->kernel_size != ksize || fb->fft_size != fft_size) {
    ci->audio_buffers_ready = 0;
    ci->reinit_flag.raise();
    return 0;
  }
  int32_t result = 0;
  if (tarvelon_eq_state_differs_from_designed(ci)) {
    std::memcpy(fb->fir_prev, fb->fir, sizeof(double) * size_t(fft_size));
    double *lut = ci->spline_lut ? ci->spline_lut[0] : nullptr;
    if (!design_filters(ci, fb, ci->equ, ci->eqs, ksize, fft_size, ci->samplerate, lut, &ci->spline_changed,
                        ci->spline_sem, ci->visual_width, &ci->eqs_count, 0)) {
      ci->audio_buffers_ready = 0;
      ci->reinit_flag.raise();
      return 0;
    }
    mix_firs(ci, fb->fir, kernel, fft_size);
    tarvelon_partition_filter(ci);
    tarvelon_remember_designed_eq_state(ci);
    result = 1;
  }
  ci->filter_update_pending.take();
  return result;
}

void tarvelon_process_ready_convolution(inst_t *ci, const tarvelon_audio_fields_t *f, int32_t chans,
                                        int32_t crossfade) noexcept {
  if (chans >= 1 && tarvelon_partitioned(ci->parts)) return convolve_block_in_parts(ci, f, chans, crossfade);
  const int32_t g = *f->gotten_samples, N = *f->fft_size, S = *f->convout_size;
  if (chans >= 1) {
    const int32_t start = (*f->convout_count + *f->convout_offset) % S;
    double *scratch = *f->fft_input, *transition = *f->transition;
    filterbank_t *fb = ci->fbank;
    for (int32_t ch = 0; ch < chans; ch++) {
      double *block = f->inter_buffer[ch];
      // A block of zeros would add exact zeros (the accumulator never holds
      // -0, so even the sign bits stay): skipping its transforms changes no bit.
      if (block_is_zero(block, g)) {
        if (crossfade) {
          publish_display_spectrum(ci, fb->fir_prev, N);
          publish_display_spectrum(ci, fb->fir, N);
        }
        continue;
      }
      if (!crossfade) {
        convolve_block(block, *f->kernel, scratch, f->convout[ch], N, start, S, *f->plan);
        continue;
      }
      // Split the block's input between the old and the new filter with
      // complementary raised-cosine windows; the two parts sum to the input.
      std::memcpy(transition, block, sizeof(double) * size_t(N));
      hann_transition(block, g, 1);
      publish_display_spectrum(ci, fb->fir_prev, N);
      convolve_block(block, fb->fir_prev, scratch, f->convout[ch], N, start, S, *f->plan);
      std::memcpy(block, transition, sizeof(double) * size_t(N));
      hann_transition(block, g, 0);
      publish_display_spectrum(ci, fb->fir, N);
      convolve_block(block, fb->fir, scratch, f->convout[ch], N, start, S, *f->plan);
    }
    for (int32_t ch = 0; ch < chans; ch++) {
      std::memset(f->inter_buffer[ch], 0, sizeof(double) * size_t(N));
      std::memcpy(f->inter_buffer[ch], f->overflow[ch], sizeof(double) * size_t(*f->overflow_count));
    }
  }
  *f->convout_count += g;
  *f->gotten_samples = *f->overflow_count;
  *f->overflow_count = 0;
}

void tarvelon_output_audio_block(inst_t *ci, double *const *output, double **convout, int32_t chans, int32_t nframes,
                                 double limiter, int32_t *convout_countp, int32_t *convout_offsetp,
                                 int32_t convout_size) noexcept {
  const int32_t o = *convout_offsetp, S = convout_size;
  for (int32_t ch = 0; ch < chans; ch++) {
    double *src = convout[ch], *dst = output[ch];
    const int32_t first = o + nframes < S ? nframes : S - o;
    std::memcpy(dst, src + o, sizeof(double) * size_t(first));
    std::memset(src + o, 0, sizeof(double) * size_t(first));
    std::memcpy(dst + first, src, sizeof(double) * size_t(nframes - first));
    std::memset(src, 0, sizeof(double) * size_t(nframes - first));
  }
  if (limiter < 999.0 && nframes >= 1)
    for (int32_t j = 0; j < nframes; j++) tarvelon_limit_frame(ci, output, chans, j, limiter);
  *convout_countp -= nframes;
  *convout_offsetp = (o + nframes) % S;
}

void tarvelon_process_audio_runtime(inst_t *ci, double *const *input, double *const *output, int32_t nframes,
                                    const tarvelon_audio_fields_t *f) noexcept {
  if (!ci || !f || nframes < 1) return;
  ci->time_since_proc = 0.0;
  const bool silent_call = count_silent_input(ci, input, input && output ? channel_count(ci) : 0, nframes);
  // A settings change rebuilds once, for the host's block as well; only a host
  // that sends more than it promised makes the audio thread rebuild for size.
  const bool too_long = ci->audio_buffers_ready && nframes > *f->needed_samples;
  if (ci->reinit_flag.is_set() || too_long)
    tarvelon_reinit_audio_buffers(ci, f, too_long ? nframes : 0,
                                  tarvelon_host_get_param_value(ci, TV_PARAM_INPUT_BUFFER),
                                  tarvelon_host_get_param_value(ci, TV_PARAM_RESOLUTION));
  if (ci->print_delay == 1) ci->print_delay = 2;

  vl_lock_guard lock(ci->proc_reinit_sem);
  const int32_t chans = (input && output) ? channel_count(ci) : 0;
  if (!ci->audio_buffers_ready || nframes > *f->needed_samples) {
    zero_output(output, chans, nframes);
    return;
  }
  // Silence into an engine with nothing left in flight and the limiter at
  // rest: every output sample is an exact zero, so the copies are skipped too
  // (the block counts and any redesign still run as for sound).
  const bool quiet = silent_call && g_skip_silent_blocks.load(std::memory_order_relaxed) &&
                     tarvelon_output_is_silent(ci) && ci->env == 0.0;
  const double limiter = quiet ? 0.0 : std::pow(10.0, tarvelon_host_get_param_value(ci, TV_PARAM_LIMITER) / 20.0);
  if (quiet) stage_silence(f, chans, nframes);
  else
    tarvelon_stage_input_audio(input, f->inter_buffer, f->overflow, chans, nframes, *f->needed_samples,
                               f->gotten_samples, f->overflow_count);
  tarvelon_capture_visual_input(ci, input, chans, nframes);

  if (*f->gotten_samples == *f->needed_samples) {
    if (ci->diff_eq.is_set()) tarvelon_sync_eq_params_with_controls(ci, 0);
    int32_t crossfade = 0;
    if (ci->filter_update_pending.is_set()) {
      const bool was_ready = ci->audio_buffers_ready;
      crossfade = tarvelon_redesign_filters_for_audio(ci, *f->kernel, *f->ksize, *f->fft_size);
      if (!was_ready || !ci->audio_buffers_ready) {
        zero_output(output, chans, nframes);
        return;
      }
    }
    if (quiet) finish_silent_block(ci, f, chans, crossfade);
    else tarvelon_process_ready_convolution(ci, f, chans, crossfade);
  }
  if (quiet) {
    zero_output(output, chans, nframes);  // the accumulator holds zeros there and stays so
    *f->convout_count -= nframes;
    *f->convout_offset = (*f->convout_offset + nframes) % *f->convout_size;
    return;
  }
  tarvelon_partitions_spread(ci->parts, *f->gotten_samples);
  tarvelon_output_audio_block(ci, output, f->convout, chans, nframes, limiter, f->convout_count, f->convout_offset,
                              *f->convout_size);
}

void tarvelon_process_audio_runtime_owned(inst_t *ci, double *const *input, double *const *output,
                                          int32_t nframes) noexcept {
  if (!ci) return;
  const tarvelon_audio_fields_t f = tarvelon_owned_audio_fields(ci);
  tarvelon_process_audio_runtime(ci, input, output, nframes, &f);
}

void tarvelon_sync_and_redesign_when_idle(inst_t *ci) noexcept {
  if (!ci || !(ci->time_since_proc > kIdleTakeover)) return;
  vl_lock_guard lock(ci->proc_reinit_sem);
  tarvelon_sync_eq_params_from_user_input(ci);
  if (ci->filter_update_pending.is_set() && ci->audio_buffers_ready)
    tarvelon_redesign_filters_for_audio(ci, ci->kernel, ci->ksize_value, ci->fft_size_value);
}
