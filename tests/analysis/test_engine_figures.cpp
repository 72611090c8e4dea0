// The engines of the table measured as a job runs them: the flagship and the calibrated
// engine against their measured figures, libsoxr's very-high-quality recipe against its
// documented bands, and the whole-file converter through its runner. (Stand-ins named as
// what ran, every claimed delay and a converter that cannot run: `sonteva measure`'s tests.)
#include "analysis/engine_measurement.h"
#include "engines/engine_table.h"
#include "engines/ssrc_runner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace sonteva::analysis {
namespace {

EngineReport engine(const char* name, int64_t in, int64_t out) {
    EngineReport r = measureEngine(name, makeProbeSet(in, out, false));
    EXPECT_TRUE(r.measured) << name << ": " << r.error << r.unavailable;
    return r;
}

struct Expected {
    const char* name;
    int64_t in, out;
    double ripple, rippleTolerance;
    double audioAlias, aliasTolerance; // 20 Hz - 20 kHz
    double latency;
};

TEST(EngineFigures, InHouseEnginesMatchTheirMeasuredFigures) {
    for (const Expected& e :
         {Expected{"Sonteva SRC", 96000, 44100, 0.024, 0.003, -48, 5, 29.4},
          Expected{"Sonteva SRC", 192000, 48000, 0.72, 0.05, -46, 4, 15.875},
          Expected{"Zavir Iravizeza", 96000, 44100, 0.0008, 0.0002, -102, 3, 33.8}}) {
        const EngineReport r = engine(e.name, e.in, e.out);
        const Figures& f = r.figures;
        SCOPED_TRACE(std::string(e.name) + " " + std::to_string(e.in));
        EXPECT_EQ(r.ran, e.name);
        EXPECT_NEAR(f.rippleDb, e.ripple, e.rippleTolerance);
        EXPECT_NEAR(f.aliasAudioBand.dbfs, e.audioAlias, e.aliasTolerance);
        EXPECT_NEAR(f.latencyFrames, e.latency, 0.05);
        ASSERT_TRUE(r.claimedLatency);
        EXPECT_NEAR(f.latencyFrames, *r.claimedLatency, 1e-3); // the claim holds
        EXPECT_TRUE(f.linearPhase);
        // Cut-off at the Nyquist frequency: about -6 dB there, so the worst alias in the
        // whole band is loud.
        EXPECT_GT(f.aliasFullBand.dbfs, -11.0);
        EXPECT_LT(f.aliasFullBand.dbfs, -5.0);
        EXPECT_GE(f.aliasFullBand.dbfs, f.aliasBelow09.dbfs);
        EXPECT_GE(f.aliasFullBand.dbfs, f.aliasAudioBand.dbfs);
    }
}

// The documented very-high-quality recipe: 28-bit precision (about 168.6 dB of rejection),
// the 0 dB point at 0.913 of Nyquist with a roll-off of at most 0.01 dB, the stop band from
// Nyquist on, linear phase, and the delay removed.
TEST(EngineFigures, SoxVhqKeepsItsDocumentedBands) {
    for (auto [in, out] :
         {std::pair<int64_t, int64_t>{96000, 44100}, {44100, 96000}, {48000, 44100}}) {
        SCOPED_TRACE(std::to_string(in) + " -> " + std::to_string(out));
        const EngineReport r = engine("SoX VHQ", in, out);
        const Figures& f = r.figures;
        ASSERT_EQ(r.ran, "SoX VHQ");
        const double nL = static_cast<double>(std::min(in, out)) / 2;
        for (const ResponsePoint& p : r.plots.response)
            if (p.direct && p.hz <= 0.913 * nL) {
                EXPECT_NEAR(p.db, 0.0, 0.01) << p.hz;
            }
        EXPECT_LE(f.rippleDb, 0.01);
        EXPECT_LE(f.aliasFullBand.dbfs, -28 * 6.0206);
        EXPECT_TRUE(f.linearPhase);
        EXPECT_NEAR(f.latencyFrames, 0.0, 0.01);
        EXPECT_EQ(f.outputFrames, f.expectedFrames);
    }
}

TEST(EngineFigures, EqualRatesArePassThroughForEveryEngine) {
    for (const EngineInfo& e : engineTable()) {
        const EngineReport r = engine(std::string(e.name).c_str(), 48000, 48000);
        EXPECT_EQ(r.ran, "Pass-through");
        EXPECT_NEAR(r.figures.rippleDb, 0.0, 1e-12);
        EXPECT_NEAR(r.figures.latencyFrames, 0.0, 1e-9);
    }
}

// The stand-in converter interpolates linearly (a response of sinc squared of the frequency
// over the source rate, loud aliases) and adds two frames of tail.
TEST(EngineFigures, WholeFileConverterRunsThroughItsRunner) {
    setenv("SONTEVA_SSRC", SONTEVA_FAKE_SSRC, 1);
    for (auto [in, out] : {std::pair<int64_t, int64_t>{96000, 44100}, {44100, 96000}}) {
        SCOPED_TRACE(std::to_string(in) + " -> " + std::to_string(out));
        const EngineReport r = engine("SSRC Shibata", in, out);
        const Figures& f = r.figures;
        EXPECT_EQ(r.ran, "SSRC Shibata");
        EXPECT_FALSE(r.claimedLatency);
        EXPECT_EQ(f.outputFrames, f.expectedFrames + SSRCRunner::kTailFrames);
        const auto sincSquaredDb = [&](double hz) {
            const double x = 3.14159265358979323846 * hz / static_cast<double>(in);
            return 20 * std::log10(std::pow(std::sin(x) / x, 2));
        };
        int direct = 0;
        for (const ResponsePoint& p : r.plots.response)
            if (p.direct) {
                ++direct;
                EXPECT_NEAR(p.db, sincSquaredDb(p.hz), 1e-4) << p.hz;
            }
        EXPECT_GT(direct, 250);
        EXPECT_NEAR(f.at099Db, sincSquaredDb(f.at099Hz), 1e-4);
        EXPECT_GT(f.aliasFullBand.dbfs, -10.0);
        EXPECT_GT(f.aliasBelow09.dbfs, -10.0);
        EXPECT_NEAR(f.latencyFrames, 0.0, 0.01);
        EXPECT_TRUE(f.linearPhase);
    }
    unsetenv("SONTEVA_SSRC");
}

} // namespace
} // namespace sonteva::analysis
