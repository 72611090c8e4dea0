// The bridge to the external converter, played by the stand-in fake_ssrc_hp: its work files
// byte for byte, where it is found, its exact command line, every way it or its output can
// go wrong (each with its own error), and its child process. The caller stops waiting when
// the child ends, times out or is stopped, not when its pipes close, and the child's whole
// process group goes with it; something that left the group cannot be killed but does not
// hold the caller either. The child starts with plain signals. (A stop request while the
// converter runs is attacked through the job runner in the batch layer's stop tests.)
#include "audio_io/audio_error.h"
#include "audio_io/interrupt_cleanup.h"
#include "engines/child_process.h"
#include "engines/ssrc_runner.h"
#include "support/metadata_files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <regex>
#include <sstream>

using namespace sonteva;
using namespace sonteva::test;
namespace fs = std::filesystem;
using Kind = SSRCRunnerError::Kind;
using End = ChildOutcome::End;

namespace {

// Little-endian integers of `width` bytes each.
Bytes ints(std::initializer_list<uint32_t> values, int width) {
    Bytes b;
    for (uint32_t v : values)
        put(b, v, width);
    return b;
}

Bytes fmtBody(int channels, int bits) {
    Bytes b;
    put(b, 1, 2), put(b, channels, 2), put(b, 44100, 4), put(b, 0, 6), put(b, bits, 2);
    return b;
}

// A RIFF/WAVE file of (identifier, body) chunks, odd bodies padded.
Bytes wav(const std::vector<std::pair<std::string, Bytes>>& chunks) {
    Bytes body = text("WAVE");
    for (const auto& [id, b] : chunks) {
        const Bytes c = chunk(id, b);
        body.insert(body.end(), c.begin(), c.end());
    }
    return chunk("RIFF", body);
}

SignalChannels tone(size_t frames, double rate) {
    SignalChannels x(2, std::vector<double>(frames, 0.3));
    for (size_t i = 0; i < frames; ++i)
        x[0][i] = 0.5 * std::sin(2 * M_PI * 1000.0 * static_cast<double>(i) / rate);
    return x;
}

// What `call` throws: "<kind>: <text>" for an SSRCRunnerError, "other: <text>" otherwise.
std::string failureOf(const std::function<void()>& call) {
    static const char* const kinds[] = {"conversionFailed", "binaryNotFound", "badOutput",
                                        "timedOut", "wrongOutput"};
    try {
        call();
    } catch (const SSRCRunnerError& e) {
        return std::string(kinds[static_cast<int>(e.kind())]) + ": " + e.what();
    } catch (const std::exception& e) {
        return std::string("other: ") + e.what();
    }
    return "no error";
}

std::string regexEscaped(const std::string& s) {
    return std::regex_replace(s, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

// Gone altogether: not even a zombie is left for anyone to reap (in a container, init may
// never reap one).
bool ended(pid_t pid) {
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

} // namespace

TEST(SSRCWav, CanonicalHeaderAndSampleMapping) {
    TempDir d;
    SSRCRunner::writeInt32WAV(SignalChannels(2, std::vector<double>(1000)), 44100, d.file("a.wav"));
    const Bytes b = load(d.file("a.wav"));
    ASSERT_EQ(b.size(), 8044u);
    Bytes header = text("RIFF");
    put(header, 8036, 4), put(header, "WAVEfmt "), put(header, 16, 4), put(header, 1, 2);
    put(header, 2, 2), put(header, 44100, 4), put(header, 352800, 4), put(header, 8, 2);
    put(header, 32, 2), put(header, "data"), put(header, 8000, 4);
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 44), header);

    // The second channel is shorter: its missing samples are written as zeros.
    SSRCRunner::writeInt32WAV({{1.0, -1.0, 1.5, -1.5, 0.5, -0.5, 0.25, NAN}, {0.25}}, 48000,
                              d.file("b.wav"));
    const Bytes s = load(d.file("b.wav"));
    ASSERT_EQ(s.size(), 44u + 8 * 2 * 4);
    const std::vector<int32_t> expected = {2147483647, -2147483647, 2147483647, -2147483647 - 1,
                                           1073741824, -1073741824, 536870912,  0};
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(int32_t(get(s, 44 + i * 8, 4)), expected[i]) << i;
        EXPECT_EQ(int32_t(get(s, 48 + i * 8, 4)), i == 0 ? 536870912 : 0) << i;
    }
}

TEST(SSRCWav, ReadersWalkExtraAndOddSizedChunks) {
    TempDir d;
    save(d.file("24.wav"), wav({{"LIST", text("INFOx")},
                                {"fmt ", fmtBody(2, 24)},
                                {"odd ", text("abc")},
                                {"data", ints({0x7FFFFF, 0x800000, 1, 0xFFFFFF}, 3)}}));
    // Full scale 2^23: every integer comes back as itself when stored at 24 bits.
    const double k = 1.0 / 8388608;
    const SignalChannels y = SSRCRunner::readInt24WAV(d.file("24.wav"), 2);
    EXPECT_EQ(y, SignalChannels({{8388607 * k, 1 * k}, {-1.0, -1 * k}}));
    const auto figures = SSRCRunner::readConverterOutput(d.file("24.wav"));
    ASSERT_TRUE(figures);
    EXPECT_EQ(std::tuple(figures->channels, figures->bits, figures->sampleRate, figures->samples),
              std::tuple(2, 24, int64_t{44100}, y));

    Bytes data16 = ints({0x7FFF, 0x8000, 0xFFFF}, 2);
    data16.push_back('?');
    save(d.file("16.wav"), wav({{"fmt ", fmtBody(1, 16)}, {"LIST", text("x")}, {"data", data16}}));
    EXPECT_EQ(SSRCRunner::readInt16WAV(d.file("16.wav"), 1),
              SignalChannels({{32767 / 32768.0, -1.0, -1 / 32768.0}}));

    // A data size beyond the end of the file: only the whole frames present are read.
    Bytes data24 = ints({5, 6}, 3);
    data24.push_back('x');
    Bytes cut = wav({{"fmt ", fmtBody(1, 24)}, {"data", data24}});
    std::fill_n(cut.begin() + 40, 4, 0xFF);
    save(d.file("cut.wav"), cut);
    EXPECT_EQ(SSRCRunner::readInt24WAV(d.file("cut.wav"), 1), SignalChannels({{5 * k, 6 * k}}));
}

TEST(SSRCWav, UnreadableOutputFails) {
    TempDir d;
    for (int bits : {24, 16}) {
        const Bytes frames(24, 0), fmt = fmtBody(1, bits);
        Bytes runsPast = wav({{"fmt ", fmt}, {"LIST", frames}, {"data", frames}});
        std::fill_n(runsPast.begin() + 40, 4, 0xF0); // a chunk that runs far past the end
        const std::vector<Bytes> cases = {
            wav({{"fmt ", fmtBody(2, bits)}, {"data", frames}}),      // channel count
            wav({{"fmt ", fmtBody(1, 40 - bits)}, {"data", frames}}), // word length
            wav({{"data", frames}, {"fmt ", fmt}}),                   // fmt too late
            wav({{"LIST", frames}, {"data", frames}}),                // no fmt
            wav({{"fmt ", fmt}, {"data", {}}}),                       // only 44 bytes
            wav({{"LIST", frames}, {"fmt ", text("abcd")}}),          // fmt cut short
            runsPast,
            Bytes(300, 'Z')};
        for (size_t i = 0; i < cases.size(); ++i) {
            save(d.file("x.wav"), cases[i]);
            if (bits == 16)
                EXPECT_FALSE(SSRCRunner::readInt16WAV(d.file("x.wav"), 1)) << i;
            else
                EXPECT_EQ(failureOf([&] { SSRCRunner::readInt24WAV(d.file("x.wav"), 1); }),
                          "badOutput: SSRC produced unreadable output")
                    << i;
        }
    }
    // A file that cannot be read at all is a platform error, not unreadable output.
    EXPECT_EQ(failureOf([&] { SSRCRunner::readInt24WAV(d.file("none.wav"), 1); }),
              "other: Cannot read none.wav: No such file or directory");
    EXPECT_FALSE(SSRCRunner::readInt16WAV(d.file("none.wav"), 1));
}

namespace {

// Points the runner at the stand-in through SONTEVA_SSRC, with an empty resource folder and
// an empty PATH, and at a private temporary folder (with a non-ASCII name) that must hold
// no work directory once each test is over.
class SSRCRunnerTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name :
             {"SONTEVA_RESOURCE_DIR", "SONTEVA_SSRC", "TMPDIR", "PATH", "FAKE_SSRC_MODE",
              "FAKE_SSRC_LOG", "FAKE_SSRC_KEEP", "FAKE_SSRC_GRANDCHILD"})
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
        for (const char* name : {"FAKE_SSRC_MODE", "FAKE_SSRC_KEEP", "FAKE_SSRC_GRANDCHILD"})
            ::unsetenv(name);
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
    // The pids the stand-in logged: "grandchild <pid> of <pid>".
    std::pair<pid_t, pid_t> childAndGrandchild() const {
        std::pair<pid_t, pid_t> family{0, 0};
        for (const std::string& line : logLines()) {
            std::istringstream words(line);
            std::string word, of;
            if (words >> word && word == "grandchild") words >> family.second >> of >> family.first;
        }
        return family;
    }

    TempDir root_;
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
    save(res_ + "/ssrc_hp", text("#!/bin/sh\n"));
    save(bin_ + "/ssrc_hp", text("#!/bin/sh\n"));
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
    int64_t clipped = -1;
    EXPECT_EQ(SSRCRunner::convert(x, 48000, 48000, &clipped), x);
    EXPECT_EQ(clipped, 0);
    EXPECT_EQ(SSRCRunner::convert({}, 44100, 48000), SignalChannels{});
    EXPECT_FALSE(SSRCRunner::dither16({}, 44100, 0));
    EXPECT_FALSE(fs::exists(log_)) << "the converter ran";

    ::unsetenv("SONTEVA_SSRC");
    for (const auto& [in, fsIn] : {std::pair{x, 48000}, std::pair{SignalChannels{}, 44100}})
        EXPECT_EQ(failureOf([&] { SSRCRunner::convert(in, fsIn, 48000); }),
                  "binaryNotFound: SSRC binary (ssrc_hp) not found");
    std::string why;
    EXPECT_FALSE(SSRCRunner::dither16(x, 48000, 0, &why));
    EXPECT_EQ(why, "ssrc_hp was not found");
}

// The converter writing a MiB on standard error meanwhile: drained, it never stalls.
TEST_F(SSRCRunnerTest, ConvertRoundTripWithTheExactArguments) {
    mode("chatty");
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

    // Each call in a work folder of its own, named by a fresh version 4 UUID.
    const std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), 3u);
    const auto args = [&](const std::string& options, const char* prefix) {
        return std::regex(regexEscaped(options + " --quiet --tmpfile ") + "(" +
                          regexEscaped(tmp_ + "/" + prefix) +
                          "[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12})" +
                          R"(/ssrc\.tmp \1/in\.wav \1/out\.wav)");
    };
    std::smatch first, second;
    ASSERT_TRUE(std::regex_match(lines[0], first, args("--rate 48000 --bits 24", "sonteva-ssrc-")))
        << lines[0];
    ASSERT_TRUE(std::regex_match(lines[1], second, args("--rate 44100 --bits 24", "sonteva-ssrc-")))
        << lines[1];
    EXPECT_NE(first[1], second[1]);
    EXPECT_TRUE(
        std::regex_match(lines[2], args("--rate 48000 --bits 16 --dither 2", "sonteva-dither-")))
        << lines[2];
}

// Every way the converter fails has its error; dither16 then yields nothing and says why,
// except where the converter claimed success with output of the wrong shape: that fails
// with the figures too (a fallback would hide the fault). 200 frames at 44.1 kHz make 218
// at 48 kHz; the converter may add a tail of up to two frames.
TEST_F(SSRCRunnerTest, EveryFailureHasItsError) {
    EXPECT_EQ(SSRCRunner::timeLimitSeconds(441000, 44100), 160.0); // 60 s + 10 x 10 s
    EXPECT_EQ(SSRCRunner::timeLimitSeconds(1000, 44100), 61.0);
    SSRCRunner::setTimeLimitForTesting(0.3);
    const SignalChannels x = tone(200, 44100);
    const std::string at48 = " Hz; 218 frames at 48000 Hz were expected for 200 frames at 44100 Hz";
    const std::string at441 = " Hz; 200 frames at 44100 Hz were expected";
    const std::string failed = "conversionFailed: SSRC failed: ",
                      unreadable = "badOutput: SSRC produced unreadable output",
                      wrong = "wrongOutput: SSRC returned ";
    struct Case {
        const char* mode;
        std::string convert;
        std::string dither; // "why: …" when it yields nothing
    };
    const std::vector<Case> cases = {
        {"fail", failed + "ssrc_hp: cannot convert \u2014 \u00fcnsupported",
         "why: SSRC failed: ssrc_hp: cannot convert \u2014 \u00fcnsupported"},
        {"badutf8", failed + "exit 2", "why: SSRC failed: exit 2"},
        {"crash", failed + "terminated by signal 11", "why: SSRC failed: terminated by signal 11"},
        {"hang", "timedOut: SSRC failed: ssrc_hp did not finish within 0.3 s and was stopped",
         "why: SSRC failed: ssrc_hp did not finish within 0.3 s and was stopped"},
        {"garbage", unreadable, "why: ssrc_hp produced unreadable output"},
        {"otherbits", unreadable + " (16-bit samples where 24-bit samples were expected)",
         "why: ssrc_hp returned 24-bit samples for 16-bit output"},
        {"nooutput", "other: Cannot read out.wav: No such file or directory",
         "why: Cannot read out.wav: No such file or directory"},
        {"long", wrong + "221 frames at 48000" + at48, wrong + "203 frames at 44100" + at441},
        {"short", wrong + "216 frames at 48000" + at48, wrong + "198 frames at 44100" + at441},
        {"doubled", wrong + "440 frames at 48000" + at48, wrong + "404 frames at 44100" + at441},
        {"truncated", wrong + "110 frames at 48000" + at48, wrong + "101 frames at 44100" + at441},
        {"wrongrate", wrong + "111 frames at 24000" + at48, wrong + "102 frames at 22050" + at441},
        {"mislabelled", wrong + "220 frames at 44101" + at48,
         wrong + "202 frames at 44101" + at441},
        {"channels", wrong + "3 channels; 2 were expected", wrong + "3 channels; 2 were expected"},
        {"mono", wrong + "1 channel; 2 were expected", wrong + "1 channel; 2 were expected"}};
    const auto ditherOutcome = [](const SignalChannels& in) {
        std::string why;
        const std::string thrown = failureOf(
            [&] { why = SSRCRunner::dither16(in, 44100, 0, &why) ? "accepted" : "why: " + why; });
        return thrown == "no error" ? why : thrown;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        mode(c.mode);
        EXPECT_EQ(failureOf([&] { SSRCRunner::convert(x, 44100, 48000); }), c.convert);
        EXPECT_EQ(ditherOutcome(x), c.dither);
    }
    // Each child that hung (it logged its pid) was stopped and reaped.
    for (const std::string& line : logLines()) {
        if (std::isdigit(static_cast<unsigned char>(line[0]))) {
            EXPECT_TRUE(ended(std::stoi(line))) << "child " << line << " still exists";
        }
    }

    // Exactly as many frames as owed, or the converter's tail of two, are accepted.
    mode("exact");
    EXPECT_EQ(SSRCRunner::convert(x, 44100, 48000)[1].size(), 218u);
    EXPECT_EQ(SSRCRunner::dither16(x, 44100, 0).value()[1].size(), 200u);
    ::setenv("TMPDIR", (log_ + "/under-a-file").c_str(), 1);
    ::unsetenv("FAKE_SSRC_MODE");
    EXPECT_THROW(SSRCRunner::convert(x, 44100, 48000), AudioError);
    EXPECT_FALSE(SSRCRunner::dither16(x, 44100, 0));
}

TEST_F(SSRCRunnerTest, NothingTheChildStartedKeepsTheCallerWaiting) {
    const std::string complaint = "ssrc_hp: cannot convert \u2014 \u00fcnsupported\n";
    struct Case {
        const char* mode;
        const char* grandchild;
        double limit;
        End end;
        int status;
        std::string standardError;
    };
    // Limits far beyond the child's own run: waiting for the pipes would end in a time-out.
    const std::vector<Case> cases = {
        {"fail", "group", 60, End::exited, 3, complaint},
        {"fail", "escape", 60, End::exited, 3, complaint},
        {"crash", "group", 60, End::signalled, SIGSEGV, ""},
        {"hang", "group", 0.5, End::timedOut, 0, ""},
        {"hang", "escape", 0.5, End::timedOut, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.mode) + " " + c.grandchild);
        fs::remove(log_);
        mode(c.mode);
        ::setenv("FAKE_SSRC_GRANDCHILD", c.grandchild, 1);
        const ChildOutcome outcome = runChild(SONTEVA_FAKE_SSRC, {}, c.limit);
        EXPECT_EQ(outcome.end, c.end);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.standardError, c.standardError);
        const auto [child, grandchild] = childAndGrandchild();
        ASSERT_GT(grandchild, 0);
        EXPECT_TRUE(ended(child)) << "the child was reaped";
        if (std::string(c.grandchild) == "group") {
            EXPECT_TRUE(ended(grandchild)) << "killed with the child's group, and reaped";
        } else {
            EXPECT_FALSE(ended(grandchild)) << "outside the group, out of reach";
            ::kill(grandchild, SIGKILL);
            ::waitpid(grandchild, nullptr, 0); // handed to this process when its parent ended
        }
    }

    // A conversion succeeds while a grandchild holds the converter's pipes.
    ::unsetenv("FAKE_SSRC_MODE");
    ::setenv("FAKE_SSRC_GRANDCHILD", "group", 1);
    SSRCRunner::setTimeLimitForTesting(60);
    SignalChannels x(2, std::vector<double>(2000, 0.25));
    EXPECT_EQ(SSRCRunner::convert(x, 44100, 48000)[0].size(), 2177u + 2);
    EXPECT_TRUE(ended(childAndGrandchild().second));
}

namespace {

// In a death test's child: 7 when the converter sees no blocked signals, neither SIGPIPE
// nor SIGXFSZ ignored, and its own id as its group's.
[[noreturn]] void checkWhatTheChildSees() {
    InterruptCleanup::install("");
    // The shell replaced by cat: what the child itself sees.
    const ChildOutcome o =
        runChild("/bin/sh", {"-c", "exec cat /proc/self/status /proc/self/stat >&2"}, 30);
    const std::string& text = o.standardError;
    auto field = [&](const std::string& name) {
        const size_t at = text.find("\n" + name + ":\t");
        if (at == std::string::npos) return std::string();
        const size_t from = at + name.size() + 3;
        return text.substr(from, text.find('\n', from) - from);
    };
    const std::string ignoredMask = field("SigIgn");
    const uint64_t ignored = ignoredMask.empty() ? ~0ull : std::stoull(ignoredMask, nullptr, 16);
    const bool plain = field("SigBlk") == "0000000000000000" &&
                       !(ignored & (1u << (SIGPIPE - 1))) && !(ignored & (1u << (SIGXFSZ - 1)));
    // The stat line: pid (name) state parent group …
    std::istringstream stat(text.substr(text.rfind(") ") + 2));
    std::string state;
    long parent = 0, group = 0;
    stat >> state >> parent >> group;
    const bool leader = std::to_string(group) == field("Pid");
    std::fprintf(stderr, "%s", text.c_str());
    std::_Exit(plain && leader && o.end == End::exited ? 7 : 8);
}

} // namespace

// The calling process blocks the interrupting signals and ignores SIGXFSZ; none of that
// reaches the converter, which also leads a group of its own.
TEST(ChildProcessDeathTest, TheChildStartsWithPlainSignalsInAGroupOfItsOwn) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(checkWhatTheChildSees(), ::testing::ExitedWithCode(7), "");
}
