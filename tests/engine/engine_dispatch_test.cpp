#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "engine/Engine.h"
#include "engine/LinkList.h"
#include "engine/Location.h"
#include "support/LinkFakes.h"

namespace ketrion {
namespace {

using Bytes = std::vector<std::uint8_t>;
using ketrion::testing::FirmwareOf;
using ketrion::testing::RecordingSlot;
using ketrion::testing::SerialOf;

Bytes Text(const std::string& s, bool terminated = true) {
    Bytes b(s.begin(), s.end());
    if (terminated) {
        b.push_back(0);
    }
    return b;
}

// The engine with its collaborators; frames are dispatched as the parser would
// deliver them: body with its check byte, zeros behind it.
struct Rig {
    RecordingSlot slot;
    LinkList list;
    CLocation location;
    CEngine engine{slot, list, location};
    int notifications = 0;
    int scanEnds = 0;
    std::vector<std::string> order;
    std::uint8_t area[frame::kMaxBody] = {};

    Rig() {
        engine.notify = [this] {
            ++notifications;
            order.push_back("notify");
        };
        engine.onScanEnd = [this] {
            ++scanEnds;
            order.push_back("scanEnd");
        };
    }
    // Dispatches `payload` plus a correct check byte (or `check` when given).
    void Frame(std::uint8_t type, const Bytes& payload, int check = -1) {
        std::memset(area, 0, sizeof area);
        if (!payload.empty()) {
            std::memcpy(area, payload.data(), payload.size());
        }
        area[payload.size()] = check < 0 ? frame::Check(type, payload.data(), payload.size())
                                         : static_cast<std::uint8_t>(check);
        engine.Dispatch(type, area, static_cast<std::uint32_t>(payload.size() + 1));
    }
    std::string Firmware() const { return FirmwareOf(engine); }
    std::string Serial() const { return SerialOf(engine); }
};

TEST(EngineHandshake, InitialTexts) {
    Rig rig;
    EXPECT_EQ(rig.Firmware(), "0.00");
    EXPECT_EQ(rig.Serial(), "XXXXXX");
    EXPECT_FALSE(rig.engine.IsScanning());
}

TEST(EngineHandshake, VersionStoresTextAndRequestsSerial) {
    Rig rig;
    rig.Frame(frame::kVersion, Text("1.23"));
    EXPECT_EQ(rig.Firmware(), "1.23");
    ASSERT_EQ(rig.slot.queued.size(), 1u);
    EXPECT_EQ(rig.slot.queued[0], (Bytes{0x11, 0x12, 0x02, 0x00, 0x11, 0x13}));
}

TEST(EngineHandshake, SerialStoresEightCharactersAndConfigures) {
    Rig rig;
    rig.Frame(frame::kSerial, Text("ABCD1234", false));
    EXPECT_EQ(rig.Serial(), "ABCD1234");
    ASSERT_EQ(rig.slot.queued.size(), 1u);
    EXPECT_EQ(rig.slot.queued[0], (Bytes{0x11, 0x12, 0x03, 0x07, 0x00, 0x11, 0x13}));

    // A shorter number replaces the longer one completely.
    rig.Frame(frame::kSerial, Text("WXYZ"));
    EXPECT_EQ(rig.Serial(), "WXYZ");
    // Only eight characters are taken from a longer body.
    rig.Frame(frame::kSerial, Text("0123456789"));
    EXPECT_EQ(rig.Serial(), "01234567");
    EXPECT_EQ(rig.slot.queued.size(), 3u);
}

TEST(EngineHandshake, VersionTextEdgeCases) {
    struct Row {
        const char* legend;
        Bytes body;  // without the check byte
        std::string expected;
    };
    const Bytes unterminated = Text("2.5", false);
    const char check = static_cast<char>(frame::Check(frame::kVersion, unterminated.data(), 3));
    const std::vector<Row> rows = {
        {"terminated", Text("3.10"), "3.10"},
        {"no terminator: the check byte ends the text", unterminated, std::string("2.5") + check},
        {"longer than the field: cut to 31 characters", Text(std::string(40, 'v')),
         std::string(31, 'v')},
        {"empty text", Text(""), ""},
    };
    for (const Row& row : rows) {
        Rig rig;
        rig.Frame(frame::kVersion, row.body);
        EXPECT_EQ(rig.Firmware(), row.expected) << row.legend;
        EXPECT_EQ(rig.slot.queued.size(), 1u) << row.legend;
    }
}

TEST(EngineDispatch, WrongCheckChangesNothing) {
    Rig rig;
    for (std::uint8_t type :
         {frame::kVersion, frame::kSerial, frame::kScanStart, frame::kScanEnd, frame::kGpsReport}) {
        rig.Frame(type, Text("9.99"), 0x5A);
    }
    // An empty body fails the check for every type but 0x00.
    rig.engine.Dispatch(frame::kScanStart, rig.area, 0);
    EXPECT_FALSE(rig.engine.IsScanning());
    EXPECT_EQ(rig.Firmware(), "0.00");
    EXPECT_EQ(rig.Serial(), "XXXXXX");
    EXPECT_EQ(rig.notifications, 0);
    EXPECT_TRUE(rig.slot.queued.empty());
    EXPECT_EQ(rig.location.Snapshot().reports, 0u);
}

// Which frames notify, which record a scan, and what they do to `scanning`.
TEST(EngineDispatch, NotifyAndScanFlagPerType) {
    struct Row {
        std::uint8_t type;
        Bytes payload;
        int notifications;
        int scanEnds;
        bool scanningAfter;  // starting from scanning == true
    };
    const std::vector<Row> rows = {
        {frame::kConfigure, {}, 0, 0, true},
        {0x05, {0x01}, 0, 0, true},
        {0x11, {0x42}, 0, 0, true},
        {0x7F, {1, 2, 3}, 0, 0, true},
        {frame::kScanStart, {}, 0, 0, true},
        {frame::kScanEnd, {}, 1, 1, false},
        {frame::kGpsReport, Bytes(151, 0), 1, 0, true},
    };
    for (const Row& row : rows) {
        Rig rig;
        rig.engine.scanning = true;
        rig.Frame(row.type, row.payload);
        EXPECT_EQ(rig.notifications, row.notifications) << "type " << int(row.type);
        EXPECT_EQ(rig.scanEnds, row.scanEnds) << "type " << int(row.type);
        EXPECT_EQ(rig.engine.IsScanning(), row.scanningAfter) << "type " << int(row.type);
        EXPECT_TRUE(rig.slot.queued.empty()) << "type " << int(row.type);
    }
}

TEST(EngineDispatch, ScanCycleRecordsBeforeNotifying) {
    Rig rig;
    rig.Frame(frame::kScanStart, {});
    EXPECT_TRUE(rig.engine.IsScanning());
    rig.Frame(frame::kScanEnd, {});
    EXPECT_FALSE(rig.engine.IsScanning());
    EXPECT_EQ(rig.order, (std::vector<std::string>{"scanEnd", "notify"}));
}

Bytes OneApReport(std::int16_t signal) {
    Bytes r = {1,
               0x00,
               0x1A,
               0x2B,
               0x3C,
               0x4D,
               0x5E,
               static_cast<std::uint8_t>(signal & 0xFF),
               static_cast<std::uint8_t>((signal >> 8) & 0xFF),
               1};
    Bytes detail(report::kDetailSize, 0);
    detail[0] = 0;  // entry index
    detail[1] = 4;  // name length
    std::memcpy(&detail[2], "LAB1", 4);
    r.insert(r.end(), detail.begin(), detail.end());
    return r;
}

TEST(EngineDispatch, ScanReportFillsListUnlessItIsBusy) {
    Rig rig;
    rig.Frame(frame::kScanReport, OneApReport(-60));
    {
        std::lock_guard lock(rig.engine.ListMutex());
        ASSERT_EQ(rig.list.Size(), 1);
        LinkList::Node* node = nullptr;
        ASSERT_EQ(rig.list.GetAt(1, node), 0);
        EXPECT_STREQ(node->macText, "001A2B3C4D5E");
        EXPECT_STREQ(node->ssid, "LAB1");
        EXPECT_EQ(node->signalSum, -60);
    }
    EXPECT_EQ(rig.engine.report.reportApCount, 1);

    // A report that meets the list locked (being cleared) is dropped, not waited for.
    {
        std::lock_guard lock(rig.engine.ListMutex());
        rig.Frame(frame::kScanReport, OneApReport(-60));
    }
    std::lock_guard lock(rig.engine.ListMutex());
    LinkList::Node* node = nullptr;
    ASSERT_EQ(rig.list.GetAt(1, node), 0);
    EXPECT_EQ(node->sampleCount, 1u);
    EXPECT_EQ(rig.notifications, 0);
}

TEST(EngineDispatch, GpsReportIsDecoded) {
    Rig rig;
    Bytes body(gps::kReportSize, 0);
    body[gps::kLatitude] = 0x07;
    body[gps::kLatitude + 1] = 0x44;
    body[gps::kLatitude + 2] = 0xE9;
    body[gps::kLatitude + 3] = 0xE0;
    body[gps::kReceiverStatus] = 0xE0;
    rig.Frame(frame::kGpsReport, body);
    EXPECT_NEAR(rig.location.Latitude(), 33.8768977, 1e-6);
    EXPECT_EQ(rig.location.FixStatus(), 7);
    EXPECT_EQ(rig.notifications, 1);
}

TEST(EngineSend, Encodings) {
    struct Row {
        const char* legend;
        std::uint8_t type;
        Bytes payload;
        Bytes wire;
    };
    const std::vector<Row> rows = {
        {"scan request", frame::kScanStart, {}, {0x11, 0x12, 0x16, 0x00, 0x11, 0x13}},
        {"configure 7", frame::kConfigure, {0x07}, {0x11, 0x12, 0x03, 0x07, 0x00, 0x11, 0x13}},
        {"type and payload 0x11 escaped",
         0x11,
         {0x11},
         {0x11, 0x12, 0x11, 0x14, 0x11, 0x14, 0x00, 0x11, 0x13}},
        {"0x12 0x13 0x14 travel as they are",
         0x05,
         {0x12, 0x13, 0x14},
         {0x11, 0x12, 0x05, 0x12, 0x13, 0x14, 0x00, 0x11, 0x13}},
    };
    for (const Row& row : rows) {
        Rig rig;
        EXPECT_TRUE(rig.engine.Send(row.type, row.payload.data(),
                                    static_cast<std::uint32_t>(row.payload.size())))
            << row.legend;
        ASSERT_EQ(rig.slot.queued.size(), 1u) << row.legend;
        EXPECT_EQ(rig.slot.queued[0], row.wire) << row.legend;
    }

    Rig rig;
    rig.engine.Start();
    rig.engine.RequestScan();
    rig.engine.SendKeepAlive();
    ASSERT_EQ(rig.slot.queued.size(), 3u);
    EXPECT_EQ(rig.slot.queued[0], (Bytes{0x11, 0x12, 0x01, 0x00, 0x11, 0x13}));
    EXPECT_EQ(rig.slot.queued[1], (Bytes{0x11, 0x12, 0x16, 0x00, 0x11, 0x13}));
    EXPECT_EQ(rig.slot.queued[2], (Bytes{0x00, 0x00}));

    // A payload that cannot fit the slot even escaped is refused, not cut.
    const Bytes huge(61, 0x11);
    EXPECT_FALSE(rig.engine.Send(0x05, huge.data(), static_cast<std::uint32_t>(huge.size())));
    EXPECT_EQ(rig.slot.queued.size(), 3u);
}

// The user-interface thread reads the texts while the link thread rewrites
// them: every read is one whole text (and TSan sees no race).
TEST(EngineConcurrency, TextsReadWhileWritten) {
    Rig rig;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i) {
            rig.Frame(frame::kVersion, Text(i % 2 ? "AAAAAAAAAAAA" : "BBBB"));
        }
        done = true;
    });
    while (!done) {
        const std::string t = rig.Firmware();
        EXPECT_TRUE(t == "0.00" || t == "AAAAAAAAAAAA" || t == "BBBB") << t;
        EXPECT_TRUE(rig.engine.IsScanning() == false);
    }
    writer.join();
}

}  // namespace
}  // namespace ketrion
