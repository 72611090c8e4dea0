// What an interrupt removes: registered files, folders, process groups and undo steps, and
// nothing that was forgotten; a registration made while the cleanup waits for a hold. (The
// exit status and message of each signal, and a signal the parent ignored, are attacked
// through the real command line in the command line's interrupt tests.)
#include "audio_io/interrupt_cleanup.h"
#include "audio_io/part_file.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace sonteva;
namespace fs = std::filesystem;

namespace {

void touch(const std::string& path) {
    std::ofstream(path) << "x";
}

// A process leading a group of its own, sleeping until killed.
pid_t sleepingLeader() {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        ::alarm(60);
        for (;;)
            ::pause();
    }
    ::setpgid(pid, pid); // whichever of the two runs first
    return pid;
}

} // namespace

TEST(InterruptCleanup, LeftoversGoForgottenEntriesStay) {
    test::TempDir dir;
    const int folder = ::open(dir.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    fs::create_directories(dir.file("work/deeper"));
    for (const char* name : {"at", "by-path", "forgotten", "moved", "work/deeper/in.wav"})
        touch(dir.file(name));
    bool undone = false;
    const pid_t leader = sleepingLeader();
    {
        CleanupHold hold;
        CleanupEntry at = hold.file(folder, "at");
        CleanupEntry byPath = hold.path(dir.file("by-path"));
        CleanupEntry work = hold.path(dir.file("work"));
        CleanupEntry forgotten = hold.path(dir.file("forgotten"));
        CleanupEntry moved = hold.path(dir.file("moved"));
        CleanupEntry group = hold.processGroup(leader);
        CleanupEntry undo = hold.action([&] { undone = true; });
        forgotten.reset();
        CleanupEntry target = std::move(moved);
        EXPECT_FALSE(moved);
        EXPECT_TRUE(target);
        InterruptCleanup::removeLeftovers();
    } // the entries, forgotten by the cleanup already, are dropped harmlessly
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"forgotten"}));
    EXPECT_TRUE(undone);
    int status = 0;
    ASSERT_EQ(::waitpid(leader, &status, 0), leader);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    ::close(folder);

    // A cleanup of nothing registered removes nothing.
    touch(dir.file("later"));
    InterruptCleanup::removeLeftovers();
    EXPECT_TRUE(fs::exists(dir.file("later")));
}

TEST(InterruptCleanup, APartFileIsKnownUntilCommitted) {
    test::TempDir dir;
    const std::string target = dir.file("out.wav");
    {
        PartFile part(target);
        part.append("abc", 3);
        ASSERT_TRUE(fs::exists(part.tempPath()));
        InterruptCleanup::removeLeftovers();
        EXPECT_TRUE(dir.entries().empty());
    }
    {
        PartFile part(target);
        part.append("abc", 3);
        part.commit();
    }
    InterruptCleanup::removeLeftovers();
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"out.wav"}));
}

// The cleanup waits for a hold taken before the signal; what is created and registered
// under it is removed too, and nothing registered afterwards survives either.
TEST(InterruptCleanupDeathTest, TheCleanupWaitsForAHoldAndRemovesWhatItMade) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    test::TempDir dir;
    const std::string made = dir.file("made-under-hold");
    EXPECT_EXIT(
        {
            InterruptCleanup::install("test: Interrupted\n");
            auto* hold = new CleanupHold;
            ::kill(::getpid(), SIGTERM);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            touch(made);
            static CleanupEntry entry = hold->path(made);
            delete hold;
            for (;;)
                ::pause();
        },
        ::testing::ExitedWithCode(143), "Interrupted");
    EXPECT_FALSE(fs::exists(made));
}
