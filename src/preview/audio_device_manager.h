#pragma once
// Keeps the list of output devices, routes the preview to the device the user picked (or
// to the system default), follows device changes made outside the application and watches
// the clock rate of the device in use, which it can switch to the preview's rate. One
// process-wide instance (shared()); everything runs on the main thread, where the backend
// delivers its listeners. The player is held weakly.
#include "model/preview_control.h"
#include "preview/device_backend.h"
#include "preview/output_routing.h"

#include <QObject>
#include <QSettings>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sonteva {

class AudioDeviceManager : public QObject, public OutputRateControl {
    Q_OBJECT
public:
    // The process-wide manager on the sound server, with the application's settings; made
    // on first use (on the main thread, after the application object exists).
    static AudioDeviceManager& shared();
    // settings: the per-user store (null: the application's default QSettings).
    AudioDeviceManager(std::shared_ptr<DeviceBackend> backend, QSettings* settings,
                       QObject* parent = nullptr);
    ~AudioDeviceManager() override;

    const std::vector<AudioOutputDevice>& devices() const { return devices_; }
    // None: "System Default".
    const std::optional<std::string>& selectedUID() const { return selectedUID_; }
    std::optional<double> deviceRate() const { return deviceRate_; }
    bool followOutputRate() const override { return followOutputRate_; }
    void setFollowOutputRate(bool follow);
    std::optional<uint32_t> activeDeviceID() const { return activeDeviceID_; }
    const std::vector<RateRange>& availableRates() const { return availableRates_; }
    bool rateIsSettable() const { return rateIsSettable_; }
    bool applyingRate() const { return applyingRate_; }

    // Connects the player, lists the devices, installs the listeners and applies a saved
    // selection.
    void attach(std::weak_ptr<OutputRouting> player);
    void select(std::optional<std::string> uid);
    // Switches the active device to `rate` when it offers it (1 Hz tolerance) and its rate
    // can be set; true when the switch was issued.
    bool matchRate(double rate) override;
    // The audition has ended (stopped for good, not paused): whatever was changed on the
    // system to match its rate is put back. Ignored while a switch of ours settles.
    void previewStopped();
    std::vector<AudioOutputDevice> queryOutputDevices() const { return backend_->outputDevices(); }

    // How long a device needs to settle after a rate switch; the preview restarts after it.
    static constexpr double kSettleSeconds = 0.45;

Q_SIGNALS:
    void devicesChanged();
    void selectedUIDChanged();
    void deviceRateChanged();
    void followOutputRateChanged();
    // availableRates or rateIsSettable changed.
    void rateStateChanged();

private:
    void applySelection();
    void refreshActiveDevice();
    void refreshRateState();
    void onDeviceListChanged();
    void onDefaultDeviceChanged();
    void onNominalRateChanged(uint32_t device);
    void routeTo(uint32_t device);
    std::optional<uint32_t> selectedListedDevice() const;
    void publishDeviceRate(std::optional<double> rate);

    std::shared_ptr<DeviceBackend> backend_;
    QSettings* settings_;
    std::unique_ptr<QSettings> ownSettings_;

    std::vector<AudioOutputDevice> devices_;
    std::optional<std::string> selectedUID_;
    std::optional<double> deviceRate_;
    bool followOutputRate_ = false;
    std::weak_ptr<OutputRouting> player_;
    std::optional<uint32_t> appliedDeviceID_;
    bool listenersInstalled_ = false;
    std::optional<uint32_t> activeDeviceID_;
    std::vector<RateRange> availableRates_;
    bool rateIsSettable_ = false;
    std::optional<uint32_t> rateListenerDevice_;
    bool applyingRate_ = false;
    uint64_t rateSwitches_ = 0;
    // previewStopped() leaves the system alone until then: the stop belongs to our own switch.
    std::chrono::steady_clock::time_point holdRestoreUntil_{};
};

} // namespace sonteva
