#include "cli/progress_bar.h"

#include <cstdio>
#include <unistd.h>

namespace sonteva::cli {

ProgressBar::ProgressBar(bool enabled) : enabled_(enabled && ::isatty(STDERR_FILENO)) {}

void ProgressBar::start(const QString& label) {
    label_ = label;
    started_ = std::chrono::steady_clock::now();
    lastDraw_ = {};
    draw(0.0);
}

void ProgressBar::update(double progress) {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastDraw_ < std::chrono::milliseconds(100)) return;
    draw(progress);
}

void ProgressBar::draw(double progress) {
    if (!enabled_) return;
    lastDraw_ = std::chrono::steady_clock::now();
    constexpr int width = 30;
    const int filled = static_cast<int>(progress * width + 0.5);
    const double elapsed = std::chrono::duration<double>(lastDraw_ - started_).count();
    const QByteArray bar = QByteArray(filled, '#') + QByteArray(width - filled, '.');
    std::fprintf(stderr, "\r\033[K[%s] %3d%%  %.1f s  %s", bar.constData(),
                 static_cast<int>(progress * 100), elapsed, label_.toLocal8Bit().constData());
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressBar::clear() {
    if (!enabled_ || !drawn_) return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    drawn_ = false;
}

} // namespace sonteva::cli
