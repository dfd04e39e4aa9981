// CLAP adapter: entry, factory, descriptor, the per-instance record and the
// translation between clap_process and the KOPPEL process context.
//
// Host calls CLAP allows only on the main thread are never made from the audio
// thread or while the core holds its locks: notices raised inside process,
// flush or activate are recorded and delivered later (latency through
// request_restart and the next activate; rescans through request_callback and
// on_main_thread).
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

#include "event_queue.h"
#include "koppel_clap.h"
#include "koppel_gui.h"
#include "koppel_interface.h"
#include "tarvelon_koppel.h"
#include "tarvelon_snapshot_ext.h"
#include "vl_numtext.h"

namespace {
const char *const kFeatures[] = {"audio-effect", "equalizer", "stereo", nullptr};
constexpr const char *kPluginId = "com.kelvorane.tarvelon-free.koppel";

const clap_plugin_descriptor_t kDescriptor = {
    CLAP_VERSION,
    kPluginId,
    "Tarvelon Free",
    "Kelvorane",
    "https://kelvorane.example/tarvelon",
    "https://kelvorane.example/tarvelon",
    "https://kelvorane.example/tarvelon",
    "1.3.0",
    "Tarvelon Free audio effect using KOPPEL",
    kFeatures,
};

struct CLAPPlugin {
  clap_plugin_t clapPlugin;
  TarvelonKoppelPlugin *userPlugin = nullptr;
  KoppelHostContext hostContext{};
  const clap_host_t *host = nullptr;
  const clap_host_audio_ports_t *host_audio_ports = nullptr;
  const clap_host_params_t *host_params = nullptr;
  const clap_host_latency_t *host_latency = nullptr;
  const clap_host_tail_t *host_tail = nullptr;
  const clap_host_state_t *host_state = nullptr;
  const clap_host_gui_t *host_gui = nullptr;
  void *userGUI = nullptr;
  // The editor runs on the host's timer and watches the X connection through the host.
  const clap_host_timer_support_t *host_timer = nullptr;
  const clap_host_posix_fd_support_t *host_fd = nullptr;
  clap_id timer_id = 0;
  bool timer_registered = false;
  int gui_fd = -1;
  bool extensions_known = false;
  std::atomic<bool> latency_pending{false};
  std::atomic<uint32_t> rescan_pending{0};
  koppel_edit_mailbox<kKoppelParamCount> edits;
  // Calls into the editor under way on the main thread. A host may destroy
  // the editor inside one (from request_flush, or from its handling of our
  // edits); it is then hidden and unhooked at once and freed when the
  // outermost call has unwound.
  int gui_busy = 0;
  void *doomed_gui = nullptr;
};

// Wraps every call that runs the editor (ticks, input, resizing, scaling).
struct gui_call {
  CLAPPlugin *cp;
  explicit gui_call(CLAPPlugin *c) : cp(c) { cp->gui_busy++; }
  ~gui_call() {
    if (--cp->gui_busy == 0 && cp->doomed_gui) {
      void *gui = cp->doomed_gui;
      cp->doomed_gui = nullptr;
      koppel_destroyGUI(gui);
    }
  }
  gui_call(const gui_call &) = delete;
  gui_call &operator=(const gui_call &) = delete;
};

// Nesting depth of calls in which host notices must wait (process, flush,
// activate), and whether this thread is the audio thread right now.
thread_local int t_deferring = 0;
thread_local bool t_audio = false;

struct deferring_scope {
  explicit deferring_scope(bool audio) : was_audio(t_audio) {
    t_deferring++;
    t_audio = t_audio || audio;
  }
  ~deferring_scope() {
    t_deferring--;
    t_audio = was_audio;
  }
  bool was_audio;
};

CLAPPlugin *C(const clap_plugin_t *p) { return static_cast<CLAPPlugin *>(p->plugin_data); }
CLAPPlugin *C(KoppelHostContext *h) { return static_cast<CLAPPlugin *>(h->adapter); }

// Sends rescans on the main thread, outside the core's locks.
void send_rescans(CLAPPlugin *cp, uint32_t flags) {
  const clap_host_t *h = cp->host;
  if (cp->host_audio_ports && (flags & (KOPPEL_FLAG_RESCAN_BUS_COUNT | KOPPEL_FLAG_RESCAN_BUS_NAMES))) {
    uint32_t f = 0;
    if (flags & KOPPEL_FLAG_RESCAN_BUS_COUNT) f |= CLAP_AUDIO_PORTS_RESCAN_LIST;
    if (flags & KOPPEL_FLAG_RESCAN_BUS_NAMES) f |= CLAP_AUDIO_PORTS_RESCAN_NAMES;
    cp->host_audio_ports->rescan(h, f);
  }
  if (cp->host_params && (flags & (KOPPEL_FLAG_RESCAN_PARAM_VALUES | KOPPEL_FLAG_RESCAN_PARAM_NAMES |
                                   KOPPEL_FLAG_RESCAN_PARAM_METADATA))) {
    uint32_t f = 0;
    if (flags & KOPPEL_FLAG_RESCAN_PARAM_VALUES) f |= CLAP_PARAM_RESCAN_VALUES;
    if (flags & KOPPEL_FLAG_RESCAN_PARAM_NAMES) f |= CLAP_PARAM_RESCAN_INFO;
    if (flags & KOPPEL_FLAG_RESCAN_PARAM_METADATA) f |= CLAP_PARAM_RESCAN_ALL;
    cp->host_params->rescan(h, f);
  }
  if (cp->host_latency && (flags & KOPPEL_FLAG_RESCAN_LATENCY)) cp->host_latency->changed(h);
  if (cp->host_tail && (flags & KOPPEL_FLAG_RESCAN_TAIL)) cp->host_tail->changed(h);
}

// After a deferring call on the audio side: ask the host to come back.
void request_followups(CLAPPlugin *cp) {
  if (cp->latency_pending.load() && cp->host->request_restart) cp->host->request_restart(cp->host);
  if (cp->rescan_pending.load() && cp->host->request_callback) cp->host->request_callback(cp->host);
}

// Host context for the wrapper.
// The wrapper reports each edit as BEGIN, UPDATE, END in a row: the value is
// kept (the latest per parameter) and goes out as a whole gesture.
void host_send_param_event(KoppelHostContext *h, const KoppelEvent *e) {
  CLAPPlugin *cp = C(h);
  if (!e) return;
  if (e->type == KOPPEL_EVENT_PARAM_CHANGE_UPDATE) cp->edits.post(e->parameter.id, e->parameter.value);
  // One flush request per gesture.
  if (e->type == KOPPEL_EVENT_PARAM_CHANGE_END && !t_audio && cp->host_params && cp->host_params->request_flush)
    cp->host_params->request_flush(cp->host);
}

void host_rescan(KoppelHostContext *h, uint32_t flags) {
  CLAPPlugin *cp = C(h);
  if (!cp->extensions_known) return;  // during creation: nothing to tell yet
  if (t_deferring > 0) {
    if (flags & KOPPEL_FLAG_RESCAN_LATENCY) cp->latency_pending = true;
    flags &= ~uint32_t(KOPPEL_FLAG_RESCAN_LATENCY);
    if (flags) cp->rescan_pending.fetch_or(flags);
    return;
  }
  send_rescans(cp, flags);
}

bool host_get_name(KoppelHostContext *h, char *buf, int32_t size) {
  CLAPPlugin *cp = C(h);
  if (!cp->host || !buf || size < 1) return false;
  std::snprintf(buf, size_t(size), "%s", cp->host->name ? cp->host->name : "");
  return true;
}

bool host_request_resize(KoppelHostContext *h, uint32_t w, uint32_t hgt) {
  CLAPPlugin *cp = C(h);
  return cp->host_gui && cp->host_gui->request_resize && cp->host_gui->request_resize(cp->host, w, hgt);
}

// Process translation.
struct ClapProcessContextTranslator {
  KoppelProcessContext koppelContext;  // first: the wrapper's pointer leads back here
  const clap_process_t *process;
  uint32_t eventIdx, numEvents;
  void *inputs[2], *outputs[2];
};
ClapProcessContextTranslator *T(KoppelProcessContext *c) { return reinterpret_cast<ClapProcessContextTranslator *>(c); }

const clap_event_header_t *event_at(const clap_process_t *p, uint32_t i) {
  return p->in_events && p->in_events->get ? p->in_events->get(p->in_events, i) : nullptr;
}

template <class E>
const E *as(const clap_event_header_t *h) {
  return (h && h->space_id == CLAP_CORE_EVENT_SPACE_ID && h->size >= sizeof(E)) ? reinterpret_cast<const E *>(h)
                                                                                 : nullptr;
}

KoppelEvent translate(const clap_event_header_t *h) {
  KoppelEvent k{};
  k.type = KOPPEL_EVENT_UNHANDLED_EVENT;
  if (!h) return k;
  switch (h->type) {
    case CLAP_EVENT_PARAM_VALUE:
      if (const auto *e = as<clap_event_param_value_t>(h)) {
        k.type = KOPPEL_EVENT_PARAM_CHANGE_UPDATE;
        k.parameter.id = e->param_id;
        k.parameter.value = e->value;
      }
      break;
    case CLAP_EVENT_NOTE_ON:
    case CLAP_EVENT_NOTE_OFF:
      if (const auto *e = as<clap_event_note_t>(h)) {
        const int ch = (e->channel >= 0 && e->channel < 16) ? e->channel : 0;
        k.type = KOPPEL_EVENT_MIDI;
        k.midi.status = uint8_t((h->type == CLAP_EVENT_NOTE_ON ? 0x90 : 0x80) | ch);
        k.midi.data1 = uint8_t(e->key & 0x7f);
        k.midi.data2 = uint8_t(int(std::clamp(e->velocity, 0.0, 1.0) * 127.0));
      }
      break;
    case CLAP_EVENT_NOTE_EXPRESSION:
      if (const auto *e = as<clap_event_note_expression_t>(h)) {
        if (e->expression_id == CLAP_NOTE_EXPRESSION_PRESSURE) {
          const int ch = (e->channel >= 0 && e->channel < 16) ? e->channel : 0;
          k.type = KOPPEL_EVENT_MIDI;
          k.midi.status = uint8_t(0xA0 | ch);
          k.midi.data1 = uint8_t(e->key & 0x7f);
          k.midi.data2 = uint8_t(int(std::clamp(e->value, 0.0, 1.0) * 127.0));
        } else if (e->expression_id == CLAP_NOTE_EXPRESSION_TUNING) {
          k.type = KOPPEL_EVENT_NOTE_EXPRESSION_TUNING;
          k.note_expression.key = uint32_t(e->key);
          k.note_expression.value = e->value;
        }
      }
      break;
    case CLAP_EVENT_MIDI:
      if (const auto *e = as<clap_event_midi_t>(h)) {
        k.type = KOPPEL_EVENT_MIDI;
        k.midi.status = e->data[0];
        k.midi.data1 = e->data[1];
        k.midi.data2 = e->data[2];
      }
      break;
    default: break;
  }
  return k;
}

bool dequeue_event(KoppelProcessContext *c, KoppelEvent *out, uint32_t frame) {
  ClapProcessContextTranslator *t = T(c);
  if (frame >= c->numFrames) return false;
  if (t->eventIdx < t->numEvents) {
    const clap_event_header_t *h = event_at(t->process, t->eventIdx);
    // An event at or before this frame is due now (a late one is never lost).
    if (!h || h->time <= frame) {
      t->eventIdx++;
      *out = translate(h);
      return true;
    }
  }
  *out = KoppelEvent{};
  out->type = KOPPEL_EVENT_PROCESS_AUDIO;
  uint32_t end = c->numFrames;
  if (t->eventIdx < t->numEvents)
    if (const clap_event_header_t *h = event_at(t->process, t->eventIdx)) end = std::min(end, h->time);
  out->processAudio.endFrame = end;
  return true;
}

bool push_out(const clap_output_events_t *out, const clap_event_header_t *e) {
  return out && out->try_push && out->try_push(out, e);
}

// A KOPPEL event as the matching CLAP output event: gestures, parameter
// values and MIDI; other types are refused.
bool push_koppel_event(const clap_output_events_t *out, const KoppelEvent &e, uint32_t frame) {
  switch (e.type) {
    case KOPPEL_EVENT_PARAM_CHANGE_BEGIN:
    case KOPPEL_EVENT_PARAM_CHANGE_END: {
      clap_event_param_gesture_t g{};
      g.header = {sizeof g, frame, CLAP_CORE_EVENT_SPACE_ID,
                  uint16_t(e.type == KOPPEL_EVENT_PARAM_CHANGE_BEGIN ? CLAP_EVENT_PARAM_GESTURE_BEGIN
                                                                     : CLAP_EVENT_PARAM_GESTURE_END),
                  0};
      g.param_id = e.parameter.id;
      return push_out(out, &g.header);
    }
    case KOPPEL_EVENT_PARAM_CHANGE_UPDATE: {
      clap_event_param_value_t v{};
      v.header = {sizeof v, frame, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
      v.param_id = e.parameter.id;
      v.note_id = -1;
      v.port_index = v.channel = v.key = -1;
      v.value = e.parameter.value;
      return push_out(out, &v.header);
    }
    case KOPPEL_EVENT_MIDI: {
      clap_event_midi_t m{};
      m.header = {sizeof m, frame, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_MIDI, 0};
      m.data[0] = e.midi.status;
      m.data[1] = e.midi.data1;
      m.data[2] = e.midi.data2;
      return push_out(out, &m.header);
    }
    default: return false;
  }
}

bool enqueue_event(KoppelProcessContext *c, const KoppelEvent *e, uint32_t frame) {
  return e && push_koppel_event(T(c)->process->out_events, *e, frame);
}

void *const *audio_input(KoppelProcessContext *c, uint32_t bus) {
  return bus < T(c)->process->audio_inputs_count && bus == 0 ? T(c)->inputs : nullptr;
}
void *const *audio_output(KoppelProcessContext *c, uint32_t bus) {
  return bus < T(c)->process->audio_outputs_count && bus == 0 ? T(c)->outputs : nullptr;
}

// A two-entry channel array with null for what the host did not give.
uint32_t fill_channels(const clap_audio_buffer_t *b, bool f64, void *out[2]) {
  out[0] = out[1] = nullptr;
  if (!b) return 0;
  const uint32_t n = std::min(b->channel_count, 2u);
  for (uint32_t ch = 0; ch < n; ch++)
    out[ch] = f64 ? static_cast<void *>(b->data64 ? b->data64[ch] : nullptr)
                  : static_cast<void *>(b->data32 ? b->data32[ch] : nullptr);
  return n;
}

// Events due after the last frame (or in a zero-frame block) still apply.
void apply_remaining_params(CLAPPlugin *cp, const clap_input_events_t *in, uint32_t from) {
  if (!in || !in->size || !in->get) return;
  const uint32_t n = in->size(in);
  for (uint32_t i = from; i < n; i++) {
    const KoppelEvent k = translate(in->get(in, i));
    if (k.type == KOPPEL_EVENT_PARAM_CHANGE_UPDATE) koppel_setParameterValue(cp->userPlugin, k.parameter.id, k.parameter.value);
  }
}

// Pending editor edits go out as gesture begin / value / gesture end; one the
// host has no room for stays pending.
void send_queued_edits(CLAPPlugin *cp, const clap_output_events_t *out, uint32_t time) {
  cp->edits.take([&](uint32_t id, double value) {
    KoppelEvent e{};
    e.parameter.id = id;
    e.parameter.value = value;
    e.type = KOPPEL_EVENT_PARAM_CHANGE_BEGIN;
    if (!push_koppel_event(out, e, time)) return false;
    e.type = KOPPEL_EVENT_PARAM_CHANGE_UPDATE;
    const bool sent = push_koppel_event(out, e, time);
    e.type = KOPPEL_EVENT_PARAM_CHANGE_END;
    push_koppel_event(out, e, time);  // a begun gesture is always ended
    return sent;
  });
}

// Plug-in functions.
bool plugin_init(const clap_plugin_t *plugin) {
  CLAPPlugin *cp = C(plugin);
  cp->userPlugin = koppel_createPlugin(&cp->hostContext);
  auto ext = [&](const char *id) { return cp->host->get_extension ? cp->host->get_extension(cp->host, id) : nullptr; };
  cp->host_audio_ports = static_cast<const clap_host_audio_ports_t *>(ext(CLAP_EXT_AUDIO_PORTS));
  cp->host_params = static_cast<const clap_host_params_t *>(ext(CLAP_EXT_PARAMS));
  cp->host_latency = static_cast<const clap_host_latency_t *>(ext(CLAP_EXT_LATENCY));
  cp->host_tail = static_cast<const clap_host_tail_t *>(ext(CLAP_EXT_TAIL));
  cp->host_state = static_cast<const clap_host_state_t *>(ext(CLAP_EXT_STATE));
  cp->host_gui = static_cast<const clap_host_gui_t *>(ext(CLAP_EXT_GUI));
  cp->extensions_known = true;
  return cp->userPlugin != nullptr;
}

void gui_release(CLAPPlugin *cp);

void plugin_destroy(const clap_plugin_t *plugin) {
  CLAPPlugin *cp = C(plugin);
  gui_release(cp);  // a host may destroy the plug-in with its editor still open
  if (void *gui = cp->doomed_gui) {
    cp->doomed_gui = nullptr;
    koppel_destroyGUI(gui);
  }
  koppel_destroyPlugin(cp->userPlugin);
  delete cp;
}

bool plugin_activate(const clap_plugin_t *plugin, double rate, uint32_t, uint32_t max_frames) {
  CLAPPlugin *cp = C(plugin);
  {
    deferring_scope scope(false);
    koppel_setSampleRateAndBlockSize(cp->userPlugin, rate, max_frames);
  }
  // The core's locks are released now; a latency change found in processing
  // since the last activation is reported too.
  if (cp->latency_pending.exchange(false) && cp->host_latency) cp->host_latency->changed(cp->host);
  if (const uint32_t flags = cp->rescan_pending.exchange(0)) send_rescans(cp, flags);
  return true;
}

void plugin_deactivate(const clap_plugin_t *) {}
bool plugin_start_processing(const clap_plugin_t *) { return true; }
void plugin_stop_processing(const clap_plugin_t *) {}

void plugin_reset(const clap_plugin_t *plugin) { koppel_reset(C(plugin)->userPlugin); }

clap_process_status plugin_process(const clap_plugin_t *plugin, const clap_process_t *process) {
  CLAPPlugin *cp = C(plugin);
  if (!process) return CLAP_PROCESS_CONTINUE;
  deferring_scope scope(true);
  ClapProcessContextTranslator t{};
  KoppelProcessContext &k = t.koppelContext;
  t.process = process;
  k.numFrames = process->frames_count;
  k.numInputBusses = process->audio_inputs_count;
  k.numOutputBusses = process->audio_outputs_count;
  const clap_audio_buffer_t *first = process->audio_outputs_count ? &process->audio_outputs[0]
                                     : process->audio_inputs_count ? &process->audio_inputs[0]
                                                                   : nullptr;
  const bool f64 = first && first->data64;
  k.audioSampleType = f64 ? KOPPEL_AUDIO_SAMPLE_FLOAT64 : KOPPEL_AUDIO_SAMPLE_FLOAT32;
  k.numInputChannels = process->audio_inputs_count ? fill_channels(&process->audio_inputs[0], f64, t.inputs) : 0;
  k.numOutputChannels = process->audio_outputs_count ? fill_channels(&process->audio_outputs[0], f64, t.outputs) : 0;
  if (const clap_event_transport_t *tr = process->transport) {
    if (tr->flags & CLAP_TRANSPORT_IS_PLAYING) k.flags |= KOPPEL_FLAG_TRANSPORT_IS_PLAYING;
    if (tr->flags & CLAP_TRANSPORT_IS_RECORDING) k.flags |= KOPPEL_FLAG_TRANSPORT_IS_RECORDING;
    if (tr->song_pos_beats) {
      k.flags |= KOPPEL_FLAG_TRANSPORT_HAS_PLAYHEAD_BEATS;
      k.playheadBeats = double(tr->song_pos_beats) / double(CLAP_BEATTIME_FACTOR);
    }
    if (tr->flags & CLAP_TRANSPORT_HAS_TEMPO) {
      k.flags |= KOPPEL_FLAG_TRANSPORT_HAS_BPM;
      k.bpm = tr->tempo;
    }
    if (tr->flags & CLAP_TRANSPORT_IS_LOOP_ACTIVE) {
      k.flags |= KOPPEL_FLAG_TRANSPORT_IS_LOOPING;
      k.loopStartBeats = double(tr->loop_start_beats) / double(CLAP_BEATTIME_FACTOR);
      k.loopEndBeats = double(tr->loop_end_beats) / double(CLAP_BEATTIME_FACTOR);
    }
    if (tr->flags & CLAP_TRANSPORT_HAS_TIME_SIGNATURE) {
      k.flags |= KOPPEL_FLAG_TRANSPORT_HAS_TIME_SIGNATURE;
      k.timeSigNumerator = tr->tsig_num;
      k.timeSigDenominator = tr->tsig_denom;
    }
  }
  t.numEvents = process->in_events && process->in_events->size ? process->in_events->size(process->in_events) : 0;
  k.dequeueEvent = dequeue_event;
  k.enqueueEvent = enqueue_event;
  k.getAudioInput = audio_input;
  k.getAudioOutput = audio_output;
  koppel_process(cp->userPlugin, &k);
  apply_remaining_params(cp, process->in_events, t.eventIdx);
  send_queued_edits(cp, process->out_events, 0);
  request_followups(cp);
  // Long silence in, exact zeros out: the host may stop calling until input
  // or an event arrives, and may skip the zero channels downstream.
  if (koppel_outputIsSilent(cp->userPlugin)) {
    for (uint32_t b = 0; b < process->audio_outputs_count; b++)
      process->audio_outputs[b].constant_mask = process->audio_outputs[b].channel_count >= 64
                                                    ? ~uint64_t(0)
                                                    : (uint64_t(1) << process->audio_outputs[b].channel_count) - 1;
    return CLAP_PROCESS_SLEEP;
  }
  return CLAP_PROCESS_CONTINUE;
}

void plugin_on_main_thread(const clap_plugin_t *plugin) {
  CLAPPlugin *cp = C(plugin);
  if (const uint32_t flags = cp->rescan_pending.exchange(0)) send_rescans(cp, flags);
}

// Extensions.
uint32_t latency_get(const clap_plugin_t *plugin) { return koppel_getLatencyInSamples(C(plugin)->userPlugin); }
const clap_plugin_latency_t kLatency = {latency_get};

uint32_t tail_get(const clap_plugin_t *plugin) { return koppel_getTailInSamples(C(plugin)->userPlugin); }
const clap_plugin_tail_t kTail = {tail_get};

bool state_save(const clap_plugin_t *plugin, const clap_ostream_t *stream) {
  if (!stream || !stream->write) return false;
  return koppel_saveState(C(plugin)->userPlugin, const_cast<clap_ostream_t *>(stream),
                          [](void *s, const void *buf, int64_t n) -> int64_t {
                            auto *os = static_cast<const clap_ostream_t *>(s);
                            return os->write(os, buf, uint64_t(n));
                          });
}
bool state_load(const clap_plugin_t *plugin, const clap_istream_t *stream) {
  if (!stream || !stream->read) return false;
  return koppel_loadState(C(plugin)->userPlugin, const_cast<clap_istream_t *>(stream),
                          [](void *s, void *buf, int64_t n) -> int64_t {
                            auto *is = static_cast<const clap_istream_t *>(s);
                            return is->read(is, buf, uint64_t(n));
                          });
}
const clap_plugin_state_t kState = {state_save, state_load};

uint32_t params_count(const clap_plugin_t *plugin) { return koppel_getNumParameters(C(plugin)->userPlugin); }

bool params_get_info(const clap_plugin_t *plugin, uint32_t index, clap_param_info_t *info) {
  TarvelonKoppelPlugin *p = C(plugin)->userPlugin;
  if (!info || !p || index >= koppel_getNumParameters(p)) return false;
  std::memset(info, 0, sizeof *info);
  const uint32_t id = koppel_getParameterID(p, index);
  info->id = id;
  koppel_getParameterName(p, id, info->name, int32_t(sizeof info->name));
  info->default_value = koppel_getDefaultParameterValue(p, id);
  koppel_getParameterRange(p, id, &info->min_value, &info->max_value);
  const uint32_t f = koppel_getParameterFlags(p, id);
  if (f & KOPPEL_FLAG_PARAMETER_IS_READONLY) info->flags |= CLAP_PARAM_IS_READONLY;
  if (f & (KOPPEL_FLAG_PARAMETER_IS_INTEGER | KOPPEL_FLAG_PARAMETER_IS_BOOL)) info->flags |= CLAP_PARAM_IS_STEPPED;
  if (f & KOPPEL_FLAG_PARAMETER_IS_HIDDEN) info->flags |= CLAP_PARAM_IS_HIDDEN;
  if (f & KOPPEL_FLAG_PARAMETER_IS_AUTOMATABLE) info->flags |= CLAP_PARAM_IS_AUTOMATABLE;
  if (f & KOPPEL_FLAG_PARAMETER_IS_BYPASS) info->flags |= CLAP_PARAM_IS_BYPASS;
  return true;
}

bool params_get_value(const clap_plugin_t *plugin, clap_id id, double *out) {
  TarvelonKoppelPlugin *p = C(plugin)->userPlugin;
  if (!out || !tarvelon_koppel_param_valid(p, id)) return false;  // unknown ids are a failure, not 0
  *out = koppel_getParameterValue(p, id);
  return true;
}

bool params_value_to_text(const clap_plugin_t *plugin, clap_id id, double value, char *buf, uint32_t capacity) {
  if (!buf || capacity < 1) return false;
  koppel_parameterValueToString(C(plugin)->userPlugin, id, buf, int32_t(std::min<uint32_t>(capacity, INT32_MAX)),
                                value);
  return true;
}

bool params_text_to_value(const clap_plugin_t *plugin, clap_id id, const char *text, double *out) {
  double parsed;
  if (!text || !out || !vl_parse_double(text, std::strlen(text), &parsed)) return false;
  *out = koppel_parameterStringToValue(C(plugin)->userPlugin, id, text);
  return true;
}

void params_flush(const clap_plugin_t *plugin, const clap_input_events_t *in, const clap_output_events_t *out) {
  CLAPPlugin *cp = C(plugin);
  {
    deferring_scope scope(false);
    apply_remaining_params(cp, in, 0);
    send_queued_edits(cp, out, 0);
  }
  request_followups(cp);
}
const clap_plugin_params_t kParams = {params_count,         params_get_info,      params_get_value,
                                      params_value_to_text, params_text_to_value, params_flush};

uint32_t ports_count(const clap_plugin_t *plugin, bool is_input) {
  TarvelonKoppelPlugin *p = C(plugin)->userPlugin;
  return is_input ? koppel_getNumInputBusses(p) : koppel_getNumOutputBusses(p);
}

bool ports_get(const clap_plugin_t *plugin, uint32_t index, bool is_input, clap_audio_port_info_t *info) {
  TarvelonKoppelPlugin *p = C(plugin)->userPlugin;
  const uint32_t nin = koppel_getNumInputBusses(p), nout = koppel_getNumOutputBusses(p);
  if (!info || index >= (is_input ? nin : nout)) return false;
  std::memset(info, 0, sizeof *info);
  info->id = is_input ? index : nin + index;
  if (is_input) koppel_getInputBusName(p, index, info->name, int32_t(sizeof info->name));
  else koppel_getOutputBusName(p, index, info->name, int32_t(sizeof info->name));
  info->channel_count = is_input ? koppel_getInputBusChannelCount(p, index) : koppel_getOutputBusChannelCount(p, index);
  info->port_type = info->channel_count == 1 ? CLAP_PORT_MONO : info->channel_count == 2 ? CLAP_PORT_STEREO : nullptr;
  info->flags = (index == 0 ? uint32_t(CLAP_AUDIO_PORT_IS_MAIN) : 0u) | CLAP_AUDIO_PORT_SUPPORTS_64BITS |
                CLAP_AUDIO_PORT_PREFERS_64BITS | CLAP_AUDIO_PORT_REQUIRES_COMMON_SAMPLE_SIZE;
  if (is_input) info->in_place_pair = index < nout ? nin + index : CLAP_INVALID_ID;
  else info->in_place_pair = index < nin ? index : CLAP_INVALID_ID;
  return true;
}
const clap_plugin_audio_ports_t kAudioPorts = {ports_count, ports_get};

#if defined(_WIN32)
constexpr const char *kWindowApi = "win32";
#else
constexpr const char *kWindowApi = "x11";
#endif

bool gui_is_api_supported(const clap_plugin_t *, const char *api, bool floating) {
  return api && !floating && !std::strcmp(api, kWindowApi);
}
bool gui_get_preferred_api(const clap_plugin_t *, const char **api, bool *floating) {
#if defined(_WIN32)
  if (api) *api = CLAP_WINDOW_API_WIN32;
#else
  if (api) *api = CLAP_WINDOW_API_X11;
#endif
  if (floating) *floating = false;
  return true;
}

// Unhooks the editor from the host's run loop and frees it: hidden, detached,
// destroyed exactly once.
// Destroying the editor hides and detaches it as well; the window may already
// be gone with the host's container, so nothing else is asked of it first.
void gui_release(CLAPPlugin *cp) {
  void *gui = cp->userGUI;
  if (!gui) return;
  cp->userGUI = nullptr;
  const bool timer = cp->timer_registered;
  const int fd = cp->gui_fd;
  cp->timer_registered = false;
  cp->gui_fd = -1;
  if (timer && cp->host_timer) cp->host_timer->unregister_timer(cp->host, cp->timer_id);
  if (fd >= 0 && cp->host_fd) cp->host_fd->unregister_fd(cp->host, fd);
  if (cp->gui_busy > 0) {  // a call into this editor is still on the stack
    koppel_setVisible(gui, false);
    koppel_setParent(gui, 0);
    cp->doomed_gui = gui;
    return;
  }
  koppel_destroyGUI(gui);
}

bool gui_create(const clap_plugin_t *plugin, const char *api, bool floating) {
  CLAPPlugin *cp = C(plugin);
  if (!gui_is_api_supported(plugin, api, floating) || cp->userGUI || !cp->userPlugin) return false;
  auto ext = [&](const char *id) { return cp->host->get_extension ? cp->host->get_extension(cp->host, id) : nullptr; };
  cp->host_timer = static_cast<const clap_host_timer_support_t *>(ext(CLAP_EXT_TIMER_SUPPORT));
  cp->host_fd = static_cast<const clap_host_posix_fd_support_t *>(ext(CLAP_EXT_POSIX_FD_SUPPORT));
#if !defined(_WIN32)
  // Without the host's run loop nothing would ever draw or read input.
  if (!cp->host_timer || !cp->host_timer->register_timer || !cp->host_fd || !cp->host_fd->register_fd) return false;
#endif
  cp->userGUI = koppel_createGUI(&cp->hostContext, cp->userPlugin);
  if (!cp->userGUI) return false;
  const int fd = koppel_guiFileDescriptor(cp->userGUI);
  if (fd >= 0) {
    if (!cp->host_fd || !cp->host_fd->register_fd(cp->host, fd, CLAP_POSIX_FD_READ)) {
      gui_release(cp);
      return false;
    }
    cp->gui_fd = fd;
  }
#if !defined(_WIN32)  // a Windows editor window has its own timer
  if (cp->host_timer && cp->host_timer->register_timer) {
    cp->timer_registered = cp->host_timer->register_timer(cp->host, 16, &cp->timer_id);  // 60 frames a second
    if (!cp->timer_registered) {
      gui_release(cp);
      return false;
    }
  }
#endif
  return true;
}
void gui_destroy(const clap_plugin_t *plugin) { gui_release(C(plugin)); }
bool gui_set_scale(const clap_plugin_t *plugin, double scale) {
  CLAPPlugin *cp = C(plugin);
  if (!cp->userGUI || !(scale > 0.0)) return false;
  gui_call call(cp);
  koppel_setScaleFactor(cp->userGUI, float(scale));
  return true;
}
bool gui_get_size(const clap_plugin_t *plugin, uint32_t *w, uint32_t *h) {
  CLAPPlugin *cp = C(plugin);
  if (!cp->userGUI) return false;
  koppel_getSize(cp->userGUI, w, h);
  return true;
}
bool gui_can_resize(const clap_plugin_t *) { return true; }
// Hosts that ask get a free resize in both directions (some log a complaint on false).
bool gui_get_resize_hints(const clap_plugin_t *, clap_gui_resize_hints_t *hints) {
  if (!hints) return false;
  *hints = clap_gui_resize_hints_t{true, true, false, 0, 0};
  return true;
}
bool gui_adjust_size(const clap_plugin_t *plugin, uint32_t *w, uint32_t *h) {
  CLAPPlugin *cp = C(plugin);
  if (!cp->userGUI) return false;
  koppel_checkSize(cp->userGUI, w, h);
  return true;
}
bool gui_set_size(const clap_plugin_t *plugin, uint32_t w, uint32_t h) {
  CLAPPlugin *cp = C(plugin);
  if (!cp->userGUI) return false;
  // A size the editor cannot take is refused (hosts ask adjust_size first).
  uint32_t aw = w, ah = h;
  koppel_checkSize(cp->userGUI, &aw, &ah);
  gui_call call(cp);
  return aw == w && ah == h && koppel_setSize(cp->userGUI, w, h);
}
bool gui_set_parent(const clap_plugin_t *plugin, const clap_window_t *window) {
  CLAPPlugin *cp = C(plugin);
  if (!cp->userGUI || !window || !window->api || std::strcmp(window->api, kWindowApi) != 0) return false;
#if defined(_WIN32)
  koppel_setParent(cp->userGUI, reinterpret_cast<uintptr_t>(window->win32));
#else
  koppel_setParent(cp->userGUI, uintptr_t(window->x11));
#endif
  return true;
}
bool gui_set_transient(const clap_plugin_t *, const clap_window_t *) { return false; }
void gui_suggest_title(const clap_plugin_t *, const char *) {}
bool gui_show(const clap_plugin_t *plugin) {
  CLAPPlugin *cp = C(plugin);
  if (!cp->userGUI) return false;
  koppel_setVisible(cp->userGUI, true);
  return true;
}
bool gui_hide(const clap_plugin_t *plugin) {
  CLAPPlugin *cp = C(plugin);
  if (!cp->userGUI) return false;
  koppel_setVisible(cp->userGUI, false);
  return true;
}

void timer_on_timer(const clap_plugin_t *plugin, clap_id id) {
  CLAPPlugin *cp = C(plugin);
  if (!cp->userGUI || !cp->timer_registered || id != cp->timer_id) return;
  gui_call call(cp);
  koppel_guiOnTimer(cp->userGUI);
}
const clap_plugin_timer_support_t kTimer = {timer_on_timer};

void fd_on_fd(const clap_plugin_t *plugin, int fd, uint32_t) {
  CLAPPlugin *cp = C(plugin);
  if (!cp->userGUI || fd != cp->gui_fd) return;
  gui_call call(cp);
  koppel_guiOnFileDescriptor(cp->userGUI);
}
const clap_plugin_posix_fd_support_t kPosixFd = {fd_on_fd};

const clap_plugin_gui_t kGui = {gui_is_api_supported, gui_get_preferred_api, gui_create,        gui_destroy,
                                gui_set_scale,        gui_get_size,          gui_can_resize,    gui_get_resize_hints,
                                gui_adjust_size,      gui_set_size,          gui_set_parent,    gui_set_transient,
                                gui_suggest_title,    gui_show,              gui_hide};

bool snapshot_draw(const clap_plugin_t *plugin, uint32_t width, uint32_t height, uint32_t *pixels) {
  return plugin && koppel_drawSnapshot(C(plugin)->userPlugin, width, height, pixels);
}
void snapshot_keep_live(const clap_plugin_t *plugin) {
  if (plugin) koppel_keepEditorInputLive(C(plugin)->userPlugin);
}
bool snapshot_draw_scaled(const clap_plugin_t *plugin, uint32_t width, uint32_t height, double scale,
                          uint32_t *pixels) {
  return plugin && koppel_drawSnapshotScaled(C(plugin)->userPlugin, width, height, scale, pixels);
}
const tarvelon_plugin_snapshot_t kSnapshot = {snapshot_draw, snapshot_keep_live, snapshot_draw_scaled};

const void *plugin_get_extension(const clap_plugin_t *plugin, const char *id) {
  if (!id) return nullptr;
  TarvelonKoppelPlugin *p = C(plugin)->userPlugin;
  if (!std::strcmp(id, CLAP_EXT_LATENCY)) return &kLatency;
  if (!std::strcmp(id, CLAP_EXT_TAIL)) return &kTail;
  if (!std::strcmp(id, CLAP_EXT_AUDIO_PORTS))
    return koppel_getNumInputBusses(p) + koppel_getNumOutputBusses(p) > 0 ? &kAudioPorts : nullptr;
  if (!std::strcmp(id, CLAP_EXT_STATE)) return &kState;
  if (!std::strcmp(id, CLAP_EXT_PARAMS)) return koppel_getNumParameters(p) > 0 ? &kParams : nullptr;
  if (!std::strcmp(id, CLAP_EXT_GUI)) return &kGui;
  if (!std::strcmp(id, CLAP_EXT_TIMER_SUPPORT)) return &kTimer;
  if (!std::strcmp(id, CLAP_EXT_POSIX_FD_SUPPORT)) return &kPosixFd;
  if (!std::strcmp(id, TARVELON_EXT_SNAPSHOT)) return &kSnapshot;
  return nullptr;
}

// Factory and entry.
uint32_t factory_count(const clap_plugin_factory_t *) { return 1; }
const clap_plugin_descriptor_t *factory_descriptor(const clap_plugin_factory_t *, uint32_t index) {
  return index == 0 ? &kDescriptor : nullptr;
}

const clap_plugin_t *factory_create(const clap_plugin_factory_t *, const clap_host_t *host, const char *id) {
  if (!host || host->clap_version.major < 1 || !id || std::strcmp(id, kPluginId) != 0) return nullptr;
  auto *cp = new (std::nothrow) CLAPPlugin();
  if (!cp) return nullptr;
  cp->host = host;
  cp->clapPlugin = {&kDescriptor,           cp,
                    plugin_init,            plugin_destroy,
                    plugin_activate,        plugin_deactivate,
                    plugin_start_processing, plugin_stop_processing,
                    plugin_reset,           plugin_process,
                    plugin_get_extension,   plugin_on_main_thread};
  cp->hostContext = KoppelHostContext{KOPPEL_PLUGIN_IS_CLAP, cp, host_send_param_event, host_rescan, host_get_name,
                                      host_request_resize};
  return &cp->clapPlugin;
}

const clap_plugin_factory_t kFactory = {factory_count, factory_descriptor, factory_create};

bool entry_init(const char *) {
  koppel_libraryLoad();
  return true;
}
void entry_deinit() { koppel_libraryUnload(); }
const void *entry_get_factory(const char *id) {
  return (id && !std::strcmp(id, CLAP_PLUGIN_FACTORY_ID)) ? &kFactory : nullptr;
}
}  // namespace

TarvelonKoppelPlugin *koppel_clap_user_plugin(const clap_plugin_t *plugin) noexcept {
  return plugin ? C(plugin)->userPlugin : nullptr;
}

extern "C" __attribute__((visibility("default"))) const clap_plugin_entry_t clap_entry = {
    CLAP_VERSION, entry_init, entry_deinit, entry_get_factory};
