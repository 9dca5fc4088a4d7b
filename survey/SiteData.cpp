#include "survey/SiteData.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "engine/LinkList.h"
#include "engine/Location.h"
#include "platform/Clock.h"
#include "platform/Prompt.h"
#include "platform/Sound.h"
#include "survey/SiteProjection.h"

namespace ketrion {

std::mutex g_hSurveyLock;

namespace {

using namespace collection;

constexpr std::size_t kMaxReadings = std::numeric_limits<std::uint16_t>::max();  // uint16 count
constexpr std::int64_t kFindRangeSquared =
    std::int64_t{CSiteData::kFindRange} * CSiteData::kFindRange;  // 1600

SystemClock& DefaultClock() {
    static SystemClock clock;
    return clock;
}

// A position in degrees as the file's unit of 1/3,600,000 degree, rounded to
// the nearest unit (the decoded degrees came from such an integer, and
// truncation could land one unit off) and saturated to int32.
std::int32_t ToFileUnits(double degrees) {
    double units = std::round(degrees * 3600000.0);
    if (!std::isfinite(units))
        return 0;
    units = std::clamp(units, double{std::numeric_limits<std::int32_t>::min()},
                       double{std::numeric_limits<std::int32_t>::max()});
    return static_cast<std::int32_t>(units);
}

// Average signal of an access point: signalSum / sampleCount, truncated toward zero.
int AverageSignal(const ApRecord& ap) {
    if (ap.sampleCount == 0)
        return ap.signalSum;
    return static_cast<int>(std::int64_t{ap.signalSum} / std::int64_t{ap.sampleCount});
}

}  // namespace

// The collection file while one operation holds it: closed (and its lock
// released) when the operation ends.
class CSiteData::OpenFile {
public:
    OpenFile() = default;
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    ~OpenFile() {
        if (fd >= 0)
            close(fd);
    }
    std::string path;  // the collection file's path when the operation began
    int fd = -1;
    Header header;
    std::int64_t size = 0;
    dev_t device = 0;
    ino_t inode = 0;
};

CSiteData::CSiteData(LinkList& list, CLocation& location, Prompt& prompt, Sound& sound,
                     Clock& clock)
    : m_list(list), m_location(location), m_prompt(prompt), m_sound(sound), m_clock(clock) {}

CSiteData::CSiteData(LinkList& list, CLocation& location, Prompt& prompt, Sound& sound)
    : CSiteData(list, location, prompt, sound, DefaultClock()) {}

CSiteData::~CSiteData() = default;

void CSiteData::SetPath(std::string path) {
    std::lock_guard lock(m_pathMutex);
    m_strPath = std::move(path);
}

std::string CSiteData::Path() const {
    std::lock_guard lock(m_pathMutex);
    return m_strPath;
}

bool CSiteData::HasPath() const {
    std::lock_guard lock(m_pathMutex);
    return !m_strPath.empty();
}

std::size_t CSiteData::PointCount() const {
    std::lock_guard lock(g_hSurveyLock);
    return m_points.size();
}

CSiteData::_tap CSiteData::Current() const {
    std::lock_guard lock(g_hSurveyLock);
    return m_current;
}

void CSiteData::ShowFailure(const std::string& path, const char* action, int error) {
    std::string text;
    if (error == EWOULDBLOCK) {
        text = "The collection file " + path + " is in use by another program.";
    } else {
        text = std::string("Cannot ") + action + " the collection file " + path + ": " +
               std::strerror(error) + ".";
    }
    m_prompt.Message(text);
}

bool CSiteData::OpenCollection(OpenFile& file, Access access) {
    if (file.path.empty())
        return false;
    int flags = (access == Access::Read ? O_RDONLY : O_RDWR) | O_CLOEXEC;
    do {
        file.fd = open(file.path.c_str(), flags);
    } while (file.fd < 0 && errno == EINTR);
    if (file.fd < 0) {
        ShowFailure(file.path, "open", errno);
        return false;
    }
    // Other processes may read while we read, but nobody writes while we do.
    if (flock(file.fd, (access == Access::Read ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
        ShowFailure(file.path, "open", errno);
        return false;
    }
    struct stat st {};
    if (fstat(file.fd, &st) != 0) {
        ShowFailure(file.path, "open", errno);
        return false;
    }
    file.size = st.st_size;
    file.device = st.st_dev;
    file.inode = st.st_ino;
    return true;
}

bool CSiteData::TakeChosenPath(OpenFile& file) {
    file.path = Path();
    if (file.path.empty()) {
        m_prompt.Message("Data collection file must be selected.");
        return false;
    }
    return true;
}

bool CSiteData::NewCollection() {
    std::lock_guard lock(m_fileMutex);
    OpenFile file;
    if (!TakeChosenPath(file)) {
        return false;
    }
    do {
        file.fd = open(file.path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    } while (file.fd < 0 && errno == EINTR);
    if (file.fd < 0) {
        ShowFailure(file.path, "create", errno);
        return false;
    }
    // Truncate only once we hold the file, so a file another program is
    // writing is not cut under it.
    struct stat st {};
    if (flock(file.fd, LOCK_EX | LOCK_NB) != 0 || ftruncate(file.fd, 0) != 0 ||
        fstat(file.fd, &st) != 0) {
        ShowFailure(file.path, "create", errno);
        return false;
    }
    file.device = st.st_dev;
    file.inode = st.st_ino;
    std::uint8_t bytes[kFirstRecord];
    EncodeHeader(m_clock.NowSeconds(), bytes);
    std::int64_t offset = 0;
    if (!Append(file, bytes, sizeof bytes, offset))
        return false;
    std::memcpy(m_header.bytes, bytes, kHeaderSize);
    m_header.sizeBlockOffset = static_cast<std::int32_t>(kHeaderSize);
    m_header.locationSize = static_cast<std::int32_t>(kLocationSize);
    m_header.readingSize = static_cast<std::int32_t>(kReadingSize);
    RememberTail(file, kFirstRecord);
    return true;
}

bool CSiteData::Append(OpenFile& file, const std::uint8_t* bytes, std::size_t length,
                       std::int64_t& offset) {
    offset = file.size;
    std::size_t done = 0;
    while (done < length) {
        ssize_t n = pwrite(file.fd, bytes + done, length - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            int error = n < 0 ? errno : ENOSPC;
            // Leave no partial point behind: the next append must start on a
            // record boundary.
            if (ftruncate(file.fd, offset) != 0) {
                // The failure below is what the user needs to see.
            }
            ShowFailure(file.path, "write to", error);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    if (fdatasync(file.fd) != 0) {
        // Not known to be on the disk: take the point back rather than count it.
        int error = errno;
        if (ftruncate(file.fd, offset) != 0) {
            // The failure below is what the user needs to see.
        }
        ShowFailure(file.path, "write to", error);
        return false;
    }
    file.size = offset + static_cast<std::int64_t>(length);
    return true;
}

// Before an append: reads the header and record sizes, and makes sure the file
// ends on a point boundary. A point cut short by a crash is trimmed to its
// complete readings (its count corrected); a cut location record is removed.
// The walk starts where this process last saw the end of the file, so it costs
// nothing in the usual case.
bool CSiteData::CheckTail(OpenFile& file, std::int64_t size) {
    Reader reader(file.fd, 4096);
    Damage damage = reader.Open(file.header);
    if (damage != Damage::None) {
        m_prompt.Message(DamageText(damage, file.path, file.header));
        return false;
    }
    if (file.header.locationSize != static_cast<std::int32_t>(kLocationSize) ||
        file.header.readingSize != static_cast<std::int32_t>(kReadingSize)) {
        // Appending 61/41-byte records would make the file unreadable.
        m_prompt.Message("The collection file " + file.path + " has records of " +
                         std::to_string(file.header.locationSize) + " and " +
                         std::to_string(file.header.readingSize) +
                         " bytes; points can only be added to a file with 61- and 41-byte "
                         "records.");
        return false;
    }
    m_header = file.header;
    std::int64_t start = reader.Position();
    if (m_tailKnown && m_tailDevice == file.device && m_tailInode == file.inode &&
        m_tailEnd >= start && m_tailEnd <= size) {
        start = m_tailEnd;
    }
    if (start == size)
        return true;

    reader.Seek(start);
    std::uint8_t location[kLocationSize];
    std::uint8_t reading[kReadingSize];
    std::int64_t offset = start;
    std::int64_t end = start;  // end of the last complete point
    while (reader.NextLocation(location, offset)) {
        unsigned count = Get16(location + kCountAt);
        unsigned complete = 0;
        while (complete < count && reader.NextReading(reading))
            ++complete;
        if (complete < count) {
            std::uint8_t fixed[2];
            Put16(fixed, static_cast<std::uint16_t>(complete));
            if (pwrite(file.fd, fixed, sizeof fixed, offset + kCountAt) != 2) {
                ShowFailure(file.path, "repair", errno);
                return false;
            }
            end = offset + kLocationSize + std::int64_t{complete} * kReadingSize;
            break;
        }
        end = reader.Position();
    }
    if (end < size) {
        if (ftruncate(file.fd, end) != 0) {
            ShowFailure(file.path, "repair", errno);
            return false;
        }
        file.size = end;
    }
    return true;
}

void CSiteData::RememberTail(const OpenFile& file, std::int64_t end) {
    m_tailKnown = true;
    m_tailDevice = file.device;
    m_tailInode = file.inode;
    m_tailEnd = end;
}

void CSiteData::AddPoint(const _tap& point) {
    std::lock_guard lock(g_hSurveyLock);
    m_points.push_back(point);
}

void CSiteData::SetPosition(int x, int y) {
    std::lock_guard scan(m_scanMutex);
    m_currentX = x;
    m_currentY = y;
    m_list.RemoveAll();
}

bool CSiteData::RecordScan() {
    if (!HasPath())
        return false;  // a scan end nobody asked for
    m_bNoApHeard = false;

    // Compose the point in memory: location record with its final reading
    // count, then its reading records.
    _tap point;
    point.kind = kKindSurvey;
    point.signal = kWeakestSignal;
    {
        std::lock_guard scan(m_scanMutex);
        std::lock_guard list(m_list.listMutex);
        point.x = m_currentX;
        point.y = m_currentY;
        const LocationSnapshot gps = m_location.Snapshot();
        m_pointBuffer.assign(kLocationSize, 0);
        std::uint8_t* loc = m_pointBuffer.data();
        Put32(loc + kLatitudeAt, static_cast<std::uint32_t>(gps.RawInt32(gps::kFilteredLatitude)));
        Put32(loc + kLongitudeAt,
              static_cast<std::uint32_t>(gps.RawInt32(gps::kFilteredLongitude)));
        loc[kMonthAt] = static_cast<std::uint8_t>(gps.month);
        loc[kDayAt] = static_cast<std::uint8_t>(gps.day);
        Put16(loc + kYearAt, gps.year);
        loc[kHourAt] = static_cast<std::uint8_t>(gps.hour);
        loc[kMinuteAt] = static_cast<std::uint8_t>(gps.minute);
        loc[kSecondAt] = static_cast<std::uint8_t>(gps.second);
        std::memcpy(loc + kFractionAt, gps.secondFraction, 4);
        Put32(loc + kHeightAt, static_cast<std::uint32_t>(gps.RawInt32(gps::kEllipsoidHeight)));
        Put16(loc + kSpeed3DAt, gps.speed3D);
        Put16(loc + kSpeed2DAt, gps.speed2D);
        Put16(loc + kHeadingAt, gps.heading);
        loc[kFixClassAt] = FixClass(gps.statusByte);
        loc[kKindAt] = kKindSurvey;

        std::size_t readings = 0;
        LinkList::Node* node = nullptr;
        for (int rc = m_list.GetAt(1, node); rc == 0 && readings < kMaxReadings;
             rc = m_list.GetNext(node)) {
            int average = AverageSignal(*node);
            // The file holds 1/256 dBm in 16 bits: values beyond it saturate
            // rather than wrap into a wrong signal.
            int stored = std::clamp(average * 256, int{std::numeric_limits<std::int16_t>::min()},
                                    int{std::numeric_limits<std::int16_t>::max()});
            std::size_t at = m_pointBuffer.size();
            m_pointBuffer.resize(at + kReadingSize, 0);
            std::uint8_t* rec = m_pointBuffer.data() + at;
            rec[kAttributeAt] = node->attribute;
            Put16(rec + kSignalAt, static_cast<std::uint16_t>(stored));
            std::memcpy(rec + kMacAt, node->mac, 6);
            std::memcpy(rec + kSsidAt, node->ssid, kSsidField);
            rec[kSsidAt + kSsidField - 1] = 0;
            if (average > point.signal)
                point.signal = static_cast<std::int16_t>(average);
            ++readings;
        }
        if (readings == 0)
            m_bNoApHeard = true;
        point.readings = static_cast<std::uint16_t>(readings);
        Put16(m_pointBuffer.data() + kCountAt, point.readings);
    }

    std::lock_guard lock(m_fileMutex);
    OpenFile file;
    file.path = Path();
    if (!OpenCollection(file, Access::Append))
        return false;
    if (!CheckTail(file, file.size))
        return false;
    if (!Append(file, m_pointBuffer.data(), m_pointBuffer.size(), point.offset))
        return false;
    std::memcpy(m_locationRecord, m_pointBuffer.data(), kLocationSize);
    RememberTail(file, file.size);
    AddPoint(point);
    return true;
}

bool CSiteData::RecordDynamicAp(int x, int y) {
    std::lock_guard lock(m_fileMutex);
    OpenFile file;
    if (!TakeChosenPath(file)) {
        return false;
    }
    if (!OpenCollection(file, Access::Append))
        return false;
    if (!CheckTail(file, file.size))
        return false;
    // The other fields keep what the last location record built or read held.
    std::uint8_t record[kLocationSize];
    std::memcpy(record, m_locationRecord, kLocationSize);
    const LocationSnapshot gps = m_location.Snapshot();
    Put32(record + kLatitudeAt, static_cast<std::uint32_t>(ToFileUnits(gps.latitude)));
    Put32(record + kLongitudeAt, static_cast<std::uint32_t>(ToFileUnits(gps.longitude)));
    Put16(record + kCountAt, 0);
    record[kKindAt] = kKindDynamicAp;
    _tap point;
    point.x = x;
    point.y = y;
    point.signal = kWeakestSignal;
    point.readings = 0;
    point.kind = kKindDynamicAp;
    if (!Append(file, record, sizeof record, point.offset))
        return false;
    std::memcpy(m_locationRecord, record, kLocationSize);
    RememberTail(file, file.size);
    AddPoint(point);
    return true;
}

bool CSiteData::LoadSurvey() {
    std::lock_guard lock(m_fileMutex);
    OpenFile file;
    if (!TakeChosenPath(file)) {
        return false;
    }
    if (!OpenCollection(file, Access::Read))
        return false;
    Reader reader(file.fd);
    Damage damage = reader.Open(file.header);
    if (damage != Damage::None) {
        m_prompt.Message(DamageText(damage, file.path, file.header));
        return false;
    }
    m_header = file.header;

    std::vector<_tap> points;
    std::uint8_t locationScratch[kLocationSize];
    std::uint8_t readingScratch[kReadingSize];
    std::int64_t offset = 0;
    std::int64_t end = reader.Position();  // end of the last complete point
    // Records are looked at in the reader's buffer; the location record's
    // fields are taken before its readings are read.
    while (const std::uint8_t* location = reader.NextLocationView(locationScratch, offset)) {
        std::memcpy(m_locationRecord, location, kLocationSize);
        _tap point;
        point.offset = offset;
        if (m_projection) {
            int latitude = static_cast<std::int32_t>(Get32(location + kLatitudeAt));
            int longitude = static_cast<std::int32_t>(Get32(location + kLongitudeAt));
            point.x = m_projection->PlanX(latitude, longitude);
            point.y = m_projection->PlanY(latitude, longitude);
        }
        const unsigned count = Get16(location + kCountAt);
        const bool survey = location[kKindAt] == kKindSurvey;
        int strongest = kWeakestSignal;
        unsigned complete = 0;
        while (complete < count) {
            const std::uint8_t* reading = reader.NextReadingView(readingScratch);
            if (reading == nullptr)
                break;
            strongest = std::max(strongest, SignalDbm(reading));
            ++complete;
        }
        if (survey) {
            point.kind = kKindSurvey;
            point.signal = static_cast<std::int16_t>(strongest);
            point.readings = static_cast<std::uint16_t>(complete);
            m_sound.PlayResourceSound("PING");
        } else {
            point.kind = kKindDynamicAp;
            point.signal = kWeakestSignal;
            point.readings = 0;
        }
        points.push_back(point);
        if (complete < count)
            break;  // the file ends inside this point
        end = reader.Position();
    }
    if (reader.Error() != 0)
        ShowFailure(file.path, "read", reader.Error());
    RememberTail(file, end);
    std::lock_guard points_lock(g_hSurveyLock);
    m_points = std::move(points);
    m_bCurrentValid = false;  // the selection belonged to the points just replaced
    return true;
}

int CSiteData::FindNearestPoint(int x, int y) {
    std::lock_guard lock(g_hSurveyLock);
    std::int64_t best = kFindRangeSquared + 1;
    for (const _tap& point : m_points) {
        // Differences span up to 2^32; a point more than the range away on
        // either axis can never be selected, so the square is taken only when
        // it is small.
        std::int64_t dx = std::int64_t{point.x} - x;
        std::int64_t dy = std::int64_t{point.y} - y;
        if (dx < -kFindRange || dx > kFindRange || dy < -kFindRange || dy > kFindRange)
            continue;
        std::int64_t d = dx * dx + dy * dy;
        if (d < best) {
            m_current = point;
            m_bCurrentValid = true;
            best = d;
        }
    }
    if (best > kFindRangeSquared)
        return -1;
    return m_current.kind;
}

std::string CSiteData::ReadingLine(OpenFile& file, const _tap& point, int i) {
    if (i < 1)
        return {};
    const Header& h = file.header;
    std::int64_t at = point.offset + h.locationSize + std::int64_t{i - 1} * h.readingSize;
    if (point.offset < 0 || at + h.readingSize > file.size)
        return {};
    std::uint8_t record[kReadingSize];
    ssize_t n;
    do {
        n = pread(file.fd, record, sizeof record, at);
    } while (n < 0 && errno == EINTR);
    if (n != static_cast<ssize_t>(sizeof record))
        return {};
    const std::uint8_t* mac = record + kMacAt;
    std::string ssid = Ssid(record);
    char line[128];
    std::snprintf(line, sizeof line, "%d  %02X-%02X-%02X-%02X-%02X-%02X %d      %s", i, mac[0],
                  mac[1], mac[2], mac[3], mac[4], mac[5], SignalDbm(record), ssid.c_str());
    return line;
}

std::string CSiteData::FormatReading(int i) {
    _tap point = Current();
    std::lock_guard lock(m_fileMutex);
    OpenFile file;
    file.path = Path();
    if (!OpenCollection(file, Access::Read))
        return {};
    Reader reader(file.fd, 64);
    if (reader.Open(file.header) != Damage::None)
        return {};
    return ReadingLine(file, point, i);
}

CSiteData::PointDetails CSiteData::SelectedPoint() {
    PointDetails details;
    {
        std::lock_guard lock(g_hSurveyLock);
        details.valid = m_bCurrentValid;
        details.point = m_current;
    }
    if (!details.valid || details.point.kind != kKindSurvey || details.point.readings == 0) {
        return details;
    }
    std::lock_guard lock(m_fileMutex);
    OpenFile file;
    file.path = Path();
    bool readable = OpenCollection(file, Access::Read);
    if (readable) {
        Reader reader(file.fd, 64);
        readable = reader.Open(file.header) == Damage::None;
    }
    details.lines.reserve(details.point.readings);
    for (int i = 1; i <= details.point.readings; ++i) {
        details.lines.push_back(readable ? ReadingLine(file, details.point, i) : std::string());
    }
    return details;
}

}  // namespace ketrion
