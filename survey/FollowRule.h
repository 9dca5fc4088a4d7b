#pragma once

#include <cstdint>
#include <optional>

#include "survey/SitePlan.h"

namespace ketrion {

// A plan point, in plan pixels.
struct FollowPoint {
    std::int32_t x = 0;
    std::int32_t y = 0;
    bool operator==(const FollowPoint&) const = default;
};

// Where the view should move while recording so that the surveyor's position
// stays in sight without the plan jumping on every reading: nothing while the
// position is inside the middle third of the client on both axes, otherwise
// the position as the new centre. `transform` maps plan to client pixels;
// `clientWidth` x `clientHeight` is the area the plan is shown in. An empty
// client never moves the view.
std::optional<FollowPoint> FollowTarget(FollowPoint position, const ViewTransform& transform,
                                        double clientWidth, double clientHeight);

}  // namespace ketrion
