// Colour constructors and helpers.
#pragma once
#include <cstdint>

#include "vl_raster.h"

// Channels round(v·32768) of doubles where 1.0 is full.
lrgb_t make_colour_lin(double r, double g, double b, double a) noexcept;
// Channels round((v/255)^2.2·32768) of gamma-2.2 encoded bytes.
lrgb_t make_colour_g22rgb_l(int r, int g, int b, int a) noexcept;
// Linear colour of hue H, saturation S, luminosity L with luminosity weights
// 0.16/0.73/0.11. huemode 0: radians, 1: degrees, else thirds of the circle.
frgb_t hsl_to_frgb(double H, double S, double L, int huemode, int secboost) noexcept;
// Brings an over-range colour (1.0 = 32768) back into range keeping its hue.
void colour_blowout_int(uint32_t *pred, uint32_t *pgrn, uint32_t *pblu) noexcept;

double gaussian(double x) noexcept;  // exp(-x²)
// Wraps x into [low, high); x unchanged when not finite.
double rangewrap(double x, double low, double high) noexcept;
double fastpow(double x, double y) noexcept;
// sRGB transfer: 8- or 16-bit encoded value to linear 0..1.
double srgb_to_linear(double v) noexcept;
double linear_to_srgb(double v) noexcept;
