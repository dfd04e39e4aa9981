// The sorted point list and the curve of cubic segments through it.
#include <cmath>
#include <cstring>

#include "dsp/scales.h"
#include "state/eq.h"

void sort_eq(eq_t *equ, eq_t *eqs, int32_t *eqs_countp, double minf, double maxf) noexcept {
  if (!equ || !eqs || !eqs_countp) return;
  const double lmin = std::log(minf), span = std::log(maxf) - lmin;
  auto L = [&](double f) { return (std::log(f) - lmin) / span; };

  int enabled = 0;
  for (int b = 0; b < kBandCount; b++) {
    eq_t &e = equ[b];
    if (!std::isfinite(e.db) || e.db < tv::kFloorDb) e.db = tv::kFloorDb;
    if (!std::isfinite(e.freq) || e.freq < minf) e.freq = minf;
    else if (e.freq > maxf) e.freq = maxf;
    e.pitch = L(e.freq);
    if (e.on) enabled++;
  }

  if (enabled == 0) {
    std::memset(eqs, 0, sizeof(eq_t) * 2);
    eqs[0].freq = minf;
    eqs[0].pitch = 0.0;
    eqs[0].id = -1;
    eqs[1].freq = maxf;
    eqs[1].pitch = L(maxf);
    eqs[1].id = -1;
    *eqs_countp = 0;
    return;
  }

  bool taken[kBandCount] = {};
  int count = 0;
  for (int n = 0; n < enabled; n++) {
    int best = -1;
    for (int b = 0; b < kBandCount; b++)
      if (equ[b].on && !taken[b] && (best < 0 || equ[b].freq < equ[best].freq)) best = b;
    taken[best] = true;
    const double f = equ[best].freq;
    // Bands at (nearly) the same frequency make one point: the later one.
    if (count > 0 && std::fabs(f - eqs[count].freq) <= std::fabs(f) * 1e-12 + 1e-9)
      eqs[count] = equ[best];
    else
      eqs[++count] = equ[best];
  }

  eq_t &lo = eqs[0];
  std::memset(&lo, 0, sizeof lo);
  lo.id = -1;
  lo.freq = eqs[1].freq <= minf ? eqs[1].freq * 0.5 : minf;
  lo.pitch = L(lo.freq);

  eq_t &hi = eqs[count + 1];
  std::memset(&hi, 0, sizeof hi);
  hi.id = -1;
  hi.freq = eqs[count].freq >= maxf ? eqs[count].freq + 1000.0 : maxf;
  hi.pitch = L(hi.freq);
  *eqs_countp = count;
}

void eq_compute_handles(eq_t *eqs, int32_t count) noexcept {
  if (!eqs || count < 0) return;
  const double oct = tv::kOctaveSpan;
  for (int32_t i = 0; i <= count + 1; i++) {
    eq_t &e = eqs[i];
    if (i <= count) {
      const double d = eqs[i + 1].pitch - e.pitch;
      e.h1pitch = e.pitch + d / 3.0;
      e.h1db = e.db + e.slope * oct * d / 3.0;
    }
    if (i >= 1) {
      const double d = e.pitch - eqs[i - 1].pitch;
      e.h2pitch = e.pitch - d / 3.0;
      e.h2db = e.db - e.slope * oct * d / 3.0;
    }
  }
  // The end points take the level of the outer handles, so the curve runs flat
  // beyond the outermost bands.
  eqs[0].db = eqs[0].h1db = std::fmax(eqs[1].h2db, tv::kFloorDb);
  eqs[count + 1].db = eqs[count + 1].h2db = std::fmax(eqs[count].h1db, tv::kFloorDb);
}

double eq_segment_value(const eq_t *eqs, int32_t i, double t) noexcept {
  const double p0 = eqs[i].db, p1 = eqs[i].h1db, p2 = eqs[i + 1].h2db, p3 = eqs[i + 1].db;
  const double u = 1.0 - t;
  return u * u * u * p0 + 3.0 * u * u * t * p1 + 3.0 * u * t * t * p2 + t * t * t * p3;
}

double eq_curve_at_pitch(const eq_t *eqs, int32_t count, double pitch) noexcept {
  if (!eqs) return 0.0;
  if (pitch <= eqs[0].pitch) return eqs[0].db;
  for (int32_t i = 0; i <= count; i++) {
    const double a = eqs[i].pitch, b = eqs[i + 1].pitch;
    if (pitch <= b) {
      const double w = b - a;
      return eq_segment_value(eqs, i, w > 0.0 ? (pitch - a) / w : 0.0);
    }
  }
  return eqs[count + 1].db;
}
