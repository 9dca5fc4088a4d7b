#pragma once

#include <QObject>
#include <QPoint>
#include <QPointF>
#include <QTimer>

class QEvent;
class QMouseEvent;
class QWheelEvent;

namespace ketrion {

// What the pointer does to a view, as ViewInput recognises it.
class ViewInputTarget {
public:
    virtual ~ViewInputTarget() = default;
    // A press released where it began (`held` false), or held still for the
    // tap-and-hold delay or made with the right button (`held` true).
    virtual void InputTap(QPoint at, bool held) = 0;
    // Whether a press that moves pans the view (otherwise it stays a tap).
    virtual bool InputCanDrag() const = 0;
    // The plan is dragged by `delta` client pixels.
    virtual void InputPan(QPointF delta) = 0;
    // Zoom by `factor` keeping the plan point under the client point `at`.
    virtual void InputZoomAt(double factor, QPointF at) = 0;
    // The wheel scrolls by `delta` client pixels (content moves that way).
    // Returns false to leave the wheel to the scroll bars.
    virtual bool InputScroll(QPointF delta) = 0;
};

// Turns mouse, wheel and gesture events of a view into taps, tap-and-holds,
// drags, scrolls and zooms. A press that moves further than kSlop is a drag
// (when the target allows it) and never a tap; a press held still for the
// hold delay is a tap-and-hold. Ctrl+wheel and pinch zoom around the cursor.
class ViewInput : public QObject {
    Q_OBJECT
public:
    // A press held still this long is a tap-and-hold.
    static constexpr int kHoldMs = 500;
    // A press that moves further than this many pixels (Manhattan) is no tap-and-hold.
    static constexpr int kSlop = 6;
    // Client pixels scrolled per wheel notch.
    static constexpr double kWheelStep = 48.0;
    // Zoom per wheel notch with Ctrl held.
    static constexpr double kWheelZoomPerNotch = 1.4142135623730951;

    explicit ViewInput(ViewInputTarget& target, QObject* parent = nullptr);

    // Each returns true when it took the event.
    bool Press(QMouseEvent* event);
    bool Move(QMouseEvent* event);
    bool Release(QMouseEvent* event);
    bool Wheel(QWheelEvent* event);
    // Touchpad pinch (native zoom gesture) and touch-screen pinch gestures.
    bool Gesture(QEvent* event);

    void SetHoldDelay(int milliseconds) { m_holdTimer.setInterval(milliseconds); }
    bool IsDragging() const { return m_dragging; }

private:
    void HoldTimeout();

    ViewInputTarget& m_target;
    QTimer m_holdTimer;
    QPoint m_pressPoint;
    QPointF m_lastPoint;
    bool m_pressPending = false;
    bool m_dragging = false;
};

}  // namespace ketrion
