#pragma once
// Spectra of real sequences, in double precision: the measurements resolve aliases down to
// 300 dB below full scale, far beyond what single precision holds.
#include <complex>
#include <span>
#include <vector>

namespace sonteva::analysis {

// Bins 0..n/2 of the unscaled discrete Fourier transform of x (n = x.size() > 0). A sine of
// amplitude A on bin k (0 < k < n/2) reads A * n / 2 there. Safe from any thread.
std::vector<std::complex<double>> realSpectrum(std::span<const double> x);

// The real sequence of length n whose spectrum (bins 0..n/2, as realSpectrum gives them) is
// `bins`; the inverse of realSpectrum.
std::vector<double> realSignal(std::span<const std::complex<double>> bins, int n);

// A Kaiser window of n points with shape beta (20: side lobes about 190 dB down).
std::vector<double> kaiserWindow(int n, double beta);

} // namespace sonteva::analysis
