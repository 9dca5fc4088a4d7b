#include "ui/shell/PointRecord.h"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <memory>

#include "engine/Location.h"
#include "model/Text.h"
#include "survey/CollectionFile.h"
#include "survey/RegularFile.h"
#include "survey/SideStore.h"

namespace ketrion {

namespace {

// Closes the descriptor on every way out.
struct Descriptor {
    // The guarded open: whatever now sits at the path, a pipe or a device is
    // refused rather than waited on.
    explicit Descriptor(const std::string& path) {
        files::OpenFailure failure;
        fd = files::OpenRegular(path, O_RDONLY, 0, failure);
    }
    ~Descriptor() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int fd = -1;
};

double Degrees(const std::uint8_t* p) {
    return static_cast<std::int32_t>(collection::Get32(p)) * gps::kDegreesPerUnit;
}

}  // namespace

const char* PointRecord::FixText() const {
    switch (fixClass) {
        case 1:
            return "2D Fix";
        case 2:
            return "3D Fix";
        default:
            return "No fix";
    }
}

std::string PointRecord::PositionText() const {
    char text[64];
    std::snprintf(text, sizeof text, "%.5f %c, %.5f %c", std::fabs(latitude),
                  latitude < 0 ? 'S' : 'N', std::fabs(longitude), longitude < 0 ? 'W' : 'E');
    return text;
}

namespace {

// Channel, band, security and PHY of each reading, and how the point was
// placed, where the side store beside the file has them.
void AddSideDetails(const std::string& path, int fd, std::int64_t offset, PointRecord& record) {
    // The header through the descriptor the record was read from.
    std::uint8_t head[collection::kHeaderSize] = {};
    if (::pread(fd, head, sizeof head, 0) != static_cast<ssize_t>(sizeof head)) {
        return;
    }
    const std::unique_ptr<SideStore> side =
        SideStore::OpenForReading(path, SideIdentity(path, head), nullptr);
    if (side == nullptr) {
        return;
    }
    const auto points = side->Points();
    if (const auto point = points.find(offset); point != points.end()) {
        record.method = point->second.method;
    }
    for (const SideStore::Reading& row : side->ReadingsOf(offset)) {
        if (!row.inCollection || row.index < 0 ||
            row.index >= static_cast<int>(record.readings.size())) {
            continue;  // only readings the file holds are listed
        }
        PointRecord::Reading& r = record.readings[static_cast<std::size_t>(row.index)];
        if (row.channel) {
            r.channel = std::to_string(*row.channel);
        }
        r.band = row.band;
        r.security = row.security;
        r.phy = row.phy;
        record.sideDetails = record.sideDetails || row.channel || !row.band.empty() ||
                             !row.security.empty() || !row.phy.empty();
    }
}

}  // namespace

PointRecord ReadPointRecord(const std::string& path, std::int64_t offset) {
    PointRecord record;
    if (path.empty() || offset < collection::kFirstRecord) {
        return record;
    }
    const Descriptor file(path);
    if (file.fd < 0) {
        return record;
    }
    collection::Reader reader(file.fd, 64 * 1024);
    collection::Header header;
    if (reader.Open(header) != collection::Damage::None) {
        return record;
    }
    reader.Seek(offset);
    std::uint8_t location[collection::kLocationSize];
    std::int64_t at = 0;
    if (!reader.NextLocation(location, at)) {
        return record;
    }
    record.valid = true;
    record.kind = location[collection::kKindAt];
    char time[32];
    // ISO 8601 order: no reader has to guess which of day and month comes first.
    std::snprintf(time, sizeof time, "%04u-%02u-%02u %02u:%02u:%02u UTC",
                  unsigned{collection::Get16(location + collection::kYearAt)},
                  unsigned{location[collection::kMonthAt]}, unsigned{location[collection::kDayAt]},
                  unsigned{location[collection::kHourAt]},
                  unsigned{location[collection::kMinuteAt]},
                  unsigned{location[collection::kSecondAt]});
    record.time = time;
    record.latitude = Degrees(location + collection::kLatitudeAt);
    record.longitude = Degrees(location + collection::kLongitudeAt);
    record.fixClass = location[collection::kFixClassAt];
    record.count = collection::Get16(location + collection::kCountAt);
    // The count comes from the file: each reading must be there to be shown,
    // so a count past the end of the file stops at the end.
    std::uint8_t reading[collection::kReadingSize];
    for (int i = 1; i <= record.count && reader.NextReading(reading); ++i) {
        PointRecord::Reading r;
        r.number = i;
        r.mac = MacText(reading + collection::kMacAt);
        r.signal = collection::SignalDbm(reading);
        r.ssid = collection::Ssid(reading);
        r.attribute = reading[collection::kAttributeAt];
        record.readings.push_back(std::move(r));
    }
    AddSideDetails(path, file.fd, offset, record);
    return record;
}

}  // namespace ketrion
