#include "audio_io/interrupt_cleanup.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>
#include <variant>

namespace sonteva {

namespace {

struct FileAt {
    int folder;
    std::string name;
};
struct Path {
    std::string path;
};
struct Group {
    pid_t leader;
};
struct Undo {
    std::function<void()> run;
};
using Item = std::variant<FileAt, Path, Group, Undo>;

// Recursive, so that what is removed under a hold can be forgotten under the same hold.
struct Registry {
    std::recursive_mutex lock;
    std::map<uint64_t, Item> items;
    uint64_t next = 1;
};

// Never destroyed: the watching thread, and threads still running while the process exits,
// may reach it after static destruction.
Registry& registry() {
    static Registry* const instance = new Registry;
    return *instance;
}

// SIGKILL ends a process at once unless it is stuck in the kernel, where no wait helps.
constexpr auto kReapPatience = std::chrono::seconds(2);

template <class Kind, class Step> void each(const std::map<uint64_t, Item>& items, Step step) {
    for (const auto& [id, item] : items)
        if (const Kind* k = std::get_if<Kind>(&item)) step(*k);
}

// Waits (briefly) for the killed group's members that are this process's children (the
// leader, and what it started once handed over to this process), so that they are gone,
// not zombies, when the process ends; another thread may have reaped some already.
void reap(pid_t leader, std::chrono::steady_clock::time_point until) {
    for (;;) {
        const pid_t r = ::waitpid(-leader, nullptr, WNOHANG);
        if (r > 0 || (r < 0 && errno == EINTR)) continue;
        if (r < 0 || std::chrono::steady_clock::now() >= until) return; // none left
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// Processes first, so that no converter writes into a folder while it is being removed.
// `reapLeaders` only when the process ends next: otherwise the thread that started a
// leader reaps it, and its group id stays reserved until then.
void removeAll(Registry& r, bool reapLeaders) {
    each<Group>(r.items, [](const Group& g) { ::kill(-g.leader, SIGKILL); });
    if (reapLeaders) {
        const auto until = std::chrono::steady_clock::now() + kReapPatience;
        each<Group>(r.items, [&](const Group& g) { reap(g.leader, until); });
    }
    each<Undo>(r.items, [](const Undo& u) {
        try {
            u.run();
        } catch (...) {
        }
    });
    each<FileAt>(r.items, [](const FileAt& f) { ::unlinkat(f.folder, f.name.c_str(), 0); });
    each<Path>(r.items, [](const Path& p) {
        std::error_code ignored;
        std::filesystem::remove_all(p.path, ignored);
    });
}

void writeAll(int fd, const std::string& text) {
    const char* at = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, at, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        at += n;
        left -= static_cast<size_t>(n);
    }
}

// A command that ends itself gracefully on these signals (an audition puts a device's rate
// back) takes them while it runs.
std::mutex interceptorLock;
std::function<bool(int)> interceptor;

bool intercepted(int signal) {
    std::lock_guard guard(interceptorLock);
    return interceptor && interceptor(signal);
}

[[noreturn]] void watch(sigset_t signals, const std::string& message) {
    int signal = 0;
    for (;;) {
        if (::sigwait(&signals, &signal) == 0 && !intercepted(signal)) break;
    }
    Registry& r = registry();
    r.lock.lock(); // never released: every later hold waits until the process has ended
    removeAll(r, true);
    writeAll(STDERR_FILENO, message);
    ::_exit(128 + signal);
}

uint64_t add(Item item) {
    Registry& r = registry();
    std::lock_guard guard(r.lock);
    const uint64_t id = r.next++;
    r.items.emplace(id, std::move(item));
    return id;
}

} // namespace

InterruptCleanup::Interception::Interception(std::function<bool(int)> take) {
    std::lock_guard guard(interceptorLock);
    interceptor = std::move(take);
}

InterruptCleanup::Interception::~Interception() {
    std::lock_guard guard(interceptorLock);
    interceptor = nullptr;
}

CleanupEntry& CleanupEntry::operator=(CleanupEntry&& other) noexcept {
    if (this != &other) {
        reset();
        id_ = other.id_;
        other.id_ = 0;
    }
    return *this;
}

void CleanupEntry::reset() noexcept {
    if (id_ == 0) return;
    Registry& r = registry();
    std::lock_guard guard(r.lock);
    r.items.erase(id_);
    id_ = 0;
}

CleanupHold::CleanupHold() {
    registry().lock.lock();
}

CleanupHold::~CleanupHold() {
    registry().lock.unlock();
}

CleanupEntry CleanupHold::file(int folder, const std::string& name) {
    return CleanupEntry(add(FileAt{folder, name}));
}

CleanupEntry CleanupHold::path(const std::string& path) {
    return CleanupEntry(add(Path{path}));
}

CleanupEntry CleanupHold::processGroup(pid_t leader) {
    return CleanupEntry(add(Group{leader}));
}

CleanupEntry CleanupHold::action(std::function<void()> undo) {
    return CleanupEntry(add(Undo{std::move(undo)}));
}

namespace InterruptCleanup {

void install(const std::string& message) {
    static std::once_flag once;
    std::call_once(once, [&] {
        ::signal(SIGXFSZ, SIG_IGN);
        sigset_t watched;
        sigemptyset(&watched);
        for (const int s : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction current {};
            const bool ignored = ::sigaction(s, nullptr, &current) == 0 &&
                                 !(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_IGN;
            if (!ignored) sigaddset(&watched, s);
        }
        ::pthread_sigmask(SIG_BLOCK, &watched, nullptr);
        std::thread(watch, watched, message).detach();
    });
}

void removeLeftovers() {
    Registry& r = registry();
    std::lock_guard guard(r.lock);
    removeAll(r, false);
    r.items.clear();
}

} // namespace InterruptCleanup

} // namespace sonteva
