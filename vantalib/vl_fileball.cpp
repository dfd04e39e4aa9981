#include "vl_fileball.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "vl_numtext.h"

namespace {
bool grow(fileball_t &fb, int &cap) {
  if (fb.file_count < cap) return true;
  const int ncap = cap ? cap * 2 : 16;
  auto *p = static_cast<fileball_subfile_t *>(std::realloc(fb.file, sizeof(fileball_subfile_t) * size_t(ncap)));
  if (!p) return false;
  fb.file = p;
  cap = ncap;
  return true;
}
}  // namespace

fileball_t fileball_extract_mem_to_struct(buffer_t *s) noexcept {
  fileball_t fb{};
  if (!s || !s->buf) return fb;
  uint8_t *b = s->buf;
  const size_t n = std::min(s->len, s->as ? s->as : s->len);
  fb.original_array = b;
  static const char kMagic[] = "fileball ";
  if (n < sizeof kMagic - 1 || std::memcmp(b, kMagic, sizeof kMagic - 1) != 0) return fb;
  double version = 0;
  const size_t used = vl_parse_double(reinterpret_cast<const char *>(b) + sizeof kMagic - 1,
                                      n - (sizeof kMagic - 1), &version);
  if (!used) return fb;
  size_t pos = sizeof kMagic - 1 + used;
  int cap = 0;
  while (pos < n && b[pos] == '\n') {
    const size_t path_start = pos + 1;
    const void *nl = std::memchr(b + path_start, '\n', n - path_start);
    if (!nl) break;
    const size_t path_end = size_t(static_cast<uint8_t *>(const_cast<void *>(nl)) - b);
    size_t p = path_end + 1, len = 0, digits = 0;
    while (p < n && b[p] >= '0' && b[p] <= '9' && digits < 19) len = len * 10 + size_t(b[p++] - '0'), digits++;
    if (!digits || p >= n || b[p] != '\n') break;
    const size_t data = p + 1;
    if (len > n - data) break;  // a length beyond the bundle: stop
    if (!grow(fb, cap)) break;
    b[path_end] = 0;
    fb.file[fb.file_count++] = {reinterpret_cast<char *>(b + path_start), b + data, len};
    pos = data + len;
  }
  return fb;
}

fileball_subfile_t *fileball_find_subfile(fileball_t *index, const char *path) noexcept {
  if (!index || !path) return nullptr;
  for (int i = 0; i < index->file_count; i++)
    if (std::strcmp(index->file[i].path, path) == 0) return &index->file[i];
  return nullptr;
}

void fileball_free(fileball_t *index) noexcept {
  if (!index) return;
  std::free(index->file);
  *index = fileball_t{};
}
