// A recursive-descent evaluator with hard bounds on length and nesting, so
// hostile text can neither recurse without end nor read past its end.
#include "vl_expression.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>

namespace {
constexpr size_t kMaxLength = 1024;
constexpr int kMaxDepth = 200;  // a parenthesis costs two levels, a sign one
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct parser {
  const char *s;
  size_t n, i = 0;
  int depth = 0;
  bool failed = false;

  char peek() const { return i < n ? s[i] : 0; }
  void blanks() {
    while (i < n && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n')) i++;
  }
  bool take(char c) {
    blanks();
    if (peek() != c) return false;
    i++;
    return true;
  }
  // UTF-8 multiplication and division signs.
  bool take_utf8(const char *u) {
    blanks();
    const size_t k = std::strlen(u);
    if (n - i < k || std::memcmp(s + i, u, k) != 0) return false;
    i += k;
    return true;
  }
  double fail() {
    failed = true;
    return kNaN;
  }

  double expr() {
    if (++depth > kMaxDepth) return fail();
    double v = term();
    for (;;) {
      if (take('+')) v += term();
      else if (take('-')) v -= term();
      else break;
    }
    depth--;
    return v;
  }
  double term() {
    double v = unary();
    for (;;) {
      if (take('*') || take_utf8("\xC3\x97")) v *= unary();
      else if (take('/') || take_utf8("\xC3\xB7")) v /= unary();
      else break;
    }
    return v;
  }
  // Signs bind looser than powers: -2^2 is -4.
  double unary() {
    if (++depth > kMaxDepth) return fail();
    double v;
    if (take('-')) v = -unary();
    else if (take('+')) v = unary();
    else v = power();
    depth--;
    return v;
  }
  double power() {
    const double base = primary();
    if (!take('^')) return base;
    return std::pow(base, unary());  // right-associative through unary
  }
  bool ident_char(char c) const { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'; }

  double primary() {
    blanks();
    const char c = peek();
    if (c == '(') {
      i++;
      const double v = expr();
      if (!take(')')) return fail();
      return v;
    }
    if ((c >= '0' && c <= '9') || c == '.') return number();
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return named();
    return fail();
  }

  double number() {
    double v = 0.0;
    const auto r = std::from_chars(s + i, s + n, v, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range) {
      i = size_t(r.ptr - s);
      return fail();
    }
    if (r.ec != std::errc()) return fail();
    i = size_t(r.ptr - s);
    return v * unit();
  }
  // A unit right after a number: k/K for thousands (also "kHz"), "Hz" and "dB"
  // as written values. Matched case-insensitively, whole words only.
  double unit() {
    const size_t save = i;
    blanks();
    size_t j = i;
    while (j < n && ident_char(s[j])) j++;
    const size_t len = j - i;
    auto is = [&](const char *w) {
      return len == std::strlen(w) && [&] {
        for (size_t k = 0; k < len; k++)
          if ((s[i + k] | 0x20) != w[k]) return false;
        return true;
      }();
    };
    double mul = 0.0;
    if (is("k") || is("khz")) mul = 1000.0;
    else if (is("hz") || is("db")) mul = 1.0;
    if (mul == 0.0) {
      i = save;
      return 1.0;
    }
    i = j;
    return mul;
  }

  double named() {
    const size_t start = i;
    while (i < n && ident_char(s[i])) i++;
    const size_t len = i - start;
    auto is = [&](const char *w) { return len == std::strlen(w) && std::memcmp(s + start, w, len) == 0; };
    if (is("pi")) return std::numbers::pi;
    if (is("e")) return std::numbers::e;
    if (!take('(')) return fail();
    double args[8];
    int argc = 0;
    if (!take(')')) {
      do {
        const double a = expr();
        if (failed) return kNaN;
        if (argc == 8) return fail();
        args[argc++] = a;
      } while (take(','));
      if (!take(')')) return fail();
    }
    auto one = [&](double (*f)(double)) { return argc == 1 ? f(args[0]) : fail(); };
    if (is("abs")) return one([](double x) { return std::fabs(x); });
    if (is("sqrt")) return one([](double x) { return std::sqrt(x); });
    if (is("exp")) return one([](double x) { return std::exp(x); });
    if (is("log")) return one([](double x) { return std::log(x); });
    if (is("log10")) return one([](double x) { return std::log10(x); });
    if (is("sin")) return one([](double x) { return std::sin(x); });
    if (is("cos")) return one([](double x) { return std::cos(x); });
    if (is("tan")) return one([](double x) { return std::tan(x); });
    if (is("floor")) return one([](double x) { return std::floor(x); });
    if (is("ceil")) return one([](double x) { return std::ceil(x); });
    if (is("round")) return one([](double x) { return std::round(x); });
    if (is("sign")) return one([](double x) { return x > 0.0 ? 1.0 : x < 0.0 ? -1.0 : 0.0; });
    if (is("pow")) return argc == 2 ? std::pow(args[0], args[1]) : fail();
    if (is("clamp")) return argc == 3 ? std::fmin(std::fmax(args[0], args[1]), args[2]) : fail();
    if (is("min") || is("max")) {
      if (argc < 1) return fail();
      double v = args[0];
      for (int k = 1; k < argc; k++) v = is("min") ? std::fmin(v, args[k]) : std::fmax(v, args[k]);
      return v;
    }
    return fail();
  }
};
}  // namespace

double vlip_expression_interp_double(const char *text, size_t len) noexcept {
  if (!text) return kNaN;
  const void *nul = std::memchr(text, 0, len);
  if (nul) len = size_t(static_cast<const char *>(nul) - text);
  if (len > kMaxLength) return kNaN;
  parser p{text, len};
  const double v = p.expr();
  p.blanks();
  if (p.failed || p.i != p.n || !std::isfinite(v)) return kNaN;
  return v;
}

double vlip_expression_interp_double(const char *text) noexcept {
  return text ? vlip_expression_interp_double(text, std::strlen(text)) : kNaN;
}
