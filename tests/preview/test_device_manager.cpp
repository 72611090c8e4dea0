// The output-device manager against a virtual device backend and a routing target that
// records what it is told, and the rate indicator's states.
#include "preview/audio_device_manager.h"
#include "preview/rate_change_origin.h"
#include "preview/sample_rate_indicator.h"
#include "preview_support.h"

#include <gtest/gtest.h>

#include <map>

namespace sonteva {
namespace {

using test::waitFor;

class VirtualDevices : public DeviceBackend, public RateChangeOrigin {
public:
    std::vector<AudioOutputDevice> devices;
    std::optional<uint32_t> defaultDevice;
    std::map<uint32_t, double> rates;
    std::map<uint32_t, std::vector<RateRange>> ranges;
    bool settable = true;
    bool setSucceeds = true;
    bool reportSetAtOnce = false; // the device reports a set rate while the switch runs
    bool nextChangeOwn = false;
    std::vector<std::pair<uint32_t, double>> setCalls;
    int restoreCalls = 0;
    std::optional<uint32_t> watched;
    std::function<void()> listListener, defaultListener, rateListener;

    std::vector<AudioOutputDevice> outputDevices() override { return devices; }
    std::optional<uint32_t> defaultOutputDevice() override { return defaultDevice; }
    std::optional<double> nominalRate(uint32_t d) override {
        if (!rates.count(d)) return std::nullopt;
        return rates[d];
    }
    std::vector<RateRange> availableRates(uint32_t d) override { return ranges[d]; }
    bool rateIsSettable(uint32_t) override { return settable; }
    bool setNominalRate(uint32_t d, double rate) override {
        setCalls.emplace_back(d, rate);
        if (setSucceeds && reportSetAtOnce) changeRate(d, rate);
        return setSucceeds;
    }
    void restoreRates() override { ++restoreCalls; }
    void onDeviceListChanged(std::function<void()> l) override { listListener = std::move(l); }
    void onDefaultDeviceChanged(std::function<void()> l) override {
        defaultListener = std::move(l);
    }
    void watchNominalRate(std::optional<uint32_t> d, std::function<void()> l) override {
        watched = d;
        rateListener = std::move(l);
    }
    bool rateChangeIsOwn() const override { return nextChangeOwn; }

    void changeRate(uint32_t d, double rate, bool own = false) {
        rates[d] = rate;
        nextChangeOwn = own;
        if (watched == d && rateListener) rateListener();
        nextChangeOwn = false;
    }
};

struct RecordingPlayer : OutputRouting {
    std::vector<std::optional<uint32_t>> routed;
    std::vector<double> reopened;
    void setOutputDevice(std::optional<uint32_t> id) override { routed.push_back(id); }
    void reopenOutput(double seconds) override { reopened.push_back(seconds); }
};

const std::vector<RateRange> kFourRates{
    {44100, 44100}, {48000, 48000}, {88200, 88200}, {96000, 96000}};

class DeviceManagerTest : public ::testing::Test {
protected:
    test::TempDir dir;
    QSettings settings{QString::fromStdString(dir.file("settings.ini")), QSettings::IniFormat};
    std::shared_ptr<VirtualDevices> backend = std::make_shared<VirtualDevices>();
    std::shared_ptr<RecordingPlayer> player = std::make_shared<RecordingPlayer>();

    // Built-in output (id 3) at 44.1 kHz, the default; a USB interface (id 7) at 96 kHz.
    void SetUp() override {
        backend->devices = {{3, "builtin", "Built-in Output"}, {7, "usb", "USB Interface"}};
        backend->defaultDevice = 3;
        backend->rates = {{3, 44100}, {7, 96000}};
        backend->ranges = {{3, kFourRates}, {7, kFourRates}};
    }
    std::unique_ptr<AudioDeviceManager> attached() {
        auto m = std::make_unique<AudioDeviceManager>(backend, &settings);
        m->attach(player);
        return m;
    }
};

TEST_F(DeviceManagerTest, MatchRateSwitchesWithinOneHertzAndSettles) {
    // A 48 kHz entry reported as 47 999.5 is accepted, and exactly 48 000 is set.
    backend->ranges[3] = {{44100, 44100}, {47999.5, 47999.5}};
    auto m = attached();
    EXPECT_TRUE(m->matchRate(48000));
    ASSERT_EQ(backend->setCalls.size(), 1u);
    EXPECT_EQ(backend->setCalls[0], std::make_pair(3u, 48000.0));
    EXPECT_EQ(player->reopened, std::vector<double>{0.45});
    EXPECT_TRUE(m->applyingRate());
    backend->rates[3] = 48000;
    ASSERT_TRUE(waitFor([&] { return !m->applyingRate(); }));
    EXPECT_EQ(m->deviceRate(), 48000.0); // re-read once the device settled

    // Nothing to do within 1 Hz of the current rate.
    backend->changeRate(3, 44100.4);
    player->reopened.clear();
    backend->setCalls.clear();
    EXPECT_FALSE(m->matchRate(44100));
    EXPECT_TRUE(backend->setCalls.empty());
    EXPECT_TRUE(player->reopened.empty());
}

TEST_F(DeviceManagerTest, MatchRateRefusesWithoutTouchingDeviceOrPlayer) {
    auto m = attached();
    EXPECT_FALSE(m->matchRate(192000)); // not offered
    backend->settable = false;
    backend->listListener(); // any refresh re-reads the rate state

    EXPECT_FALSE(m->rateIsSettable());
    EXPECT_FALSE(m->matchRate(48000));
    EXPECT_TRUE(backend->setCalls.empty());
    EXPECT_TRUE(player->reopened.empty());

    // A failing set still reopens the output and reports false.
    backend->settable = true;
    backend->setSucceeds = false;
    backend->listListener();
    EXPECT_FALSE(m->matchRate(48000));
    EXPECT_EQ(player->reopened.size(), 1u);
    EXPECT_EQ(backend->setCalls.size(), 1u);
}

TEST_F(DeviceManagerTest, OutsideRateChangeReopensOnceOwnChangesDoNot) {
    auto m = attached();
    ASSERT_EQ(backend->watched, 3u);
    backend->changeRate(3, 48000); // another application switched the device
    EXPECT_EQ(m->deviceRate(), 48000.0);
    EXPECT_EQ(player->reopened, std::vector<double>{0.45});

    // Our own switch reports the new rate while it runs: one reopen, not two.
    player->reopened.clear();
    backend->reportSetAtOnce = true;
    EXPECT_TRUE(m->matchRate(96000));
    EXPECT_EQ(m->deviceRate(), 96000.0);
    EXPECT_EQ(player->reopened.size(), 1u);

    // A change the backend attributes to our own stream is published without a reopen.
    ASSERT_TRUE(waitFor([&] { return !m->applyingRate(); }));
    player->reopened.clear();
    backend->changeRate(3, 44100, /*own=*/true);
    EXPECT_EQ(m->deviceRate(), 44100.0);
    EXPECT_TRUE(player->reopened.empty());
}

TEST_F(DeviceManagerTest, SavedDeviceThatIsAbsentFallsBackAndComesBack) {
    settings.setValue("sonteva.outputDeviceUID", "interface");
    auto m = attached();
    EXPECT_EQ(m->selectedUID(), std::optional<std::string>("interface"));
    EXPECT_TRUE(player->routed.empty()); // stays on the system default
    EXPECT_EQ(m->activeDeviceID(), 3u);
    EXPECT_EQ(m->deviceRate(), 44100.0);

    backend->devices.push_back({12, "interface", "Audio Interface"});
    backend->rates[12] = 192000;
    backend->listListener(); // plugged in
    EXPECT_EQ(m->devices().size(), 3u);
    EXPECT_EQ(player->routed.back(), 12u);
    EXPECT_EQ(m->activeDeviceID(), 12u);
    EXPECT_EQ(backend->watched, 12u);
    EXPECT_EQ(m->deviceRate(), 192000.0);

    backend->devices.pop_back();
    backend->listListener(); // unplugged
    EXPECT_EQ(player->routed.back(), 3u);
    EXPECT_EQ(m->activeDeviceID(), 3u);
    EXPECT_EQ(backend->watched, 3u);
    EXPECT_EQ(player->routed.size(), 2u);
}

TEST_F(DeviceManagerTest, SystemDefaultFollowsTheDefaultDevice) {
    auto m = attached();
    m->select("usb");
    EXPECT_EQ(settings.value("sonteva.outputDeviceUID").toString(), "usb");
    EXPECT_EQ(player->routed.back(), 7u);

    backend->defaultDevice = 7; // a chosen device ignores default changes
    backend->defaultListener();
    m->select(std::nullopt);
    EXPECT_FALSE(settings.contains("sonteva.outputDeviceUID"));
    EXPECT_EQ(player->routed.size(), 1u); // the default is the device already applied

    backend->defaultDevice = 3;
    backend->defaultListener();
    EXPECT_EQ(player->routed.back(), 3u);
    EXPECT_EQ(backend->watched, 3u);
    EXPECT_EQ(m->deviceRate(), 44100.0);

    backend->defaultDevice.reset(); // no default: nothing is routed, nothing is watched
    backend->defaultListener();
    EXPECT_EQ(player->routed.size(), 2u);
    EXPECT_EQ(m->activeDeviceID(), std::nullopt);
    EXPECT_EQ(m->deviceRate(), std::nullopt);
    EXPECT_FALSE(m->matchRate(48000));
}

TEST_F(DeviceManagerTest, SettingsPlayerLifetimeAndRestore) {
    {
        AudioDeviceManager m(backend, &settings);
        EXPECT_FALSE(m.followOutputRate());
        m.setFollowOutputRate(true);
    }
    EXPECT_EQ(backend->restoreCalls, 1); // at destruction
    AudioDeviceManager m(backend, &settings);
    EXPECT_TRUE(m.followOutputRate());

    auto shortLived = std::make_shared<RecordingPlayer>();
    m.attach(shortLived);
    shortLived.reset();
    m.select("usb"); // the player is gone: nothing to call, no crash
    backend->changeRate(7, 48000);
    EXPECT_EQ(m.deviceRate(), 48000.0);

    // A stop puts the rates back, except right after our own switch: that stop belongs to
    // it and keeps the switch.
    m.previewStopped();
    EXPECT_EQ(backend->restoreCalls, 2);
    EXPECT_TRUE(m.matchRate(96000));
    m.previewStopped();
    EXPECT_EQ(backend->restoreCalls, 2);
}

using namespace SampleRateIndicator;

TEST(SampleRateIndicatorTest, EveryState) {
    const std::pair<double, const char*> labels[] = {
        {48000, "48k"}, {44100, "44.1k"}, {88200, "88.2k"}, {352800, "352.8k"}, {192000, "192k"}};
    for (const auto& [rate, text] : labels)
        EXPECT_EQ(label(rate), text);
    const QString resampled = "Output device is running at 44.1kHz, the preview is 48kHz — the "
                              "sound server resamples it on the way out. ";
    const QString only = resampled + "This device runs at 44.1kHz only; pick another output to "
                                     "hear the conversion unresampled.";
    const QString switches = resampled + "Click to switch the device to 48kHz.";
    const QString same = "Output device is running at 48kHz — the preview reaches it unresampled.";
    const struct {
        std::optional<double> device;
        std::optional<int> fs;
        bool settable;
        std::vector<RateRange> ranges;
        const char* text;
        Tone tone;
        QString toolTip;
        bool clickMatches;
    } cases[] = {
        {std::nullopt, 48000, true, kFourRates, "—", Tone::grey, "Output device sample rate",
         false},
        {44100, std::nullopt, true, kFourRates, "44.1k", Tone::grey,
         "Output device is running at 44.1kHz", false},
        {48000, 48000, true, kFourRates, "48k", Tone::grey, same, false},
        // Within 1 Hz counts as matching.
        {48000.9, 48000, true, kFourRates, "48k", Tone::grey,
         "Output device is running at 48kHz — the preview reaches it unresampled.", false},
        {44100, 48000, true, kFourRates, "44.1k", Tone::amber, switches, true},
        {44100, 48000, true, {{47999.5, 47999.5}}, "44.1k", Tone::amber, switches, true},
        // A single-rate device, and a device whose rate cannot be set.
        {44100, 48000, true, {{44100, 44100}}, "44.1k", Tone::amber, only, false},
        {44100, 48000, false, kFourRates, "44.1k", Tone::amber, only, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.toolTip.toStdString());
        const State s = state(c.device, c.fs, c.settable, c.ranges);
        EXPECT_EQ(s.text, c.text);
        EXPECT_EQ(s.tone, c.tone);
        EXPECT_EQ(s.toolTip, c.toolTip);
        EXPECT_EQ(s.clickMatches, c.clickMatches);
    }
    EXPECT_EQ(state(48001.5, 48000, true, kFourRates).tone, Tone::amber);
    const Colour amber{1.0, 149.0 / 255.0, 0.0, 0.85};
    EXPECT_EQ(dotColour(Tone::amber), amber);
    EXPECT_EQ(textColour(Tone::amber), amber);
    EXPECT_EQ(dotColour(Tone::grey), (Colour{0.45, 0.45, 0.45, 1.0}));
    EXPECT_EQ(textColour(Tone::grey), (Colour{0.55, 0.55, 0.55, 1.0}));
}

} // namespace
} // namespace sonteva
