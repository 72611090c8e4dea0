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

// The header as the layout prescribes it: 44 bytes plain; 80 with a JUNK placeholder where
// a streamed file may need ds64, or with ds64 itself past 4 GiB.
enum class Form { plain, junk, rf64 };
Bytes header(Form form, uint64_t frames, int channels, uint32_t rate) {
    const uint64_t d = frames * uint64_t(channels) * 8;
    const bool rf64 = form == Form::rf64;
    Bytes b = text(rf64 ? "RF64" : "RIFF");
    put(b, rf64 ? 0xFFFFFFFF : d + (form == Form::plain ? 36 : 72), 4), put(b, "WAVE");
    if (form != Form::plain) {
        put(b, rf64 ? "ds64" : "JUNK"), put(b, 28, 4);
        if (rf64)
            put(b, d + 72, 8), put(b, d, 8), put(b, frames, 8), put(b, 0, 4);
        else
            b.resize(b.size() + 28, 0);
    }
    put(b, "fmt "), put(b, 16, 4), put(b, 3, 2), put(b, channels, 2), put(b, rate, 4);
    put(b, rate * channels * 8, 4), put(b, channels * 8, 2), put(b, 64, 2);
    put(b, "data"), put(b, rf64 ? 0xFFFFFFFF : d, 4);
    return b;
}

void expectFile(const Bytes& b, const Bytes& header, const ChannelBuffers& data) {
    const size_t channels = data.size(), at = header.size();
    ASSERT_EQ(b.size(), at + data[0].size() * channels * 8);
    EXPECT_EQ(Bytes(b.begin(), b.begin() + long(at)), header);
    for (size_t i = 0; i < data[0].size(); ++i) {
        for (size_t c = 0; c < channels; ++c) {
            double v;
            std::memcpy(&v, b.data() + at + (i * channels + c) * 8, 8);
            ASSERT_EQ(v, data[c][i]);
        }
    }
}

} // namespace

TEST(RiffWriter, StreamedAndWholeFilesAndAnEmptyOne) {
    TempDir dir;
    const ChannelBuffers data = ramp(2, 1000);
    AudioStreamWriter writer(dir.file("s.wav"), 96000.0, 2, AudioFormat::wav, BitDepth::float64);
    // Blocks of uneven size, and an empty block that changes nothing.
    writer.write(
        {{data[0].begin(), data[0].begin() + 300}, {data[1].begin(), data[1].begin() + 300}});
    writer.write(ChannelBuffers{{}, {}});
    writer.write({{data[0].begin() + 300, data[0].end()}, {data[1].begin() + 300, data[1].end()}});
    writer.close();
    writer.close(); // a second close does nothing
    expectFile(load(dir.file("s.wav")), header(Form::junk, 1000, 2, 96000), data);
    EXPECT_EQ(dir.entries().size(), 1u); // no temporary file left beside it

    AudioIO::write(dir.file("w.wav"), data, 96000.0, AudioFormat::wav, BitDepth::float64);
    expectFile(load(dir.file("w.wav")), header(Form::plain, 1000, 2, 96000), data);
    // What the writer produced reads back exactly through the readers.
    AudioIO back(dir.file("w.wav"));
    EXPECT_EQ(back.getBitDepth(), "64f");
    EXPECT_EQ(back.readAllDouble(), data);

    AudioStreamWriter empty(dir.file("e.wav"), 44100.9, 1, AudioFormat::wav, BitDepth::float64);
    empty.close();
    // The rate's fraction is dropped.
    EXPECT_EQ(load(dir.file("e.wav")), header(Form::junk, 0, 1, 44100));
}

TEST(RiffWriter, HeadersPastFourGigabytesBecomeRf64) {
    const auto closing = [](uint64_t frames) {
        const auto h = riff::closingHeader(2, 96000.0, frames);
        return Bytes(h.begin(), h.end());
    };
    // Streaming form: RF64 exactly when D + 72 passes 0xFFFFFFFF (stereo: 16 bytes a frame).
    const uint64_t lastPlain = (0xFFFFFFFFull - 72) / 16;
    EXPECT_EQ(closing(lastPlain), header(Form::junk, lastPlain, 2, 96000));
    EXPECT_EQ(closing(lastPlain + 1), header(Form::rf64, lastPlain + 1, 2, 96000));
    EXPECT_EQ(closing(1ull << 33), header(Form::rf64, 1ull << 33, 2, 96000));
    // Whole-file form: plain 44 bytes while D + 36 < 2^32, else the same RF64 header.
    const uint64_t lastWhole = (0xFFFFFFFFull - 36) / 16;
    EXPECT_EQ(riff::wholeFileHeader(2, 96000.0, lastWhole),
              header(Form::plain, lastWhole, 2, 96000));
    EXPECT_EQ(riff::wholeFileHeader(2, 96000.0, lastWhole + 1),
              header(Form::rf64, lastWhole + 1, 2, 96000));
    EXPECT_EQ(closing(lastWhole + 1), header(Form::rf64, lastWhole + 1, 2, 96000));
}
