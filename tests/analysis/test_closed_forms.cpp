// The measurement against converters whose figures are known exactly (linear
// interpolation, through the stand-in ssrc_hp, in test_engine_figures.cpp).
#include "analysis/engine_measurement.h"
#include "analysis/report_table.h"
#include "closed_form_engines.h"

#include <gtest/gtest.h>

#include <cmath>

namespace sonteva::analysis {
namespace {

using test::Gain;
using test::PureDelay;

EngineReport measure(const std::string& name, int64_t fsIn, int64_t fsOut, CoreFactory make) {
    const ProbeSet probes = makeProbeSet(fsIn, fsOut, false);
    EngineReport r = measureConverter(streamingConverter(name, std::move(make)), probes);
    EXPECT_TRUE(r.measured) << r.error;
    return r;
}

void expectAtFloor(const Figures& f, const Figures& floor, double below) {
    EXPECT_LE(f.aliasFullBand.dbfs, floor.aliasFullBand.dbfs + below + 1.0);
    EXPECT_LE(f.aliasBelow09.dbfs, floor.aliasBelow09.dbfs + below + 1.0);
    EXPECT_LE(f.aliasAudioBand.dbfs, floor.aliasAudioBand.dbfs + below + 1.0);
    EXPECT_LT(floor.aliasFullBand.dbfs, -250.0);
}

TEST(ClosedForms, PassThroughGivesExactFigures) {
    for (int64_t fs : {44100, 96000}) {
        const EngineReport r =
            measure("pass", fs, fs, [] { return std::make_unique<PassthroughResampler>(); });
        const Figures& f = r.figures;
        EXPECT_EQ(f.rippleDb, 0.0);
        EXPECT_EQ(f.passbandDb, 0.0);
        EXPECT_EQ(f.at099Db, 0.0);
        EXPECT_FALSE(f.minus3dBHz.has_value());
        EXPECT_NEAR(f.latencyFrames, 0.0, 1e-9);
        EXPECT_TRUE(f.linearPhase);
        EXPECT_EQ(f.outputFrames, f.inputFrames);
        EXPECT_EQ(f.outputFrames, f.expectedFrames);
        // The output is the stimulus itself: every spectral figure is the floor's.
        EXPECT_EQ(f.aliasFullBand.dbfs, r.floor.aliasFullBand.dbfs);
        EXPECT_EQ(f.thdnDb, r.floor.thdnDb);
        expectAtFloor(f, r.floor, 0.0);
        const ReportTable t = reportTable({r});
        ASSERT_EQ(t.rows.size(), 1u);
        EXPECT_TRUE(t.rows[0][4].atFloor);
        EXPECT_EQ(t.rows[0][4].text.rfind("<= ", 0), 0u) << t.rows[0][4].text;
    }
}

TEST(ClosedForms, PureDelayIsMeasuredAsExactlyItsFrames) {
    for (int k : {1, 7, 300}) {
        const EngineReport r =
            measure("delay", 48000, 48000, [k] { return std::make_unique<PureDelay>(k); });
        EXPECT_NEAR(r.figures.latencyFrames, k, 1e-9) << k;
        EXPECT_EQ(r.claimedLatency, k);
        EXPECT_EQ(r.figures.outputFrames, r.figures.inputFrames + k);
        EXPECT_NEAR(r.figures.rippleDb, 0.0, 1e-9);
        EXPECT_TRUE(r.figures.linearPhase);
        EXPECT_FALSE(r.figures.invertedPolarity);
        expectAtFloor(r.figures, r.floor, 0.0);
    }
}

TEST(ClosedForms, GainIsMeasuredEverywhereInThePassband) {
    const double db = 20 * std::log10(0.5); // -6.0206
    const EngineReport r =
        measure("gain", 44100, 44100, [] { return std::make_unique<Gain>(0.5); });
    EXPECT_NEAR(r.figures.passbandDb, db, 1e-9);
    EXPECT_NEAR(r.figures.at099Db, db, 1e-9);
    EXPECT_NEAR(r.figures.rippleDb, 0.0, 1e-9);
    EXPECT_FALSE(r.figures.minus3dBHz.has_value()); // relative to the passband level
    for (const ResponsePoint& p : r.plots.response)
        EXPECT_NEAR(p.db, db, 1e-9) << p.hz;
    expectAtFloor(r.figures, r.floor, 0.0);
    // An inverted gain is the same level with its polarity named.
    const EngineReport flipped =
        measure("minus", 44100, 44100, [] { return std::make_unique<Gain>(-0.5); });
    EXPECT_TRUE(flipped.figures.invertedPolarity);
    EXPECT_NEAR(flipped.figures.latencyFrames, 0.0, 1e-9);
    EXPECT_TRUE(flipped.figures.linearPhase);
}

// A converter that fails, or delivers far too little, is reported, not measured.
TEST(ClosedForms, BrokenConvertersAreReportedWithTheReason) {
    const ProbeSet probes = makeProbeSet(48000, 44100, false);
    ConverterUnderTest shortOne{"short", {}, {}, [](const Channels& in, const std::atomic<bool>*) {
                                    Channels out = in;
                                    for (auto& c : out)
                                        c.resize(100);
                                    return out;
                                }};
    ConverterUnderTest fewer{"fewer", {}, {}, [](const Channels& in, const std::atomic<bool>*) {
                                 return Channels(in.begin(), in.end() - 1);
                             }};
    ConverterUnderTest throws{
        "throws", {}, {}, [](const Channels&, const std::atomic<bool>*) -> Channels {
            throw std::runtime_error("disk on fire");
        }};
    for (const auto& [c, text] :
         {std::pair{shortOne, "100 frames"}, {fewer, "channels"}, {throws, "disk on fire"}}) {
        const EngineReport r = measureConverter(c, probes);
        EXPECT_FALSE(r.measured);
        EXPECT_NE(r.error.find(text), std::string::npos) << r.error;
        EXPECT_NE(tableText(reportTable({r})).find(text), std::string::npos);
    }
    std::atomic<bool> cancel{true};
    MeasureOptions options;
    options.cancel = &cancel;
    EXPECT_THROW(
        measureConverter(
            streamingConverter("pass", [] { return std::make_unique<PassthroughResampler>(); }),
            probes, options),
        Cancelled);
}

} // namespace
} // namespace sonteva::analysis
