// The display curve kept between frames as the amount it adds to each pixel.
// The curve is white drawn additively: what it adds to a pixel does not depend
// on what lies under it, so it is worked out once per curve (and area, and
// scale) instead of once per frame, and adding it gives exactly the pixels
// drawing it would.
#pragma once
#include <cstdint>

#include "vl_raster.h"

struct inst_t;

// Adds the curve to the pixels of `apply` in the current target, inside the
// window rectangle `region` (pixels outside it are never shown), rebuilding
// the amounts first when the curve changed. 0 when it could not (no
// memory, or a curve colour that is not pure white): the caller draws the
// curve itself then. [GUI thread, inside a frame]
int32_t tarvelon_add_curve(inst_t *ci, recti_t region, recti_t apply) noexcept;
// Where the curve adds anything: column x of `region` (x from region.p0.x)
// gets rows [first[i], first[i] + count[i]) with i = x - region.p0.x.
struct tarvelon_curve_runs_t {
  recti_t region;
  const int32_t *first, *count;
};
// The runs of the kept curve for `region`, rebuilt first when the curve
// changed. 0 when the curve is not kept (drawn instead, anywhere in region).
// [GUI thread, inside a frame]
int32_t tarvelon_curve_runs(inst_t *ci, recti_t region, tarvelon_curve_runs_t *out) noexcept;
// Frees the kept amounts (the editor closed). [GUI thread]
void tarvelon_release_curve_cover(inst_t *ci) noexcept;
