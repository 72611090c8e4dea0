// Source reading through libsndfile: blocks, exact scaling, labels, damaged sources.
#include "audio_io/audio_error.h"
#include "audio_io/audio_io.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>

using namespace sonteva;
using namespace sonteva::test;

namespace {

// Stereo 24-bit test audio whose integer at frame i, channel c is known.
int32_t sampleAt(size_t i, int c) {
    return static_cast<int32_t>((i * 2654435761u + c * 977u) % 16777216u) - 8388608;
}

void writeStereo24(const std::string& path, int format, size_t frames) {
    std::vector<int32_t> v(frames * 2);
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<int32_t>(static_cast<uint32_t>(sampleAt(i / 2, static_cast<int>(i % 2)))
                                    << 8);
    writeInts(path, format, 48000, 2, v);
}

std::string openError(const std::string& path) {
    return errorOf([&] { AudioIO io(path); });
}

std::string sndfileRefusal(const std::string& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (f) sf_close(f);
    return f ? "no error" : sf_strerror(nullptr);
}

} // namespace

TEST(Reader, BlocksCoverTheFileThenStayEmpty) {
    TempDir dir;
    const std::string path = dir.file("s.wav");
    writeStereo24(path, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 300000);
    AudioStreamReader reader(path);
    EXPECT_EQ(reader.sampleRate(), 48000.0);
    EXPECT_EQ(reader.channels(), 2);
    EXPECT_EQ(reader.totalFrames(), 300000);
    const ChannelBuffers first = reader.read(262144);
    const ChannelBuffers second = reader.read(262144);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0].size(), 262144u);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[1].size(), 37856u);
    EXPECT_TRUE(reader.read(262144).empty());
    EXPECT_TRUE(reader.read(262144).empty());
    EXPECT_EQ(second[0][37855], sampleAt(299999, 0) / 8388608.0); // values: the tests below

    AudioStreamReader whole(path);
    EXPECT_EQ(whole.read(1 << 30)[0].size(), 300000u);
    EXPECT_TRUE(whole.read(1).empty());

    AudioIO io(path);
    EXPECT_EQ(io.getBitDepth(), "24");
    const ChannelBuffers all = io.readAllDouble();
    EXPECT_EQ(all[0].size(), 300000u);
    EXPECT_EQ(all[1][123456], sampleAt(123456, 1) / 8388608.0);
    EXPECT_EQ(io.readAllFloat()[1][5], static_cast<float>(sampleAt(5, 1) / 8388608.0));
}

TEST(Reader, Every24BitValueReadsExactly) {
    TempDir dir;
    const std::string path = dir.file("all.wav");
    std::vector<int32_t> v(1 << 24);
    for (int32_t q = -8388608; q < 8388608; ++q)
        v[static_cast<size_t>(q + 8388608)] = static_cast<int32_t>(static_cast<uint32_t>(q) << 8);
    writeInts(path, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 96000, 1, v);
    AudioStreamReader reader(path);
    ASSERT_EQ(reader.channels(), 1);
    int32_t q = -8388608;
    for (ChannelBuffers block = reader.read(262144); !block.empty(); block = reader.read(262144)) {
        ASSERT_EQ(block.size(), 1u);
        for (double x : block[0]) {
            ASSERT_EQ(x, q / 8388608.0) << q;
            ++q;
        }
    }
    EXPECT_EQ(q, 8388608);
}

TEST(Reader, WordLengthLabels) {
    TempDir dir;
    const std::vector<double> tone{0.1, -0.2, 0.3, -0.4};
    const std::pair<int, const char*> cases[] = {
        {SF_FORMAT_WAV | SF_FORMAT_PCM_16, "16"},
        {SF_FORMAT_AIFF | SF_FORMAT_PCM_24, "24"},
        {SF_FORMAT_WAV | SF_FORMAT_FLOAT, "32f"},
        {SF_FORMAT_WAV | SF_FORMAT_DOUBLE, "64f"},
        {SF_FORMAT_FLAC | SF_FORMAT_PCM_16, "16/24 (FLAC)"},
        {SF_FORMAT_FLAC | SF_FORMAT_PCM_24, "16/24 (FLAC)"},
        {SF_FORMAT_OGG | SF_FORMAT_VORBIS, "unknown"},
        {SF_FORMAT_WAV | SF_FORMAT_ULAW, "unknown"},
    };
    int n = 0;
    for (const auto& [format, label] : cases) {
        const std::string path = dir.file(std::to_string(n++) + ".label");
        writeFile(path, {tone}, 44100, format);
        EXPECT_EQ(AudioIO(path).getBitDepth(), label) << label;
    }
}

TEST(Reader, NonFiniteSamplesReadAsZeroAndAreCounted) {
    TempDir dir;
    const std::string path = dir.file("nan.wav");
    const double inf = std::numeric_limits<double>::infinity();
    writeFile(path, {{0.5, inf, -inf}, {NAN, -0.25, 0.125}}, 48000,
              SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    AudioIO io(path);
    const ChannelBuffers all = io.readAllDouble();
    EXPECT_EQ(all, (ChannelBuffers{{0.5, 0.0, 0.0}, {0.0, -0.25, 0.125}}));
    EXPECT_EQ(io.nonFiniteSamples(), 3);
    EXPECT_EQ(io.readAllFloat()[0][1], 0.0f);
    EXPECT_EQ(io.nonFiniteSamples(), 3);

    AudioStreamReader reader(path);
    EXPECT_EQ(reader.read(2), (ChannelBuffers{{0.5, 0.0}, {0.0, -0.25}}));
    EXPECT_EQ(reader.nonFiniteSamples(), 2);
    reader.read(2);
    EXPECT_EQ(reader.nonFiniteSamples(), 3);
}

TEST(Reader, UnreadableSourcesSayWhy) {
    TempDir dir;
    EXPECT_EQ(openError(dir.file("gone.wav")), "No such file: " + dir.file("gone.wav"));
    EXPECT_EQ(openError(dir.path()), "Is a folder, not an audio file: " + dir.path());

    save(dir.file("empty.wav"), {});
    EXPECT_EQ(openError(dir.file("empty.wav")), "The file is empty: " + dir.file("empty.wav"));
    save(dir.file("notes.txt"), std::vector<uint8_t>(200, 'a'));
    const std::string text = openError(dir.file("notes.txt"));
    EXPECT_EQ(text, sndfileRefusal(dir.file("notes.txt")));
    EXPECT_NE(text, "no error");
    EXPECT_THROW(AudioStreamReader(dir.file("notes.txt")), AudioError);

    // A header declaring a rate of 0 Hz: the decoder's own wording blames itself.
    writeStereo24(dir.file("rate0.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 100);
    auto header = load(dir.file("rate0.wav"));
    std::fill(header.begin() + 24, header.begin() + 28, 0);
    save(dir.file("rate0.wav"), header);
    EXPECT_EQ(openError(dir.file("rate0.wav"))
                  .rfind("The file's header is damaged or declares an impossible format", 0),
              0u)
        << openError(dir.file("rate0.wav"));
}

// Partial copies of every container, placeholder lengths and files that shrink while
// read: test_source_length.cpp. Here the FLAC stream information's own length.
TEST(Reader, FlacLengthFromItsStreamInformation) {
    TempDir dir;
    // A FLAC cut short states its length in its stream information; the decoder is asked
    // on opening whether it reaches it.
    const std::string flac = dir.file("cut.flac");
    writeStereo24(flac, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 300000);
    ASSERT_EQ(::truncate(flac.c_str(), static_cast<off_t>(load(flac).size() / 2)), 0);
    const std::string text = errorOf([&] { AudioStreamReader reader(flac); });
    EXPECT_EQ(text.rfind("Source ended early at frame ", 0), 0u) << text;
    EXPECT_NE(text.find(" of 300000 \u2014 the file is truncated or damaged"), std::string::npos);
    EXPECT_EQ(openError(flac), text);

    // A whole FLAC whose stream information leaves the length out (legal; encoders fed
    // from a pipe write it so) is as long as what decodes, and reads exactly.
    const std::string streamed = dir.file("streamed.flac");
    writeStereo24(streamed, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 70000);
    auto info = load(streamed);
    ASSERT_EQ(tagAt(info, 0), "fLaC");
    info[21] &= 0xF0; // the 36-bit total of samples: bits 4-35 of bytes 21-25
    std::fill(info.begin() + 22, info.begin() + 26, 0);
    save(streamed, info);
    AudioStreamReader unknown(streamed);
    EXPECT_EQ(unknown.totalFrames(), 70000);
    int64_t frames = 0;
    for (ChannelBuffers b = unknown.read(65536); !b.empty(); b = unknown.read(65536)) {
        EXPECT_EQ(std::lround(b[1][0] * 8388608.0), sampleAt(size_t(frames), 1));
        frames += int64_t(b[0].size());
    }
    EXPECT_EQ(frames, 70000);
}

TEST(Reader, PlainPcmWordsReadAsTheLibraryReadsThem) {
    // Read as bytes and converted here: the same values, bit for bit, as libsndfile's own
    // conversion, in either byte order, every channel count and any block split.
    const int types[] = {SF_FORMAT_WAV, SF_FORMAT_AIFF, SF_FORMAT_RF64, SF_FORMAT_W64,
                         SF_FORMAT_WAVEX};
    const int words[] = {SF_FORMAT_PCM_16, SF_FORMAT_PCM_24, SF_FORMAT_PCM_32};
    std::mt19937 rng(11);
    TempDir dir;
    for (int type : types)
        for (int word : words)
            for (int channels : {1, 2, 3}) {
                const std::string path = dir.file("w.bin");
                std::vector<int32_t> v(size_t(20011) * size_t(channels));
                for (auto& x : v)
                    x = int32_t(rng());
                v[0] = INT32_MIN, v[1] = INT32_MAX, v[2] = 0, v[3] = -256;
                writeInts(path, type | word, 48000, channels, v);
                SCOPED_TRACE(std::to_string(type) + " " + std::to_string(word) + " " +
                             std::to_string(channels));
                // The library's own reading is the reference.
                const Planar expected = readFile(path).doubles;
                const Planar all = readStreamed(path, 0, true);
                ASSERT_EQ(all.size(), expected.size());
                for (size_t c = 0; c < all.size(); ++c) {
                    ASSERT_EQ(all[c].size(), expected[c].size());
                    for (size_t i = 0; i < all[c].size(); ++i)
                        ASSERT_TRUE(std::bit_cast<uint64_t>(all[c][i]) ==
                                    std::bit_cast<uint64_t>(expected[c][i]))
                            << c << " " << i << ": " << all[c][i] << " vs " << expected[c][i];
                }
            }
}
