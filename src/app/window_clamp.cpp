#include "app/window_clamp.h"

#include <QEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QMainWindow>
#include <QMenuBar>
#include <QPointer>
#include <QScreen>
#include <QWindow>

#include <algorithm>

namespace sonteva {

ClampResult clampWindow(const QRect& available, const QRect& frame, const QMargins& frameMargins,
                        int menuBar, const QSize& minimumContent) {
    const QSize decoration(frameMargins.left() + frameMargins.right(),
                           frameMargins.top() + frameMargins.bottom() + std::max(menuBar, 0));
    ClampResult result;
    result.minimumContent =
        minimumContent.boundedTo((available.size() - decoration).expandedTo(QSize(0, 0)));
    const QSize needed = result.minimumContent + decoration;
    const int height = std::min(available.height(), std::max(frame.height(), needed.height()));
    const int width = std::min(available.width(), std::max(frame.width(), needed.width()));
    const bool inside = available.contains(frame);
    if (width == frame.width() && height == frame.height() && inside) return result;

    // The top edge stays put where it can; the upper bounds first, then the lower ones.
    int y = frame.top();
    y = std::max(std::min(y, available.bottom() + 1 - height), available.top());
    int x = frame.left();
    x = std::max(std::min(x, available.right() + 1 - width), available.left());
    result.frame = QRect(x, y, width, height);
    return result;
}

namespace {

// What the window manager has put around the window so far (nothing before it is mapped,
// or without a window manager).
QMargins frameMarginsOf(const QWidget& window) {
    const QRect outer = window.frameGeometry();
    const QRect inner = window.geometry();
    return {inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
            outer.bottom() - inner.bottom()};
}

// Watches a main window for what the fit depends on, and fits it again when that changes.
class ScreenFitter : public QObject {
public:
    ScreenFitter(QMainWindow& window, const QSize& minimumContent)
        : QObject(&window), window_(window), minimumContent_(minimumContent) {
        window.installEventFilter(this);
        watchScreen();
        fit();
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
        case QEvent::Show:
        case QEvent::Move:
        case QEvent::Resize:
            // The window manager's frame arrives after mapping, as a move of the window.
            if (frameMarginsOf(window_) != margins_) fit();
            break;
        default:
            break;
        }
        return false;
    }

private:
    void watchScreen() {
        if (QWindow* handle = window_.windowHandle(); handle && !watchingHandle_) {
            watchingHandle_ = true;
            connect(handle, &QWindow::screenChanged, this, [this] {
                watchScreen();
                fit();
            });
        }
        QScreen* screen = window_.screen();
        if (screen == screen_) return;
        if (screen_) disconnect(screen_, nullptr, this, nullptr);
        screen_ = screen;
        if (screen_) connect(screen_, &QScreen::availableGeometryChanged, this, [this] { fit(); });
    }

    void fit() {
        watchScreen();
        if (!window_.isVisible()) return;
        margins_ = frameMarginsOf(window_);
        clampToScreen(window_, minimumContent_);
    }

    QMainWindow& window_;
    QSize minimumContent_;
    QMargins margins_{-1, -1, -1, -1};
    QPointer<QScreen> screen_;
    bool watchingHandle_ = false;
};

} // namespace

void keepOnScreen(QMainWindow& window, const QSize& minimumContent) {
    new ScreenFitter(window, minimumContent);
}

void clampToScreen(QMainWindow& window, const QSize& minimumContent) {
    QScreen* screen = window.screen();
    if (!screen) screen = QGuiApplication::primaryScreen();
    QWidget* content = window.centralWidget();
    if (!screen || !content) return;
    const QMargins margins = frameMarginsOf(window);
    const int menuBar = window.menuWidget() ? window.menuWidget()->sizeHint().height() : 0;
    const QRect frame = window.frameGeometry();
    const ClampResult clamp =
        clampWindow(screen->availableGeometry(), frame, margins, menuBar, minimumContent);
    content->setMinimumSize(clamp.minimumContent);
    // The window's own minimum follows at once, not at the next layout pass: the resize
    // below must not be held to the old one.
    if (window.layout()) window.layout()->activate();
    if (!clamp.frame) return;
    window.resize(clamp.frame->size().shrunkBy(margins));
    window.move(clamp.frame->topLeft());
}

} // namespace sonteva
