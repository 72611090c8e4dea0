// Partial copies of every container the readers take, cut in half, one byte short, inside
// the header and exactly at a frame boundary: the probe, the whole-file read, the streaming
// reader and the audition's seekable reader all refuse them with "Source ended early …".
// Whole files read exactly, also with garbage behind them or with the length left open.
#include "audio_io/audio_error.h"
#include "audio_io/audio_io.h"
#include "audio_io/seekable_reader.h"
#include "support/ffmpeg_files.h"
#include "support/test_files.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace sonteva;
using namespace sonteva::test;

namespace {

constexpr int64_t kFrames = 48000;

struct Kind {
    const char* name;
    int format;
    int channels;
    int sampleBytes;  // stored bytes of one sample; 0 for compressed streams
    size_t headerCut; // a length that ends inside the header (0: none is tested)
    size_t trailer;   // bytes libsndfile writes behind the audio
};

const Kind kContainers[] = {
    {"wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, 3, 30, 0},
    {"wavex", SF_FORMAT_WAVEX | SF_FORMAT_FLOAT, 2, 4, 50, 0},
    {"rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_24, 2, 3, 40, 0},
    {"aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 2, 2, 30, 0},
    {"aifc", SF_FORMAT_AIFF | SF_FORMAT_FLOAT, 2, 4, 40, 0},
    {"aifc-ulaw", SF_FORMAT_AIFF | SF_FORMAT_ULAW, 1, 1, 40, 0},
    {"caf", SF_FORMAT_CAF | SF_FORMAT_PCM_24, 2, 3, 20, 0},
    {"caf-alaw", SF_FORMAT_CAF | SF_FORMAT_ALAW, 2, 1, 40, 0},
    {"w64", SF_FORMAT_W64 | SF_FORMAT_PCM_24, 2, 3, 50, 0},
    {"au", SF_FORMAT_AU | SF_FORMAT_PCM_16, 2, 2, 16, 0},
    {"au-le", SF_FORMAT_AU | SF_FORMAT_PCM_24 | SF_ENDIAN_LITTLE, 2, 3, 10, 0},
    {"nist", SF_FORMAT_NIST | SF_FORMAT_PCM_16, 2, 2, 100, 0},
    {"voc", SF_FORMAT_VOC | SF_FORMAT_PCM_16, 2, 2, 24, 1},
    {"voc8", SF_FORMAT_VOC | SF_FORMAT_PCM_U8, 2, 1, 30, 1},
    {"mat4", SF_FORMAT_MAT4 | SF_FORMAT_PCM_16, 2, 2, 45, 0},
    {"mat4-be", SF_FORMAT_MAT4 | SF_FORMAT_DOUBLE | SF_ENDIAN_BIG, 2, 8, 45, 0},
    {"mat5", SF_FORMAT_MAT5 | SF_FORMAT_PCM_16, 2, 2, 140, 0},
    {"mat5-be", SF_FORMAT_MAT5 | SF_FORMAT_FLOAT | SF_ENDIAN_BIG, 2, 4, 240, 0},
    {"8svx", SF_FORMAT_SVX | SF_FORMAT_PCM_S8, 1, 1, 20, 0},
    {"16sv", SF_FORMAT_SVX | SF_FORMAT_PCM_16, 1, 2, 20, 0},
    {"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 2, 0, 20, 0},
    {"ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 2, 0, 20, 0},
    {"opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 2, 0, 20, 0},
    {"mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 2, 0, 100, 0},
};

void PrintTo(const Kind& kind, std::ostream* os) {
    *os << kind.name;
}

Planar streamed(const std::string& path) {
    return readStreamed(path, 10007);
}

// Every reader's refusal of `path`; all must be the same text.
std::string refusal(const std::string& path) {
    const std::string probe = errorOf([&] { AudioIO io(path); });
    EXPECT_EQ(errorOf([&] { AudioStreamReader reader(path); }), probe) << path;
    EXPECT_EQ(errorOf([&] { SeekableReader reader(path); }), probe) << path;
    return probe;
}

void cutTo(const std::string& from, const std::string& to, size_t size) {
    Bytes bytes = load(from);
    ASSERT_LE(size, bytes.size());
    bytes.resize(size);
    save(to, bytes);
}

class EveryContainer : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override {
        path_ = dir_.file(std::string("whole.") + GetParam().name);
        writeFile(path_, musicLike(GetParam().channels, kFrames, 48000), 48000, GetParam().format);
        size_ = load(path_).size();
    }
    std::string cut(const char* label, size_t size) {
        const std::string to = dir_.file(std::string(label) + "." + GetParam().name);
        cutTo(path_, to, size);
        return to;
    }
    TempDir dir_;
    std::string path_;
    size_t size_ = 0;
};

std::string nameOf(const ::testing::TestParamInfo<Kind>& info) {
    std::string name = info.param.name;
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

} // namespace

// Read exactly through every reader, also with garbage behind the audio, which is not held
// against it.
TEST_P(EveryContainer, WholeFilesReadExactlyThroughEveryReader) {
    const Planar expected = readFile(path_).doubles;
    ASSERT_EQ(expected.size(), size_t(GetParam().channels));
    ASSERT_EQ(expected[0].size(), size_t(kFrames));
    Bytes bytes = load(path_);
    for (int i = 0; i < 5000; ++i)
        bytes.push_back(uint8_t(i * 37 + 11));
    const std::string longer = dir_.file(std::string("longer.") + GetParam().name);
    save(longer, bytes);
    for (const std::string& path : {path_, longer}) {
        SCOPED_TRACE(path);
        AudioIO io(path);
        EXPECT_EQ(io.totalFrames(), kFrames);
        EXPECT_EQ(io.readAllDouble(), expected);
        EXPECT_EQ(streamed(path), expected);
        SeekableReader seekable(path);
        ASSERT_TRUE(seekable.setPosition(kFrames - 100));
        std::vector<std::vector<float>> tail(expected.size(), std::vector<float>(200));
        EXPECT_EQ(seekable.read(tail, 200), 100);
        EXPECT_EQ(tail[0][99], float(expected[0][kFrames - 1]));
    }
}

// Cut anywhere: through its header byte by byte (from the fourth byte on, a file cut inside
// its own mark is still known by it) and at points spread over its audio, the whole-file
// read refuses it; cut in half, one byte short or inside the header, every reader does so
// with the same text. Where frames have a fixed size the figures are exact.
TEST_P(EveryContainer, EveryCutIsRefusedAsEndedEarly) {
    const Kind& c = GetParam();
    const Bytes bytes = load(path_);
    std::vector<size_t> cuts;
    // A MATLAB v4 file has no mark: it is known by the name of its first matrix.
    for (size_t n = std::string(c.name).starts_with("mat4") ? 24 : 4; n < 96; ++n)
        cuts.push_back(n);
    for (size_t k = 1; k < 16; ++k)
        cuts.push_back(bytes.size() * k / 16);
    for (const size_t n : cuts) {
        // A fresh name each time: rewriting one file in place makes ext4 flush it.
        const std::string cut = dir_.file("cut" + std::to_string(n) + "." + c.name);
        save(cut, Bytes(bytes.begin(), bytes.begin() + long(n)));
        const std::string text = errorOf([&] { AudioIO(cut).readAllDouble(); });
        EXPECT_EQ(text.rfind("Source ended early at ", 0), 0u) << n << ": " << text;
        ::unlink(cut.c_str());
    }

    std::vector<std::pair<std::string, size_t>> named = {{"half", size_ / 2},
                                                         {"short", size_ - c.trailer - 1}};
    if (c.headerCut) named.emplace_back("header", c.headerCut);
    for (const auto& [label, size] : named) {
        const std::string text = refusal(cut(label.c_str(), size));
        EXPECT_EQ(text.rfind("Source ended early at ", 0), 0u) << label << ": " << text;
        EXPECT_NE(text.find("the file is truncated or damaged"), std::string::npos) << text;
        if (c.sampleBytes > 0 && label == "half") {
            EXPECT_NE(text.find(" of 48000 \u2014"), std::string::npos) << text;
        }
    }
    if (c.sampleBytes > 0) {
        const size_t frameBytes = size_t(c.sampleBytes) * size_t(c.channels);
        EXPECT_EQ(refusal(cut("frame", size_ - c.trailer - 1000 * frameBytes)),
                  "Source ended early at frame 47000 of 48000 \u2014 the file is truncated or "
                  "damaged");
    }
}

// Compressed streams cut exactly between their own units: at the start of a FLAC frame or
// of an Ogg page, every frame or page held is whole, and only the declared length (FLAC)
// or the missing last page (Ogg) tells.
TEST(SourceLength, StreamsCutBetweenFramesOrPagesAreRefused) {
    TempDir dir;
    const std::pair<int, std::vector<uint8_t>> streams[] = {
        {SF_FORMAT_FLAC | SF_FORMAT_PCM_16, {0xFF, 0xF8}},
        {SF_FORMAT_OGG | SF_FORMAT_VORBIS, {'O', 'g', 'g', 'S'}},
        {SF_FORMAT_OGG | SF_FORMAT_OPUS, {'O', 'g', 'g', 'S'}},
    };
    for (const auto& [format, mark] : streams) {
        const std::string path = dir.file("stream" + std::to_string(format));
        writeFile(path, musicLike(2, kFrames, 48000), 48000, format);
        const Bytes bytes = load(path);
        std::vector<size_t> starts;
        for (auto at = bytes.begin() + 4;
             (at = std::search(at, bytes.end(), mark.begin(), mark.end())) != bytes.end(); ++at)
            starts.push_back(size_t(at - bytes.begin()));
        ASSERT_GE(starts.size(), 4u);
        for (const size_t at : {starts[starts.size() / 2], starts.back()}) {
            const std::string cut = dir.file("cut" + std::to_string(at));
            save(cut, Bytes(bytes.begin(), bytes.begin() + long(at)));
            const std::string text = refusal(cut);
            EXPECT_EQ(text.rfind("Source ended early at ", 0), 0u) << format << "@" << at << text;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(SourceLength, EveryContainer, ::testing::ValuesIn(kContainers), nameOf);

// The sizes a recording still being written leaves in place of its length: the audio runs
// to the end of the file, whatever that holds (libsndfile refuses CAF's -1 and reads a WAV
// data size of 0 as empty; FFmpeg reads both).
TEST(SourceLength, PlaceholderLengthsAreNotHeldAgainstAFile) {
    TempDir dir;
    const auto tagged = [](Bytes& b, const char* tag) {
        return static_cast<long>(std::search(b.begin(), b.end(), tag, tag + 4) - b.begin());
    };
    const std::pair<int, std::function<void(Bytes&)>> cases[] = {
        {SF_FORMAT_WAV,
         [&](Bytes& b) {
             std::fill_n(b.begin() + tagged(b, "data") + 4, 4, 0xFF);
             std::fill_n(b.begin() + 4, 4, 0);
         }},
        {SF_FORMAT_WAV, [&](Bytes& b) { std::fill_n(b.begin() + tagged(b, "data") + 4, 4, 0); }},
        {SF_FORMAT_CAF, [&](Bytes& b) { std::fill_n(b.begin() + tagged(b, "data") + 4, 8, 0xFF); }},
        {SF_FORMAT_AU, [](Bytes& b) { std::fill_n(b.begin() + 8, 4, 0xFF); }},
    };
    for (const auto& [format, open] : cases) {
        SCOPED_TRACE(format);
        const std::string path = dir.file("open." + std::to_string(format));
        writeFile(path, musicLike(2, kFrames, 48000), 48000, format | SF_FORMAT_PCM_16);
        Planar expected = readFile(path).doubles;
        Bytes bytes = load(path);
        open(bytes);
        // A partial copy of an unfinished recording holds what it holds.
        save(path, Bytes(bytes.begin(), bytes.end() - 4 * 1000));
        for (auto& channel : expected)
            channel.resize(kFrames - 1000);
        EXPECT_EQ(AudioIO(path).readAllDouble(), expected);
        EXPECT_EQ(streamed(path), expected);
    }
}

// An MP3 without a Xing, Info or VBRI header states no length; the decoder's figure is
// a guess from the file's size, and the source is what decodes, cut or not.
TEST(SourceLength, AnMp3WithoutALengthHeaderIsWhatDecodes) {
    TempDir dir;
    const std::string path = dir.file("plain.mp3");
    writeFile(path, musicLike(2, kFrames, 48000), 48000, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III);
    Bytes bytes = load(path);
    const auto tag = std::search(bytes.begin(), bytes.end(), "Xing", "Xing" + 4);
    ASSERT_NE(tag, bytes.end());
    std::copy_n("XXXX", 4, tag);
    for (const size_t size : {bytes.size(), bytes.size() / 2}) {
        bytes.resize(size);
        save(path, bytes);
        SF_INFO info{};
        SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
        ASSERT_NE(file, nullptr);
        std::vector<double> all(size_t(info.frames) * 2);
        const sf_count_t decoded = sf_readf_double(file, all.data(), info.frames);
        sf_close(file);
        all.resize(size_t(decoded) * 2);
        AudioIO io(path);
        EXPECT_EQ(io.totalFrames(), decoded);
        const ChannelBuffers read = io.readAllDouble();
        ASSERT_EQ(read[0].size(), size_t(decoded));
        for (size_t i = 0; i < all.size(); ++i)
            ASSERT_EQ(read[i % 2][i / 2], all[i]) << i;
        EXPECT_EQ(streamed(path)[1].size(), size_t(decoded));
    }
}

// M4A goes through FFmpeg. With the index behind the audio (the muxer's default) a cut
// loses the index and is judged by its boxes in bytes; with the index in front, the
// packet positions it lists are held against the file, in frames.
TEST(SourceLength, M4aCutShortIsRefusedInFramesOrBytes) {
    TempDir dir;
    const Planar signal = musicLike(2, kFrames, 48000);
    const Encoding alac{AV_CODEC_ID_ALAC, AV_SAMPLE_FMT_S32P, 24};
    const Encoding aac{AV_CODEC_ID_AAC, AV_SAMPLE_FMT_FLTP, 0};
    for (bool indexFirst : {false, true}) {
        for (const Encoding& e : {alac, aac}) {
            const std::string whole = dir.file("whole.m4a");
            writeM4a(whole, e, 48000, signal, "ipod", indexFirst);
            const ChannelBuffers expected = AudioIO(whole).readAllDouble();
            ASSERT_EQ(expected[0].size(), size_t(kFrames));
            const size_t size = load(whole).size();
            for (size_t at : {size / 2, size - 1, size_t(20)}) {
                cutTo(whole, dir.file("cut.m4a"), at);
                const std::string text = refusal(dir.file("cut.m4a"));
                const std::string unit = indexFirst && at > 2000 ? "frame " : "byte ";
                EXPECT_EQ(text.rfind("Source ended early at " + unit, 0), 0u) << text;
                if (unit == "frame ") {
                    EXPECT_NE(text.find(" of 48000 \u2014"), std::string::npos) << text;
                }
            }
            Bytes longer = load(whole);
            longer.insert(longer.end(), 3000, 0x5A);
            save(dir.file("longer.m4a"), longer);
            EXPECT_EQ(AudioIO(dir.file("longer.m4a")).readAllDouble(), expected);
        }
    }
}

// Past the checks on opening, a source that loses its end while it is read still fails
// where the audio stops.
TEST(SourceLength, ASourceThatShrinksAfterOpeningFailsWhereItStops) {
    TempDir dir;
    const std::string path = dir.file("shrinks.wav");
    writeFile(path, musicLike(2, 1000000, 48000), 48000, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    AudioStreamReader reader(path);
    ASSERT_EQ(::truncate(path.c_str(), 44 + 4 * 600000), 0);
    const std::string text = errorOf([&] {
        for (ChannelBuffers b; reader.read(4096, b);) {
        }
    });
    EXPECT_EQ(text, "Source ended early at frame 600000 of 1000000 \u2014 the file is truncated or "
                    "damaged");
}
