#pragma once
// A command run on a pseudo-terminal of its own, as from a shell: the terminal is its
// controlling terminal, so Ctrl-C and Ctrl-\ typed there reach it as signals. The test
// keeps the terminal's other end open to read back its settings after the command ended.
#include "support/spawn.h"

#include <QStringList>

#include <poll.h>
#include <termios.h>

#include <functional>

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
        if (slave_ < 0 || ::tcgetattr(slave_, &initial_) != 0) return;

        std::vector<std::string> argv{program};
        for (const QString& a : args)
            argv.push_back(a.toStdString());
        Launch how;
        how.terminal = slavePath, how.env = env;
        pid_ = launch(argv, how);
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
    void signal(int sig) { ::kill(pid_, sig); }
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
    // Whether the terminal is as it was before, in every field a program may change.
    bool terminalPutBack() const {
        termios now{};
        ::tcgetattr(slave_, &now);
        return now.c_iflag == initial_.c_iflag && now.c_oflag == initial_.c_oflag &&
               now.c_cflag == initial_.c_cflag && now.c_lflag == initial_.c_lflag &&
               std::equal(std::begin(now.c_cc), std::end(now.c_cc), initial_.c_cc);
    }

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

    termios initial_{};
    int master_ = -1;
    int slave_ = -1;
    pid_t pid_ = -1;
    std::optional<int> status_;
    std::string output_;
    std::chrono::steady_clock::time_point started_, ended_;
};

} // namespace sonteva::test
