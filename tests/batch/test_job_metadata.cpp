// A job's output carries its source's metadata and its record the levels, on both routes.
#include "audio_io/metadata.h"
#include "batch_support.h"
#include "support/metadata_files.h"

#include <gtest/gtest.h>

using namespace sonteva;
using namespace sonteva::test;

namespace {

const std::string kHistory = "A=PCM,F=96000,W=16,M=stereo,T=Recorder\r\n";

std::string out(const ConversionJob& job) {
    return job.outputUrl().toLocalFile().toStdString();
}

} // namespace

TEST(JobMetadata, BothRoutesCarryTheTimeReferenceAndRecordTheLevels) {
    TempDir dir;
    Bytes cue;
    put(cue, 1, 4), put(cue, 7, 4), put(cue, 96000, 4), put(cue, "data"), put(cue, 0, 8);
    put(cue, 96000, 4);
    Bytes chunks = chunk("bext", bext(345600000, 2, kHistory, -2300));
    const Bytes cueChunk = chunk("cue ", cue);
    chunks.insert(chunks.end(), cueChunk.begin(), cueChunk.end());
    wavFile(dir.file("m.wav"), 96000, 2, 96000 * 2, chunks);
    // Streaming (TPDF, 24 bits) and the whole-file route (a noise shaper on 16 bits).
    for (auto [rate, bits, dither, reference] :
         {std::tuple{48000, BitDepth::int24, "TPDF", 172800000ull},
          std::tuple{44100, BitDepth::int16, "Noise Shaping Medium", 158760000ull}}) {
        SCOPED_TRACE(dither);
        const ConversionJob job = jobFor(dir.file("m.wav"), rate, bits, dither);
        const JobOutcome o = runJob(job);
        ASSERT_TRUE(o.succeeded) << o.error.toStdString();
        ASSERT_TRUE(o.levels);
        // A -6 dBFS 1 kHz tone on both channels reads -6 LUFS (-3 per channel, +3 for two).
        EXPECT_NEAR(20 * std::log10(o.levels->samplePeak), -6.02, 0.01);
        EXPECT_NEAR(o.levels->integratedLoudness, -6.02, 0.05);
        EXPECT_EQ(o.levels->clippedSamples, 0);
        const Metadata m = readMetadata(out(job));
        ASSERT_GT(m.bext.size(), 602u);
        EXPECT_EQ(get(m.bext, 338, 8), reference);
        EXPECT_EQ(int16_t(get(m.bext, 412, 2)),
                  int(std::lround(o.levels->integratedLoudness * 100)));
        const std::string history(m.bext.begin() + 602, m.bext.end());
        EXPECT_EQ(history.rfind(kHistory + "A=PCM,F=" + std::to_string(rate) +
                                    ",W=" + (bits == BitDepth::int16 ? "16" : "24") +
                                    ",M=stereo,T=Sonteva;Sonteva SRC;dither ",
                                0),
                  0u)
            << history;
        ASSERT_EQ(m.markers.size(), 1u);
        EXPECT_EQ(m.markers[0].position, rate);
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
