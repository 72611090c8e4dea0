#pragma once
// A command run on a pseudo-terminal of its own, as from a shell: the terminal is its
// controlling terminal, so Ctrl-C and Ctrl-\ typed there reach it as signals. The test
// keeps the terminal's other end open to read back its settings after the command ended.
#include "support/sound_servers.h"

#include <QStringList>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace sonteva::test {

class TerminalSession {
public:
    // `env` entries are added to (or, with no value, removed from) this process's environment.
    TerminalSession(const std::string& program, const QStringList& args,
                    const std::map<std::string, std::optional<std::string>>& env = {}) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
        const std::string slavePath = ::ptsname(master_);
        slave_ = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave_ < 0 || ::tcgetattr(slave_, &initial) != 0) return;

        std::vector<std::string> words{program};
        for (const QString& a : args)
            words.push_back(a.toStdString());
        std::vector<char*> argv;
        for (auto& w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        std::map<std::string, std::string> vars;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            const size_t eq = entry.find('=');
            if (eq != std::string::npos) vars[entry.substr(0, eq)] = entry.substr(eq + 1);
        }
        for (const auto& [name, value] : env) {
            if (value)
                vars[name] = *value;
            else
                vars.erase(name);
        }
        std::vector<std::string> entries;
        for (const auto& [name, value] : vars)
            entries.push_back(name + "=" + value);
        std::vector<char*> envp;
        for (auto& e : entries)
            envp.push_back(e.data());
        envp.push_back(nullptr);

        // A new session whose first terminal opened becomes its controlling terminal, with
        // the signals a shell would leave it: default actions, none blocked.
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        sigset_t none, all;
        sigemptyset(&none);
        sigfillset(&all);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setsigdefault(&attr, &all);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK |
                                            POSIX_SPAWN_SETSIGDEF);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, slavePath.c_str(), O_RDWR, 0);
        posix_spawn_file_actions_adddup2(&actions, 0, 1);
        posix_spawn_file_actions_adddup2(&actions, 0, 2);
        if (::posix_spawn(&pid_, argv[0], &actions, &attr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
        started_ = std::chrono::steady_clock::now();
    }
    ~TerminalSession() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            waitChild(pid_, 3000);
        }
        if (slave_ >= 0) ::close(slave_);
        if (master_ >= 0) ::close(master_);
    }
    TerminalSession(const TerminalSession&) = delete;
    TerminalSession& operator=(const TerminalSession&) = delete;

    bool started() const { return pid_ > 0; }
    // Types on the terminal.
    void type(const std::string& keys) {
        [[maybe_unused]] const ssize_t n = ::write(master_, keys.data(), keys.size());
    }
    // Collects what the command prints until `done` holds for all of it; false after `ms`.
    bool readUntil(const std::function<bool(const std::string&)>& done, int ms) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!done(output_)) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            drain(20);
        }
        return true;
    }
    // The exit status (128 + the signal for one that ended it), or -1 when it still runs
    // after `ms`; reads what it prints meanwhile.
    int wait(int ms) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!status_ && std::chrono::steady_clock::now() <= deadline) {
            drain(10);
            int raw = 0;
            if (::waitpid(pid_, &raw, WNOHANG) == pid_) {
                status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
                ended_ = std::chrono::steady_clock::now();
            }
        }
        drain(50);
        return status_.value_or(-1);
    }
    double secondsRun() const { return std::chrono::duration<double>(ended_ - started_).count(); }
    const std::string& output() const { return output_; }
    termios settings() const {
        termios now{};
        ::tcgetattr(slave_, &now);
        return now;
    }
    termios initial{};

private:
    void drain(int ms) {
        pollfd p{master_, POLLIN, 0};
        while (::poll(&p, 1, ms) > 0 && (p.revents & POLLIN)) {
            char chunk[4096];
            const ssize_t n = ::read(master_, chunk, sizeof chunk);
            if (n <= 0) break;
            output_.append(chunk, size_t(n));
            ms = 0;
        }
    }

    int master_ = -1;
    int slave_ = -1;
    pid_t pid_ = -1;
    std::optional<int> status_;
    std::string output_;
    std::chrono::steady_clock::time_point started_, ended_;
};

// Whether two terminal settings are the same in every field a program may change.
inline bool sameSettings(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::equal(std::begin(a.c_cc), std::end(a.c_cc), b.c_cc);
}

} // namespace sonteva::test
