#include "engines/child_process.h"

#include "audio_io/audio_error.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <optional>
#include <thread>

extern char** environ;

namespace sonteva {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxCapturedBytes = size_t{1} << 20;
// Far beyond any real run, and small enough that the deadline cannot overflow the clock.
constexpr double kLongestLimitSeconds = 1e7;

[[noreturn]] void throwPlatform(const std::string& action, int error) {
    throw AudioError(action + ": " + std::strerror(error));
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Both ends are close-on-exec, so a child started by another thread at the same moment
// cannot inherit them and keep this child's pipes open.
struct Pipe {
    Pipe() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) throwPlatform("Cannot start ssrc_hp", errno);
        readEnd = fds[0];
        writeEnd = fds[1];
    }
    ~Pipe() {
        closeFd(readEnd);
        closeFd(writeEnd);
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    int readEnd = -1;
    int writeEnd = -1;
};

// Kills and reaps the child unless it has already been reaped, so no path (a time-out,
// an exception while draining) leaves a running or zombie process behind.
struct ChildGuard {
    explicit ChildGuard(pid_t p) : pid(p) {}
    ~ChildGuard() { stop(); }
    ChildGuard(const ChildGuard&) = delete;
    ChildGuard& operator=(const ChildGuard&) = delete;
    void stop() {
        if (reaped) return;
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        reaped = true;
    }
    pid_t pid;
    bool reaped = false;
};

struct SpawnSetup {
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
};

pid_t spawn(const std::string& executable, const std::vector<std::string>& arguments,
            const Pipe& out, const Pipe& err) {
    SpawnSetup setup;
    posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&setup.actions, out.writeEnd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&setup.actions, err.writeEnd, STDERR_FILENO);
    // The caller's thread may block signals or ignore SIGPIPE; the child starts clean.
    sigset_t none, pipeSignal;
    sigemptyset(&none);
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    posix_spawnattr_setsigmask(&setup.attributes, &none);
    posix_spawnattr_setsigdefault(&setup.attributes, &pipeSignal);
    posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(executable.c_str()));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, executable.c_str(), &setup.actions, &setup.attributes,
                                 argv.data(), environ);
    if (rc != 0) throwPlatform("Cannot start ssrc_hp", rc);
    return pid;
}

int millisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<decltype(left)>(left, 0, INT_MAX));
}

// Reads both pipes until the child has closed them; false when the deadline came first.
bool drain(Pipe& out, Pipe& err, Clock::time_point deadline, std::string& captured) {
    pollfd fds[2] = {{out.readEnd, POLLIN, 0}, {err.readEnd, POLLIN, 0}};
    char buffer[65536];
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        const int wait = millisecondsLeft(deadline);
        if (wait == 0) return false;
        const int ready = ::poll(fds, 2, wait);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return true; // cannot watch the pipes any more: only the exit counts
        for (pollfd& p : fds) {
            if (p.fd < 0 || p.revents == 0) continue;
            const ssize_t n = ::read(p.fd, buffer, sizeof buffer);
            if (n > 0 && &p == &fds[1] && captured.size() < kMaxCapturedBytes)
                captured.append(
                    buffer, std::min(static_cast<size_t>(n), kMaxCapturedBytes - captured.size()));
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) p.fd = -1;
        }
    }
    return true;
}

// The wait status, or nothing when the deadline came first. The pipes are closed by now,
// so the exit is normally immediate; polling keeps a child that closed them early and
// then stalled within the limit.
std::optional<int> waitForExit(ChildGuard& child, Clock::time_point deadline) {
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(child.pid, &status, WNOHANG);
        if (r == child.pid) {
            child.reaped = true;
            return status;
        }
        if (r < 0 && errno != EINTR) {
            child.reaped = true; // reaped elsewhere (SIGCHLD ignored): the status is lost
            throwPlatform("Cannot wait for ssrc_hp", errno);
        }
        if (Clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
}

} // namespace

ChildOutcome runChild(const std::string& executable, const std::vector<std::string>& arguments,
                      double timeLimitSeconds) {
    const double limit = std::clamp(timeLimitSeconds, 0.0, kLongestLimitSeconds);
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(limit));
    Pipe out, err;
    ChildGuard child(spawn(executable, arguments, out, err));
    closeFd(out.writeEnd);
    closeFd(err.writeEnd);

    ChildOutcome outcome;
    std::optional<int> status;
    if (drain(out, err, deadline, outcome.standardError)) status = waitForExit(child, deadline);
    if (!status) {
        child.stop();
        outcome.end = ChildOutcome::End::timedOut;
        return outcome;
    }
    if (WIFSIGNALED(*status)) {
        outcome.end = ChildOutcome::End::signalled;
        outcome.status = WTERMSIG(*status);
    } else {
        outcome.status = WEXITSTATUS(*status);
    }
    return outcome;
}

} // namespace sonteva
