// AVX2 builds of the pixel kernels (this file is compiled with -mavx2); every
// kernel gives exactly the bytes of its portable twin, tails included.
#if defined(__x86_64__) || defined(_M_X64)
#include <immintrin.h>

#include "vl_pixel_kernels.h"

namespace vl_avx2 {
namespace {
inline __m256i load(const void *p) { return _mm256_loadu_si256(static_cast<const __m256i *>(p)); }
inline void store(void *p, __m256i v) { _mm256_storeu_si256(static_cast<__m256i *>(p), v); }
// Two pixels of 16-bit channels widened to 32-bit lanes: r g b a | r g b a.
inline __m256i widen2(const lrgb_t *p) {
  return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
}
// Four pixels of 32-bit lanes (two pairs) back to 16-bit channels, in order.
inline __m256i narrow4(__m256i p01, __m256i p23) {
  return _mm256_permute4x64_epi64(_mm256_packus_epi32(p01, p23), 0xD8);
}
}  // namespace

void convert_row(const lrgb_t *src, uint8_t *dst, int n, uint32_t idx, int dither, const vl_g22_tables &t) {
  const __m256i perm = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
  const __m256i lo16 = _mm256_set1_epi32(0xFFFF), full = _mm256_set1_epi32(32768);
  const __m256i nine = _mm256_set1_epi32(9), zero = _mm256_setzero_si256(), top = _mm256_set1_epi32(255);
  const int *enc = reinterpret_cast<const int *>(t.encode);
  int x = 0;
  for (; x + 8 <= n; x += 8) {
    // rg holds r | g << 16 and ba b | a << 16 of the eight pixels, in order.
    const __m256i a = _mm256_permutevar8x32_epi32(load(src + x), perm);
    const __m256i b = _mm256_permutevar8x32_epi32(load(src + x + 4), perm);
    const __m256i rg = _mm256_permute2x128_si256(a, b, 0x20), ba = _mm256_permute2x128_si256(a, b, 0x31);
    const __m256i r = _mm256_and_si256(rg, lo16), g = _mm256_srli_epi32(rg, 16), bl = _mm256_and_si256(ba, lo16);
    // Gathers read 32 bits from a 16-bit table; the table has room past its end.
    const __m256i er = _mm256_and_si256(_mm256_i32gather_epi32(enc, _mm256_min_epu32(r, full), 2), lo16);
    const __m256i eg = _mm256_and_si256(_mm256_i32gather_epi32(enc, _mm256_min_epu32(g, full), 2), lo16);
    const __m256i eb = _mm256_and_si256(_mm256_i32gather_epi32(enc, _mm256_min_epu32(bl, full), 2), lo16);
    __m256i d = zero;
    if (dither) {
      const __m256i sum = _mm256_add_epi32(_mm256_add_epi32(r, g), bl);
      d = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(t.dither + idx)));
      d = _mm256_and_si256(d, _mm256_cmpgt_epi32(sum, nine));
    }
    idx = (idx + 8) & 16383;
    auto byte = [&](__m256i e) {
      return _mm256_min_epi32(_mm256_max_epi32(_mm256_srai_epi32(_mm256_add_epi32(e, d), 5), zero), top);
    };
    const __m256i out =
        _mm256_or_si256(byte(eb), _mm256_or_si256(_mm256_slli_epi32(byte(eg), 8), _mm256_slli_epi32(byte(er), 16)));
    store(dst + 4 * x, out);
  }
  vl_generic::convert_row(src + x, dst + 4 * x, n - x, idx, dither, t);
}

namespace {
// The codes of four pixels (alpha already 0) from the table, as vl_pixel_code
// gives them: encode of b, g, r, and the brightness word.
__m256i codes_of(__m256i px, const vl_g22_tables &t) {
  const int *enc = reinterpret_cast<const int *>(t.encode);
  const __m256i full = _mm256_set1_epi32(32768), lo16 = _mm256_set1_epi32(0xFFFF);
  const __m256i p01 = _mm256_cvtepu16_epi32(_mm256_castsi256_si128(px));       // r g b 0 of pixels 0, 1
  const __m256i p23 = _mm256_cvtepu16_epi32(_mm256_extracti128_si256(px, 1));  // and of 2, 3
  const __m256i e01 = _mm256_and_si256(_mm256_i32gather_epi32(enc, _mm256_min_epu32(p01, full), 2), lo16);
  const __m256i e23 = _mm256_and_si256(_mm256_i32gather_epi32(enc, _mm256_min_epu32(p23, full), 2), lo16);
  // Words r g b 0 per pixel, in order, then b g r in place.
  const __m256i e = _mm256_permute4x64_epi64(_mm256_packus_epi32(e01, e23), 0xD8);
  const __m256i bgr = _mm256_shuffle_epi8(
      e, _mm256_setr_epi8(4, 5, 2, 3, 0, 1, -1, -1, 12, 13, 10, 11, 8, 9, -1, -1, 4, 5, 2, 3, 0, 1, -1, -1, 12, 13, 10,
                          11, 8, 9, -1, -1));
  // r + g + b of each pixel: two horizontal adds leave s0 s2 s0 s2 | s1 s3 s1 s3.
  const __m256i h = _mm256_hadd_epi32(p01, p23);
  const __m256i sums = _mm256_permutevar8x32_epi32(_mm256_hadd_epi32(h, h), _mm256_setr_epi32(0, 0, 4, 4, 1, 1, 5, 5));
  const __m256i bright = _mm256_and_si256(_mm256_cmpgt_epi32(sums, _mm256_set1_epi32(9)),
                                          _mm256_set1_epi64x(int64_t(0xFFFF000000000000ull)));
  return _mm256_or_si256(bgr, bright);
}
}  // namespace

void convert_row_coded(const lrgb_t *src, uint8_t *dst, int n, uint32_t idx, int dither, const vl_column_codes &c,
                       const vl_g22_tables &t) {
  const __m256i rgb = _mm256_set1_epi64x(0x0000FFFFFFFFFFFFll);
  // Within each 128-bit half: the dither word of each pixel in its four
  // channels, and a code's brightness word in its four.
  const __m256i spread = _mm256_setr_epi8(0, 1, 0, 1, 0, 1, 0, 1, 2, 3, 2, 3, 2, 3, 2, 3, 4, 5, 4, 5, 4, 5, 4, 5, 6, 7,
                                          6, 7, 6, 7, 6, 7);
  const __m256i bright = _mm256_setr_epi8(6, 7, 6, 7, 6, 7, 6, 7, 14, 15, 14, 15, 14, 15, 14, 15, 6, 7, 6, 7, 6, 7, 6,
                                          7, 14, 15, 14, 15, 14, 15, 14, 15);
  const int k = c.count;
  int x = 0;
  for (; x + 4 <= n; x += 4) {
    const __m256i px = _mm256_and_si256(load(src + x), rgb);
    __m256i code = _mm256_setzero_si256(), hit = _mm256_setzero_si256();
    for (int i = 0; i < k; i++) {
      const __m256i m = _mm256_cmpeq_epi64(px, load(c.colour[i] + x));
      code = _mm256_blendv_epi8(code, load(c.code[i] + x), m);
      hit = _mm256_or_si256(hit, m);
    }
    if (_mm256_movemask_epi8(hit) != -1) code = _mm256_blendv_epi8(codes_of(px, t), code, hit);
    __m256i d = _mm256_setzero_si256();
    if (dither) {
      d = _mm256_shuffle_epi8(_mm256_permute4x64_epi64(_mm256_castsi128_si256(_mm_loadl_epi64(
                                                           reinterpret_cast<const __m128i *>(t.dither + idx))),
                                                       0x00),
                              spread);
      d = _mm256_and_si256(_mm256_and_si256(d, _mm256_shuffle_epi8(code, bright)), rgb);
    }
    idx = (idx + 4) & 16383;
    const __m256i v = _mm256_srai_epi16(_mm256_add_epi16(_mm256_and_si256(code, rgb), d), 5);
    const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(v, v), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 4 * x), _mm256_castsi256_si128(bytes));
  }
  vl_generic::convert_row(src + x, dst + 4 * x, n - x, idx, dither, t);
}

void convert_row_select(const int32_t *rows, int32_t iy, const uint64_t *below, const uint64_t *above, uint8_t *dst,
                        int n, uint32_t idx, int dither, const vl_g22_tables &t) {
  const __m256i rgb = _mm256_set1_epi64x(0x0000FFFFFFFFFFFFll), level = _mm256_set1_epi32(iy);
  const __m256i spread = _mm256_setr_epi8(0, 1, 0, 1, 0, 1, 0, 1, 2, 3, 2, 3, 2, 3, 2, 3, 4, 5, 4, 5, 4, 5, 4, 5, 6, 7,
                                          6, 7, 6, 7, 6, 7);
  const __m256i bright = _mm256_setr_epi8(6, 7, 6, 7, 6, 7, 6, 7, 14, 15, 14, 15, 14, 15, 14, 15, 6, 7, 6, 7, 6, 7, 6,
                                          7, 14, 15, 14, 15, 14, 15, 14, 15);
  int x = 0;
  for (; x + 8 <= n; x += 8) {
    // Eight pixels as two quads; a 32-bit "below" mask widened to each code's 64 bits.
    const __m256i lt = _mm256_cmpgt_epi32(level, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(rows + x)));
    __m256i v[2];
    for (int h = 0; h < 2; h++) {
      const __m256i m = _mm256_cvtepi32_epi64(h ? _mm256_extracti128_si256(lt, 1) : _mm256_castsi256_si128(lt));
      const __m256i code = _mm256_blendv_epi8(load(above + x + 4 * h), load(below + x + 4 * h), m);
      __m256i d = _mm256_setzero_si256();
      if (dither) {
        const uint32_t i = (idx + 4 * uint32_t(h)) & 16383;
        d = _mm256_shuffle_epi8(_mm256_permute4x64_epi64(_mm256_castsi128_si256(_mm_loadl_epi64(
                                                             reinterpret_cast<const __m128i *>(t.dither + i))),
                                                         0x00),
                                spread);
        d = _mm256_and_si256(_mm256_and_si256(d, _mm256_shuffle_epi8(code, bright)), rgb);
      }
      v[h] = _mm256_srai_epi16(_mm256_add_epi16(_mm256_and_si256(code, rgb), d), 5);
    }
    idx = (idx + 8) & 16383;
    // packus interleaves the quads by 128-bit lane: p0 p1 q0 q1 | p2 p3 q2 q3.
    const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(v[0], v[1]), 0xD8);
    store(dst + 4 * x, bytes);
  }
  vl_generic::convert_row_select(rows + x, iy, below + x, above + x, dst + 4 * x, n - x, idx, dither, t);
}

void composite_row(const lrgb_t *f, const lrgb_t *p, lrgb_t *c, int n) {
  const __m256i alpha = _mm256_set1_epi64x(int64_t(0xFFFF) << 48), full = _mm256_set1_epi32(32768);
  int x = 0;
  for (; x + 4 <= n; x += 4) {
    const __m256i pv = load(p + x);
    if (_mm256_testz_si256(pv, alpha)) {  // inside the hole: the picture as it is
      store(c + x, load(f + x));
      continue;
    }
    __m256i out[2];
    for (int h = 0; h < 2; h++) {
      const __m256i f32 = widen2(f + x + 2 * h), p32 = widen2(p + x + 2 * h);
      const __m256i a = _mm256_min_epu32(_mm256_shuffle_epi32(p32, 0xFF), full);
      const __m256i mixed =
          _mm256_add_epi32(f32, _mm256_srai_epi32(_mm256_mullo_epi32(_mm256_sub_epi32(p32, f32), a), 15));
      out[h] = _mm256_blend_epi32(mixed, f32, 0x88);  // alpha stays the picture's
    }
    store(c + x, narrow4(out[0], out[1]));
  }
  vl_generic::composite_row(f + x, p + x, c + x, n - x);
}

void grid_row(lrgb_t *row, const uint16_t *alpha, lrgb_t g, int64_t weight, int n) {
  const __m256i w = _mm256_set1_epi32(int32_t(weight)), one = _mm256_set1_epi32(32768);
  const __m256i gc = _mm256_setr_epi32(g.r, g.g, g.b, 0, g.r, g.g, g.b, 0);
  int x = 0;
  for (; x + 8 <= n; x += 8) {
    const __m128i a16 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(alpha + x));
    if (_mm_testz_si128(a16, a16)) continue;  // most of the grid is empty
    // All products stay below 2^32, so unsigned 32-bit arithmetic is exact.
    const __m256i q8 = _mm256_srli_epi32(_mm256_mullo_epi32(_mm256_cvtepu16_epi32(a16), w), 15);
    for (int k = 0; k < 8; k += 4) {
      __m256i out[2];
      for (int h = 0; h < 2; h++) {
        const int i = k + 2 * h;
        const __m256i q = _mm256_permutevar8x32_epi32(q8, _mm256_setr_epi32(i, i, i, i, i + 1, i + 1, i + 1, i + 1));
        const __m256i p32 = widen2(row + x + i);
        const __m256i mixed = _mm256_srli_epi32(
            _mm256_add_epi32(_mm256_mullo_epi32(p32, _mm256_sub_epi32(one, q)), _mm256_mullo_epi32(gc, q)), 15);
        out[h] = _mm256_blend_epi32(mixed, p32, 0x88);
      }
      store(row + x + k, narrow4(out[0], out[1]));
    }
  }
  vl_generic::grid_row(row + x, alpha + x, g, weight, n - x);
}

void select_row(lrgb_t *row, const int32_t *rows, int32_t iy, const lrgb_t *below, const lrgb_t *above, int n) {
  const __m128i y = _mm_set1_epi32(iy);
  int x = 0;
  for (; x + 4 <= n; x += 4) {
    const __m128i under = _mm_cmpgt_epi32(y, _mm_loadu_si128(reinterpret_cast<const __m128i *>(rows + x)));
    store(row + x, _mm256_blendv_epi8(load(above + x), load(below + x), _mm256_cvtepi32_epi64(under)));
  }
  vl_generic::select_row(row + x, rows + x, iy, below + x, above + x, n - x);
}
}  // namespace vl_avx2
#endif
