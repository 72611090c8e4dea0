#include "app/window_clamp.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace sonteva {

ClampResult clampWindow(const QRect& visible, const QRect& frame, const QSize& decoration,
                        const QSize& minimumContent) {
    ClampResult result;
    result.minimumContent = minimumContent.boundedTo(visible.size());
    const QSize needed = result.minimumContent + decoration;
    const int height = std::min(visible.height(), std::max(frame.height(), needed.height()));
    const int width = std::min(visible.width(), std::max(frame.width(), needed.width()));
    if (width == frame.width() && height == frame.height()) return result;

    // The top edge stays put where it can; the upper bounds first, then the lower ones.
    int y = frame.top();
    y = std::max(std::min(y, visible.bottom() + 1 - height), visible.top());
    int x = frame.left();
    x = std::max(std::min(x, visible.right() + 1 - width), visible.left());
    result.frame = QRect(x, y, width, height);
    return result;
}

void clampToScreen(QWidget& window, QWidget& content, const QSize& minimumContent) {
    QScreen* screen = window.screen();
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect frame = window.frameGeometry();
    const QSize decoration = frame.size() - content.size();
    const ClampResult clamp =
        clampWindow(screen->availableGeometry(), frame, decoration, minimumContent);
    content.setMinimumSize(clamp.minimumContent);
    if (!clamp.frame) return;
    const QSize frameExtra = frame.size() - window.size();
    window.resize(clamp.frame->size() - frameExtra);
    window.move(clamp.frame->topLeft());
}

} // namespace sonteva
