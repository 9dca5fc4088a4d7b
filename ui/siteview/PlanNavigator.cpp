#include "ui/siteview/PlanNavigator.h"

#include <QAbstractScrollArea>
#include <QScrollBar>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>

#include "survey/FollowRule.h"
#include "survey/SiteData.h"

namespace ketrion {

PlanNavigator::PlanNavigator(CSitePlan& plan, QAbstractScrollArea& area,
                             std::function<int()> statusBandsHeight)
    : m_plan(plan), m_area(area), m_statusBandsHeight(std::move(statusBandsHeight)) {
    QObject::connect(m_area.horizontalScrollBar(), &QScrollBar::actionTriggered, &m_area,
                     [this](int action) { OnScrollAction(Qt::Horizontal, action); });
    QObject::connect(m_area.verticalScrollBar(), &QScrollBar::actionTriggered, &m_area,
                     [this](int action) { OnScrollAction(Qt::Vertical, action); });
}

bool PlanNavigator::IsDesktopLayout() const {
    return IsDesktopWidth(m_area.viewport()->width());
}

QRect PlanNavigator::PlanArea() const {
    const QRect all = m_area.viewport()->rect();
    if (!IsDesktopLayout()) {
        return all;
    }
    // The bands get their own strip so that they never hide the plan's top.
    const int bands = std::min(m_statusBandsHeight(), all.height() - 1);
    return all.adjusted(0, std::max(0, bands), 0, 0);
}

SiteRect PlanNavigator::ClientRect() const {
    const QRect r = PlanArea();
    return SiteRect{0, 0, r.width(), r.height()};
}

QPoint PlanNavigator::PlanAt(QPoint client) const {
    std::int32_t x = 0;
    std::int32_t y = 0;
    m_plan.ScreenToPlan(ClientRect(), client.x(), client.y(), x, y);
    return QPoint(x, y);
}

bool PlanNavigator::IsOnPlanImage(QPoint at) const {
    const SiteRect extent = m_plan.GetExtent();
    return at.x() >= extent.left && at.x() <= extent.right && at.y() >= extent.top &&
           at.y() <= extent.bottom;
}

void PlanNavigator::UpdateLayout() {
    const SiteRect client = ClientRect();
    const bool desktop = IsDesktopLayout();
    if (desktop && !m_plan.IsSquarePixels()) {
        // Take the scale the handheld layout showed at, then the new client.
        m_plan.SetSquarePixels(true);
        m_plan.SetClientRect(client.left, client.top, client.right, client.bottom);
        return;
    }
    m_plan.SetClientRect(client.left, client.top, client.right, client.bottom);
    m_plan.SetSquarePixels(desktop);
}

void PlanNavigator::FitPlan(QSize size) {
    const SiteRect client = ClientRect();
    UpdateLayout();
    m_plan.SetExtent(0, 0, size.width(), size.height());
    if (m_plan.IsSquarePixels()) {
        ShowWholePlan();
    } else {
        const int side = std::min(client.right - client.left, client.bottom - client.top);
        m_plan.SetViewport(0, 0, side, side);
    }
    SetScrollRanges();
    SetScrollPositions();
}

void PlanNavigator::Resized() {
    // The plan keeps its centre; the client rectangle follows the window so
    // that the viewport takes the client's shape (and, on the handheld,
    // zooming out squares the viewport to the current client area).
    UpdateLayout();
    SetScrollRanges();
    SetScrollPositions();
}

void PlanNavigator::ShowWholePlan() {
    m_plan.SetScale(m_plan.MinScale());
    const SiteRect extent = m_plan.GetExtent();
    m_plan.CentreOn((extent.left + extent.right) / 2, (extent.top + extent.bottom) / 2);
}

bool PlanNavigator::ShowWholePlanIfItFits() {
    if (!IsDesktopLayout() || !m_plan.IsSquarePixels() || m_plan.FitScale() < 1.0) {
        return false;
    }
    ShowWholePlan();
    SetScrollRanges();
    SetScrollPositions();
    return true;
}

void PlanNavigator::ShowPoints(const CSiteData& data) {
    if (!m_plan.IsSquarePixels() || data.PointCount() == 0) {
        return;
    }
    if (ShowWholePlanIfItFits()) {
        return;  // every point is in sight, and the plan around them
    }
    SiteRect area{
        std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::max(),
        std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::min()};
    data.ForEachPoint([&area](const auto& point) {
        area.left = std::min(area.left, point.x);
        area.top = std::min(area.top, point.y);
        area.right = std::max(area.right, point.x);
        area.bottom = std::max(area.bottom, point.y);
    });
    m_plan.FitArea(area, kPointsMargin, 1.0);
    SetScrollRanges();
    SetScrollPositions();
}

void PlanNavigator::ZoomIn() {
    m_plan.ZoomIn();
    if (IsDesktopLayout()) {
        SetScrollRanges();
    }
    Refresh();
}

void PlanNavigator::ZoomOut() {
    m_plan.ZoomOut();
    if (IsDesktopLayout()) {
        SetScrollRanges();
    }
    Refresh();
}

void PlanNavigator::ZoomFit() {
    if (m_plan.IsSquarePixels()) {
        m_plan.ZoomToFit();
        SetScrollRanges();
        SetScrollPositions();
    } else {
        // The handheld layout shows the most at the factor 1.
        while (m_plan.GetZoom() > 1) {
            m_plan.ZoomOut();
        }
    }
    Refresh();
}

void PlanNavigator::Pan(QPointF delta) {
    m_plan.PanBy(delta.x(), delta.y());
    SetScrollPositions();
    Refresh();
}

void PlanNavigator::ZoomAt(double factor, QPointF at) {
    if (!m_plan.IsSquarePixels()) {
        // The handheld zooms in factors of two about the centre.
        if (factor > 1.0) {
            ZoomIn();
        } else if (factor < 1.0) {
            ZoomOut();
        }
        return;
    }
    const QPoint origin = PlanArea().topLeft();
    m_plan.ZoomAt(factor, at.x() - origin.x(), at.y() - origin.y());
    SetScrollRanges();
    SetScrollPositions();
    Refresh();
}

void PlanNavigator::ScrollPlan(double dx, double dy) {
    if (!m_plan.IsSquarePixels()) {
        const auto steps = [](double n) { return static_cast<std::int32_t>(std::lround(n)); };
        if (dx < 0)
            m_plan.ScrollLeft(steps(-dx));
        if (dx > 0)
            m_plan.ScrollRight(steps(dx));
        if (dy < 0)
            m_plan.ScrollUp(steps(-dy));
        if (dy > 0)
            m_plan.ScrollDown(steps(dy));
        return;
    }
    // By whole screen pixels, as a drag moves it: the kept picture is then
    // moved and only the strips that come into view are drawn, at any scale.
    const double scale = m_plan.GetScale();
    const auto pixels = [&](double n) {
        const double px = std::round(n * scale);
        return px == 0 && n != 0 ? std::copysign(1.0, n) : px;
    };
    m_plan.PanBy(-pixels(dx), -pixels(dy));
}

bool PlanNavigator::ScrollByKey(int key) {
    switch (key) {
        case Qt::Key_Left:
            ScrollPlan(-kLineStep, 0);
            break;
        case Qt::Key_Up:
            ScrollPlan(0, -kLineStep);
            break;
        case Qt::Key_Right:
            ScrollPlan(kLineStep, 0);
            break;
        case Qt::Key_Down:
            ScrollPlan(0, kLineStep);
            break;
        default:
            return false;
    }
    SetScrollPositions();
    return true;
}

void PlanNavigator::Scroll(Qt::Orientation orientation, int code, int position) {
    const bool horizontal = orientation == Qt::Horizontal;
    const SiteRect client = ClientRect();
    // A page is the client's size: counted as plan pixels on the handheld, as
    // the plan pixels it shows at wider sizes.
    int page = horizontal ? client.right : client.bottom;
    if (m_plan.IsSquarePixels()) {
        page = std::max(1, static_cast<int>(page / m_plan.GetScale()));
    }
    const auto back = [&](int n) { horizontal ? ScrollPlan(-n, 0) : ScrollPlan(0, -n); };
    const auto ahead = [&](int n) { horizontal ? ScrollPlan(n, 0) : ScrollPlan(0, n); };
    switch (code) {
        case kLineUp:
            back(kLineStep);
            break;
        case kLineDown:
            ahead(kLineStep);
            break;
        case kPageUp:
            back(page);
            break;
        case kPageDown:
            ahead(page);
            break;
        case kThumbTrack:
            if (m_plan.IsSquarePixels()) {
                // To the slider's place by whole screen pixels, as the arrows go.
                const double from = horizontal ? m_plan.GetCentreX() : m_plan.GetCentreY();
                horizontal ? ScrollPlan(position - from, 0) : ScrollPlan(0, position - from);
            } else {
                horizontal ? m_plan.SetCentreX(position) : m_plan.SetCentreY(position);
            }
            break;
        default:
            break;
    }
    if (horizontal) {
        m_area.horizontalScrollBar()->setSliderPosition(m_plan.GetCentreX());
    } else {
        m_area.verticalScrollBar()->setSliderPosition(m_plan.GetCentreY());
    }
    Refresh();
}

void PlanNavigator::OnScrollAction(Qt::Orientation orientation, int action) {
    // Moving the slider from the handler reports a slider move of its own.
    if (m_inScrollAction) {
        return;
    }
    m_inScrollAction = true;
    QScrollBar* bar =
        orientation == Qt::Horizontal ? m_area.horizontalScrollBar() : m_area.verticalScrollBar();
    int code = -1;
    switch (action) {
        case QAbstractSlider::SliderSingleStepSub:
            code = kLineUp;
            break;
        case QAbstractSlider::SliderSingleStepAdd:
            code = kLineDown;
            break;
        case QAbstractSlider::SliderPageStepSub:
            code = kPageUp;
            break;
        case QAbstractSlider::SliderPageStepAdd:
            code = kPageDown;
            break;
        case QAbstractSlider::SliderMove:
            code = kThumbTrack;
            break;
        default:
            break;
    }
    // The bar has already moved its slider by its own rule; the handler puts
    // it on the new centre, which is the value the bar then takes.
    Scroll(orientation, code, bar->sliderPosition());
    m_inScrollAction = false;
}

void PlanNavigator::CentreOn(QPoint client) {
    m_plan.CentreOnScreenPoint(ClientRect(), client.x(), client.y());
}

void PlanNavigator::Follow(QPoint at) {
    if (!IsDesktopLayout()) {
        m_plan.CentreOn(at.x(), at.y());
        return;
    }
    if (!m_following) {
        return;
    }
    const SiteRect client = ClientRect();
    const std::optional<FollowPoint> target =
        FollowTarget({at.x(), at.y()}, m_plan.Transform(), client.right - client.left,
                     client.bottom - client.top);
    if (target) {
        m_plan.CentreOn(target->x, target->y);
        SetScrollPositions();
    }
}

void PlanNavigator::SetScrollRanges() {
    const SiteRect extent = m_plan.GetExtent();
    QScrollBar* horizontal = m_area.horizontalScrollBar();
    QScrollBar* vertical = m_area.verticalScrollBar();
    horizontal->setRange(0, extent.right - extent.left);
    vertical->setRange(0, extent.bottom - extent.top);
    horizontal->setSingleStep(kLineStep);
    vertical->setSingleStep(kLineStep);
    const SiteRect client = ClientRect();
    int pageX = std::max(1, client.right - client.left);
    int pageY = std::max(1, client.bottom - client.top);
    if (m_plan.IsSquarePixels()) {
        // The thumb shows how much of the plan the view holds.
        const double scale = m_plan.GetScale();
        pageX = std::max(1, static_cast<int>(pageX / scale));
        pageY = std::max(1, static_cast<int>(pageY / scale));
    }
    horizontal->setPageStep(pageX);
    vertical->setPageStep(pageY);
}

void PlanNavigator::SetScrollPositions() {
    m_area.horizontalScrollBar()->setValue(m_plan.GetCentreX());
    m_area.verticalScrollBar()->setValue(m_plan.GetCentreY());
}

void PlanNavigator::Refresh() {
    m_area.viewport()->update();
}

}  // namespace ketrion
