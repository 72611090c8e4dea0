// The whole-file route with a stand-in ssrc_hp: SSRC conversion, SSRC noise shaping after
// any engine, and the TPDF substitutes with their log line.
#include "batch_support.h"
#include "engines/ssrc_runner.h"
#include "engines/system_log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

using namespace sonteva;
using namespace sonteva::test;

namespace {

class WholeFile : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("SONTEVA_RESOURCE_DIR", dir.path().c_str(), 1); // no ssrc_hp in there
        ::setenv("SONTEVA_SSRC", SONTEVA_FAKE_SSRC, 1);
        ::setenv("TMPDIR", dir.path().c_str(), 1);
        setLogSink([this](const std::string& line) { log.push_back(line); });
        source = dir.file("master.wav");
        data = musicLike(2, 20000, 96000);
        writeFile(source, data, 96000, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    }
    void TearDown() override {
        setLogSink(nullptr);
        ::unsetenv("SONTEVA_SSRC");
        ::unsetenv("SONTEVA_RESOURCE_DIR");
        ::unsetenv("TMPDIR");
    }
    JobOutcome run(const ConversionJob& job) {
        progress.clear();
        return runJob(job, [this](double p) { progress.push_back(p); });
    }
    TempDir dir;
    std::string source;
    Planar data;
    std::vector<std::string> log;
    std::vector<double> progress;
};

const char* kTpdfLine16 =
    "Sonteva: noise-shaping dither unavailable (bitDepth 16 / ssrc) \u2014 using TPDF";
const char* kTpdfLine24 =
    "Sonteva: noise-shaping dither unavailable (bitDepth 24 / ssrc) \u2014 using TPDF";

} // namespace

TEST_F(WholeFile, NoiseShapingAfterAnyEngine) {
    auto job = jobFor(source, 48000, BitDepth::int16, "Noise Shaping Medium");
    const JobOutcome r = run(job);
    ASSERT_TRUE(r.succeeded) << r.error.toStdString();
    EXPECT_EQ(progress, (std::vector<double>{0.5, 0.9})); // two channels converted in parallel
    const ReadBack back = readFile(outputOf(job));
    EXPECT_EQ(back.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(back.info.frames, 10000 + 32); // the converted length, kept by the dither step
    EXPECT_TRUE(log.empty());
}

TEST_F(WholeFile, AShaperTheConverterLacksFallsBackToTpdf) {
    // Shaper 6 exists only at 44.1 and 48 kHz; the converter then writes undithered audio
    // and says so, which must not pass for noise shaping.
    auto job = jobFor(source, 88200, BitDepth::int16, "Noise Shaping High");
    const JobOutcome o = run(job);
    ASSERT_TRUE(o.succeeded);
    const QString note = "Noise Shaping High could not be applied (SSRC failed: ssrc_hp has no "
                         "noise shaper 6 at 88200 Hz): TPDF dither was applied instead";
    EXPECT_EQ(
        log, (std::vector<std::string>{kTpdfLine16, "Sonteva: master.wav: " + note.toStdString()}));
    EXPECT_EQ(o.notes, QStringList{note});
    EXPECT_TRUE(o.substituted);
    EXPECT_EQ(o.dither, "TPDF");
    EXPECT_EQ(readFile(outputOf(job)).ints, tpdfReference(data, 96000, 88200, 16));
}

// Either engine: the shaper exists for 16-bit output only, so 24 bits get TPDF, said.
TEST_F(WholeFile, TwentyFourBitsNeverGetTheExternalShaper) {
    for (const char* engine : {"SSRC Shibata", "Sonteva SRC"}) {
        SCOPED_TRACE(engine);
        log.clear();
        auto job = jobFor(source, 44100, BitDepth::int24, "Noise Shaping Low", AudioFormat::wav,
                          QString(engine));
        const JobOutcome o = run(job);
        ASSERT_TRUE(o.succeeded);
        EXPECT_EQ(log.front(), kTpdfLine24);
        EXPECT_EQ(o.notes, QStringList{"Noise Shaping Low exists for 16-bit output only: TPDF "
                                       "dither was applied to this 24-bit output"});
        EXPECT_EQ(o.engine, engine);
        EXPECT_EQ(o.dither, "TPDF");
        if (std::string(engine) == "Sonteva SRC") {
            EXPECT_EQ(readFile(outputOf(job)).ints, tpdfReference(data, 96000, 44100, 24));
        }
    }
}

TEST_F(WholeFile, MissingConverter) {
    ::setenv("SONTEVA_SSRC", dir.file("nowhere").c_str(), 1);
    const JobOutcome ssrc = run(jobFor(source, 44100, BitDepth::int24, "None", AudioFormat::wav,
                                       QStringLiteral("SSRC Shibata")));
    EXPECT_FALSE(ssrc.succeeded);
    EXPECT_EQ(ssrc.error, "SSRC binary (ssrc_hp) not found");
    // Noise shaping falls back to TPDF, and the job succeeds.
    auto shaped = jobFor(source, 48000, BitDepth::int16, "Noise Shaping Low");
    const JobOutcome o = run(shaped);
    ASSERT_TRUE(o.succeeded);
    EXPECT_EQ(log.front(), kTpdfLine16);
    EXPECT_EQ(o.notes, QStringList{"Noise Shaping Low could not be applied (ssrc_hp was not "
                                   "found): TPDF dither was applied instead"});
    EXPECT_EQ(readFile(outputOf(shaped)).ints, tpdfReference(data, 96000, 48000, 16));
    // No work folder was left behind.
    for (const std::string& name : dir.entries())
        EXPECT_EQ(name.find("sonteva-"), std::string::npos) << name;
}

namespace {

// Scales the stored integers back to the values a reader of that word length sees.
ChannelBuffers scaled(const std::vector<std::vector<int32_t>>& ints, int bits) {
    ChannelBuffers out;
    for (const auto& ch : ints) {
        out.emplace_back();
        for (int32_t v : ch)
            out.back().push_back(std::ldexp(double(v), 1 - bits));
    }
    return out;
}

std::vector<std::vector<int32_t>> quantised(const ChannelBuffers& x, int bits) {
    std::vector<std::vector<int32_t>> q;
    for (const auto& ch : x) {
        q.emplace_back();
        for (double v : ch)
            q.back().push_back(toInt(v, bits));
    }
    return q;
}

} // namespace

// The converter runs over the whole signal (no progress to report meanwhile) and the file
// holds its own integers: unchanged at 24 bits, its shaped 16-bit ones, or (for any other
// recipe) those reduced with exactly the dither the recipe names.
TEST_F(WholeFile, TheConvertersIntegersReachTheFileUnchanged) {
    const std::string keep = dir.file("converter");
    std::filesystem::create_directories(keep);
    ::setenv("FAKE_SSRC_KEEP", keep.c_str(), 1);
    struct Case {
        BitDepth bits;
        const char* dither;
        AudioFormat format;
    };
    const std::vector<Case> cases = {{BitDepth::int24, "None", AudioFormat::wav},
                                     {BitDepth::int24, "None", AudioFormat::flac},
                                     {BitDepth::float32, "None", AudioFormat::wav},
                                     {BitDepth::int16, "Noise Shaping Medium", AudioFormat::wav},
                                     {BitDepth::int16, "None", AudioFormat::wav},
                                     {BitDepth::int16, "TPDF", AudioFormat::wav},
                                     {BitDepth::int24, "TPDF", AudioFormat::wav}};
    for (const auto& [bits, dither, format] : cases) {
        SCOPED_TRACE(std::string(dither) + " " + rawValue(bits));
        auto job = jobFor(source, 44100, bits, dither, format, QStringLiteral("SSRC Shibata"));
        const JobOutcome r = run(job);
        ASSERT_TRUE(r.succeeded) << r.error.toStdString();
        EXPECT_TRUE(progress.empty());
        const ReadBack out = readFile(outputOf(job));
        const auto ints24 = readFile(keep + "/out-24.wav").ints;
        ASSERT_EQ(ints24[0].size(), 9188u + 2);
        ASSERT_EQ(out.info.frames, 9188 + 2); // round(20000 * 44100 / 96000) + the converter's 2
        if (bits == BitDepth::float32) {
            EXPECT_EQ(out.doubles, scaled(ints24, 24));
        } else if (std::string(dither) == "Noise Shaping Medium") {
            auto ints16 = readFile(keep + "/out-16.wav").ints;
            for (auto& ch : ints16)
                ch.resize(9190); // the shaper's own tail is not kept
            EXPECT_EQ(out.ints, ints16);
        } else {
            const int b = bits == BitDepth::int16 ? 16 : 24;
            ChannelBuffers expected = scaled(ints24, 24);
            if (std::string(dither) == "TPDF") applyTPDF(expected, bits);
            EXPECT_EQ(out.ints, quantised(expected, b));
        }
        EXPECT_EQ(r.levels->clippedSamples, 0);
        std::filesystem::remove(keep + "/out-16.wav");
    }
    EXPECT_TRUE(log.empty());
    ::unsetenv("FAKE_SSRC_KEEP");
}

// A converter that exits 0 with the wrong output fails the job with the figures, on both
// of the converter's routes, and no output appears.
TEST_F(WholeFile, WrongConverterOutputFailsTheJob) {
    struct Case {
        const char* mode;
        ConversionJob job;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"short",
         jobFor(source, 44100, BitDepth::int24, "None", AudioFormat::wav,
                QStringLiteral("SSRC Shibata")),
         "SSRC returned 9186 frames at 44100 Hz; 9188 frames at 44100 Hz were expected for "
         "20000 frames at 96000 Hz"},
        {"mislabelled",
         jobFor(source, 44100, BitDepth::int24, "None", AudioFormat::wav,
                QStringLiteral("SSRC Shibata")),
         "SSRC returned 9190 frames at 96001 Hz; 9188 frames at 44100 Hz were expected for "
         "20000 frames at 96000 Hz"},
        {"short", jobFor(source, 48000, BitDepth::int16, "Noise Shaping Medium"),
         "SSRC returned 10030 frames at 48000 Hz; 10032 frames at 48000 Hz were expected"},
        {"mono", jobFor(source, 48000, BitDepth::int16, "Noise Shaping Low"),
         "SSRC returned 1 channel; 2 were expected"}};
    for (const auto& [mode, job, error] : cases) {
        ::setenv("FAKE_SSRC_MODE", mode, 1);
        const JobOutcome r = run(job);
        EXPECT_FALSE(r.succeeded) << mode;
        EXPECT_EQ(r.error.toStdString(), error);
        EXPECT_FALSE(std::filesystem::exists(outputOf(job)));
    }
    ::unsetenv("FAKE_SSRC_MODE");
    EXPECT_TRUE(log.empty()); // no quiet fallback to TPDF
}

// Float overs cannot pass the converter's integer input: they are clipped, counted in the
// levels whatever the output's word length, and described.
TEST_F(WholeFile, OversClampedForTheConverterAreCountedAndDescribed) {
    Planar loud = data;
    for (auto& ch : loud)
        for (double& v : ch)
            v *= 2.0;
    int64_t over = 0;
    double peak = 0;
    for (const auto& ch : loud)
        for (double v : ch) {
            over += v > 1.0 || v < -1.0 - 1.0 / 2147483647;
            peak = std::max(peak, std::fabs(v));
        }
    ASSERT_GT(over, 100);
    const std::string hot = dir.file("hot.wav");
    writeFile(hot, loud, 96000, SF_FORMAT_WAV | SF_FORMAT_DOUBLE);
    char note[200];
    std::snprintf(note, sizeof note,
                  "%lld samples above full scale (source peak %+.2f dBFS) were clipped to full "
                  "scale for the SSRC converter, which takes integer input",
                  static_cast<long long>(over), 20 * std::log10(peak));
    for (const BitDepth bits : {BitDepth::int24, BitDepth::float32}) {
        const JobOutcome r =
            run(jobFor(hot, 44100, bits, "None", AudioFormat::wav, QStringLiteral("SSRC Shibata")));
        ASSERT_TRUE(r.succeeded) << r.error.toStdString();
        EXPECT_EQ(r.levels->clippedSamples, over);
        EXPECT_EQ(r.notes, QStringList{QString::fromUtf8(note)});
    }
}
