#pragma once

// A fresh survey-data world for tests: access-point list, GPS location,
// recording prompt and sound, a fixed clock and a temporary folder for
// collection files. Header-only.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "LinkFakes.h"
#include "RecordingPrompt.h"
#include "RecordingSound.h"
#include "engine/LinkList.h"
#include "engine/Location.h"
#include "session/SurveySession.h"
#include "source/board/BoardSource.h"
#include "source/board/BoardStack.h"
#include "survey/CollectionFile.h"
#include "survey/SiteData.h"
#include "survey/SiteProjection.h"

namespace ketrion::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// A temporary folder removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "ketrion-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    std::string File(const std::string& name) const { return m_path + "/" + name; }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// A 152-byte GpsReport body (big-endian fields) for CLocation::Decode.
struct GpsFix {
    std::int32_t latitude = 0;  // 1/3,600,000 degree, filtered (stored in the file)
    std::int32_t longitude = 0;
    std::int32_t currentLatitude = 0;  // unfiltered: the decoded current position
    std::int32_t currentLongitude = 0;
    std::int32_t height = 0;
    std::uint8_t month = 3, day = 5;
    std::uint16_t year = 2007;
    std::uint8_t hour = 14, minute = 7, second = 9;
    std::uint8_t fraction[4] = {0x01, 0x02, 0x03, 0x04};
    std::uint16_t speed3D = 0, speed2D = 0, heading = 0;
    std::uint8_t status = 0xE0;  // 3D fix

    Bytes Body() const {
        Bytes b(gps::kReportSize, 0);
        auto be16 = [&](std::size_t at, std::uint16_t v) {
            b[at] = static_cast<std::uint8_t>(v >> 8);
            b[at + 1] = static_cast<std::uint8_t>(v);
        };
        auto be32 = [&](std::size_t at, std::int32_t v) {
            auto u = static_cast<std::uint32_t>(v);
            for (int i = 0; i < 4; ++i)
                b[at + i] = static_cast<std::uint8_t>(u >> (24 - 8 * i));
        };
        std::memcpy(b.data(), "@@Ha", 4);
        b[gps::kMonth] = month;
        b[gps::kDay] = day;
        be16(gps::kYear, year);
        b[gps::kHour] = hour;
        b[gps::kMinute] = minute;
        b[gps::kSecond] = second;
        std::memcpy(b.data() + gps::kSecondFraction, fraction, 4);
        be32(gps::kFilteredLatitude, latitude);
        be32(gps::kFilteredLongitude, longitude);
        be32(gps::kEllipsoidHeight, height);
        be32(gps::kLatitude, currentLatitude);
        be32(gps::kLongitude, currentLongitude);
        be16(gps::kSpeed3D, speed3D);
        be16(gps::kSpeed2D, speed2D);
        be16(gps::kHeading, heading);
        b[gps::kReceiverStatus] = status;
        return b;
    }
};

struct ApSpec {
    std::uint8_t mac[6];
    const char* ssid;
    std::int16_t signalSum;
    std::uint32_t sampleCount;
    std::uint8_t attribute;
};

// The board's whole path into the survey: its stack (list, location, engine;
// the link thread is never started), the board as scan and position source,
// the survey data and the session that joins them.
class SiteDataWorld {
public:
    SiteDataWorld()
        : board(clock),
          list(board.list),
          location(board.location),
          scan(board, clock),
          position(board, clock),
          projection(prompt, sound),
          data(prompt, sound, clock),
          session(scan, position, data, projection, sound, clock) {}

    void Gps(const GpsFix& fix) {
        Bytes body = fix.Body();
        location.Decode(body.data(), static_cast<std::uint32_t>(body.size()));
    }
    // Adds an access-point record as the engine would have built it.
    void AddAp(const ApSpec& ap) {
        std::lock_guard lock(list.listMutex);
        LinkList::Node* node = nullptr;
        ASSERT_EQ(list.NewNode(node), 0);
        std::memcpy(node->mac, ap.mac, 6);
        FormatMac(node->mac, node->macText);
        std::strncpy(node->ssid, ap.ssid, sizeof node->ssid - 1);
        node->signalSum = ap.signalSum;
        node->sampleCount = ap.sampleCount;
        node->attribute = ap.attribute;
        node->hasDetails = 1;
        list.InsertSorted(node);
    }
    // A reading begins as the collection timer starts one: the list is
    // emptied and the coming point will be drawn at plan (x, y).
    void SetPosition(int x, int y) { session.PrepareReading(SurveySession::PlanPoint{x, y}); }
    // A scan end as the engine reports it: true when a point was queued.
    bool ScanEnd() {
        const bool queued = data.HasPath();
        scan.OnScanEnd();
        return queued;
    }
    // A scan end, then the wait for its write: true once the point is in the file.
    bool Record() { return ScanEnd() && data.Flush(); }
    // A dynamic access point tapped at plan (x, y), stored at the current position.
    bool PlaceAp(int x, int y) { return session.PlaceDynamicAp(x, y); }
    std::vector<CSiteData::_tap> Points() const {
        std::vector<CSiteData::_tap> points;
        data.ForEachPoint([&](const CSiteData::_tap& p) { points.push_back(p); });
        return points;
    }

    RecordingPrompt prompt;
    RecordingSound sound;
    ManualClock clock{1'700'000'000};
    BoardStack board;
    LinkList& list;
    CLocation& location;
    BoardSource scan;
    BoardPosition position;
    CSiteProjection projection;
    CSiteData data;
    SurveySession session;
};

// Builds collection-file bytes by hand, for damaged and unusual files.
class FileBuilder {
public:
    explicit FileBuilder(std::int32_t locationSize = 61, std::int32_t readingSize = 41,
                         std::int32_t sizeBlockOffset = 25) {
        m_bytes.assign(25, 0);
        collection::Put32(&m_bytes[0], 25);
        std::memcpy(&m_bytes[4], collection::kMagic, 4);
        m_bytes[8] = 1;
        collection::Put32(&m_bytes[21], static_cast<std::uint32_t>(sizeBlockOffset));
        m_bytes.resize(static_cast<std::size_t>(sizeBlockOffset) + 8, 0);
        collection::Put32(&m_bytes[sizeBlockOffset], static_cast<std::uint32_t>(locationSize));
        collection::Put32(&m_bytes[sizeBlockOffset + 4], static_cast<std::uint32_t>(readingSize));
        m_locationSize = static_cast<std::size_t>(locationSize);
        m_readingSize = static_cast<std::size_t>(readingSize);
    }
    // Fields that do not fit a too-small record size are left out.
    FileBuilder& Location(std::int32_t latitude, std::int32_t longitude, std::uint16_t count,
                          std::uint8_t kind = 0) {
        std::uint8_t record[collection::kLocationSize] = {};
        collection::Put32(record, static_cast<std::uint32_t>(latitude));
        collection::Put32(record + 4, static_cast<std::uint32_t>(longitude));
        collection::Put16(record + collection::kCountAt, count);
        record[collection::kKindAt] = kind;
        Append(record, sizeof record, m_locationSize);
        return *this;
    }
    FileBuilder& Reading(std::int16_t signal256, std::uint8_t macLast, const char* ssid,
                         std::uint8_t attribute = 0) {
        std::uint8_t record[collection::kReadingSize] = {};
        record[0] = attribute;
        collection::Put16(record + 1, static_cast<std::uint16_t>(signal256));
        const std::uint8_t mac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, macLast};
        std::memcpy(record + 3, mac, 6);
        std::strncpy(reinterpret_cast<char*>(record + 9), ssid, 31);
        Append(record, sizeof record, m_readingSize);
        return *this;
    }
    const Bytes& bytes() const { return m_bytes; }

private:
    // Appends a record of `size` bytes: the first bytes of `record`, zero-padded.
    void Append(const std::uint8_t* record, std::size_t length, std::size_t size) {
        std::size_t at = m_bytes.size();
        m_bytes.resize(at + size, 0);
        std::memcpy(&m_bytes[at], record, std::min(length, size));
    }

    Bytes m_bytes;
    std::size_t m_locationSize;
    std::size_t m_readingSize;
};

}  // namespace ketrion::testing
