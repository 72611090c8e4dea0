#pragma once
// The audition transport under the batch queue: play/pause, stop, the position slider with
// its elapsed/remaining readout, the time-lock pin, the monitor volume knob and the output
// device's rate indicator. It drives the preview player and the state object and keeps only
// view-local state: the slider drag and whether the readout shows the remaining time.
#include <QWidget>

#include <memory>
#include <optional>

class QAbstractButton;
class QLabel;
class QSettings;
class QSlider;
class QToolButton;

namespace sonteva {

class AppViewModel;
class AudioDeviceManager;
class PreviewPlayer;
class RateIndicator;
class VolumeKnob;
struct ConversionJob;

class TransportBar : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* kShowsRemainingKey = "sonteva.transportShowsRemaining";
    static constexpr int kButtonFrame = 24;
    static constexpr int kReadoutPixels = 11;
    static constexpr int kPinPixels = 11;

    TransportBar(AppViewModel& vm, PreviewPlayer& player, AudioDeviceManager& devices,
                 QWidget* parent = nullptr);
    ~TransportBar() override;

    // The store of the readout mode (null: the per-user store, organisation and application
    // "Sonteva", as the state object uses). The mode is read again from it.
    void useSettings(QSettings* settings);

    bool showsRemaining() const { return showsRemaining_; }
    // Flips the readout between elapsed and remaining and stores the choice.
    void toggleReadoutMode();

    bool isDraggingSlider() const { return dragTime_.has_value(); }
    std::optional<double> dragTime() const { return dragTime_; }

    // "%d:%02d.%d": 83.46 s reads 1:23.4. Negative times read 0:00.0.
    static QString formatTime(double seconds);
    // The readout's text for a position: elapsed, or the time left (never below zero).
    static QString readoutText(double position, double duration, bool remaining);

    // The parts, for the window's layout and for tests.
    QAbstractButton* playPauseButton() const;
    QAbstractButton* stopButton() const;
    QSlider* positionSlider() const { return slider_; }
    QLabel* readout() const;
    QAbstractButton* pinButton() const;
    VolumeKnob* volumeKnob() const { return knob_; }
    RateIndicator* rateIndicator() const { return indicator_; }

private:
    class Readout;

    void buildLayout();
    void connectPlayer();
    void connectModel();
    void connectControls();
    void updatePlayState();
    void updatePosition();
    void updateReadout();
    void updatePin();
    void updateOutputRate();
    void togglePin();
    double shownPosition() const;
    const ConversionJob* selectedJob() const;

    AppViewModel& vm_;
    PreviewPlayer& player_;
    std::unique_ptr<QSettings> ownSettings_;
    QSettings* settings_ = nullptr;

    QToolButton* playPause_ = nullptr;
    QToolButton* stop_ = nullptr;
    QSlider* slider_ = nullptr;
    Readout* readout_ = nullptr;
    QToolButton* pin_ = nullptr;
    VolumeKnob* knob_ = nullptr;
    RateIndicator* indicator_ = nullptr;

    bool showsRemaining_ = false;
    std::optional<double> dragTime_; // set while the slider is dragged
};

} // namespace sonteva
