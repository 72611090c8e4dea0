// With the engines' delay compensated every engine delivers round(n * out / in) frames and
// the sound where it was in the source, to within half a frame, whatever the block split.
#include "engines/delay_compensation.h"
#include "engines/engine_factory.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <span>
#include <string>
#include <vector>

using namespace sonteva;

namespace {

std::vector<double> run(ResamplerCore& engine, const std::vector<double>& x, size_t block) {
    std::vector<double> y;
    for (size_t at = 0; at < x.size(); at += block) {
        const auto part = engine.processBlock(
            std::span<const double>(x.data() + at, std::min(block, x.size() - at)));
        y.insert(y.end(), part.begin(), part.end());
    }
    const auto tail = engine.flush();
    y.insert(y.end(), tail.begin(), tail.end());
    return y;
}

// Where the sound of a slow tone sits in the output, against where the source had it, in
// output frames (positive: late). The tone's period is 1000 output frames.
double delayOf(const std::vector<double>& y, int64_t fsOut) {
    double sine = 0, cosine = 0;
    for (int64_t k = 5000; k < 25000; ++k) {
        const double t = 2 * M_PI * static_cast<double>(k) / 1000;
        sine += y[static_cast<size_t>(k)] * std::sin(t);
        cosine += y[static_cast<size_t>(k)] * std::cos(t);
    }
    (void)fsOut;
    return std::atan2(-cosine, sine) * 1000 / (2 * M_PI);
}

} // namespace

TEST(DelayCompensation, EveryEngineDeliversTheOwedFramesWithTheSoundInPlace) {
    struct Pair {
        int64_t in, out;
    };
    for (const char* name : {"Sonteva SRC", "Zavir Iravizeza", "SoX VHQ", "r8brain Free"})
        for (const Pair p : {Pair{96000, 44100}, Pair{44100, 48000}, Pair{48000, 44100},
                             Pair{44100, 192000}, Pair{192000, 48000}}) {
            SCOPED_TRACE(std::string(name) + " " + std::to_string(p.in) + " -> " +
                         std::to_string(p.out));
            // An odd length, so the owed count needs its rounding.
            const int64_t n = p.in * 3 / 4 + 7;
            std::vector<double> x(static_cast<size_t>(n));
            const double f = static_cast<double>(p.out) / 1000;
            for (int64_t i = 0; i < n; ++i)
                x[static_cast<size_t>(i)] = 0.5 * std::sin(2 * M_PI * f * i / p.in);
            const int64_t owed = (2 * n * p.out + p.in) / (2 * p.in);
            std::vector<double> first;
            for (size_t block : {size_t{4096}, size_t{1000}, size_t(n)}) {
                DelayCompensated engine(makeExportResampler(name, p.in, p.out).engine, p.in, p.out);
                const std::vector<double> y = run(engine, x, block);
                ASSERT_EQ(static_cast<int64_t>(y.size()), owed) << block;
                EXPECT_LE(std::fabs(delayOf(y, p.out)), 0.5 + 1e-6) << block;
                EXPECT_LE(std::fabs(engine.latencyFrames()), 0.5);
                EXPECT_NEAR(delayOf(y, p.out), engine.latencyFrames(), 0.01);
                if (first.empty())
                    first = y;
                else
                    EXPECT_EQ(y, first) << "the block split leaves no trace";
            }
        }
}

// The delay kept by default is the one the engine reports: markers move by it.
TEST(DelayCompensation, UncompensatedEnginesReportTheirDelay) {
    EXPECT_NEAR(makeExportResampler("Sonteva SRC", 48000, 44100).engine->latencyFrames(), 58.8,
                0.01);
    EXPECT_NEAR(makeExportResampler("Zavir Iravizeza", 48000, 44100).engine->latencyFrames(), 35.02,
                0.01);
    EXPECT_EQ(makeExportResampler("SoX VHQ", 48000, 44100).engine->latencyFrames(), 0.0);
    EXPECT_EQ(makeExportResampler("Sonteva SRC", 48000, 48000).engine->latencyFrames(), 0.0);
}
