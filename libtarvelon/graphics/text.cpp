// Glyph metrics, text records and the bilinear glyph renderer.
#include "graphics/text.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "system/instance.h"

namespace {
constexpr int kGlyphs = 224;

int32_t advance(const font_t *f, unsigned char b) { return f->width[b < 32 ? 0 : b - 32]; }
}  // namespace

font_t *font_load(raster_t *data, int32_t spacing) noexcept {
  if (!data || !data->l || data->w <= 0 || data->h < kGlyphs) {
    if (data) free_raster(data);
    return nullptr;
  }
  auto *f = static_cast<font_t *>(std::calloc(1, sizeof(font_t)));
  if (f) {
    f->w = data->w;
    f->c = kGlyphs;
    f->h = data->h / kGlyphs;
    f->size = f->h;
    f->start = static_cast<int16_t *>(std::calloc(kGlyphs, sizeof(int16_t)));
    f->width = static_cast<int16_t *>(std::calloc(kGlyphs, sizeof(int16_t)));
    if (!f->start || !f->width) {
      free_font(f);
      f = nullptr;
    }
  }
  if (f) {
    const int mid = data->h / 448;  // half a cell
    for (int i = 0; i < kGlyphs; i++) {
      const lrgb_t *row = data->l + (size_t(i) * size_t(f->h) + size_t(mid)) * size_t(f->w);
      int first = -1, last = -1;
      for (int x = 0; x < f->w; x++)
        if (row[x].g) {
          if (first < 0) first = x;
          last = x;
        }
      if (first >= 0) {
        f->start[i] = int16_t(first + spacing);
        f->width[i] = int16_t(std::max(last - first - 2 * spacing, 0));
      }
    }
  }
  free_raster(data);
  return f;
}

font_t *make_font_size(const font_t *f0, double height, raster_t *data) noexcept {
  font_t *f = nullptr;
  if (f0 && data && data->l && data->w == f0->w && data->h == f0->h * f0->c && f0->h > 0 && height > 0) {
    f = static_cast<font_t *>(std::calloc(1, sizeof(font_t)));
    const size_t n = size_t(f0->w) * size_t(f0->h) * size_t(f0->c);
    if (f) {
      *f = *f0;
      f->size = height;
      f->data = static_cast<uint16_t *>(std::malloc(n * sizeof(uint16_t)));
      f->start = static_cast<int16_t *>(std::malloc(kGlyphs * sizeof(int16_t)));
      f->width = static_cast<int16_t *>(std::malloc(kGlyphs * sizeof(int16_t)));
      if (!f->data || !f->start || !f->width) {
        free_font(f);
        f = nullptr;
      } else {
        for (size_t i = 0; i < n; i++) f->data[i] = data->l[i].g;
        std::memcpy(f->start, f0->start, kGlyphs * sizeof(int16_t));
        std::memcpy(f->width, f0->width, kGlyphs * sizeof(int16_t));
      }
    }
  }
  if (data) free_raster(data);
  return f;
}

font_t *make_font_view(const font_t *f, double height) noexcept {
  if (!f || !(height > 0)) return nullptr;
  auto *v = static_cast<font_t *>(std::calloc(1, sizeof(font_t)));
  if (!v) return nullptr;
  *v = *f;
  v->size = height;
  v->borrowed = 1;
  return v;
}

void free_font(font_t *f) noexcept {
  if (!f) return;
  if (f->borrowed) {
    std::free(f);
    return;
  }
  std::free(f->data);
  std::free(f->start);
  std::free(f->width);
  std::free(f);
}

text_t *init_text(inst_t *ci, font_t *font, double x, double y, int32_t mode) noexcept {
  if (!ci) return nullptr;
  auto *t = static_cast<text_t *>(gc_calloc(ci, 1, sizeof(text_t)));
  if (!t) return nullptr;
  t->text = static_cast<char *>(gc_calloc(ci, kTextCapacity, 1));
  t->text_prev = static_cast<char *>(gc_calloc(ci, kTextCapacity, 1));
  if (!t->text || !t->text_prev) {
    gc_free(ci, t->text);
    gc_free(ci, t->text_prev);
    gc_free(ci, t);
    return nullptr;
  }
  t->font = font;
  t->x = t->x_prev = x;
  t->y = t->y_prev = y;
  t->mode = mode;
  return t;
}

void free_text(inst_t *ci, text_t *t) noexcept {
  if (!ci || !t) return;
  gc_free(ci, t->text);
  gc_free(ci, t->text_prev);
  gc_free(ci, t);
}

int32_t text_width(const char *text, const font_t *font) noexcept {
  if (!text || !font || !font->width) return 0;
  int32_t sum = 0;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; p++) sum += advance(font, *p);
  return sum;
}

int32_t text_extent(const text_t *t, recti_t *box) noexcept {
  if (!box) return 0;
  *box = recti_t{};
  if (!t || !t->text || !t->text[0]) return 0;
  const font_t *f = t->font;
  if (!f || !f->data || f->h <= 0 || f->w <= 0 || !(f->size > 0)) return 0;
  if (!std::isfinite(t->x) || !std::isfinite(t->y)) return 0;
  // The same placement as blit_text, taken to the last glyph.
  const double ratio = f->size / f->h;
  const int32_t total = text_width(t->text, f);
  double pos_x = t->x;
  if (t->mode & TEXT_RIGHT) pos_x -= (total + f->width[0]) * ratio;
  else if (t->mode & TEXT_LEFT) pos_x += f->width[0] * ratio;
  else pos_x -= total * 0.5 * ratio;
  const double pos_y = (t->mode & TEXT_MIDDLE) ? t->y - f->size * 1.3 / 3.0 : t->y + f->size * 0.2 / 3.0;
  pos_x -= f->start[0] * ratio;
  double first = pos_x, last = pos_x;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(t->text); *p; p++) {
    last = pos_x;
    pos_x += advance(f, *p) * ratio;
  }
  auto clampi = [](double v) { return int32_t(std::clamp(v, -1e9, 1e9)); };
  box->p0 = xyi_t{clampi(std::ceil(first - 1)), clampi(std::ceil(pos_y - 1))};
  box->p1 = xyi_t{clampi(std::floor(last + f->w * ratio + 1)) + 1, clampi(std::floor(pos_y + f->h * ratio + 1)) + 1};
  return 1;
}

namespace {
// Pixel (x, y) of the window is target->l[(y - origin.y) * w + x - origin.x].
void blit_text_at(const text_t *t, const raster_t *target, xyi_t origin, lrgb_t colour, double colintensity,
                  const recti_t *clip) {
  if (!t || !t->text || !t->text[0] || !target || !target->l || target->w <= 0 || target->h <= 0) return;
  const font_t *f = t->font;
  if (!f || !f->data || f->h <= 0 || f->w <= 0 || !(f->size > 0)) return;  // a missing sheet: skip text
  if (!std::isfinite(t->x) || !std::isfinite(t->y) || !std::isfinite(colintensity)) return;
  const double ratio = f->size / f->h;
  const int32_t total = text_width(t->text, f);
  double pos_x = t->x;
  if (t->mode & TEXT_RIGHT) pos_x -= (total + f->width[0]) * ratio;
  else if (t->mode & TEXT_LEFT) pos_x += f->width[0] * ratio;
  else pos_x -= total * 0.5 * ratio;
  const double pos_y = (t->mode & TEXT_MIDDLE) ? t->y - f->size * 1.3 / 3.0 : t->y + f->size * 0.2 / 3.0;
  const int64_t colint = std::llround(std::clamp(colintensity, 0.0, 64.0) * 32768.0);
  pos_x -= f->start[0] * ratio;

  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(t->text); *p; p++) {
    const int g = *p < 32 ? 0 : *p - 32;
    const uint16_t *glyph = f->data + size_t(g) * size_t(f->h) * size_t(f->w);
    double x0 = std::max(std::ceil(pos_x - 1), double(origin.x));
    double x1 = std::min(std::floor(pos_x + f->w * ratio + 1), double(origin.x + target->w));
    double y0 = std::max(std::ceil(pos_y - 1), double(origin.y));
    double y1 = std::min(std::floor(pos_y + f->h * ratio + 1), double(origin.y + target->h));
    if (clip) {
      x0 = std::max(x0, double(clip->p0.x)), x1 = std::min(x1, double(clip->p1.x));
      y0 = std::max(y0, double(clip->p0.y)), y1 = std::min(y1, double(clip->p1.y));
    }
    for (int py = int(y0); py < int(y1); py++) {
      const double jy = (py - pos_y) / ratio;
      const int iy = int(std::floor(jy));
      const int64_t fy = std::llround((jy - iy) * 32768.0);
      for (int px = int(x0); px < int(x1); px++) {
        const double jx = (px - pos_x) / ratio;
        const int ix = int(std::floor(jx));
        const int64_t fx = std::llround((jx - ix) * 32768.0);
        auto sample = [&](int sx, int sy) -> int64_t {
          return (sx >= 0 && sx < f->w && sy >= 0 && sy < f->h) ? glyph[size_t(sy) * size_t(f->w) + size_t(sx)] : 0;
        };
        const int64_t top = ((sample(ix, iy) * (32768 - fx)) >> 15) + ((sample(ix + 1, iy) * fx) >> 15);
        const int64_t bottom = ((sample(ix, iy + 1) * (32768 - fx)) >> 15) + ((sample(ix + 1, iy + 1) * fx) >> 15);
        const int64_t cov = ((top * (32768 - fy)) >> 15) + ((bottom * fy) >> 15);
        const int64_t alpha = std::min<int64_t>((cov * colint) >> 15, 32768);
        if (!alpha) continue;
        lrgb_t &d = target->l[size_t(py - origin.y) * size_t(target->w) + size_t(px - origin.x)];
        d.r = uint16_t(((int64_t(colour.r) * alpha) >> 15) + ((int64_t(d.r) * (32768 - alpha)) >> 15));
        d.g = uint16_t(((int64_t(colour.g) * alpha) >> 15) + ((int64_t(d.g) * (32768 - alpha)) >> 15));
        d.b = uint16_t(((int64_t(colour.b) * alpha) >> 15) + ((int64_t(d.b) * (32768 - alpha)) >> 15));
      }
    }
    pos_x += advance(f, *p) * ratio;
  }
}
}  // namespace

void blit_text(const text_t *t, raster_t *target, lrgb_t colour, double colintensity, const recti_t *clip) noexcept {
  blit_text_at(t, target, xyi_t{0, 0}, colour, colintensity, clip);
}

void blit_text_fb(const text_t *t, framebuffer_t *target, lrgb_t colour, double colintensity) noexcept {
  if (!target) return;
  blit_text_at(t, &target->r, target->origin, colour, colintensity, target->clip_on ? &target->clip : nullptr);
}
