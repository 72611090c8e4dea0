#include "engines/system_log.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <syslog.h>

namespace sonteva {

namespace {
std::mutex& logMutex() {
    static std::mutex m;
    return m;
}
std::function<void(const std::string&)>& sinkSlot() {
    static std::function<void(const std::string&)> sink;
    return sink;
}
std::atomic<bool> echo{false};
} // namespace

void systemLog(const std::string& line) {
    std::lock_guard lock(logMutex());
    if (auto& sink = sinkSlot()) {
        sink(line);
        return;
    }
    static const bool opened = [] {
        openlog("sonteva", LOG_PID, LOG_USER);
        return true;
    }();
    (void)opened;
    syslog(LOG_NOTICE, "%s", line.c_str());
    // On a terminal every message of the command line begins "sonteva: "; the log keeps
    // the designed text.
    if (echo.load()) {
        const bool designed = line.rfind("Sonteva: ", 0) == 0;
        std::fprintf(stderr, "sonteva: %s\n", line.c_str() + (designed ? 9 : 0));
    }
}

void setLogEcho(bool echoToStderr) {
    echo.store(echoToStderr);
}

void setLogSink(std::function<void(const std::string&)> sink) {
    std::lock_guard lock(logMutex());
    sinkSlot() = std::move(sink);
}

} // namespace sonteva
