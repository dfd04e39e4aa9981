#include "support/reference_dft.h"

#include <cmath>

namespace {
std::vector<std::complex<long double>> roots(int n) {  // e^(-2 pi i t/n)
  std::vector<std::complex<long double>> r(static_cast<size_t>(n));
  const long double pi2 = 2.0L * 3.141592653589793238462643383279502884L;
  for (int t = 0; t < n; t++) r[size_t(t)] = {cosl(pi2 * t / n), -sinl(pi2 * t / n)};
  return r;
}
}  // namespace

std::vector<std::complex<long double>> reference_dft_bins(const std::vector<double> &x, const std::vector<int> &bins) {
  const int n = int(x.size());
  const auto r = roots(n);
  const long double norm = 1.0L / sqrtl((long double)n);
  std::vector<std::complex<long double>> out;
  for (int k : bins) {
    std::complex<long double> acc = 0;
    long long t = 0;
    for (int j = 0; j < n; j++) {
      acc += (long double)x[size_t(j)] * r[size_t(t)];
      t += k;
      if (t >= n) t -= n;
    }
    out.push_back(acc * norm);
  }
  return out;
}

std::complex<long double> half_complex_bin(const std::vector<double> &s, int k) {
  const int n = int(s.size());
  k %= n;
  if (k == 0) return {s[0], 0};
  if (2 * k == n) return {s[size_t(k)], 0};
  if (2 * k < n) return {s[size_t(k)], s[size_t(n - k)]};
  return {s[size_t(n - k)], -s[size_t(k)]};  // conjugate symmetry
}

std::vector<long double> reference_inverse_half_complex(const std::vector<double> &s) {
  const int n = int(s.size());
  const auto r = roots(n);
  const long double norm = 1.0L / sqrtl((long double)n);
  std::vector<long double> x(static_cast<size_t>(n));
  for (int j = 0; j < n; j++) {
    std::complex<long double> acc = 0;
    long long t = 0;
    for (int k = 0; k < n; k++) {
      acc += half_complex_bin(s, k) * std::conj(r[size_t(t)]);
      t += j;
      if (t >= n) t -= n;
    }
    x[size_t(j)] = acc.real() * norm;
  }
  return x;
}
