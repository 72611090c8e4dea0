// Positioning is exact on every decoder: after any move, the next frame read is the frame
// asked for.
#include "audio_io/audio_error.h"
#include "audio_io/seekable_reader.h"
#include "support/ffmpeg_files.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <limits>

using namespace sonteva;
using namespace sonteva::test;

namespace {

constexpr int64_t kFrames = 30011;

// Reads n frames at the current position and checks them against x from `at`.
void expectRead(SeekableReader& reader, const Planar& x, int64_t at, int64_t n) {
    std::vector<std::vector<float>> buffer(x.size(), std::vector<float>(size_t(n)));
    ASSERT_EQ(reader.read(buffer, n), n) << reader.errorText();
    for (size_t c = 0; c < x.size(); ++c)
        for (int64_t i = 0; i < n; ++i)
            ASSERT_EQ(buffer[c][size_t(i)], float(x[c][size_t(at + i)]))
                << "channel " << c << " frame " << at + i;
    EXPECT_EQ(reader.position(), at + n);
}

// Forward and backward moves, reads across the end, and positions outside the file.
void exercise(SeekableReader& reader, const Planar& x) {
    ASSERT_EQ(reader.totalFrames(), kFrames);
    ASSERT_EQ(reader.channels(), int(x.size()));
    expectRead(reader, x, 0, 4096);
    ASSERT_TRUE(reader.setPosition(20000));
    expectRead(reader, x, 20000, 1000);
    ASSERT_TRUE(reader.setPosition(123)); // backwards
    expectRead(reader, x, 123, 4096);
    ASSERT_TRUE(reader.setPosition(kFrames - 50));
    std::vector<std::vector<float>> buffer(x.size(), std::vector<float>(4096));
    EXPECT_EQ(reader.read(buffer, 4096), 50);
    EXPECT_EQ(reader.read(buffer, 4096), 0);
    EXPECT_TRUE(reader.setPosition(kFrames)); // the end itself is a position
    EXPECT_EQ(reader.read(buffer, 4096), 0);
    EXPECT_FALSE(reader.setPosition(kFrames + 1));
    EXPECT_EQ(reader.read(buffer, 4096), 0) << "nothing is read from an unknown place";
    ASSERT_TRUE(reader.setPosition(7)); // and a later move recovers
    expectRead(reader, x, 7, 64);
}

} // namespace

TEST(SeekableReader, PositionsExactlyInLibsndfileFormats) {
    TempDir dir;
    const Planar x = exactly(musicLike(2, kFrames, 44100), 24);
    for (const int format : {SF_FORMAT_WAV | SF_FORMAT_PCM_24, SF_FORMAT_FLAC | SF_FORMAT_PCM_24,
                             SF_FORMAT_AIFF | SF_FORMAT_PCM_24}) {
        SCOPED_TRACE(format);
        const std::string path = dir.file("source" + std::to_string(format));
        writeFile(path, x, 44100, format);
        SeekableReader reader(path);
        EXPECT_EQ(reader.sampleRate(), 44100);
        exercise(reader, x);
    }
}

TEST(SeekableReader, PositionsExactlyInFfmpegOnlyFormats) {
    TempDir dir;
    const Planar x = exactly(musicLike(2, kFrames, 48000), 24);
    const std::string path = dir.file("source.m4a");
    writeM4a(path, Encoding{AV_CODEC_ID_ALAC, AV_SAMPLE_FMT_S32P, 24}, 48000, x);
    SeekableReader reader(path);
    EXPECT_EQ(reader.sampleRate(), 48000);
    exercise(reader, x);
}

TEST(SeekableReader, ReplacesNonFiniteSamplesAndReportsOpenFailures) {
    TempDir dir;
    Planar x = musicLike(1, 16, 44100);
    x[0][5] = std::numeric_limits<double>::quiet_NaN();
    x[0][6] = std::numeric_limits<double>::infinity();
    const std::string path = dir.file("nan.wav");
    writeFile(path, x, 44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    SeekableReader reader(path);
    std::vector<std::vector<float>> buffer(1, std::vector<float>(16));
    ASSERT_EQ(reader.read(buffer, 16), 16);
    EXPECT_EQ(buffer[0][5], 0.0f);
    EXPECT_EQ(buffer[0][6], 0.0f);
    EXPECT_EQ(buffer[0][7], float(x[0][7]));

    EXPECT_THROW(SeekableReader(dir.file("missing.wav")), AudioError);
}
