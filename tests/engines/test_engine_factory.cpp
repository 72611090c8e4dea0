#include "dsp/inhouse_engines.h"
#include "engines/engine_factory.h"
#include "engines/system_log.h"

#include <gtest/gtest.h>

#include <vector>

using namespace sonteva;

namespace {

struct CapturedLog {
    CapturedLog() {
        setLogSink([this](const std::string& line) { lines.push_back(line); });
    }
    ~CapturedLog() { setLogSink(nullptr); }
    std::vector<std::string> lines;
};

std::unique_ptr<ResamplerCore> make(const std::string& quality, int64_t fsIn, int64_t fsOut) {
    return makeExportResampler(quality, fsIn, fsOut, SRCParams::getParams(quality, fsIn, fsOut));
}

const SRCEngine64* internal(const std::unique_ptr<ResamplerCore>& e) {
    return dynamic_cast<const SRCEngine64*>(e.get());
}

} // namespace

TEST(EngineFactory, EqualRatesPassThroughForEveryAlgorithm) {
    for (const char* name :
         {"Sonteva SRC", "Zavir Iravizeza", "SoX VHQ", "r8brain Free", "SSRC Shibata"}) {
        const auto e = make(name, 48000, 48000);
        EXPECT_NE(dynamic_cast<PassthroughResampler*>(e.get()), nullptr) << name;
    }
}

TEST(EngineFactory, InHouseEngines) {
    const auto flagship = make("Sonteva SRC", 44100, 48000);
    ASSERT_NE(internal(flagship), nullptr);
    EXPECT_EQ(internal(flagship)->tapsPerPhase(), 128);
    EXPECT_EQ(&internal(flagship)->bank(), &SontevaSRC::makeEngine(44100, 48000)->bank());
    const auto swiss = make("Zavir Iravizeza", 96000, 44100);
    ASSERT_NE(internal(swiss), nullptr);
    EXPECT_EQ(internal(swiss)->tapsPerPhase(), 147);
}

TEST(EngineFactory, StandInsUseTheirParameterRowAndSaySo) {
    CapturedLog log;
    const auto sox = make("SoX VHQ", 96000, 44100);
    ASSERT_NE(internal(sox), nullptr);
    EXPECT_EQ(internal(sox)->tapsPerPhase(), 4096);
    const auto r8 = make("r8brain Free", 44100, 48000);
    ASSERT_NE(internal(r8), nullptr);
    EXPECT_EQ(internal(r8)->tapsPerPhase(), 1484);
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[0],
              "Sonteva: soxr init failed (96000\u219244100) \u2014 falling back to internal SRC");
    EXPECT_EQ(
        log.lines[1],
        "Sonteva: r8brain init failed (44100\u219248000) \u2014 falling back to internal SRC");

    // "SSRC Shibata" reaching the factory at different rates: 4096 taps, fc 0.9, beta 16.67.
    const auto ssrc = make("SSRC Shibata", 48000, 44100);
    ASSERT_NE(internal(ssrc), nullptr);
    const PolyphaseFilterBank64 want(147, 160, -160, 0.9, 4096, "kaiser", 16.67, 0.0, true);
    EXPECT_EQ(internal(ssrc)->bank().bank, want.bank);
    EXPECT_EQ(log.lines.size(), 2u); // no fallback line: this is its designed engine
}
