#include "ui/rate_indicator.h"

#include "preview/audio_device_manager.h"

#include <QFontDatabase>
#include <QMouseEvent>
#include <QPainter>

namespace sonteva {

namespace {

QColor toQColor(const SampleRateIndicator::Colour& c) {
    return QColor::fromRgbF(float(c.red), float(c.green), float(c.blue), float(c.alpha));
}

} // namespace

RateIndicator::RateIndicator(AudioDeviceManager& devices, QWidget* parent)
    : QWidget(parent), devices_(devices) {
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPixelSize(kTextPixels);
    mono.setWeight(QFont::Normal);
    setFont(mono);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::NoFocus);
    connect(&devices_, &AudioDeviceManager::deviceRateChanged, this, &RateIndicator::refresh);
    connect(&devices_, &AudioDeviceManager::rateStateChanged, this, &RateIndicator::refresh);
    refresh();
}

void RateIndicator::setOutputRate(std::optional<int> outputFs) {
    if (outputFs == outputFs_) return;
    outputFs_ = outputFs;
    refresh();
}

void RateIndicator::refresh() {
    state_ = SampleRateIndicator::state(devices_.deviceRate(), outputFs_, devices_.rateIsSettable(),
                                        devices_.availableRates());
    setToolTip(state_.toolTip);
    // Only a click that can switch the device looks clickable.
    setCursor(state_.clickMatches ? Qt::PointingHandCursor : Qt::ArrowCursor);
    update();
}

QSize RateIndicator::sizeHint() const {
    return {kWidth, std::max(kDot, fontMetrics().height())};
}

void RateIndicator::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF dot(0, (height() - kDot) / 2.0, kDot, kDot);
    p.setPen(Qt::NoPen);
    p.setBrush(toQColor(SampleRateIndicator::dotColour(state_.tone)));
    p.drawEllipse(dot);
    p.setPen(toQColor(SampleRateIndicator::textColour(state_.tone)));
    p.setFont(font());
    const QRect textRect(kDot + kSpacing, 0, width() - kDot - kSpacing, height());
    p.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, state_.text);
}

void RateIndicator::mousePressEvent(QMouseEvent* event) {
    // Accepted so that the release comes back here.
    if (event->button() == Qt::LeftButton)
        event->accept();
    else
        QWidget::mousePressEvent(event);
}

void RateIndicator::mouseReleaseEvent(QMouseEvent* event) {
    // The whole frame is the target; anywhere else the press was abandoned.
    if (event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint()))
        return QWidget::mouseReleaseEvent(event);
    event->accept();
    if (state_.clickMatches) Q_EMIT matchRequested();
}

} // namespace sonteva
