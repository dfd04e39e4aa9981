// Any bytes as a typed value: the evaluator must return a number or NaN
// without reading outside the input, recursing without end or hanging.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "vl_expression.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const double v = vlip_expression_interp_double(reinterpret_cast<const char *>(data), size);
  if (!std::isnan(v) && !std::isfinite(v)) __builtin_trap();  // only finite numbers or NaN
  return 0;
}
