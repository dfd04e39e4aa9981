// Our declarations of the CLAP 1.1.10 binary interface: the structs, constants
// and extension tables the adapter and the test host use, with the sizes and
// offsets checked at compile time for 64-bit targets.
#pragma once
#include <cstddef>
#include <cstdint>

extern "C" {

struct clap_version_t {
  uint32_t major, minor, revision;
};
constexpr clap_version_t CLAP_VERSION = {1, 1, 10};
constexpr uint32_t CLAP_NAME_SIZE = 256;
constexpr uint32_t CLAP_PATH_SIZE = 1024;
using clap_id = uint32_t;
constexpr clap_id CLAP_INVALID_ID = UINT32_MAX;
constexpr uint16_t CLAP_CORE_EVENT_SPACE_ID = 0;
constexpr int64_t CLAP_BEATTIME_FACTOR = int64_t(1) << 31;

using clap_process_status = int32_t;
enum : int32_t {
  CLAP_PROCESS_ERROR = 0,
  CLAP_PROCESS_CONTINUE = 1,
  CLAP_PROCESS_CONTINUE_IF_NOT_QUIET = 2,
  CLAP_PROCESS_TAIL = 3,
  CLAP_PROCESS_SLEEP = 4,
};

struct clap_plugin_entry_t {
  clap_version_t clap_version;
  bool (*init)(const char *plugin_path);
  void (*deinit)(void);
  const void *(*get_factory)(const char *factory_id);
};

struct clap_plugin_descriptor_t {
  clap_version_t clap_version;
  const char *id, *name, *vendor, *url, *manual_url, *support_url, *version, *description;
  const char *const *features;
};

struct clap_host_t;
struct clap_process_t;

struct clap_plugin_t {
  const clap_plugin_descriptor_t *desc;
  void *plugin_data;
  bool (*init)(const clap_plugin_t *plugin);
  void (*destroy)(const clap_plugin_t *plugin);
  bool (*activate)(const clap_plugin_t *plugin, double sample_rate, uint32_t min_frames, uint32_t max_frames);
  void (*deactivate)(const clap_plugin_t *plugin);
  bool (*start_processing)(const clap_plugin_t *plugin);
  void (*stop_processing)(const clap_plugin_t *plugin);
  void (*reset)(const clap_plugin_t *plugin);
  clap_process_status (*process)(const clap_plugin_t *plugin, const clap_process_t *process);
  const void *(*get_extension)(const clap_plugin_t *plugin, const char *id);
  void (*on_main_thread)(const clap_plugin_t *plugin);
};

struct clap_plugin_factory_t {
  uint32_t (*get_plugin_count)(const clap_plugin_factory_t *factory);
  const clap_plugin_descriptor_t *(*get_plugin_descriptor)(const clap_plugin_factory_t *factory, uint32_t index);
  const clap_plugin_t *(*create_plugin)(const clap_plugin_factory_t *factory, const clap_host_t *host,
                                        const char *plugin_id);
};
constexpr const char *CLAP_PLUGIN_FACTORY_ID = "clap.plugin-factory";

struct clap_host_t {
  clap_version_t clap_version;
  void *host_data;
  const char *name, *vendor, *url, *version;
  const void *(*get_extension)(const clap_host_t *host, const char *extension_id);
  void (*request_restart)(const clap_host_t *host);
  void (*request_process)(const clap_host_t *host);
  void (*request_callback)(const clap_host_t *host);
};

struct clap_event_header_t {
  uint32_t size;
  uint32_t time;
  uint16_t space_id;
  uint16_t type;
  uint32_t flags;
};

enum : uint16_t {
  CLAP_EVENT_NOTE_ON = 0,
  CLAP_EVENT_NOTE_OFF = 1,
  CLAP_EVENT_NOTE_CHOKE = 2,
  CLAP_EVENT_NOTE_END = 3,
  CLAP_EVENT_NOTE_EXPRESSION = 4,
  CLAP_EVENT_PARAM_VALUE = 5,
  CLAP_EVENT_PARAM_MOD = 6,
  CLAP_EVENT_PARAM_GESTURE_BEGIN = 7,
  CLAP_EVENT_PARAM_GESTURE_END = 8,
  CLAP_EVENT_TRANSPORT = 9,
  CLAP_EVENT_MIDI = 10,
  CLAP_EVENT_MIDI_SYSEX = 11,
  CLAP_EVENT_MIDI2 = 12,
};
enum : uint32_t { CLAP_EVENT_IS_LIVE = 1, CLAP_EVENT_DONT_RECORD = 2 };

struct clap_event_note_t {
  clap_event_header_t header;
  int32_t note_id;
  int16_t port_index, channel, key;
  double velocity;
};

enum : int32_t { CLAP_NOTE_EXPRESSION_TUNING = 2, CLAP_NOTE_EXPRESSION_PRESSURE = 6 };
struct clap_event_note_expression_t {
  clap_event_header_t header;
  int32_t expression_id;
  int32_t note_id;
  int16_t port_index, channel, key;
  double value;
};

struct clap_event_param_value_t {
  clap_event_header_t header;
  clap_id param_id;
  void *cookie;
  int32_t note_id;
  int16_t port_index, channel, key;
  double value;
};

struct clap_event_param_gesture_t {
  clap_event_header_t header;
  clap_id param_id;
};

enum : uint32_t {
  CLAP_TRANSPORT_HAS_TEMPO = 1,
  CLAP_TRANSPORT_HAS_BEATS_TIMELINE = 2,
  CLAP_TRANSPORT_HAS_SECONDS_TIMELINE = 4,
  CLAP_TRANSPORT_HAS_TIME_SIGNATURE = 8,
  CLAP_TRANSPORT_IS_PLAYING = 16,
  CLAP_TRANSPORT_IS_RECORDING = 32,
  CLAP_TRANSPORT_IS_LOOP_ACTIVE = 64,
};
struct clap_event_transport_t {
  clap_event_header_t header;
  uint32_t flags;
  int64_t song_pos_beats, song_pos_seconds;
  double tempo, tempo_inc;
  int64_t loop_start_beats, loop_end_beats, loop_start_seconds, loop_end_seconds, bar_start;
  int32_t bar_number;
  uint16_t tsig_num, tsig_denom;
};

struct clap_event_midi_t {
  clap_event_header_t header;
  uint16_t port_index;
  uint8_t data[3];
};

struct clap_input_events_t {
  void *ctx;
  uint32_t (*size)(const clap_input_events_t *list);
  const clap_event_header_t *(*get)(const clap_input_events_t *list, uint32_t index);
};
struct clap_output_events_t {
  void *ctx;
  bool (*try_push)(const clap_output_events_t *list, const clap_event_header_t *event);
};

struct clap_audio_buffer_t {
  float **data32;
  double **data64;
  uint32_t channel_count;
  uint32_t latency;
  uint64_t constant_mask;
};

struct clap_process_t {
  int64_t steady_time;
  uint32_t frames_count;
  const clap_event_transport_t *transport;
  const clap_audio_buffer_t *audio_inputs;
  clap_audio_buffer_t *audio_outputs;
  uint32_t audio_inputs_count, audio_outputs_count;
  const clap_input_events_t *in_events;
  const clap_output_events_t *out_events;
};

struct clap_istream_t {
  void *ctx;
  int64_t (*read)(const clap_istream_t *stream, void *buffer, uint64_t size);
};
struct clap_ostream_t {
  void *ctx;
  int64_t (*write)(const clap_ostream_t *stream, const void *buffer, uint64_t size);
};

// Extensions.
constexpr const char *CLAP_EXT_AUDIO_PORTS = "clap.audio-ports";
constexpr const char *CLAP_EXT_LATENCY = "clap.latency";
constexpr const char *CLAP_EXT_TAIL = "clap.tail";
constexpr const char *CLAP_EXT_STATE = "clap.state";
constexpr const char *CLAP_EXT_PARAMS = "clap.params";
constexpr const char *CLAP_EXT_GUI = "clap.gui";
constexpr const char *CLAP_PORT_MONO = "mono";
constexpr const char *CLAP_PORT_STEREO = "stereo";

enum : uint32_t {
  CLAP_AUDIO_PORT_IS_MAIN = 1,
  CLAP_AUDIO_PORT_SUPPORTS_64BITS = 2,
  CLAP_AUDIO_PORT_PREFERS_64BITS = 4,
  CLAP_AUDIO_PORT_REQUIRES_COMMON_SAMPLE_SIZE = 8,
};
enum : uint32_t { CLAP_AUDIO_PORTS_RESCAN_NAMES = 1, CLAP_AUDIO_PORTS_RESCAN_LIST = 32 };

struct clap_audio_port_info_t {
  clap_id id;
  char name[CLAP_NAME_SIZE];
  uint32_t flags;
  uint32_t channel_count;
  const char *port_type;
  clap_id in_place_pair;
};
struct clap_plugin_audio_ports_t {
  uint32_t (*count)(const clap_plugin_t *plugin, bool is_input);
  bool (*get)(const clap_plugin_t *plugin, uint32_t index, bool is_input, clap_audio_port_info_t *info);
};
struct clap_host_audio_ports_t {
  bool (*is_rescan_flag_supported)(const clap_host_t *host, uint32_t flag);
  void (*rescan)(const clap_host_t *host, uint32_t flags);
};

struct clap_plugin_latency_t {
  uint32_t (*get)(const clap_plugin_t *plugin);
};
struct clap_host_latency_t {
  void (*changed)(const clap_host_t *host);
};
struct clap_plugin_tail_t {
  uint32_t (*get)(const clap_plugin_t *plugin);
};
struct clap_host_tail_t {
  void (*changed)(const clap_host_t *host);
};
struct clap_plugin_state_t {
  bool (*save)(const clap_plugin_t *plugin, const clap_ostream_t *stream);
  bool (*load)(const clap_plugin_t *plugin, const clap_istream_t *stream);
};
struct clap_host_state_t {
  void (*mark_dirty)(const clap_host_t *host);
};

enum : uint32_t {
  CLAP_PARAM_IS_STEPPED = 1,
  CLAP_PARAM_IS_PERIODIC = 2,
  CLAP_PARAM_IS_HIDDEN = 4,
  CLAP_PARAM_IS_READONLY = 8,
  CLAP_PARAM_IS_BYPASS = 16,
  CLAP_PARAM_IS_AUTOMATABLE = 32,
};
enum : uint32_t {
  CLAP_PARAM_RESCAN_VALUES = 1,
  CLAP_PARAM_RESCAN_TEXT = 2,
  CLAP_PARAM_RESCAN_INFO = 4,
  CLAP_PARAM_RESCAN_ALL = 8,
};
struct clap_param_info_t {
  clap_id id;
  uint32_t flags;
  void *cookie;
  char name[CLAP_NAME_SIZE];
  char module[CLAP_PATH_SIZE];
  double min_value, max_value, default_value;
};
struct clap_plugin_params_t {
  uint32_t (*count)(const clap_plugin_t *plugin);
  bool (*get_info)(const clap_plugin_t *plugin, uint32_t param_index, clap_param_info_t *param_info);
  bool (*get_value)(const clap_plugin_t *plugin, clap_id param_id, double *out_value);
  bool (*value_to_text)(const clap_plugin_t *plugin, clap_id param_id, double value, char *out_buffer,
                        uint32_t out_buffer_capacity);
  bool (*text_to_value)(const clap_plugin_t *plugin, clap_id param_id, const char *param_value_text,
                        double *out_value);
  void (*flush)(const clap_plugin_t *plugin, const clap_input_events_t *in, const clap_output_events_t *out);
};
struct clap_host_params_t {
  void (*rescan)(const clap_host_t *host, uint32_t flags);
  void (*clear)(const clap_host_t *host, clap_id param_id, uint32_t flags);
  void (*request_flush)(const clap_host_t *host);
};

constexpr const char *CLAP_WINDOW_API_WIN32 = "win32";
constexpr const char *CLAP_WINDOW_API_X11 = "x11";
constexpr const char *CLAP_EXT_TIMER_SUPPORT = "clap.timer-support";
constexpr const char *CLAP_EXT_POSIX_FD_SUPPORT = "clap.posix-fd-support";
enum : uint32_t { CLAP_POSIX_FD_READ = 1, CLAP_POSIX_FD_WRITE = 2, CLAP_POSIX_FD_ERROR = 4 };

struct clap_plugin_timer_support_t {
  void (*on_timer)(const clap_plugin_t *plugin, clap_id timer_id);
};
struct clap_host_timer_support_t {
  bool (*register_timer)(const clap_host_t *host, uint32_t period_ms, clap_id *timer_id);
  bool (*unregister_timer)(const clap_host_t *host, clap_id timer_id);
};
struct clap_plugin_posix_fd_support_t {
  void (*on_fd)(const clap_plugin_t *plugin, int fd, uint32_t flags);
};
struct clap_host_posix_fd_support_t {
  bool (*register_fd)(const clap_host_t *host, int fd, uint32_t flags);
  bool (*modify_fd)(const clap_host_t *host, int fd, uint32_t flags);
  bool (*unregister_fd)(const clap_host_t *host, int fd);
};

struct clap_window_t {
  const char *api;
  union {
    void *cocoa;
    unsigned long x11;
    void *win32;
    void *ptr;
  };
};
struct clap_gui_resize_hints_t {
  bool can_resize_horizontally, can_resize_vertically, preserve_aspect_ratio;
  uint32_t aspect_ratio_width, aspect_ratio_height;
};
struct clap_plugin_gui_t {
  bool (*is_api_supported)(const clap_plugin_t *plugin, const char *api, bool is_floating);
  bool (*get_preferred_api)(const clap_plugin_t *plugin, const char **api, bool *is_floating);
  bool (*create)(const clap_plugin_t *plugin, const char *api, bool is_floating);
  void (*destroy)(const clap_plugin_t *plugin);
  bool (*set_scale)(const clap_plugin_t *plugin, double scale);
  bool (*get_size)(const clap_plugin_t *plugin, uint32_t *width, uint32_t *height);
  bool (*can_resize)(const clap_plugin_t *plugin);
  bool (*get_resize_hints)(const clap_plugin_t *plugin, clap_gui_resize_hints_t *hints);
  bool (*adjust_size)(const clap_plugin_t *plugin, uint32_t *width, uint32_t *height);
  bool (*set_size)(const clap_plugin_t *plugin, uint32_t width, uint32_t height);
  bool (*set_parent)(const clap_plugin_t *plugin, const clap_window_t *window);
  bool (*set_transient)(const clap_plugin_t *plugin, const clap_window_t *window);
  void (*suggest_title)(const clap_plugin_t *plugin, const char *title);
  bool (*show)(const clap_plugin_t *plugin);
  bool (*hide)(const clap_plugin_t *plugin);
};
struct clap_host_gui_t {
  void (*resize_hints_changed)(const clap_host_t *host);
  bool (*request_resize)(const clap_host_t *host, uint32_t width, uint32_t height);
  bool (*request_show)(const clap_host_t *host);
  bool (*request_hide)(const clap_host_t *host);
  void (*closed)(const clap_host_t *host, bool was_destroyed);
};

}  // extern "C"

#if UINTPTR_MAX == UINT64_MAX
static_assert(sizeof(clap_plugin_entry_t) == 40 && offsetof(clap_plugin_entry_t, init) == 16);
static_assert(sizeof(clap_plugin_factory_t) == 24);
static_assert(sizeof(clap_plugin_descriptor_t) == 88 && offsetof(clap_plugin_descriptor_t, id) == 16 &&
              offsetof(clap_plugin_descriptor_t, features) == 80);
static_assert(sizeof(clap_plugin_t) == 96 && offsetof(clap_plugin_t, process) == 72 &&
              offsetof(clap_plugin_t, on_main_thread) == 88);
static_assert(sizeof(clap_host_t) == 88 && offsetof(clap_host_t, host_data) == 16 &&
              offsetof(clap_host_t, request_callback) == 80);
static_assert(sizeof(clap_process_t) == 64 && offsetof(clap_process_t, transport) == 16 &&
              offsetof(clap_process_t, audio_inputs_count) == 40 && offsetof(clap_process_t, out_events) == 56);
static_assert(sizeof(clap_audio_buffer_t) == 32 && offsetof(clap_audio_buffer_t, channel_count) == 16);
static_assert(sizeof(clap_event_header_t) == 16 && offsetof(clap_event_header_t, type) == 10);
static_assert(sizeof(clap_event_note_t) == 40 && offsetof(clap_event_note_t, velocity) == 32);
static_assert(sizeof(clap_event_note_expression_t) == 40 && offsetof(clap_event_note_expression_t, value) == 32);
static_assert(sizeof(clap_event_param_value_t) == 56 && offsetof(clap_event_param_value_t, cookie) == 24 &&
              offsetof(clap_event_param_value_t, value) == 48);
static_assert(sizeof(clap_event_param_gesture_t) == 20);
static_assert(sizeof(clap_event_transport_t) == 104 && offsetof(clap_event_transport_t, tempo) == 40 &&
              offsetof(clap_event_transport_t, tsig_num) == 100);
static_assert(sizeof(clap_event_midi_t) == 24 && offsetof(clap_event_midi_t, data) == 18);
static_assert(sizeof(clap_input_events_t) == 24 && sizeof(clap_output_events_t) == 16);
static_assert(sizeof(clap_istream_t) == 16 && sizeof(clap_ostream_t) == 16);
static_assert(sizeof(clap_audio_port_info_t) == 288 && offsetof(clap_audio_port_info_t, port_type) == 272 &&
              offsetof(clap_audio_port_info_t, in_place_pair) == 280);
static_assert(sizeof(clap_param_info_t) == 1320 && offsetof(clap_param_info_t, module) == 272 &&
              offsetof(clap_param_info_t, default_value) == 1312);
static_assert(sizeof(clap_plugin_params_t) == 48 && sizeof(clap_host_params_t) == 24);
static_assert(sizeof(clap_window_t) == 16 && sizeof(clap_gui_resize_hints_t) == 12);
static_assert(sizeof(clap_plugin_gui_t) == 120 && sizeof(clap_host_gui_t) == 40);
static_assert(sizeof(clap_host_timer_support_t) == 16 && sizeof(clap_host_posix_fd_support_t) == 24);
#endif
