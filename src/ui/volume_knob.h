#pragma once
// The rotary monitor-volume knob. Dragging vertically or scrolling changes a live value
// that is reported at once (for the player's output volume) and committed only when the
// gesture ends: at mouse release, or 0.12 s after the last scroll event, so the persisted
// volume is written once per gesture rather than for every intermediate step.
#include <QTimer>
#include <QWidget>

#include <optional>

namespace sonteva {

class VolumeKnob : public QWidget {
    Q_OBJECT
public:
    // Points of vertical travel ignored at the start of a drag, so a click does not nudge it.
    static constexpr double kDeadZone = 2.0;
    // Points of travel beyond the dead zone that cover the whole range.
    static constexpr double kFullRangePoints = 190.0;
    // Scroll scaling: per pixel of a precise (trackpad) delta, and per wheel notch.
    static constexpr double kPreciseScrollScale = 0.0004;
    static constexpr double kWheelScrollScale = 0.009;
    static constexpr int kScrollCommitMs = 120;
    static constexpr int kDefaultDiameter = 22;

    explicit VolumeKnob(QWidget* parent = nullptr);

    // The committed value, 0...1. Setting it from the model neither emits nor disturbs a
    // gesture in progress (the drawing keeps showing the live value until it commits).
    double value() const { return value_; }
    void setValue(double value);
    // The value of a gesture in progress, not yet committed.
    std::optional<double> liveValue() const { return liveValue_; }
    // What the pointer shows: the live value when there is one, else the committed one.
    double displayedValue() const { return liveValue_.value_or(value_); }

    int diameter() const { return diameter_; }
    void setDiameter(int points);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

Q_SIGNALS:
    // The user started changing the value by hand (emitted for every step of a gesture).
    void manualChangeStarted();
    // Every intermediate value of a drag or scroll.
    void liveValueChanged(double value);
    // The end of a gesture, or a double-click reset (1.0).
    void valueCommitted(double value);
    // A double click; the knob has already reset itself to 1.0 and committed it.
    void doubleClicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void dragBy(double dy);
    void scrollBy(double delta);
    void setLive(double value);
    void commitLive();

    double value_ = 1.0;
    int diameter_ = kDefaultDiameter;
    std::optional<double> liveValue_;
    std::optional<double> dragStartValue_;
    std::optional<double> pressY_;
    QTimer scrollCommit_;
};

} // namespace sonteva
