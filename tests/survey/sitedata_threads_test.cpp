// The link thread records scans while the user-interface thread loads, selects,
// draws, places access points and starts readings. Meant to run under TSan too.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/SiteDataFixture.h"

namespace ketrion::testing {
namespace {

TEST(SiteDataThreads, ScansAndUserActionsInterleaveWithoutLosingPoints) {
    TempDir dir;
    SiteDataWorld w;
    const std::string path = dir.File("busy.ktd");
    w.data.SetPath(path);
    ASSERT_TRUE(w.data.NewCollection());

    constexpr int kScans = 60;
    std::atomic<int> recorded{0};
    std::atomic<bool> done{false};
    std::thread link([&] {
        for (int i = 0; i < kScans; ++i) {
            // What the engine does for a report and for the scan end.
            for (std::uint8_t k = 0; k < 3; ++k) {
                w.AddAp({{0, 0, 0, 0, static_cast<std::uint8_t>(i), k}, "ap", -60, 1, 0});
            }
            if (w.ScanEnd())
                ++recorded;
        }
        done = true;
    });

    int placed = 0;
    int round = 0;
    while (!done) {
        ++round;
        w.SetPosition(round, round);
        if (round % 5 == 0 && w.PlaceAp(-round, -round))
            ++placed;
        if (round % 7 == 0) {
            EXPECT_TRUE(w.data.LoadSurvey());
        }
        if (w.data.FindNearestPoint(round, round) == 0) {
            CSiteData::PointDetails details = w.data.SelectedPoint();
            EXPECT_EQ(details.lines.size(), details.point.readings);
        }
        std::int64_t lastOffset = -1;
        w.data.ForEachPoint([&](const CSiteData::_tap& p) {
            EXPECT_GT(p.offset, lastOffset);
            lastOffset = p.offset;
        });
        (void)w.data.PointCount();
        (void)w.data.m_bNoApHeard.load();
    }
    link.join();
    EXPECT_EQ(recorded, kScans);
    // The writer finishes what the link thread handed it.
    EXPECT_TRUE(w.data.Flush());
    EXPECT_TRUE(w.prompt.Messages().empty());

    // The file holds every point whole, in one consistent sequence.
    SiteDataWorld reader;
    reader.data.SetPath(path);
    ASSERT_TRUE(reader.data.LoadSurvey());
    auto points = reader.Points();
    ASSERT_EQ(points.size(), static_cast<std::size_t>(kScans + placed));
    std::int64_t expectedOffset = 33;
    for (const auto& p : points) {
        EXPECT_EQ(p.offset, expectedOffset);
        expectedOffset += 61 + 41 * p.readings;
    }
    EXPECT_EQ(static_cast<std::size_t>(expectedOffset), ReadBytes(path).size());
}

}  // namespace
}  // namespace ketrion::testing
