#include "app/event_monitors.h"

#include "model/app_view_model.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace sonteva {

EventMonitors::EventMonitors(QObject* parent) : QObject(parent) {}

EventMonitors::~EventMonitors() {
    if (installed_ && qApp) qApp->removeEventFilter(this);
}

void EventMonitors::install(AppViewModel& vm) {
    if (installed_) return;
    installed_ = true;
    vm_ = &vm;
    qApp->installEventFilter(this);
}

bool EventMonitors::isTextField(const QWidget* widget) {
    if (!widget) return false;
    if (const auto* line = qobject_cast<const QLineEdit*>(widget)) return !line->isReadOnly();
    if (const auto* text = qobject_cast<const QTextEdit*>(widget)) return !text->isReadOnly();
    if (const auto* plain = qobject_cast<const QPlainTextEdit*>(widget))
        return !plain->isReadOnly();
    return qobject_cast<const QAbstractSpinBox*>(widget) != nullptr;
}

bool EventMonitors::eventFilter(QObject*, QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress:
        return onKeyPress(event);
    case QEvent::MouseButtonPress:
        onMousePress(event);
        return false;
    default:
        return false;
    }
}

bool EventMonitors::onKeyPress(QEvent* event) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_Space) return false;
    // An open list (a combo box's popup) takes its own keys.
    if (QApplication::activePopupWidget()) return false;
    if (isTextField(QApplication::focusWidget())) return false;
    // Holding the key down toggles once, not at the keyboard's repeat rate.
    if (vm_ && !key->isAutoRepeat()) vm_->togglePlayPause();
    return true;
}

void EventMonitors::onMousePress(QEvent* event) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton && mouse->button() != Qt::RightButton) return;
    if (QApplication::activePopupWidget()) return;
    QWidget* editor = QApplication::focusWidget();
    if (!isTextField(editor)) return;
    const QRect bounds(editor->mapToGlobal(QPoint(0, 0)), editor->size());
    if (!bounds.contains(mouse->globalPosition().toPoint())) editor->clearFocus();
}

} // namespace sonteva
