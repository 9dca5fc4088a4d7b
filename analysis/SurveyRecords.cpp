#include "analysis/SurveyRecords.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "survey/CollectionFile.h"

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

// Walks the open regular file `fd` into `out`.
ReadResult ReadOpenFile(int fd, std::int64_t size, const std::string& path, SurveyRecords& out) {
    Reader reader(fd);
    Header header;
    const Damage damage = reader.Open(header);
    if (damage != Damage::None) {
        out.damage = DamageText(damage, path, header);
        return ReadResult::Damaged;
    }
    out.created = static_cast<std::int64_t>(Get64(header.bytes + kCreatedAt));

    std::uint8_t locationScratch[kLocationSize];
    std::uint8_t readingScratch[kReadingSize];
    std::int64_t offset = 0;
    while (const std::uint8_t* location = reader.NextLocationView(locationScratch, offset)) {
        // The location's fields are taken before its readings move the buffer.
        SurveyPoint& point = out.points.emplace_back(DecodeLocation(location, offset));
        // The count is untrusted: a cut file may claim 65535 readings.
        point.readings.reserve(std::min<std::size_t>(point.storedCount, kReserveReadings));
        while (point.readings.size() < point.storedCount) {
            const std::uint8_t* reading = reader.NextReadingView(readingScratch);
            if (reading == nullptr)
                break;
            point.readings.push_back(DecodeReading(reading));
        }
        if (point.readings.size() < point.storedCount) {
            out.damage = "The collection file " + path + " is damaged: it ends inside point " +
                         std::to_string(out.points.size()) + " (after " +
                         std::to_string(point.readings.size()) + " of its " +
                         std::to_string(point.storedCount) + " readings).";
            return ReadResult::Damaged;
        }
    }
    if (reader.Error() != 0) {
        out.damage = "cannot read " + path + ": " + std::strerror(reader.Error());
        return ReadResult::Damaged;
    }
    // The walk stops at a location record that did not come whole: either the
    // file ends there exactly, or a cut record is left over.
    if (offset < size) {
        out.damage = "The collection file " + path +
                     " is damaged: it ends inside the location record of point " +
                     std::to_string(out.points.size() + 1) + " (" + std::to_string(size - offset) +
                     " bytes at offset " + std::to_string(offset) + ").";
        return ReadResult::Damaged;
    }
    return ReadResult::Complete;
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
    // Non-blocking so that a named pipe in place of the file cannot stall the
    // open; anything but a regular file is turned away.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        out.damage = "cannot open " + path + ": " + std::strerror(errno);
        return ReadResult::NotOpened;
    }
    struct stat st {};
    ReadResult result = ReadResult::NotOpened;
    if (::fstat(fd, &st) != 0) {
        out.damage = "cannot open " + path + ": " + std::strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
        out.damage = "cannot open " + path + ": " +
                     (S_ISDIR(st.st_mode) ? "it is a folder" : "it is not a regular file");
    } else {
        result = ReadOpenFile(fd, static_cast<std::int64_t>(st.st_size), path, out);
    }
    ::close(fd);
    return result;
}

std::string MacText(const Mac& mac) {
    char text[20];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

}  // namespace ketrion::analysis
