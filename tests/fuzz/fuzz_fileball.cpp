// Fuzzes the resource-bundle reader: any bytes, then every lookup of the
// members it found and of a few fixed paths.
#include <cstdint>
#include <cstring>
#include <vector>

#include "vl_fileball.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<uint8_t> copy(data, data + size);  // the reader writes path terminators in place
  buffer_t b{copy.data(), copy.size(), copy.size()};
  fileball_t fb = fileball_extract_mem_to_struct(&b);
  for (int i = 0; i < fb.file_count; i++) {
    fileball_subfile_t *m = fileball_find_subfile(&fb, fb.file[i].path);
    volatile uint8_t sink = 0;
    for (size_t k = 0; m && k < m->len; k++) sink = sink ^ m->data[k];  // every byte must be inside the copy
  }
  fileball_find_subfile(&fb, "resources/img/logo.png");
  fileball_free(&fb);
  return 0;
}
