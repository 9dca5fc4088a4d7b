#pragma once

#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QSize>

#include <cstdint>
#include <functional>

#include "survey/SitePlan.h"

class QAbstractScrollArea;

namespace ketrion {

class CSiteData;

// Where the site plan lies in the view and how the surveyor moves it: the
// layout (the handheld's stretched square or square plan pixels), the plan
// area below the bands, both scroll bars, arrow keys, zoom steps, zoom to
// fit, drags and pinches, and following a new reading's position. Works on
// the view's CSitePlan and its scroll area; the view repaints. UI thread only.
//
// A client up to kHandheldWidth pixels wide is laid out as on the handheld: a
// square viewport stretched to the client rectangle, zoom in factors of two.
// Wider clients get square plan pixels (one plan pixel per device-independent
// pixel at 100%), a viewport of the client's shape, zoom down to fitting the
// whole plan, and dragging to pan.
class PlanNavigator {
public:
    // Plan pixels per arrow key or scroll-bar arrow.
    static constexpr int kLineStep = 10;
    // Widest client laid out as on the handheld.
    static constexpr int kHandheldWidth = 240;
    // A loaded collection is shown with this many client pixels around its
    // points, at no more than 100%.
    static constexpr double kPointsMargin = 40.0;

    // Scroll-bar actions with the handheld's codes: 0 line up/left, 1 line
    // down/right, 2 page up/left, 3 page down/right, 5 thumb track; others do nothing.
    enum ScrollCode { kLineUp = 0, kLineDown = 1, kPageUp = 2, kPageDown = 3, kThumbTrack = 5 };

    // `statusBandsHeight` gives the height of the bands that sit above the
    // plan at desktop sizes.
    PlanNavigator(CSitePlan& plan, QAbstractScrollArea& area,
                  std::function<int()> statusBandsHeight);

    static bool IsDesktopWidth(int width) { return width > kHandheldWidth; }
    // Whether the client is wider than the handheld's (square plan pixels).
    bool IsDesktopLayout() const;
    // Where the plan is shown in the viewport: all of it on the handheld; at
    // desktop sizes the part below the location and zoom bands.
    QRect PlanArea() const;
    // The client rectangle as the site plan takes it: the plan area's size,
    // its origin at the plan area's top-left corner.
    SiteRect ClientRect() const;
    // Plan coordinates of a point in the plan area.
    QPoint PlanAt(QPoint client) const;
    // Whether plan point `at` lies on the plan image.
    bool IsOnPlanImage(QPoint at) const;

    // Chooses the layout for the current client, keeping the plan's centre.
    void UpdateLayout();
    // Sets the plan up for a plan image of `size`: the whole plan, no larger
    // than 100% (desktop), or the factor 1 square (handheld).
    void FitPlan(QSize size);
    // After a resize: the client rectangle follows the window.
    void Resized();
    // Desktop: shows the whole plan when it fits the window at 100% or more
    // (true), else leaves the view as it is (false).
    bool ShowWholePlanIfItFits();
    // After loading a collection: shows its points (desktop).
    void ShowPoints(const CSiteData& data);

    void ZoomIn();
    void ZoomOut();
    // Shows the whole plan (at the handheld size: back to the factor 1).
    void ZoomFit();
    // Pans by `delta` client pixels.
    void Pan(QPointF delta);
    // Zooms by `factor` about client point `at` (the handheld: one step in or out).
    void ZoomAt(double factor, QPointF at);
    // Arrow keys scroll by kLineStep plan pixels (Qt key codes); false for other keys.
    bool ScrollByKey(int key);
    // Moves the view over the plan by `dx`, `dy` plan pixels (right and down
    // positive); with square pixels by the nearest whole screen pixels.
    void ScrollPlan(double dx, double dy);
    void Scroll(Qt::Orientation orientation, int code, int position);
    // Centres the handheld layout on a client point.
    void CentreOn(QPoint client);

    // Brings plan point `at`, a new reading's position or a placed access
    // point, into sight: the handheld centres on it every time; desktop sizes
    // move only when it leaves the middle third of the view, and not at all
    // while following is off.
    void Follow(QPoint at);
    bool IsFollowing() const { return m_following; }
    void SetFollowing(bool follow) { m_following = follow; }

    // The scroll bars mirror the plan's extent and centre.
    void SetScrollRanges();
    void SetScrollPositions();

private:
    void ShowWholePlan();
    void OnScrollAction(Qt::Orientation orientation, int action);
    void Refresh();

    CSitePlan& m_plan;
    QAbstractScrollArea& m_area;
    std::function<int()> m_statusBandsHeight;
    bool m_inScrollAction = false;
    bool m_following = true;
};

}  // namespace ketrion
