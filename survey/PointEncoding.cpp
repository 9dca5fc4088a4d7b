#include "survey/PointEncoding.h"

#include <algorithm>
#include <cstring>

namespace ketrion::collection {

void EncodeLocation(const source::Fix& fix, std::uint16_t count, std::uint8_t kind,
                    std::uint8_t (&record)[kLocationSize]) {
    std::memset(record, 0, kLocationSize);
    Put32(record + kLatitudeAt, static_cast<std::uint32_t>(fix.latitudeUnits));
    Put32(record + kLongitudeAt, static_cast<std::uint32_t>(fix.longitudeUnits));
    record[kMonthAt] = fix.month;
    record[kDayAt] = fix.day;
    Put16(record + kYearAt, fix.year);
    record[kHourAt] = fix.hour;
    record[kMinuteAt] = fix.minute;
    record[kSecondAt] = fix.second;
    std::memcpy(record + kFractionAt, fix.secondFraction, sizeof fix.secondFraction);
    Put32(record + kHeightAt, static_cast<std::uint32_t>(fix.heightRaw));
    Put16(record + kSpeed3DAt, fix.speed3D);
    Put16(record + kSpeed2DAt, fix.speed2D);
    Put16(record + kHeadingAt, fix.heading);
    record[kFixClassAt] = static_cast<std::uint8_t>(fix.fixClass);
    Put16(record + kCountAt, count);
    record[kKindAt] = kind;
}

EncodedPoint EncodeSurveyPoint(const source::Fix& fix,
                               const std::vector<source::Reading>& readings) {
    EncodedPoint point;
    std::size_t count = 0;
    for (const source::Reading& reading : readings) {
        if (reading.inCollection && count < kMaxPointReadings)
            ++count;
    }
    point.readings = static_cast<std::uint16_t>(count);
    point.bytes.assign(kLocationSize + count * kReadingSize, 0);
    std::uint8_t location[kLocationSize];
    EncodeLocation(fix, point.readings, kKindSurvey, location);
    std::memcpy(point.bytes.data(), location, kLocationSize);

    std::size_t written = 0;
    for (const source::Reading& reading : readings) {
        if (!reading.inCollection)
            continue;
        if (written == count)
            break;
        std::uint8_t* rec = point.bytes.data() + kLocationSize + written * kReadingSize;
        rec[kAttributeAt] = reading.attribute;
        Put16(rec + kSignalAt, static_cast<std::uint16_t>(reading.signal256));
        std::memcpy(rec + kMacAt, reading.mac.data(), reading.mac.size());
        const std::size_t nameBytes = std::min(reading.name.size(), kSsidField - 1);
        std::memcpy(rec + kSsidAt, reading.name.data(), nameBytes);
        if (reading.dbm > point.strongest)
            point.strongest = static_cast<std::int16_t>(std::min(reading.dbm, 0x7FFF));
        ++written;
    }
    return point;
}

}  // namespace ketrion::collection
