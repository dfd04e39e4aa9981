// Our declarations of the VST 3.7.9 binary interface (the parts the adapter
// and the test host use): interface ids laid out per platform, vtables in slot
// order, structs with natural alignment, sizes checked for 64-bit targets.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

namespace vst3 {

using tresult = int32_t;
using TBool = uint8_t;
using TChar = char16_t;
using ParamID = uint32_t;
using ParamValue = double;
using TUID = char[16];

#ifdef _WIN32
#define VST3_CALL __stdcall
constexpr tresult kResultOk = 0, kResultTrue = 0, kResultFalse = 1;
constexpr tresult kNoInterface = int32_t(0x80004002u), kInvalidArgument = int32_t(0x80070057u),
                  kNotImplemented = int32_t(0x80004001u), kInternalError = int32_t(0x80004005u),
                  kNotInitialized = int32_t(0x8000FFFFu), kOutOfMemory = int32_t(0x8007000Eu);
#else
#define VST3_CALL
constexpr tresult kResultOk = 0, kResultTrue = 0, kResultFalse = 1;
constexpr tresult kNoInterface = -1, kInvalidArgument = 2, kNotImplemented = 3, kInternalError = 4,
                  kNotInitialized = 5, kOutOfMemory = 6;
#endif

// An interface or class id from the SDK's four words: each word big-endian on
// Linux and macOS; the COM GUID layout (first three fields little-endian) on Windows.
struct uid {
  std::array<char, 16> bytes;
  const char *data() const { return bytes.data(); }
};
constexpr uid make_uid(uint32_t l1, uint32_t l2, uint32_t l3, uint32_t l4) {
  uid u{};
  auto put = [&](int i, uint32_t v, int shift) { u.bytes[size_t(i)] = char(uint8_t(v >> shift)); };
#ifdef _WIN32
  put(0, l1, 0), put(1, l1, 8), put(2, l1, 16), put(3, l1, 24);
  put(4, l2, 16), put(5, l2, 24), put(6, l2, 0), put(7, l2, 8);
#else
  put(0, l1, 24), put(1, l1, 16), put(2, l1, 8), put(3, l1, 0);
  put(4, l2, 24), put(5, l2, 16), put(6, l2, 8), put(7, l2, 0);
#endif
  put(8, l3, 24), put(9, l3, 16), put(10, l3, 8), put(11, l3, 0);
  put(12, l4, 24), put(13, l4, 16), put(14, l4, 8), put(15, l4, 0);
  return u;
}
inline bool uid_equal(const char *a, const uid &b) {
  if (!a) return false;
  for (size_t i = 0; i < 16; i++)
    if (a[i] != b.bytes[i]) return false;
  return true;
}

inline constexpr uid IID_FUnknown = make_uid(0x00000000, 0x00000000, 0xC0000000, 0x00000046);
inline constexpr uid IID_IPluginBase = make_uid(0x22888DDB, 0x156E45AE, 0x8358B348, 0x08190625);
inline constexpr uid IID_IPluginFactory = make_uid(0x7A4D811C, 0x52114A1F, 0xAED9D2EE, 0x0B43BF9F);
inline constexpr uid IID_IPluginFactory2 = make_uid(0x0007B650, 0xF24B4C0B, 0xA464EDB9, 0xF00B2ABB);
inline constexpr uid IID_IPluginFactory3 = make_uid(0x4555A2AB, 0xC1234E57, 0x9B122910, 0x36878931);
inline constexpr uid IID_IComponent = make_uid(0xE831FF31, 0xF2D54301, 0x928EBBEE, 0x25697802);
inline constexpr uid IID_IAudioProcessor = make_uid(0x42043F99, 0xB7DA453C, 0xA569E79D, 0x9AAEC33D);
inline constexpr uid IID_IProcessContextRequirements = make_uid(0x2A654303, 0xEF764E3D, 0x95B5FE83, 0x730EF6D0);
inline constexpr uid IID_IEditController = make_uid(0xDCD7BBE3, 0x7742448D, 0xA874AACC, 0x979C759E);
inline constexpr uid IID_IMidiMapping = make_uid(0xDF0FF9F7, 0x49B74669, 0xB63AB732, 0x7ADBF5E5);
inline constexpr uid IID_INoteExpressionController = make_uid(0xB7F8F859, 0x41234872, 0x91169581, 0x4F3721A3);
inline constexpr uid IID_IComponentHandler = make_uid(0x93A0BEA3, 0x0BD045DB, 0x8E890B0C, 0xC1E46AC6);
inline constexpr uid IID_IHostApplication = make_uid(0x58E595CC, 0xDB2D4969, 0x8B6AAF8C, 0x36A664E5);
inline constexpr uid IID_IBStream = make_uid(0xC3BF6EA2, 0x30994752, 0x9B6BF990, 0x1EE33E9B);
inline constexpr uid IID_IParameterChanges = make_uid(0xA4779663, 0x0BB64A56, 0xB44384A8, 0x466FEB9D);
inline constexpr uid IID_IParamValueQueue = make_uid(0x01263A18, 0xED074F6F, 0x98C9D356, 0x4686F9BA);
inline constexpr uid IID_IEventList = make_uid(0x3A2C4214, 0x346349FE, 0xB2C4F397, 0xB9695A44);
inline constexpr uid IID_IPlugView = make_uid(0x5BC32507, 0xD06049EA, 0xA6151B52, 0x2B755B29);
inline constexpr uid IID_IPlugViewContentScaleSupport = make_uid(0x65ED9690, 0x8AC44525, 0x8AADEF7A, 0x72EA703F);
inline constexpr uid IID_IPlugFrame = make_uid(0x367FAF01, 0xAFA94693, 0x8D4DA2A0, 0xED0882A3);
// Linux only: the host's run loop and the two handlers a plug-in gives it.
inline constexpr uid IID_IRunLoop = make_uid(0x18C35366, 0x97764F1A, 0x9C5B8385, 0x7A871389);
inline constexpr uid IID_IEventHandler = make_uid(0x561E65C9, 0x13A0496F, 0x813A2C35, 0x654D7983);
inline constexpr uid IID_ITimerHandler = make_uid(0x10BDD94F, 0x41424774, 0x821FAD8F, 0xECA72CA9);

// Every interface object starts with a pointer to its vtable; the first three
// slots are FUnknown's.
struct FUnknown;
struct FUnknownVtbl {
  tresult(VST3_CALL *queryInterface)(void *self, const TUID iid, void **obj);
  uint32_t(VST3_CALL *addRef)(void *self);
  uint32_t(VST3_CALL *release)(void *self);
};
struct FUnknown {
  const FUnknownVtbl *lpVtbl;
};

// Factory.
struct PFactoryInfo {
  char vendor[64];
  char url[256];
  char email[128];
  int32_t flags;
};
struct PClassInfo {
  TUID cid;
  int32_t cardinality;
  char category[32];
  char name[64];
};
struct PClassInfo2 {
  TUID cid;
  int32_t cardinality;
  char category[32];
  char name[64];
  uint32_t classFlags;
  char subCategories[128];
  char vendor[64];
  char version[64];
  char sdkVersion[64];
};
struct PClassInfoW {
  TUID cid;
  int32_t cardinality;
  char category[32];
  char16_t name[64];
  uint32_t classFlags;
  char subCategories[128];
  char16_t vendor[64];
  char16_t version[64];
  char16_t sdkVersion[64];
};
constexpr int32_t kUnicodeFactory = 16;
constexpr int32_t kManyInstances = 0x7FFFFFFF;

struct IPluginFactory3Vtbl {
  FUnknownVtbl unknown;
  tresult(VST3_CALL *getFactoryInfo)(void *self, PFactoryInfo *info);
  int32_t(VST3_CALL *countClasses)(void *self);
  tresult(VST3_CALL *getClassInfo)(void *self, int32_t index, PClassInfo *info);
  tresult(VST3_CALL *createInstance)(void *self, const char *cid, const char *iid, void **obj);
  tresult(VST3_CALL *getClassInfo2)(void *self, int32_t index, PClassInfo2 *info);
  tresult(VST3_CALL *getClassInfoUnicode)(void *self, int32_t index, PClassInfoW *info);
  tresult(VST3_CALL *setHostContext)(void *self, FUnknown *context);
};

// Buses, processing, events.
enum : int32_t { kAudio = 0, kEvent = 1 };
enum : int32_t { kInput = 0, kOutput = 1 };
enum : int32_t { kMain = 0, kAux = 1 };
constexpr uint32_t kDefaultActive = 1;
enum : int32_t { kSample32 = 0, kSample64 = 1 };
enum : int32_t { kRealtime = 0, kPrefetch = 1, kOffline = 2 };
using SpeakerArrangement = uint64_t;

struct BusInfo {
  int32_t mediaType;
  int32_t direction;
  int32_t channelCount;
  char16_t name[128];
  int32_t busType;
  uint32_t flags;
};
struct RoutingInfo {
  int32_t mediaType, busIndex, channel;
};
struct ProcessSetup {
  int32_t processMode;
  int32_t symbolicSampleSize;
  int32_t maxSamplesPerBlock;
  double sampleRate;
};
struct AudioBusBuffers {
  int32_t numChannels;
  uint64_t silenceFlags;
  union {
    float **channelBuffers32;
    double **channelBuffers64;
  };
};
struct Chord {
  uint8_t keyNote, rootNote;
  int16_t chordMask;
};
struct FrameRate {
  uint32_t framesPerSecond, flags;
};
struct ProcessContext {
  uint32_t state;
  double sampleRate;
  int64_t projectTimeSamples, systemTime, continousTimeSamples;
  double projectTimeMusic, barPositionMusic, cycleStartMusic, cycleEndMusic, tempo;
  int32_t timeSigNumerator, timeSigDenominator;
  Chord chord;
  int32_t smpteOffsetSubframes;
  FrameRate frameRate;
  int32_t samplesToNextClock;
};
enum : uint32_t {
  kPlaying = 0x2,
  kCycleActive = 0x4,
  kRecording = 0x8,
  kProjectTimeMusicValid = 0x200,
  kTempoValid = 0x400,
  kCycleValid = 0x1000,
  kTimeSigValid = 0x2000,
};
struct IParameterChanges;
struct IEventList;
struct ProcessData {
  int32_t processMode, symbolicSampleSize, numSamples, numInputs, numOutputs;
  AudioBusBuffers *inputs;
  AudioBusBuffers *outputs;
  IParameterChanges *inputParameterChanges;
  IParameterChanges *outputParameterChanges;
  IEventList *inputEvents;
  IEventList *outputEvents;
  ProcessContext *processContext;
};

struct NoteOnEvent {
  int16_t channel, pitch;
  float tuning, velocity;
  int32_t length, noteId;
};
struct NoteOffEvent {
  int16_t channel, pitch;
  float velocity;
  int32_t noteId;
  float tuning;
};
struct DataEvent {
  uint32_t size, type;
  const uint8_t *bytes;
};
struct PolyPressureEvent {
  int16_t channel, pitch;
  float pressure;
  int32_t noteId;
};
struct NoteExpressionValueEvent {
  uint32_t typeId;
  int32_t noteId;
  double value;
};
struct NoteExpressionTextEvent {
  uint32_t typeId;
  int32_t noteId;
  uint32_t textLen;
  const char16_t *text;
};
struct Event {
  int32_t busIndex;
  int32_t sampleOffset;
  double ppqPosition;
  uint16_t flags;
  uint16_t type;
  union {
    NoteOnEvent noteOn;
    NoteOffEvent noteOff;
    DataEvent data;
    PolyPressureEvent polyPressure;
    NoteExpressionValueEvent noteExpressionValue;
    NoteExpressionTextEvent noteExpressionText;
    uint8_t raw[24];
  };
};
enum : uint16_t {
  kNoteOnEvent = 0,
  kNoteOffEvent = 1,
  kDataEvent = 2,
  kPolyPressureEvent = 3,
  kNoteExpressionValueEvent = 4,
  kNoteExpressionTextEvent = 5,
  kChordEvent = 6,
  kScaleEvent = 7,
  kLegacyMIDICCOutEvent = 65535,
};
constexpr uint32_t kTuningTypeID = 2;

struct ParameterInfo {
  ParamID id;
  char16_t title[128];
  char16_t shortTitle[128];
  char16_t units[128];
  int32_t stepCount;
  double defaultNormalizedValue;
  int32_t unitId;
  int32_t flags;
};
enum : int32_t { kCanAutomate = 1, kIsReadOnly = 2, kIsHidden = 16, kIsBypass = 65536 };
constexpr ParamID kNoParamId = 0xFFFFFFFF;

enum : int32_t {
  kReloadComponent = 0x1,
  kIoChanged = 0x2,
  kParamValuesChanged = 0x4,
  kLatencyChanged = 0x8,
  kParamTitlesChanged = 0x10,
  kIoTitlesChanged = 0x80,
};

struct NoteExpressionValueDescription {
  double defaultValue, minimum, maximum;
  int32_t stepCount;
};
struct NoteExpressionTypeInfo {
  uint32_t typeId;
  char16_t title[128];
  char16_t shortTitle[128];
  char16_t units[128];
  int32_t unitId;
  NoteExpressionValueDescription valueDesc;
  ParamID associatedParameterId;
  int32_t flags;
};

struct ViewRect {
  int32_t left, top, right, bottom;
};

// Plug-in side vtables.
struct IComponentVtbl {
  FUnknownVtbl unknown;
  tresult(VST3_CALL *initialize)(void *self, FUnknown *context);
  tresult(VST3_CALL *terminate)(void *self);
  tresult(VST3_CALL *getControllerClassId)(void *self, TUID classId);
  tresult(VST3_CALL *setIoMode)(void *self, int32_t mode);
  int32_t(VST3_CALL *getBusCount)(void *self, int32_t type, int32_t dir);
  tresult(VST3_CALL *getBusInfo)(void *self, int32_t type, int32_t dir, int32_t index, BusInfo *bus);
  tresult(VST3_CALL *getRoutingInfo)(void *self, RoutingInfo *in, RoutingInfo *out);
  tresult(VST3_CALL *activateBus)(void *self, int32_t type, int32_t dir, int32_t index, TBool state);
  tresult(VST3_CALL *setActive)(void *self, TBool state);
  tresult(VST3_CALL *setState)(void *self, FUnknown *state);
  tresult(VST3_CALL *getState)(void *self, FUnknown *state);
};
struct IAudioProcessorVtbl {
  FUnknownVtbl unknown;
  tresult(VST3_CALL *setBusArrangements)(void *self, SpeakerArrangement *inputs, int32_t numIns,
                                         SpeakerArrangement *outputs, int32_t numOuts);
  tresult(VST3_CALL *getBusArrangement)(void *self, int32_t dir, int32_t index, SpeakerArrangement *arr);
  tresult(VST3_CALL *canProcessSampleSize)(void *self, int32_t size);
  uint32_t(VST3_CALL *getLatencySamples)(void *self);
  tresult(VST3_CALL *setupProcessing)(void *self, ProcessSetup *setup);
  tresult(VST3_CALL *setProcessing)(void *self, TBool state);
  tresult(VST3_CALL *process)(void *self, ProcessData *data);
  uint32_t(VST3_CALL *getTailSamples)(void *self);
};
struct IProcessContextRequirementsVtbl {
  FUnknownVtbl unknown;
  uint32_t(VST3_CALL *getProcessContextRequirements)(void *self);
};
struct IEditControllerVtbl {
  FUnknownVtbl unknown;
  tresult(VST3_CALL *initialize)(void *self, FUnknown *context);
  tresult(VST3_CALL *terminate)(void *self);
  tresult(VST3_CALL *setComponentState)(void *self, FUnknown *state);
  tresult(VST3_CALL *setState)(void *self, FUnknown *state);
  tresult(VST3_CALL *getState)(void *self, FUnknown *state);
  int32_t(VST3_CALL *getParameterCount)(void *self);
  tresult(VST3_CALL *getParameterInfo)(void *self, int32_t index, ParameterInfo *info);
  tresult(VST3_CALL *getParamStringByValue)(void *self, ParamID id, ParamValue v, char16_t *string);
  tresult(VST3_CALL *getParamValueByString)(void *self, ParamID id, TChar *string, ParamValue *v);
  ParamValue(VST3_CALL *normalizedParamToPlain)(void *self, ParamID id, ParamValue v);
  ParamValue(VST3_CALL *plainParamToNormalized)(void *self, ParamID id, ParamValue v);
  ParamValue(VST3_CALL *getParamNormalized)(void *self, ParamID id);
  tresult(VST3_CALL *setParamNormalized)(void *self, ParamID id, ParamValue v);
  tresult(VST3_CALL *setComponentHandler)(void *self, FUnknown *handler);
  FUnknown *(VST3_CALL *createView)(void *self, const char *name);
};
struct IMidiMappingVtbl {
  FUnknownVtbl unknown;
  tresult(VST3_CALL *getMidiControllerAssignment)(void *self, int32_t bus, int16_t channel, int16_t ctrl, ParamID *id);
};
struct INoteExpressionControllerVtbl {
  FUnknownVtbl unknown;
  int32_t(VST3_CALL *getNoteExpressionCount)(void *self, int32_t bus, int16_t channel);
  tresult(VST3_CALL *getNoteExpressionInfo)(void *self, int32_t bus, int16_t channel, int32_t index,
                                            NoteExpressionTypeInfo *info);
  tresult(VST3_CALL *getNoteExpressionStringByValue)(void *self, int32_t bus, int16_t channel, uint32_t id,
                                                     double value, char16_t *string);
  tresult(VST3_CALL *getNoteExpressionValueByString)(void *self, int32_t bus, int16_t channel, uint32_t id,
                                                     const TChar *string, double *value);
};
struct IPlugViewVtbl {
  FUnknownVtbl unknown;
  tresult(VST3_CALL *isPlatformTypeSupported)(void *self, const char *type);
  tresult(VST3_CALL *attached)(void *self, void *parent, const char *type);
  tresult(VST3_CALL *removed)(void *self);
  tresult(VST3_CALL *onWheel)(void *self, float distance);
  tresult(VST3_CALL *onKeyDown)(void *self, char16_t key, int16_t keyCode, int16_t modifiers);
  tresult(VST3_CALL *onKeyUp)(void *self, char16_t key, int16_t keyCode, int16_t modifiers);
  tresult(VST3_CALL *getSize)(void *self, ViewRect *size);
  tresult(VST3_CALL *onSize)(void *self, ViewRect *size);
  tresult(VST3_CALL *onFocus)(void *self, TBool state);
  tresult(VST3_CALL *setFrame)(void *self, FUnknown *frame);
  tresult(VST3_CALL *canResize)(void *self);
  tresult(VST3_CALL *checkSizeConstraint)(void *self, ViewRect *rect);
};

// Host side vtables.
struct IComponentHandlerVtbl {
  FUnknownVtbl unknown;
  tresult(VST3_CALL *beginEdit)(void *self, ParamID id);
  tresult(VST3_CALL *performEdit)(void *self, ParamID id, ParamValue v);
  tresult(VST3_CALL *endEdit)(void *self, ParamID id);
  tresult(VST3_CALL *restartComponent)(void *self, int32_t flags);
};
struct IHostApplicationVtbl {
  FUnknownVtbl unknown;
  tresult(VST3_CALL *getName)(void *self, char16_t *name);
  tresult(VST3_CALL *createInstance)(void *self, TUID cid, TUID iid, void **obj);
};
struct IBStreamVtbl {
  FUnknownVtbl unknown;
  tresult(VST3_CALL *read)(void *self, void *buffer, int32_t numBytes, int32_t *numBytesRead);
  tresult(VST3_CALL *write)(void *self, void *buffer, int32_t numBytes, int32_t *numBytesWritten);
  tresult(VST3_CALL *seek)(void *self, int64_t pos, int32_t mode, int64_t *result);
  tresult(VST3_CALL *tell)(void *self, int64_t *pos);
};
struct IParamValueQueueVtbl {
  FUnknownVtbl unknown;
  ParamID(VST3_CALL *getParameterId)(void *self);
  int32_t(VST3_CALL *getPointCount)(void *self);
  tresult(VST3_CALL *getPoint)(void *self, int32_t index, int32_t *sampleOffset, ParamValue *value);
  tresult(VST3_CALL *addPoint)(void *self, int32_t sampleOffset, ParamValue value, int32_t *index);
};
struct IParameterChangesVtbl {
  FUnknownVtbl unknown;
  int32_t(VST3_CALL *getParameterCount)(void *self);
  FUnknown *(VST3_CALL *getParameterData)(void *self, int32_t index);
  FUnknown *(VST3_CALL *addParameterData)(void *self, const ParamID *id, int32_t *index);
};
struct IEventListVtbl {
  FUnknownVtbl unknown;
  int32_t(VST3_CALL *getEventCount)(void *self);
  tresult(VST3_CALL *getEvent)(void *self, int32_t index, Event *e);
  tresult(VST3_CALL *addEvent)(void *self, Event *e);
};
struct IPlugFrameVtbl {
  FUnknownVtbl unknown;
  tresult(VST3_CALL *resizeView)(void *self, FUnknown *view, ViewRect *newSize);
};
struct IPlugViewContentScaleSupportVtbl {
  FUnknownVtbl unknown;
  tresult(VST3_CALL *setContentScaleFactor)(void *self, float factor);
};
struct IEventHandlerVtbl {
  FUnknownVtbl unknown;
  void(VST3_CALL *onFDIsSet)(void *self, int fd);
};
struct ITimerHandlerVtbl {
  FUnknownVtbl unknown;
  void(VST3_CALL *onTimer)(void *self);
};
struct IRunLoopVtbl {
  FUnknownVtbl unknown;
  tresult(VST3_CALL *registerEventHandler)(void *self, FUnknown *handler, int fd);
  tresult(VST3_CALL *unregisterEventHandler)(void *self, FUnknown *handler);
  tresult(VST3_CALL *registerTimer)(void *self, FUnknown *handler, uint64_t milliseconds);
  tresult(VST3_CALL *unregisterTimer)(void *self, FUnknown *handler);
};

// Typed views of host objects (all start with their vtable pointer).
struct IParameterChanges {
  const IParameterChangesVtbl *lpVtbl;
};
struct IEventList {
  const IEventListVtbl *lpVtbl;
};

}  // namespace vst3

#if UINTPTR_MAX == UINT64_MAX
static_assert(sizeof(vst3::PFactoryInfo) == 452);
static_assert(sizeof(vst3::PClassInfo) == 116);
static_assert(sizeof(vst3::PClassInfo2) == 440 && offsetof(vst3::PClassInfo2, subCategories) == 120);
static_assert(sizeof(vst3::PClassInfoW) == 696 && offsetof(vst3::PClassInfoW, sdkVersion) == 568);
static_assert(sizeof(vst3::BusInfo) == 276 && offsetof(vst3::BusInfo, busType) == 268);
static_assert(sizeof(vst3::ProcessSetup) == 24 && offsetof(vst3::ProcessSetup, sampleRate) == 16);
static_assert(sizeof(vst3::AudioBusBuffers) == 24 && offsetof(vst3::AudioBusBuffers, channelBuffers32) == 16);
static_assert(sizeof(vst3::ProcessData) == 80 && offsetof(vst3::ProcessData, inputs) == 24 &&
              offsetof(vst3::ProcessData, processContext) == 72);
static_assert(sizeof(vst3::ProcessContext) == 112 && offsetof(vst3::ProcessContext, tempo) == 72 &&
              offsetof(vst3::ProcessContext, chord) == 88 && offsetof(vst3::ProcessContext, frameRate) == 96);
static_assert(sizeof(vst3::Event) == 48 && offsetof(vst3::Event, type) == 18 && offsetof(vst3::Event, noteOn) == 24);
static_assert(sizeof(vst3::NoteOnEvent) == 20 && sizeof(vst3::NoteOffEvent) == 16 &&
              sizeof(vst3::PolyPressureEvent) == 12 && sizeof(vst3::NoteExpressionValueEvent) == 16 &&
              sizeof(vst3::NoteExpressionTextEvent) == 24 && sizeof(vst3::DataEvent) == 16);
static_assert(sizeof(vst3::ParameterInfo) == 792 && offsetof(vst3::ParameterInfo, stepCount) == 772 &&
              offsetof(vst3::ParameterInfo, defaultNormalizedValue) == 776 && offsetof(vst3::ParameterInfo, flags) == 788);
static_assert(sizeof(vst3::NoteExpressionTypeInfo) == 816 && offsetof(vst3::NoteExpressionTypeInfo, valueDesc) == 776 &&
              offsetof(vst3::NoteExpressionTypeInfo, associatedParameterId) == 808);
static_assert(sizeof(vst3::ViewRect) == 16);
static_assert(sizeof(vst3::IComponentVtbl) == 14 * 8 && sizeof(vst3::IAudioProcessorVtbl) == 11 * 8 &&
              sizeof(vst3::IEditControllerVtbl) == 18 * 8 && sizeof(vst3::IPluginFactory3Vtbl) == 10 * 8 &&
              sizeof(vst3::IPlugViewVtbl) == 15 * 8 && sizeof(vst3::IBStreamVtbl) == 7 * 8);
static_assert(sizeof(vst3::IRunLoopVtbl) == 7 * 8 && sizeof(vst3::IEventHandlerVtbl) == 4 * 8 &&
              sizeof(vst3::ITimerHandlerVtbl) == 4 * 8 && sizeof(vst3::IPlugViewContentScaleSupportVtbl) == 4 * 8);
#endif
