// Recognition of taps, holds, drags, wheel and pinch, against a recording target.

#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QWheelEvent>
#include <QWidget>

#include <cmath>
#include <string>
#include <vector>

#include "support/QtTestApp.h"
#include "ui/siteview/ViewInput.h"

namespace ketrion::testing {
namespace {

class Recorder : public ViewInputTarget {
public:
    void InputTap(QPoint at, bool held) override {
        log.push_back(std::string(held ? "hold " : "tap ") + std::to_string(at.x()) + "," +
                      std::to_string(at.y()));
    }
    bool InputCanDrag() const override { return canDrag; }
    void InputPan(QPointF delta) override { pan += delta; }
    void InputZoomAt(double factor, QPointF at) override {
        zoom *= factor;
        zoomAt = at;
    }
    bool InputScroll(QPointF delta) override {
        scroll += delta;
        return takesWheel;
    }
    bool canDrag = true;
    bool takesWheel = true;
    std::vector<std::string> log;
    QPointF pan;
    QPointF scroll;
    double zoom = 1.0;
    QPointF zoomAt;
};

QMouseEvent Mouse(QEvent::Type type, QPoint at, Qt::MouseButton button = Qt::LeftButton) {
    return QMouseEvent(type, QPointF(at), QPointF(at), button,
                       type == QEvent::MouseButtonRelease ? Qt::NoButton : button, Qt::NoModifier);
}

QWheelEvent WheelAt(QPoint at, QPoint angle, Qt::KeyboardModifiers modifiers,
                    QPoint pixels = QPoint()) {
    return QWheelEvent(QPointF(at), QPointF(at), pixels, angle, Qt::NoButton, modifiers,
                       Qt::NoScrollPhase, false);
}

// Makes the application before the fixture's widget.
struct WithApplication {
    WithApplication() { QtTestApp(); }
};

class Input : public ::testing::Test, private WithApplication {
protected:
    void Press(QPoint at, Qt::MouseButton button = Qt::LeftButton) {
        auto e = Mouse(QEvent::MouseButtonPress, at, button);
        input.Press(&e);
    }
    void Move(QPoint at) {
        auto e = Mouse(QEvent::MouseMove, at);
        input.Move(&e);
    }
    void Release(QPoint at) {
        auto e = Mouse(QEvent::MouseButtonRelease, at);
        input.Release(&e);
    }
    Recorder target;
    QWidget widget;
    ViewInput input{target, &widget};
};

TEST_F(Input, APressWithinTheSlopIsATapAtThePressPoint) {
    Press({10, 10});
    Move({13, 13});  // Manhattan 6: still a tap
    Release({13, 13});
    EXPECT_EQ(target.log, std::vector<std::string>{"tap 10,10"});
    EXPECT_EQ(target.pan, QPointF());
}

TEST_F(Input, APressThatMovesBeyondTheSlopDragsAndIsNoTap) {
    Press({10, 10});
    Move({14, 13});  // Manhattan 7: a drag, moved by (4, 3) so far
    Move({40, 30});
    Release({40, 30});
    EXPECT_TRUE(target.log.empty());
    EXPECT_EQ(target.pan, QPointF(30, 20));
    EXPECT_FALSE(input.IsDragging());
    // Where dragging is off, the wandering press stays a plain tap.
    target.canDrag = false;
    Press({5, 5});
    Move({50, 50});
    Release({50, 50});
    EXPECT_EQ(target.log, std::vector<std::string>{"tap 5,5"});
    EXPECT_EQ(target.pan, QPointF(30, 20));
}

TEST_F(Input, HoldingStillOrTheRightButtonIsATapAndHold) {
    input.SetHoldDelay(10);
    Press({7, 8});
    ASSERT_TRUE(ProcessEventsUntil([&] { return !target.log.empty(); }));
    Release({7, 8});  // the release after a hold is no tap
    Press({20, 21}, Qt::RightButton);
    EXPECT_EQ(target.log, (std::vector<std::string>{"hold 7,8", "hold 20,21"}));
    // A drag started before the delay never becomes a hold.
    Press({0, 0});
    Move({30, 0});
    ProcessEventsUntil([] { return false; }, 40);
    Release({30, 0});
    EXPECT_EQ(target.log.size(), 2u);
}

TEST_F(Input, TheWheelScrollsCtrlZoomsAtTheCursorAndShiftTurnsItSideways) {
    auto down = WheelAt({50, 60}, {0, -120}, Qt::NoModifier);
    EXPECT_TRUE(input.Wheel(&down));
    EXPECT_EQ(target.scroll, QPointF(0, -ViewInput::kWheelStep));
    auto side = WheelAt({50, 60}, {0, -120}, Qt::ShiftModifier);
    input.Wheel(&side);
    EXPECT_EQ(target.scroll, QPointF(-ViewInput::kWheelStep, -ViewInput::kWheelStep));
    // Touchpads give pixels, taken as they come.
    target.scroll = {};
    auto pad = WheelAt({50, 60}, {0, -40}, Qt::NoModifier, {3, -7});
    input.Wheel(&pad);
    EXPECT_EQ(target.scroll, QPointF(3, -7));

    auto zoomIn = WheelAt({70, 80}, {0, 120}, Qt::ControlModifier);
    input.Wheel(&zoomIn);
    EXPECT_DOUBLE_EQ(target.zoom, ViewInput::kWheelZoomPerNotch);
    EXPECT_EQ(target.zoomAt, QPointF(70, 80));
    auto zoomOut = WheelAt({70, 80}, {0, -240}, Qt::ControlModifier);
    input.Wheel(&zoomOut);
    EXPECT_NEAR(target.zoom, 1.0 / ViewInput::kWheelZoomPerNotch, 1e-12);

    // A target that declines leaves the wheel to the scroll bars.
    target.takesWheel = false;
    auto declined = WheelAt({50, 60}, {0, -120}, Qt::NoModifier);
    EXPECT_FALSE(input.Wheel(&declined));
}

TEST_F(Input, ATouchpadPinchZoomsAtItsPoint) {
    QNativeGestureEvent pinch(Qt::ZoomNativeGesture, QPointingDevice::primaryPointingDevice(), 2,
                              QPointF(11, 12), QPointF(11, 12), QPointF(11, 12), 0.25, QPointF());
    EXPECT_TRUE(input.Gesture(&pinch));
    EXPECT_DOUBLE_EQ(target.zoom, 1.25);
    EXPECT_EQ(target.zoomAt, QPointF(11, 12));
    // A pinch that would turn the picture inside out is ignored.
    QNativeGestureEvent bad(Qt::ZoomNativeGesture, QPointingDevice::primaryPointingDevice(), 2,
                            QPointF(1, 1), QPointF(1, 1), QPointF(1, 1), -1.5, QPointF());
    input.Gesture(&bad);
    EXPECT_DOUBLE_EQ(target.zoom, 1.25);
    QNativeGestureEvent rotate(Qt::RotateNativeGesture, QPointingDevice::primaryPointingDevice(), 2,
                               QPointF(1, 1), QPointF(1, 1), QPointF(1, 1), 0.5, QPointF());
    EXPECT_FALSE(input.Gesture(&rotate));
}

}  // namespace
}  // namespace ketrion::testing
