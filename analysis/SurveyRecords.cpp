#include "analysis/SurveyRecords.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "survey/CollectionFile.h"
#include "survey/CollectionReader.h"

namespace ketrion::analysis {

namespace {

using namespace ketrion::collection;

// Readings reserved ahead per point: a board reports at most 32 access points
// per report, and the list rarely holds many more.
constexpr std::size_t kReserveReadings = 64;

SurveyPoint DecodeLocation(const std::uint8_t* location, std::int64_t offset) {
    SurveyPoint point;
    point.offset = offset;
    point.latitude = static_cast<std::int32_t>(Get32(location + kLatitudeAt));
    point.longitude = static_cast<std::int32_t>(Get32(location + kLongitudeAt));
    point.month = location[kMonthAt];
    point.day = location[kDayAt];
    point.year = Get16(location + kYearAt);
    point.hour = location[kHourAt];
    point.minute = location[kMinuteAt];
    point.second = location[kSecondAt];
    point.height = static_cast<std::int32_t>(Get32(location + kHeightAt));
    point.fixClass = location[kFixClassAt];
    point.storedCount = Get16(location + kCountAt);
    point.kind = location[kKindAt];
    return point;
}

Reading DecodeReading(const std::uint8_t* record) {
    Reading reading;
    reading.attribute = record[kAttributeAt];
    reading.signal = static_cast<std::int16_t>(Get16(record + kSignalAt));
    std::memcpy(reading.mac.data(), record + kMacAt, reading.mac.size());
    reading.ssid = Ssid(record);
    return reading;
}

bool IsLeapYear(unsigned year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Decodes every record the walk visits into `out`.
class RecordsVisitor final : public WalkVisitor {
public:
    explicit RecordsVisitor(SurveyRecords& out) : m_out(out) {}
    void Header(const collection::Header& header, bool) override {
        m_out.created = static_cast<std::int64_t>(Get64(header.bytes + kCreatedAt));
        static_assert(sizeof header.bytes == std::tuple_size_v<decltype(m_out.header)>);
        std::memcpy(m_out.header.data(), header.bytes, sizeof header.bytes);
        m_out.headerRead = true;
    }
    void Location(std::int64_t number, std::int64_t offset, const std::uint8_t* location) override {
        SurveyPoint& point = m_out.points.emplace_back(DecodeLocation(location, offset));
        point.number = number;
        // The count is untrusted: a cut file may claim 65535 readings.
        point.readings.reserve(std::min<std::size_t>(point.storedCount, kReserveReadings));
    }
    void Reading(const std::uint8_t* reading) override {
        m_out.points.back().readings.push_back(DecodeReading(reading));
    }

private:
    SurveyRecords& m_out;
};

// Hands each point to a callback once its readings are read, holding one.
class StreamVisitor final : public WalkVisitor {
public:
    StreamVisitor(SurveyRecords& out, const std::function<void(SurveyPoint&)>& each)
        : m_out(out), m_each(each) {}
    void Header(const collection::Header& header, bool sizesRead) override {
        RecordsVisitor(m_out).Header(header, sizesRead);
    }
    void Location(std::int64_t number, std::int64_t offset, const std::uint8_t* location) override {
        Flush();
        m_point = DecodeLocation(location, offset);
        m_point.number = number;
        m_held = true;
    }
    void Reading(const std::uint8_t* reading) override {
        m_point.readings.push_back(DecodeReading(reading));
    }
    // The last point, once the walk has ended.
    void Flush() {
        if (m_held)
            m_each(m_point);
        m_held = false;
        m_point.readings.clear();  // keeps its room for the next point
    }

private:
    SurveyRecords& m_out;
    const std::function<void(SurveyPoint&)>& m_each;
    SurveyPoint m_point;
    bool m_held = false;
};

// The message for a walk that did not read the whole file, naming it.
std::string Problem(const WalkEnd& end, const std::string& path) {
    using Kind = WalkEnd::Kind;
    switch (end.kind) {
        case Kind::Complete:
            break;
        case Kind::NotOpened:
            if (end.open.notRegular)
                return "cannot open " + path + ": " +
                       ((end.open.type & S_IFMT) == S_IFDIR ? "it is a folder"
                                                            : "it is not a regular file");
            return "cannot open " + path + ": " + std::strerror(end.open.error);
        case Kind::BadHeader:
            return DamageText(end.damage, path, end.header);
        case Kind::CutReadings:
            return "The collection file " + path + " is damaged: it ends inside point " +
                   std::to_string(end.points) + " (after " + std::to_string(end.complete) +
                   " of its " + std::to_string(end.count) + " readings).";
        case Kind::CutLocation:
            return "The collection file " + path +
                   " is damaged: it ends inside the location record of point " +
                   std::to_string(end.points + 1) + " (" + std::to_string(end.leftover) +
                   " bytes at offset " + std::to_string(end.offset) + ").";
        case Kind::ReadError:
            return "cannot read " + path + ": " + std::strerror(end.error);
        case Kind::TooManyPoints:
            return TooManyPointsText(path);
    }
    return {};
}

}  // namespace

int SurveyPoint::Strongest() const {
    int strongest = kWeakestSignal;
    if (!IsSurvey())
        return strongest;
    for (const Reading& reading : readings)
        strongest = std::max(strongest, reading.SignalDbm());
    return strongest;
}

bool SurveyPoint::HasValidTime() const {
    static constexpr unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year == 0 || month < 1 || month > 12 || day < 1)
        return false;
    const unsigned days = kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
    // A receiver reports a leap second as second 60.
    return day <= days && hour < 24 && minute < 60 && second <= 60;
}

std::string SurveyPoint::DateTime(const char* separator) const {
    char text[48];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u%s%02u:%02u:%02u", unsigned{year},
                  unsigned{month}, unsigned{day}, separator, unsigned{hour}, unsigned{minute},
                  unsigned{second});
    return text;
}

ReadResult ReadSurveyRecords(const std::string& path, SurveyRecords& out) {
    out = SurveyRecords{};
    out.path = path;
    RecordsVisitor visitor(out);
    const WalkEnd end = WalkCollection(path, visitor);
    // Grown by doubling while read: up to half of it would stay unused for
    // as long as the records are kept.
    out.points.shrink_to_fit();
    out.damage = Problem(end, path);
    switch (end.kind) {
        case WalkEnd::Kind::Complete:
            return ReadResult::Complete;
        case WalkEnd::Kind::NotOpened:
            return ReadResult::NotOpened;
        case WalkEnd::Kind::TooManyPoints:
            // Refused as a whole, as loading it in the program is: nothing to use.
            out.points.clear();
            out.points.shrink_to_fit();
            return ReadResult::NotOpened;
        default:
            return ReadResult::Damaged;
    }
}

ReadResult StreamSurveyRecords(const std::string& path, SurveyRecords& out,
                               const std::function<void(SurveyPoint&)>& each) {
    out = SurveyRecords{};
    out.path = path;
    StreamVisitor visitor(out, each);
    const WalkEnd end = WalkCollection(path, visitor);
    out.damage = Problem(end, path);
    switch (end.kind) {
        case WalkEnd::Kind::Complete:
            visitor.Flush();
            return ReadResult::Complete;
        case WalkEnd::Kind::NotOpened:
        case WalkEnd::Kind::TooManyPoints:
            // Refused as a whole, as ReadSurveyRecords does (what was handed
            // over already is the caller's to discard).
            return ReadResult::NotOpened;
        default:
            visitor.Flush();
            return ReadResult::Damaged;
    }
}

namespace {

// Notes whether any location record stores a position near the default origin.
class DefaultOriginVisitor final : public WalkVisitor {
public:
    void Location(std::int64_t, std::int64_t offset, const std::uint8_t* location) override {
        if (m_found)
            return;
        const SurveyPoint point = DecodeLocation(location, offset);
        m_found = NearDefaultOrigin(point.LatitudeDegrees(), point.LongitudeDegrees());
    }
    bool Found() const { return m_found; }

private:
    bool m_found = false;
};

}  // namespace

bool StoredAtDefaultOrigin(const std::string& path) {
    DefaultOriginVisitor visitor;
    WalkCollection(path, visitor);
    return visitor.Found();
}

void ShiftFromDefaultOrigin(SurveyPoint& point, const OriginShift& shift) {
    double latitude = point.LatitudeDegrees(), longitude = point.LongitudeDegrees();
    if (!NearDefaultOrigin(latitude, longitude))
        return;
    shift.Apply(latitude, longitude);
    point.latitude = static_cast<std::int32_t>(std::lround(latitude / kDegreesPerUnit));
    point.longitude = static_cast<std::int32_t>(std::lround(longitude / kDegreesPerUnit));
}

}  // namespace ketrion::analysis
