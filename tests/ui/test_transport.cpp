// The transport bar against a player on a virtual output, a state object on a private
// settings file and a device backend with fixed answers; the rate indicator's view and the
// postfix field.
#include "test_shell_support.h"
#include "ui/postfix_field.h"
#include "ui/rate_indicator.h"
#include "ui/volume_knob.h"

#include <QLabel>
#include <QMouseEvent>
#include <QSignalSpy>

namespace sonteva {
namespace {

class Transport : public ::testing::Test {
protected:
    test::TempDir dir;
    QSettings settings{QString::fromStdString(dir.file("settings.ini")), QSettings::IniFormat};
    AppViewModel vm{std::make_shared<test::ManualExecutor>(), &settings};
    PreviewPlayer player{std::make_shared<VirtualOutput>()};
    std::shared_ptr<test::FixedDevices> backend = std::make_shared<test::FixedDevices>();
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

// The texts of every state are the indicator model's; here: the device manager's answers
// reach the view, which shows them and offers the switch only when it can happen.
TEST_F(Transport, RateIndicatorShowsTheDeviceState) {
    const std::vector<RateRange> four{
        {44100, 44100}, {48000, 48000}, {88200, 88200}, {96000, 96000}};
    struct Case {
        std::optional<double> rate;
        bool settable;
        std::optional<int> fs;
        const char* text;
        SampleRateIndicator::Tone tone;
        int clicks;
    };
    using enum SampleRateIndicator::Tone;
    const Case cases[] = {{std::nullopt, true, 48000, "—", grey, 0},
                          {44100, true, std::nullopt, "44.1k", grey, 0},
                          {44100, true, 44100, "44.1k", grey, 0},
                          {44100, true, 48000, "44.1k", amber, 1},
                          {44100, false, 48000, "44.1k", amber, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        backend->rate = c.rate;
        backend->settable = c.settable;
        backend->ranges = four;
        devices.attach({});
        RateIndicator view(devices);
        view.setOutputRate(c.fs);
        const auto want = SampleRateIndicator::state(c.rate, c.fs, c.settable, four);
        EXPECT_EQ(view.text(), c.text);
        EXPECT_EQ(view.state().tone, c.tone);
        EXPECT_EQ(view.toolTip(), want.toolTip);
        if (!c.rate) {
            EXPECT_EQ(view.sizeHint().width(), 40);
        }
        QSignalSpy clicks(&view, &RateIndicator::matchRequested);
        view.resize(view.sizeHint());
        QTest::mouseClick(&view, Qt::LeftButton);
        EXPECT_EQ(clicks.count(), c.clicks);
    }
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
