// The wrapper's records: one TarvelonKoppelPlugin per instance, holding the 28
// parameter values, the 16 knob controls and the core instance.
#pragma once
#include <atomic>
#include <cstdint>

#include "koppel_interface.h"
#include "system/host_callbacks.h"
#include "system/shared_value.h"

struct inst_t;
struct TarvelonKoppelGui;
struct tarvelon_host_callbacks_t;

constexpr uint32_t kKoppelParamCount = 28;
constexpr int32_t kKoppelControlCount = 16;
// Longest segment handed to the core at once; longer host blocks go in pieces.
constexpr uint32_t kKoppelMaxSegment = 8192;

enum TarvelonKoppelParamType : int32_t {
  TARVELON_KOPPEL_PARAM_DOUBLE = 0,
  TARVELON_KOPPEL_PARAM_INT = 1,
  TARVELON_KOPPEL_PARAM_BOOL = 2,
};

struct TarvelonKoppelParam {
  bool initialized;
  TarvelonKoppelParamType type;
  char name[64];
  char label[32];
  relaxed<double> value;  // own units, always clamped; written by host, audio and editor threads
  double defaultValue, minValue, maxValue, step, shape;
};

// Rebound on the editor thread while automation on the audio thread refreshes
// knob positions, so the binding is atomic too.
struct TarvelonKoppelControl {
  relaxed<bool> attached;
  relaxed<int32_t> paramId;  // -1: none
  int32_t halfSize;
  relaxed<double> normalizedValue;
  double defaultNormalizedValue;  // -1: the parameter's default
};

struct TarvelonKoppelPlugin {
  KoppelHostContext *hostContext;
  inst_t *ci;
  TarvelonKoppelGui *gui;
  int32_t instanceIndex;
  double sampleRate;
  uint32_t maxBlockSize;
  relaxed<uint32_t> latency;
  uint32_t inputChannelCount;
  TarvelonKoppelParam params[kKoppelParamCount];
  TarvelonKoppelControl controls[kKoppelControlCount];
  double *processInput[2];
  double *processOutput[2];
  uint32_t processCapacity;
  uint32_t *drawPixels;
  uint32_t drawWidth, drawHeight;
  char presetDir[4096];
  std::atomic<int> notifyHost;  // 1 while edits are reported as user gestures
};

// Where a parameter change comes from: only core and user changes may be
// reported back to the host as edits.
enum class param_origin { host, user };

// Parameter layer. [any thread; reports never go out from inside processing]
bool tarvelon_koppel_param_valid(const TarvelonKoppelPlugin *p, uint32_t id) noexcept;
double tarvelon_koppel_clamp_parameter_value(const TarvelonKoppelParam *param, double value) noexcept;
double tarvelon_koppel_normalize_value_for_param(const TarvelonKoppelParam *param, double value) noexcept;
double tarvelon_koppel_denormalize_value_for_param(const TarvelonKoppelParam *param, double normalised) noexcept;
void tarvelon_koppel_set_parameter_value(TarvelonKoppelPlugin *p, uint32_t id, double value, bool callParamChange,
                                         param_origin origin) noexcept;
// A BEGIN/UPDATE/END triple for a user edit; raised while the thread holds a
// core lock, it is sent, in order, right after the thread's last unlock.
void tarvelon_koppel_send_param_edit(TarvelonKoppelPlugin *p, uint32_t id) noexcept;
// Forgets this thread's unsent edits of a plug-in being destroyed.
void tarvelon_koppel_drop_pending_edits(TarvelonKoppelPlugin *p) noexcept;
void tarvelon_koppel_update_control_value(TarvelonKoppelPlugin *p, int32_t ctrl, int32_t id) noexcept;
// Knob edits from the editor. [GUI thread]
void tarvelon_koppel_set_knob_native_value(TarvelonKoppelPlugin *p, int32_t ctrl, double value) noexcept;
void tarvelon_koppel_set_knob_normalized(TarvelonKoppelPlugin *p, int32_t ctrl, double normalised) noexcept;

// Processing is per thread: while the audio thread is inside koppel_process,
// edits made on the editor thread are still reported.
bool tarvelon_koppel_thread_is_processing() noexcept;
void tarvelon_koppel_enter_processing() noexcept;
void tarvelon_koppel_leave_processing() noexcept;

// The callback table the wrapper gives the core (user data = the plug-in record).
extern const tarvelon_host_callbacks_t tarvelon_koppel_host_callbacks;

// Finishes a path chosen in the preset file dialog: length check, ".dat" on
// save, remembered folder. Returns 1 when buf holds a path.
int32_t tarvelon_koppel_accept_preset_path(TarvelonKoppelPlugin *p, int32_t save, const char *chosen, char *buf,
                                           int32_t size) noexcept;
