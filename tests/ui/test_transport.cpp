// The transport bar against a player on a virtual output, a state object on a private
// settings file and a device backend with fixed answers; the rate indicator's view and the
// postfix field.
#include "model/app_view_model.h"
#include "preview/audio_device_manager.h"
#include "preview/preview_player.h"
#include "preview/virtual_output.h"
#include "support/temp_dir.h"
#include "ui/postfix_field.h"
#include "ui/rate_indicator.h"
#include "ui/transport_bar.h"
#include "ui/volume_knob.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMouseEvent>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace sonteva {
namespace {

struct NoExecutor : JobExecutor {
    void start(const ConversionJob&, std::function<void(double)>,
               std::function<void(const JobOutcome&)>) override {}
};

// One output device whose rate, rates and settability the test fixes.
struct FixedDevice : DeviceBackend {
    std::optional<double> rate;
    std::vector<RateRange> ranges;
    bool settable = true;

    std::vector<AudioOutputDevice> outputDevices() override { return {{1, "sink", "Speakers"}}; }
    std::optional<uint32_t> defaultOutputDevice() override { return 1; }
    std::optional<double> nominalRate(uint32_t) override { return rate; }
    std::vector<RateRange> availableRates(uint32_t) override { return ranges; }
    bool rateIsSettable(uint32_t) override { return settable; }
    bool setNominalRate(uint32_t, double) override { return false; }
    void restoreRates() override {}
    void onDeviceListChanged(std::function<void()>) override {}
    void onDefaultDeviceChanged(std::function<void()>) override {}
    void watchNominalRate(std::optional<uint32_t>, std::function<void()>) override {}
};

class Transport : public ::testing::Test {
protected:
    test::TempDir dir;
    QSettings settings{QString::fromStdString(dir.file("settings.ini")), QSettings::IniFormat};
    AppViewModel vm{std::make_shared<NoExecutor>(), &settings};
    PreviewPlayer player{std::make_shared<VirtualOutput>()};
    std::shared_ptr<FixedDevice> backend = std::make_shared<FixedDevice>();
    AudioDeviceManager devices{backend, &settings};

    std::unique_ptr<TransportBar> makeBar() {
        auto bar = std::make_unique<TransportBar>(vm, player, devices);
        bar->useSettings(&settings);
        return bar;
    }
};

TEST(TransportReadout, Formatting) {
    EXPECT_EQ(TransportBar::formatTime(83.46), "1:23.4");
    EXPECT_EQ(TransportBar::formatTime(0), "0:00.0");
    EXPECT_EQ(TransportBar::formatTime(3600.05), "60:00.0");
    EXPECT_EQ(TransportBar::readoutText(1.25, 5, false), "0:01.2");
    EXPECT_EQ(TransportBar::readoutText(2, 5, true), "0:03.0");
    EXPECT_EQ(TransportBar::readoutText(7, 5, true), "0:00.0"); // never below zero
}

TEST_F(Transport, ReadoutClickFlipsAndPersistsTheMode) {
    auto bar = makeBar();
    QLabel* readout = bar->readout();
    EXPECT_FALSE(bar->showsRemaining());
    EXPECT_EQ(readout->toolTip(), "Elapsed — click for remaining");
    EXPECT_EQ(readout->text(), "0:00.0");

    QTest::mouseClick(readout, Qt::LeftButton);
    EXPECT_TRUE(bar->showsRemaining());
    EXPECT_EQ(readout->toolTip(), "Remaining — click for elapsed");
    EXPECT_TRUE(settings.value("sonteva.transportShowsRemaining").toBool());
    EXPECT_TRUE(makeBar()->showsRemaining()); // survives a restart

    QTest::mouseClick(readout, Qt::LeftButton);
    EXPECT_FALSE(bar->showsRemaining());
    EXPECT_FALSE(settings.value("sonteva.transportShowsRemaining").toBool());
}

TEST_F(Transport, PinLocksTheCurrentPositionAndUnlocks) {
    auto bar = makeBar();
    player.setLockedTime(9.0);
    bar->pinButton()->click();
    EXPECT_TRUE(player.isTimeLocked());
    EXPECT_DOUBLE_EQ(player.lockedTime(), player.currentTime());
    bar->pinButton()->click();
    EXPECT_FALSE(player.isTimeLocked());
}

TEST_F(Transport, KnobValuesGoLiveToThePlayerAndCommitToTheModel) {
    vm.setMonitorVolume(0.25);
    auto bar = makeBar();
    VolumeKnob* knob = bar->volumeKnob();
    EXPECT_DOUBLE_EQ(knob->value(), 0.25);
    auto mouse = [&](QEvent::Type type, double y, Qt::MouseButtons held) {
        QMouseEvent e(type, QPointF(5, y), knob->mapToGlobal(QPointF(5, y)), Qt::LeftButton, held,
                      Qt::NoModifier);
        QCoreApplication::sendEvent(knob, &e);
    };
    mouse(QEvent::MouseButtonPress, 100, Qt::LeftButton);
    mouse(QEvent::MouseMove, 3, Qt::LeftButton); // 97 points up
    EXPECT_FLOAT_EQ(player.volume(), 0.75f);
    EXPECT_DOUBLE_EQ(vm.monitorVolume(), 0.25);
    mouse(QEvent::MouseButtonRelease, 3, Qt::NoButton);
    EXPECT_NEAR(vm.monitorVolume(), 0.75, 1e-12);
    EXPECT_NEAR(settings.value("sonteva.monitorVolume").toDouble(), 0.75, 1e-12);

    player.setVolume(0.5);
    mouse(QEvent::MouseButtonDblClick, 3, Qt::LeftButton);
    EXPECT_DOUBLE_EQ(vm.monitorVolume(), 1.0);
    EXPECT_FLOAT_EQ(player.volume(), 1.0f);
    EXPECT_DOUBLE_EQ(settings.value("sonteva.monitorVolume").toDouble(), 1.0);
}

TEST_F(Transport, RateIndicatorStates) {
    const std::vector<RateRange> four{
        {44100, 44100}, {48000, 48000}, {88200, 88200}, {96000, 96000}};
    auto indicatorFor = [&](std::optional<double> rate, bool settable, std::optional<int> fs) {
        backend->rate = rate;
        backend->settable = settable;
        backend->ranges = four;
        devices.attach({});
        auto view = std::make_unique<RateIndicator>(devices);
        view->setOutputRate(fs);
        return view;
    };
    const QString running = "Output device is running at 44.1kHz";

    auto none = indicatorFor(std::nullopt, true, 48000);
    EXPECT_EQ(none->text(), "—");
    EXPECT_EQ(none->toolTip(), "Output device sample rate");
    EXPECT_EQ(none->sizeHint().width(), 40);

    auto idle = indicatorFor(44100, true, std::nullopt);
    EXPECT_EQ(idle->text(), "44.1k");
    EXPECT_EQ(idle->toolTip(), running);
    EXPECT_EQ(idle->state().tone, SampleRateIndicator::Tone::grey);

    auto same = indicatorFor(44100, true, 44100);
    EXPECT_EQ(same->toolTip(), running + " — the preview reaches it unresampled.");

    auto mismatch = indicatorFor(44100, true, 48000);
    EXPECT_EQ(mismatch->state().tone, SampleRateIndicator::Tone::amber);
    EXPECT_EQ(mismatch->toolTip(), running +
                                       ", the preview is 48kHz — the sound server resamples "
                                       "it on the way out. Click to switch the device to 48kHz.");
    QSignalSpy clicks(mismatch.get(), &RateIndicator::matchRequested);
    mismatch->resize(mismatch->sizeHint());
    QTest::mouseClick(mismatch.get(), Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 1);

    auto fixed = indicatorFor(44100, false, 48000);
    EXPECT_EQ(fixed->state().tone, SampleRateIndicator::Tone::amber);
    EXPECT_TRUE(fixed->toolTip().endsWith(
        " This device runs at 44.1kHz only; pick another output to hear the conversion "
        "unresampled."));
    QSignalSpy none_clicks(fixed.get(), &RateIndicator::matchRequested);
    fixed->resize(fixed->sizeHint());
    QTest::mouseClick(fixed.get(), Qt::LeftButton);
    EXPECT_EQ(none_clicks.count(), 0);
}

TEST(PostfixField, ModelEchoKeepsTheCaretAndSelection) {
    PostfixField field;
    QString model = "_44k_16b";
    QObject::connect(&field, &PostfixField::edited, [&](const QString& text) {
        model = text;
        field.setModelText(model); // the model announces the change straight back
    });
    field.setModelText(model);
    EXPECT_EQ(field.text(), model);

    field.setCursorPosition(4);
    QTest::keyClicks(&field, "xy");
    EXPECT_EQ(model, "_44kxy_16b");
    EXPECT_EQ(field.cursorPosition(), 6);

    field.setSelection(1, 3);
    field.setModelText(model); // an unrelated re-announcement of the same value
    EXPECT_EQ(field.selectedText(), "44k");

    field.setModelText("_48k_24b"); // a recipe change replaces the text
    EXPECT_EQ(field.text(), "_48k_24b");
}

} // namespace
} // namespace sonteva
