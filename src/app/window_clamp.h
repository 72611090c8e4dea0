#pragma once
// Keeps the main window usable on small screens: its minimum content size is the intended
// minimum cut to the screen's available area, and a window that is too small grows (or one
// that is too big shrinks) to fit, keeping its top edge as far as the screen allows.
#include <QRect>
#include <QSize>

#include <optional>

class QWidget;

namespace sonteva {

struct ClampResult {
    QSize minimumContent;
    std::optional<QRect> frame; // the new frame, when it changes
};

// visible: the screen's available area; frame: the window's frame; decoration: what the
// frame adds to the content (title bar, borders, menu bar).
ClampResult clampWindow(const QRect& visible, const QRect& frame, const QSize& decoration,
                        const QSize& minimumContent);

// Applies the clamp to a shown top-level window whose central content has the given
// minimum; without a screen it does nothing.
void clampToScreen(QWidget& window, QWidget& content, const QSize& minimumContent);

} // namespace sonteva
