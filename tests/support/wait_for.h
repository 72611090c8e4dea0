#pragma once
// Waiting on the owning thread while its events keep flowing: the player, the device
// manager and the window publish through queued calls.
#include <QCoreApplication>

#include <chrono>
#include <functional>
#include <thread>

namespace sonteva::test {

// Processes the owning thread's events until `done` holds; false after `ms` milliseconds.
inline bool waitFor(const std::function<bool()>& done, int ms = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        QCoreApplication::processEvents();
        if (done()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

} // namespace sonteva::test
