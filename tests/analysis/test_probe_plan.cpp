// The test signals: tones kept apart so that every output bin has one maker, probes dense
// where the worst aliases lie, levels within full scale, and pairs that cannot be measured.
#include "analysis/probe_plan.h"
#include "analysis/fourier.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace sonteva::analysis {
namespace {

const std::vector<std::pair<int64_t, int64_t>> kPairs = {
    {96000, 44100},  {192000, 48000}, {44100, 48000}, {48000, 44100},
    {44100, 384000}, {384000, 44100}, {8000, 352800}, {44100, 44100}};

TEST(ProbePlan, TonesOfAChannelNeverShareAResidue) {
    for (auto [in, out] : kPairs) {
        const ProbePlan p = planProbes(in, out, true);
        EXPECT_EQ(p.periodIn * out, p.periodOut * in); // the same duration at both rates
        for (const ToneChannel& c : p.toneChannels) {
            std::set<int64_t> residues;
            for (const ProbeTone& t : c.tones) {
                const int64_t r = t.bin % p.bins;
                EXPECT_NE(r, 0);
                EXPECT_NE(2 * r, p.bins);
                EXPECT_TRUE(residues.insert(r).second) << in << " -> " << out;
                EXPECT_TRUE(residues.insert(p.bins - r).second) << in << " -> " << out;
                EXPECT_LT(2 * t.bin, p.periodIn); // below the input Nyquist frequency
            }
        }
    }
}

TEST(ProbePlan, ProbesAreDenseAtBothNyquistFrequencies) {
    for (auto [in, out] : kPairs) {
        const ProbePlan p = planProbes(in, out, false);
        std::set<double> hz;
        for (const ToneChannel& c : p.toneChannels)
            for (const ProbeTone& t : c.tones)
                hz.insert(p.hz(t.bin));
        auto nearest = [&](double f) {
            double best = 1e9;
            for (double h : hz)
                best = std::min(best, std::fabs(h - f));
            return best;
        };
        const double nL = p.lowerNyquist(), nI = static_cast<double>(in) / 2;
        // Within three bins of the lower Nyquist frequency, on both sides of it.
        EXPECT_LE(nearest(nL - 2 * p.binHz), 2 * p.binHz) << in << " -> " << out;
        if (in > out) {
            EXPECT_LE(nearest(nL + 2 * p.binHz), 2 * p.binHz) << in << " -> " << out;
        }
        EXPECT_LE(nearest(nI), 0.001 * nL + 2 * p.binHz) << in << " -> " << out;
        EXPECT_LE(*hz.begin(), 20.0 + p.binHz);
        EXPECT_GE(*hz.begin(), 20.0);
        EXPECT_GT(hz.size(), 300u);
    }
}

TEST(ProbePlan, SignalsStayWithinFullScaleAndHoldExactlyTheirTones) {
    const ProbePlan p = planProbes(96000, 44100, true);
    const Channels x = synthesize(p);
    ASSERT_EQ(static_cast<int>(x.size()), p.channelCount());
    for (size_t c = 0; c < x.size(); ++c) {
        ASSERT_EQ(static_cast<int64_t>(x[c].size()), p.inputFrames());
        double peak = 0;
        for (double v : x[c])
            peak = std::max(peak, std::fabs(v));
        EXPECT_LE(peak, c < p.toneChannels.size() ? ProbePlan::kTonePeak + 1e-12 : 1.0) << c;
    }
    // One period's spectrum: the tones at their amplitude, nothing else above -280 dB.
    const ToneChannel& c = p.toneChannels.front();
    const auto s = realSpectrum(std::span(x.front()).subspan(0, static_cast<size_t>(p.periodIn)));
    std::set<int64_t> own;
    for (const ProbeTone& t : c.tones) {
        own.insert(t.bin);
        EXPECT_NEAR(2 * std::abs(s[static_cast<size_t>(t.bin)]) / p.periodIn, c.amplitude, 1e-12);
    }
    for (size_t k = 0; k < s.size(); ++k)
        if (!own.count(static_cast<int64_t>(k))) {
            ASSERT_LT(2 * std::abs(s[k]) / p.periodIn, 1e-14) << k;
        }
    EXPECT_EQ(p.expectedOutputFrames(p.inputFrames()),
              std::llround(static_cast<double>(p.inputFrames()) * 44100 / 96000));
}

TEST(ProbePlan, RatesWithoutAShortCommonPeriodAreRefused) {
    std::string why;
    EXPECT_FALSE(measurable(44101, 48000, &why));
    EXPECT_NE(why.find("greatest common divisor (1 Hz)"), std::string::npos) << why;
    EXPECT_THROW(planProbes(44101, 48000, false), std::invalid_argument);
    EXPECT_FALSE(measurable(0, 48000, &why));
    EXPECT_FALSE(measurable(-44100, 48000, &why));
    for (auto [in, out] : kPairs)
        EXPECT_TRUE(measurable(in, out, &why)) << why;
}

} // namespace
} // namespace sonteva::analysis
