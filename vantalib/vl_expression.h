// Arithmetic expressions typed into a value field: numbers in the C locale
// (with exponents, and a unit the user may add: "1.2k", "1.2 kHz", "-3 dB",
// "440 Hz"), + - * / (also × ÷), ^ for powers, parentheses, unary signs, the
// constants pi and e, and the functions min, max, clamp, sign, abs, sqrt, exp,
// log, log10, pow, sin, cos, tan, floor, ceil, round.
#pragma once
#include <cstddef>

// The value of the text, or NaN when it does not parse, does not evaluate to
// a finite number, is longer than 1024 bytes or nests deeper than about 100
// parentheses.
// Reads at most `len` bytes and stops at a NUL. [any thread] no allocation
double vlip_expression_interp_double(const char *text, size_t len) noexcept;
// The same for a NUL-terminated text (null gives NaN).
double vlip_expression_interp_double(const char *text) noexcept;
