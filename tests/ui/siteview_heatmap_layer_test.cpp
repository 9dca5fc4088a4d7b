// The heatmap layer's computation: points placed on their file's records, the
// worker thread, stale results, the throttle and cancelling.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "support/QtTestApp.h"
#include "support/SiteViewWorld.h"
#include "ui/siteview/HeatmapLayer.h"
#include "ui/siteview/HeatmapWorker.h"

namespace ketrion::testing {
namespace {

using analysis::Metric;

CSiteData::_tap Tap(int x, int y, int signal, std::int64_t offset, int kind = 0) {
    CSiteData::_tap tap;
    tap.x = x;
    tap.y = y;
    tap.signal = static_cast<std::int16_t>(signal);
    tap.kind = static_cast<std::uint8_t>(kind);
    tap.offset = offset;
    return tap;
}

analysis::SurveyPoint Record(std::int64_t offset, int signal) {
    analysis::SurveyPoint point;
    point.offset = offset;
    analysis::Reading reading;
    reading.mac = {1, 2, 3, 4, 5, 6};
    reading.signal = static_cast<std::int16_t>(signal * 256);
    reading.ssid = "office";
    point.readings.push_back(reading);
    return point;
}

TEST(HeatmapPlacing, PointsMeetTheirRecordsByOffsetAndDynamicApsStayOut) {
    analysis::SurveyRecords records;
    records.points = {Record(33, -50), Record(94, -60), Record(200, -70)};
    // The record at 94 is a dynamic access point; the one at 300 is not in
    // the file yet (being appended).
    const std::vector<CSiteData::_tap> taps = {Tap(10, 20, -50, 33), Tap(5, 5, -100, 94, 1),
                                               Tap(30, 40, -70, 200), Tap(50, 60, -40, 300)};

    const analysis::PlacedSurvey kept = PlaceViewPoints(taps, records, true);
    ASSERT_EQ(kept.points.size(), 3u);
    EXPECT_EQ(kept.points[0].x, 10);
    EXPECT_EQ(kept.Record(kept.points[0]).offset, 33);
    EXPECT_EQ(kept.Record(kept.points[1]).offset, 200);
    EXPECT_EQ(kept.Record(kept.points[1]).readings.size(), 1u);
    // The unmatched point keeps its place and signal, without readings.
    EXPECT_EQ(kept.points[2].strongest, -40);
    EXPECT_TRUE(kept.Record(kept.points[2]).readings.empty());

    const analysis::PlacedSurvey dropped = PlaceViewPoints(taps, records, false);
    ASSERT_EQ(dropped.points.size(), 2u);
    EXPECT_EQ(dropped.Record(dropped.points[1]).offset, 200);

    // Records lost at the file's end (a cut file) leave every point unmatched.
    const analysis::PlacedSurvey none = PlaceViewPoints(taps, {}, false);
    EXPECT_TRUE(none.points.empty());
}

TEST(HeatmapPlacing, DeletedPointsStayOut) {
    analysis::SurveyRecords records;
    records.points = {Record(33, -50), Record(94, -60), Record(200, -70)};
    std::vector<CSiteData::_tap> taps = {Tap(10, 20, -50, 33), Tap(5, 5, -60, 94),
                                         Tap(30, 40, -70, 200)};
    taps[0].deleted = true;
    taps[2].deleted = true;
    for (const bool keepUnmatched : {true, false}) {
        const analysis::PlacedSurvey placed = PlaceViewPoints(taps, records, keepUnmatched);
        ASSERT_EQ(placed.points.size(), 1u);
        EXPECT_EQ(placed.Record(placed.points[0]).offset, 94);
    }
}

class HeatmapCompute : public ::testing::Test {
protected:
    HeatmapCompute() {
        TestApplication();
        world.ChooseCollection("heat.ktd");
    }
    HeatmapInput Input(Metric metric) {
        HeatmapInput input;
        input.points = world.Points();
        input.path = world.data.Path();
        input.planWidth = 400;
        input.planHeight = 300;
        input.spec.metric = metric;
        input.includeNoFix = true;  // the world's board has no fix
        return input;
    }
    SiteViewWorld world;
};

TEST_F(HeatmapCompute, GridImageAndChoicesComeFromTheRecordedFile) {
    world.AddSurveyPoint(100, 100, -50);  // access point ...:01
    world.AddSurveyPoint(300, 100, -70);  // access point ...:02
    const std::atomic<bool> cancel{false};

    HeatmapResult strongest = ComputeHeatmap(Input(Metric::Strongest), cancel);
    ASSERT_FALSE(strongest.cancelled);
    EXPECT_EQ(strongest.points, 2u);
    ASSERT_EQ(strongest.grid.columns, 100);
    ASSERT_EQ(strongest.grid.rows, 75);
    EXPECT_EQ(strongest.image.size(), QSize(100, 75));
    // Node (24, 24) lies within the cell of the first point at (98, 98).
    EXPECT_NEAR(strongest.grid.At(24, 24), -50.0, 3.0);
    EXPECT_EQ(strongest.grid.At(99, 74), analysis::Grid::kNoData);
    EXPECT_EQ(qAlpha(strongest.image.pixel(99, 74)), 0);
    EXPECT_EQ(qAlpha(strongest.image.pixel(24, 24)), 255);
    ASSERT_EQ(strongest.aps.size(), 2u);
    EXPECT_EQ(strongest.networks, std::vector<std::string>{"net"});

    HeatmapInput one = Input(Metric::Ap);
    one.spec.mac = strongest.aps[1].mac;
    const HeatmapResult ap = ComputeHeatmap(one, cancel);
    // The first point did not hear the second access point: -100 there.
    EXPECT_NEAR(ap.grid.At(24, 24), -100.0, 1.0);
    EXPECT_NEAR(ap.grid.At(75, 24), -70.0, 1.0);
}

// The board's readings carry no band or channel: a band's or the channel
// overlap's map says so rather than showing an empty map.
TEST_F(HeatmapCompute, BandAndChannelMapsOfReadingsWithoutThemHaveNoGrid) {
    world.AddSurveyPoint(100, 100, -50);
    world.AddSurveyPoint(300, 100, -70);
    const std::atomic<bool> cancel{false};
    struct Case {
        const char* legend;
        Metric metric;
        std::optional<analysis::Band> band;
        bool unknown;
    };
    const Case cases[] = {
        {"strongest, all bands", Metric::Strongest, std::nullopt, false},
        {"strongest on 5 GHz", Metric::Strongest, analysis::Band::Ghz5, true},
        {"channel overlap", Metric::ChannelOverlap, std::nullopt, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        HeatmapInput input = Input(c.metric);
        input.spec.band = c.band;
        const HeatmapResult result = ComputeHeatmap(input, cancel);
        EXPECT_EQ(result.bandUnknown, c.unknown);
        EXPECT_EQ(result.image.isNull(), c.unknown);
    }
}

TEST_F(HeatmapCompute, ASetCancelFlagReturnsNoGrid) {
    world.AddSurveyPoint(100, 100, -50);
    const std::atomic<bool> cancel{true};
    const HeatmapResult result = ComputeHeatmap(Input(Metric::Strongest), cancel);
    EXPECT_TRUE(result.cancelled);
    EXPECT_TRUE(result.image.isNull());
}

class Layer : public ::testing::Test {
protected:
    Layer() {
        TestApplication();
        world.ChooseCollection("layer.ktd");
        layer = std::make_unique<HeatmapLayer>(world.data, world.projection,
                                               [] { return QSize(400, 300); });
        layer->SetClock([this] { return now.load(); });
        layer->SetIncludeNoFix(true);  // the world's board has no fix
    }
    bool WaitIdle() {
        return ProcessEventsUntil([&] { return !layer->IsComputing(); });
    }
    SiteViewWorld world;
    std::atomic<qint64> now{0};
    std::unique_ptr<HeatmapLayer> layer;
};

TEST_F(Layer, ComputesOnAnotherThreadAndOnlyWhenShown) {
    world.AddSurveyPoint(100, 100, -50);
    std::thread::id computedOn;
    layer->SetCompute([&](const HeatmapInput& input, const std::atomic<bool>& cancel) {
        computedOn = std::this_thread::get_id();
        return ComputeHeatmap(input, cancel);
    });
    layer->Recheck();
    EXPECT_EQ(layer->StartedCount(), 0);  // off by default

    int changes = 0;
    QObject::connect(layer.get(), &HeatmapLayer::changed, [&] { ++changes; });
    layer->SetEnabled(true);
    ASSERT_TRUE(ProcessEventsUntil([&] { return layer->HasResult(); }));
    EXPECT_NE(computedOn, std::thread::id());
    EXPECT_NE(computedOn, std::this_thread::get_id());
    EXPECT_EQ(layer->Result().points, 1u);
    EXPECT_GE(changes, 2);  // shown, then the result

    // Nothing changed: polling starts nothing new.
    layer->Recheck();
    EXPECT_EQ(layer->StartedCount(), 1);
}

TEST_F(Layer, AResultForAnOlderSurveyIsDropped) {
    world.AddSurveyPoint(100, 100, -50);
    std::atomic<bool> release{false};
    std::atomic<int> running{0};
    layer->SetCompute([&](const HeatmapInput& input, const std::atomic<bool>& cancel) {
        ++running;
        while (!release.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return ComputeHeatmap(input, cancel);
    });
    layer->SetThrottle(0);
    layer->SetEnabled(true);
    ASSERT_TRUE(ProcessEventsUntil([&] { return running.load() == 1; }));

    // A point arrives while the first computation runs: a new generation,
    // waiting for the running one.
    const std::uint64_t first = layer->Generation();
    world.AddSurveyPoint(300, 100, -70);
    layer->Recheck();
    EXPECT_GT(layer->Generation(), first);
    EXPECT_EQ(layer->StartedCount(), 1);

    release = true;
    ASSERT_TRUE(ProcessEventsUntil([&] { return layer->HasResult(); }));
    EXPECT_EQ(layer->DroppedCount(), 1);
    EXPECT_EQ(layer->StartedCount(), 2);
    EXPECT_EQ(layer->Result().points, 2u);
    EXPECT_EQ(layer->Result().generation, layer->Generation());
}

TEST_F(Layer, NewPointsAreThrottledAndCoalesced) {
    world.AddSurveyPoint(100, 100, -50);
    layer->SetEnabled(true);
    ASSERT_TRUE(ProcessEventsUntil([&] { return layer->HasResult(); }));
    ASSERT_EQ(layer->StartedCount(), 1);

    now = 500;
    world.AddSurveyPoint(200, 100, -60);
    layer->Recheck();
    now = 1500;
    world.AddSurveyPoint(300, 100, -70);
    layer->Recheck();
    EXPECT_EQ(layer->StartedCount(), 1);  // within the interval of the first start

    now = HeatmapLayer::kThrottleMs;
    layer->Recheck();
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(layer->StartedCount(), 2);  // one run for both points
    EXPECT_EQ(layer->Result().points, 3u);
}

TEST_F(Layer, ASettingChangeCancelsTheRunAndStartsAtOnce) {
    world.AddSurveyPoint(100, 100, -50);
    std::atomic<int> cancelled{0};
    layer->SetCompute([&](const HeatmapInput& input, const std::atomic<bool>& cancel) {
        if (input.spec.metric == Metric::Strongest) {
            while (!cancel.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ++cancelled;
        }
        return ComputeHeatmap(input, cancel);
    });
    layer->SetEnabled(true);
    ASSERT_TRUE(ProcessEventsUntil([&] { return layer->IsComputing(); }));

    analysis::MetricSpec count;
    count.metric = Metric::Count;
    layer->SetSpec(count);  // no throttle: the clock has not moved
    ASSERT_TRUE(ProcessEventsUntil([&] { return layer->HasResult(); }));
    EXPECT_EQ(cancelled.load(), 1);
    EXPECT_EQ(layer->StartedCount(), 2);
    EXPECT_EQ(layer->Result().scale.Title(), QStringLiteral("Access points at -80 dBm or better"));

    // The same choice again is no change.
    layer->SetSpec(count);
    EXPECT_EQ(layer->StartedCount(), 2);
}

TEST_F(Layer, DestroyingWhileComputingStopsTheWorker) {
    world.AddSurveyPoint(100, 100, -50);
    std::atomic<bool> sawCancel{false};
    layer->SetCompute([&](const HeatmapInput& input, const std::atomic<bool>& cancel) {
        while (!cancel.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        sawCancel = true;
        return ComputeHeatmap(input, cancel);
    });
    layer->SetEnabled(true);
    ASSERT_TRUE(ProcessEventsUntil([&] { return layer->IsComputing(); }));
    layer.reset();
    EXPECT_TRUE(sawCancel.load());
    // The result posted on the way out goes nowhere.
    QCoreApplication::processEvents();
}

TEST_F(Layer, HidingCancelsAndShowingAgainRecomputes) {
    world.AddSurveyPoint(100, 100, -50);
    layer->SetEnabled(true);
    ASSERT_TRUE(WaitIdle());
    ASSERT_TRUE(layer->HasResult());
    layer->SetEnabled(false);
    world.AddSurveyPoint(200, 100, -60);
    layer->Recheck();
    EXPECT_EQ(layer->StartedCount(), 1);
    layer->SetEnabled(true);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(layer->StartedCount(), 2);
    EXPECT_EQ(layer->Result().points, 2u);
}

}  // namespace
}  // namespace ketrion::testing
