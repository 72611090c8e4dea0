#include "dsp/inhouse_engines.h"
#include "engines/engine_factory.h"
#include "engines/external_engines.h"
#include "engines/system_log.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
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
    return makeExportResampler(quality, fsIn, fsOut).engine;
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

TEST(EngineFactory, ExternalEnginesAndTheirStandIns) {
    CapturedLog log;
    const auto sox = make("SoX VHQ", 96000, 44100);
    EXPECT_NE(dynamic_cast<SoxrResampler*>(sox.get()), nullptr);
    const auto r8 = make("r8brain Free", 44100, 48000);
    if (r8brainBuiltIn()) {
        EXPECT_NE(dynamic_cast<R8brainResampler*>(r8.get()), nullptr);
        EXPECT_TRUE(log.lines.empty());
    } else {
        ASSERT_NE(internal(r8), nullptr);
        EXPECT_EQ(internal(r8)->tapsPerPhase(), 1484);
        EXPECT_EQ(log.lines, std::vector<std::string>{"Sonteva: r8brain init failed "
                                                      "(44100\u219248000) \u2014 falling back to "
                                                      "internal SRC"});
    }
    log.lines.clear();

    // A pair libsoxr refuses: the line is logged and the internal engine is built with the
    // SoX VHQ row; that engine in turn rejects a zero rate.
    EXPECT_THROW(make("SoX VHQ", 0, 48000), std::invalid_argument);
    EXPECT_EQ(log.lines, std::vector<std::string>{"Sonteva: soxr init failed (0\u219248000) "
                                                  "\u2014 falling back to internal SRC"});
    log.lines.clear();

    // "SSRC Shibata" reaching the factory at different rates: 4096 taps, fc 0.9, beta 16.67.
    const auto ssrc = make("SSRC Shibata", 48000, 44100);
    ASSERT_NE(internal(ssrc), nullptr);
    const PolyphaseFilterBank64 want(147, 160, -160, 0.9, 4096, "kaiser", 16.67, 0.0, true);
    EXPECT_EQ(internal(ssrc)->bank().bank, want.bank);
    EXPECT_TRUE(log.lines.empty()); // no fallback line: this is the engine meant for that name
}

TEST(EngineFactory, PreviewEnginesPerChannel) {
    CapturedLog log;
    EXPECT_TRUE(makeEngines("SoX VHQ", 44100, 48000, 0).empty());

    const auto sox = makeEngines("SoX VHQ", 44100, 48000, 2);
    ASSERT_EQ(sox.size(), 2u);
    EXPECT_NE(dynamic_cast<SoxrResampler*>(sox[0].get()), nullptr);
    EXPECT_NE(dynamic_cast<SoxrResampler*>(sox[1].get()), nullptr);
    EXPECT_NE(sox[0], sox[1]);

    // The internal engine takes its record from the parameter table.
    const auto ssrc = makeEngines("SSRC Shibata", 48000, 44100, 1);
    ASSERT_EQ(ssrc.size(), 1u);
    ASSERT_NE(internal(ssrc[0]), nullptr);
    EXPECT_EQ(internal(ssrc[0])->tapsPerPhase(), 4096);

    // No equal-rate shortcut: the preview never asks for one.
    const auto same = makeEngines("Sonteva SRC", 48000, 48000, 1);
    ASSERT_EQ(same.size(), 1u);
    ASSERT_NE(internal(same[0]), nullptr);
    EXPECT_EQ(internal(same[0])->tapsPerPhase(), 128);
    EXPECT_TRUE(log.lines.empty());

    if (r8brainBuiltIn()) return;
    // The library is asked again for every channel, so a stereo preview logs twice.
    const auto r8 = makeEngines("r8brain Free", 44100, 48000, 2);
    ASSERT_EQ(r8.size(), 2u);
    for (const auto& e : r8) {
        ASSERT_NE(internal(e), nullptr);
        EXPECT_EQ(internal(e)->tapsPerPhase(), 1484);
    }
    const std::string line =
        "Sonteva: r8brain init failed (44100\u219248000) \u2014 preview using internal SRC";
    EXPECT_EQ(log.lines, (std::vector<std::string>{line, line}));
}

TEST(EngineFactory, AvailabilityTellsWhetherTheRealEngineRuns) {
    const EngineAvailability sox = findEngine("SoX VHQ")->availability();
    EXPECT_TRUE(sox.available);
    EXPECT_EQ(sox.reason.rfind("libsoxr-", 0), 0u) << sox.reason;
    const EngineAvailability r8 = findEngine("r8brain Free")->availability();
    EXPECT_EQ(r8.available, r8brainBuiltIn());
    if (!r8.available) {
        EXPECT_NE(r8.reason.find("-DSONTEVA_R8BRAIN_DIR="), std::string::npos) << r8.reason;
    }
}

// What ran is reported with every substitution, and a name nobody knows is refused rather
// than quietly given the default filter.
TEST(EngineFactory, SubstitutionsAreReportedAndUnknownNamesRefused) {
    CapturedLog log;
    const ChosenEngine flagship = makeExportResampler("Sonteva SRC", 96000, 44100);
    EXPECT_EQ(flagship.ran, "Sonteva SRC");
    EXPECT_TRUE(flagship.substitution.empty());
    const ChosenEngine same = makeExportResampler("SoX VHQ", 44100, 44100);
    EXPECT_EQ(same.ran, "Pass-through");
    EXPECT_TRUE(same.substitution.empty());

    const ChosenEngine r8 = makeExportResampler("r8brain Free", 96000, 44100);
    if (!r8brainBuiltIn()) {
        EXPECT_EQ(r8.ran, "internal engine (r8brain Free row)");
        EXPECT_NE(r8.substitution.find("not built in"), std::string::npos) << r8.substitution;
        EXPECT_NE(r8.substitution.find("r8brain Free parameter row"), std::string::npos);
    }
    // Without the stored table the calibrated engine converts 48 -> 44.1 kHz by its design,
    // which is not the reference it is named after; other pairs never had a table.
    EXPECT_NE(makeExportResampler("Zavir Iravizeza", 48000, 44100).substitution.find("table"),
              std::string::npos);
    EXPECT_TRUE(makeExportResampler("Zavir Iravizeza", 44100, 48000).substitution.empty());

    for (const char* name : {"sonteva src", "Sonteva  SRC", "", "Zavir Iravizeza 2"}) {
        EXPECT_THROW(makeExportResampler(name, 48000, 44100), std::invalid_argument) << name;
        EXPECT_THROW(makeEngines(name, 48000, 44100, 2), std::invalid_argument) << name;
    }
    try {
        makeExportResampler("Fast", 48000, 44100);
    } catch (const std::invalid_argument& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Unknown engine \"Fast\" (known: \"Sonteva SRC\", \"Zavir Iravizeza\", "
                  "\"SoX VHQ\", \"r8brain Free\", \"SSRC Shibata\")");
    }
    EXPECT_EQ(findEngineLoosely("sox vhq"), findEngine("SoX VHQ"));
    EXPECT_EQ(findEngineLoosely("R8BRAIN FREE"), findEngine("r8brain Free"));
    EXPECT_EQ(findEngineLoosely("soxvhq2"), nullptr);
}
