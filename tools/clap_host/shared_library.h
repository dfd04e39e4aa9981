// Loading a plug-in library by path on either platform. Paths are UTF-8; on
// Windows they are widened so a folder with non-ASCII letters still loads.
#pragma once
#include <string>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace shared_library {

#ifdef _WIN32
inline std::wstring widen(const std::string &s) {
  if (s.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), nullptr, 0);
  std::wstring w(size_t(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), w.data(), n);
  return w;
}

inline void *open(const std::string &path, std::string *error = nullptr) {
  HMODULE m = LoadLibraryW(widen(path).c_str());
  if (!m && error) *error = "LoadLibrary failed with error " + std::to_string(GetLastError());
  return reinterpret_cast<void *>(m);
}
inline void *symbol(void *lib, const char *name) {
  return lib ? reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(lib), name)) : nullptr;
}
inline void close(void *lib) {
  if (lib) FreeLibrary(static_cast<HMODULE>(lib));
}
#else
inline void *open(const std::string &path, std::string *error = nullptr) {
  // A name without a slash would make the loader search the system folders,
  // not the file the caller named.
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  void *lib = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!lib && error) *error = dlerror();
  return lib;
}
inline void *symbol(void *lib, const char *name) { return lib ? dlsym(lib, name) : nullptr; }
inline void close(void *lib) {
  if (lib) dlclose(lib);
}
#endif

}  // namespace shared_library
