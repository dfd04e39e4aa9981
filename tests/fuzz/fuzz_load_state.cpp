// Fuzzes saved-state loading: any byte stream, delivered in chunks whose size
// the first input byte chooses.
#include <cstdint>
#include <cstring>

#include "koppel_interface.h"
#include "tarvelon_koppel.h"

namespace {
struct stream {
  const uint8_t *data;
  size_t size, pos, chunk;
};

int64_t read(void *s, void *buf, int64_t n) {
  auto *st = static_cast<stream *>(s);
  size_t k = size_t(n) < st->chunk ? size_t(n) : st->chunk;
  if (k > st->size - st->pos) k = st->size - st->pos;
  std::memcpy(buf, st->data + st->pos, k);
  st->pos += k;
  return int64_t(k);
}

KoppelHostContext g_host{};
TarvelonKoppelPlugin *plugin() {
  static TarvelonKoppelPlugin *p = koppel_createPlugin(&g_host);
  return p;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  stream s{data + 1, size - 1, 0, size_t(data[0] % 17) + 1};
  koppel_loadState(plugin(), &s, read);
  return 0;
}
