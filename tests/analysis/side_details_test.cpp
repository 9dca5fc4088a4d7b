// The side store joined to a collection file's records, the points a
// selection uses, the band filter, and the channel-overlap metric.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "analysis/ChannelOverlap.h"
#include "analysis/Metrics.h"
#include "analysis/Selection.h"
#include "analysis/SideDetails.h"
#include "support/SiteDataFixture.h"
#include "survey/SideStore.h"

namespace ketrion::analysis {
namespace {

using testing::FileBuilder;
using testing::TempDir;

ReadingDetails On(Band band, std::optional<int> frequency, std::optional<int> width = {},
                  std::optional<int> channel = {}) {
    ReadingDetails d;
    d.band = band;
    d.frequencyMhz = frequency;
    d.widthMhz = width;
    d.channel = channel;
    return d;
}

bool Overlap(const ReadingDetails& a, const ReadingDetails& b) {
    const auto sa = SpanOf(a);
    const auto sb = SpanOf(b);
    EXPECT_TRUE(sa && sb);
    return sa && sb && Overlaps(*sa, *sb) && Overlaps(*sb, *sa);
}

TEST(ChannelOverlap, WhichChannelsShareAirtime) {
    const Band b24 = Band::Ghz24, b5 = Band::Ghz5, b6 = Band::Ghz6;
    struct Case {
        const char* what;
        ReadingDetails a, b;
        bool overlap;
    };
    const Case cases[] = {
        {"2.4: 1 and 5 (20 MHz apart)", On(b24, 2412), On(b24, 2432), true},
        {"2.4: 1 and 6", On(b24, 2412), On(b24, 2437), false},
        {"2.4: 14 and 11 (22 MHz apart)", On(b24, 2484), On(b24, 2462), true},
        {"2.4: 14 and 10", On(b24, 2484), On(b24, 2457), false},
        {"2.4: the width is not used", On(b24, 2412, 40), On(b24, 2452, 40), false},
        {"2.4: channel and band without frequency", On(b24, {}, {}, 3), On(b24, 2412), true},
        {"5: the same channel", On(b5, 5180), On(b5, 5180), true},
        {"5: 36 and 40 at 20 MHz", On(b5, 5180, 20), On(b5, 5200, 20), false},
        {"5: 36 inside 44's 80 MHz block", On(b5, 5180), On(b5, 5220, 80), true},
        {"5: 36/40 and 44/40", On(b5, 5180, 40), On(b5, 5220, 40), false},
        {"5: 149/80 covers 161", On(b5, 5745, 80), On(b5, 5805), true},
        {"5: 144/80 and 149 (grid restarts at 149)", On(b5, 5720, 80), On(b5, 5745), false},
        {"5: 100/160 covers 128", On(b5, 5500, 160), On(b5, 5640), true},
        {"5: 100/160 and 132", On(b5, 5500, 160), On(b5, 5660), false},
        {"5: 165/160 block 149-177", On(b5, 5825, 160), On(b5, 5745), true},
        {"6: 1 and 5 at 20 MHz", On(b6, 5955), On(b6, 5975), false},
        {"6: 1/80 covers 13", On(b6, 5955, 80), On(b6, 6015), true},
        {"6: 1/80 and 17", On(b6, 5955, 80), On(b6, 6035), false},
        {"6: 37/160 covers 33", On(b6, 6135, 160), On(b6, 6115), true},
        {"6: channel 2 stays 20 MHz", On(b6, 5935, 160), On(b6, 5955), false},
        {"6: channel number alone", On(b6, {}, {}, 5), On(b6, 5975), true},
        {"bands never overlap", On(b5, 5180), On(b6, 5955, 160), false},
        {"band from the frequency", On(Band::Unknown, 2437), On(b24, 2447), true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Overlap(c.a, c.b), c.overlap) << c.what;

    EXPECT_FALSE(SpanOf(On(Band::Unknown, {}, {}, 6))) << "a channel without a band";
    EXPECT_FALSE(SpanOf(On(b5, {}, {}, 0)));
    EXPECT_FALSE(SpanOf(ReadingDetails{}));
}

Reading R(std::uint8_t last, double dbm, std::optional<ReadingDetails> details) {
    Reading r;
    r.mac = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, last};
    r.signal = static_cast<std::int16_t>(std::lround(dbm * 256));
    r.details = std::move(details);
    return r;
}

TEST(ChannelOverlap, CountsOtherAccessPointsAboveTheFloorOnTheStrongestOnesChannel) {
    const Band b24 = Band::Ghz24;
    SurveyPoint p;
    p.readings = {
        R(1, -50, On(b24, 2437)),         // serving: channel 6
        R(2, -70, On(b24, 2447)),         // channel 8: counts
        R(2, -75, On(b24, 2447)),         // the same access point again: once
        R(3, -60, On(b24, 2462)),         // channel 11: 25 MHz away, no
        R(4, -82, On(b24, 2422)),         // channel 3 at exactly -82: not above
        R(5, -81.5, On(b24, 2422)),       // channel 3 just above: counts
        R(6, -55, std::nullopt),          // no details: unknown channel
        R(7, -65, On(Band::Ghz5, 5180)),  // another band
        R(1, -52, On(b24, 2437)),         // the serving one again
        R(8, -90, On(b24, 2437)),         // same channel, too weak
    };
    EXPECT_EQ(ChannelOverlapAt(p), 2);

    MetricSpec spec;
    spec.metric = Metric::ChannelOverlap;
    EXPECT_EQ(PointValue(p, p.Strongest(), spec), 2);

    // The serving access point's channel unknown: no value; nothing heard: 0.
    SurveyPoint unknown;
    unknown.readings = {R(1, -40, std::nullopt), R(2, -50, On(b24, 2437))};
    EXPECT_TRUE(std::isnan(ChannelOverlapAt(unknown)));
    EXPECT_EQ(ChannelOverlapAt(SurveyPoint{}), 0);
}

TEST(BandFilter, EveryMetricSeesOnlyTheBandsReadings) {
    PlacedSurvey survey;
    SurveyPoint p;
    p.readings = {R(1, -40, On(Band::Ghz5, 5180)), R(2, -50, On(Band::Ghz24, 2437)),
                  R(3, -45, std::nullopt), R(4, -60, On(Band::Ghz24, 2447))};
    survey.records.points = {p, SurveyPoint{}};
    survey.points = {PlacedPoint{5, 5, -40, 0}, PlacedPoint{50, 5, kWeakestSignal, 1}};

    MetricSpec spec;
    auto values = [&] {
        std::vector<double> out;
        for (const Sample& s : MetricSamples(survey, spec))
            out.push_back(s.value);
        return out;
    };
    EXPECT_EQ(values(), (std::vector<double>{-40, -100}));
    spec.band = Band::Ghz24;
    EXPECT_EQ(values(), (std::vector<double>{-50, -100}));
    spec.band = Band::Ghz6;
    EXPECT_EQ(values(), (std::vector<double>{-100, -100}));
    spec.band = Band::Ghz24;
    spec.metric = Metric::Count;
    EXPECT_EQ(values(), (std::vector<double>{2, 0}));
    spec.metric = Metric::ChannelOverlap;
    EXPECT_EQ(values(), (std::vector<double>{1, 0}));
    // Without a band the strongest (unknown channel) serves: the point has no value.
    spec.band.reset();
    survey.records.points[0].readings[0].details.reset();
    EXPECT_EQ(values(), (std::vector<double>{0}));

    EXPECT_EQ(ParseBand("2.4"), Band::Ghz24);
    EXPECT_EQ(ParseBand("6"), Band::Ghz6);
    EXPECT_FALSE(ParseBand("2.4 GHz"));
    EXPECT_FALSE(ParseBand(""));
}

SideStore::Point SidePoint(std::int64_t offset, const char* method, const char* fixFlag = "") {
    SideStore::Point p;
    p.offset = offset;
    p.method = method;
    p.fixFlag = fixFlag;
    return p;
}

SideStore::Reading SideReading(int index, const char* bssid) {
    SideStore::Reading r;
    r.index = index;
    r.bssid = bssid;
    return r;
}

class SideJoin : public ::testing::Test {
protected:
    // Points at offsets 33 (two readings), 176 (one), 278 (one), 380 (one).
    void WriteCollection() {
        testing::WriteBytes(path, FileBuilder()
                                      .Location(144000000, -268200000, 2)
                                      .Reading(-72 * 256, 0x5E, "LAB1")
                                      .Reading(-60 * 256, 0x01, "GUEST")
                                      .Location(3600000, 3600000, 1)
                                      .Reading(-50 * 256, 0x02, "B")
                                      .Location(3600000, 3600000, 1)
                                      .Reading(-50 * 256, 0x03, "C")
                                      .Location(3600000, 3600000, 1)
                                      .Reading(-50 * 256, 0x04, "D")
                                      .bytes());
    }
    std::unique_ptr<SideStore> Store() {
        const testing::Bytes bytes = testing::ReadBytes(path);
        std::string message;
        auto store = SideStore::OpenForWriting(path, SideIdentity(path, bytes.data()), &message);
        EXPECT_NE(store, nullptr) << message;
        return store;
    }
    SurveyRecords Read(std::string* message) {
        SurveyRecords records;
        EXPECT_EQ(ReadSurveyRecords(path, records), ReadResult::Complete) << records.damage;
        AttachSideDetails(records, message);
        return records;
    }

    TempDir dir;
    std::string path = dir.File("site.ktd");
};

TEST_F(SideJoin, DetailsJoinOnlyTheReadingsTheyName) {
    WriteCollection();
    {
        auto store = Store();
        ASSERT_NE(store, nullptr);
        SideStore::Point first = SidePoint(33, "gpsd");
        first.ephMetres = 4.75;
        first.altitudeMetres = -12.5;
        first.planX = 10.5;
        first.planY = 20.25;
        SideStore::Reading lab = SideReading(0, "00:1A:2B:3C:4D:5E");
        lab.frequencyMhz = 5180;
        lab.channel = 36;
        lab.band = "5 GHz";  // an older store's wording
        lab.security = "wpa2";
        lab.phy = "ax";
        lab.widthMhz = 80;
        // Names another access point than the file's second reading: out of step.
        SideStore::Reading other = SideReading(1, "00:1a:2b:3c:4d:99");
        other.channel = 11;
        // Not in the collection file: nothing to join it to.
        SideStore::Reading extra = SideReading(2, "aa:bb:cc:dd:ee:07");
        extra.inCollection = false;
        // Values no adapter reports are taken as unknown.
        SideStore::Reading odd = SideReading(0, "00:1a:2b:3c:4d:02");
        odd.frequencyMhz = -5;
        odd.channel = 4000;
        odd.widthMhz = 33;
        odd.band = "";
        std::string message;
        ASSERT_TRUE(store->WritePoint(first, {lab, other, extra}, &message)) << message;
        SideStore::Point second = SidePoint(176, "gpsd");
        second.ephMetres = std::nan("");
        ASSERT_TRUE(store->WritePoint(second, {odd}, &message)) << message;
        ASSERT_TRUE(store->WritePoint(SidePoint(9999, "gpsd"), {}, &message)) << message;
        ASSERT_TRUE(store->Close(&message)) << message;
    }
    std::string message;
    const SurveyRecords records = Read(&message);
    EXPECT_EQ(message, "");
    ASSERT_TRUE(records.sideDetails);
    ASSERT_EQ(records.points.size(), 4u);
    const SurveyPoint& p = records.points[0];
    ASSERT_TRUE(p.details);
    EXPECT_EQ(p.details->method, "gpsd");
    EXPECT_EQ(p.details->ephMetres, 4.75);
    EXPECT_EQ(p.details->altitudeMetres, -12.5);
    EXPECT_EQ(p.details->planX, 10.5);
    ASSERT_TRUE(p.readings[0].details);
    EXPECT_EQ(p.readings[0].details->frequencyMhz, 5180);
    EXPECT_EQ(p.readings[0].details->channel, 36);
    EXPECT_EQ(p.readings[0].details->band, Band::Ghz5);
    EXPECT_EQ(p.readings[0].details->security, "wpa2");
    EXPECT_EQ(p.readings[0].details->widthMhz, 80);
    EXPECT_FALSE(p.readings[1].details) << "a row naming another access point";

    const SurveyPoint& q = records.points[1];
    ASSERT_TRUE(q.details && q.readings[0].details);
    EXPECT_FALSE(q.details->ephMetres);
    EXPECT_FALSE(q.readings[0].details->frequencyMhz);
    EXPECT_FALSE(q.readings[0].details->channel);
    EXPECT_FALSE(q.readings[0].details->widthMhz);
    EXPECT_EQ(q.readings[0].details->band, Band::Unknown);
    EXPECT_FALSE(records.points[2].details);
}

TEST_F(SideJoin, MissingAndForeignStores) {
    WriteCollection();
    std::string message;
    SurveyRecords records = Read(&message);
    EXPECT_FALSE(records.sideDetails);
    EXPECT_EQ(message, "");
    EXPECT_FALSE(records.points[0].details);

    // A store of another collection file: one message, the file alone.
    {
        auto store = Store();
        ASSERT_NE(store, nullptr);
        ASSERT_TRUE(store->Close(&message)) << message;
    }
    testing::Bytes bytes = testing::ReadBytes(path);
    bytes[13] ^= 0xFF;  // another creation time
    testing::WriteBytes(path, bytes);
    records = Read(&message);
    EXPECT_FALSE(records.sideDetails);
    EXPECT_NE(message, "");
    EXPECT_EQ(records.points.size(), 4u);
}

TEST_F(SideJoin, SelectionLeavesOutDeletedAndUntrustedPoints) {
    WriteCollection();
    {
        auto store = Store();
        ASSERT_NE(store, nullptr);
        std::string message;
        SideStore::Point deleted = SidePoint(33, "gpsd");
        deleted.deleted = true;
        SideStore::Point stopped = SidePoint(176, "stop", "no-fix");  // the surveyor's click
        SideStore::Point stale = SidePoint(278, "gpsd", "stale");
        SideStore::Point provisional = SidePoint(380, "walk");
        provisional.provisional = true;
        ASSERT_TRUE(store->WritePoints({deleted, stopped, stale, provisional}, {}, &message))
            << message;
        ASSERT_TRUE(store->Close(&message)) << message;
    }
    std::string message;
    const SurveyRecords all = Read(&message);
    ASSERT_TRUE(all.sideDetails) << message;
    EXPECT_TRUE(all.points[1].HasPosition()) << "placed by the surveyor";
    EXPECT_FALSE(all.points[2].HasPosition());

    auto offsets = [](const std::vector<SurveyPoint>& points) {
        std::vector<std::int64_t> out;
        for (const SurveyPoint& p : points)
            out.push_back(p.offset);
        return out;
    };
    SurveyRecords records = all;
    LeftOut left = SelectPoints(records, Selection{});
    EXPECT_EQ(offsets(records.points), (std::vector<std::int64_t>{176}));
    EXPECT_EQ(left.deleted, 1u);
    EXPECT_EQ(left.noFix, 2u);
    records = all;
    left = SelectPoints(records, Selection{true});
    EXPECT_EQ(offsets(records.points), (std::vector<std::int64_t>{176, 278, 380}));
    EXPECT_EQ(left.Total(), 1u);
    // Numbers stay those of the file.
    EXPECT_EQ(records.points[0].number, 2);

    // A placed survey keeps each point on its own record.
    PlacedSurvey placed;
    placed.records = all;
    for (std::size_t i = 0; i < all.points.size(); ++i)
        placed.points.push_back(PlacedPoint{static_cast<int>(i), 0, -50, i});
    SelectPoints(placed, Selection{true});
    ASSERT_EQ(placed.points.size(), 3u);
    for (const PlacedPoint& p : placed.points)
        EXPECT_EQ(placed.Record(p).offset, all.points[static_cast<std::size_t>(p.x)].offset);
}

}  // namespace
}  // namespace ketrion::analysis
