#pragma once
// Runs an executable as a child process, without a shell: standard input from /dev/null,
// standard output and standard error captured through pipes and drained together, so a
// chatty child never stalls on a full pipe, and a time limit after which the child is
// killed and reaped, so a child that never ends cannot hold its caller forever. The child
// leads a process group of its own: when it ends, times out or the run is interrupted,
// the whole group is killed, and nothing it started (and that holds its pipes) keeps the
// caller waiting. A stop request ends the wait at once, in the same way as a time-out.
#include <stop_token>
#include <string>
#include <vector>

namespace sonteva {

struct ChildOutcome {
    enum class End { exited, signalled, timedOut, stopped };
    End end = End::exited;
    // The exit status, or the number of the signal that ended the child.
    int status = 0;
    // What the child wrote on standard error (the first MiB; the rest is drained and
    // dropped). Standard output is drained and dropped.
    std::string standardError;
};

// Throws AudioError with the platform's text when the child cannot be started.
// A request on `stop` kills the child's group and ends with End::stopped.
ChildOutcome runChild(const std::string& executable, const std::vector<std::string>& arguments,
                      double timeLimitSeconds, std::stop_token stop = {});

} // namespace sonteva
