#include "audio_io/audio_error.h"
#include "engines/ssrc_runner.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <tuple>

using namespace sonteva;
namespace fs = std::filesystem;
using Kind = SSRCRunnerError::Kind;

namespace {

std::string le(uint32_t v, int bytes) {
    std::string s;
    for (int k = 0; k < bytes; ++k)
        s += static_cast<char>(v >> (8 * k));
    return s;
}

uint32_t at(const std::string& b, size_t offset, int bytes = 4) {
    uint32_t v = 0;
    for (int k = bytes - 1; k >= 0; --k)
        v = v << 8 | static_cast<uint8_t>(b[offset + k]);
    return v;
}

std::string fmtBody(int channels, int bits) {
    return le(1, 2) + le(channels, 2) + le(44100, 4) + le(0, 4) + le(0, 2) + le(bits, 2);
}

// A RIFF/WAVE file from (identifier, body) chunks, odd bodies padded.
std::string wav(const std::vector<std::pair<std::string, std::string>>& chunks) {
    std::string b = "WAVE";
    for (const auto& [id, body] : chunks)
        b += id + le(static_cast<uint32_t>(body.size()), 4) + body +
             std::string(body.size() % 2, '\0');
    return "RIFF" + le(static_cast<uint32_t>(b.size()), 4) + b;
}

std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

void put(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

SignalChannels tone(size_t frames, double rate) {
    SignalChannels x(2, std::vector<double>(frames));
    for (size_t i = 0; i < frames; ++i) {
        x[0][i] = 0.5 * std::sin(2 * M_PI * 1000.0 * static_cast<double>(i) / rate);
        x[1][i] = 0.3;
    }
    return x;
}

// The UUID that follows `prefix`, when it is a canonical lower-case version 4 one.
std::string uuidAfter(const std::string& line, const std::string& prefix) {
    const size_t at = line.find(prefix);
    const std::string u = at == std::string::npos ? "" : line.substr(at + prefix.size(), 36);
    for (size_t i = 0; i < u.size(); ++i)
        if ((i == 8 || i == 13 || i == 18 || i == 23) ? u[i] != '-'
                                                      : !std::strchr("0123456789abcdef", u[i]))
            return "(no UUID)";
    const bool v4 = u.size() == 36 && u[14] == '4' && std::strchr("89ab", u[19]);
    return v4 ? u : "(no UUID)";
}

std::string failureOf(const std::function<void()>& call, Kind expected) {
    try {
        call();
    } catch (const SSRCRunnerError& e) {
        EXPECT_EQ(e.kind(), expected) << e.what();
        return e.what();
    }
    ADD_FAILURE() << "no SSRCRunnerError";
    return {};
}

} // namespace

TEST(SSRCWav, CanonicalHeaderSizesAndSampleMapping) {
    test::TempDir d;
    SSRCRunner::writeInt32WAV(SignalChannels(2, std::vector<double>(1000)), 44100, d.file("a.wav"));
    const std::string b = slurp(d.file("a.wav"));
    ASSERT_EQ(b.size(), 8044u);
    EXPECT_EQ(b.substr(0, 4) + b.substr(8, 8) + b.substr(36, 4), "RIFFWAVEfmt data");
    EXPECT_EQ(at(b, 4), 8036u);
    EXPECT_EQ(at(b, 40), 8000u);
    EXPECT_EQ(std::vector<uint32_t>({at(b, 16), at(b, 20, 2), at(b, 22, 2), at(b, 24), at(b, 28),
                                     at(b, 32, 2), at(b, 34, 2)}),
              std::vector<uint32_t>({16, 1, 2, 44100, 352800, 8, 32}));

    // The second channel is shorter: its missing samples are written as zeros.
    SSRCRunner::writeInt32WAV({{1.0, -1.0, 1.5, -1.5, 0.5, -0.5, 0.25, NAN}, {0.25}}, 48000,
                              d.file("b.wav"));
    const std::string s = slurp(d.file("b.wav"));
    ASSERT_EQ(s.size(), 44u + 8 * 2 * 4);
    const std::vector<int32_t> expected = {2147483647, -2147483647, 2147483647, -2147483647 - 1,
                                           1073741824, -1073741824, 536870912,  0};
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(static_cast<int32_t>(at(s, 44 + i * 8)), expected[i]) << i;
        EXPECT_EQ(static_cast<int32_t>(at(s, 48 + i * 8)), i == 0 ? 536870912 : 0) << i;
    }
}

TEST(SSRCWav, ReadersWalkExtraAndOddSizedChunks) {
    test::TempDir d;
    const std::string data24 = le(0x7FFFFF, 3) + le(0x800000, 3) + le(1, 3) + le(0xFFFFFF, 3);
    put(d.file("24.wav"),
        wav({{"LIST", "INFOx"}, {"fmt ", fmtBody(2, 24)}, {"odd ", "abc"}, {"data", data24}}));
    // Full scale 2^23: every integer comes back as itself when stored at 24 bits.
    const double k = 1.0 / 8388608;
    const SignalChannels y = SSRCRunner::readInt24WAV(d.file("24.wav"), 2);
    EXPECT_EQ(y, SignalChannels({{8388607 * k, 1 * k}, {-1.0, -1 * k}}));
    const auto figures = SSRCRunner::readConverterOutput(d.file("24.wav"));
    ASSERT_TRUE(figures);
    EXPECT_EQ(std::tuple(figures->channels, figures->bits, figures->sampleRate),
              std::tuple(2, 24, int64_t{44100}));
    EXPECT_EQ(figures->samples, y);

    put(d.file("16.wav"), wav({{"fmt ", fmtBody(1, 16)},
                               {"LIST", "x"},
                               {"data", le(0x7FFF, 2) + le(0x8000, 2) + le(0xFFFF, 2) + "?"}}));
    EXPECT_EQ(SSRCRunner::readInt16WAV(d.file("16.wav"), 1),
              SignalChannels({{32767 / 32768.0, -1.0, -1 / 32768.0}}));

    // A data size beyond the end of the file: only the whole frames present are read.
    std::string cut = wav({{"fmt ", fmtBody(1, 24)}, {"data", le(5, 3) + le(6, 3) + "x"}});
    cut.replace(40, 4, le(0xFFFFFFFF, 4));
    put(d.file("cut.wav"), cut);
    EXPECT_EQ(SSRCRunner::readInt24WAV(d.file("cut.wav"), 1), SignalChannels({{5 * k, 6 * k}}));
}

TEST(SSRCWav, UnreadableOutputFails) {
    test::TempDir d;
    for (int bits : {24, 16}) {
        const std::string frames(24, '\0'), fmt = fmtBody(1, bits);
        std::string runsPast = wav({{"fmt ", fmt}, {"LIST", frames}, {"data", frames}});
        runsPast.replace(40, 4, le(0xFFFFFFF0, 4)); // a chunk that runs far past the end
        const std::vector<std::string> cases = {
            wav({{"fmt ", fmtBody(2, bits)}, {"data", frames}}),      // channel count
            wav({{"fmt ", fmtBody(1, 40 - bits)}, {"data", frames}}), // word length
            wav({{"data", frames}, {"fmt ", fmt}}),                   // fmt too late
            wav({{"LIST", frames}, {"data", frames}}),                // no fmt
            wav({{"fmt ", fmt}, {"data", ""}}),                       // only 44 bytes
            wav({{"LIST", frames}, {"fmt ", "abcd"}}),                // fmt cut short
            runsPast,
            std::string(300, 'Z')};
        for (size_t i = 0; i < cases.size(); ++i) {
            put(d.file("x.wav"), cases[i]);
            if (bits == 16)
                EXPECT_FALSE(SSRCRunner::readInt16WAV(d.file("x.wav"), 1)) << i;
            else
                EXPECT_EQ(failureOf([&] { SSRCRunner::readInt24WAV(d.file("x.wav"), 1); },
                                    Kind::badOutput),
                          "SSRC produced unreadable output")
                    << i;
        }
    }
    // A file that cannot be read at all is a platform error, not unreadable output.
    try {
        SSRCRunner::readInt24WAV(d.file("none.wav"), 1);
        ADD_FAILURE() << "read a missing file";
    } catch (const AudioError& e) {
        EXPECT_STREQ(e.what(), "Cannot read none.wav: No such file or directory");
    }
    EXPECT_FALSE(SSRCRunner::readInt16WAV(d.file("none.wav"), 1));
}

namespace {

// Points the runner at the stand-in converter through SONTEVA_SSRC, with an empty resource
// folder and an empty PATH, and at a private temporary folder (with a non-ASCII name) that
// must hold no work directory once each test is over.
class SSRCRunnerTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"SONTEVA_RESOURCE_DIR", "SONTEVA_SSRC", "TMPDIR", "PATH",
                                 "FAKE_SSRC_MODE", "FAKE_SSRC_LOG", "FAKE_SSRC_KEEP"})
            saved_.emplace_back(name, std::getenv(name)
                                          ? std::optional<std::string>(std::getenv(name))
                                          : std::nullopt);
        for (const std::string& dir : {tmp_, res_, bin_})
            fs::create_directories(dir);
        ::setenv("SONTEVA_RESOURCE_DIR", res_.c_str(), 1);
        ::setenv("SONTEVA_SSRC", SONTEVA_FAKE_SSRC, 1);
        ::setenv("TMPDIR", tmp_.c_str(), 1);
        ::setenv("PATH", bin_.c_str(), 1);
        ::setenv("FAKE_SSRC_LOG", log_.c_str(), 1);
        ::unsetenv("FAKE_SSRC_MODE");
    }
    void TearDown() override {
        SSRCRunner::setTimeLimitForTesting(0);
        for (const auto& entry : fs::directory_iterator(tmp_)) {
            const std::string name = entry.path().filename().string();
            EXPECT_NE(name.rfind("sonteva-ssrc-", 0), 0u) << name;
            EXPECT_NE(name.rfind("sonteva-dither-", 0), 0u) << name;
        }
        for (const auto& [name, value] : saved_)
            value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    }
    static void mode(const char* m) { ::setenv("FAKE_SSRC_MODE", m, 1); }
    std::vector<std::string> logLines() const {
        std::ifstream f(log_);
        std::vector<std::string> lines;
        for (std::string line; std::getline(f, line);)
            lines.push_back(line);
        return lines;
    }

    test::TempDir root_;
    const std::string tmp_ = root_.file("tmp-\u00e4\u00fc"), res_ = root_.file("res"),
                      bin_ = root_.file("bin"), log_ = root_.file("args.log");
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

} // namespace

TEST_F(SSRCRunnerTest, BinaryLookupOrder) {
    EXPECT_EQ(SSRCRunner::binaryURL(), SONTEVA_FAKE_SSRC);
    fs::create_symlink(SONTEVA_FAKE_SSRC, res_ + "/ssrc_hp");
    EXPECT_EQ(SSRCRunner::binaryURL(), res_ + "/ssrc_hp");

    // Files that are not executable are passed over, wherever they are.
    fs::remove(res_ + "/ssrc_hp");
    put(res_ + "/ssrc_hp", "#!/bin/sh\n");
    put(bin_ + "/ssrc_hp", "#!/bin/sh\n");
    EXPECT_EQ(SSRCRunner::binaryURL(), SONTEVA_FAKE_SSRC);
    ::setenv("SONTEVA_SSRC", (res_ + "/ssrc_hp").c_str(), 1);
    const std::string later = root_.file("later");
    fs::create_directories(later);
    fs::create_symlink(SONTEVA_FAKE_SSRC, later + "/ssrc_hp");
    ::setenv("PATH", (bin_ + ":" + later).c_str(), 1);
    EXPECT_EQ(SSRCRunner::binaryURL(), later + "/ssrc_hp");
    ::setenv("PATH", bin_.c_str(), 1);
    EXPECT_EQ(SSRCRunner::binaryURL(), std::nullopt);
}

TEST_F(SSRCRunnerTest, NothingToRunOrNothingToRunWith) {
    const SignalChannels x = tone(100, 48000);
    EXPECT_EQ(SSRCRunner::convert(x, 48000, 48000), x);
    EXPECT_EQ(SSRCRunner::convert({}, 44100, 48000), SignalChannels{});
    EXPECT_FALSE(SSRCRunner::dither16({}, 44100, 0));
    EXPECT_FALSE(fs::exists(log_)) << "the converter ran";

    ::unsetenv("SONTEVA_SSRC");
    for (const auto& [in, fsIn] : {std::pair{x, 48000}, std::pair{SignalChannels{}, 44100}})
        EXPECT_EQ(failureOf([&] { SSRCRunner::convert(in, fsIn, 48000); }, Kind::binaryNotFound),
                  "SSRC binary (ssrc_hp) not found");
    EXPECT_FALSE(SSRCRunner::dither16(x, 48000, 0));
}

TEST_F(SSRCRunnerTest, ConvertRoundTripWithTheExactArguments) {
    const SignalChannels y = SSRCRunner::convert(tone(1000, 44100), 44100, 48000);
    ASSERT_EQ(y.size(), 2u);
    ASSERT_EQ(y[0].size(), 1088u + 2);
    ASSERT_EQ(y[1].size(), 1088u + 2);
    for (size_t j = 0; j < 1085; ++j) {
        ASSERT_NEAR(y[0][j], 0.5 * std::sin(2 * M_PI * 1000.0 * double(j) / 48000), 0.005) << j;
        ASSERT_NEAR(y[1][j], 0.3, 1e-6) << j;
    }
    EXPECT_EQ(SSRCRunner::convert(tone(1000, 96000), 96000, 44100)[1].size(), 459u + 2);
    ASSERT_TRUE(SSRCRunner::dither16(tone(10, 48000), 48000, 2));

    const std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), 3u);
    const std::string ssrc = tmp_ + "/sonteva-ssrc-" + uuidAfter(lines[0], "sonteva-ssrc-");
    EXPECT_EQ(lines[0], "--rate 48000 --bits 24 --quiet --tmpfile " + ssrc + "/ssrc.tmp " + ssrc +
                            "/in.wav " + ssrc + "/out.wav");
    EXPECT_NE(uuidAfter(lines[0], "sonteva-ssrc-"), uuidAfter(lines[1], "sonteva-ssrc-"));
    const std::string dither = tmp_ + "/sonteva-dither-" + uuidAfter(lines[2], "sonteva-dither-");
    EXPECT_EQ(lines[2], "--rate 48000 --bits 16 --dither 2 --quiet --tmpfile " + dither +
                            "/ssrc.tmp " + dither + "/in.wav " + dither + "/out.wav");
}

TEST_F(SSRCRunnerTest, EveryFailureHasItsErrorAndDitherYieldsNothing) {
    const SignalChannels x = tone(200, 44100);
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"fail", "SSRC failed: ssrc_hp: cannot convert \u2014 \u00fcnsupported"},
        {"badutf8", "SSRC failed: exit 2"},
        {"crash", "SSRC failed: terminated by signal 11"},
        {"garbage", "SSRC produced unreadable output"},
        {"otherbits",
         "SSRC produced unreadable output (16-bit samples where 24-bit samples were expected)"},
        {"nooutput", "Cannot read out.wav: No such file or directory"}};
    for (const auto& [name, text] : cases) {
        mode(name);
        try {
            SSRCRunner::convert(x, 44100, 48000);
            ADD_FAILURE() << name << " succeeded";
        } catch (const std::exception& e) {
            EXPECT_EQ(e.what(), text) << name;
        }
        EXPECT_FALSE(SSRCRunner::dither16(x, 44100, 0)) << name;
    }
    ::setenv("TMPDIR", (log_ + "/under-a-file").c_str(), 1);
    ::unsetenv("FAKE_SSRC_MODE");
    EXPECT_THROW(SSRCRunner::convert(x, 44100, 48000), AudioError);
    EXPECT_FALSE(SSRCRunner::dither16(x, 44100, 0));
}

// Output that reads well but is not what was asked for: the call fails with the figures,
// for the noise shaper too (a fallback would hide the fault). 200 frames at 44.1 kHz make
// 218 at 48 kHz; the converter may add a tail of up to two frames.
TEST_F(SSRCRunnerTest, OutputOfTheWrongShapeFailsWithItsFigures) {
    const SignalChannels x = tone(200, 44100);
    const std::string at48 = " Hz; 218 frames at 48000 Hz were expected for 200 frames at 44100 Hz";
    const std::string at441 = " Hz; 200 frames at 44100 Hz were expected";
    struct Case {
        const char* mode;
        std::string convert, dither; // empty: accepted
    };
    const std::vector<Case> cases = {{"exact", "", ""},
                                     {"long", "SSRC returned 221 frames at 48000" + at48,
                                      "SSRC returned 203 frames at 44100" + at441},
                                     {"short", "SSRC returned 216 frames at 48000" + at48,
                                      "SSRC returned 198 frames at 44100" + at441},
                                     {"doubled", "SSRC returned 440 frames at 48000" + at48,
                                      "SSRC returned 404 frames at 44100" + at441},
                                     {"truncated", "SSRC returned 110 frames at 48000" + at48,
                                      "SSRC returned 101 frames at 44100" + at441},
                                     {"wrongrate", "SSRC returned 111 frames at 24000" + at48,
                                      "SSRC returned 102 frames at 22050" + at441},
                                     {"mislabelled", "SSRC returned 220 frames at 44101" + at48,
                                      "SSRC returned 202 frames at 44101" + at441},
                                     {"channels", "SSRC returned 3 channels; 2 were expected",
                                      "SSRC returned 3 channels; 2 were expected"},
                                     {"mono", "SSRC returned 1 channel; 2 were expected",
                                      "SSRC returned 1 channel; 2 were expected"}};
    for (const auto& [name, convertText, ditherText] : cases) {
        SCOPED_TRACE(name);
        mode(name);
        for (const bool dither : {false, true}) {
            const std::string& text = dither ? ditherText : convertText;
            try {
                const auto y = dither ? SSRCRunner::dither16(x, 44100, 0)
                                      : std::optional(SSRCRunner::convert(x, 44100, 48000));
                ASSERT_TRUE(y) << "fell back";
                EXPECT_EQ(text, "") << "accepted";
                EXPECT_EQ((*y)[1].size(), dither ? 200u : 218u);
            } catch (const SSRCRunnerError& e) {
                EXPECT_EQ(e.kind(), Kind::wrongOutput);
                EXPECT_EQ(e.what(), text);
            }
        }
    }
}

TEST_F(SSRCRunnerTest, OddChunksAndAChattyChildStillSucceed) {
    const SignalChannels x = tone(500, 44100);
    const SignalChannels plain = SSRCRunner::convert(x, 44100, 96000);
    const auto plainDither = SSRCRunner::dither16(x, 44100, 6);
    for (const char* name : {"chunks", "chatty"}) {
        mode(name);
        EXPECT_EQ(SSRCRunner::convert(x, 44100, 96000), plain) << name;
        EXPECT_EQ(SSRCRunner::dither16(x, 44100, 6), plainDither) << name;
    }
}

TEST_F(SSRCRunnerTest, Dither16LengthsValuesAndMissingShapers) {
    const SignalChannels x = tone(1000, 44100);
    const auto y = SSRCRunner::dither16(x, 44100, 2); // the converter wrote 1002 frames
    ASSERT_TRUE(y);
    ASSERT_EQ(y->size(), 2u);
    for (size_t c = 0; c < 2; ++c) {
        ASSERT_EQ((*y)[c].size(), 1000u);
        for (size_t i = 0; i < 1000; ++i) // the converter's own scale, shaped within a step
            ASSERT_NEAR((*y)[c][i] * 32768, x[c][i] * 32767, 1.0) << i;
    }

    const std::vector<std::tuple<int, int, bool>> shapers = {
        {44100, 6, true}, {48000, 6, true},  {88200, 6, false},  {96000, 6, false},
        {96000, 2, true}, {192000, 0, true}, {176400, 0, false}, {384000, 2, false}};
    for (const auto& [fs, shaper, exists] : shapers)
        EXPECT_EQ(SSRCRunner::dither16(tone(50, fs), fs, shaper).has_value(), exists)
            << fs << " " << shaper;
}

namespace {

// The converter's integers, read straight from the bytes of a copy of its output.
std::vector<std::vector<int32_t>> integersOf(const std::string& path, int bits) {
    const std::string b = slurp(path);
    const size_t channels = at(b, 22, 2), width = static_cast<size_t>(bits) / 8;
    std::vector<std::vector<int32_t>> ints(channels);
    for (size_t p = 44, i = 0; p + width <= b.size(); p += width, ++i) {
        const int shift = 32 - bits;
        ints[i % channels].push_back(static_cast<int32_t>(at(b, p, int(width)) << shift) >> shift);
    }
    return ints;
}

} // namespace

// Both directions keep the converter's integers: v/8388608 (v/32768) are exactly the
// values a 24-bit (16-bit) writer stores as v. The clamp for its integer input is counted.
TEST_F(SSRCRunnerTest, TheConvertersIntegersComeBackUnchanged) {
    ::setenv("FAKE_SSRC_KEEP", root_.path().c_str(), 1);
    SignalChannels x = tone(3000, 44100);
    for (size_t i = 0; i < 3000; ++i) // beyond full scale in places, both ways
        x[1][i] = 1.4 * std::sin(2 * M_PI * 50.0 * static_cast<double>(i) / 44100);
    int64_t over = 0;
    for (double v : x[1])
        over += v > 1.0 || v < -1.0 - 1.0 / 2147483647;
    ASSERT_GT(over, 500);

    int64_t clipped = -1;
    const SignalChannels y = SSRCRunner::convert(x, 44100, 96000, &clipped);
    EXPECT_EQ(clipped, over);
    const auto ints24 = integersOf(root_.file("out-24.wav"), 24);
    ASSERT_EQ(ints24.size(), 2u);
    ASSERT_EQ(ints24[1].size(), 6531u + 2); // round(3000·96000/44100) and the tail
    EXPECT_EQ(*std::max_element(ints24[1].begin(), ints24[1].end()), 8388607);
    for (size_t c = 0; c < 2; ++c)
        for (size_t i = 0; i < ints24[c].size(); ++i)
            ASSERT_EQ(y[c][i] * 8388608, ints24[c][i]) << c << " " << i;

    const auto shaped = SSRCRunner::dither16(x, 44100, 6);
    ASSERT_TRUE(shaped);
    const auto ints16 = integersOf(root_.file("out-16.wav"), 16);
    for (size_t c = 0; c < 2; ++c)
        for (size_t i = 0; i < 3000; ++i)
            ASSERT_EQ((*shaped)[c][i] * 32768, ints16[c][i]) << c << " " << i;
    ::unsetenv("FAKE_SSRC_KEEP");

    SSRCRunner::convert(x, 44100, 44100, &clipped); // nothing converted, nothing clipped
    EXPECT_EQ(clipped, 0);
}

TEST_F(SSRCRunnerTest, AHangingChildIsStoppedAtTheTimeLimit) {
    EXPECT_EQ(SSRCRunner::timeLimitSeconds(441000, 44100), 160.0); // 60 s + 10 x 10 s
    EXPECT_EQ(SSRCRunner::timeLimitSeconds(1000, 44100), 61.0);
    SSRCRunner::setTimeLimitForTesting(0.3);
    mode("hang");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(
        failureOf([] { SSRCRunner::convert(tone(100, 44100), 44100, 48000); }, Kind::timedOut),
        "SSRC failed: ssrc_hp did not finish within 0.3 s and was stopped");
    EXPECT_FALSE(SSRCRunner::dither16(tone(100, 44100), 44100, 0));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    const std::vector<std::string> pids = logLines();
    ASSERT_EQ(pids.size(), 2u);
    for (const std::string& pid : pids)
        EXPECT_EQ(::kill(std::stoi(pid), 0), -1) << "child " << pid << " still exists";
}
