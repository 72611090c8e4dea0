#pragma once
// The numeric building blocks of every in-house FIR design: Bessel I0, Kaiser's beta
// rule, five windows and the ideal low-pass impulse response.
//
// The engines are compared sample for sample with an independent implementation, so
// each formula is evaluated element by element in a fixed operand order; do not
// "simplify" an expression without checking the engine tests.
//
// Every window takes a real-valued centre and keeps its half-width at (N-1)/2, so a
// shifted centre slides the window along the sample axis without resizing it.
#include <cstdint>
#include <vector>

namespace sonteva {

inline constexpr double kTwoPi = 6.283185307179586;
inline constexpr double kPi = 3.141592653589793;

// Modified Bessel function of the first kind, order 0 (power series, at most 50 terms).
double i0(double x);
// Kaiser's beta for a stop-band level; the sign of the argument is ignored.
double kaiserBeta(double stopband_db);

std::vector<double> kaiserWindow(int64_t N, double beta, double center);
std::vector<double> blackmanHarrisWindow(int64_t N, double center);
std::vector<double> nuttallWindow(int64_t N, double center);
std::vector<double> hannWindow(int64_t N, double center);
std::vector<double> gaussianWindow(int64_t N, double alpha, double center);
// Unwindowed, unnormalised ideal low-pass; fc_normalized in cycles per sample.
std::vector<double> sincFilter(int64_t N, double fc_normalized, double center);

// Rounds to the nearest integer, halves away from zero (the rounding every design
// step and quantiser of the system uses).
double roundHalfAway(double x);

} // namespace sonteva
