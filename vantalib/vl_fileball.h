// An embedded file bundle ("fileball 1.0"): a header line, then for each
// member a newline, its path, a newline, its length in decimal, a newline and
// exactly that many bytes. Parsing uses explicit lengths only.
#pragma once
#include <cstddef>
#include <cstdint>

struct buffer_t {
  uint8_t *buf;  // writable: paths are terminated in place
  size_t as;     // bytes allocated
  size_t len;    // bytes used
};

struct fileball_subfile_t {
  char *path;  // zero-terminated, inside the bundle
  uint8_t *data;
  size_t len;
};

struct fileball_t {
  int file_count;
  fileball_subfile_t *file;  // malloc'd array, free with fileball_free
  uint8_t *original_array;
};

// The index of a bundle; empty for a bad header. Members whose path or length
// cannot be read, or whose length exceeds the bytes left, end the scan.
fileball_t fileball_extract_mem_to_struct(buffer_t *s) noexcept;
// The first member whose path equals `path` byte for byte, or null.
fileball_subfile_t *fileball_find_subfile(fileball_t *index, const char *path) noexcept;
void fileball_free(fileball_t *index) noexcept;
