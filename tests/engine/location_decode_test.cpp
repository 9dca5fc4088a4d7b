#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "engine/Location.h"
#include "support/LinkFakes.h"

namespace ketrion {
namespace {

void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v >> 8);
    b[at + 1] = static_cast<std::uint8_t>(v);
}

void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i) {
        b[at + i] = static_cast<std::uint8_t>(u >> (24 - 8 * i));
    }
}

// A report of 5 March 2007 14:07:09 at the given raw position (1/3,600,000 degree).
std::vector<std::uint8_t> Report(std::int32_t lat, std::int32_t lon, std::uint8_t status) {
    std::vector<std::uint8_t> b(153, 0);
    std::memcpy(b.data(), "@@Ha", 4);
    b[4] = 3;
    b[5] = 5;
    Put16(b, 6, 2007);
    b[8] = 14;
    b[9] = 7;
    b[10] = 9;
    b[11] = 0xDE;
    b[12] = 0xAD;
    b[13] = 0xBE;
    b[14] = 0xEF;
    // The filtered values differ slightly from the current ones (wrapping at the
    // ends of the range).
    Put32(b, 15, static_cast<std::int32_t>(static_cast<std::uint32_t>(lat) + 1u));
    Put32(b, 19, static_cast<std::int32_t>(static_cast<std::uint32_t>(lon) + 1u));
    Put32(b, 23, 5820);
    Put32(b, 31, lat);
    Put32(b, 35, lon);
    Put16(b, 47, 120);
    Put16(b, 49, 0xFFFE);
    Put16(b, 51, 2700);
    b[129] = status;
    b[152] = 0x77;  // frame check byte
    return b;
}

TEST(LocationDecode, HandBuiltReport) {
    CLocation loc;
    const auto b = Report(-121888480, 544375080, 0xE0);
    loc.Decode(b.data(), static_cast<std::uint32_t>(b.size()));
    const LocationSnapshot s = loc.Snapshot();
    EXPECT_EQ(s.month, 3);
    EXPECT_EQ(s.day, 5);
    EXPECT_EQ(s.year, 2007);
    EXPECT_EQ(s.hour, 14);
    EXPECT_EQ(s.minute, 7);
    EXPECT_EQ(s.second, 9);
    EXPECT_EQ(0, std::memcmp(s.secondFraction, "\xDE\xAD\xBE\xEF", 4));
    EXPECT_EQ(s.latitude, -121888480 * (1.0 / 3600000.0));
    EXPECT_EQ(s.longitude, 544375080 * (1.0 / 3600000.0));
    EXPECT_EQ(s.speed3D, 120);
    EXPECT_EQ(s.speed2D, 0xFFFE) << "unsigned";
    EXPECT_EQ(s.heading, 2700);
    EXPECT_EQ(s.statusByte, 0xE0);
    EXPECT_EQ(s.fixStatus, 7);
    EXPECT_EQ(s.RawInt32(gps::kFilteredLatitude), -121888479);
    EXPECT_EQ(s.RawInt32(gps::kFilteredLongitude), 544375081);
    EXPECT_EQ(s.RawInt32(gps::kEllipsoidHeight), 5820);
    EXPECT_EQ(s.RawInt32(150), 0) << "read past the report gives zero";
    EXPECT_EQ(s.reports, 1u);
    EXPECT_EQ(0, std::memcmp(s.rawReport, b.data(), 152));
    EXPECT_EQ(loc.Latitude(), s.latitude);
    EXPECT_EQ(loc.Longitude(), s.longitude);
    EXPECT_EQ(loc.FixStatus(), 7);
}

TEST(LocationDecode, LatitudeScaling) {
    CLocation loc;
    std::vector<std::uint8_t> b(153, 0);
    const std::uint8_t raw[4] = {0x07, 0x44, 0xE9, 0xE0};
    std::memcpy(b.data() + 31, raw, 4);
    loc.Decode(b.data(), static_cast<std::uint32_t>(b.size()));
    EXPECT_NEAR(loc.Latitude(), 33.8768977, 1e-7);
    EXPECT_EQ(loc.Latitude(), 121956832 * 2.7777777777777776e-07);
}

TEST(LocationDecode, ShortBodyReadsAsZeroFilled) {
    CLocation loc;
    const auto full = Report(1000, 2000, 0xE0);
    loc.Decode(full.data(), static_cast<std::uint32_t>(full.size()));

    // Only the first 33 bytes: the date, and half of the current latitude.
    std::vector<std::uint8_t> cut(full.begin(), full.begin() + 33);
    cut[31] = 0x07;
    cut[32] = 0x44;
    loc.Decode(cut.data(), static_cast<std::uint32_t>(cut.size()));
    const LocationSnapshot s = loc.Snapshot();
    EXPECT_EQ(s.year, 2007);
    EXPECT_EQ(s.latitude, 0x07440000 * (1.0 / 3600000.0));
    EXPECT_EQ(s.longitude, 0.0) << "nothing of the earlier report survives";
    EXPECT_EQ(s.fixStatus, 0);
    EXPECT_EQ(s.heading, 0);
    for (std::size_t i = 33; i < gps::kReportSize; ++i) {
        ASSERT_EQ(s.rawReport[i], 0) << i;
    }

    loc.Decode(full.data(), 0);
    EXPECT_EQ(loc.Snapshot().year, 0);
    EXPECT_EQ(loc.Snapshot().reports, 3u);
}

TEST(LocationDecode, SecondReportReplacesTheFirst) {
    CLocation loc;
    auto a = Report(100, 200, 0xC0);
    auto b = Report(-300, -400, 0x60);
    b[5] = 6;
    loc.Decode(a.data(), static_cast<std::uint32_t>(a.size()));
    loc.Decode(b.data(), static_cast<std::uint32_t>(b.size()));
    const LocationSnapshot s = loc.Snapshot();
    EXPECT_EQ(s.day, 6);
    EXPECT_EQ(s.latitude, -300 / 3600000.0);
    EXPECT_EQ(s.fixStatus, 3);
}

TEST(LocationStatus, FixNames) {
    struct {
        std::uint8_t status;
        std::uint8_t code;
        const char* name;
    } const cases[] = {
        {0x00, 0, "Reserved"},
        {0x1F, 0, "Reserved"},
        {0x20, 1, "Reserved"},
        {0x40, 2, "Bad Geometry"},
        {0x60, 3, "Acquiring Satellites"},
        {0x80, 4, "Position Hold"},
        {0xA0, 5, "Propogate Mode"},
        {0xC5, 6, "2D Fix"},
        {0xE0, 7, "3D Fix"},
        {0xFF, 7, "3D Fix"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CLocation loc;
        const auto b = Report(0, 0, c.status);
        loc.Decode(b.data(), static_cast<std::uint32_t>(b.size()));
        EXPECT_EQ(loc.FixStatus(), c.code);
        EXPECT_STREQ(CLocation::FixName(loc.FixStatus()), c.name);
    }
    EXPECT_STREQ(CLocation::FixName(8), "Reserved");
}

TEST(LocationStatus, StatusLineTexts) {
    struct {
        const char* legend;
        std::int32_t lat, lon;
        const char* text;
    } const cases[] = {
        {"south and east", static_cast<std::int32_t>(-33.8568 * 3600000),
         static_cast<std::int32_t>(151.2153 * 3600000), "03/05/2007 14:07:09 33.8568 S 151.2153 E"},
        {"north and west", static_cast<std::int32_t>(52.2055 * 3600000),
         static_cast<std::int32_t>(-0.1218 * 3600000), "03/05/2007 14:07:09 52.2055 N 0.1218 W"},
        {"zero reads north and east", 0, 0, "03/05/2007 14:07:09 0.0000 N 0.0000 E"},
        {"extremes of the raw range", INT32_MIN, INT32_MAX,
         "03/05/2007 14:07:09 596.5232 S 596.5232 E"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        CLocation loc;
        const auto b = Report(c.lat, c.lon, 0xE0);
        loc.Decode(b.data(), static_cast<std::uint32_t>(b.size()));
        char text[CLocation::kStatusLineSize];
        loc.FormatStatusLine(text, sizeof text);
        EXPECT_STREQ(text, c.text);
    }
}

TEST(LocationStatus, BeforeAnyReportAndSmallBuffers) {
    CLocation loc;
    char text[CLocation::kStatusLineSize];
    loc.FormatStatusLine(text, sizeof text);
    EXPECT_STREQ(text, "00/00/0000 00:00:00 0.0000 N 0.0000 E");
    EXPECT_EQ(loc.Snapshot().reports, 0u);

    char small[8];
    std::memset(small, 'z', sizeof small);
    loc.FormatStatusLine(small, sizeof small);
    EXPECT_STREQ(small, "00/00/0");
    loc.FormatStatusLine(nullptr, 0);  // nothing to write into: no effect
}

TEST(LocationStatus, ReadersSeeWholeReports) {
    // One thread decodes alternating reports while another reads snapshots; the
    // latitude and the day always come from the same report.
    CLocation loc;
    auto a = Report(3600000, 3600000, 0xE0);
    auto b = Report(-7200000, -7200000, 0xC0);
    b[5] = 9;
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i) {
            const auto& r = (i & 1) ? b : a;
            loc.Decode(r.data(), static_cast<std::uint32_t>(r.size()));
        }
        stop = true;
    });
    int torn = 0;
    while (!stop) {
        const LocationSnapshot s = loc.Snapshot();
        if (s.reports == 0) {
            continue;
        }
        const bool first = s.latitude > 0;
        if ((first && (s.day != 5 || s.longitude < 0)) ||
            (!first && (s.day != 9 || s.longitude > 0))) {
            ++torn;
        }
    }
    writer.join();
    EXPECT_EQ(torn, 0);
}

// Each snapshot says how old its report is, by the clock the location was
// given, so a receiver that stopped reporting shows as stale, not current.
TEST(LocationAge, SnapshotsCarryTheAgeOfTheirReport) {
    ketrion::testing::ManualClock clock;
    CLocation location;
    location.SetClock(&clock);
    EXPECT_LT(location.Snapshot().ageSeconds, 0.0) << "no report yet";

    std::uint8_t body[gps::kReportSize + 1] = {};
    location.Decode(body, sizeof body);
    EXPECT_EQ(location.Snapshot().ageSeconds, 0.0);
    clock.Advance(2500);
    EXPECT_DOUBLE_EQ(location.Snapshot().ageSeconds, 2.5);
    clock.Advance(2501);
    EXPECT_GT(location.Snapshot().ageSeconds, gps::kGpsStaleSeconds);

    // A new report is fresh again; a clock set back reads as fresh, not negative.
    location.Decode(body, sizeof body);
    EXPECT_EQ(location.Snapshot().ageSeconds, 0.0);
    clock.Advance(-60000);
    EXPECT_EQ(location.Snapshot().ageSeconds, 0.0);

    // Without a clock a report reads as just arrived.
    CLocation untimed;
    untimed.Decode(body, sizeof body);
    EXPECT_EQ(untimed.Snapshot().ageSeconds, 0.0);
}

}  // namespace
}  // namespace ketrion
