// With the engines' delay compensated every engine delivers round(n * out / in) frames and
// the sound where it was in the source, to within half a frame, whatever the block split;
// what delay remains is the one it reports.
#include "dsp/test_support.h"
#include "engines/delay_compensation.h"
#include "engines/engine_factory.h"

#include <gtest/gtest.h>

#include <string>

using namespace sonteva;

TEST(DelayCompensation, EveryEngineDeliversTheOwedFramesWithTheSoundInPlace) {
    struct Pair {
        int64_t in, out;
    };
    for (const char* name : {"Sonteva SRC", "Zavir Iravizeza", "SoX VHQ", "r8brain Free"})
        for (const Pair p : {Pair{96000, 44100}, Pair{44100, 48000}, Pair{48000, 44100},
                             Pair{44100, 192000}, Pair{192000, 48000}}) {
            SCOPED_TRACE(std::string(name) + " " + std::to_string(p.in) + " -> " +
                         std::to_string(p.out));
            // An odd length, so the owed count needs its rounding; a tone of a period of
            // 1000 output frames, far longer than any delay.
            const int64_t n = p.in * 3 / 4 + 7;
            std::vector<double> x(static_cast<size_t>(n));
            const double f = static_cast<double>(p.out) / 1000;
            for (int64_t i = 0; i < n; ++i)
                x[static_cast<size_t>(i)] = 0.5 * std::sin(2 * M_PI * f * i / p.in);
            const int64_t owed = (2 * n * p.out + p.in) / (2 * p.in);
            std::vector<double> first;
            for (size_t block : {size_t{4096}, size_t{1000}, size_t(n)}) {
                DelayCompensated engine(makeExportResampler(name, p.in, p.out).engine, p.in, p.out);
                const std::vector<double> y = test::runSplit(engine, x, {block});
                ASSERT_EQ(static_cast<int64_t>(y.size()), owed) << block;
                const double delay = test::toneDelay(y, 1000, 5000, 25000);
                EXPECT_LE(std::fabs(delay), 0.5 + 1e-6) << block;
                EXPECT_LE(std::fabs(engine.latencyFrames()), 0.5);
                EXPECT_NEAR(delay, engine.latencyFrames(), 1e-3);
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
