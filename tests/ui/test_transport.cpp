// The transport bar against a player on a virtual output, a state object on a private
// settings file and a device backend with fixed answers: the readout, the pin, the volume
// knob driven by real mouse and wheel events, the rate indicator's view and the postfix field.
#include "test_shell_support.h"
#include "ui/postfix_field.h"
#include "ui/rate_indicator.h"
#include "ui/volume_knob.h"

#include <QLabel>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QWheelEvent>

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

void mouse(VolumeKnob& knob, QEvent::Type type, double y, Qt::MouseButtons held) {
    QMouseEvent e(type, QPointF(11, y), knob.mapToGlobal(QPointF(11, y)), Qt::LeftButton, held,
                  Qt::NoModifier);
    QCoreApplication::sendEvent(&knob, &e);
}

TEST(TransportReadout, Formatting) {
    EXPECT_EQ(TransportBar::formatTime(83.46), "1:23.4");
    EXPECT_EQ(TransportBar::formatTime(0), "0:00.0");
    EXPECT_EQ(TransportBar::formatTime(3600.05), "60:00.0");
    EXPECT_EQ(TransportBar::readoutText(1.25, 5, false), "0:01.2");
    EXPECT_EQ(TransportBar::readoutText(2, 5, true), "0:03.0");
    EXPECT_EQ(TransportBar::readoutText(7, 5, true), "0:00.0"); // never below zero
}

TEST_F(Transport, ReadoutClickFlipsAndPersistsTheModeAndThePinLocksThePosition) {
    auto bar = makeBar();
    QLabel* readout = bar->readout();
    EXPECT_EQ(readout->toolTip(), "Elapsed — click for remaining");
    EXPECT_EQ(readout->text(), "0:00.0");
    QTest::mouseClick(readout, Qt::LeftButton);
    EXPECT_TRUE(bar->showsRemaining());
    EXPECT_EQ(readout->toolTip(), "Remaining — click for elapsed");
    EXPECT_TRUE(makeBar()->showsRemaining()); // survives a restart
    QTest::mouseClick(readout, Qt::LeftButton);
    EXPECT_FALSE(bar->showsRemaining());
    EXPECT_FALSE(settings.value("sonteva.transportShowsRemaining").toBool());

    player.setLockedTime(9.0);
    bar->pinButton()->click();
    EXPECT_TRUE(player.isTimeLocked());
    EXPECT_DOUBLE_EQ(player.lockedTime(), player.currentTime());
    bar->pinButton()->click();
    EXPECT_FALSE(player.isTimeLocked());
}

// A drag is heard live and committed once at the release; 190 points cover the range.
TEST_F(Transport, KnobValuesGoLiveToThePlayerAndCommitToTheModel) {
    vm.setMonitorVolume(0.25);
    auto bar = makeBar();
    VolumeKnob& knob = *bar->volumeKnob();
    EXPECT_DOUBLE_EQ(knob.value(), 0.25);
    QSignalSpy commits(&knob, &VolumeKnob::valueCommitted);
    mouse(knob, QEvent::MouseButtonPress, 100, Qt::LeftButton);
    mouse(knob, QEvent::MouseMove, 98.5, Qt::LeftButton); // within the dead zone
    EXPECT_FALSE(knob.liveValue());
    mouse(knob, QEvent::MouseMove, 3, Qt::LeftButton); // 97 points up
    EXPECT_FLOAT_EQ(player.volume(), 0.75f);
    EXPECT_DOUBLE_EQ(vm.monitorVolume(), 0.25);
    mouse(knob, QEvent::MouseButtonRelease, 3, Qt::NoButton);
    EXPECT_EQ(commits.count(), 1);
    EXPECT_NEAR(vm.monitorVolume(), 0.75, 1e-12);
    EXPECT_NEAR(settings.value("sonteva.monitorVolume").toDouble(), 0.75, 1e-12);
    EXPECT_FALSE(knob.liveValue());

    for (const auto& [dy, to] : std::vector<std::pair<double, double>>{{-400, 1.0}, {400, 0.0}}) {
        mouse(knob, QEvent::MouseButtonPress, 100, Qt::LeftButton);
        mouse(knob, QEvent::MouseMove, 100 + dy, Qt::LeftButton);
        mouse(knob, QEvent::MouseButtonRelease, 100 + dy, Qt::NoButton);
        EXPECT_DOUBLE_EQ(vm.monitorVolume(), to) << dy;
    }

    player.setVolume(0.5);
    mouse(knob, QEvent::MouseButtonDblClick, 3, Qt::LeftButton); // resets to full
    EXPECT_DOUBLE_EQ(vm.monitorVolume(), 1.0);
    EXPECT_FLOAT_EQ(player.volume(), 1.0f);
    EXPECT_DOUBLE_EQ(settings.value("sonteva.monitorVolume").toDouble(), 1.0);
}

// A trackpad's pixel deltas win over its angles, and a burst commits once after its last
// event; a wheel notch is 0.009, a zero delta is ignored, and the value clamps at 1.
TEST(VolumeKnob, ScrollBurstCommitsOnceAfterTheLastEvent) {
    VolumeKnob knob;
    knob.resize(24, 24);
    std::vector<double> live, commits;
    QObject::connect(&knob, &VolumeKnob::liveValueChanged, [&](double v) { live.push_back(v); });
    QObject::connect(&knob, &VolumeKnob::valueCommitted, [&](double v) { commits.push_back(v); });
    const auto scroll = [&](QPoint pixels, QPoint angle) {
        QWheelEvent e({11, 11}, knob.mapToGlobal(QPointF(11, 11)), pixels, angle, Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(&knob, &e);
    };
    knob.setValue(0.5);
    for (int i = 0; i < 10; ++i)
        scroll({0, 10}, {0, 120});
    ASSERT_EQ(live.size(), 10u);
    EXPECT_NEAR(live.back(), 0.54, 1e-12);
    QTest::qWait(VolumeKnob::kScrollCommitMs / 2);
    EXPECT_TRUE(commits.empty());
    QTest::qWait(VolumeKnob::kScrollCommitMs * 2);
    EXPECT_EQ(commits.size(), 1u);
    EXPECT_NEAR(commits.at(0), 0.54, 1e-12);

    knob.setValue(0.995);
    live.clear();
    scroll({0, 0}, {0, 0});
    EXPECT_TRUE(live.empty());
    scroll({0, 0}, {0, -120});
    EXPECT_NEAR(live.back(), 0.986, 1e-12);
    scroll({0, 0}, {0, 240});
    EXPECT_DOUBLE_EQ(live.back(), 1.0);
}

// The device manager's answers reach the view, which offers the switch only when it can
// happen (the texts of every state are the indicator model's).
TEST_F(Transport, RateIndicatorShowsTheDeviceStateAndOffersTheSwitchOnlyWhenItCanHappen) {
    const struct {
        std::optional<double> rate;
        bool settable;
        std::optional<int> fs;
        const char* text;
        int clicks;
    } cases[] = {{std::nullopt, true, 48000, "—", 0},
                 {44100, true, 44100, "44.1k", 0},
                 {44100, true, 48000, "44.1k", 1},
                 {44100, false, 48000, "44.1k", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        backend->rate = c.rate;
        backend->settable = c.settable;
        backend->ranges = {{44100, 44100}, {48000, 48000}};
        devices.attach({});
        RateIndicator view(devices);
        view.setOutputRate(c.fs);
        EXPECT_EQ(view.text(), c.text);
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
