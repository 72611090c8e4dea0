#pragma once
// Child processes for tests and benchmarks, started without a shell through posix_spawn:
// QProcess runs code of this process in the child, which hides later synchronisation from
// the thread checker, and the audio tests are plain C++. Each child is waited for by its pid.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace sonteva::test {

struct Launch {
    std::string out = "/dev/null"; // standard output, created or truncated
    std::string err = "/dev/null"; // standard error; empty: the same file as the output
    int outFd = -1, errFd = -1;    // descriptors (a pipe's ends) instead of the files
    // A terminal for all three, the controlling terminal of a new session whose signals
    // are as a shell leaves them: default actions, none blocked.
    std::string terminal;
    int fd3 = -1; // handed to the child as its descriptor 3
    std::map<std::string, std::optional<std::string>> env; // added, or without a value removed

    static Launch into(std::string out, std::string err = "/dev/null") {
        Launch how;
        how.out = std::move(out), how.err = std::move(err);
        return how;
    }
};

// Starts argv[0] (looked up on PATH) with the given arguments; -1 when it cannot start.
inline pid_t launch(const std::vector<std::string>& argv, const Launch& how = {}) {
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::map<std::string, std::string> vars;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (const size_t eq = entry.find('='); eq != std::string::npos)
            vars[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& [name, value] : how.env)
        value ? void(vars[name] = *value) : void(vars.erase(name));
    std::vector<std::string> entries;
    for (const auto& [name, value] : vars)
        entries.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& e : entries)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    const int written = O_WRONLY | O_CREAT | O_TRUNC;
    if (!how.terminal.empty()) {
        posix_spawn_file_actions_addopen(&files, 0, how.terminal.c_str(), O_RDWR, 0);
        posix_spawn_file_actions_adddup2(&files, 0, 1);
        posix_spawn_file_actions_adddup2(&files, 0, 2);
        sigset_t none, all;
        sigemptyset(&none);
        sigfillset(&all);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setsigdefault(&attr, &all);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK |
                                            POSIX_SPAWN_SETSIGDEF);
    } else {
        posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
        if (how.outFd >= 0)
            posix_spawn_file_actions_adddup2(&files, how.outFd, 1);
        else
            posix_spawn_file_actions_addopen(&files, 1, how.out.c_str(), written, 0600);
        if (how.errFd >= 0)
            posix_spawn_file_actions_adddup2(&files, how.errFd, 2);
        else if (how.err.empty())
            posix_spawn_file_actions_adddup2(&files, 1, 2);
        else
            posix_spawn_file_actions_addopen(&files, 2, how.err.c_str(), written, 0600);
    }
    // From a descriptor that cannot be 3 itself: a dup2 onto itself keeps close-on-exec.
    const int kept = how.fd3 >= 0 ? ::fcntl(how.fd3, F_DUPFD_CLOEXEC, 10) : -1;
    if (kept >= 0) posix_spawn_file_actions_adddup2(&files, kept, 3);
    pid_t pid = -1;
    if (argv.empty() || ::posix_spawnp(&pid, args[0], &files, &attr, args.data(), envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attr);
    if (kept >= 0) ::close(kept);
    return pid;
}

// The child's exit status (128 + the signal that ended it), or -1 when it has not ended
// within `ms`; a negative `ms` waits for as long as it takes.
inline int waitChild(pid_t pid, int ms) {
    if (pid <= 0) return -1;
    int status = 0;
    for (int waited = 0; ms < 0 || waited <= ms; waited += 10) {
        if (::waitpid(pid, &status, ms < 0 ? 0 : WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

// Ends a child: SIGTERM, then SIGKILL when it lingers.
inline void endChild(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    if (waitChild(pid, 3000) >= 0) return;
    ::kill(pid, SIGKILL);
    waitChild(pid, 2000);
}

} // namespace sonteva::test
