// The per-user preferences file "Tarvelon Preferences.dat": editor size,
// preset folder, engine sizes, limiter and display settings, as eleven text
// lines. Shared by all instances; the last writer wins.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

struct inst_t;

// Full path of the file in the per-user configuration folder
// ($XDG_CONFIG_HOME, else ~/.config; %APPDATA% on Windows). false when unknown.
bool tarvelon_prefs_path(char *buf, size_t size) noexcept;
FILE *tarvelon_open_prefs_file(const char *mode) noexcept;
// Writes all eleven lines through a temporary file renamed over the old one,
// making the folder (owner-only) when it is missing. On failure the old file
// stays as it was, the save stays pending for the next attempt, and the result
// is false. [GUI or main thread]
bool tarvelon_save_prefs(inst_t *ci) noexcept;
// Stage 0: editor size; stage 1: everything else. A missing file changes
// nothing (stage 0 still sets the default size). [creation]
void tarvelon_load_prefs(inst_t *ci, int32_t stage) noexcept;
// The same reader over a memory buffer of len bytes (any content).
void tarvelon_load_prefs_from_memory(inst_t *ci, int32_t stage, const char *data, size_t len) noexcept;
void tarvelon_remember_gui_size(inst_t *ci, int32_t width, int32_t height) noexcept;
