// The converter's child process with something it started still holding its pipes: the
// caller stops waiting when the child ends or times out, not when the pipes close, and the
// child's whole process group goes with it. Something that left the group cannot be
// killed, but does not hold the caller either. The child starts with plain signals.
#include "audio_io/interrupt_cleanup.h"
#include "engines/child_process.h"
#include "engines/ssrc_runner.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stop_token>
#include <thread>

using namespace sonteva;
namespace fs = std::filesystem;
using End = ChildOutcome::End;

namespace {

struct Family {
    pid_t child = 0, grandchild = 0;
};

// The pids the stand-in logged: "grandchild <pid> of <pid>".
Family familyIn(const std::string& log) {
    std::ifstream in(log);
    Family f;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string word, of;
        if (words >> word && word == "grandchild") words >> f.grandchild >> of >> f.child;
    }
    return f;
}

// Gone altogether: not even a zombie is left for anyone to reap (in a container, init may
// never reap one).
bool ended(pid_t pid) {
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

class ChildProcess : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("FAKE_SSRC_LOG", log.c_str(), 1);
        ::setenv("TMPDIR", tmp.path().c_str(), 1);
        ::setenv("SONTEVA_SSRC", SONTEVA_FAKE_SSRC, 1);
        ::setenv("SONTEVA_RESOURCE_DIR", tmp.path().c_str(), 1);
    }
    void TearDown() override {
        for (const char* name : {"FAKE_SSRC_LOG", "FAKE_SSRC_MODE", "FAKE_SSRC_GRANDCHILD",
                                 "TMPDIR", "SONTEVA_SSRC", "SONTEVA_RESOURCE_DIR"})
            ::unsetenv(name);
    }
    test::TempDir dir, tmp;
    const std::string log = dir.file("ssrc.log");
};

} // namespace

TEST_F(ChildProcess, NothingItStartedKeepsTheCallerWaiting) {
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
        fs::remove(log);
        ::setenv("FAKE_SSRC_MODE", c.mode, 1);
        ::setenv("FAKE_SSRC_GRANDCHILD", c.grandchild, 1);
        const ChildOutcome outcome = runChild(SONTEVA_FAKE_SSRC, {}, c.limit);
        EXPECT_EQ(outcome.end, c.end);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.standardError, c.standardError);
        const Family f = familyIn(log);
        ASSERT_GT(f.grandchild, 0);
        EXPECT_TRUE(::kill(f.child, 0) == -1 && errno == ESRCH) << "the child was reaped";
        if (std::string(c.grandchild) == "group") {
            EXPECT_TRUE(ended(f.grandchild)) << "killed with the child's group, and reaped";
        } else {
            EXPECT_FALSE(ended(f.grandchild)) << "outside the group, out of reach";
            ::kill(f.grandchild, SIGKILL);
            ::waitpid(f.grandchild, nullptr, 0); // handed to this process when its parent ended
        }
    }
}

TEST_F(ChildProcess, AConversionSucceedsWhileAGrandchildHoldsItsPipes) {
    SignalChannels x(2, std::vector<double>(2000, 0.25));
    const SignalChannels plain = SSRCRunner::convert(x, 44100, 48000);
    ::setenv("FAKE_SSRC_GRANDCHILD", "group", 1);
    SSRCRunner::setTimeLimitForTesting(60);
    EXPECT_EQ(SSRCRunner::convert(x, 44100, 48000), plain);
    SSRCRunner::setTimeLimitForTesting(0);
    EXPECT_TRUE(ended(familyIn(log).grandchild));
    EXPECT_TRUE(tmp.entries().empty());
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
    long parent = 0;
    long group = 0;
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

// A stop request ends the wait at once, whether it came before the child started or while
// it runs, and the child's whole group goes as at a time-out.
TEST_F(ChildProcess, AStopRequestEndsTheWaitAndTheGroup) {
    ::setenv("FAKE_SSRC_MODE", "hang", 1);
    ::setenv("FAKE_SSRC_GRANDCHILD", "group", 1);
    for (const bool early : {true, false}) {
        SCOPED_TRACE(early ? "requested before" : "requested while it runs");
        fs::remove(log);
        std::stop_source stop;
        if (early) stop.request_stop();
        std::thread requester([&] {
            while (!early && familyIn(log).grandchild == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            stop.request_stop();
        });
        const ChildOutcome outcome = runChild(SONTEVA_FAKE_SSRC, {}, 600, stop.get_token());
        requester.join();
        EXPECT_EQ(outcome.end, End::stopped);
        const Family f = familyIn(log);
        for (const pid_t pid : {f.child, f.grandchild})
            EXPECT_TRUE(pid == 0 || ended(pid)) << pid;
    }
}
