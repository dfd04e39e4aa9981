// The per-pixel loops of a frame (output conversion, layer composite, grid
// blend, column fill), compiled for more than one instruction set; the
// dispatcher picks the fastest the processor supports, once.
#pragma once
#include <cstdint>

#include "vl_raster.h"

// Tables of the output conversion: `encode` gives, for a linear value clamped
// to 0..32768, the gamma-2.2 code with five fractional bits (full scale
// stored above 8160 so no dither pulls it below 255); `dither` holds 16384
// noise values followed by a copy of its first 16, so 16 values can be read
// from any index without wrapping.
struct vl_g22_tables {
  uint16_t encode[32768 + 16];
  int16_t dither[16384 + 16];
};
const vl_g22_tables &vl_g22(void) noexcept;

// What a column of a picture mostly holds, converted ahead: up to four
// candidate colours per column (alpha 0; a pixel matches on r, g, b) with
// their codes (encode of b, g, r, then 0xFFFF when the pixel is bright
// enough to dither, else 0). Index by the pixel's x within the row passed.
struct vl_column_codes {
  const uint64_t *colour[4];
  const uint64_t *code[4];
  int count;
};
// The code of one pixel, as the candidates hold it.
uint64_t vl_pixel_code(lrgb_t px, const vl_g22_tables &t) noexcept;

namespace vl_generic {
// n pixels of src to dst (bytes b, g, r, 0); idx is the dither index of the
// first pixel, advancing by one per pixel; dither 0 adds none.
void convert_row(const lrgb_t *src, uint8_t *dst, int n, uint32_t idx, int dither, const vl_g22_tables &t);
// The same, reading the codes of pixels that equal a candidate from c.
void convert_row_coded(const lrgb_t *src, uint8_t *dst, int n, uint32_t idx, int dither, const vl_column_codes &c,
                       const vl_g22_tables &t);
// The pixels of a picture row that no overlay touched, straight from codes:
// pixel x is below[x] where rows[x] < iy, else above[x] (codes as
// vl_pixel_code gives them), converted as vl_convert_row would.
void convert_row_select(const int32_t *rows, int32_t iy, const uint64_t *below, const uint64_t *above, uint8_t *dst,
                        int n, uint32_t idx, int dither, const vl_g22_tables &t);
// out = fb under panel by the panel's alpha (alpha from fb), n pixels.
void composite_row(const lrgb_t *fb, const lrgb_t *panel, lrgb_t *out, int n);
// row blended towards the colour g by alpha·weight >> 15, n pixels; alpha 0 leaves a pixel alone.
void grid_row(lrgb_t *row, const uint16_t *alpha, lrgb_t g, int64_t weight, int n);
// row[x] = rows[x] < iy ? below[x] : above[x] for n pixels.
void select_row(lrgb_t *row, const int32_t *rows, int32_t iy, const lrgb_t *below, const lrgb_t *above, int n);
}  // namespace vl_generic
namespace vl_avx2 {
void convert_row(const lrgb_t *src, uint8_t *dst, int n, uint32_t idx, int dither, const vl_g22_tables &t);
void convert_row_coded(const lrgb_t *src, uint8_t *dst, int n, uint32_t idx, int dither, const vl_column_codes &c,
                       const vl_g22_tables &t);
void convert_row_select(const int32_t *rows, int32_t iy, const uint64_t *below, const uint64_t *above, uint8_t *dst,
                        int n, uint32_t idx, int dither, const vl_g22_tables &t);
void composite_row(const lrgb_t *fb, const lrgb_t *panel, lrgb_t *out, int n);
void grid_row(lrgb_t *row, const uint16_t *alpha, lrgb_t g, int64_t weight, int n);
void select_row(lrgb_t *row, const int32_t *rows, int32_t iy, const lrgb_t *below, const lrgb_t *above, int n);
}  // namespace vl_avx2

// Which kernels run: the fastest the processor has (default), or one named,
// for tests that compare them. 0 when the processor lacks it. [any thread]
enum : int32_t { VL_KERNEL_AUTO = 0, VL_KERNEL_GENERIC = 1, VL_KERNEL_AVX2 = 2 };
int32_t vl_use_pixel_kernel(int32_t choice) noexcept;

// The dispatched kernels. [any thread] no allocation
void vl_convert_row(const lrgb_t *src, uint8_t *dst, int n, uint32_t idx, int dither) noexcept;
// The same bytes as vl_convert_row, faster where most pixels are candidates.
void vl_convert_row_coded(const lrgb_t *src, uint8_t *dst, int n, uint32_t idx, int dither,
                          const vl_column_codes &c) noexcept;
// A row converted straight from column codes, choosing by the curve's rows.
void vl_convert_row_select(const int32_t *rows, int32_t iy, const uint64_t *below, const uint64_t *above,
                           uint8_t *dst, int n, uint32_t idx, int dither) noexcept;
void vl_composite_row(const lrgb_t *fb, const lrgb_t *panel, lrgb_t *out, int n) noexcept;
void vl_grid_row(lrgb_t *row, const uint16_t *alpha, lrgb_t g, int64_t weight, int n) noexcept;
void vl_select_row(lrgb_t *row, const int32_t *rows, int32_t iy, const lrgb_t *below, const lrgb_t *above,
                   int n) noexcept;
