// Floors assigned to access points in a simulated five-floor building: 20
// access points at random places, four a floor, 15 dB a floor slab, one walk
// a floor written as collection files and read back through a site. At least
// 95 % must land on their true floor; the share is printed.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>

#include "site/FloorAssignment.h"
#include "site/FloorSurvey.h"
#include "site/SiteEditor.h"
#include "support/ScratchFiles.h"
#include "support/SiteFixtures.h"

namespace ketrion::site {
namespace {

constexpr int kFloors = 5;
constexpr int kApsPerFloor = 4;

TEST(FloorAssignment, SimulatedBuildingPutsAccessPointsOnTheirFloors) {
    scratch::ScratchDir dir;
    std::filesystem::copy_file(testing::SamplePlan(), dir / "plan.ktp");
    std::size_t right = 0, total = 0;
    for (std::uint32_t building = 1; building <= 3; ++building) {
        SCOPED_TRACE(building);
        sim::Scenario scenario = sim::DefaultScenario();
        scenario.floorLoss = 15;
        scenario.accessPoints.clear();
        std::mt19937 rng(building);
        std::uniform_real_distribution<double> lat(52.20505, 52.20595), lon(0.12005, 0.12195);
        for (int level = 0; level < kFloors; ++level)
            for (int k = 0; k < kApsPerFloor; ++k) {
                sim::AccessPoint ap;
                ap.mac = {2,
                          0,
                          0,
                          static_cast<std::uint8_t>(building),
                          static_cast<std::uint8_t>(level),
                          static_cast<std::uint8_t>(k)};
                ap.ssid = "AP";
                ap.lat = lat(rng);
                ap.lon = lon(rng);
                ap.level = level;
                scenario.accessPoints.push_back(ap);
            }
        Site site;
        const std::string sitePath = dir / ("b" + std::to_string(building) + ".kts");
        SiteEditor editor(site, sitePath);
        std::string error;
        for (int level = 0; level < kFloors; ++level) {
            const std::string name = "L" + std::to_string(level);
            const std::string walk = dir / (std::to_string(building) + name + ".ktd");
            sim::WalkRequest request;
            request.level = level;
            request.spacing = 5;
            request.seed = building * 10 + static_cast<std::uint32_t>(level);
            request.startUtc = 1767268800;
            ASSERT_TRUE(sim::WriteWalk(walk, scenario, sim::WalkFloor(scenario, request), error));
            ASSERT_TRUE(editor.AddFloor("B", name, level, 4.0 * level, dir / "plan.ktp", error))
                << error;
            ASSERT_TRUE(editor.AddCollection(name, walk, "", true, error)) << error;
        }
        std::vector<FloorSurvey> floors;
        for (const Floor& floor : site.buildings[0].floors)
            floors.push_back(LoadFloorSurvey(sitePath, floor, {}));
        std::vector<const analysis::SurveyRecords*> records;
        for (const FloorSurvey& f : floors)
            records.push_back(&f.records);
        const std::vector<ApFloor> assigned = AssignFloors(records);
        ASSERT_EQ(assigned.size(), static_cast<std::size_t>(kFloors * kApsPerFloor));
        for (const ApFloor& ap : assigned) {
            ++total;
            right += ap.floor == ap.mac[4] ? 1 : 0;
            // Bleed on the floor above lists it as from its own floor.
            if (ap.floor + 1 < static_cast<std::size_t>(kFloors) && ap.floor == ap.mac[4]) {
                bool listed = false;
                for (const Bleed& b : BleedOn(ap.floor + 1, assigned))
                    listed = listed || (b.mac == ap.mac && b.home == ap.floor);
                EXPECT_TRUE(listed);
            }
        }
    }
    const double share = 100.0 * static_cast<double>(right) / static_cast<double>(total);
    std::printf("access points on their true floor: %zu of %zu (%.1f %%)\n", right, total, share);
    EXPECT_GE(share, 95.0);
}

}  // namespace
}  // namespace ketrion::site
