// A job's output carries its source's metadata and its record the levels, on both routes.
#include "audio_io/metadata.h"
#include "batch_support.h"
#include "support/metadata_files.h"

#include <gtest/gtest.h>

using namespace sonteva;
using namespace sonteva::test;

namespace {

const std::string kHistory = "A=PCM,F=96000,W=16,M=stereo,T=Recorder\r\n";

} // namespace

// A version-1 bext becomes version 2 with the measured loudness; two seconds have no
// loudness range ("not calculated", not 0.00 LU).
TEST(JobMetadata, BothRoutesCarryTheTimeReferenceAndRecordTheLevels) {
    TempDir dir;
    Bytes cue;
    put(cue, 1, 4), put(cue, 7, 4), put(cue, 96000, 4), put(cue, "data"), put(cue, 0, 8);
    put(cue, 96000, 4);
    Bytes chunks = chunk("bext", bext(345600000, 1, kHistory));
    const Bytes cueChunk = chunk("cue ", cue);
    chunks.insert(chunks.end(), cueChunk.begin(), cueChunk.end());
    wavFile(dir.file("m.wav"), 96000, 2, 96000 * 2, chunks);
    // Streaming (TPDF, 24 bits) and the whole-file route (a noise shaper on 16 bits), with
    // the engine's delay kept (what points into the audio moves with it) or compensated.
    for (bool compensate : {false, true})
        for (auto [rate, bits, dither, reference] :
             {std::tuple{48000, BitDepth::int24, "TPDF", 172800000ll},
              std::tuple{44100, BitDepth::int16, "Noise Shaping Medium", 158760000ll}}) {
            SCOPED_TRACE(std::string(dither) + (compensate ? ", compensated" : ""));
            ConversionJob job = jobFor(dir.file("m.wav"), rate, bits, dither);
            job.compensateDelay = compensate;
            const JobOutcome o = runJob(job);
            ASSERT_TRUE(o.succeeded) << o.error.toStdString();
            ASSERT_TRUE(o.levels);
            // A -6 dBFS 1 kHz tone on both channels reads -6 LUFS (-3 per channel, +3 for two).
            EXPECT_NEAR(20 * std::log10(o.levels->samplePeak), -6.02, 0.01);
            EXPECT_NEAR(o.levels->integratedLoudness, -6.02, 0.05);
            EXPECT_EQ(o.levels->clippedSamples, 0);
            const Metadata m = readMetadata(outputOf(job));
            ASSERT_GT(m.bext.size(), 602u);
            // The flagship's delay at 96 -> 48 and 96 -> 44.1 kHz: 31.9 and 29.4 frames.
            const int64_t delay = std::llround(o.latencyFrames);
            EXPECT_EQ(delay, compensate ? 0 : rate == 48000 ? 32 : 29);
            EXPECT_EQ(int64_t(get(m.bext, 338, 8)), reference - delay);
            EXPECT_EQ(get(m.bext, 346, 2), 2u);
            EXPECT_EQ(int16_t(get(m.bext, 412, 2)),
                      int(std::lround(o.levels->integratedLoudness * 100)));
            EXPECT_EQ(get(m.bext, 414, 2), 0x7FFFu);            // loudness range
            EXPECT_NEAR(int16_t(get(m.bext, 416, 2)), -602, 2); // true peak, dBTP
            EXPECT_NEAR(int16_t(get(m.bext, 418, 2)), -602, 5); // momentary maximum
            EXPECT_EQ(get(m.bext, 420, 2), 0x7FFFu);            // no 3 s window
            const std::string history(m.bext.begin() + 602, m.bext.end());
            EXPECT_EQ(history.rfind(kHistory + "A=PCM,F=" + std::to_string(rate) +
                                        ",W=" + (bits == BitDepth::int16 ? "16" : "24") +
                                        ",M=stereo,T=Sonteva;Sonteva SRC;dither ",
                                    0),
                      0u)
                << history;
            ASSERT_EQ(m.markers.size(), 1u);
            EXPECT_EQ(m.markers[0].position, rate + delay);
        }
}

// A steady tone long enough for several 3 s windows has a measured range of 0 LU; silence
// of that length has none ("not calculated").
TEST(JobMetadata, LoudnessRangeIsMeasuredOrMarkedNotCalculated) {
    TempDir dir;
    for (auto [amplitude, range] : {std::pair{16384, 0u}, std::pair{0, 0x7FFFu}}) {
        SCOPED_TRACE(amplitude);
        wavFile(dir.file("m.wav"), 48000, 2, 48000 * 4, chunk("bext", bext(0, 2, kHistory)),
                amplitude);
        const ConversionJob job = jobFor(dir.file("m.wav"), 48000, BitDepth::int24, "TPDF");
        const JobOutcome o = runJob(job);
        ASSERT_TRUE(o.succeeded) << o.error.toStdString();
        const Metadata m = readMetadata(outputOf(job));
        ASSERT_GT(m.bext.size(), 602u);
        EXPECT_EQ(get(m.bext, 414, 2), range);
    }
}

TEST(JobMetadata, ClippedSamplesOfASignalBuiltToClip) {
    TempDir dir;
    Planar x = musicLike(2, 48000, 96000);
    for (size_t i = 0; i < 25; ++i)
        x[i % 2][500 + i * 1500] = 1.3;
    writeFile(dir.file("hot.wav"), x, 96000, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    // At an unchanged rate the samples reach the reduction as they are.
    for (auto [bits, format] : {std::pair{BitDepth::int16, AudioFormat::wav},
                                std::pair{BitDepth::float32, AudioFormat::flac},
                                std::pair{BitDepth::float32, AudioFormat::wav}}) {
        const JobOutcome o = runJob(jobFor(dir.file("hot.wav"), 96000, bits, "TPDF", format));
        ASSERT_TRUE(o.succeeded) << o.error.toStdString();
        EXPECT_NEAR(o.levels->samplePeak, 1.3, 1e-6);
        const bool floatOutput = format == AudioFormat::wav && bits == BitDepth::float32;
        EXPECT_EQ(o.levels->clippedSamples, floatOutput ? 0 : 25);
        // A float output keeps the overs (and says so); FLAC cannot store float samples.
        EXPECT_EQ(o.notes.size(), bits == BitDepth::int16 ? 0 : 1);
        EXPECT_EQ(o.substituted, format == AudioFormat::flac);
    }
}
