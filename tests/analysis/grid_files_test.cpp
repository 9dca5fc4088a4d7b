// The files a grid is written to: the ESRI ASCII grid, and the world file that
// puts the plan image on the map.

#include <gtest/gtest.h>

#include <cmath>

#include "analysis/Grid.h"
#include "analysis/WorldFile.h"
#include "engine/Location.h"
#include "platform/Prompt.h"
#include "platform/Sound.h"
#include "survey/SiteProjection.h"

namespace ketrion::analysis {
namespace {

TEST(GridFiles, AsciiGridHeaderThenRowsFromTheTopWithTwoDecimals) {
    Grid grid(3, 2, 4);
    grid.At(0, 0) = -67.125;
    grid.At(1, 0) = -0.001;  // never "-0.00"
    grid.At(2, 0) = -100;
    grid.At(1, 1) = 3;
    EXPECT_EQ(EsriAsciiGrid(grid),
              "ncols 3\n"
              "nrows 2\n"
              "xllcorner 0\n"
              "yllcorner -8\n"
              "cellsize 4\n"
              "NODATA_value -9999\n"
              "-67.13 0.00 -100.00\n"
              "-9999 3.00 -9999\n");
}

TEST(GridFiles, ShareOfValuedNodesAtOrAboveAThreshold) {
    Grid grid(4, 1, 1);
    grid.At(0, 0) = -60;
    grid.At(1, 0) = -67;
    grid.At(2, 0) = -80;
    EXPECT_DOUBLE_EQ(ShareAtLeast(grid, -67), 2.0 / 3.0);
    EXPECT_DOUBLE_EQ(ShareAtLeast(grid, -75), 2.0 / 3.0);
    EXPECT_DOUBLE_EQ(ShareAtLeast(Grid(2, 2, 1), -67), 0.0);
    EXPECT_EQ(CellsCovering(10, 4), 3);
    EXPECT_EQ(CellsCovering(0, 4), 0);
    EXPECT_TRUE(GridFits(4000, 3000, 4));
    EXPECT_TRUE(GridFits(8000, 6000, 1));
    EXPECT_FALSE(GridFits(10000, 10000, 1));
}

class WorldFileTest : public ::testing::Test {
protected:
    CLocation location;
    StderrPrompt prompt;
    NullSound sound;
    CSiteProjection projection{prompt, sound};
};

TEST_F(WorldFileTest, ControlPointLandsWithinAPixel) {
    // A rotated, sheared plan of about 0.1 m per pixel near 40 N 74.5 W.
    {
        PlanMap planMap = projection.Map();
        planMap.xLat = -210000;
        planMap.xLon = 890000;
        planMap.xOrigin = 0;
        planMap.yLat = -1100000;
        planMap.yLon = -95000;
        planMap.yOrigin = 0;
        projection.SetMap(planMap);
    }
    const double lat = 40.7128, lon = -74.0060;
    // Put that point at plan (1234.5, 876.25).
    {
        PlanMap planMap = projection.Map();
        planMap.xOrigin = 1234.5 - (lat * planMap.xLat + lon * planMap.xLon);
        planMap.yOrigin = 876.25 - (lat * planMap.yLat + lon * planMap.yLon);
        projection.SetMap(planMap);
    }
    const auto world = MakeWorldFile(projection);
    ASSERT_TRUE(world);
    // The program puts the stored position on pixel (PlanX, PlanY); the world
    // file's centre of that pixel must be within a pixel of the position.
    const int latUnits = static_cast<int>(std::lround(lat * 3600000));
    const int lonUnits = static_cast<int>(std::lround(lon * 3600000));
    const int px = projection.PlanX(latUnits, lonUnits);
    const int py = projection.PlanY(latUnits, lonUnits);
    EXPECT_EQ(px, 1234);
    EXPECT_EQ(py, 876);
    const double wLon = world->Longitude(px + 0.5, py + 0.5);
    const double wLat = world->Latitude(px + 0.5, py + 0.5);
    const double backX =
        wLat * projection.Map().xLat + wLon * projection.Map().xLon + projection.Map().xOrigin;
    const double backY =
        wLat * projection.Map().yLat + wLon * projection.Map().yLon + projection.Map().yOrigin;
    EXPECT_LE(std::fabs(backX - 1234.5), 1.0);
    EXPECT_LE(std::fabs(backY - 876.25), 1.0);
    // The text is the six numbers a, d, b, e, c, f as GIS readers take them:
    // lon = a * col + b * row + c, lat = d * col + e * row + f.
    double a, d, b, e, c, f;
    ASSERT_EQ(std::sscanf(world->Text().c_str(), "%lf %lf %lf %lf %lf %lf", &a, &d, &b, &e, &c, &f),
              6);
    EXPECT_NEAR(a * px + b * py + c, lon, 2e-6);
    EXPECT_NEAR(d * px + e * py + f, lat, 2e-6);
}

TEST_F(WorldFileTest, NorthUpPlanHasNoRotationTerms) {
    {
        PlanMap planMap = projection.Map();
        planMap.xLon = 1000;
        planMap.xOrigin = 75000;
        planMap.yLat = -1000;
        planMap.yOrigin = 41000;
        projection.SetMap(planMap);
    }
    const auto world = MakeWorldFile(projection);
    ASSERT_TRUE(world);
    EXPECT_DOUBLE_EQ(world->a, 0.001);
    EXPECT_DOUBLE_EQ(world->e, -0.001);
    EXPECT_EQ(world->b, 0);
    EXPECT_EQ(world->d, 0);
    EXPECT_DOUBLE_EQ(world->c, -74.9995);  // centre of pixel (0, 0)
    EXPECT_DOUBLE_EQ(world->f, 40.9995);
}

TEST_F(WorldFileTest, MapsThatCannotBeInvertedAreRefused) {
    EXPECT_FALSE(MakeWorldFile(projection));  // no projection: everything on (0, 0)
    {
        PlanMap planMap = projection.Map();
        planMap.xLat = 2;
        planMap.xLon = 4;
        planMap.yLat = 1;
        planMap.yLon = 2;  // rows proportional: the earth onto a line
        projection.SetMap(planMap);
    }
    EXPECT_FALSE(MakeWorldFile(projection));
    {
        PlanMap planMap = projection.Map();
        planMap.yLon = NAN;
        projection.SetMap(planMap);
    }
    EXPECT_FALSE(MakeWorldFile(projection));
    {
        PlanMap planMap = projection.Map();
        planMap.yLon = 3;
        projection.SetMap(planMap);
    }
    EXPECT_TRUE(MakeWorldFile(projection));
}

}  // namespace
}  // namespace ketrion::analysis
