#pragma once
// The audio hardware properties the output-device manager relies on: the output device
// list, the default output device, each device's nominal rate, the rates it can run at and
// whether its rate can be set, and change listeners. PulseDevices implements it on the
// sound server (device id = sink index, uid = sink name, name = sink description);
// tests use a virtual one. Listeners are called on the thread that owns the manager.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sonteva {

struct AudioOutputDevice {
    uint32_t id = 0;  // valid while the server runs
    std::string uid;  // persistent
    std::string name; // shown to the user
    bool operator==(const AudioOutputDevice&) const = default;
};

struct RateRange {
    double minimum = 0;
    double maximum = 0;
    bool operator==(const RateRange&) const = default;
};

class DeviceBackend {
public:
    virtual ~DeviceBackend() = default;

    virtual std::vector<AudioOutputDevice> outputDevices() = 0;
    virtual std::optional<uint32_t> defaultOutputDevice() = 0;
    virtual std::optional<double> nominalRate(uint32_t device) = 0;
    virtual std::vector<RateRange> availableRates(uint32_t device) = 0;
    virtual bool rateIsSettable(uint32_t device) = 0;
    // True when the change was issued. Anything changed globally to get there is undone by
    // restoreRates() (the manager calls it when the preview stops and at exit).
    virtual bool setNominalRate(uint32_t device, double rate) = 0;
    virtual void restoreRates() = 0;

    virtual void onDeviceListChanged(std::function<void()> listener) = 0;
    virtual void onDefaultDeviceChanged(std::function<void()> listener) = 0;
    // Watches one device's nominal rate (none: watch nothing); replaces the previous watch.
    virtual void watchNominalRate(std::optional<uint32_t> device,
                                  std::function<void()> listener) = 0;
};

} // namespace sonteva
