#include "support/fake_adapter.h"

#include <type_traits>

namespace {
fake_host *H(KoppelHostContext *c) { return static_cast<fake_host *>(c->adapter); }
fake_block *B(KoppelProcessContext *c) { return reinterpret_cast<fake_block_context *>(c)->owner; }
}  // namespace

fake_host::fake_host() {
  ctx.type = KOPPEL_PLUGIN_IS_CLAP;
  ctx.adapter = this;
  ctx.sendParamEvent = [](KoppelHostContext *c, const KoppelEvent *e) {
    H(c)->sent.push_back(*e);
    if (H(c)->on_send) H(c)->on_send(*e);
  };
  ctx.rescan = [](KoppelHostContext *c, uint32_t flags) { H(c)->rescans.push_back(flags); };
}

int fake_host::rescans_with(uint32_t flag) const {
  int n = 0;
  for (uint32_t f : rescans) n += (f & flag) ? 1 : 0;
  return n;
}

KoppelEvent param_event(uint32_t id, double value) {
  KoppelEvent e{};
  e.type = KOPPEL_EVENT_PARAM_CHANGE_UPDATE;
  e.parameter.id = id;
  e.parameter.value = value;
  return e;
}

fake_block::fake_block(uint32_t frames, bool f64, void *const *in, uint32_t in_channels, void *const *out,
                       uint32_t out_channels)
    : inputs(in), outputs(out) {
  static_assert(std::is_standard_layout_v<fake_block_context>);
  holder.owner = this;
  ctx.numFrames = frames;
  ctx.numInputBusses = in ? 1 : 0;
  ctx.numOutputBusses = out ? 1 : 0;
  ctx.numInputChannels = in_channels;
  ctx.numOutputChannels = out_channels;
  ctx.audioSampleType = f64 ? KOPPEL_AUDIO_SAMPLE_FLOAT64 : KOPPEL_AUDIO_SAMPLE_FLOAT32;
  ctx.dequeueEvent = [](KoppelProcessContext *c, KoppelEvent *e, uint32_t frame) {
    fake_block *b = B(c);
    if (frame >= c->numFrames) return false;
    if (b->next < b->events.size() && b->events[b->next].first == frame) {
      *e = b->events[b->next++].second;
      return true;
    }
    *e = KoppelEvent{};
    e->type = KOPPEL_EVENT_PROCESS_AUDIO;
    e->processAudio.endFrame = b->next < b->events.size() ? b->events[b->next].first : c->numFrames;
    return true;
  };
  ctx.getAudioInput = [](KoppelProcessContext *c, uint32_t bus) -> void *const * {
    if (B(c)->on_buffers) B(c)->on_buffers();
    return bus == 0 ? B(c)->inputs : nullptr;
  };
  ctx.getAudioOutput = [](KoppelProcessContext *c, uint32_t bus) -> void *const * {
    return bus == 0 ? B(c)->outputs : nullptr;
  };
}

void fake_block::add_param(uint32_t frame, uint32_t id, double value) {
  events.push_back({frame, param_event(id, value)});
}

test_plugin::test_plugin() : p(koppel_createPlugin(&host.ctx)) {}
test_plugin::~test_plugin() { koppel_destroyPlugin(p); }
