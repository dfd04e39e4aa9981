// UTF-8 <-> UTF-16 conversion bounded by the destination: the output is always
// terminated, malformed input becomes U+FFFD, nothing is read past a NUL or
// written past `capacity` units.
#pragma once
#include <cstddef>

// Returns the number of UTF-16 units written (without the terminator).
size_t vl_utf8_to_utf16(const char *src, char16_t *dst, size_t capacity) noexcept;
// Returns the number of bytes written (without the terminator).
size_t vl_utf16_to_utf8(const char16_t *src, char *dst, size_t capacity) noexcept;
