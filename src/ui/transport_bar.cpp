#include "ui/transport_bar.h"

#include "model/app_view_model.h"
#include "preview/audio_device_manager.h"
#include "preview/preview_player.h"
#include "ui/rate_indicator.h"
#include "ui/volume_knob.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSettings>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QToolButton>

#include <algorithm>
#include <cmath>
#include <functional>

namespace sonteva {

namespace {

enum class Symbol { play, pause, stop, pin };

// The transport's glyphs, drawn at `size` points in `tint`, centred in the button frame.
void drawSymbol(QPainter& p, Symbol symbol, const QRectF& box) {
    const double s = box.width();
    const QPointF o = box.topLeft();
    switch (symbol) {
    case Symbol::play: {
        QPainterPath path;
        path.moveTo(o + QPointF(0.12 * s, 0.02 * s));
        path.lineTo(o + QPointF(0.95 * s, 0.5 * s));
        path.lineTo(o + QPointF(0.12 * s, 0.98 * s));
        path.closeSubpath();
        p.drawPath(path);
        break;
    }
    case Symbol::pause:
        p.drawRoundedRect(QRectF(o + QPointF(0.12 * s, 0.04 * s), QSizeF(0.27 * s, 0.92 * s)), 1,
                          1);
        p.drawRoundedRect(QRectF(o + QPointF(0.61 * s, 0.04 * s), QSizeF(0.27 * s, 0.92 * s)), 1,
                          1);
        break;
    case Symbol::stop:
        p.drawRoundedRect(QRectF(o + QPointF(0.08 * s, 0.08 * s), QSizeF(0.84 * s, 0.84 * s)),
                          0.15 * s, 0.15 * s);
        break;
    case Symbol::pin: {
        // A push pin leaning to the right: round head, neck, collar, needle.
        p.translate(box.center());
        p.rotate(40);
        p.drawEllipse(QPointF(0, -0.3 * s), 0.2 * s, 0.17 * s);
        p.drawRect(QRectF(-0.09 * s, -0.2 * s, 0.18 * s, 0.1 * s));
        p.drawRoundedRect(QRectF(-0.3 * s, -0.12 * s, 0.6 * s, 0.12 * s), 0.05 * s, 0.05 * s);
        p.drawRect(QRectF(-0.045 * s, 0.0, 0.09 * s, 0.5 * s));
        break;
    }
    }
}

QIcon symbolIcon(Symbol symbol, int size, const QColor& tint, qreal dpr) {
    QPixmap pixmap(QSize(size, size) * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(tint);
    drawSymbol(p, symbol, QRectF(0, 0, size, size));
    return QIcon(pixmap);
}

// A plain symbol button in a 24 x 24 frame that never takes keyboard focus (the space bar
// belongs to play/pause everywhere).
QToolButton* transportButton(QWidget* parent, int size) {
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setFixedSize(TransportBar::kButtonFrame, TransportBar::kButtonFrame);
    button->setIconSize(QSize(size, size));
    return button;
}

// Clicking the track jumps there and keeps dragging from that point, instead of paging.
class SeekSlider : public QSlider {
public:
    explicit SeekSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton) {
            QStyleOptionSlider opt;
            initStyleOption(&opt);
            const QRect handle =
                style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
            if (!handle.contains(event->position().toPoint())) {
                const QRect groove =
                    style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, this);
                const int span = groove.width() - handle.width();
                const int x = int(event->position().x()) - groove.x() - handle.width() / 2;
                setSliderPosition(QStyle::sliderValueFromPosition(minimum(), maximum(), x, span));
            }
        }
        QSlider::mousePressEvent(event);
    }
};

constexpr double kSliderUnitsPerSecond = 1000.0;

int sliderUnits(double seconds) {
    return int(std::lround(std::clamp(seconds, 0.0, 2.0e6) * kSliderUnitsPerSecond));
}

QColor greyTint() {
    return QColor::fromRgbF(0.55f, 0.55f, 0.55f);
}
QColor lockTint() {
    return QColor::fromRgbF(1.0f, 149.0f / 255.0f, 0.0f);
}

} // namespace

// The readout is a label that reports clicks.
class TransportBar::Readout : public QLabel {
public:
    using QLabel::QLabel;
    std::function<void()> onClick;

protected:
    void mousePressEvent(QMouseEvent* event) override { event->accept(); }
    void mouseReleaseEvent(QMouseEvent* event) override {
        event->accept();
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
            onClick)
            onClick();
    }
};

TransportBar::TransportBar(AppViewModel& vm, PreviewPlayer& player, AudioDeviceManager& devices,
                           QWidget* parent)
    : QWidget(parent), vm_(vm), player_(player) {
    playPause_ = transportButton(this, 14);
    stop_ = transportButton(this, 12);
    slider_ = new SeekSlider(this);
    readout_ = new Readout(this);
    pin_ = transportButton(this, kPinPixels);
    knob_ = new VolumeKnob(this);
    indicator_ = new RateIndicator(devices, this);
    buildLayout();
    useSettings(nullptr);
    knob_->setValue(vm_.monitorVolume());
    connectPlayer();
    connectModel();
    connectControls();
    updatePlayState();
    updatePosition();
    updatePin();
    updateOutputRate();
}

TransportBar::~TransportBar() = default;

QAbstractButton* TransportBar::playPauseButton() const {
    return playPause_;
}
QAbstractButton* TransportBar::stopButton() const {
    return stop_;
}
QAbstractButton* TransportBar::pinButton() const {
    return pin_;
}
QLabel* TransportBar::readout() const {
    return readout_;
}

void TransportBar::buildLayout() {
    stop_->setIcon(
        symbolIcon(Symbol::stop, 12, palette().color(QPalette::WindowText), devicePixelRatioF()));
    QFont small = readout_->font();
    small.setPixelSize(kReadoutPixels);
    readout_->setFont(small);
    readout_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    readout_->setMinimumWidth(readout_->fontMetrics().horizontalAdvance(QStringLiteral("00:00.0")) +
                              4);
    readout_->setCursor(Qt::PointingHandCursor);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    row->addWidget(playPause_);
    row->addWidget(stop_);
    row->addWidget(slider_, 1);
    row->addWidget(readout_);
    row->addWidget(pin_);
    row->addSpacing(4);
    row->addWidget(knob_);
    row->addSpacing(4);
    row->addWidget(indicator_);
}

void TransportBar::connectPlayer() {
    connect(&player_, &PreviewPlayer::isPlayingChanged, this, &TransportBar::updatePlayState);
    connect(&player_, &PreviewPlayer::currentTimeChanged, this, &TransportBar::updatePosition);
    connect(&player_, &PreviewPlayer::durationChanged, this, &TransportBar::updatePosition);
    connect(&player_, &PreviewPlayer::isTimeLockedChanged, this, &TransportBar::updatePin);
}

void TransportBar::connectModel() {
    connect(&vm_, &AppViewModel::monitorVolumeChanged, this,
            [this] { knob_->setValue(vm_.monitorVolume()); });
    connect(&vm_, &AppViewModel::selectedBatchJobIdChanged, this, &TransportBar::updateOutputRate);
    connect(&vm_, &AppViewModel::batchJobsChanged, this, &TransportBar::updateOutputRate);
}

void TransportBar::connectControls() {
    connect(playPause_, &QToolButton::clicked, this, [this] { vm_.togglePlayPause(); });
    connect(stop_, &QToolButton::clicked, this, [this] { player_.stopTransport(true); });
    connect(slider_, &QSlider::sliderPressed, this, [this] {
        dragTime_ = slider_->sliderPosition() / kSliderUnitsPerSecond;
        updateReadout();
    });
    connect(slider_, &QSlider::sliderMoved, this, [this](int units) {
        dragTime_ = units / kSliderUnitsPerSecond;
        updateReadout();
    });
    connect(slider_, &QSlider::sliderReleased, this, [this] {
        if (const auto target = std::exchange(dragTime_, std::nullopt)) player_.seek(*target);
        updatePosition();
    });
    readout_->onClick = [this] { toggleReadoutMode(); };
    connect(pin_, &QToolButton::clicked, this, &TransportBar::togglePin);
    // Intermediate knob values are heard at once; only the committed one is stored.
    connect(knob_, &VolumeKnob::liveValueChanged, this,
            [this](double v) { player_.setVolume(double(float(std::clamp(v, 0.0, 1.0)))); });
    connect(knob_, &VolumeKnob::valueCommitted, this,
            [this](double v) { vm_.setMonitorVolume(v); });
    connect(knob_, &VolumeKnob::doubleClicked, this, [this] { player_.setVolume(1.0); });
    connect(indicator_, &RateIndicator::matchRequested, this, [this] { vm_.matchDeviceRate(); });
}

void TransportBar::useSettings(QSettings* settings) {
    if (!settings) {
        if (!ownSettings_)
            ownSettings_ =
                std::make_unique<QSettings>(QStringLiteral("Sonteva"), QStringLiteral("Sonteva"));
        settings = ownSettings_.get();
    }
    settings_ = settings;
    showsRemaining_ = settings_->value(kShowsRemainingKey, false).toBool();
    updateReadout();
}

void TransportBar::toggleReadoutMode() {
    showsRemaining_ = !showsRemaining_;
    settings_->setValue(kShowsRemainingKey, showsRemaining_);
    updateReadout();
}

QString TransportBar::formatTime(double seconds) {
    const double t = std::isfinite(seconds) ? std::max(seconds, 0.0) : 0.0;
    const auto whole = static_cast<long long>(t);
    const int tenths = int(std::fmod(t * 10.0, 10.0));
    return QString::asprintf("%d:%02d.%d", int(whole / 60), int(whole % 60), tenths);
}

QString TransportBar::readoutText(double position, double duration, bool remaining) {
    return formatTime(remaining ? std::max(duration - position, 0.0) : position);
}

double TransportBar::shownPosition() const {
    return dragTime_.value_or(player_.currentTime());
}

void TransportBar::updatePlayState() {
    const bool playing = player_.isPlaying();
    playPause_->setIcon(symbolIcon(playing ? Symbol::pause : Symbol::play, 14,
                                   palette().color(QPalette::WindowText), devicePixelRatioF()));
    playPause_->setAccessibleName(playing ? QStringLiteral("Pause") : QStringLiteral("Play"));
}

void TransportBar::updatePosition() {
    const double duration = player_.duration();
    slider_->setEnabled(duration > 0);
    if (!dragTime_) {
        slider_->setRange(0, sliderUnits(duration));
        slider_->setValue(sliderUnits(player_.currentTime()));
    }
    updateReadout();
}

void TransportBar::updateReadout() {
    readout_->setText(readoutText(shownPosition(), player_.duration(), showsRemaining_));
    readout_->setToolTip(showsRemaining_ ? QStringLiteral("Remaining — click for elapsed")
                                         : QStringLiteral("Elapsed — click for remaining"));
}

void TransportBar::updatePin() {
    const bool locked = player_.isTimeLocked();
    pin_->setIcon(
        symbolIcon(Symbol::pin, kPinPixels, locked ? lockTint() : greyTint(), devicePixelRatioF()));
    pin_->setToolTip(locked ? QStringLiteral("Start pinned — click to unpin")
                            : QStringLiteral("Pin the current position as the start"));
}

void TransportBar::togglePin() {
    if (player_.isTimeLocked()) {
        player_.setTimeLocked(false);
        return;
    }
    player_.setLockedTime(player_.currentTime());
    player_.setTimeLocked(true);
}

const ConversionJob* TransportBar::selectedJob() const {
    const auto& id = vm_.selectedBatchJobId();
    if (!id) return nullptr;
    const auto& jobs = vm_.batchJobs();
    const auto it =
        std::find_if(jobs.begin(), jobs.end(), [&](const ConversionJob& j) { return j.id == *id; });
    return it == jobs.end() ? nullptr : &*it;
}

void TransportBar::updateOutputRate() {
    const ConversionJob* job = selectedJob();
    indicator_->setOutputRate(job ? std::optional<int>(job->targetFs) : std::nullopt);
}

} // namespace sonteva
