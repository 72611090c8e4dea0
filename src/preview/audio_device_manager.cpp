#include "preview/audio_device_manager.h"

#include "preview/pulse_devices.h"
#include "preview/rate_change_origin.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace sonteva {

namespace {
const QString kDeviceUIDKey = QStringLiteral("sonteva.outputDeviceUID");
const QString kFollowRateKey = QStringLiteral("sonteva.followOutputRate");
// The restart that follows a switch of ours stops the preview once more; that stop must not
// undo the switch.
constexpr std::chrono::milliseconds kRestoreHold{1500};
} // namespace

AudioDeviceManager& AudioDeviceManager::shared() {
    static AudioDeviceManager* instance = [] {
        QCoreApplication* app = QCoreApplication::instance();
        auto* manager = new AudioDeviceManager(std::make_shared<PulseDevices>(), nullptr, app);
        // Rates forced for the preview are put back before the application goes.
        if (app)
            QObject::connect(app, &QCoreApplication::aboutToQuit, manager,
                             [manager] { manager->backend_->restoreRates(); });
        return manager;
    }();
    return *instance;
}

AudioDeviceManager::AudioDeviceManager(std::shared_ptr<DeviceBackend> backend, QSettings* settings,
                                       QObject* parent)
    : QObject(parent), backend_(std::move(backend)), settings_(settings) {
    if (!settings_) {
        ownSettings_ =
            std::make_unique<QSettings>(QStringLiteral("Sonteva"), QStringLiteral("Sonteva"));
        settings_ = ownSettings_.get();
    }
    const QVariant uid = settings_->value(kDeviceUIDKey);
    if (uid.isValid() && !uid.toString().isEmpty()) selectedUID_ = uid.toString().toStdString();
    followOutputRate_ = settings_->value(kFollowRateKey, false).toBool();
}

AudioDeviceManager::~AudioDeviceManager() {
    backend_->restoreRates();
}

void AudioDeviceManager::setFollowOutputRate(bool follow) {
    followOutputRate_ = follow;
    settings_->setValue(kFollowRateKey, follow);
    Q_EMIT followOutputRateChanged();
}

std::optional<uint32_t> AudioDeviceManager::selectedListedDevice() const {
    if (!selectedUID_) return std::nullopt;
    const auto it = std::find_if(devices_.begin(), devices_.end(), [&](const AudioOutputDevice& d) {
        return d.uid == *selectedUID_;
    });
    if (it == devices_.end()) return std::nullopt;
    return it->id;
}

void AudioDeviceManager::routeTo(uint32_t device) {
    appliedDeviceID_ = device;
    if (auto player = player_.lock()) player->setOutputDevice(device);
}

void AudioDeviceManager::attach(std::weak_ptr<OutputRouting> player) {
    player_ = std::move(player);
    auto listed = backend_->outputDevices();
    if (listed != devices_) {
        devices_ = std::move(listed);
        Q_EMIT devicesChanged();
    }
    if (!listenersInstalled_) {
        listenersInstalled_ = true;
        QPointer<AudioDeviceManager> self(this);
        backend_->onDeviceListChanged([self] {
            if (self) self->onDeviceListChanged();
        });
        backend_->onDefaultDeviceChanged([self] {
            if (self) self->onDefaultDeviceChanged();
        });
    }
    // A saved device that is not connected applies nothing: the output stays on the
    // system default.
    if (const auto id = selectedListedDevice(); id && id != appliedDeviceID_) routeTo(*id);
    refreshActiveDevice();
}

void AudioDeviceManager::select(std::optional<std::string> uid) {
    selectedUID_ = std::move(uid);
    Q_EMIT selectedUIDChanged();
    if (selectedUID_)
        settings_->setValue(kDeviceUIDKey, QString::fromStdString(*selectedUID_));
    else
        settings_->remove(kDeviceUIDKey);
    applySelection();
    refreshActiveDevice();
}

void AudioDeviceManager::applySelection() {
    // The backend says "none" itself when there is no default device (a sink index of 0
    // is a real sink).
    std::optional<uint32_t> target = selectedListedDevice();
    if (!target) target = backend_->defaultOutputDevice();
    if (!target) return;
    if (!appliedDeviceID_ || *target != *appliedDeviceID_) routeTo(*target);
}

void AudioDeviceManager::onDeviceListChanged() {
    auto listed = backend_->outputDevices();
    if (listed != devices_) {
        devices_ = std::move(listed);
        Q_EMIT devicesChanged();
    }
    applySelection();
    refreshActiveDevice();
}

void AudioDeviceManager::onDefaultDeviceChanged() {
    if (!selectedUID_) {
        const auto id = backend_->defaultOutputDevice();
        if (id && id != appliedDeviceID_) routeTo(*id);
    }
    refreshActiveDevice();
}

void AudioDeviceManager::refreshActiveDevice() {
    std::optional<uint32_t> active = selectedListedDevice();
    if (!active) active = backend_->defaultOutputDevice();
    activeDeviceID_ = active;
    if (active != rateListenerDevice_) {
        rateListenerDevice_ = active;
        if (active) {
            QPointer<AudioDeviceManager> self(this);
            const uint32_t device = *active;
            backend_->watchNominalRate(device, [self, device] {
                if (self) self->onNominalRateChanged(device);
            });
        } else {
            backend_->watchNominalRate(std::nullopt, {});
        }
    }
    refreshRateState();
}

void AudioDeviceManager::onNominalRateChanged(uint32_t device) {
    const auto* origin = dynamic_cast<const RateChangeOrigin*>(backend_.get());
    const bool own = origin && origin->rateChangeIsOwn();
    const auto rate = backend_->nominalRate(device);
    if (rate && *rate > 0 && (!deviceRate_ || *deviceRate_ != *rate)) {
        deviceRate_ = rate;
        Q_EMIT deviceRateChanged();
    }
    // The output reopens so that it adopts the new device rate; a change we caused
    // ourselves already reopened it.
    if (applyingRate_ || own) return;
    if (auto player = player_.lock()) player->reopenOutput(kSettleSeconds);
}

void AudioDeviceManager::publishDeviceRate(std::optional<double> rate) {
    if (rate == deviceRate_) return;
    deviceRate_ = rate;
    Q_EMIT deviceRateChanged();
}

void AudioDeviceManager::refreshRateState() {
    std::vector<RateRange> ranges;
    bool settable = false;
    std::optional<double> rate;
    if (activeDeviceID_) {
        for (const RateRange& r : backend_->availableRates(*activeDeviceID_))
            ranges.push_back({r.minimum, std::max(r.minimum, r.maximum)});
        settable = backend_->rateIsSettable(*activeDeviceID_);
        rate = backend_->nominalRate(*activeDeviceID_);
        if (rate && *rate <= 0) rate.reset();
    }
    if (ranges != availableRates_ || settable != rateIsSettable_) {
        availableRates_ = std::move(ranges);
        rateIsSettable_ = settable;
        Q_EMIT rateStateChanged();
    }
    publishDeviceRate(rate);
}

bool AudioDeviceManager::matchRate(double rate) {
    if (!activeDeviceID_ || !rateIsSettable_) return false;
    const bool offered =
        std::any_of(availableRates_.begin(), availableRates_.end(), [rate](const RateRange& r) {
            return r.minimum - 1 <= rate && rate <= r.maximum + 1;
        });
    if (!offered) return false;
    if (!deviceRate_ || std::abs(*deviceRate_ - rate) <= 1) return false;

    applyingRate_ = true;
    const uint64_t serial = ++rateSwitches_;
    holdRestoreUntil_ = std::chrono::steady_clock::now() + kRestoreHold;
    if (auto player = player_.lock()) player->reopenOutput(kSettleSeconds);
    const bool issued = backend_->setNominalRate(*activeDeviceID_, rate);
    QTimer::singleShot(std::chrono::milliseconds(static_cast<int>(kSettleSeconds * 1000)), this,
                       [this, serial] {
                           if (serial != rateSwitches_) return;
                           applyingRate_ = false;
                           refreshRateState();
                       });
    return issued;
}

void AudioDeviceManager::previewStopped() {
    if (applyingRate_ || std::chrono::steady_clock::now() < holdRestoreUntil_) return;
    backend_->restoreRates();
}

} // namespace sonteva
