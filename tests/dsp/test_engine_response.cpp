// The in-house engines' frequency response, held to their designs' own formulas rather
// than to figures read off the code: a change of cut-off, window or phase layout shows here.
// (Their delay is held to the sound's in the engines' tests of delay compensation.)
#include "dsp/filter_design.h"
#include "dsp/inhouse_engines.h"
#include "dsp/src_params.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>

using namespace sonteva;

namespace {

// |H(f)| in dB of the filter the engine convolves with, read from its bank (row r holds
// prototype taps r, r+L, ... reversed), at f hertz of the source, normalised to DC.
double responseDb(const SRCEngine64& e, double f) {
    const PolyphaseFilterBank64& b = e.bank();
    const double w = 2 * M_PI * f / (static_cast<double>(e.fs_in) * static_cast<double>(b.L));
    std::complex<double> sum = 0;
    double dc = 0;
    for (int64_t r = 0; r < b.L; ++r)
        for (int64_t j = 0; j < b.tapsPerPhase; ++j) {
            const double p =
                b.bank[static_cast<size_t>(r * b.tapsPerPhase + b.tapsPerPhase - 1 - j)];
            sum += p * std::polar(1.0, -w * static_cast<double>(r + j * b.L));
            dc += p;
        }
    return 20 * std::log10(std::abs(sum) / dc);
}

struct Pair {
    int64_t in, out;
    double lowerNyquist() const { return static_cast<double>(std::min(in, out)) / 2; }
};

constexpr Pair kPairs[] = {{96000, 44100}, {44100, 48000},  {48000, 44100},
                           {44100, 96000}, {192000, 48000}, {44100, 192000}};

// A Kaiser design of A dB spans a transition of (A - 7.95) / (14.36 N) of the rate at
// which it has N taps; the flagship has 128 taps per phase, i.e. 128 * min(1, L/M) taps
// at the lower rate. Its stop band starts half a transition above the cut-off.
double flagshipStopEdge(const Pair& p) {
    const double attenuation = (SontevaSRC::kBeta / 0.1102) + 8.7;
    const double taps = 128.0 * std::min(1.0, static_cast<double>(p.out) / p.in);
    const double transition = (attenuation - 7.95) / (14.36 * taps) * 2 * p.lowerNyquist();
    return p.lowerNyquist() + transition / 2;
}

} // namespace

TEST(EngineResponse, FlagshipCutsAtTheLowerNyquistWithItsStopBandWhereTheDesignPutsIt) {
    for (const Pair& p : kPairs) {
        SCOPED_TRACE(std::to_string(p.in) + " -> " + std::to_string(p.out));
        const auto e = SontevaSRC::makeEngine(p.in, p.out);
        EXPECT_NEAR(responseDb(*e, p.lowerNyquist()), -6.02, 0.02);
        EXPECT_NEAR(responseDb(*e, 0.5 * p.lowerNyquist()), 0.0, 0.001);
        EXPECT_NEAR(responseDb(*e, 0.01 * p.lowerNyquist()), 0.0, 1e-6);
        const double stop = flagshipStopEdge(p);
        for (double f : {stop * 1.01, stop * 1.2, 2.0 * p.lowerNyquist() * 0.99})
            EXPECT_LT(responseDb(*e, f), -120.0) << f << " Hz";
        // Inside the transition it still falls: nothing is cut before the cut-off.
        EXPECT_GT(responseDb(*e, 0.99 * p.lowerNyquist()), -6.02);
        EXPECT_LT(responseDb(*e, 1.01 * p.lowerNyquist()), -6.02);
    }
}

TEST(EngineResponse, CalibratedEngineHalvesAtItsCalibratedCutOff) {
    for (const Pair& p : kPairs) {
        SCOPED_TRACE(std::to_string(p.in) + " -> " + std::to_string(p.out));
        const auto e = SwissReference::makeEngine(p.in, p.out);
        const FilterParams row = SRCParams::calibrated(p.in, p.out);
        EXPECT_NEAR(responseDb(*e, row.fc_ratio * p.lowerNyquist()), -6.02, 0.05);
        EXPECT_NEAR(responseDb(*e, 0.5 * p.lowerNyquist()), 0.0, 0.01);
        // Its Kaiser beta sets the stop band's depth: A = beta / 0.1102 + 8.7 below 50 dB
        // does not hold for these betas (5.9 and up), so the plain formula applies.
        const double attenuation = *row.beta / 0.1102 + 8.7;
        EXPECT_LT(responseDb(*e, 1.5 * row.fc_ratio * p.lowerNyquist()), 3.0 - attenuation);
    }
}
