#include "vl_colour.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <numbers>

lrgb_t make_colour_lin(double r, double g, double b, double a) noexcept {
  auto ch = [](double v) { return uint16_t(std::clamp(std::lround(v * 32768.0), 0L, 65535L)); };
  return {ch(r), ch(g), ch(b), ch(a)};
}

lrgb_t make_colour_g22rgb_l(int r, int g, int b, int a) noexcept {
  static uint16_t table[256];
  static std::once_flag once;
  std::call_once(once, [] {
    for (int i = 0; i < 256; i++) table[i] = uint16_t(std::lround(std::pow(i / 255.0, 2.2) * 32768.0));
  });
  auto ch = [](int v) { return table[std::clamp(v, 0, 255)]; };
  return {ch(r), ch(g), ch(b), ch(a)};
}

frgb_t hsl_to_frgb(double H, double S, double L, int huemode, int secboost) noexcept {
  constexpr double wr = 0.16, wg = 0.73, wb = 0.11;
  double turns;  // hue as a fraction of the circle
  if (huemode == 0) turns = H / (2.0 * std::numbers::pi);
  else if (huemode == 1) turns = H / 360.0;
  else turns = H / 3.0;
  turns = rangewrap(turns, 0.0, 1.0);
  if (!std::isfinite(turns)) turns = 0.0;
  // A fully saturated hue on the RGB hexagon, then scaled to luminosity L and
  // mixed with grey of the same luminosity by (1 − S).
  const double h6 = turns * 6.0;
  const double x = 1.0 - std::fabs(std::fmod(h6, 2.0) - 1.0);
  double r = 0, g = 0, b = 0;
  switch (int(h6) % 6) {
    case 0: r = 1, g = x; break;
    case 1: r = x, g = 1; break;
    case 2: g = 1, b = x; break;
    case 3: g = x, b = 1; break;
    case 4: r = x, b = 1; break;
    default: r = 1, b = x; break;
  }
  if (secboost) {  // secondary colours as bright as primaries
    const double m = std::max({r, g, b});
    r /= m, g /= m, b /= m;
  }
  const double y = wr * r + wg * g + wb * b;
  const double k = y > 0 ? L / y : 0.0;
  S = std::clamp(S, 0.0, 1.0);
  auto mix = [&](double c) { return float(S * c * k + (1.0 - S) * L); };
  return {mix(r), mix(g), mix(b), 1.0f};
}

void colour_blowout_int(uint32_t *pred, uint32_t *pgrn, uint32_t *pblu) noexcept {
  if (!pred || !pgrn || !pblu) return;
  // 64-bit intermediates: over-range channels can make the products exceed 32 bits.
  const int64_t r = *pred, g = *pgrn, b = *pblu;
  const int64_t max = std::max({r, g, b});
  if (max <= 32768) return;
  const int64_t weighted = 5243 * r + 23921 * g + 3604 * b;
  if (weighted > 1073774591) {
    *pred = *pgrn = *pblu = 32768;
    return;
  }
  const int64_t Y = weighted >> 15;
  const int64_t k = ((32768 - Y) << 15) / (max - Y);
  auto out = [&](int64_t c) {
    const int64_t v = ((c * k) >> 15) + (((32768 - k) * Y) >> 15);
    return uint32_t(std::clamp<int64_t>(v, 0, 32768));
  };
  *pred = out(r);
  *pgrn = out(g);
  *pblu = out(b);
}

double gaussian(double x) noexcept { return std::exp(-x * x); }

double rangewrap(double x, double low, double high) noexcept {
  if (!std::isfinite(x) || !(high > low)) return x;
  const double span = high - low;
  double v = std::fmod(x - low, span);
  if (v < 0) v += span;
  return low + (v >= span ? 0.0 : v);
}

double fastpow(double x, double y) noexcept { return std::pow(x, y); }

double srgb_to_linear(double v) noexcept {
  return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

double linear_to_srgb(double v) noexcept {
  return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
}
