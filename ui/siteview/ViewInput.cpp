#include "ui/siteview/ViewInput.h"

#include <QGestureEvent>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPinchGesture>
#include <QWheelEvent>
#include <QWidget>

#include <cmath>

namespace ketrion {

namespace {

// Angle units of one wheel notch.
constexpr double kNotch = 120.0;

}  // namespace

ViewInput::ViewInput(ViewInputTarget& target, QObject* parent) : QObject(parent), m_target(target) {
    m_holdTimer.setSingleShot(true);
    m_holdTimer.setInterval(kHoldMs);
    connect(&m_holdTimer, &QTimer::timeout, this, &ViewInput::HoldTimeout);
}

bool ViewInput::Press(QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    if (event->button() == Qt::RightButton) {
        // A desktop's right click is a tap-and-hold at once.
        m_holdTimer.stop();
        m_pressPending = false;
        m_dragging = false;
        m_target.InputTap(point, true);
        return true;
    }
    if (event->button() == Qt::LeftButton) {
        m_pressPoint = point;
        m_lastPoint = event->position();
        m_pressPending = true;
        m_dragging = false;
        m_holdTimer.start();
        return true;
    }
    return false;
}

bool ViewInput::Move(QMouseEvent* event) {
    if (m_dragging) {
        const QPointF delta = event->position() - m_lastPoint;
        m_lastPoint = event->position();
        m_target.InputPan(delta);
        return true;
    }
    if (!m_pressPending ||
        (event->position().toPoint() - m_pressPoint).manhattanLength() <= kSlop) {
        return false;
    }
    // A press that wanders is no tap-and-hold; where the view allows it, it
    // becomes a drag (and no tap), otherwise it stays a plain tap.
    m_holdTimer.stop();
    if (m_target.InputCanDrag()) {
        m_pressPending = false;
        m_dragging = true;
        const QPointF delta = event->position() - m_lastPoint;
        m_lastPoint = event->position();
        m_target.InputPan(delta);
        return true;
    }
    return false;
}

bool ViewInput::Release(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return false;
    }
    if (m_dragging) {
        m_dragging = false;
        return true;
    }
    if (!m_pressPending) {
        return false;
    }
    m_holdTimer.stop();
    m_pressPending = false;
    m_target.InputTap(m_pressPoint, false);
    return true;
}

void ViewInput::HoldTimeout() {
    if (!m_pressPending) {
        return;
    }
    m_pressPending = false;
    m_target.InputTap(m_pressPoint, true);
}

bool ViewInput::Wheel(QWheelEvent* event) {
    if (event->modifiers() & Qt::ControlModifier) {
        const double notches = event->angleDelta().y() / kNotch;
        if (notches == 0.0) {
            return true;
        }
        m_target.InputZoomAt(std::pow(kWheelZoomPerNotch, notches), event->position());
        return true;
    }
    // Touchpads report pixels; wheels report notches.
    QPointF delta = event->pixelDelta().isNull()
                        ? QPointF(event->angleDelta()) * (kWheelStep / kNotch)
                        : QPointF(event->pixelDelta());
    if (event->modifiers() & Qt::ShiftModifier) {
        delta = QPointF(delta.y(), delta.x());
    }
    return m_target.InputScroll(delta);
}

bool ViewInput::Gesture(QEvent* event) {
    if (event->type() == QEvent::NativeGesture) {
        auto* native = static_cast<QNativeGestureEvent*>(event);
        if (native->gestureType() != Qt::ZoomNativeGesture) {
            return false;
        }
        // The value is the change of magnification since the last event.
        const double factor = 1.0 + native->value();
        if (factor > 0.0) {
            m_target.InputZoomAt(factor, native->position());
        }
        return true;
    }
    if (event->type() == QEvent::Gesture) {
        auto* gestures = static_cast<QGestureEvent*>(event);
        auto* pinch = static_cast<QPinchGesture*>(gestures->gesture(Qt::PinchGesture));
        if (pinch == nullptr) {
            return false;
        }
        if (pinch->changeFlags() & QPinchGesture::ScaleFactorChanged) {
            QPointF at = pinch->centerPoint();
            if (auto* widget = qobject_cast<QWidget*>(parent())) {
                at = widget->mapFromGlobal(at);
            }
            m_target.InputZoomAt(pinch->scaleFactor(), at);
        }
        gestures->accept(pinch);
        return true;
    }
    return false;
}

}  // namespace ketrion
