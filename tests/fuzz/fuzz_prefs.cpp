// Fuzzes the preferences reader with arbitrary file contents, both stages.
#include <cstdint>

#include "io/prefs.h"
#include "memory_host.h"
#include "state/params.h"
#include "system/instance.h"

namespace {
inst_t *instance() {
  static memory_host host;
  static inst_t *ci = tarvelon_create_hosted_instance(nullptr, 16, memory_host::callbacks(), &host, nullptr);
  static bool declared = [] {
    tarvelon_define_plugin_params(ci);
    return true;
  }();
  (void)declared;
  return ci;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  inst_t *ci = instance();
  const char *text = reinterpret_cast<const char *>(data);
  tarvelon_load_prefs_from_memory(ci, 0, text, size);
  tarvelon_load_prefs_from_memory(ci, 1, text, size);
  return 0;
}
