#pragma once
// The transport bar's output-device rate indicator: a dot and the device rate, amber when
// the sound server would resample the preview on its way out. What it says comes from
// SampleRateIndicator; this view only draws it and reports clicks that can switch the
// device to the preview's rate.
#include "preview/sample_rate_indicator.h"

#include <QWidget>

#include <optional>

namespace sonteva {

class AudioDeviceManager;

class RateIndicator : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 40;
    static constexpr int kDot = 5;
    static constexpr int kSpacing = 4;
    static constexpr int kTextPixels = 10;

    explicit RateIndicator(AudioDeviceManager& devices, QWidget* parent = nullptr);

    // The rate the preview produces (the target rate of the job concerned); none without one.
    void setOutputRate(std::optional<int> outputFs);
    std::optional<int> outputRate() const { return outputFs_; }

    const SampleRateIndicator::State& state() const { return state_; }
    QString text() const { return state_.text; }
    bool canMatch() const { return state_.clickMatches; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

Q_SIGNALS:
    // A click while the device can be switched to the preview's rate.
    void matchRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void refresh();

    AudioDeviceManager& devices_;
    std::optional<int> outputFs_;
    SampleRateIndicator::State state_;
};

} // namespace sonteva
