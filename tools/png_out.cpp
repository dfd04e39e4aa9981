#include "png_out.h"

#include <png.h>

#include <cstdio>
#include <vector>

bool write_presented_png(const std::string &path, const uint8_t *bgrx, int width, int height, std::string *error) {
  auto failed = [&](const char *why) {
    if (error) *error = path + ": " + why;
    return false;
  };
  if (!bgrx || width <= 0 || height <= 0) return failed("nothing to write");
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) return failed("cannot open for writing");
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  std::vector<uint8_t> row(size_t(width) * 3);
  if (!png || !info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    std::remove(path.c_str());
    return failed("libpng could not write it");
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; y++) {
    const uint8_t *p = bgrx + size_t(y) * size_t(width) * 4;
    for (int x = 0; x < width; x++, p += 4) row[size_t(x) * 3] = p[2], row[size_t(x) * 3 + 1] = p[1], row[size_t(x) * 3 + 2] = p[0];
    png_write_row(png, row.data());
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  if (std::fclose(f) != 0) return failed("write error");
  return true;
}
