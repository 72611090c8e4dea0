// The volume knob's arithmetic, driven by real mouse and wheel events.
#include "ui/volume_knob.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <vector>

namespace sonteva {
namespace {

struct Knob {
    VolumeKnob knob;
    std::vector<double> live, commits;
    int doubleClicks = 0;
    QPointF centre{11, 11};

    explicit Knob(double start) {
        knob.resize(24, 24);
        knob.setValue(start);
        QObject::connect(&knob, &VolumeKnob::liveValueChanged,
                         [this](double v) { live.push_back(v); });
        QObject::connect(&knob, &VolumeKnob::valueCommitted,
                         [this](double v) { commits.push_back(v); });
        QObject::connect(&knob, &VolumeKnob::doubleClicked, [this] { ++doubleClicks; });
    }
    void mouse(QEvent::Type type, double dy, Qt::MouseButtons held) {
        const QPointF at = centre + QPointF(0, dy);
        QMouseEvent event(type, at, knob.mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
        QCoreApplication::sendEvent(&knob, &event);
    }
    // A drag of `dy` points (downwards positive) in a few steps, then the release.
    void drag(double dy) {
        mouse(QEvent::MouseButtonPress, 0, Qt::LeftButton);
        for (int step = 1; step <= 4; ++step)
            mouse(QEvent::MouseMove, dy * step / 4, Qt::LeftButton);
        dragged = knob.liveValue();
        mouse(QEvent::MouseButtonRelease, dy, Qt::NoButton);
    }
    void scroll(QPoint pixels, QPoint angle) {
        QWheelEvent event(centre, knob.mapToGlobal(centre), pixels, angle, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(&knob, &event);
    }
    std::optional<double> dragged;
};

TEST(VolumeKnob, DragHasADeadZoneAndCoversTheRangeIn190Points) {
    Knob still(0.25);
    still.drag(-1.5);
    EXPECT_TRUE(still.live.empty());
    EXPECT_TRUE(still.commits.empty());
    EXPECT_DOUBLE_EQ(still.knob.value(), 0.25);

    Knob up(0.25);
    up.drag(-97);
    ASSERT_TRUE(up.dragged);
    EXPECT_NEAR(*up.dragged, 0.75, 1e-12); // shown while dragging, not committed
    ASSERT_EQ(up.commits.size(), 1u);      // committed once, at the release
    EXPECT_NEAR(up.commits[0], 0.75, 1e-12);
    EXPECT_NEAR(up.knob.value(), 0.75, 1e-12);
    EXPECT_FALSE(up.knob.liveValue());

    Knob low(0.5), high(0.5);
    low.drag(400);
    high.drag(-400);
    EXPECT_EQ(low.commits, std::vector<double>{0.0});
    EXPECT_EQ(high.commits, std::vector<double>{1.0});
}

TEST(VolumeKnob, ScrollBurstCommitsOnceAfterTheLastEvent) {
    Knob k(0.5);
    for (int i = 0; i < 10; ++i)
        k.scroll({0, 10}, {0, 120}); // a trackpad: pixel deltas win
    ASSERT_EQ(k.live.size(), 10u);
    EXPECT_NEAR(k.live.back(), 0.54, 1e-12);
    EXPECT_TRUE(k.commits.empty());
    QTest::qWait(VolumeKnob::kScrollCommitMs / 2);
    EXPECT_TRUE(k.commits.empty());
    QTest::qWait(VolumeKnob::kScrollCommitMs * 2);
    ASSERT_EQ(k.commits.size(), 1u);
    EXPECT_NEAR(k.commits[0], 0.54, 1e-12);

    // Wheel notches: 0.009 each; a zero delta is ignored; the value clamps at 1.
    Knob wheel(0.995);
    wheel.scroll({0, 0}, {0, 0});
    EXPECT_TRUE(wheel.live.empty());
    wheel.scroll({0, 0}, {0, -120});
    EXPECT_NEAR(wheel.live.back(), 0.986, 1e-12);
    wheel.scroll({0, 0}, {0, 240});
    EXPECT_DOUBLE_EQ(wheel.live.back(), 1.0);
}

TEST(VolumeKnob, DoubleClickResetsToFull) {
    Knob k(0.3);
    k.mouse(QEvent::MouseButtonPress, 0, Qt::LeftButton);
    k.mouse(QEvent::MouseButtonRelease, 0, Qt::NoButton);
    k.mouse(QEvent::MouseButtonDblClick, 0, Qt::LeftButton);
    k.mouse(QEvent::MouseButtonRelease, 0, Qt::NoButton);
    EXPECT_EQ(k.doubleClicks, 1);
    EXPECT_EQ(k.commits, std::vector<double>{1.0});
    EXPECT_DOUBLE_EQ(k.knob.value(), 1.0);
}

} // namespace
} // namespace sonteva
