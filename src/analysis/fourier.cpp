#include "analysis/fourier.h"

#include <fftw3.h>

#include <cmath>
#include <map>
#include <mutex>
#include <stdexcept>

namespace sonteva::analysis {

namespace {

// FFTW's planner is not reentrant, its plans are: one plan per length, made once under a
// lock and then executed from any thread on the caller's own arrays.
// Forward (real to complex) or inverse (complex to real) plans of length n.
fftw_plan planFor(int n, bool inverse) {
    static std::mutex lock;
    // Kept for the life of the process (never destroyed: a plan may be in use until exit).
    static auto& plans = *new std::map<std::pair<int, bool>, fftw_plan>;
    std::lock_guard guard(lock);
    auto found = plans.find({n, inverse});
    if (found != plans.end()) return found->second;
    // Estimated plans leave the arrays alone while planning; unaligned ones run on any.
    std::vector<double> real(static_cast<size_t>(n));
    std::vector<std::complex<double>> bins(static_cast<size_t>(n / 2 + 1));
    auto* complex = reinterpret_cast<fftw_complex*>(bins.data());
    const unsigned flags = FFTW_ESTIMATE | FFTW_UNALIGNED;
    fftw_plan plan = inverse ? fftw_plan_dft_c2r_1d(n, complex, real.data(), flags)
                             : fftw_plan_dft_r2c_1d(n, real.data(), complex, flags);
    if (!plan) throw std::runtime_error("FFTW could not plan a transform of that length");
    plans.emplace(std::pair{n, inverse}, plan);
    return plan;
}

double besselI0(double x) {
    double sum = 1, term = 1;
    for (int k = 1; k < 200 && term > sum * 1e-17; ++k) {
        term *= (x / (2 * k)) * (x / (2 * k));
        sum += term;
    }
    return sum;
}

} // namespace

std::vector<std::complex<double>> realSpectrum(std::span<const double> x) {
    if (x.empty()) throw std::invalid_argument("spectrum of an empty sequence");
    const int n = static_cast<int>(x.size());
    std::vector<double> in(x.begin(), x.end()); // the execute call takes a mutable array
    std::vector<std::complex<double>> out(static_cast<size_t>(n / 2 + 1));
    fftw_execute_dft_r2c(planFor(n, false), in.data(), reinterpret_cast<fftw_complex*>(out.data()));
    return out;
}

std::vector<double> realSignal(std::span<const std::complex<double>> bins, int n) {
    if (n <= 0 || bins.size() != static_cast<size_t>(n / 2 + 1))
        throw std::invalid_argument("inverse spectrum of the wrong size");
    // The complex-to-real transform overwrites its input.
    std::vector<std::complex<double>> in(bins.begin(), bins.end());
    std::vector<double> out(static_cast<size_t>(n));
    fftw_execute_dft_c2r(planFor(n, true), reinterpret_cast<fftw_complex*>(in.data()), out.data());
    for (double& v : out)
        v /= n;
    return out;
}

std::vector<double> kaiserWindow(int n, double beta) {
    std::vector<double> w(static_cast<size_t>(n));
    const double norm = besselI0(beta);
    for (int i = 0; i < n; ++i) {
        const double r = n > 1 ? 2.0 * i / (n - 1) - 1.0 : 0.0;
        w[static_cast<size_t>(i)] = besselI0(beta * std::sqrt(std::max(0.0, 1 - r * r))) / norm;
    }
    return w;
}

} // namespace sonteva::analysis
