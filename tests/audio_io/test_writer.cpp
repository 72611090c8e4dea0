// The libsndfile route of the writers: word lengths, exact integers, containers, and
// outputs that appear whole or not at all.
#include "audio_io/audio_error.h"
#include "audio_io/audio_io.h"
#include "audio_io/dither.h"
#include "audio_io/encoder_writer.h"
#include "audio_io/part_file.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

using namespace sonteva;
using namespace sonteva::test;

namespace {

ChannelBuffers testSignal(int channels, size_t frames, double amplitude = 0.9) {
    ChannelBuffers data(channels, std::vector<double>(frames));
    for (int c = 0; c < channels; ++c)
        for (size_t i = 0; i < frames; ++i)
            data[c][i] = amplitude * std::sin(0.013 * (c + 1) * i) + 1e-5 * std::cos(0.7 * i);
    return data;
}

} // namespace

TEST(Writer, Flac16QuantisesToExactIntegers) {
    TempDir dir;
    const std::vector<double> in{1.0, -1.0, 0.5, 0.999999, -0.0000153, 1.5, NAN};
    AudioIO::write(dir.file("q.flac"), {in}, 44100, AudioFormat::flac, BitDepth::int16);
    const ReadBack r = readFile(dir.file("q.flac"));
    EXPECT_EQ(r.info.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    EXPECT_EQ(r.ints[0], (std::vector<int32_t>{32767, -32768, 16384, 32767, -1, 32767, 0}));
}

TEST(Writer, ContainersAndWordLengths) {
    TempDir dir;
    const ChannelBuffers data = testSignal(2, 5000);
    struct Case {
        AudioFormat format;
        BitDepth depth;
        int sfFormat;
    };
    const Case cases[] = {
        {AudioFormat::flac, BitDepth::int24, SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
        {AudioFormat::flac, BitDepth::int32, SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
        {AudioFormat::flac, BitDepth::float32, SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
        {AudioFormat::flac, BitDepth::float64, SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
        {AudioFormat::aiff, BitDepth::float32, SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
        {AudioFormat::aiff, BitDepth::float64, SF_FORMAT_AIFF | SF_FORMAT_DOUBLE},
        {AudioFormat::wav, BitDepth::float32, SF_FORMAT_WAV | SF_FORMAT_FLOAT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(rawValue(c.format) + " " + rawValue(c.depth));
        const std::string path = dir.file("out." + rawValue(c.format));
        AudioIO::write(path, data, 48000, c.format, c.depth);
        const ReadBack r = readFile(path);
        EXPECT_EQ(r.info.format, c.sfFormat);
        ASSERT_EQ(r.info.frames, 5000);
        for (size_t i = 0; i < 10000; ++i) {
            const double x = data[i % 2][i / 2], got = r.doubles[i % 2][i / 2];
            if (c.depth == BitDepth::float64 && c.format != AudioFormat::flac)
                ASSERT_EQ(got, x);
            else if (c.depth == BitDepth::float32 && c.format != AudioFormat::flac)
                ASSERT_EQ(got, static_cast<float>(x));
            else
                ASSERT_EQ(got, std::round(std::ldexp(x, 23)) / std::ldexp(1.0, 23)); // FLAC: 24
        }
    }
    EXPECT_EQ(tagAt(load(dir.file("out.aiff")), 8), "AIFC"); // floats; integers: below
}

TEST(Writer, DitheredSamplesLandExactlyOnTheirIntegers) {
    TempDir dir;
    for (AudioFormat format : {AudioFormat::wav, AudioFormat::aiff, AudioFormat::flac}) {
        for (BitDepth depth : {BitDepth::int16, BitDepth::int24}) {
            SCOPED_TRACE(rawValue(format) + " " + rawValue(depth));
            ChannelBuffers data = testSignal(2, 20000, 1.1); // runs into both clamps
            applyTPDF(data, depth);
            const std::string path = dir.file("d." + rawValue(format));
            AudioStreamWriter writer(path, 88200, 2, format, depth, 20000);
            writer.write(data);
            writer.close();

            const double scale = std::ldexp(1.0, bitsOf(depth) - 1);
            const ReadBack r = readFile(path);
            ASSERT_EQ(r.info.frames, 20000);
            for (size_t i = 0; i < 40000; ++i)
                ASSERT_EQ(r.ints[i % 2][i / 2], data[i % 2][i / 2] * scale) << i;
            AudioStreamReader reader(path);
            EXPECT_EQ(reader.read(1 << 20), data);
        }
    }
}

TEST(Writer, PlainWavHeaderUnlessTheSizeCallsForRf64) {
    TempDir dir;
    const ChannelBuffers data = testSignal(2, 1000);
    AudioIO::write(dir.file("p.wav"), data, 48000, AudioFormat::wav, BitDepth::int24);
    const auto plain = load(dir.file("p.wav"));
    EXPECT_EQ(tagAt(plain, 0), "RIFF");
    EXPECT_EQ(tagAt(plain, 12), "fmt ");
    EXPECT_EQ(le16(plain, 20), 1u); // WAVE_FORMAT_PCM
    EXPECT_EQ(le32(plain, 4), plain.size() - 8);

    // Unknown length: a valid RIFF file still (libsndfile's RF64, downgraded at close).
    AudioStreamWriter unknown(dir.file("u.wav"), 48000, 2, AudioFormat::wav, BitDepth::int24);
    unknown.write(data);
    unknown.close();
    const auto u = load(dir.file("u.wav"));
    EXPECT_EQ(tagAt(u, 0), "RIFF");
    EXPECT_EQ(le32(u, 4), u.size() - 8);
    EXPECT_EQ(readFile(dir.file("u.wav")).info.frames, 1000);

    const EncoderPlan small = planEncoder(AudioFormat::wav, BitDepth::int24, 2, 1000000);
    EXPECT_EQ(small.sfFormat, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    EXPECT_GT(small.frameLimit, 700000000);
    EXPECT_LE(small.frameLimit * 6, 0xFFFFFFFFll);
    const EncoderPlan large = planEncoder(AudioFormat::wav, BitDepth::int24, 2, 800000000);
    EXPECT_EQ(large.sfFormat, SF_FORMAT_RF64 | SF_FORMAT_PCM_24);
    EXPECT_TRUE(large.autoDowngrade);
    EXPECT_EQ(large.frameLimit, -1);
    EXPECT_TRUE(planEncoder(AudioFormat::wav, BitDepth::int16, 2, -1).autoDowngrade);
    EXPECT_THROW(planEncoder(AudioFormat::aiff, BitDepth::int24, 2, 800000000), AudioError);

    // A writer that meets its container's limit fails clearly instead of wrapping sizes.
    PartFile part(dir.file("limit.wav"));
    EncoderPlan tight = small;
    tight.frameLimit = 1500;
    EncoderWriter writer(part.fd(), tight, 48000, 2);
    writer.write(data, 0, 1000);
    EXPECT_NE(errorOf([&] { writer.write(data, 0, 1000); }).find("4 GiB"), std::string::npos);
}

TEST(Writer, FailuresLeaveNoPartialFile) {
    TempDir dir;
    const ChannelBuffers data = testSignal(1, 100);
    EXPECT_EQ(errorOf([&] {
                  AudioIO::write(dir.file("x.wav"), {}, 48000, AudioFormat::wav, BitDepth::int16);
              }),
              "No channels to write");
    const std::string missing = dir.file("nowhere/x.wav");
    EXPECT_EQ(
        errorOf([&] { AudioStreamWriter(missing, 48000, 1, AudioFormat::wav, BitDepth::int16); }),
        "Cannot open output for writing: " + missing + ": No such file or directory");
    try {
        AudioStreamWriter(dir.file("x.wav"), 48000, 0, AudioFormat::wav, BitDepth::int16);
        ADD_FAILURE();
    } catch (const AudioIOError& e) {
        EXPECT_EQ(e.code(), 2);
    }

    // Abandoned without close(): the temporary file goes, the existing file stays.
    save(dir.file("keep.wav"), {1, 2, 3});
    for (BitDepth depth : {BitDepth::int24, BitDepth::float64}) {
        AudioStreamWriter abandoned(dir.file("keep.wav"), 48000, 1, AudioFormat::wav, depth);
        abandoned.write(data);
        EXPECT_EQ(dir.entries().size(), 2u);
    }
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"keep.wav"});
    EXPECT_EQ(load(dir.file("keep.wav")), (std::vector<uint8_t>{1, 2, 3}));

    // An unwritable folder (as root, the child drops to an unprivileged user).
    const std::string locked = dir.file("locked");
    ::mkdir(locked.c_str(), 0755);
    ::chmod(dir.path().c_str(), 0755);
    const std::string text = runInChild([&] {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            return std::string("setuid failed");
        if (::geteuid() != 0) ::chmod(locked.c_str(), 0555);
        return errorOf([&] {
            AudioIO::write(locked + "/x.flac", data, 48000, AudioFormat::flac, BitDepth::int16);
        });
    });
    EXPECT_EQ(text, "Cannot open output for writing: " + locked + "/x.flac: Permission denied");
}

TEST(Writer, FullDiskKeepsTheExistingFile) {
    TempDir dir;
    const std::vector<uint8_t> original(1000, 0x5A);
    const ChannelBuffers data = testSignal(2, 200000);
    for (AudioFormat format : {AudioFormat::wav, AudioFormat::flac}) {
        for (BitDepth depth : {BitDepth::int24, BitDepth::float64}) {
            SCOPED_TRACE(rawValue(format) + " " + rawValue(depth));
            const std::string target = dir.file("full." + rawValue(format));
            save(target, original);
            // A file size limit stands in for a full disk: writes past it fail with EFBIG.
            const std::string text = runInChild([&] {
                ::signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{64 * 1024, RLIM_INFINITY};
                ::setrlimit(RLIMIT_FSIZE, &limit);
                return errorOf([&] {
                    AudioStreamWriter writer(target, 96000, 2, format, depth);
                    writer.write(data);
                    writer.close();
                });
            });
            EXPECT_EQ(text, "File too large");
            for (const std::string& name : dir.entries())
                EXPECT_NE(name[0], '.') << name;
            EXPECT_EQ(load(target), original);
        }
    }
}

TEST(Writer, ModeAndSameFile) {
    TempDir dir;
    const std::string path = dir.file("m.wav");
    AudioIO::write(path, testSignal(1, 10), 44100, AudioFormat::wav, BitDepth::int16);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, newFileMode());

    const std::string link = dir.file("link.wav");
    ASSERT_EQ(::symlink(path.c_str(), link.c_str()), 0);
    EXPECT_TRUE(sameFile(path, link));
    EXPECT_TRUE(sameFile(path, dir.path() + "/./m.wav"));
    EXPECT_FALSE(sameFile(path, dir.file("other.wav")));
    EXPECT_FALSE(sameFile(dir.file("a"), dir.file("a")));
}

TEST(Writer, PlainPcmWordsAreTheBytesTheLibraryWrites) {
    // Handed to the file as bytes: the same audio bytes, in either byte order, as the
    // library writes for the same integers, over chunk boundaries, with the edges of the
    // range, clipping and NaN.
    TempDir dir;
    const size_t frames = 70001;
    for (AudioFormat format : {AudioFormat::wav, AudioFormat::aiff})
        for (BitDepth depth : {BitDepth::int16, BitDepth::int24, BitDepth::int32})
            for (int channels : {1, 2, 3}) {
                SCOPED_TRACE(rawValue(format) + " " + rawValue(depth) + " " +
                             std::to_string(channels));
                ChannelBuffers data = testSignal(channels, frames, 1.2);
                data[0][0] = 1.0, data[0][1] = -1.0, data[0][2] = NAN, data[0][3] = -0.0;
                data[0][4] = 0.5 / 32768, data[0][5] = -0.5 / 32768;
                const std::string mine = dir.file("mine." + rawValue(format));
                AudioIO::write(mine, data, 48000, format, depth);
                // The reference: the same integers through the library.
                const int bits = bitsOf(depth);
                const double scale = std::ldexp(1.0, bits - 1);
                std::vector<int32_t> ints(frames * size_t(channels));
                for (size_t i = 0; i < frames; ++i)
                    for (int c = 0; c < channels; ++c) {
                        double v = data[size_t(c)][i] * scale;
                        v = std::isnan(v) ? 0.0 : std::clamp(v, -scale, scale - 1.0);
                        ints[i * size_t(channels) + size_t(c)] =
                            int32_t(uint32_t(int32_t(std::round(v))) << (32 - bits));
                    }
                const std::string theirs = dir.file("theirs." + rawValue(format));
                writeInts(theirs,
                          (format == AudioFormat::wav ? SF_FORMAT_WAV : SF_FORMAT_AIFF) |
                              (bits == 16   ? SF_FORMAT_PCM_16
                               : bits == 24 ? SF_FORMAT_PCM_24
                                            : SF_FORMAT_PCM_32),
                          48000, channels, ints);
                const auto audioBytes = [&](const std::string& path) {
                    SF_INFO in{};
                    SNDFILE* g = sf_open(path.c_str(), SFM_READ, &in);
                    EXPECT_EQ(in.frames, sf_count_t(frames));
                    std::string bytes(frames * size_t(channels) * size_t(bits / 8), '\0');
                    bytes.resize(size_t(sf_read_raw(g, bytes.data(), sf_count_t(bytes.size()))));
                    sf_close(g);
                    return bytes;
                };
                const std::string expected = audioBytes(theirs);
                EXPECT_EQ(expected.size(), frames * size_t(channels) * size_t(bits / 8));
                EXPECT_TRUE(audioBytes(mine) == expected);
            }
    // AIFF is big-endian: integer AIFF stays a plain "AIFF" form.
    EXPECT_EQ(tagAt(load(dir.file("mine.aiff")), 8), "AIFF");
}
