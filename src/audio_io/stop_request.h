#pragma once
// Stopping a conversion at the user's request. The request travels as a std::stop_token;
// the work looks at it between its steps (a block, a whole-file stage, the wait for a
// child process) and leaves by throwing StopRequested, so that everything it created
// (a temporary output, a work folder, a child's process group) is undone on the way out
// exactly as for a failure, and the caller can tell the stop from a failure.
#include <stdexcept>
#include <stop_token>

namespace sonteva {

class StopRequested : public std::runtime_error {
public:
    StopRequested() : std::runtime_error("Stopped at the user's request") {}
};

inline void throwIfStopped(const std::stop_token& stop) {
    if (stop.stop_requested()) throw StopRequested();
}

} // namespace sonteva
