#pragma once
// Keeps the main window whole on small screens. Everything it occupies counts: the window
// manager's frame (title bar, borders) and the menu bar come on top of the content, and
// the whole frame must fit the screen's available area (what panels and docks leave).
// The content's minimum is the intended minimum cut to what remains (the source and
// queue lists give up their height first), and a window that is too small grows (or one
// that is too big shrinks) to fit, keeping its top edge as far as the screen allows.
#include <QMargins>
#include <QRect>
#include <QSize>

#include <optional>

class QMainWindow;

namespace sonteva {

struct ClampResult {
    QSize minimumContent;
    std::optional<QRect> frame; // the new outer frame, when it changes
};

// available: the screen's available area; frame: the window's outer frame (what the window
// manager draws included); frameMargins: what the window manager adds around the window;
// menuBar: the menu bar's height, between the frame and the content.
ClampResult clampWindow(const QRect& available, const QRect& frame, const QMargins& frameMargins,
                        int menuBar, const QSize& minimumContent);

// Fits a main window to its screen now, and again whenever what it depends on changes:
// the window manager's frame (known only once the window is mapped), the screen the
// window is on, or that screen's available area. The fitter lives as long as the window.
void keepOnScreen(QMainWindow& window, const QSize& minimumContent);

// One fit of a shown main window, as keepOnScreen does it; without a screen it does nothing.
void clampToScreen(QMainWindow& window, const QSize& minimumContent);

} // namespace sonteva
