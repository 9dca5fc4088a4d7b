// Plans without GPS from the command line: a scale line, a second line that
// checks it, a known position and north, packed into an ordinary projection.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/Location.h"
#include "support/Geodesic.h"
#include "support/RecordingPrompt.h"
#include "support/RecordingSound.h"
#include "support/RunProgram.h"
#include "survey/ProjectionMaker.h"
#include "survey/SiteProjection.h"

namespace ketrion::ktp {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

TEST(KtpLocalPlaneTest, ParsingLinesAndOrigins) {
    struct LineCase {
        const char* text;
        bool ok;
        ScaleLine expected;
    };
    const LineCase lines[] = {
        {"10,20,310,420,25", true, {10, 20, 310, 420, 25}},
        {" 0.5, +1 ,-3,4e2, 12.5 ", true, {0.5, 1, -3, 400, 12.5}},
        {"10,20,310,420", false, {}},
        {"10,20,310,420,25,1", false, {}},
        {"10,20,310,420,", false, {}},
        {"10,20,310,420,nan", false, {}},
        {"10,20,x,420,25", false, {}},
    };
    for (const LineCase& c : lines) {
        SCOPED_TRACE(c.text);
        const auto line = ParseScaleLine(c.text);
        ASSERT_EQ(line.has_value(), c.ok);
        if (c.ok) {
            EXPECT_EQ(line->x1, c.expected.x1);
            EXPECT_EQ(line->y1, c.expected.y1);
            EXPECT_EQ(line->x2, c.expected.x2);
            EXPECT_EQ(line->y2, c.expected.y2);
            EXPECT_EQ(line->metres, c.expected.metres);
        }
    }
    struct OriginCase {
        const char* text;
        bool ok;
        bool pixel;
        double values[4];
    };
    const OriginCase origins[] = {
        {"52.2,0.12", true, false, {52.2, 0.12}},
        {"-33.9,151.2,10,20.5", true, true, {-33.9, 151.2, 10, 20.5}},
        // Out of range, but a number: the map refuses it with its own message.
        {"91,0", true, false, {91, 0}},
        {"52.2", false, false, {}},
        {"52.2,0.12,10", false, false, {}},
        {"52.2,0.12,10,20,30", false, false, {}},
        {"52.2,,", false, false, {}},
        {"north,east", false, false, {}},
    };
    for (const OriginCase& c : origins) {
        SCOPED_TRACE(c.text);
        const auto origin = ParsePlanOrigin(c.text);
        ASSERT_EQ(origin.has_value(), c.ok);
        if (c.ok) {
            EXPECT_EQ(origin->latitude, c.values[0]);
            EXPECT_EQ(origin->longitude, c.values[1]);
            ASSERT_EQ(origin->pixel.has_value(), c.pixel);
            if (c.pixel) {
                EXPECT_EQ(origin->pixel->x, c.values[2]);
                EXPECT_EQ(origin->pixel->y, c.values[3]);
            }
        }
    }
}

TEST(KtpLocalPlaneTest, ControlPointsFitTheLocalPlaneExactly) {
    LocalPlaneRequest request;
    request.width = 1200;
    request.height = 900;
    request.scale = {0, 0, 0, 400, 16};
    request.latitude = 60.17;
    request.longitude = 24.94;
    request.originPixel = PlanPoint{1000, 100};
    request.north = 123;
    std::vector<std::string> warnings;
    std::string error;
    const auto points = LocalPlaneControlPoints(request, warnings, error);
    ASSERT_TRUE(points) << error;
    EXPECT_TRUE(warnings.empty());
    const auto fit = FitAffine(*points, error);
    ASSERT_TRUE(fit) << error;
    const auto plane = MakeLocalPlane(request, error);
    ASSERT_TRUE(plane);
    for (const PlanPoint p : {PlanPoint{0, 0}, {1200, 900}, {1000, 100}, {345.5, 678.25}}) {
        const auto geo = plane->map.ToGeo(p.x, p.y);
        ASSERT_TRUE(geo);
        EXPECT_NEAR(MapX(*fit, geo->latitude, geo->longitude), p.x, 1e-4);
        EXPECT_NEAR(MapY(*fit, geo->latitude, geo->longitude), p.y, 1e-4);
    }
}

class KtpScaleCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(m_ktp)) {
            GTEST_SKIP() << "ktp is not built (it needs Qt 6 Gui)";
        }
        m_dir = fs::temp_directory_path() / ("ketrion ktp plane " + std::to_string(::getpid()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        std::vector<std::uint8_t> rgb(kWidth * kHeight * 3, 0xC0);
        const auto bmp = MakeBitmap24(kWidth, kHeight, rgb.data(), kWidth * 3);
        std::ofstream(Path("plan.bmp"), std::ios::binary)
            .write(reinterpret_cast<const char*>(bmp.data()),
                   static_cast<std::streamsize>(bmp.size()));
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string Path(const std::string& name) const { return (m_dir / name).string(); }

    testing::ProgramRun Ktp(const Args& args) const {
        testing::RunOptions options;
        options.mergeErrors = true;
        return testing::RunProgram(m_ktp, args, options);
    }

    static constexpr int kWidth = 400;
    static constexpr int kHeight = 300;
    const std::string m_ktp = testing::ToolPath("ktp");
    fs::path m_dir;
};

TEST_F(KtpScaleCommandTest, PackedPlanKeepsScaleNorthAndOrigin) {
    // 250 pixels along a 12.5-metre wall: 20 pixels per metre.
    const auto run = Ktp({"pack", Path("plan.bmp"), "--scale", "20,280,170,80,12.5", "--scale2",
                          "50,50,50,250,10.2", "--origin=-41.29,174.78,30,40", "--north", "-30",
                          "-o", Path("site.ktp")});
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out.find("warning"), std::string::npos) << run.out;

    std::string error;
    const auto info = ReadProjectionInfo(Path("site.ktp"), error);
    ASSERT_TRUE(info) << error;
    EXPECT_EQ(info->xRow[2], 0.0);
    RecordingPrompt prompt;
    RecordingSound sound;
    CSiteProjection projection(prompt, sound);
    projection::ApplyMap(*info, projection);

    const auto origin = projection.ToGeo(30, 40);
    ASSERT_TRUE(origin);
    EXPECT_NEAR(origin->latitude, -41.29, 1e-9);
    EXPECT_NEAR(origin->longitude, 174.78, 1e-9);
    const auto a = projection.ToGeo(20, 280);
    const auto b = projection.ToGeo(170, 80);
    ASSERT_TRUE(a && b);
    EXPECT_NEAR(testing::Vincenty(a->latitude, a->longitude, b->latitude, b->longitude).metres,
                12.5, 12.5 * kPlanDistanceTolerance);
    // Straight up the plan from the origin runs 30 degrees west of north.
    const auto up = projection.ToGeo(30, 0);
    ASSERT_TRUE(up);
    const double bearing =
        testing::Vincenty(origin->latitude, origin->longitude, up->latitude, up->longitude)
            .azimuthDegrees;
    EXPECT_NEAR(bearing, -30.0, 0.01);
}

TEST_F(KtpScaleCommandTest, DefaultsAndWarnings) {
    const auto run = Ktp({"pack", Path("plan.bmp"), "--scale", "0,0,100,0,5", "--scale2",
                          "0,0,0,100,5.5", "-o", Path("site.ktp")});
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("warning: the two scale lines disagree by 9.1 %"), std::string::npos)
        << run.out;
    const auto tiny =
        Ktp({"pack", Path("plan.bmp"), "--scale", "0,0,100,0,0.1", "-o", Path("tiny.ktp")});
    EXPECT_EQ(tiny.status, 0) << tiny.out;
    EXPECT_NE(tiny.out.find("warning: the scale line is only 0.1 m long"), std::string::npos)
        << tiny.out;
    std::string error;
    const auto info = ReadProjectionInfo(Path("site.ktp"), error);
    ASSERT_TRUE(info) << error;
    RecordingPrompt prompt;
    RecordingSound sound;
    CSiteProjection projection(prompt, sound);
    projection::ApplyMap(*info, projection);
    // The plan's centre sits at the default origin, up is north.
    const PlanPoint centre = projection.ToPlan(kDefaultOriginLatitude, kDefaultOriginLongitude);
    EXPECT_NEAR(centre.x, kWidth / 2.0, 1e-6);
    EXPECT_NEAR(centre.y, kHeight / 2.0, 1e-6);
    const PlanPoint north = projection.ToPlan(kDefaultOriginLatitude + 0.0001, 0);
    EXPECT_NEAR(north.x, centre.x, 1e-6);
    EXPECT_LT(north.y, centre.y);
}

TEST_F(KtpScaleCommandTest, RefusedOptions) {
    struct Case {
        const char* legend;
        Args options;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {"latitude off the globe",
         {"--scale", "0,0,100,0,5", "--origin", "91,0"},
         2,
         "latitude 91 is off the globe"},
        {"longitude off the globe",
         {"--scale", "0,0,100,0,5", "--origin=-10,-200"},
         2,
         "longitude -200 is off the globe"},
        {"malformed scale", {"--scale", "0,0,100,0"}, 2, "is not X1,Y1,X2,Y2,METRES"},
        {"malformed check",
         {"--scale", "0,0,100,0,5", "--scale2", "1,2"},
         2,
         "--scale2 \"1,2\" is not"},
        {"malformed origin",
         {"--scale", "0,0,100,0,5", "--origin", "1,2,3"},
         2,
         "is not LAT,LON or LAT,LON,X,Y"},
        {"no length", {"--scale", "0,0,100,0,0"}, 2, "positive number of metres"},
        {"a micrometre drawn as 100 pixels",
         {"--scale", "0,0,100,0,1e-9"},
         2,
         "makes 1e+11 pixels per metre (100 pixels for 1e-09 m): no plan has such a scale"},
        {"a light year", {"--scale", "0,0,100,0,1e16"}, 2, "no plan has such a scale"},
        {"across the date line",
         {"--scale", "0,0,1,0,50", "--origin", "0,179.99"},
         2,
         "180th meridian"},
        {"no placement at all", {}, 2, "--scale line"},
        {"both ways at once", {"--scale", "0,0,100,0,5", "--ref", "1,2,3,4"}, 108, "excludes"},
        {"north without a scale", {"--north", "10", "--ref", "1,2,3,4"}, 107, "requires --scale"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        Args args = {"pack", Path("plan.bmp")};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.insert(args.end(), {"-o", Path("out.ktp")});
        const auto run = Ktp(args);
        EXPECT_EQ(run.status, c.status) << run.out;
        EXPECT_NE(run.out.find(c.message), std::string::npos) << run.out;
        EXPECT_FALSE(fs::exists(Path("out.ktp")));
        fs::remove(Path("out.ktp"));
    }
    const auto run =
        Ktp({"pack", Path("missing.png"), "--scale", "0,0,100,0,5", "-o", Path("out.ktp")});
    EXPECT_EQ(run.status, 2) << run.out;
    EXPECT_NE(run.out.find("cannot read"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace ketrion::ktp
