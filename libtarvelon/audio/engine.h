// The audio engine: FFT overlap-add convolution of fixed-size input blocks with
// the designed filter, a one-block crossfade on every filter change, a peak
// limiter, and capture of recent input for the spectrum display.
//
// Sizes: ksize = kernel_size_calc(sr, Resolution); N = fft_size_calc(bsize,
// ksize, Input Buffer Size / Resolution); needed = N + 1 - ksize input samples
// per block; latency = needed + ksize/2. A kernel longer than a block runs in
// P = ceil(ksize / needed) parts at a transform length of about 2 · needed
// (audio/partitions.h); otherwise each block is transformed at length N.
#pragma once
#include <cstdint>

struct inst_t;
struct filterbank_t;
struct fft_plan_t;

// Where an engine keeps its state; the _owned functions point these at the
// instance's own fields.
struct tarvelon_audio_fields_t {
  double **kernel;        // N: filter spectrum the blocks are multiplied with
  double **fft_input;     // N: transform scratch
  double **inter_buffer;  // 2 × N: block being collected, zero-padded
  double **convout;       // 2 × (needed + N): circular output accumulator
  double **overflow;      // 2 × needed: input beyond the current block
  double **transition;    // N: block copy during a crossfade
  int32_t *ksize, *fft_size, *needed_samples, *gotten_samples, *overflow_count;
  int32_t *convout_offset, *convout_size, *convout_count;
  fft_plan_t **plan;
};
tarvelon_audio_fields_t tarvelon_owned_audio_fields(inst_t *ci) noexcept;

// Start-up: attaches the filter bank and allocates the channel pointer arrays.
void tarvelon_alloc_audio_buffers_owned(inst_t *ci) noexcept;
void tarvelon_clear_audio_buffers(const tarvelon_audio_fields_t *f, int32_t fft_size, int32_t needed) noexcept;
// Builds the engine for the sizes; returns the latency or -1 (engine stopped,
// rebuild scheduled). [caller holds both reinit locks, or creation]
int32_t tarvelon_init_audio_buffers(inst_t *ci, const tarvelon_audio_fields_t *f, int32_t bsize, double bsize_mul,
                                    double ksize_mul) noexcept;
void tarvelon_init_audio_runtime(inst_t *ci, const tarvelon_audio_fields_t *f, int32_t bsize, double bsize_mul,
                                 double ksize_mul) noexcept;
void tarvelon_init_audio_runtime_from_bridge(inst_t *ci, const tarvelon_audio_fields_t *f) noexcept;
// Creation: first build and latency report.
void tarvelon_init_audio_runtime_owned(inst_t *ci) noexcept;
// Rebuild under draw_reinit_sem then proc_reinit_sem; reports the latency.
// Skipped when the sizes and rate equal those built and the engine is ready.
void tarvelon_reinit_audio_buffers(inst_t *ci, const tarvelon_audio_fields_t *f, int32_t bsize, double bsize_mul,
                                   double ksize_mul) noexcept;
// Sample-rate change: no effect when the rate is unchanged. [main thread]
void tarvelon_reset_audio_runtime(inst_t *ci, double samplerate, const tarvelon_audio_fields_t *f) noexcept;
void tarvelon_reset_audio_runtime_from_bridge(inst_t *ci, const tarvelon_audio_fields_t *f) noexcept;
void tarvelon_reset_audio_runtime_owned(inst_t *ci) noexcept;
// The host's rate and its promise of blocks of at most max_block frames: the
// engine is built for both now, on the calling thread, so the latency read
// afterwards is the delay the first block gets. [main thread] takes both
// reinit locks; may allocate
void tarvelon_prepare_audio_runtime_owned(inst_t *ci, int32_t max_block) noexcept;
// Shortest block length the engine is built for (the host's promise, or the
// largest block it sent). [under proc_reinit_sem]
int32_t tarvelon_block_floor(const inst_t *ci) noexcept;
void tarvelon_reset_visual_analyzer_buffers(inst_t *ci) noexcept;
// Forgets all audio in flight (blocks, accumulator, limiter envelope) without
// reallocating, so a seek never replays old audio. [audio or main thread]
void tarvelon_flush_audio_runtime_owned(inst_t *ci) noexcept;

// Per host block or segment. input/output: channel arrays of nframes doubles.
// [audio thread] no allocation except a rebuild the Resolution/Input Buffer
// Size parameters, a new rate or a larger host block asked for.
void tarvelon_process_audio_runtime(inst_t *ci, double *const *input, double *const *output, int32_t nframes,
                                    const tarvelon_audio_fields_t *f) noexcept;
void tarvelon_process_audio_runtime_owned(inst_t *ci, double *const *input, double *const *output,
                                          int32_t nframes) noexcept;

// 1 when the input has been exactly zero long enough that every output sample
// is exactly zero and stays so until non-zero input arrives. [audio thread]
int32_t tarvelon_output_is_silent(const inst_t *ci) noexcept;
// Test hook: blocks of exact zeros skip their transforms (the default), or not.
void tarvelon_skip_silent_blocks(bool skip) noexcept;

// Parts of the per-call processing.
void tarvelon_stage_input_audio(double *const *input, double **inter_buffer, double **overflow, int32_t chans,
                                int32_t nframes, int32_t needed_samples, int32_t *gotten_samplesp,
                                int32_t *overflow_countp) noexcept;
void tarvelon_capture_visual_input(inst_t *ci, double *const *input, int32_t chans, int32_t nframes) noexcept;
int32_t tarvelon_redesign_filters_for_audio(inst_t *ci, double *kernel, int32_t ksize, int32_t fft_size) noexcept;
void tarvelon_process_ready_convolution(inst_t *ci, const tarvelon_audio_fields_t *f, int32_t chans,
                                        int32_t crossfade) noexcept;
void tarvelon_output_audio_block(inst_t *ci, double *const *output, double **convout, int32_t chans, int32_t nframes,
                                 double limiter, int32_t *convout_countp, int32_t *convout_offsetp,
                                 int32_t convout_size) noexcept;
// Limits one frame of `chans` samples in place with the shared envelope.
void tarvelon_limit_frame(inst_t *ci, double *const *output, int32_t chans, int32_t frame, double limiter) noexcept;

// The editor's takeover while no audio has run for over 0.4 s: synchronise the
// bands and redesign (no crossfade). [GUI thread] takes proc_reinit_sem
void tarvelon_sync_and_redesign_when_idle(inst_t *ci) noexcept;
