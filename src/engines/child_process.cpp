#include "engines/child_process.h"

#include "audio_io/audio_error.h"
#include "audio_io/interrupt_cleanup.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <functional>
#include <optional>
#include <thread>

extern char** environ;

namespace sonteva {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxCapturedBytes = size_t{1} << 20;
// Far beyond any real run, and small enough that the deadline cannot overflow the clock.
constexpr double kLongestLimitSeconds = 1e7;
constexpr int kExitCheckMilliseconds = 20;
constexpr int kMaxFinalReads = 64;

[[noreturn]] void throwPlatform(const std::string& action, int error) {
    throw AudioError(action + ": " + std::strerror(error));
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Both ends are close-on-exec, so a child started by another thread at the same moment
// cannot inherit them and keep this child's pipes open. Only the reading end, which stays
// here, does not block.
struct Pipe {
    Pipe() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) throwPlatform("Cannot start ssrc_hp", errno);
        readEnd = fds[0];
        writeEnd = fds[1];
        ::fcntl(readEnd, F_SETFL, ::fcntl(readEnd, F_GETFL) | O_NONBLOCK);
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

// The child leads a process group of its own, which holds whatever it starts in turn.
// Kills that group and reaps the child unless it has already been reaped, so no path (a
// time-out, an exception while draining) leaves a running or zombie process behind.
struct ChildGuard {
    ChildGuard(pid_t p, CleanupEntry e) : pid(p), group(std::move(e)) {}
    ~ChildGuard() { stop(); }
    ChildGuard(const ChildGuard&) = delete;
    ChildGuard& operator=(const ChildGuard&) = delete;
    // Until the child is reaped its id cannot be reused, so the group killed is its own.
    // What the child started was handed to this process when the child ended (see
    // adoptOrphans) and is reaped here too, so that none of it lingers even as a zombie.
    void stop() {
        if (reaped) return;
        {
            CleanupHold hold;
            ::kill(-pid, SIGKILL);
            group.reset();
        }
        pid_t r;
        while ((r = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
        }
        if (r < 0) lost = errno; // reaped elsewhere (SIGCHLD ignored): the status is lost
        reaped = true;
        while (::waitpid(-pid, nullptr, 0) > 0 || errno == EINTR) {
        }
    }
    pid_t pid;
    CleanupEntry group; // for an interrupt, while the child may run
    int status = 0;
    int lost = 0;
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

// Processes orphaned below this one come to it rather than to init, which in a container
// may never reap them: the converter's children are then this process's to reap.
void adoptOrphans() {
    static const bool adopted [[maybe_unused]] = ::prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;
}

pid_t spawn(const std::string& executable, const std::vector<std::string>& arguments,
            const Pipe& out, const Pipe& err) {
    adoptOrphans();
    SpawnSetup setup;
    posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&setup.actions, out.writeEnd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&setup.actions, err.writeEnd, STDERR_FILENO);
    // The caller's threads block the interrupting signals and ignore SIGPIPE and SIGXFSZ;
    // the child starts clean.
    sigset_t none, reset;
    sigemptyset(&none);
    sigemptyset(&reset);
    sigaddset(&reset, SIGPIPE);
    sigaddset(&reset, SIGXFSZ);
    posix_spawnattr_setsigmask(&setup.attributes, &none);
    posix_spawnattr_setsigdefault(&setup.attributes, &reset);
    // A group of its own, so that the child and everything it starts can be killed at once.
    posix_spawnattr_setpgroup(&setup.attributes, 0);
    posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                                    POSIX_SPAWN_SETPGROUP);

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

// True once the child has ended, left unreaped (a zombie keeps its id and its group's id
// its own), or when it is no longer there to wait for.
bool hasEnded(pid_t child) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
        return errno != EINTR;
    return info.si_pid == child;
}

// One read from `fd`; false once the pipe is closed or broken.
bool readOnce(int fd, std::string* captured) {
    char buffer[65536];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) return errno == EINTR || errno == EAGAIN;
    if (n > 0 && captured && captured->size() < kMaxCapturedBytes)
        captured->append(buffer,
                         std::min(static_cast<size_t>(n), kMaxCapturedBytes - captured->size()));
    return n > 0;
}

// Becomes readable once a stop is requested, so that the wait below wakes for it at once.
class StopSignal {
public:
    explicit StopSignal(const std::stop_token& stop) {
        if (!stop.stop_possible()) return;
        fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (fd_ < 0) throwPlatform("Cannot start ssrc_hp", errno);
        callback_.emplace(stop, [fd = fd_] {
            const uint64_t one = 1;
            [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
        });
    }
    ~StopSignal() {
        callback_.reset(); // waits for a callback in progress, which writes to the fd
        if (fd_ >= 0) ::close(fd_);
    }
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;
    int fd() const { return fd_; }

private:
    int fd_ = -1;
    std::optional<std::stop_callback<std::function<void()>>> callback_;
};

enum class Wait { exited, deadline, stopped };

// Reads both pipes until the child has ended, the deadline has come or a stop is
// requested. The end of the child, not of its pipes, counts: something it started may
// hold them open.
Wait drain(Pipe& out, Pipe& err, pid_t child, Clock::time_point deadline,
           const std::stop_token& stop, std::string& captured) {
    const StopSignal stopSignal(stop);
    // Without a process handle (an old kernel) the exit is looked for at short intervals.
#ifdef SYS_pidfd_open
    const int ended = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
#else
    const int ended = -1;
#endif
    pollfd fds[4] = {{out.readEnd, POLLIN, 0},
                     {err.readEnd, POLLIN, 0},
                     {ended, POLLIN, 0},
                     {stopSignal.fd(), POLLIN, 0}};
    Wait result = Wait::deadline;
    while (true) {
        if (hasEnded(child)) {
            result = Wait::exited;
            break;
        }
        if (stop.stop_requested()) {
            result = Wait::stopped;
            break;
        }
        int wait = millisecondsLeft(deadline);
        if (wait == 0) break;
        if (ended < 0) wait = std::min(wait, kExitCheckMilliseconds);
        if (::poll(fds, 4, wait) < 0) {
            if (errno != EINTR) // cannot watch the pipes: only the exit counts
                std::this_thread::sleep_for(std::chrono::milliseconds(kExitCheckMilliseconds));
            continue;
        }
        for (int i = 0; i < 2; ++i)
            if (fds[i].fd >= 0 && fds[i].revents != 0 &&
                !readOnce(fds[i].fd, i == 1 ? &captured : nullptr))
                fds[i].fd = -1;
    }
    if (ended >= 0) ::close(ended);
    return result;
}

// What the child wrote before it ended is in the pipes still. Whatever else holds them
// (something that left the child's group) may write on: reading stops at the first empty
// pipe, and after a bounded amount.
void drainRemaining(const Pipe& out, const Pipe& err, std::string& captured) {
    for (int i = 0; i < kMaxFinalReads && readOnce(out.readEnd, nullptr);)
        ++i;
    for (int i = 0; i < kMaxFinalReads && readOnce(err.readEnd, &captured);)
        ++i;
}

} // namespace

ChildOutcome runChild(const std::string& executable, const std::vector<std::string>& arguments,
                      double timeLimitSeconds, std::stop_token stop) {
    const double limit = std::clamp(timeLimitSeconds, 0.0, kLongestLimitSeconds);
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(limit));
    Pipe out, err;
    pid_t pid = -1;
    CleanupEntry group;
    {
        CleanupHold hold; // an interrupt finds no child, or one it knows
        pid = spawn(executable, arguments, out, err);
        group = hold.processGroup(pid);
    }
    ChildGuard child(pid, std::move(group));
    closeFd(out.writeEnd);
    closeFd(err.writeEnd);

    ChildOutcome outcome;
    const Wait wait = drain(out, err, child.pid, deadline, stop, outcome.standardError);
    child.stop(); // the child's status, and the end of whatever it left running
    if (wait != Wait::exited) {
        outcome.end =
            wait == Wait::stopped ? ChildOutcome::End::stopped : ChildOutcome::End::timedOut;
        return outcome;
    }
    if (child.lost) throwPlatform("Cannot wait for ssrc_hp", child.lost);
    drainRemaining(out, err, outcome.standardError);
    if (WIFSIGNALED(child.status)) {
        outcome.end = ChildOutcome::End::signalled;
        outcome.status = WTERMSIG(child.status);
    } else {
        outcome.status = WEXITSTATUS(child.status);
    }
    return outcome;
}

} // namespace sonteva
