// Writes presented editor pixels (bytes b, g, r, 0 per pixel, top row first)
// as an 8-bit RGB PNG.
#pragma once
#include <cstdint>
#include <string>

// false with `error` set when the file cannot be written.
bool write_presented_png(const std::string &path, const uint8_t *bgrx, int width, int height, std::string *error);
