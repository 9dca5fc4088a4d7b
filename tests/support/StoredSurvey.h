#pragma once

// What a run of the program left on disk: the collection file's points and
// readings exactly as stored, and the side store's rows beside it, for
// end-to-end tests to compare with what went in.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "survey/CollectionFile.h"
#include "survey/CollectionReader.h"
#include "survey/SideStore.h"

namespace ketrion::testing {

struct StoredReading {
    std::uint8_t attribute = 0;
    std::int16_t signal256 = 0;
    std::array<std::uint8_t, 6> mac{};
    std::array<std::uint8_t, collection::kSsidField> ssidField{};  // the 32 stored bytes
};

struct StoredPoint {
    std::int64_t offset = 0;
    std::int32_t latitudeUnits = 0;
    std::int32_t longitudeUnits = 0;
    std::uint8_t fixClass = 0;
    std::uint8_t kind = 0;
    std::uint8_t hour = 0, minute = 0, second = 0;
    std::vector<StoredReading> readings;
};

struct StoredSurvey {
    bool whole = false;  // the collection file was read to its end without damage
    std::vector<StoredPoint> points;
    bool hasSide = false;
    std::string sideMessage;
    std::map<std::int64_t, SideStore::Point> sidePoints;
    std::map<std::int64_t, std::vector<SideStore::Reading>> sideReadings;
};

namespace detail {

class StoredSurveyVisitor final : public collection::WalkVisitor {
public:
    explicit StoredSurveyVisitor(std::vector<StoredPoint>& points) : m_points(points) {}
    void Location(std::int64_t, std::int64_t offset, const std::uint8_t* location) override {
        StoredPoint point;
        point.offset = offset;
        point.latitudeUnits =
            static_cast<std::int32_t>(collection::Get32(location + collection::kLatitudeAt));
        point.longitudeUnits =
            static_cast<std::int32_t>(collection::Get32(location + collection::kLongitudeAt));
        point.fixClass = location[collection::kFixClassAt];
        point.kind = location[collection::kKindAt];
        point.hour = location[collection::kHourAt];
        point.minute = location[collection::kMinuteAt];
        point.second = location[collection::kSecondAt];
        m_points.push_back(point);
    }
    void Reading(const std::uint8_t* reading) override {
        StoredReading r;
        r.attribute = reading[collection::kAttributeAt];
        r.signal256 = static_cast<std::int16_t>(collection::Get16(reading + collection::kSignalAt));
        std::copy_n(reading + collection::kMacAt, r.mac.size(), r.mac.begin());
        std::copy_n(reading + collection::kSsidAt, r.ssidField.size(), r.ssidField.begin());
        m_points.back().readings.push_back(r);
    }

private:
    std::vector<StoredPoint>& m_points;
};

}  // namespace detail

inline StoredSurvey ReadStoredSurvey(const std::string& path) {
    StoredSurvey survey;
    detail::StoredSurveyVisitor visitor(survey.points);
    survey.whole = collection::WalkCollection(path, visitor).Whole();
    std::uint8_t header[collection::kHeaderSize] = {};
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        const bool read = std::fread(header, 1, sizeof header, file) == sizeof header;
        std::fclose(file);
        if (!read)
            return survey;
    }
    const auto side =
        SideStore::OpenForReading(path, SideIdentity(path, header), &survey.sideMessage);
    if (side) {
        survey.hasSide = true;
        survey.sidePoints = side->Points();
        survey.sideReadings = side->AllReadings();
    }
    return survey;
}

// "aa:bb:cc:dd:ee:ff", as the side store writes addresses.
inline std::string MacText(const std::array<std::uint8_t, 6>& mac) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

}  // namespace ketrion::testing
