// Floor alignment: a known similarity (scale, turn, shift) is recovered from
// the shared reference points, the residual is in metres of the target
// floor, and floors that share too few points are refused.

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

#include "site/Alignment.h"

namespace ketrion::site {
namespace {

Floor WithReferences(const std::string& name, std::vector<ReferencePoint> points) {
    Floor f;
    f.name = name;
    f.references = std::move(points);
    return f;
}

TEST(Alignment, RecoversAKnownSimilarityAndReportsItsResidualInMetres) {
    const double kPi = 3.14159265358979323846;
    const Similarity truth{2 * std::cos(kPi / 6), 2 * std::sin(kPi / 6), 40, -25};
    const std::vector<ReferencePoint> from = {
        {"lift", 10, 20}, {"stairs", 300, 40}, {"door", 150, 400}};
    struct Case {
        const char* legend;
        double shift;  // pixels added to the target's "door"
    } cases[] = {{"exact", 0}, {"one mark 6 pixels out", 6}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        std::vector<ReferencePoint> to;
        for (const ReferencePoint& p : from) {
            const PlanPoint q = truth.Apply({p.x, p.y});
            to.push_back({p.label, q.x + (p.label == "door" ? c.shift : 0), q.y});
        }
        std::string error;
        const auto a = AlignFloors(WithReferences("1", from), WithReferences("0", to), 0.05, error);
        ASSERT_TRUE(a) << error;
        EXPECT_EQ(a->pairs, 3u);
        // At 0.05 m a pixel. The true map leaves 6 pixels on one of three
        // points; the least-squares fit leaves less, but not nothing.
        if (c.shift != 0) {
            EXPECT_GT(a->rmsMetres, 0.01);
            EXPECT_LT(a->rmsMetres, 0.05 * 6 / std::sqrt(3.0));
        } else {
            EXPECT_NEAR(a->rmsMetres, 0, 1e-9);
            EXPECT_NEAR(a->transform.Scale(), 2, 1e-9);
            EXPECT_NEAR(a->transform.RotationDegrees(), 30, 1e-9);
            EXPECT_NEAR(a->transform.tx, 40, 1e-9);
        }
    }
}

TEST(Alignment, TooFewSharedPointsAreRefused) {
    std::string error;
    EXPECT_FALSE(AlignFloors(WithReferences("1", {{"a", 0, 0}, {"b", 10, 0}}),
                             WithReferences("0", {{"a", 0, 0}, {"c", 10, 0}}), 1, error));
    EXPECT_EQ(error,
              "floor \"1\" shares 1 reference point with floor \"0\"; two or more (by "
              "label) align them");
    // Two points fix a similarity exactly.
    const auto two = AlignFloors(WithReferences("1", {{"a", 0, 0}, {"b", 10, 0}}),
                                 WithReferences("0", {{"a", 5, 5}, {"b", 5, 25}}), 1, error);
    ASSERT_TRUE(two) << error;
    EXPECT_NEAR(two->rmsMetres, 0, 1e-12);
    EXPECT_NEAR(two->transform.RotationDegrees(), 90, 1e-9);
}

}  // namespace
}  // namespace ketrion::site
