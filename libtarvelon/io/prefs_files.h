// Where the preferences file lives and the few file operations its writer
// needs, for each platform. Paths are UTF-8 everywhere; on Windows they are
// widened at the system call, so a user name with non-ASCII letters works.
#pragma once
#include <cstddef>
#include <cstdio>

FILE *prefs_open(const char *path, const char *mode) noexcept;
void prefs_remove(const char *path) noexcept;
// Makes every missing folder above the file (owner-only where that means
// something); false when one cannot be made.
bool prefs_make_parent_folders(const char *path) noexcept;
// Puts `from` in the place of `to` in one step, replacing any old file.
bool prefs_replace(const char *from, const char *to) noexcept;
