#pragma once
// What an interrupted run must not leave behind: hidden temporary outputs, the converter's
// work folders and its process groups, preview renders. Each is registered in the same
// step that creates it, so there is no moment at which it exists unknown. On SIGINT,
// SIGTERM or SIGHUP a dedicated thread kills and reaps the registered process groups,
// removes the registered files and folders, writes the message and ends the process with
// 128 + the signal's number. While it does, every new registration waits, so nothing new
// appears behind its back.
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>

namespace sonteva {

// One registration. Destroying or resetting it forgets it (nothing is removed); whoever
// made the thing removes it and then forgets it under a CleanupHold.
class CleanupEntry {
public:
    CleanupEntry() = default;
    ~CleanupEntry() { reset(); }
    CleanupEntry(CleanupEntry&& other) noexcept : id_(other.id_) { other.id_ = 0; }
    CleanupEntry& operator=(CleanupEntry&& other) noexcept;
    CleanupEntry(const CleanupEntry&) = delete;
    CleanupEntry& operator=(const CleanupEntry&) = delete;

    void reset() noexcept;
    explicit operator bool() const { return id_ != 0; }

private:
    friend class CleanupHold;
    explicit CleanupEntry(uint64_t id) : id_(id) {}
    uint64_t id_ = 0;
};

// While a hold lives, an interrupt's cleanup waits for it: what is created and registered
// (or removed and forgotten) under one hold is, for the cleanup, either all done or not
// begun. Keep the work under a hold short (one openat, rename or spawn). Holds nest within
// a thread. Once a cleanup has begun, a new hold blocks until the process has ended.
class CleanupHold {
public:
    CleanupHold();
    ~CleanupHold();
    CleanupHold(const CleanupHold&) = delete;
    CleanupHold& operator=(const CleanupHold&) = delete;

    // The file `name` in the folder `folder` refers to; the handle must stay open for as
    // long as the entry is registered.
    CleanupEntry file(int folder, const std::string& name);
    // A file, or a folder with its contents, by path.
    CleanupEntry path(const std::string& path);
    // The process group `leader` leads: killed as a whole, and those of its members that
    // are this process's children reaped.
    CleanupEntry processGroup(pid_t leader);
    // Anything else to undo (a terminal's settings); runs before files are removed.
    CleanupEntry action(std::function<void()> undo);
};

namespace InterruptCleanup {

// Called first in main, before any other thread exists: blocks SIGINT, SIGTERM and SIGHUP
// in this thread and so in every thread started later (one the caller's parent ignores,
// as nohup does SIGHUP, stays ignored), ignores SIGXFSZ so that a file-size limit fails the
// write with EFBIG instead of killing the process, and starts the thread that waits for
// them. `message` goes to standard error on an interrupt.
void install(const std::string& message);

// While it lives, the signals go to `take` first (on the watching thread; it must only hand
// them on, e.g. to an event loop), and an interrupt that it takes (returns true for) is
// left to the program, which ends itself. There is at most one.
class Interception {
public:
    explicit Interception(std::function<bool(int)> take);
    ~Interception();
    Interception(const Interception&) = delete;
    Interception& operator=(const Interception&) = delete;
};

// At the end of a normal run whatever is still registered is a leftover no one else will
// remove (a render cached for the process): removes it all and forgets it.
void removeLeftovers();

} // namespace InterruptCleanup

} // namespace sonteva
