// The 64-bit float WAV layouts, byte for byte.
#include "audio_io/audio_io.h"
#include "audio_io/riff_writer.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace sonteva;
using namespace sonteva::test;

namespace {

ChannelBuffers ramp(int channels, size_t frames) {
    ChannelBuffers data(channels, std::vector<double>(frames));
    for (int c = 0; c < channels; ++c)
        for (size_t i = 0; i < frames; ++i)
            data[c][i] = (c + 1) * 1e-3 * i - 0.7;
    return data;
}

void expectFmt(const std::vector<uint8_t>& b, size_t at, int channels, uint32_t rate) {
    EXPECT_EQ(tagAt(b, at), "fmt ");
    EXPECT_EQ(le32(b, at + 4), 16u);
    EXPECT_EQ(le16(b, at + 8), 3u);
    EXPECT_EQ(le16(b, at + 10), channels);
    EXPECT_EQ(le32(b, at + 12), rate);
    EXPECT_EQ(le32(b, at + 16), rate * channels * 8);
    EXPECT_EQ(le16(b, at + 20), channels * 8);
    EXPECT_EQ(le16(b, at + 22), 64u);
}

void expectSamples(const std::vector<uint8_t>& b, size_t at, const ChannelBuffers& data) {
    const size_t channels = data.size();
    ASSERT_EQ(b.size(), at + data[0].size() * channels * 8);
    for (size_t i = 0; i < data[0].size(); ++i) {
        for (size_t c = 0; c < channels; ++c) {
            double v;
            std::memcpy(&v, b.data() + at + (i * channels + c) * 8, 8);
            ASSERT_EQ(v, data[c][i]);
        }
    }
}

void expectRf64(const std::vector<uint8_t>& b, uint64_t frames, int channels) {
    const uint64_t d = frames * channels * 8;
    ASSERT_EQ(b.size(), 80u);
    EXPECT_EQ(tagAt(b, 0), "RF64");
    EXPECT_EQ(le32(b, 4), 0xFFFFFFFFu);
    EXPECT_EQ(tagAt(b, 8), "WAVE");
    EXPECT_EQ(tagAt(b, 12), "ds64");
    EXPECT_EQ(le32(b, 16), 28u);
    EXPECT_EQ(le64(b, 20), d + 72);
    EXPECT_EQ(le64(b, 28), d);
    EXPECT_EQ(le64(b, 36), frames);
    EXPECT_EQ(le32(b, 44), 0u);
    expectFmt(b, 48, channels, 96000);
    EXPECT_EQ(tagAt(b, 72), "data");
    EXPECT_EQ(le32(b, 76), 0xFFFFFFFFu);
}

} // namespace

TEST(RiffWriter, StreamedFileHasTheJunkPlaceholderHeader) {
    TempDir dir;
    const ChannelBuffers data = ramp(2, 1000);
    AudioStreamWriter writer(dir.file("s.wav"), 96000.0, 2, AudioFormat::wav, BitDepth::float64);
    // Blocks of uneven size, and an empty block that changes nothing.
    ChannelBuffers a{{data[0].begin(), data[0].begin() + 300},
                     {data[1].begin(), data[1].begin() + 300}};
    ChannelBuffers b{{data[0].begin() + 300, data[0].end()},
                     {data[1].begin() + 300, data[1].end()}};
    writer.write(a);
    writer.write(ChannelBuffers{{}, {}});
    writer.write(b);
    writer.close();
    writer.close(); // a second close does nothing

    const auto bytes = load(dir.file("s.wav"));
    EXPECT_EQ(tagAt(bytes, 0), "RIFF");
    EXPECT_EQ(le32(bytes, 4), 16072u);
    EXPECT_EQ(tagAt(bytes, 8), "WAVE");
    EXPECT_EQ(tagAt(bytes, 12), "JUNK");
    EXPECT_EQ(le32(bytes, 16), 28u);
    for (size_t i = 20; i < 48; ++i)
        EXPECT_EQ(bytes[i], 0) << i;
    expectFmt(bytes, 48, 2, 96000);
    EXPECT_EQ(le32(bytes, 64), 1536000u);
    EXPECT_EQ(le16(bytes, 68), 16u);
    EXPECT_EQ(tagAt(bytes, 72), "data");
    EXPECT_EQ(le32(bytes, 76), 16000u);
    expectSamples(bytes, 80, data);
    EXPECT_EQ(dir.entries().size(), 1u); // no temporary file left beside it
}

TEST(RiffWriter, WholeFileFormAndEmptyFile) {
    TempDir dir;
    const ChannelBuffers data = ramp(2, 1000);
    AudioIO::write(dir.file("w.wav"), data, 96000.0, AudioFormat::wav, BitDepth::float64);
    const auto bytes = load(dir.file("w.wav"));
    EXPECT_EQ(tagAt(bytes, 0), "RIFF");
    EXPECT_EQ(le32(bytes, 4), 16036u);
    EXPECT_EQ(tagAt(bytes, 8), "WAVE");
    expectFmt(bytes, 12, 2, 96000);
    EXPECT_EQ(tagAt(bytes, 36), "data");
    EXPECT_EQ(le32(bytes, 40), 16000u);
    expectSamples(bytes, 44, data);

    AudioStreamWriter empty(dir.file("e.wav"), 44100.9, 1, AudioFormat::wav, BitDepth::float64);
    empty.close();
    const auto e = load(dir.file("e.wav"));
    ASSERT_EQ(e.size(), 80u);
    EXPECT_EQ(le32(e, 4), 72u);
    EXPECT_EQ(le32(e, 60), 44100u); // the rate's fraction is dropped
    EXPECT_EQ(le32(e, 76), 0u);

    // What the writer produced reads back exactly through the readers.
    AudioIO back(dir.file("w.wav"));
    EXPECT_EQ(back.getBitDepth(), "64f");
    EXPECT_EQ(back.readAllDouble(), data);
}

TEST(RiffWriter, HeadersPastFourGigabytesBecomeRf64) {
    // Streaming form: RF64 exactly when D + 72 passes 0xFFFFFFFF (stereo: 16 bytes a frame).
    const uint64_t lastPlain = (0xFFFFFFFFull - 72) / 16;
    const auto plain = riff::closingHeader(2, 96000.0, lastPlain);
    const std::vector<uint8_t> p(plain.begin(), plain.end());
    EXPECT_EQ(tagAt(p, 0), "RIFF");
    EXPECT_EQ(le32(p, 4), lastPlain * 16 + 72);
    EXPECT_EQ(tagAt(p, 12), "JUNK");
    EXPECT_EQ(le32(p, 76), lastPlain * 16);
    const auto big = riff::closingHeader(2, 96000.0, lastPlain + 1);
    expectRf64({big.begin(), big.end()}, lastPlain + 1, 2);
    const auto huge = riff::closingHeader(2, 96000.0, 1ull << 33);
    expectRf64({huge.begin(), huge.end()}, 1ull << 33, 2);

    // Whole-file form: plain 44 bytes while D + 36 < 2^32, else the 80-byte RF64 header.
    const uint64_t lastWhole = (0xFFFFFFFFull - 36) / 16;
    const auto w = riff::wholeFileHeader(2, 96000.0, lastWhole);
    ASSERT_EQ(w.size(), 44u);
    EXPECT_EQ(le32(w, 4), lastWhole * 16 + 36);
    EXPECT_EQ(le32(w, 40), lastWhole * 16);
    expectRf64(riff::wholeFileHeader(2, 96000.0, lastWhole + 1), lastWhole + 1, 2);
    // Closing RF64 and whole-file RF64 are the same bytes.
    const auto closedBig = riff::closingHeader(2, 96000.0, lastWhole + 1);
    EXPECT_EQ(riff::wholeFileHeader(2, 96000.0, lastWhole + 1),
              std::vector<uint8_t>(closedBig.begin(), closedBig.end()));
}
