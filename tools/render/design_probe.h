// The designed filter and the drawn curve for a set of parameter values,
// computed by the core itself (not through the plug-in), for reports.
#pragma once
#include <vector>

struct design_probe_result {
  double designed_db;  // |H(f)| of the windowed kernel, exact at f
  double curve_db;     // the curve the editor draws, in real dB
};

// values: the 28 parameter values in id order; rate in Hz.
std::vector<design_probe_result> probe_design(const std::vector<double> &values, double rate,
                                              const std::vector<double> &freqs);
