#include "survey/FollowRule.h"

namespace ketrion {

namespace {

// The position may wander this share of the client away from its middle on
// each side before the view moves: the middle third.
constexpr double kQuietShare = 1.0 / 3.0;

bool InMiddleThird(double at, double size) {
    return at >= size * kQuietShare && at <= size * (1.0 - kQuietShare);
}

}  // namespace

std::optional<FollowPoint> FollowTarget(FollowPoint position, const ViewTransform& transform,
                                        double clientWidth, double clientHeight) {
    if (!(clientWidth > 0) || !(clientHeight > 0)) {
        return std::nullopt;
    }
    // The point's centre: a pixel spans [x, x + 1) on the plan.
    const double sx = transform.ToClientX(position.x + 0.5);
    const double sy = transform.ToClientY(position.y + 0.5);
    if (InMiddleThird(sx, clientWidth) && InMiddleThird(sy, clientHeight)) {
        return std::nullopt;
    }
    return position;
}

}  // namespace ketrion
