#pragma once
// A one-line progress bar on standard error, drawn only when standard error is a
// terminal, redrawn at most ten times a second and erased before the job's line.
#include <QString>

#include <chrono>

namespace sonteva::cli {

class ProgressBar {
public:
    explicit ProgressBar(bool enabled);
    void start(const QString& label);
    void update(double progress); // 0...1; safe to call from any single thread at a time
    void clear();

private:
    void draw(double progress);
    bool enabled_;
    QString label_;
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point lastDraw_;
    bool drawn_ = false;
};

} // namespace sonteva::cli
