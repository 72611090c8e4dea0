#include "ui/volume_knob.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sonteva {

namespace {

double clamp01(double v) {
    return std::clamp(v, 0.0, 1.0);
}

// The pointer sweeps 270 degrees, from -135 (silence) to +135 (full), 0 pointing up.
constexpr double kSweepDegrees = 270.0;

} // namespace

VolumeKnob::VolumeKnob(QWidget* parent) : QWidget(parent) {
    setToolTip(QStringLiteral("Monitor volume — scroll or drag to adjust, double-click to reset"));
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::SizeVerCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    scrollCommit_.setSingleShot(true);
    scrollCommit_.setInterval(kScrollCommitMs);
    connect(&scrollCommit_, &QTimer::timeout, this, &VolumeKnob::commitLive);
}

void VolumeKnob::setValue(double value) {
    value = clamp01(value);
    if (value == value_) return;
    value_ = value;
    update();
}

void VolumeKnob::setDiameter(int points) {
    diameter_ = std::max(8, points);
    updateGeometry();
    update();
}

QSize VolumeKnob::sizeHint() const {
    return {diameter_ + 2, diameter_ + 2};
}

void VolumeKnob::setLive(double value) {
    liveValue_ = clamp01(value);
    update();
    Q_EMIT liveValueChanged(*liveValue_);
}

void VolumeKnob::commitLive() {
    scrollCommit_.stop();
    if (!liveValue_) return;
    const double committed = *std::exchange(liveValue_, std::nullopt);
    value_ = committed;
    update();
    Q_EMIT valueCommitted(committed);
}

void VolumeKnob::dragBy(double dy) {
    if (!dragStartValue_) dragStartValue_ = value_;
    if (std::abs(dy) <= kDeadZone) return;
    Q_EMIT manualChangeStarted();
    const double beyond = dy - std::copysign(kDeadZone, dy);
    setLive(*dragStartValue_ - beyond / kFullRangePoints);
}

void VolumeKnob::scrollBy(double delta) {
    if (!isEnabled() || delta == 0) return;
    Q_EMIT manualChangeStarted();
    setLive(displayedValue() + delta);
    scrollCommit_.start(); // restarts: a burst commits once, after its last event
}

void VolumeKnob::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    // A scroll still waiting to commit is folded into the drag's starting point.
    commitLive();
    pressY_ = event->position().y();
    dragStartValue_ = value_;
    event->accept();
}

void VolumeKnob::mouseMoveEvent(QMouseEvent* event) {
    if (!pressY_ || !(event->buttons() & Qt::LeftButton)) return QWidget::mouseMoveEvent(event);
    dragBy(event->position().y() - *pressY_);
    event->accept();
}

void VolumeKnob::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !pressY_) return QWidget::mouseReleaseEvent(event);
    commitLive();
    pressY_.reset();
    dragStartValue_.reset();
    event->accept();
}

void VolumeKnob::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mouseDoubleClickEvent(event);
    scrollCommit_.stop();
    liveValue_.reset();
    dragStartValue_.reset();
    pressY_.reset(); // the second press is not the start of a drag
    value_ = 1.0;
    update();
    Q_EMIT doubleClicked();
    Q_EMIT valueCommitted(1.0);
    event->accept();
}

void VolumeKnob::wheelEvent(QWheelEvent* event) {
    // Trackpads report pixel deltas; a mouse wheel reports notches of 120 eighths of a degree.
    const QPoint pixels = event->pixelDelta();
    const double delta = !pixels.isNull() ? pixels.y() * kPreciseScrollScale
                                          : event->angleDelta().y() / 120.0 * kWheelScrollScale;
    event->accept();
    scrollBy(delta);
}

void VolumeKnob::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    const double d = diameter_;
    const QRectF body((width() - d) / 2.0, (height() - d) / 2.0, d, d);
    const bool enabled = isEnabled();

    // Body: a softly lit disc with a thin rim.
    QLinearGradient shade(body.topLeft(), body.bottomLeft());
    shade.setColorAt(0, pal.color(QPalette::Button).lighter(135));
    shade.setColorAt(1, pal.color(QPalette::Button).darker(125));
    p.setPen(QPen(pal.color(QPalette::Shadow), 1));
    p.setBrush(shade);
    p.drawEllipse(body.adjusted(0.5, 0.5, -0.5, -0.5));

    // Travel arc behind the pointer, filled up to the shown value.
    const QRectF arc = body.adjusted(2.5, 2.5, -2.5, -2.5);
    const double shown = displayedValue();
    const int start16 = int((90 + kSweepDegrees / 2) * 16); // Qt measures counter-clockwise
    QColor accent = pal.color(QPalette::Highlight);
    if (!enabled) accent = pal.color(QPalette::Disabled, QPalette::Text);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(accent, 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(arc, start16, -int(shown * kSweepDegrees * 16));

    // Pointer from near the centre towards the rim.
    const double angle = (-kSweepDegrees / 2 + shown * kSweepDegrees) * std::numbers::pi / 180.0;
    const QPointF centre = body.center();
    const double r = d / 2.0;
    const QPointF dir(std::sin(angle), -std::cos(angle));
    p.setPen(
        QPen(enabled ? pal.color(QPalette::BrightText) : accent, 1.8, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(centre + dir * (r * 0.2), centre + dir * (r * 0.62));
}

} // namespace sonteva
