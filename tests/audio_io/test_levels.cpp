// Levels of a converted signal: known signals, libebur128 as the reference for true peak
// and loudness, and clipped samples counted where the word-length reduction clips them.
#include "audio_io/dither.h"
#include "audio_io/level_meter.h"

#include <ebur128.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

using namespace sonteva;

namespace {

using Planar = std::vector<std::vector<double>>;

// Measured in blocks of uneven sizes, as the streaming route hands them over.
MeasuredLevels measure(const Planar& x, double rate, int clipBits) {
    LevelMeter meter(int(x.size()), rate, clipBits);
    for (size_t at = 0, n = 1; at < x[0].size(); at += n, n = n * 7 % 100003 + 1) {
        n = std::min(n, x[0].size() - at);
        for (size_t c = 0; c < x.size(); ++c)
            meter.channel(int(c)).measure(std::span<const double>(x[c].data() + at, n));
        meter.collect();
    }
    return meter.result();
}

Planar sine(int channels, double rate, double seconds, double amplitude, double hz) {
    Planar x(size_t(channels), std::vector<double>(size_t(rate * seconds)));
    for (auto& ch : x)
        for (size_t i = 0; i < ch.size(); ++i)
            ch[i] = amplitude * std::sin(2 * M_PI * hz * double(i) / rate);
    return x;
}

} // namespace

TEST(Levels, KnownSignalsAndTheReferenceMeter) {
    // BS.1770: a full-scale 997 Hz sine reads -3.01 LUFS per channel.
    const auto mono = measure(sine(1, 48000, 5, 1.0, 997), 48000, 24);
    EXPECT_NEAR(mono.samplePeak, 1.0, 1e-6);
    EXPECT_NEAR(mono.integratedLoudness, -3.01, 0.01);
    EXPECT_NEAR(measure(sine(2, 48000, 5, 1.0, 997), 48000, 24).integratedLoudness, 0.0, 0.01);
    EXPECT_EQ(measure(sine(1, 48000, 0.3, 1.0, 997), 48000, 24).integratedLoudness,
              -std::numeric_limits<double>::infinity()); // no whole 400 ms block

    // Noise with a swelling envelope and a tone near Nyquist, whose peaks fall between
    // the samples, at rates that oversample 4x, 2x and not at all.
    for (double rate : {44100.0, 96000.0, 192000.0}) {
        SCOPED_TRACE(rate);
        Planar x = sine(2, rate, 12, 0.5, rate * 0.23);
        std::mt19937_64 rng(5);
        std::normal_distribution<double> noise(0, 0.1);
        for (auto& ch : x)
            for (size_t i = 0; i < ch.size(); ++i)
                ch[i] = (0.3 + 0.7 * std::sin(double(i) / rate)) * (ch[i] + noise(rng));
        const auto mine = measure(x, rate, 16);
        ebur128_state* st =
            ebur128_init(2, unsigned(rate), EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
        std::vector<double> frames;
        for (size_t i = 0; i < x[0].size(); ++i)
            frames.push_back(x[0][i]), frames.push_back(x[1][i]);
        ebur128_add_frames_double(st, frames.data(), x[0].size());
        double loudness = 0, tp[2] = {}, sp[2] = {};
        ebur128_loudness_global(st, &loudness);
        for (unsigned c = 0; c < 2; ++c)
            ebur128_true_peak(st, c, &tp[c]), ebur128_sample_peak(st, c, &sp[c]);
        ebur128_destroy(&st);
        EXPECT_EQ(mine.samplePeak, std::max(sp[0], sp[1]));
        EXPECT_NEAR(20 * std::log10(mine.truePeak), 20 * std::log10(std::max(tp[0], tp[1])), 0.01);
        EXPECT_GE(mine.truePeak, mine.samplePeak);
        EXPECT_NEAR(mine.integratedLoudness, loudness, 0.005);
    }
}

TEST(Levels, ClippedSamplesAreCountedWhereTheReductionClips) {
    // 37 samples beyond full scale in a signal that otherwise stays well inside it.
    Planar x = sine(1, 48000, 1, 0.5, 440);
    for (size_t i = 0; i < 37; ++i)
        x[0][100 + i * 1000] = (i % 2 ? -1.2 : 1.2);
    // The exact edges of an undithered 16-bit reduction: half a step above the largest code
    // clips, just below it does not; the smallest code holds down to half a step below.
    x[0][50] = 1.0 - 0.5 / 32768;
    x[0][51] = std::nextafter(1.0 - 0.5 / 32768, 0.0);
    x[0][52] = -1.0 - 0.5 / 32768;
    x[0][53] = std::nextafter(-1.0 - 0.5 / 32768, 0.0);
    EXPECT_EQ(measure(x, 48000, 16).clippedSamples, 37 + 2);
    // At 24 bits both edge samples below -1 clip, none of those below 1; a float output
    // counts the samples beyond ±1.0.
    EXPECT_EQ(measure(x, 48000, 24).clippedSamples, 37 + 2);
    EXPECT_EQ(measure(x, 48000, 0).clippedSamples, 37 + 2);

    // Dithered: the TPDF requantisation counts what it clamps.
    Planar y = sine(2, 48000, 1, 0.5, 440);
    for (size_t i = 0; i < 37; ++i)
        y[1][3 + i * 1297] = -1.5;
    EXPECT_EQ(applyTPDF(y, BitDepth::int24), 37);
    DitherEngine engine(DitherType::tpdf, 16, 0);
    std::vector<double> z(1000, 0.25);
    z[999] = 2.0; // the last, partial batch of the block loop
    z[5] = -2.0;
    engine.process(z);
    EXPECT_EQ(engine.clippedSamples(), 2);
    EXPECT_EQ(engine.peak(), 1.0);
}

TEST(Levels, DigitalSilenceSettlesTheLoudnessFilterWithoutMovingTheFigures) {
    // Tone, long digital silence, tone: once the K-weighting's memory has decayed, silent
    // 100 ms blocks measure exactly nothing (no subnormal residue is left to compute), and
    // every figure still agrees with libebur128, which never settles.
    for (double rate : {8000.0, 44100.0, 192000.0}) {
        SCOPED_TRACE(rate);
        const size_t tone = size_t(rate * 3), silence = size_t(rate * 20);
        Planar x = sine(1, rate, 3, 0.5, 997);
        x[0].resize(tone + silence, 0.0);
        const Planar again = sine(1, rate, 3, 0.25, 440);
        x[0].insert(x[0].end(), again[0].begin(), again[0].end());

        ChannelMeter meter(rate, 24);
        std::vector<double> energies;
        for (size_t at = 0, n = 1; at < x[0].size(); at += n, n = n * 7 % 100003 + 1) {
            n = std::min(n, x[0].size() - at);
            meter.measure(std::span<const double>(x[0].data() + at, n));
            auto& done = meter.completedEnergies();
            energies.insert(energies.end(), done.begin(), done.end());
            done.clear();
        }
        // From 3 s into the silence until the second tone, every block is exactly silent.
        const size_t first = 60, last = 230;
        ASSERT_GT(energies.size(), last);
        for (size_t b = first; b < last; ++b)
            ASSERT_EQ(energies[b], 0.0) << "block " << b;
        for (double e : energies)
            EXPECT_TRUE(e == 0.0 || std::isnormal(e)) << e;

        const auto mine = measure(x, rate, 24);
        ebur128_state* st = ebur128_init(1, unsigned(rate), EBUR128_MODE_I | EBUR128_MODE_M);
        ebur128_add_frames_double(st, x[0].data(), x[0].size());
        double loudness = 0;
        ebur128_loudness_global(st, &loudness);
        ebur128_destroy(&st);
        EXPECT_NEAR(mine.integratedLoudness, loudness, 0.005);
        EXPECT_EQ(mine.samplePeak, 0.5);
    }
}
