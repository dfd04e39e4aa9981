// The KOPPEL plug-in interface: what the format adapters (CLAP, VST 3) call on
// the wrapper, and the services and per-block context they hand it.
#pragma once
#include <cstdint>

struct TarvelonKoppelPlugin;

enum : int32_t { KOPPEL_PLUGIN_IS_CLAP = 1, KOPPEL_PLUGIN_IS_VST3 = 2 };

enum KoppelEventType : uint32_t {
  KOPPEL_EVENT_UNHANDLED_EVENT = 0,
  KOPPEL_EVENT_PROCESS_AUDIO = 1,
  KOPPEL_EVENT_PARAM_CHANGE_BEGIN = 2,
  KOPPEL_EVENT_PARAM_CHANGE_UPDATE = 3,
  KOPPEL_EVENT_PARAM_CHANGE_END = 4,
  KOPPEL_EVENT_MIDI = 5,
  KOPPEL_EVENT_NOTE_EXPRESSION_TUNING = 6,
};

#pragma pack(push, 4)
// 16 bytes; while queued an adapter may keep a frame in the type word's upper
// bits (word = type + frame × 16).
struct KoppelEvent {
  uint32_t type;
  union {
    struct {
      uint32_t endFrame;
    } processAudio;
    struct {
      uint32_t id;
      double value;  // plain units
    } parameter;
    struct {
      uint32_t frame;
      uint8_t status, data1, data2;
    } midi;
    struct {
      uint32_t key;
      double value;
    } note_expression;
  };
};
#pragma pack(pop)
static_assert(sizeof(KoppelEvent) == 16, "adapters rely on 16-byte events");

enum : uint32_t {
  KOPPEL_FLAG_RESCAN_LATENCY = 1,
  KOPPEL_FLAG_RESCAN_TAIL = 2,
  KOPPEL_FLAG_RESCAN_BUS_COUNT = 4,
  KOPPEL_FLAG_RESCAN_BUS_NAMES = 8,
  KOPPEL_FLAG_RESCAN_PARAM_VALUES = 16,
  KOPPEL_FLAG_RESCAN_PARAM_NAMES = 32,
  KOPPEL_FLAG_RESCAN_PARAM_METADATA = 64,
};

enum : uint32_t {
  KOPPEL_FLAG_PARAMETER_IS_READONLY = 1,
  KOPPEL_FLAG_PARAMETER_IS_BOOL = 2,
  KOPPEL_FLAG_PARAMETER_IS_INTEGER = 4,
  KOPPEL_FLAG_PARAMETER_IS_HIDDEN = 8,
  KOPPEL_FLAG_PARAMETER_IS_AUTOMATABLE = 16,
  KOPPEL_FLAG_PARAMETER_IS_BYPASS = 32,
};

enum : int32_t { KOPPEL_AUDIO_SAMPLE_FLOAT32 = 0, KOPPEL_AUDIO_SAMPLE_FLOAT64 = 1 };

enum : uint32_t {
  KOPPEL_FLAG_TRANSPORT_IS_PLAYING = 1,
  KOPPEL_FLAG_TRANSPORT_IS_LOOPING = 2,
  KOPPEL_FLAG_TRANSPORT_IS_RECORDING = 4,
  KOPPEL_FLAG_TRANSPORT_HAS_BPM = 8,
  KOPPEL_FLAG_TRANSPORT_HAS_TIME_SIGNATURE = 16,
  KOPPEL_FLAG_TRANSPORT_HAS_PLAYHEAD_BEATS = 32,
};

// The adapter's services. Any function may be null.
struct KoppelHostContext {
  int32_t type;   // KOPPEL_PLUGIN_IS_CLAP or _VST3
  void *adapter;  // the adapter's own record
  // Edit reports (BEGIN/UPDATE/END). [any thread but the audio thread] must not block
  void (*sendParamEvent)(KoppelHostContext *ctx, const KoppelEvent *event);
  // A KOPPEL_FLAG_RESCAN_* set. [any thread] the adapter defers what its host
  // allows only on the main thread.
  void (*rescan)(KoppelHostContext *ctx, uint32_t flags);
  bool (*getHostName)(KoppelHostContext *ctx, char *buf, int32_t size);
  bool (*requestResize)(KoppelHostContext *ctx, uint32_t width, uint32_t height);
};

// One host block, built by the adapter on the stack.
struct KoppelProcessContext {
  uint32_t numFrames;
  uint32_t numInputBusses, numOutputBusses;
  uint32_t numInputChannels, numOutputChannels;  // channels of bus 0 that the host gave
  int32_t audioSampleType;
  uint32_t flags;
  double bpm, playheadBeats, loopStartBeats, loopEndBeats;
  int32_t timeSigNumerator, timeSigDenominator;
  bool (*enqueueEvent)(KoppelProcessContext *ctx, const KoppelEvent *event, uint32_t frame);
  // The event at `frame`, or KOPPEL_EVENT_PROCESS_AUDIO up to the next event;
  // false once frame >= numFrames.
  bool (*dequeueEvent)(KoppelProcessContext *ctx, KoppelEvent *event, uint32_t frame);
  // Channel arrays of a bus: float ** or double ** by audioSampleType; null when absent.
  void *const *(*getAudioInput)(KoppelProcessContext *ctx, uint32_t bus);
  void *const *(*getAudioOutput)(KoppelProcessContext *ctx, uint32_t bus);
};

// State streams move up to `size` bytes and return how many they moved
// (0 at the end, negative on error).
using KoppelStateWrite = int64_t (*)(void *stream, const void *buf, int64_t size);
using KoppelStateRead = int64_t (*)(void *stream, void *buf, int64_t size);

// Every function tolerates a null plug-in record and out-of-range ids.
// Tags: [thread] where it may be called; "allocates" / "blocks" when it may
// allocate or wait for a lock; functions without either do neither.

// Process-wide set-up and tear-down. [main thread] allocates
void koppel_libraryLoad() noexcept;
void koppel_libraryUnload() noexcept;
// [main thread] allocates; blocks (builds the engine)
TarvelonKoppelPlugin *koppel_createPlugin(KoppelHostContext *host) noexcept;
// Saves pending preferences and frees everything. [main thread] blocks (file I/O)
void koppel_destroyPlugin(TarvelonKoppelPlugin *p) noexcept;

// Buses, latency and tail. [any thread]
uint32_t koppel_getNumInputBusses(TarvelonKoppelPlugin *p) noexcept;
uint32_t koppel_getNumOutputBusses(TarvelonKoppelPlugin *p) noexcept;
uint32_t koppel_getInputBusChannelCount(TarvelonKoppelPlugin *p, uint32_t bus) noexcept;
uint32_t koppel_getOutputBusChannelCount(TarvelonKoppelPlugin *p, uint32_t bus) noexcept;
void koppel_getInputBusName(TarvelonKoppelPlugin *p, uint32_t bus, char *buf, int32_t size) noexcept;
void koppel_getOutputBusName(TarvelonKoppelPlugin *p, uint32_t bus, char *buf, int32_t size) noexcept;
uint32_t koppel_getLatencyInSamples(TarvelonKoppelPlugin *p) noexcept;
uint32_t koppel_getTailInSamples(TarvelonKoppelPlugin *p) noexcept;
// The host's rate and its largest block: the engine is built for both here,
// so the latency read afterwards is the delay processing gives.
// [main thread, not processing] allocates; blocks (both reinit locks)
void koppel_setSampleRateAndBlockSize(TarvelonKoppelPlugin *p, double rate, uint32_t maxBlock) noexcept;
// true when the last block's output was exact zeros and stays so until
// non-zero input arrives (a host may let the plug-in sleep). [audio thread]
bool koppel_outputIsSilent(TarvelonKoppelPlugin *p) noexcept;
// Drops all audio in flight; parameters are kept. [audio thread, active] blocks (processing lock)
void koppel_reset(TarvelonKoppelPlugin *p) noexcept;
// [audio thread] blocks (processing lock, held briefly by editor edits);
// allocates only when a host sends more frames than it announced
void koppel_process(TarvelonKoppelPlugin *p, KoppelProcessContext *ctx) noexcept;
// true only when the whole state was written / a valid state was read.
// [main thread] blocks (the host's stream; loading takes the processing lock
// only after the stream is read)
bool koppel_saveState(TarvelonKoppelPlugin *p, void *stream, KoppelStateWrite write) noexcept;
bool koppel_loadState(TarvelonKoppelPlugin *p, void *stream, KoppelStateRead read) noexcept;

// Parameter queries and conversions. [any thread]
uint32_t koppel_getNumParameters(TarvelonKoppelPlugin *p) noexcept;
uint32_t koppel_getParameterID(TarvelonKoppelPlugin *p, uint32_t index) noexcept;
uint32_t koppel_getParameterFlags(TarvelonKoppelPlugin *p, uint32_t id) noexcept;
void koppel_getParameterRange(TarvelonKoppelPlugin *p, uint32_t id, double *min, double *max) noexcept;
void koppel_getParameterName(TarvelonKoppelPlugin *p, uint32_t id, char *buf, int32_t size) noexcept;
double koppel_getParameterValue(TarvelonKoppelPlugin *p, uint32_t id) noexcept;
double koppel_getDefaultParameterValue(TarvelonKoppelPlugin *p, uint32_t id) noexcept;
// A host's value (never reported back as an edit). [any thread] no allocation, no lock
void koppel_setParameterValue(TarvelonKoppelPlugin *p, uint32_t id, double value) noexcept;
double koppel_normaliseParameterValue(TarvelonKoppelPlugin *p, uint32_t id, double value) noexcept;
double koppel_denormaliseParameterValue(TarvelonKoppelPlugin *p, uint32_t id, double normalised) noexcept;
void koppel_parameterValueToString(TarvelonKoppelPlugin *p, uint32_t id, char *buf, int32_t size,
                                   double value) noexcept;
double koppel_parameterStringToValue(TarvelonKoppelPlugin *p, uint32_t id, const char *text) noexcept;

// One editor frame of width × height into pixels (0x00RRGGBB, top row first)
// without a window; false for a size outside the editor's limits.
// [main thread] allocates (editor storage, freed again); blocks (drawing lock)
bool koppel_drawSnapshot(TarvelonKoppelPlugin *p, uint32_t width, uint32_t height, uint32_t *pixels) noexcept;
// The same at a UI scale (1..4); width × height in pixels, within the limits
// at that scale. The instance's own scale is restored afterwards.
bool koppel_drawSnapshotScaled(TarvelonKoppelPlugin *p, uint32_t width, uint32_t height, double scale,
                               uint32_t *pixels) noexcept;
// Keeps the spectrum analyser capturing as if an editor were open. [any thread]
void koppel_keepEditorInputLive(TarvelonKoppelPlugin *p) noexcept;
