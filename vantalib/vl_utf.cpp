#include "vl_utf.h"

#include <cstdint>

namespace {
constexpr char32_t kReplacement = 0xFFFD;

// Decodes one sequence at s; advances s past it (at least one byte).
char32_t decode_utf8(const unsigned char *&s) {
  const unsigned char c = *s++;
  if (c < 0x80) return c;
  int extra;
  char32_t cp, min;
  if ((c & 0xE0) == 0xC0) extra = 1, cp = c & 0x1F, min = 0x80;
  else if ((c & 0xF0) == 0xE0) extra = 2, cp = c & 0x0F, min = 0x800;
  else if ((c & 0xF8) == 0xF0) extra = 3, cp = c & 0x07, min = 0x10000;
  else return kReplacement;
  for (int i = 0; i < extra; i++) {
    if ((*s & 0xC0) != 0x80) return kReplacement;  // stops at NUL too
    cp = (cp << 6) | (*s++ & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kReplacement;  // overlong or invalid
  return cp;
}
}  // namespace

size_t vl_utf8_to_utf16(const char *src, char16_t *dst, size_t capacity) noexcept {
  if (!dst || capacity == 0) return 0;
  size_t n = 0;
  const auto *s = reinterpret_cast<const unsigned char *>(src ? src : "");
  while (*s) {
    const char32_t cp = decode_utf8(s);
    if (cp >= 0x10000) {
      if (n + 2 >= capacity) break;
      dst[n++] = char16_t(0xD800 + ((cp - 0x10000) >> 10));
      dst[n++] = char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      if (n + 1 >= capacity) break;
      dst[n++] = char16_t(cp);
    }
  }
  dst[n] = 0;
  return n;
}

size_t vl_utf16_to_utf8(const char16_t *src, char *dst, size_t capacity) noexcept {
  if (!dst || capacity == 0) return 0;
  size_t n = 0;
  const char16_t *s = src ? src : u"";
  while (*s) {
    char32_t cp = *s++;
    if (cp >= 0xD800 && cp <= 0xDBFF && *s >= 0xDC00 && *s <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (char32_t(*s++) - 0xDC00);
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacement;  // a lone surrogate
    }
    char buf[4];
    size_t len;
    if (cp < 0x80) buf[0] = char(cp), len = 1;
    else if (cp < 0x800) buf[0] = char(0xC0 | (cp >> 6)), buf[1] = char(0x80 | (cp & 0x3F)), len = 2;
    else if (cp < 0x10000)
      buf[0] = char(0xE0 | (cp >> 12)), buf[1] = char(0x80 | ((cp >> 6) & 0x3F)), buf[2] = char(0x80 | (cp & 0x3F)),
      len = 3;
    else
      buf[0] = char(0xF0 | (cp >> 18)), buf[1] = char(0x80 | ((cp >> 12) & 0x3F)),
      buf[2] = char(0x80 | ((cp >> 6) & 0x3F)), buf[3] = char(0x80 | (cp & 0x3F)), len = 4;
    if (n + len >= capacity) break;
    for (size_t i = 0; i < len; i++) dst[n++] = buf[i];
  }
  dst[n] = 0;
  return n;
}
