#include "cli/progress_bar.h"

#include <cstdio>
#include <unistd.h>

namespace sonteva::cli {

ProgressBar::ProgressBar(bool enabled) : enabled_(enabled && ::isatty(STDERR_FILENO)) {}

void ProgressBar::show(const QString& label, double progress, double elapsed) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (drawn_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    constexpr int width = 30;
    const int filled = static_cast<int>(progress * width + 0.5);
    const QByteArray bar = QByteArray(filled, '#') + QByteArray(width - filled, '.');
    std::fprintf(stderr, "\r\033[K[%s] %3d%%  %.1f s  %s", bar.constData(),
                 static_cast<int>(progress * 100), elapsed, label.toLocal8Bit().constData());
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
