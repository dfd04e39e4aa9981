// Generates the editor's images and glyph sheets under resources/img/: glyph
// coverage and limits sheets rendered from the DejaVu fonts with FreeType, and
// the knob strip, clip light, logo and knob shadow drawn procedurally with our
// own primitives. Run by hand; the PNGs are committed.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "graphics/artwork.h"
#include "graphics/resources.h"
#include "vl_colour.h"
#include "vl_draw.h"
#include "vl_gui_context.h"

namespace {
constexpr int kCellW = 72, kCellH = 48, kGlyphs = 224, kBaseline = 36, kPixelSize = 34;

[[noreturn]] void die(const std::string &msg) {
  std::fprintf(stderr, "resgen: %s\n", msg.c_str());
  std::exit(1);
}

// Writes a PNG: color_type/bit_depth as libpng names them; `rows` holds the
// packed row bytes (16-bit samples big-endian).
void write_png(const std::string &path, int w, int h, int color_type, int bit_depth,
               const std::vector<uint8_t> &bytes, size_t row_bytes, const png_color *palette = nullptr,
               int palette_size = 0) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) die("cannot write " + path);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) die("libpng failed on " + path);
  png_init_io(png, f);
  png_set_IHDR(png, info, png_uint_32(w), png_uint_32(h), bit_depth, color_type, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (palette) png_set_PLTE(png, info, palette, palette_size);
  png_set_compression_level(png, 9);
  png_write_info(png, info);
  for (int y = 0; y < h; y++) png_write_row(png, bytes.data() + size_t(y) * row_bytes);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  std::fclose(f);
}

uint8_t srgb8(double linear) { return uint8_t(std::lround(std::clamp(linear_to_srgb(std::clamp(linear, 0.0, 1.0)), 0.0, 1.0) * 255)); }
uint16_t srgb16(double linear) {
  return uint16_t(std::lround(std::clamp(linear_to_srgb(std::clamp(linear, 0.0, 1.0)), 0.0, 1.0) * 65535));
}

// A glyph sheet at design resolution: coverage 0..1 per sheet pixel, plus advances.
struct sheet {
  std::vector<double> cov = std::vector<double>(size_t(kCellW) * kCellH * kGlyphs, 0.0);
  int advance[kGlyphs] = {};
};

sheet render_font(const char *path, int spacing) {
  FT_Library lib;
  FT_Face face;
  if (FT_Init_FreeType(&lib) || FT_New_Face(lib, path, 0, &face)) die(std::string("cannot open font ") + path);
  FT_Set_Pixel_Sizes(face, 0, kPixelSize);
  sheet s;
  for (int g = 0; g < kGlyphs; g++) {
    const int code = g + 32;
    if (code == 127 || (code >= 128 && code < 160)) continue;  // control codes: empty cells
    if (FT_Load_Char(face, FT_ULong(code), FT_LOAD_RENDER | FT_LOAD_TARGET_LIGHT)) continue;
    const FT_GlyphSlot slot = face->glyph;
    s.advance[g] = int(std::lround(slot->advance.x / 64.0));
    const FT_Bitmap &bm = slot->bitmap;
    const int ox = spacing + slot->bitmap_left, oy = kBaseline - slot->bitmap_top;
    for (unsigned y = 0; y < bm.rows; y++)
      for (unsigned x = 0; x < bm.width; x++) {
        const int cx = ox + int(x), cy = oy + int(y);
        if (cx < 0 || cx >= kCellW || cy < 0 || cy >= kCellH) continue;
        s.cov[(size_t(g) * kCellH + size_t(cy)) * kCellW + size_t(cx)] = bm.buffer[y * unsigned(bm.pitch) + x] / 255.0;
      }
  }
  FT_Done_Face(face);
  FT_Done_FreeType(lib);
  return s;
}

// Gaussian prefilter so the 4× (or 3.2×) bilinear decimation does not alias.
std::vector<double> blur_cells(const std::vector<double> &in, double sigma) {
  const int r = int(std::ceil(3 * sigma));
  std::vector<double> k(size_t(2 * r + 1));
  double sum = 0;
  for (int i = -r; i <= r; i++) sum += k[size_t(i + r)] = std::exp(-0.5 * i * i / (sigma * sigma));
  for (double &v : k) v /= sum;
  std::vector<double> tmp(in.size(), 0.0), out(in.size(), 0.0);
  for (int g = 0; g < kGlyphs; g++)
    for (int y = 0; y < kCellH; y++)
      for (int x = 0; x < kCellW; x++) {
        double acc = 0;
        for (int i = -r; i <= r; i++)
          if (x + i >= 0 && x + i < kCellW) acc += k[size_t(i + r)] * in[(size_t(g) * kCellH + size_t(y)) * kCellW + size_t(x + i)];
        tmp[(size_t(g) * kCellH + size_t(y)) * kCellW + size_t(x)] = acc;
      }
  for (int g = 0; g < kGlyphs; g++)
    for (int y = 0; y < kCellH; y++)
      for (int x = 0; x < kCellW; x++) {
        double acc = 0;
        for (int i = -r; i <= r; i++)
          if (y + i >= 0 && y + i < kCellH) acc += k[size_t(i + r)] * tmp[(size_t(g) * kCellH + size_t(y + i)) * kCellW + size_t(x)];
        out[(size_t(g) * kCellH + size_t(y)) * kCellW + size_t(x)] = std::min(1.0, acc * 1.15);  // keep strokes dense
      }
  return out;
}

void write_coverage(const std::string &path, const std::vector<double> &cov) {
  std::vector<uint8_t> bytes(cov.size());
  for (size_t i = 0; i < cov.size(); i++) bytes[i] = srgb8(cov[i]);
  write_png(path, kCellW, kCellH * kGlyphs, PNG_COLOR_TYPE_GRAY, 8, bytes, kCellW);
}

// 2-bit palette sheet marking each glyph's extent on the middle row of its cell:
// columns 0 .. advance + 2·spacing, so start = spacing and width = advance.
void write_limits(const std::string &path, const sheet &s, int spacing) {
  const size_t row_bytes = kCellW / 4;
  std::vector<uint8_t> bytes(row_bytes * kCellH * kGlyphs, 0);
  for (int g = 0; g < kGlyphs; g++) {
    if (s.advance[g] <= 0 && g != 0) continue;
    const int last = std::min(kCellW - 1, s.advance[g] + 2 * spacing);
    const size_t row = size_t(g) * kCellH + kCellH / 2;
    for (int x = 0; x <= last; x++) bytes[row * row_bytes + size_t(x / 4)] |= uint8_t(1 << (6 - 2 * (x % 4)));
  }
  const png_color palette[2] = {{0, 0, 0}, {255, 255, 255}};
  write_png(path, kCellW, kCellH * kGlyphs, PNG_COLOR_TYPE_PALETTE, 2, bytes, row_bytes, palette, 2);
}

// Draws with our own primitives into a linear raster bound as the current target.
struct canvas {
  raster_t r;
  framebuffer_t fb{};
  canvas(int w, int h) : r(make_raster(nullptr, w, h, VL_PLANE_L)) {
    fb.r = r;
    fb.w = w;
    fb.h = h;
    vl_current().fb = &fb;
  }
  ~canvas() {
    vl_current().fb = nullptr;
    free_raster(&r);
  }
  double at(int x, int y, int ch) const {
    const lrgb_t &p = r.l[size_t(y) * size_t(r.w) + size_t(x)];
    const uint16_t v = ch == 0 ? p.r : ch == 1 ? p.g : ch == 2 ? p.b : p.a;
    return v / 32768.0;
  }
};

void write_knob_strip(const std::string &path) {
  constexpr int frames = 192, size = 60;
  std::vector<uint8_t> bytes(size_t(size) * 3 * size * frames);
  for (int k = 0; k < frames; k++) {
    canvas cv(size, size);
    // Black around the knob: the strip is added onto the panel, so black adds nothing.
    for (size_t i = 0; i < size_t(size) * size; i++) cv.r.l[i] = make_colour_lin(0.0, 0.0, 0.0, 1);
    tarvelon_draw_knob_art(-135.0 + 270.0 * k / (frames - 1), 1.0);
    for (int y = 0; y < size; y++)
      for (int x = 0; x < size; x++)
        for (int ch = 0; ch < 3; ch++)
          bytes[(size_t(k * size + y) * size + size_t(x)) * 3 + size_t(ch)] = srgb8(cv.at(x, y, ch));
  }
  write_png(path, size, size * frames, PNG_COLOR_TYPE_RGB, 8, bytes, size_t(size) * 3);
}

void put16(std::vector<uint8_t> &b, size_t i, uint16_t v) {
  b[i] = uint8_t(v >> 8);
  b[i + 1] = uint8_t(v & 255);
}

// The clip light: a red-orange glow whose alpha falls off like a gaussian.
void write_light(const std::string &path) {
  constexpr int size = 60;
  std::vector<uint8_t> bytes(size_t(size) * size * 8);
  for (int y = 0; y < size; y++)
    for (int x = 0; x < size; x++) {
      double c[4];
      tarvelon_light_art(x, y, 1.0, c);
      const size_t i = (size_t(y) * size + size_t(x)) * 8;
      put16(bytes, i, srgb16(c[0]));
      put16(bytes, i + 2, srgb16(c[1]));
      put16(bytes, i + 4, srgb16(c[2]));
      put16(bytes, i + 6, uint16_t(std::lround(c[3] * 65535)));
    }
  write_png(path, size, size, PNG_COLOR_TYPE_RGB_ALPHA, 16, bytes, size_t(size) * 8);
}

// The knob shadow: white with a soft dark disc, for a multiplying blend.
void write_shadow(const std::string &path) {
  constexpr int size = 240;
  std::vector<uint8_t> bytes(size_t(size) * size * 6);
  for (int y = 0; y < size; y++)
    for (int x = 0; x < size; x++) {
      const uint16_t v = srgb16(tarvelon_shadow_art(x, y, 1.0));
      const size_t i = (size_t(y) * size + size_t(x)) * 6;
      put16(bytes, i, v), put16(bytes, i + 2, v), put16(bytes, i + 4, v);
    }
  write_png(path, size, size, PNG_COLOR_TYPE_RGB, 16, bytes, size_t(size) * 6);
}

// The logo: "Tarvelon" in bold, white on black, centred; 176×35 at scale 1,
// rendered afresh (not resampled) for each larger scale.
void write_logo(const std::string &path, const char *font, double scale = 1.0) {
  const int w = int(std::lround(176 * scale)), h = int(std::lround(35 * scale));
  FT_Library lib;
  FT_Face face;
  if (FT_Init_FreeType(&lib) || FT_New_Face(lib, font, 0, &face)) die(std::string("cannot open font ") + font);
  if (scale == 1.0) FT_Set_Pixel_Sizes(face, 0, 30);
  else FT_Set_Char_Size(face, 0, FT_F26Dot6(std::lround(30 * scale * 64)), 72, 72);
  const char *text = "Tarvelon";
  int total = 0;
  for (const char *c = text; *c; c++)
    if (!FT_Load_Char(face, FT_ULong(*c), FT_LOAD_DEFAULT)) total += int(face->glyph->advance.x / 64);
  std::vector<double> cov(size_t(w) * h, 0.0);
  int pen = (w - total) / 2;
  const int baseline = int(std::lround(27 * scale));
  for (const char *c = text; *c; c++) {
    if (FT_Load_Char(face, FT_ULong(*c), FT_LOAD_RENDER)) continue;
    const FT_Bitmap &bm = face->glyph->bitmap;
    for (unsigned y = 0; y < bm.rows; y++)
      for (unsigned x = 0; x < bm.width; x++) {
        const int px = pen + face->glyph->bitmap_left + int(x), py = baseline - face->glyph->bitmap_top + int(y);
        if (px >= 0 && px < w && py >= 0 && py < h)
          cov[size_t(py) * w + size_t(px)] = std::max(cov[size_t(py) * w + size_t(px)], bm.buffer[y * unsigned(bm.pitch) + x] / 255.0);
      }
    pen += int(face->glyph->advance.x / 64);
  }
  FT_Done_Face(face);
  FT_Done_FreeType(lib);
  std::vector<uint8_t> bytes(cov.size());
  for (size_t i = 0; i < cov.size(); i++) bytes[i] = srgb8(cov[i]);
  write_png(path, w, h, PNG_COLOR_TYPE_GRAY, 8, bytes, w);
}
}  // namespace

int main(int argc, char **argv) {
  const std::string out = argc > 1 ? argv[1] : "resources/img";
  const std::string fonts = argc > 2 ? argv[2] : "/usr/share/fonts/truetype/dejavu";
  const std::string regular = fonts + "/DejaVuSans.ttf", bold = fonts + "/DejaVuSans-Bold.ttf";
  struct face_set {
    std::string file, prefix;
    int spacing;
  };
  for (const face_set &f : {face_set{regular, "font", 6}, face_set{bold, "bold", 8}}) {
    const sheet s = render_font(f.file.c_str(), f.spacing);
    write_limits(out + "/font/" + f.prefix + "48.png", s, f.spacing);
    write_coverage(out + "/font/" + f.prefix + "12.png", blur_cells(s.cov, 1.7));
    write_coverage(out + "/font/" + f.prefix + "15.png", blur_cells(s.cov, 1.35));
    // Sheets for text drawn larger (a UI scale above 1): the prefilter shrinks
    // with the decimation, so big text stays as sharp as small text.
    for (int n : kTarvelonSheetSizes)
      if (n > 15) write_coverage(out + "/font/" + f.prefix + std::to_string(n) + ".png", blur_cells(s.cov, 0.425 * 48.0 / n));
  }
  for (int pct : kTarvelonLogoScales) write_logo(out + "/logo" + std::to_string(pct) + ".png", bold.c_str(), pct / 100.0);
  write_knob_strip(out + "/black_knob.png");
  write_light(out + "/light.png");
  write_logo(out + "/logo.png", bold.c_str());
  write_shadow(out + "/shadow.png");
  std::printf("wrote the images to %s\n", out.c_str());
  return 0;
}
