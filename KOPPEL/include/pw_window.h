// The seam between a platform window layer (X11 now, Win32 beside it) and the
// editor it shows: the events a window hands the editor, the five functions the
// editor side implements, and the services a window offers it.
#pragma once
#include <cstddef>
#include <cstdint>

struct KoppelWindow;  // one per open editor, owned by the window layer

enum PWEventType : uint32_t {
  PW_EVENT_RESIZE_BEGIN = 0,
  PW_EVENT_RESIZE_UPDATE = 1,
  PW_EVENT_RESIZE_END = 2,
  PW_EVENT_CONTENT_SCALE_FACTOR_CHANGED = 3,
  PW_EVENT_MOUSE_EXIT = 4,
  PW_EVENT_MOUSE_ENTER = 5,
  PW_EVENT_MOUSE_MOVE = 6,
  PW_EVENT_MOUSE_WHEEL = 7,
  PW_EVENT_MOUSE_SCROLL_WHEEL = 7,
  PW_EVENT_MOUSE_TOUCHPAD_BEGIN = 8,
  PW_EVENT_MOUSE_TOUCHPAD_MOVE = 9,
  PW_EVENT_MOUSE_TOUCHPAD_END = 10,
  PW_EVENT_MOUSE_LEFT_DOWN = 11,
  PW_EVENT_MOUSE_RIGHT_DOWN = 12,
  PW_EVENT_MOUSE_MIDDLE_DOWN = 13,
  PW_EVENT_MOUSE_LEFT_UP = 14,
  PW_EVENT_MOUSE_RIGHT_UP = 15,
  PW_EVENT_MOUSE_MIDDLE_UP = 16,
  PW_EVENT_KEY_DOWN = 17,
  PW_EVENT_KEY_UP = 18,
  PW_EVENT_TEXT = 19,
  PW_EVENT_KEY_FOCUS_LOST = 20,
  PW_EVENT_FILE_ENTER = 21,
  PW_EVENT_FILE_MOVE = 22,
  PW_EVENT_FILE_DROP = 23,
  PW_EVENT_FILE_EXIT = 24,
};

enum : uint32_t {
  PW_MOD_LEFT_BUTTON = 1,
  PW_MOD_RIGHT_BUTTON = 2,
  PW_MOD_MIDDLE_BUTTON = 4,
  PW_MOD_KEY_CTRL = 8,
  PW_MOD_PLATFORM_KEY_CTRL = 8,
  PW_MOD_KEY_ALT = 16,
  PW_MOD_PLATFORM_KEY_ALT = 16,
  PW_MOD_KEY_SHIFT = 32,
  PW_MOD_KEY_CMD = 64,
  PW_MOD_KEY_OPTION = 128,
  PW_MOD_KEY_REPEAT = 256,
  PW_MOD_INVERTED_SCROLL = 512,
};

// Key codes carry the values of the Windows virtual keys on every platform.
enum PWVirtualKey : uint32_t {
  PW_KEY_NONE = 0,
  PW_KEY_BACKSPACE = 8,
  PW_KEY_TAB = 9,
  PW_KEY_CLEAR = 12,
  PW_KEY_ENTER = 13,
  PW_KEY_PLATFORM_ENTER = 13,
  PW_KEY_PLATFORM_RETURN = 13,
  PW_KEY_SHIFT = 16,
  PW_KEY_CTRL = 17,
  PW_KEY_ALT = 18,
  PW_KEY_ESCAPE = 27,
  PW_KEY_SPACEBAR = 32,
  PW_KEY_PAGE_UP = 33,
  PW_KEY_PAGE_DOWN = 34,
  PW_KEY_END = 35,
  PW_KEY_HOME = 36,
  PW_KEY_ARROW_LEFT = 37,
  PW_KEY_ARROW_UP = 38,
  PW_KEY_ARROW_RIGHT = 39,
  PW_KEY_ARROW_DOWN = 40,
  PW_KEY_INSERT = 45,
  PW_KEY_DELETE = 46,
  PW_KEY_0 = 48,
  PW_KEY_9 = 57,
  PW_KEY_A = 65,
  PW_KEY_Y = 89,
  PW_KEY_Z = 90,
  PW_KEY_F1 = 112,
  PW_KEY_F24 = 135,
  PW_KEY_SHIFT_LEFT = 160,
  PW_KEY_SHIFT_RIGHT = 161,
  PW_KEY_CTRL_LEFT = 162,
  PW_KEY_CTRL_RIGHT = 163,
  PW_KEY_ALT_LEFT = 164,
  PW_KEY_ALT_RIGHT = 165,
  PW_KEY_MEDIA_NEXT = 176,
  PW_KEY_MEDIA_PREV = 177,
  PW_KEY_MEDIA_STOP = 178,
  PW_KEY_MEDIA_PLAY_PAUSE = 179,
  PW_KEY_OEM_1 = 186,
  PW_KEY_PLUS = 187,
  PW_KEY_COMMA = 188,
  PW_KEY_MINUS = 189,
  PW_KEY_PERIOD = 190,
  PW_KEY_OEM_2 = 191,
  PW_KEY_OEM_3 = 192,
  PW_KEY_OEM_4 = 219,
  PW_KEY_OEM_5 = 220,
  PW_KEY_OEM_6 = 221,
  PW_KEY_OEM_7 = 222,
  PW_KEY_PLAY = 250,
  PW_KEY_ZOOM = 251,
};

enum PWResizeDirection : uint32_t {
  PW_RESIZE_UNKNOWN = 0,
  PW_RESIZE_LEFT,
  PW_RESIZE_RIGHT,
  PW_RESIZE_TOP,
  PW_RESIZE_TOPLEFT,
  PW_RESIZE_TOPRIGHT,
  PW_RESIZE_BOTTOM,
  PW_RESIZE_BOTTOMLEFT,
  PW_RESIZE_BOTTOMRIGHT,
};

enum PWCursorType : int32_t {
  PW_CURSOR_ARROW = 0,
  PW_CURSOR_DEFAULT = 0,
  PW_CURSOR_IBEAM,
  PW_CURSOR_NO,
  PW_CURSOR_CROSS,
  PW_CURSOR_ARROW_DRAG,
  PW_CURSOR_HAND_POINT,
  PW_CURSOR_HAND_DRAGGABLE,
  PW_CURSOR_HAND_DRAGGING,
  PW_CURSOR_RESIZE_WE,
  PW_CURSOR_RESIZE_NS,
  PW_CURSOR_RESIZE_NESW,
  PW_CURSOR_RESIZE_NWSE,
};

struct PWEvent {
  PWEventType type;
  void *gui;  // the editor the event is for
  union {
    struct {
      uint32_t width, height;
      PWResizeDirection direction;
    } resize;
    float content_scale_factor;
    struct {
      float x, y;  // client pixels; a wheel event has x = 0 and y = the signed delta (120 a notch)
      uint32_t modifiers;
      uint32_t time_ms;
      uint32_t double_click_interval_ms;
    } mouse;
    struct {
      PWVirtualKey virtual_key;
      uint32_t modifiers;
    } key;
    struct {
      uint32_t codepoint;  // the UTF-8 bytes of one character, first byte lowest
      uint32_t modifiers;
    } text;
    struct {
      float x, y;
      const char *const *paths;
      uint32_t num_paths;
    } file;
  };
};

enum PWInfoType : uint32_t { PW_INFO_INIT_SIZE = 0, PW_INFO_CONSTRAIN_SIZE = 1 };

struct PWGetInfo {
  PWInfoType type;
  union {
    struct {
      void *plugin;
      uint32_t width, height;
    } init_size;
    struct {
      void *gui;
      uint32_t width, height;
      PWResizeDirection direction;
    } constrain_size;
  };
};

using pw_choose_file_callback = void (*)(void *callback_data, const char *const *paths, uint32_t num_paths);

struct PWChooseFileArgs {
  KoppelWindow *pw;
  void *callback_data;
  pw_choose_file_callback callback;
  bool is_save, is_folder, multiselect;
  uint32_t num_extensions;
  const char *const *extension_names;
  const char *const *extension_types;
  const char *title, *folder, *filename;
};

// Implemented by the editor side, called by the window layer on the GUI thread.
void pw_get_info(PWGetInfo *info) noexcept;
void *pw_create_gui(void *plugin, KoppelWindow *pw) noexcept;
void pw_destroy_gui(void *gui) noexcept;
void pw_tick(void *gui) noexcept;
bool pw_event(const PWEvent *event) noexcept;
// The window lost its pixels (uncovered, remapped): present the last frame again.
void pw_expose(void *gui) noexcept;

// Services of the window layer. Every one accepts a null window and then does
// nothing (or reports failure). [GUI thread]
void *pw_get_native_window(KoppelWindow *pw) noexcept;
// Copies a frame (0x00RRGGBB, rows top down) unscaled to the window's corner.
void pw_present(KoppelWindow *pw, const uint32_t *pixels, uint32_t width, uint32_t height) noexcept;
// Only the rectangle at (x, y) of rw × rh pixels of that frame (clipped to it).
void pw_present_rect(KoppelWindow *pw, const uint32_t *pixels, uint32_t width, uint32_t height, uint32_t x, uint32_t y,
                     uint32_t rw, uint32_t rh) noexcept;
void pw_get_keyboard_focus(KoppelWindow *pw) noexcept;
void pw_release_keyboard_focus(KoppelWindow *pw) noexcept;
bool pw_check_keyboard_focus(KoppelWindow *pw) noexcept;
void pw_set_clipboard_text(KoppelWindow *pw, const char *text) noexcept;
// A new NUL-terminated UTF-8 copy of the clipboard's text and its length in
// bytes (terminator included); null and 0 when there is none.
bool pw_get_clipboard_text(KoppelWindow *pw, char **text, size_t *length) noexcept;
void pw_free_clipboard_text(char *text) noexcept;
void pw_set_mouse_cursor(KoppelWindow *pw, int32_t type) noexcept;
bool pw_choose_file(const PWChooseFileArgs *args) noexcept;
// The same dialog for a caller that needs the answer at once (no window is
// needed; args->pw, callback and multiselect are ignored): waits for it while
// serving the calling thread's messages. The chosen UTF-8 path in `out`; false
// after a cancel, on failure, for a path that does not fit, or where the
// platform has no dialog.
bool pw_prompt_for_file(const PWChooseFileArgs *args, char *out, size_t size) noexcept;
void pw_drag_files(KoppelWindow *pw, const char *const *paths, uint32_t num_paths) noexcept;
void pw_beep() noexcept;
void pw_get_screen_size(uint32_t *width, uint32_t *height) noexcept;
float pw_get_content_scale_factor(KoppelWindow *pw) noexcept;
float pw_get_backing_scale_factor(KoppelWindow *pw) noexcept;
