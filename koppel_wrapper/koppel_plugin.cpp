// Creation and destruction, buses, sample rate, latency and the audio callback
// that cuts each host block at its events.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "audio/engine.h"
#include "graphics/resources.h"
#include "io/prefs.h"
#include "state/params.h"
#include "system/instance.h"
#include "tarvelon_koppel.h"

namespace {
constexpr const char *kBusNames[2] = {"Stereo Input", "Stereo Output"};

void bus_name(uint32_t bus, int which, char *buf, int32_t size) {
  if (!buf || size < 1) return;
  std::snprintf(buf, size_t(size), "%s", bus == 0 ? kBusNames[which] : "");
}

// Grows the four work buffers to n frames; on failure the old capacity stays.
bool ensure_capacity(TarvelonKoppelPlugin *p, uint32_t n) {
  if (n <= p->processCapacity) return true;
  double **bufs[4] = {&p->processInput[0], &p->processInput[1], &p->processOutput[0], &p->processOutput[1]};
  for (double **b : bufs) {
    auto *grown = static_cast<double *>(std::realloc(*b, sizeof(double) * n));
    if (!grown) return false;
    *b = grown;
  }
  p->processCapacity = n;
  return true;
}

void read_channel(const KoppelProcessContext *ctx, void *const *chans, uint32_t ch, uint32_t nch, uint32_t s,
                  uint32_t n, double *dst) {
  const void *src = (chans && ch < nch) ? chans[ch] : nullptr;
  if (!src) {
    std::fill(dst, dst + n, 0.0);
  } else if (ctx->audioSampleType == KOPPEL_AUDIO_SAMPLE_FLOAT64) {
    std::copy_n(static_cast<const double *>(src) + s, n, dst);
  } else {
    const float *f = static_cast<const float *>(src) + s;
    for (uint32_t i = 0; i < n; i++) dst[i] = f[i];
  }
}

void write_channel(const KoppelProcessContext *ctx, void *const *chans, uint32_t ch, uint32_t nch, uint32_t s,
                   uint32_t n, const double *src) {
  void *dst = (chans && ch < nch) ? chans[ch] : nullptr;
  if (!dst) return;
  if (ctx->audioSampleType == KOPPEL_AUDIO_SAMPLE_FLOAT64) {
    std::copy_n(src, n, static_cast<double *>(dst) + s);
  } else {
    float *f = static_cast<float *>(dst) + s;
    for (uint32_t i = 0; i < n; i++) f[i] = float(src[i]);
  }
}

void silence_outputs(KoppelProcessContext *ctx, void *const *out, uint32_t nch, uint32_t s, uint32_t n) {
  static const double zeros[256] = {};
  for (uint32_t done = 0; done < n; done += 256)
    for (uint32_t ch = 0; ch < 2; ch++) write_channel(ctx, out, ch, nch, s + done, std::min(256u, n - done), zeros);
}

// Frames s..e: through the core in pieces of at most kKoppelMaxSegment.
void process_segment(TarvelonKoppelPlugin *p, KoppelProcessContext *ctx, uint32_t s, uint32_t e) {
  if (s >= e) return;
  void *const *in = (ctx->getAudioInput && ctx->numInputBusses > 0) ? ctx->getAudioInput(ctx, 0) : nullptr;
  void *const *out = (ctx->getAudioOutput && ctx->numOutputBusses > 0) ? ctx->getAudioOutput(ctx, 0) : nullptr;
  const uint32_t nin = in ? std::min(ctx->numInputChannels, 2u) : 0;
  const uint32_t nout = out ? std::min(ctx->numOutputChannels, 2u) : 0;
  if (!p->ci || !ensure_capacity(p, std::min(e - s, kKoppelMaxSegment))) {
    silence_outputs(ctx, out, nout, s, e - s);  // never leave the host's input in its output
    return;
  }
  p->inputChannelCount = 2;
  for (uint32_t pos = s; pos < e;) {
    const uint32_t n = std::min(e - pos, kKoppelMaxSegment);
    for (uint32_t ch = 0; ch < 2; ch++) {
      read_channel(ctx, in, ch, nin, pos, n, p->processInput[ch]);
      std::fill(p->processOutput[ch], p->processOutput[ch] + n, 0.0);
    }
    tarvelon_process_audio_runtime_owned(p->ci, p->processInput, p->processOutput, int32_t(n));
    for (uint32_t ch = 0; ch < 2; ch++) write_channel(ctx, out, ch, nout, pos, n, p->processOutput[ch]);
    pos += n;
  }
}
}  // namespace

void koppel_libraryLoad() noexcept {}
// Process-wide tables and images go once no instance remains.
void koppel_libraryUnload() noexcept {
  if (tarvelon_live_instances() == 0) tarvelon_unload_graphics_resources();
}

TarvelonKoppelPlugin *koppel_createPlugin(KoppelHostContext *host) noexcept {
  auto *p = new (std::nothrow) TarvelonKoppelPlugin();
  if (!p) return nullptr;
  p->hostContext = host;
  p->inputChannelCount = 2;
  p->sampleRate = 44100.0;
  for (TarvelonKoppelControl &c : p->controls) {
    c.paramId = -1;
    c.halfSize = 30;
    c.defaultNormalizedValue = -1.0;
  }
  inst_t *ci = tarvelon_create_hosted_plugin_instance(p, kKoppelControlCount, &tarvelon_koppel_host_callbacks, p,
                                                      &p->instanceIndex);
  if (!ci) {
    delete p;
    return nullptr;
  }
  p->ci = ci;
  return p;
}

void koppel_destroyPlugin(TarvelonKoppelPlugin *p) noexcept {
  if (!p) return;
  tarvelon_koppel_drop_pending_edits(p);
  if (p->ci && p->ci->prefsave_pending) {
    p->ci->time_since_prefsave = 0.0;
    p->ci->prefsave_pending = 0;
    tarvelon_save_prefs(p->ci);
  }
  tarvelon_destroy_instance(p->ci);
  for (double *b : {p->processInput[0], p->processInput[1], p->processOutput[0], p->processOutput[1]}) std::free(b);
  std::free(p->drawPixels);
  delete p;
}

uint32_t koppel_getNumInputBusses(TarvelonKoppelPlugin *) noexcept { return 1; }
uint32_t koppel_getNumOutputBusses(TarvelonKoppelPlugin *) noexcept { return 1; }
uint32_t koppel_getInputBusChannelCount(TarvelonKoppelPlugin *, uint32_t bus) noexcept { return bus == 0 ? 2 : 0; }
uint32_t koppel_getOutputBusChannelCount(TarvelonKoppelPlugin *, uint32_t bus) noexcept { return bus == 0 ? 2 : 0; }
void koppel_getInputBusName(TarvelonKoppelPlugin *, uint32_t bus, char *buf, int32_t size) noexcept {
  bus_name(bus, 0, buf, size);
}
void koppel_getOutputBusName(TarvelonKoppelPlugin *, uint32_t bus, char *buf, int32_t size) noexcept {
  bus_name(bus, 1, buf, size);
}
uint32_t koppel_getLatencyInSamples(TarvelonKoppelPlugin *p) noexcept { return p ? p->latency.load() : 0; }
uint32_t koppel_getTailInSamples(TarvelonKoppelPlugin *) noexcept { return 0; }

void koppel_setSampleRateAndBlockSize(TarvelonKoppelPlugin *p, double rate, uint32_t maxBlock) noexcept {
  if (!p) return;
  p->maxBlockSize = maxBlock;
  p->sampleRate = rate > 0.0 ? rate : 44100.0;
  ensure_capacity(p, std::clamp(maxBlock, 1u, kKoppelMaxSegment));
  // Segments never exceed kKoppelMaxSegment, whatever the host's block.
  tarvelon_prepare_audio_runtime_owned(p->ci, int32_t(std::min(maxBlock, kKoppelMaxSegment)));
}

bool koppel_outputIsSilent(TarvelonKoppelPlugin *p) noexcept { return p && tarvelon_output_is_silent(p->ci); }

void koppel_reset(TarvelonKoppelPlugin *p) noexcept {
  if (p) tarvelon_flush_audio_runtime_owned(p->ci);
}

void koppel_process(TarvelonKoppelPlugin *p, KoppelProcessContext *ctx) noexcept {
  if (!p || !ctx) return;
  tarvelon_koppel_enter_processing();
  tarvelon_publish_owed_horizontal_view(p->ci);  // automation the editor's writer held up last block
  uint32_t s = 0;
  KoppelEvent ev{};
  // Cap the walk so a faulty event source cannot spin forever.
  for (uint32_t guard = 0; ctx->dequeueEvent && guard < 1u << 20 && ctx->dequeueEvent(ctx, &ev, s); guard++) {
    if (ev.type == KOPPEL_EVENT_PARAM_CHANGE_UPDATE) {
      tarvelon_koppel_set_parameter_value(p, ev.parameter.id, ev.parameter.value, true, param_origin::host);
    } else if (ev.type == KOPPEL_EVENT_PROCESS_AUDIO) {
      const uint32_t e = std::max(s, std::min(ev.processAudio.endFrame, ctx->numFrames));  // never go back
      process_segment(p, ctx, s, e);
      s = e;
    }
  }
  if (s < ctx->numFrames) process_segment(p, ctx, s, ctx->numFrames);
  tarvelon_koppel_leave_processing();
}
