#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "engine/LinkList.h"

namespace ketrion {
namespace {

struct Entry {
    std::uint8_t mac[6];
    std::int16_t signal;
};

struct Detail {
    std::uint8_t index;
    std::uint8_t nameLength;
    std::string name;  // bytes placed in the 32-byte name field
    std::uint8_t attribute;
};

// Builds a ScanReport body with its check byte (the value of the check byte is
// irrelevant here: the engine verifies it before the list sees the body).
std::vector<std::uint8_t> Body(const std::vector<Entry>& entries,
                               const std::vector<Detail>& details) {
    std::vector<std::uint8_t> b;
    b.push_back(static_cast<std::uint8_t>(entries.size()));
    for (const Entry& e : entries) {
        b.insert(b.end(), e.mac, e.mac + 6);
        b.push_back(static_cast<std::uint8_t>(e.signal & 0xFF));
        b.push_back(static_cast<std::uint8_t>((e.signal >> 8) & 0xFF));
    }
    b.push_back(static_cast<std::uint8_t>(details.size()));
    for (const Detail& d : details) {
        std::uint8_t rec[37] = {};
        rec[0] = d.index;
        rec[1] = d.nameLength;
        std::memcpy(rec + 2, d.name.data(), d.name.size() < 32 ? d.name.size() : 32);
        rec[34] = d.attribute;
        rec[35] = 0xAA;  // flags: not interpreted
        rec[36] = 0x55;
        b.insert(b.end(), rec, rec + 37);
    }
    b.push_back(0x5A);  // check byte
    return b;
}

struct Expected {
    std::string macText;
    std::string ssid;
    std::int16_t signalSum;
    std::uint32_t sampleCount;
    std::uint8_t attribute;
};

std::vector<Expected> Contents(LinkList& list) {
    std::vector<Expected> out;
    std::lock_guard lock(list.listMutex);
    LinkList::Node* node = nullptr;
    for (int rc = list.GetAt(1, node); rc == 0; rc = list.GetNext(node)) {
        EXPECT_EQ(node->hasDetails, 1);
        out.push_back(
            {node->macText, node->ssid, node->signalSum, node->sampleCount, node->attribute});
    }
    return out;
}

void ExpectList(LinkList& list, const std::vector<Expected>& want) {
    const std::vector<Expected> got = Contents(list);
    ASSERT_EQ(got.size(), want.size());
    EXPECT_EQ(list.count, static_cast<std::int32_t>(want.size()) + 1);
    for (std::size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE("record " + std::to_string(i + 1));
        EXPECT_EQ(got[i].macText, want[i].macText);
        EXPECT_EQ(got[i].ssid, want[i].ssid);
        EXPECT_EQ(got[i].signalSum, want[i].signalSum);
        EXPECT_EQ(got[i].sampleCount, want[i].sampleCount);
        EXPECT_EQ(got[i].attribute, want[i].attribute);
    }
}

constexpr Entry kLab{{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}, -60};
constexpr Entry kA{{0xA0, 0, 0, 0, 0, 1}, -70};
constexpr Entry kB{{0xB0, 0, 0, 0, 0, 2}, -50};
constexpr Entry kC{{0xC0, 0, 0, 0, 0, 3}, -70};

struct Case {
    const char* legend;
    std::vector<std::vector<std::uint8_t>> reports;  // applied in order
    std::vector<bool> applied;                       // ApplyReport's result per report
    std::vector<Expected> want;
};

std::vector<std::uint8_t> Truncate(std::vector<std::uint8_t> b, std::size_t drop) {
    b.resize(b.size() - drop);
    return b;
}

std::vector<Case> Cases() {
    const auto lab = Body({kLab}, {{0, 4, "LAB1", 7}});
    const std::string forty(40, 'x');
    std::vector<Entry> many(33, kA);
    std::vector<Detail> manyDetails(33, Detail{0, 1, "a", 0});
    return {
        {"one entry with its detail record", {lab}, {true}, {{"001A2B3C4D5E", "LAB1", -60, 1, 7}}},
        {"the same report twice sums signals",
         {lab, lab},
         {true, true},
         {{"001A2B3C4D5E", "LAB1", -120, 2, 7}}},
        {"known address without detail keeps its name",
         {lab, Body({{kLab.mac[0], kLab.mac[1], kLab.mac[2], kLab.mac[3], kLab.mac[4], kLab.mac[5],
                      -40}},
                    {})},
         {true, true},
         {{"001A2B3C4D5E", "LAB1", -100, 2, 7}}},
        {"detail record refreshes name and attribute",
         {lab, Body({kLab}, {{0, 3, "NEW", 9}})},
         {true, true},
         {{"001A2B3C4D5E", "NEW", -120, 2, 9}}},
        {"insertion in signal order, equal values in arrival order",
         {Body({kA, kB, kC}, {{0, 1, "a", 0}, {1, 1, "b", 0}, {2, 1, "c", 0}})},
         {true},
         {{"A00000000001", "a", -70, 1, 0},
          {"C00000000003", "c", -70, 1, 0},
          {"B00000000002", "b", -50, 1, 0}}},
        {"later updates do not move a record",
         {Body({kA, kB}, {{0, 1, "a", 0}, {1, 1, "b", 0}}), Body({kA}, {}), Body({kA}, {})},
         {true, true, true},
         {{"A00000000001", "a", -210, 3, 0}, {"B00000000002", "b", -50, 1, 0}}},
        {"signal sum wraps at 16 bits",
         {Body({{{1, 2, 3, 4, 5, 6}, -32768}}, {{0, 1, "w", 0}}),
          Body({{{1, 2, 3, 4, 5, 6}, -1}}, {})},
         {true, true},
         {{"010203040506", "w", 32767, 2, 0}}},
        {"name length 40 keeps 31 characters",
         {Body({kLab}, {{0, 40, forty, 1}})},
         {true},
         {{"001A2B3C4D5E", std::string(31, 'x'), -60, 1, 1}}},
        {"name length 0 gives an empty name",
         {Body({kLab}, {{0, 0, "JUNK", 1}})},
         {true},
         {{"001A2B3C4D5E", "", -60, 1, 1}}},
        {"name shorter than its length stops at its zero byte",
         {Body({kLab}, {{0, 10, "AB", 1}})},
         {true},
         {{"001A2B3C4D5E", "AB", -60, 1, 1}}},
        {"later detail record for the same entry wins",
         {Body({kLab}, {{0, 1, "P", 1}, {0, 1, "Q", 2}})},
         {true},
         {{"001A2B3C4D5E", "Q", -60, 1, 2}}},
        {"entry index out of range is ignored",
         {Body({kA, kB}, {{2, 1, "z", 0}, {1, 1, "b", 0}, {200, 1, "y", 0}})},
         {true},
         {{"B00000000002", "b", -50, 1, 0}}},
        {"new address without detail record is not listed", {Body({kA}, {})}, {true}, {}},
        {"entry count 0 is dropped", {Body({}, {})}, {false}, {}},
        {"entry count 33 is dropped", {Body(many, {{0, 1, "a", 0}})}, {false}, {}},
        {"detail count 33 is dropped", {Body({kA, kB}, manyDetails)}, {false}, {}},
        {"32 entries and 32 details are accepted",
         {Body(std::vector<Entry>(32, kB), std::vector<Detail>(32, Detail{5, 1, "b", 3}))},
         {true},
         // Entries 0-4 come before the one that carries the detail record, so
         // the address is not yet known to them.
         {{"B00000000002", "b", -50 * 27, 27, 3}}},
        {"body missing its check byte is dropped", {Truncate(lab, 1)}, {false}, {}},
        {"body cut inside a detail record is dropped", {Truncate(lab, 20)}, {false}, {}},
        {"body cut before the detail count is dropped", {Truncate(lab, 39)}, {false}, {}},
        {"body cut inside the entries is dropped", {Truncate(lab, 42)}, {false}, {}},
        {"a dropped report leaves earlier records alone",
         {lab, Truncate(Body({kLab, kB}, {{1, 1, "b", 0}}), 1)},
         {true, false},
         {{"001A2B3C4D5E", "LAB1", -60, 1, 7}}},
    };
}

TEST(LinkListReport, AppliesReportsAsTabled) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.legend);
        LinkList list;
        ReportScratch scratch;
        for (std::size_t i = 0; i < c.reports.size(); ++i) {
            const auto& b = c.reports[i];
            EXPECT_EQ(list.TryApplyReport(b.data(), static_cast<std::uint32_t>(b.size()), scratch),
                      c.applied[i])
                << "report " << i;
        }
        ExpectList(list, c.want);
    }
}

TEST(LinkListReport, KeepsCountsAndRawRecordsOfTheLastReport) {
    LinkList list;
    ReportScratch scratch;
    const auto b = Body({kA, kB}, {{1, 40, std::string(32, 'n'), 4}});
    ASSERT_TRUE(list.ApplyReport(b.data(), static_cast<std::uint32_t>(b.size()), scratch));
    EXPECT_EQ(scratch.reportApCount, 2);
    EXPECT_EQ(scratch.reportDetailCount, 1);
    EXPECT_EQ(0, std::memcmp(scratch.reportEntries[1], kB.mac, 6));
    EXPECT_EQ(scratch.reportDetails[0][34], 4);
    EXPECT_EQ(scratch.reportDetails[0][2 + 31], 0) << "name ended after 31 characters";
}

TEST(LinkListReport, ZeroLengthOrMissingBodyIsDropped) {
    LinkList list;
    ReportScratch scratch;
    const std::uint8_t one = 1;
    EXPECT_FALSE(list.ApplyReport(&one, 0, scratch));
    EXPECT_FALSE(list.ApplyReport(nullptr, 100, scratch));
    EXPECT_EQ(list.Size(), 0);
}

TEST(LinkListReport, BusyListDropsTheReport) {
    LinkList list;
    ReportScratch scratch;
    const auto b = Body({kA}, {{0, 1, "a", 0}});
    {
        std::lock_guard lock(list.listMutex);
        std::thread other([&] {
            EXPECT_FALSE(
                list.TryApplyReport(b.data(), static_cast<std::uint32_t>(b.size()), scratch));
        });
        other.join();
    }
    EXPECT_EQ(list.Size(), 0);
}

TEST(LinkListReport, ClearingAndApplyingNeverOverlap) {
    // Reports applied on one thread while another keeps emptying the list: every
    // report lands whole or not at all, and the list stays a consistent ring.
    LinkList list;
    const auto b = Body({kA, kB, kC}, {{0, 1, "a", 0}, {1, 1, "b", 0}, {2, 1, "c", 0}});
    std::atomic<bool> done{false};
    std::thread applier([&] {
        ReportScratch scratch;
        for (int i = 0; i < 5000; ++i) {
            list.TryApplyReport(b.data(), static_cast<std::uint32_t>(b.size()), scratch);
        }
        done = true;
    });
    int bad = 0;
    while (!done) {
        list.RemoveAll();
        std::lock_guard lock(list.listMutex);
        const int size = list.Size();
        if (size != 0 && size != 3) {
            ++bad;
        }
        LinkList::Node* node = nullptr;
        int walked = 0;
        for (int rc = list.GetAt(1, node); rc == 0; rc = list.GetNext(node)) {
            ++walked;
        }
        bad += walked != size ? 1 : 0;
    }
    applier.join();
    EXPECT_EQ(bad, 0);
}

}  // namespace
}  // namespace ketrion
