// Slow, independent references for the transform tests.
#pragma once
#include <complex>
#include <vector>

// Unitary DFT of real x at the given bins, in long double: X_k = n^-1/2 sum x_j e^(-2 pi i jk/n).
std::vector<std::complex<long double>> reference_dft_bins(const std::vector<double> &x, const std::vector<int> &bins);
// Real signal from a half-complex spectrum by the direct inverse sum, long double.
std::vector<long double> reference_inverse_half_complex(const std::vector<double> &spectrum);
// Bin k of a half-complex spectrum of length n as a complex number.
std::complex<long double> half_complex_bin(const std::vector<double> &s, int k);
