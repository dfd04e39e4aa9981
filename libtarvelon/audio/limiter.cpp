// Peak limiter: a peak above the ceiling sets a gain reduction that is held for
// 2.3 s and released along half a cosine over the next 2.3 s; the release
// freezes as soon as the signal comes within a factor 2 of the envelope.
#include <cmath>

#include "audio/engine.h"
#include "system/inst.h"

namespace {
constexpr double kHold = 2.3;
constexpr double kPi = 3.14159265358979323846;
}  // namespace

void tarvelon_limit_frame(inst_t *ci, double *const *output, int32_t chans, int32_t frame, double L) noexcept {
  for (int32_t c = 0; c < chans; c++) {
    double &x = output[c][frame];
    const double a = std::fabs(x);
    if (a - L > ci->max_sample) ci->max_sample = a - L;
    if (a <= L && ci->env <= L) continue;
    if (c == 0) ci->env_time += 1.0 / ci->samplerate;
    if (a > L && a > ci->env) {
      ci->env = a;
      ci->env_time = 0.0;
      x *= L / a;
      continue;
    }
    const double t = ci->env_time;
    if (t <= kHold) {
      x *= L / ci->env;
      continue;
    }
    const double e = (0.5 + 0.5 * std::cos((t - kHold) * kPi / kHold)) * (ci->env - L) + L;
    x *= L / e;
    if (2.0 * a > e) {
      ci->env = e;
      ci->env_time = 0.0;
    } else if (t > 2.0 * kHold) {
      ci->env = 0.0;
    }
  }
}
