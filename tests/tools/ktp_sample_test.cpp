// The committed sample site: its projection file loads as the program loads
// it, and the simulator scenario's walking track and access points land on
// the plan where the drawing puts corridors and rooms.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "engine/Location.h"
#include "support/RecordingPrompt.h"
#include "support/RecordingSound.h"
#include "support/ScratchFiles.h"
#include "survey/SiteProjection.h"

namespace ketrion {
namespace {

using scratch::Bytes;

const std::string kSample = std::string(KETRION_SOURCE_DIR) + "/resources/sample/";

std::uint32_t Le32(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 |
           static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// Stored GPS units (1/3,600,000 degree) of a position in degrees.
int Units(double degrees) {
    return static_cast<int>(std::lround(degrees * 3.6e6));
}

class SampleSiteTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Loading writes the block and bitmap beside the file: work on a copy.
        std::filesystem::copy_file(kSample + "site.ktp", dir / "site.ktp");
        ASSERT_TRUE(projection.LoadProjection(dir / "site.ktp"));
        ASSERT_TRUE(prompt.Messages().empty());
        bitmap = scratch::ReadBytes(projection.BitmapPath());
        ASSERT_GE(bitmap.size(), 54u);
        std::ifstream json(kSample + "site.json");
        scenario = nlohmann::json::parse(json);
    }

    // Colour (r, g, b) of a plan pixel in the expanded 24-bit bottom-up bitmap.
    std::uint32_t Pixel(int x, int y) const {
        const std::size_t width = Le32(bitmap, 18);
        const std::size_t height = Le32(bitmap, 22);
        const std::size_t row = (width * 3 + 3) & ~std::size_t{3};
        const std::size_t at = Le32(bitmap, 10) + (height - 1 - static_cast<std::size_t>(y)) * row +
                               3 * static_cast<std::size_t>(x);
        return static_cast<std::uint32_t>(bitmap[at + 2]) << 16 | bitmap[at + 1] << 8 | bitmap[at];
    }

    scratch::ScratchDir dir;
    CLocation location;
    RecordingPrompt prompt;
    RecordingSound sound;
    CSiteProjection projection{prompt, sound};
    Bytes bitmap;
    nlohmann::json scenario;
};

TEST_F(SampleSiteTest, PlanIsA960By720Bitmap) {
    EXPECT_EQ(bitmap[0], 'B');
    EXPECT_EQ(bitmap[1], 'M');
    EXPECT_EQ(Le32(bitmap, 18), 960u);
    EXPECT_EQ(Le32(bitmap, 22), 720u);
    EXPECT_EQ(bitmap[28], 24);
    EXPECT_EQ(Le32(bitmap, 2), bitmap.size());
    // The corners of the geographic box are the corners of the plan.
    EXPECT_EQ(projection.PlanX(Units(52.206), Units(0.120)), 0);
    EXPECT_EQ(projection.PlanY(Units(52.206), Units(0.120)), 0);
    EXPECT_EQ(projection.PlanX(Units(52.205), Units(0.122)), 960);
    EXPECT_EQ(projection.PlanY(Units(52.205), Units(0.122)), 720);
}

TEST_F(SampleSiteTest, TrackRunsAlongCorridors) {
    constexpr std::uint32_t kCorridor = 0xF4EFE4;  // the corridor floor colour
    const auto& waypoints = scenario["track"]["waypoints"];
    ASSERT_FALSE(waypoints.empty());
    for (const auto& w : waypoints) {
        const int lat = Units(w["lat"].get<double>());
        const int lon = Units(w["lon"].get<double>());
        const int x = projection.PlanX(lat, lon);
        const int y = projection.PlanY(lat, lon);
        SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
        ASSERT_TRUE(x >= 0 && x < 960 && y >= 0 && y < 720);
        EXPECT_EQ(Pixel(x, y), kCorridor);
    }
}

TEST_F(SampleSiteTest, AccessPointsInsideTheBuilding) {
    for (const auto& ap : scenario["accessPoints"]) {
        const int lat = Units(ap["lat"].get<double>());
        const int lon = Units(ap["lon"].get<double>());
        const int x = projection.PlanX(lat, lon);
        const int y = projection.PlanY(lat, lon);
        SCOPED_TRACE(ap["ssid"].get<std::string>());
        // The outer wall runs round (40, 40) - (920, 680).
        EXPECT_GT(x, 40);
        EXPECT_LT(x, 920);
        EXPECT_GT(y, 40);
        EXPECT_LT(y, 680);
    }
}

}  // namespace
}  // namespace ketrion
