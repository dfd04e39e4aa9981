#include "support/prefs_folder.h"

#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "shared_library.h"

namespace {
constexpr const wchar_t *kShellFolders = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
bool g_saved = false;
bool g_had_value = false;
std::wstring g_old;

std::string narrow(const std::wstring &w) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string s(size_t(n > 0 ? n - 1 : 0), '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, s.data(), n, nullptr, nullptr);
  return s;
}

std::wstring read_value() {
  wchar_t buf[2048];
  DWORD size = sizeof buf;
  if (RegGetValueW(HKEY_CURRENT_USER, kShellFolders, L"AppData", RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                   nullptr, buf, &size) != ERROR_SUCCESS)
    return {};
  return buf;
}

void write_value(const std::wstring &v) {
  HKEY k;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kShellFolders, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr) != 0) return;
  RegSetValueExW(k, L"AppData", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE *>(v.c_str()),
                 DWORD((v.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(k);
}
}  // namespace

std::string make_temp_folder() {
  wchar_t base[MAX_PATH];
  if (!GetTempPathW(MAX_PATH, base)) return {};
  for (unsigned i = 0; i < 1000; i++) {
    const std::wstring dir = std::wstring(base) + L"tarvelon-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                             std::to_wstring(GetTickCount() + i);
    if (CreateDirectoryW(dir.c_str(), nullptr)) return narrow(dir);
  }
  return {};
}

void remove_folder(const std::string &dir) {
  // Our tests leave only plain files one or two levels down.
  const std::wstring w = shared_library::widen(dir);
  std::wstring pattern = w + L"\\*";
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW(pattern.c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = fd.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = w + L"\\" + name;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        remove_folder(narrow(path));
      else
        DeleteFileW(path.c_str());
    } while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  RemoveDirectoryW(w.c_str());
}

std::string prefs_folder() { return narrow(read_value()); }

void set_prefs_folder(const std::string &dir) {
  if (!g_saved) {
    g_old = read_value();
    g_had_value = !g_old.empty();
    g_saved = true;
  }
  write_value(shared_library::widen(dir));
}

void restore_prefs_folder() {
  if (!g_saved) return;
  if (g_had_value) {
    write_value(g_old);
  } else {
    HKEY k;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kShellFolders, 0, KEY_SET_VALUE, &k) == 0) {
      RegDeleteValueW(k, L"AppData");
      RegCloseKey(k);
    }
  }
  g_saved = false;
}
#else
#include <unistd.h>

std::string make_temp_folder() {
  char dir[] = "/tmp/tarvelon-test-XXXXXX";
  return mkdtemp(dir) ? dir : "";
}

void remove_folder(const std::string &dir) {
  if (dir.empty()) return;
  std::system(("rm -rf '" + dir + "'").c_str());
}

std::string prefs_folder() {
  const char *v = std::getenv("XDG_CONFIG_HOME");
  return v ? v : "";
}

void set_prefs_folder(const std::string &dir) { setenv("XDG_CONFIG_HOME", dir.c_str(), 1); }

void restore_prefs_folder() {}
#endif
