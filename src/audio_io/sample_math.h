#pragma once
// Exact rounding and integer conversion shared by the dither and the integer writers.
// Written with plain arithmetic rather than library calls so that loops over them
// vectorise, and proven equal to the library functions by the tests.
#include "dsp/vector_clones.h"

#include <bit>
#include <cmath>
#include <cstdint>

namespace sonteva::sample_math {

// Rounds to the nearest integer, halves away from zero: the same value as std::round
// for every |v| < 2^52 (signed zeros included; NaN stays NaN). Callers clamp first, which
// keeps every word length's range far inside that bound. Assumes the default
// round-to-nearest mode, which the process never changes.
inline double roundHalfAway(double v) {
    const double a = std::fabs(v);
    // Adding and removing 2^52 rounds a to nearest-even; a tie that went down is moved
    // up. The correction selects 0 or 1 and always adds: a conditional floating-point
    // add counts as a possible trap and blocks the if-conversion that vectorising needs.
    const double r = (a + 0x1p52) - 0x1p52;
    const double up = (a - r == 0.5) ? 1.0 : 0.0;
    return std::copysign(r + up, v);
}

// The unsigned 64-bit value as a double with a single rounding, equal to
// static_cast<double>(bits), built from two exact 32-bit halves: the compiler's own
// conversion branches on the top bit, which defeats vectorisation and mispredicts on
// random data.
inline double toDouble(uint64_t bits) {
    const double hi = std::bit_cast<double>(0x4530000000000000ull | (bits >> 32)) - 0x1.00000001p84;
    const double lo = std::bit_cast<double>(0x4330000000000000ull | (bits & 0xFFFFFFFFull));
    return hi + lo;
}

// q = round-half-away(x · 2^(bits−1)), clamped to [−2^(bits−1), 2^(bits−1) − 1], NaN → 0.
// The integer every writer stores for an integer word length.
inline int32_t quantise(double x, double scale) {
    double v = x * scale;
    v = (v == v) ? v : 0.0;
    v = (v > scale - 1.0) ? scale - 1.0 : v;
    v = (v < -scale) ? -scale : v;
    return static_cast<int32_t>(roundHalfAway(v));
}

} // namespace sonteva::sample_math
