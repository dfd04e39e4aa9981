// Locale-independent number text: values shown to the user and written to
// files always use '.' as the decimal point, whatever the host's locale.
#pragma once
#include <cstddef>

// printf "%.{precision}g" in the C locale. Returns the length written (the
// text is always terminated and truncated to fit); 0 when size < 1.
size_t vl_format_g(char *buf, size_t size, double v, int precision = 6) noexcept;

// printf "%[+][-][width].{precision}f" in the C locale: `plus` forces a sign,
// `width` pads with blanks on the left (on the right when `left`). Returns the
// length written; the text is always terminated and truncated to fit.
size_t vl_format_fixed(char *buf, size_t size, double v, int precision, bool plus = false, int width = 0,
                       bool left = false) noexcept;

// Parses the leading decimal number of text[0..len) after optional blanks and
// an optional sign, like "%lg". Returns the number of characters consumed (0:
// no number). Never reads past len or a NUL byte.
size_t vl_parse_double(const char *text, size_t len, double *out) noexcept;
