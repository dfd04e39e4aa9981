// Image decoding into linear-light rasters.
#pragma once
#include <cstddef>

#include "vl_raster.h"

// Decodes PNG (8 or 16 bits per channel, any colour type) held in memory into
// a raster with the planes named by mode (VL_PLANE_L); the sRGB-encoded
// samples become linear with 1.0 = 32768. A 0×0 raster on failure. [any thread]
raster_t load_image_mem_builtin(const void *raw_data, size_t size, int mode) noexcept;
