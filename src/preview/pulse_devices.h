#pragma once
// The output devices as the sound server sees them: sinks (id = sink index, uid = sink
// name, name = sink description), the default sink, and each sink's current sample rate.
// A copy of the server's sink list is kept up to date from subscription events on the loop
// thread; the queries read that copy, and the listeners are delivered on the thread that
// created the object (the main thread), after the copy has been updated.
//
// Rates: on PipeWire's pulse server the rates a sink can run at are the `settings`
// metadata's `clock.allowed-rates` plus, where the metadata tool can allow more, the usual
// mastering rates (all within the rates the sink's formats name, if any), and
// a rate is set by allowing it there (through the `pw-metadata` tool; without the tool
// nothing is settable) so that the graph follows the preview stream when it reopens. On
// PulseAudio they are the server's default and alternate rates and cannot be set.
#include "preview/device_backend.h"
#include "preview/pulse_context.h"
#include "preview/rate_change_origin.h"

#include <QObject>
#include <QString>

#include <map>
#include <memory>

namespace sonteva {

class PulseDevices : public DeviceBackend, public RateChangeOrigin {
public:
    PulseDevices();
    ~PulseDevices() override;

    std::vector<AudioOutputDevice> outputDevices() override;
    std::optional<uint32_t> defaultOutputDevice() override;
    std::optional<double> nominalRate(uint32_t device) override;
    std::vector<RateRange> availableRates(uint32_t device) override;
    bool rateIsSettable(uint32_t device) override;
    bool setNominalRate(uint32_t device, double rate) override;
    void restoreRates() override;

    void onDeviceListChanged(std::function<void()> listener) override;
    void onDefaultDeviceChanged(std::function<void()> listener) override;
    void watchNominalRate(std::optional<uint32_t> device, std::function<void()> listener) override;

    bool rateChangeIsOwn() const override { return deliveringOwnChange_; }

    // Whether the server is PipeWire's pulse server (from its name).
    bool isPipeWire();
    // "allowed" rates as the `settings` metadata lists them; empty when they cannot be read.
    static std::vector<uint32_t> parseAllowedRates(const QString& metadataDump);

private:
    struct Sink {
        std::string name;
        std::string description;
        uint32_t rate = 0;
        std::vector<uint32_t> formatRates; // rates the sink's formats name; empty: any
    };

    bool connectAndSync();
    void scheduleReconnect();
    void post(std::function<void()> task);
    std::vector<uint32_t> allowedRates(bool fresh);
    uint32_t alternateRate();

    // Loop thread, lock held.
    static void onSubscription(pa_context* c, pa_subscription_event_type_t type, uint32_t index,
                               void* self);
    static void onSinkInfo(pa_context* c, const pa_sink_info* info, int eol, void* self);
    static void onServerInfo(pa_context* c, const pa_server_info* info, void* self);
    void onContextState(pa_context_state_t state);

    std::unique_ptr<PulseContext> pulse_;
    // Guarded by the loop's lock.
    std::map<uint32_t, Sink> sinks_;
    std::string defaultSink_;
    std::string serverName_;
    uint32_t serverRate_ = 0;
    std::optional<uint32_t> watched_;
    uint32_t watchedRate_ = 0;

    // Main thread only.
    std::function<void()> listListener_;
    std::function<void()> defaultListener_;
    std::function<void()> rateListener_;
    bool deliveringOwnChange_ = false;
    bool reconnectPending_ = false;
    // Listeners hear about changes only once the first picture of the server is complete:
    // the state found at start-up is not a change (it would re-route a running preview).
    bool synced_ = false;
    std::vector<uint32_t> allowedCache_;
    int64_t allowedReadAtMs_ = -1;
    bool haveSavedAllowed_ = false;
    std::optional<QString> savedAllowed_; // none: the key was absent
    std::optional<uint32_t> alternate_;
    // Declared last: destroyed first, so no queued delivery outlives the listeners.
    QObject receiver_;
};

} // namespace sonteva
