#include "io/prefs_files.h"

#include "io/prefs.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shlobj.h>
#include <wchar.h>
#endif

namespace {
constexpr const char *kFileName = "Tarvelon Preferences.dat";
constexpr size_t kMaxPath = 4096;

#ifdef _WIN32
constexpr char kSeparator = '\\';

// UTF-8 to UTF-16 into `out` (terminated); false when it does not fit or the
// text is not valid UTF-8.
bool widen(const char *s, wchar_t *out, int units) {
  if (!s || units <= 0) return false;
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s, -1, out, units);
  if (n <= 0) {
    out[0] = 0;
    return false;
  }
  return true;
}

bool application_data_folder(char *buf, size_t size) {
  wchar_t folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, folder))) {
    // A configured folder that does not exist yet (a fresh or moved profile)
    // is still the right place: the writer makes it.
    folder[0] = 0;
    const HRESULT hr = SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder);
    if (hr != HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) && hr != HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) && FAILED(hr))
      return false;
    if (!folder[0] || folder[1] != L':') return false;
  }
  const int n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, folder, -1, buf, int(size), nullptr, nullptr);
  return n > 1;
}
#else
constexpr char kSeparator = '/';
#endif

bool is_separator(char c) { return c == '/' || (kSeparator == '\\' && c == '\\'); }

// Whether `dir` is an existing folder; makes it when missing.
bool ensure_folder(const char *dir) {
#ifdef _WIN32
  wchar_t w[kMaxPath];
  if (!widen(dir, w, int(kMaxPath))) return false;
  const DWORD attributes = GetFileAttributesW(w);
  if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return CreateDirectoryW(w, nullptr) != 0;
#else
  struct stat st{};
  if (stat(dir, &st) == 0) return S_ISDIR(st.st_mode);
  return mkdir(dir, 0700) == 0;
#endif
}
}  // namespace

// $XDG_CONFIG_HOME (else ~/.config) on Linux, the per-user application-data
// folder on Windows.
bool tarvelon_prefs_path(char *buf, size_t size) noexcept {
  if (!buf || size == 0) return false;
  buf[0] = 0;
  char base[kMaxPath];
#ifdef _WIN32
  if (!application_data_folder(base, sizeof base)) return false;
  const char *suffix = "";
#else
  const char *env = std::getenv("XDG_CONFIG_HOME");
  const char *suffix = "";
  if (!env || !env[0]) {
    env = std::getenv("HOME");
    suffix = "/.config";
  }
  if (!env || !env[0] || std::strlen(env) >= sizeof base) return false;
  std::strcpy(base, env);
#endif
  const int n = std::snprintf(buf, size, "%s%s%c%s", base, suffix, kSeparator, kFileName);
  if (n < 0 || size_t(n) >= size) {
    buf[0] = 0;
    return false;
  }
  return true;
}

FILE *prefs_open(const char *path, const char *mode) noexcept {
  if (!path || !mode) return nullptr;
#ifdef _WIN32
  wchar_t wpath[kMaxPath], wmode[8];
  if (!widen(path, wpath, int(kMaxPath)) || !widen(mode, wmode, 8)) return nullptr;
  return _wfopen(wpath, wmode);
#else
  return std::fopen(path, mode);
#endif
}

void prefs_remove(const char *path) noexcept {
  if (!path) return;
#ifdef _WIN32
  wchar_t w[kMaxPath];
  if (widen(path, w, int(kMaxPath))) DeleteFileW(w);
#else
  std::remove(path);
#endif
}

bool prefs_make_parent_folders(const char *path) noexcept {
  if (!path) return false;
  char dir[kMaxPath];
  if (std::snprintf(dir, sizeof dir, "%s", path) >= int(sizeof dir)) return false;
  char *last = nullptr;
  for (char *p = dir; *p; p++)
    if (is_separator(*p)) last = p;
  if (!last || last == dir) return true;
  *last = 0;
  if (ensure_folder(dir)) return true;  // there already (or made: only its last level was missing)
  // Walk down from the top; a drive ("C:"), the root, and the server and
  // share of a network path ("\\server\share", a redirected profile) need no making.
  const bool network = kSeparator == '\\' && is_separator(dir[0]) && is_separator(dir[1]);
  int levels = 0;
  for (char *p = dir + (network ? 2 : 1);; p++) {
    const bool end = *p == 0;
    if (end || is_separator(*p)) {
      const char saved = *p;
      *p = 0;
      const bool drive = p - dir == 2 && dir[1] == ':';
      const bool share = network && ++levels <= 2;
      if (!drive && !share && !ensure_folder(dir)) return false;
      *p = saved;
    }
    if (end) break;
  }
  return true;
}

bool prefs_replace(const char *from, const char *to) noexcept {
  if (!from || !to) return false;
#ifdef _WIN32
  // rename() refuses an existing target on Windows: the old file would stay forever.
  wchar_t wfrom[kMaxPath], wto[kMaxPath];
  if (!widen(from, wfrom, int(kMaxPath)) || !widen(to, wto, int(kMaxPath))) return false;
  return MoveFileExW(wfrom, wto, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
  return std::rename(from, to) == 0;
#endif
}
