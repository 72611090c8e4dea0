#pragma once
// A one-line progress bar on standard error, drawn only when standard error is a
// terminal, at most ten times a second, and erased before the job's line.
#include <QString>

#include <chrono>

namespace sonteva::cli {

class ProgressBar {
public:
    explicit ProgressBar(bool enabled);
    void show(const QString& label, double progress, double elapsed);
    void clear();

private:
    bool enabled_;
    std::chrono::steady_clock::time_point lastDraw_;
    bool drawn_ = false;
};

} // namespace sonteva::cli
