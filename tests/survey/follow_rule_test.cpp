// Following the surveyor's position: the view moves only once the position
// leaves the middle third of the client.

#include <gtest/gtest.h>

#include "survey/FollowRule.h"

namespace ketrion {
namespace {

TEST(FollowRule, MovesOnlyWhenThePositionLeavesTheMiddleThird) {
    // 900 x 600 client showing plan pixels from (1000, 2000) at 2 client pixels each:
    // the middle third is plan x 1150..1300, y 2100..2200.
    ViewTransform t;
    t.scaleX = t.scaleY = 2.0;
    t.originX = 1000;
    t.originY = 2000;
    struct Case {
        PlanPixel at;
        bool moves;
    } const cases[] = {
        {{1225, 2150}, false},  // the centre
        {{1150, 2100}, false},  // the middle third's top-left corner
        {{1299, 2199}, false},  // its bottom-right pixel
        {{1149, 2150}, true},   // one pixel left of it
        {{1300, 2150}, true},   // right of it
        {{1225, 2099}, true},   // above
        {{1225, 2200}, true},   // below
        {{500, 9000}, true},    // far off screen
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.at.x << "," << c.at.y);
        const std::optional<PlanPixel> target = FollowTarget(c.at, t, 900, 600);
        ASSERT_EQ(target.has_value(), c.moves);
        if (target) {
            EXPECT_EQ(*target, c.at);  // the position becomes the centre
        }
    }
}

TEST(FollowRule, AnEmptyOrUnusableClientNeverMovesTheView) {
    const ViewTransform t;
    for (const auto& [w, h] : {std::pair{0.0, 600.0}, {900.0, 0.0}, {-5.0, 10.0}}) {
        EXPECT_FALSE(FollowTarget({5000, 5000}, t, w, h).has_value());
    }
}

}  // namespace
}  // namespace ketrion
