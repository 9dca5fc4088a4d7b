#pragma once

#include <QPoint>

#include "survey/SitePlan.h"

class QPainter;

namespace ketrion {

class SurveySession;

// The surveyor's placing, drawn over the plan at desktop sizes: the walk's
// clicks joined by a dashed line, where the next reading goes (a cross, the
// fix's error circle, a hollow ring counting the readings that wait for their
// segment's end click) and, in stop and go, the stop being read.
class PlacingMarks {
public:
    // Draws with the painter's origin at the plan area's top-left corner;
    // `client` is the plan area as the plan takes it, `stopAt` the stop being
    // read (plan pixels), shown while `scanning`.
    static void Draw(QPainter& dc, const SurveySession& session, const CSitePlan& plan,
                     const SiteRect& client, QPoint stopAt, bool scanning);
};

}  // namespace ketrion
