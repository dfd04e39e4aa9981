// The Win32 window layer's record and the helpers its files share. Everything
// runs on the host's GUI thread, except the file dialog's own thread.
#pragma once
// Wide-character forms of the system's names (cursor ids among them).
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <ole2.h>
#include <shellapi.h>  // HDROP

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pw_window.h"

struct KoppelHostContext;
struct TarvelonKoppelPlugin;

// UTF-8 paths of a drag in progress.
struct pw_path_list {
  char **paths = nullptr;
  uint32_t count = 0;
  void clear() noexcept;  // frees and leaves the list empty (null, 0)
};

// OLE drop target registered for the window: files dragged onto the editor.
struct PWDropTarget final : IDropTarget {
  KoppelWindow *pw = nullptr;
  std::atomic<LONG> RefCount{1};
  pw_path_list files;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE DragEnter(IDataObject *data, DWORD keys, POINTL pt, DWORD *effect) override;
  HRESULT STDMETHODCALLTYPE DragOver(DWORD keys, POINTL pt, DWORD *effect) override;
  HRESULT STDMETHODCALLTYPE DragLeave() override;
  HRESULT STDMETHODCALLTYPE Drop(IDataObject *data, DWORD keys, POINTL pt, DWORD *effect) override;
};

// OLE drop source for files dragged out of the window.
struct PWDropSource final : IDropSource {
  std::atomic<LONG> RefCount{1};
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE QueryContinueDrag(BOOL escape, DWORD keys) override;
  HRESULT STDMETHODCALLTYPE GiveFeedback(DWORD effect) override;
};

struct pw_choose_file_job;  // shared by the window and the dialog thread

struct KoppelWindow {
  void *gui = nullptr;  // null: events are not delivered
  TarvelonKoppelPlugin *plugin = nullptr;
  KoppelHostContext *host_ctx = nullptr;
  wchar_t ClassName[48] = {};
  HWND hwnd = nullptr;
  HWND hParent = nullptr;  // the host's window while attached
  HHOOK hGetMessageHook = nullptr;
  HHOOK hCallWndHook = nullptr;
  bool call_wnd_hook_tried = false;  // installed (or found impossible) once per record
  HWND hPrevKeyboardFocus = nullptr;
  HCURSOR hCursorClosedHand = nullptr;
  HCURSOR hCursorOpenHand = nullptr;
  bool MouseIsOver = false;
  PWResizeDirection ResizeDirection = PW_RESIZE_UNKNOWN;
  float content_scale_factor = 1.0f;
  bool host_scale_set = false;  // the host gave a scale: the monitor's DPI no longer decides it
  bool ole_initialized = false;  // OleInitialize succeeded: undone once on destruction
  bool drop_registered = false;
  PWDropTarget DropTarget;
  PWDropSource DropSource;
  pw_choose_file_job *ChooseFile = nullptr;  // the one dialog in flight
  uint16_t pending_high_surrogate = 0;
  // Tear-down asked for while a file prompt's loop ran on this thread: the
  // editor is ended (end_deferred) or the record freed (free_deferred) after it.
  bool end_deferred = false;
  bool free_deferred = false;
  KoppelWindow *next_deferred = nullptr;
};

// Private window messages.
constexpr UINT WM_PW_TICK = WM_USER + 1;
constexpr UINT WM_PW_FILE_CHOSEN = WM_USER + 2;

// Sends an event to the GUI; false when there is none or it did not use it.
bool win_send(KoppelWindow *w, PWEvent *e) noexcept;
// The record of a window only when the window is one of ours: our window
// procedure, our process, our identifier. Null otherwise.
KoppelWindow *win_record_of(HWND hwnd) noexcept;
// The layer's process-wide window identifier (0 before the first window).
uintptr_t win_unique_id() noexcept;

// UTF-8 <-> UTF-16; invalid input gives an empty result.
std::wstring win_widen(const char *s) noexcept;
std::string win_narrow(const wchar_t *s, int units = -1) noexcept;

// True while pw_prompt_for_file waits in its message loop on this thread.
bool win_prompt_running() noexcept;
// Ends and frees the editors whose tear-down waited for that loop.
void win_run_deferred_teardown() noexcept;

// Completes the file dialog: the private message the dialog thread posts.
void win_finish_choose_file(KoppelWindow *w) noexcept;
// Forgets a dialog still open when the window goes away (its thread cleans up).
void win_abandon_choose_file(KoppelWindow *w) noexcept;
// The dialog's file types: one entry for one extension, else "Supported
// files" first, then one per extension (UTF-16 name and "*.ext" pattern).
std::vector<std::pair<std::wstring, std::wstring>> win_file_types(const PWChooseFileArgs *args) noexcept;

// Most file names one drop hands the editor; the rest are ignored.
constexpr uint32_t kMaxDroppedFiles = 1024;
// The names of a CF_HDROP block as UTF-8, at most kMaxDroppedFiles. A name
// too long for a path slot is skipped; reading stops at one that cannot be
// read or converted.
pw_path_list win_dropped_paths(HDROP drop) noexcept;

// The CF_HDROP block of a drag out of the window: DROPFILES header, UTF-16
// paths, a closing zero. Null when out of memory.
HGLOBAL win_make_drop_files(const char *const *paths, uint32_t num_paths) noexcept;
// A data object offering that block (reference count 1), null on failure.
IDataObject *win_make_dragged_files(const char *const *paths, uint32_t num_paths) noexcept;
