#include "vl_numtext.h"

#include <charconv>
#include <cmath>
#include <cstring>

size_t vl_format_g(char *buf, size_t size, double v, int precision) noexcept {
  if (!buf || size < 1) return 0;
  char tmp[64];
  const auto r = std::to_chars(tmp, tmp + sizeof tmp, v, std::chars_format::general, precision);
  size_t n = r.ec == std::errc() ? size_t(r.ptr - tmp) : 0;
  if (n >= size) n = size - 1;
  std::memcpy(buf, tmp, n);
  buf[n] = 0;
  return n;
}

size_t vl_format_fixed(char *buf, size_t size, double v, int precision, bool plus, int width, bool left) noexcept {
  if (!buf || size < 1) return 0;
  char tmp[400];  // a fixed double of any magnitude fits
  size_t n = 0;
  if (plus && !std::signbit(v) && !std::isnan(v)) tmp[n++] = '+';
  if (precision < 0) precision = 0;
  if (precision > 40) precision = 40;
  if (std::isnan(v) || std::isinf(v)) {
    const char *s = std::isnan(v) ? "nan" : (v < 0 ? "-inf" : "inf");
    const size_t l = std::strlen(s);
    std::memcpy(tmp + n, s, l);
    n += l;
  } else {
    const auto r = std::to_chars(tmp + n, tmp + sizeof tmp, v, std::chars_format::fixed, precision);
    n = r.ec == std::errc() ? size_t(r.ptr - tmp) : 0;
  }
  const size_t pad = width > 0 && size_t(width) > n ? size_t(width) - n : 0;
  size_t out = 0;
  auto put = [&](char c) {
    if (out + 1 < size) buf[out++] = c;
  };
  if (!left)
    for (size_t i = 0; i < pad; i++) put(' ');
  for (size_t i = 0; i < n; i++) put(tmp[i]);
  if (left)
    for (size_t i = 0; i < pad; i++) put(' ');
  buf[out] = 0;
  return out;
}

size_t vl_parse_double(const char *text, size_t len, double *out) noexcept {
  if (!text || !out) return 0;
  const void *nul = std::memchr(text, 0, len);
  if (nul) len = size_t(static_cast<const char *>(nul) - text);
  size_t i = 0;
  while (i < len && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r' || text[i] == '\v' ||
                     text[i] == '\f'))
    i++;
  bool negative = false;
  if (i < len && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    i++;
  }
  if (i < len && text[i] == '-') return 0;  // from_chars would take a second sign
  double v = 0.0;
  const auto r = std::from_chars(text + i, text + len, v, std::chars_format::general);
  if (r.ec != std::errc()) return 0;  // no digits, or out of double range
  *out = negative ? -v : v;
  return size_t(r.ptr - text);
}
