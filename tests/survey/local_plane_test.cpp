// A plan placed on the earth from a scale line: distances, bearings and the
// way back from plan pixels to positions, checked against an independent
// ellipsoidal distance.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "engine/Location.h"
#include "support/Geodesic.h"
#include "support/RecordingPrompt.h"
#include "support/RecordingSound.h"
#include "survey/LocalPlane.h"
#include "survey/SiteProjection.h"

namespace ketrion {
namespace {

using testing::Vincenty;

// Angle from a to b folded into -180..180.
double Turn(double a, double b) {
    double d = std::fmod(b - a, 360.0);
    if (d > 180) {
        d -= 360;
    } else if (d < -180) {
        d += 360;
    }
    return d;
}

TEST(GeodesicReference, KnownLine) {
    // Flinders Peak to Buninyong, the classic check of the method.
    const auto g = Vincenty(-37.95103342, 144.42486789, -37.65282114, 143.92649554);
    EXPECT_NEAR(g.metres, 54972.271, 0.001);
    EXPECT_NEAR(Turn(g.azimuthDegrees, 306.0 + 52.0 / 60 + 5.37 / 3600), 0.0, 1e-5);
}

struct Site {
    const char* legend;
    double latitude, longitude, north, pixelsPerMetre;
    int width, height;
};

const Site kSites[] = {
    {"equator, plan up to the north", 0.0, 0.0, 0.0, 10.0, 3000, 2000},
    {"60 N, turned", 60.17, 24.94, 37.5, 20.0, 2400, 1800},
    {"southern hemisphere, up to the east", -33.87, 151.21, 90.0, 4.0, 4000, 3000},
    {"near the date line, turned past south", -17.7, 179.98, 200.0, 12.0, 3000, 3000},
    {"near the date line, west side", 65.0, -179.97, -45.0, 8.0, 2000, 2000},
    {"far north, large site", 78.2, 15.6, 310.0, 1.0, 5000, 4000},
};

LocalPlaneRequest RequestFor(const Site& site) {
    LocalPlaneRequest r;
    r.width = site.width;
    r.height = site.height;
    // A 100-metre line drawn at a slant.
    const double px = 100.0 * site.pixelsPerMetre;
    r.scale = {50, 70, 50 + 0.6 * px, 70 + 0.8 * px, 100.0};
    r.latitude = site.latitude;
    r.longitude = site.longitude;
    r.north = site.north;
    return r;
}

TEST(LocalPlane, DistancesOnThePlanMatchTheEllipsoid) {
    for (const Site& site : kSites) {
        SCOPED_TRACE(site.legend);
        std::string error;
        const auto plane = MakeLocalPlane(RequestFor(site), error);
        ASSERT_TRUE(plane) << error;
        EXPECT_NEAR(plane->pixelsPerMetre, site.pixelsPerMetre, 1e-9);
        EXPECT_TRUE(plane->warnings.empty()) << plane->warnings.front();
        const double w = site.width, h = site.height;
        // Lines across the whole plan, along its edges and short ones.
        const PlanPoint lines[][2] = {
            {{0, 0}, {w, h}},
            {{w, 0}, {0, h}},
            {{0, 0}, {w, 0}},
            {{0, h}, {0, 0}},
            {{w / 2, h / 2}, {w, h}},
            {{10, h - 5}, {w - 3, 7}},
            {{w / 3, h / 3}, {w / 3 + 40, h / 3 - 25}},
        };
        for (const auto& line : lines) {
            const auto a = plane->map.ToGeo(line[0].x, line[0].y);
            const auto b = plane->map.ToGeo(line[1].x, line[1].y);
            ASSERT_TRUE(a && b);
            const double planMetres =
                std::hypot(line[1].x - line[0].x, line[1].y - line[0].y) / site.pixelsPerMetre;
            const double trueMetres =
                Vincenty(a->latitude, a->longitude, b->latitude, b->longitude).metres;
            EXPECT_NEAR(trueMetres / planMetres, 1.0, kPlanDistanceTolerance)
                << "from (" << line[0].x << ", " << line[0].y << ") to (" << line[1].x << ", "
                << line[1].y << ")";
        }
    }
}

TEST(LocalPlane, UpAndRightPointWhereNorthSays) {
    for (const Site& site : kSites) {
        SCOPED_TRACE(site.legend);
        std::string error;
        const auto plane = MakeLocalPlane(RequestFor(site), error);
        ASSERT_TRUE(plane) << error;
        const PlanPoint o = plane->originPixel;
        EXPECT_DOUBLE_EQ(o.x, site.width / 2.0);
        EXPECT_DOUBLE_EQ(o.y, site.height / 2.0);
        const auto origin = plane->map.ToGeo(o.x, o.y);
        ASSERT_TRUE(origin);
        EXPECT_NEAR(origin->latitude, site.latitude, 1e-9);
        EXPECT_NEAR(origin->longitude, site.longitude, 1e-9);
        const struct {
            double dx, dy, bearing;
        } steps[] = {{0, -200, 0}, {200, 0, 90}, {0, 200, 180}, {-150, -150, -45}};
        for (const auto& step : steps) {
            const auto p = plane->map.ToGeo(o.x + step.dx, o.y + step.dy);
            ASSERT_TRUE(p);
            const auto g = Vincenty(origin->latitude, origin->longitude, p->latitude, p->longitude);
            EXPECT_NEAR(Turn(g.azimuthDegrees, site.north + step.bearing), 0.0, 0.01)
                << "step (" << step.dx << ", " << step.dy << ")";
        }
    }
}

TEST(LocalPlane, PixelToPositionAndBack) {
    RecordingPrompt prompt;
    RecordingSound sound;
    for (const Site& site : kSites) {
        SCOPED_TRACE(site.legend);
        std::string error;
        const auto plane = MakeLocalPlane(RequestFor(site), error);
        ASSERT_TRUE(plane) << error;
        // Through the projection as the view holds it.
        CSiteProjection projection(prompt, sound);
        const PlanMap& m = plane->map;
        {
            PlanMap planMap = projection.Map();
            planMap.xLat = m.xLat;
            planMap.xLon = m.xLon;
            planMap.xOrigin = m.xOrigin;
            planMap.yLat = m.yLat;
            planMap.yLon = m.yLon;
            planMap.yOrigin = m.yOrigin;
            projection.SetMap(planMap);
        }
        for (int i = 0; i <= 8; ++i) {
            for (int j = 0; j <= 8; ++j) {
                const double x = site.width * i / 8.0 + 0.37;
                const double y = site.height * j / 8.0 - 0.61;
                const auto geo = projection.ToGeo(x, y);
                ASSERT_TRUE(geo);
                EXPECT_LE(std::abs(geo->longitude), 180.0);
                const PlanPoint back = projection.ToPlan(geo->latitude, geo->longitude);
                EXPECT_NEAR(back.x, x, 0.5);
                EXPECT_NEAR(back.y, y, 0.5);
                EXPECT_NEAR(std::hypot(back.x - x, back.y - y), 0.0, 1e-4);
            }
        }
    }
}

TEST(LocalPlane, OriginPixelAndDefaults) {
    LocalPlaneRequest r;
    r.width = 800;
    r.height = 600;
    r.scale = {0, 0, 300, 400, 25};  // 500 px: 20 px per metre
    std::string error;
    auto plane = MakeLocalPlane(r, error);
    ASSERT_TRUE(plane) << error;
    auto centre = plane->map.ToGeo(400, 300);
    ASSERT_TRUE(centre);
    EXPECT_NEAR(centre->latitude, kDefaultOriginLatitude, 1e-12);
    EXPECT_NEAR(centre->longitude, kDefaultOriginLongitude, 1e-12);
    EXPECT_FALSE(plane->disagreement);

    r.latitude = 47.5;
    r.longitude = 8.25;
    r.originPixel = PlanPoint{12.5, 580};
    plane = MakeLocalPlane(r, error);
    ASSERT_TRUE(plane) << error;
    const PlanPoint at = plane->map.ToPlan(47.5, 8.25);
    EXPECT_NEAR(at.x, 12.5, 1e-6);
    EXPECT_NEAR(at.y, 580, 1e-6);
}

TEST(LocalPlane, CheckLineWarnings) {
    struct Case {
        const char* legend;
        ScaleLine check;
        double disagreement;
        const char* warning;  // empty: none
    };
    // The scale line is 500 px for 25 m: 20 px per metre, drawn to the right.
    const Case cases[] = {
        {"agrees, across", {100, 100, 100, 500, 20}, 0.0, ""},
        {"1.5 % off, within the limit", {100, 100, 100, 506, 20}, 0.015, ""},
        {"3 % off", {100, 100, 100, 512, 20}, 0.03, "disagree by 3.0 %"},
        {"3 % short", {100, 100, 100, 488, 20}, 0.03, "disagree by 3.0 %"},
        {"parallel", {0, 50, 400, 60, 20}, std::hypot(400, 10) / 400 - 1, "nearly parallel"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        LocalPlaneRequest r;
        r.width = 800;
        r.height = 600;
        r.scale = {0, 0, 500, 0, 25};
        r.check = c.check;
        std::string error;
        const auto plane = MakeLocalPlane(r, error);
        ASSERT_TRUE(plane) << error;
        ASSERT_TRUE(plane->disagreement);
        EXPECT_NEAR(*plane->disagreement, c.disagreement, 1e-9);
        if (c.warning[0] == '\0') {
            EXPECT_TRUE(plane->warnings.empty()) << plane->warnings.front();
        } else {
            ASSERT_EQ(plane->warnings.size(), 1u);
            EXPECT_NE(plane->warnings[0].find(c.warning), std::string::npos) << plane->warnings[0];
        }
    }
}

TEST(LocalPlane, RefusedInputs) {
    struct Case {
        const char* legend;
        void (*edit)(LocalPlaneRequest&);
        const char* message;
    };
    const Case cases[] = {
        {"latitude 91", [](LocalPlaneRequest& r) { r.latitude = 91; }, "latitude 91 is off"},
        {"latitude -90.5", [](LocalPlaneRequest& r) { r.latitude = -90.5; }, "off the globe"},
        {"longitude 181", [](LocalPlaneRequest& r) { r.longitude = 181; }, "longitude 181"},
        {"latitude not a number", [](LocalPlaneRequest& r) { r.latitude = NAN; }, "off the globe"},
        {"a pole", [](LocalPlaneRequest& r) { r.latitude = 90; }, "pole"},
        {"past the pole", [](LocalPlaneRequest& r) { r.latitude = -89.999; }, "past the pole"},
        {"across the date line", [](LocalPlaneRequest& r) { r.longitude = 179.9999; },
         "180th meridian"},
        {"line of no length", [](LocalPlaneRequest& r) { r.scale.x2 = r.scale.x1 = 3; },
         "no length"},
        {"no metres", [](LocalPlaneRequest& r) { r.scale.metres = 0; }, "positive number"},
        {"negative metres", [](LocalPlaneRequest& r) { r.scale.metres = -4; }, "positive number"},
        {"infinite metres", [](LocalPlaneRequest& r) { r.scale.metres = INFINITY; },
         "positive number"},
        {"end not a number", [](LocalPlaneRequest& r) { r.scale.y2 = NAN; }, "not a number"},
        {"bad check line",
         [](LocalPlaneRequest& r) {
             r.check = ScaleLine{1, 1, 1, 1, 5};
         },
         "second scale line has no length"},
        {"north not a number", [](LocalPlaneRequest& r) { r.north = NAN; }, "north"},
        {"empty image", [](LocalPlaneRequest& r) { r.width = 0; }, "no pixels"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        LocalPlaneRequest r;
        r.width = 1000;
        r.height = 1000;
        r.scale = {0, 0, 100, 0, 100};  // 1 px per metre: the plan is a kilometre wide
        c.edit(r);
        std::string error;
        EXPECT_FALSE(MakeLocalPlane(r, error));
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
}

TEST(LocalPlane, TooLargeForOneMapIsWarned) {
    LocalPlaneRequest r;
    r.width = 6000;
    r.height = 6000;
    r.scale = {0, 0, 1, 0, 100};  // 1 px per 100 m: 600 km across
    r.latitude = 50;
    std::string error;
    const auto plane = MakeLocalPlane(r, error);
    ASSERT_TRUE(plane) << error;
    ASSERT_EQ(plane->warnings.size(), 1u);
    EXPECT_NE(plane->warnings[0].find("spans so far"), std::string::npos) << plane->warnings[0];
}

TEST(PlanMap, NoInverseWithoutAMap) {
    EXPECT_FALSE(PlanMap{}.ToGeo(10, 10));
    // Both rows proportional: the earth squeezed onto a line.
    EXPECT_FALSE((PlanMap{2, 4, 0, 1, 2, 7}.ToGeo(1, 1)));
    const PlanMap m{0, 1000, 5, -1000, 0, 9};
    const auto g = m.ToGeo(1005, 9 - 2000);
    ASSERT_TRUE(g);
    EXPECT_DOUBLE_EQ(g->latitude, 2.0);
    EXPECT_DOUBLE_EQ(g->longitude, 1.0);
}

}  // namespace
}  // namespace ketrion
