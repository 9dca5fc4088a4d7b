#pragma once

#include <QSize>

#include <string>
#include <utility>
#include <vector>

namespace ketrion {

// The route of an unattended survey: the stops of a stop-and-go survey, or
// the timed clicks of a continuous walk, as read from their files, and the
// check that every one lies on the plan.

// One click of a continuous walk: plan pixels, and seconds from when
// recording starts.
struct WalkClickAt {
    double x = 0;
    double y = 0;
    double seconds = 0;
};

// Reads a stops file ([{"x": X, "y": Y}, ...]) or a walk file
// ([{"x": X, "y": Y, "t": SECONDS}, ...], t not decreasing, at most 24
// hours). False with a message naming what is wrong.
bool ParseStops(const std::string& text, std::vector<std::pair<double, double>>& stops,
                std::string& error);
bool ParseWalk(const std::string& text, std::vector<WalkClickAt>& walk, std::string& error);

// Why a stop or walk click lies outside a plan image of `size` (the first
// such, named), or empty when all lie on it.
std::string RouteOutsidePlan(QSize size, const std::vector<std::pair<double, double>>& stops,
                             const std::vector<WalkClickAt>& walk);

}  // namespace ketrion
