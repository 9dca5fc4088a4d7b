#include "survey/SiteData.h"

#include <chrono>

#include "model/Text.h"
#include "platform/Clock.h"
#include "platform/Prompt.h"
#include "survey/PointEncoding.h"

namespace ketrion {
namespace {

using namespace collection;

SystemClock& DefaultClock() {
    static SystemClock clock;
    return clock;
}

}  // namespace

CSiteData::CSiteData(Prompt& prompt, Sound& sound, Clock& clock)
    : m_prompt(prompt),
      m_clock(clock),
      m_failures(prompt),
      m_loader(m_failures, prompt, sound),
      m_writer(m_points, m_failures, prompt) {}

CSiteData::CSiteData(Prompt& prompt, Sound& sound) : CSiteData(prompt, sound, DefaultClock()) {}

// The writer, the last member, goes first: it writes every queued point
// before the file is let go.
CSiteData::~CSiteData() = default;

void CSiteData::SetPath(std::string path) {
    m_writer.SetPath(std::move(path));
}

std::string CSiteData::Path() const {
    return m_writer.Path();
}

bool CSiteData::HasPath() const {
    return m_writer.HasPath();
}

std::size_t CSiteData::PointCount() const {
    return m_points.Size();
}

CSiteData::_tap CSiteData::Current() const {
    return m_points.Current();
}

std::uint64_t CSiteData::FileFailures() const {
    return m_failures.Count();
}

std::string CSiteData::LastFileFailure() const {
    return m_failures.Last();
}

void CSiteData::SetFileSync(std::function<int(int fd)> sync) {
    m_writer.SetFileSync(std::move(sync));
}

void CSiteData::SetSideBusyTimeout(int milliseconds) {
    m_writer.SetSideBusyTimeout(milliseconds);
}

bool CSiteData::Flush() {
    return m_writer.Flush();
}

std::string CSiteData::AppendRefusal() {
    const std::string path = Path();
    return m_writer.WithFile([&](const HeldFile& file) { return file.Refusal(path); });
}

bool CSiteData::TakeChosenPath(std::string& path) {
    path = Path();
    if (path.empty()) {
        m_failures.Report("Data collection file must be selected.");
        return false;
    }
    return true;
}

bool CSiteData::NewCollection() {
    std::string path;
    if (!TakeChosenPath(path))
        return false;
    return m_writer.NewCollection(path, m_clock);
}

namespace {

// The name as a string: up to its first zero byte.
std::string NameText(const std::string& bytes) {
    const std::size_t end = bytes.find('\0');
    return end == std::string::npos ? bytes : bytes.substr(0, end);
}

std::int64_t WallClockMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

bool CSiteData::RecordPoint(const source::Fix& fix, const std::vector<source::Reading>& readings,
                            const Placement& placement) {
    const std::string path = Path();
    if (path.empty())
        return false;  // a scan end nobody asked for
    EncodedPoint encoded = EncodeSurveyPoint(fix, readings);
    m_bNoApHeard = encoded.readings == 0;

    _tap point;
    point.kind = kKindSurvey;
    point.x = placement.x;
    point.y = placement.y;
    point.signal = encoded.strongest;
    point.readings = encoded.readings;
    point.hollow = ShownHollow(placement.fixFlag, placement.method, false);

    CollectionWriter::Item item;
    item.path = path;
    SideStore::Point side;
    side.scanSource = placement.scanSource;
    side.method = placement.method;
    side.planX = placement.planX;
    side.planY = placement.planY;
    side.timeMs = WallClockMs();
    side.ephMetres = fix.ephMetres;
    side.satellites = fix.satellitesUsed;
    side.mode = fix.mode;
    side.altitudeMetres = fix.altitudeMetres;
    side.fixFlag = placement.fixFlag;
    side.scanStartMs = placement.scanStartMs;
    side.scanEndMs = placement.scanEndMs;
    item.side = side;
    int inFile = 0;
    int extra = encoded.readings;
    for (const source::Reading& reading : readings) {
        SideStore::Reading row;
        const bool written = reading.inCollection && inFile < encoded.readings;
        row.index = written ? inFile++ : extra++;
        row.inCollection = written;
        row.bssid = MacText(reading.mac);
        row.ssid = NameText(reading.name);
        if (reading.details) {
            const source::ReadingDetails& d = *reading.details;
            if (!d.fullName.empty())
                row.ssid = d.fullName;
            row.frequencyMhz = d.frequencyMhz;
            row.channel = d.channel;
            row.band = d.band;
            row.signalMbm = d.signalMbm;
            row.signalUnspec = d.signalUnspec;
            row.security = d.security;
            row.phy = d.phy;
            row.widthMhz = d.widthMhz;
            row.noiseDbm = d.noiseDbm;
            row.ageMs = d.ageMs;
        }
        item.sideReadings.push_back(std::move(row));
    }
    item.bytes = std::move(encoded.bytes);

    m_writer.QueuePoint(std::move(item), point);
    return true;
}

bool CSiteData::RecordDynamicAp(int x, int y, std::int32_t latitudeUnits,
                                std::int32_t longitudeUnits) {
    std::string path;
    if (!TakeChosenPath(path))
        return false;
    _tap point;
    point.x = x;
    point.y = y;
    point.signal = kWeakestSignal;
    point.readings = 0;
    point.kind = kKindDynamicAp;
    bool written = false;
    CollectionWriter::Item item;
    item.path = path;
    item.result = &written;
    // The other fields keep what the last location record built or read held.
    const std::uint64_t ticket =
        m_writer.QueueFromLastLocation(std::move(item), point, [&](std::uint8_t* record) {
            Put32(record + kLatitudeAt, static_cast<std::uint32_t>(latitudeUnits));
            Put32(record + kLongitudeAt, static_cast<std::uint32_t>(longitudeUnits));
            Put16(record + kCountAt, 0);
            record[kKindAt] = kKindDynamicAp;
        });
    m_writer.WaitFor(ticket);
    return written;
}

bool CSiteData::LoadSurvey() {
    std::string path;
    if (!TakeChosenPath(path))
        return false;
    Flush();
    return m_writer.WithFile([&](HeldFile& file) {
        std::optional<SurveyLoader::Loaded> loaded = m_loader.Load(file, path, m_projection);
        if (!loaded)
            return false;
        m_writer.AdoptLoaded(std::move(loaded->points),
                             loaded->anyLocation ? loaded->lastLocation : nullptr);
        return true;
    });
}

std::vector<std::pair<std::int64_t, std::string>> CSiteData::PendingScansAtLoad() const {
    return m_loader.PendingScansAtLoad();
}

int CSiteData::FindNearestPoint(int x, int y) {
    // The selected point's offset must be the one in the file.
    Flush();
    return m_points.FindNearest(x, y);
}

std::string CSiteData::FormatReading(int i) {
    Flush();
    const _tap point = Current();
    return m_writer.WithFile([&](HeldFile& file) -> std::string {
        const std::string path = Path();
        if (path.empty() || !file.Hold(path, HeldFile::Access::Read) || !file.ReadHeader())
            return {};
        return file.ReadingLine(point.offset, i);
    });
}

CSiteData::PointDetails CSiteData::SelectedPoint() {
    Flush();
    PointDetails details;
    const PointList::Selection selected = m_points.Selected();
    details.valid = selected.valid;
    details.point = selected.point;
    if (!details.valid || details.point.kind != kKindSurvey || details.point.readings == 0) {
        return details;
    }
    m_writer.WithFile([&](HeldFile& file) {
        const std::string path = Path();
        const bool readable =
            !path.empty() && file.Hold(path, HeldFile::Access::Read) && file.ReadHeader();
        details.lines.reserve(details.point.readings);
        for (int i = 1; i <= details.point.readings; ++i) {
            details.lines.push_back(readable ? file.ReadingLine(details.point.offset, i)
                                             : std::string());
        }
    });
    return details;
}

bool CSiteData::MarkDeleted(std::int64_t offset, bool deleted) {
    if (!m_points.MarkDeleted(offset, deleted))
        return false;
    bool written = false;
    const std::uint64_t ticket = m_writer.QueueSideOp(
        [offset, deleted](SideStore& side, std::string* message) {
            return side.SetDeleted(offset, deleted, message);
        },
        &written);
    if (ticket != 0)
        m_writer.WaitFor(ticket);
    // Not kept: the point is shown as the store has it (the failure was said).
    if (!written)
        m_points.MarkDeleted(offset, !deleted);
    return written;
}

void CSiteData::KeepPendingScan(std::int64_t seq, std::string body) {
    m_writer.QueueSideOp([seq, body = std::move(body)](SideStore& side, std::string* message) {
        return side.AddPendingScan(seq, body, message);
    });
}

void CSiteData::DropPendingScan(std::int64_t seq) {
    m_writer.QueueSideOp([seq](SideStore& side, std::string* message) {
        return side.RemovePendingScan(seq, message);
    });
}

void CSiteData::SetAsidePendingScan(std::int64_t seq, const std::string& why) {
    const std::string store = SideStore::PathFor(Path());
    m_prompt.Message(
        "A walk's scan kept in " + store + " cannot be read (" + why +
        "); it was set aside in that store's table pending_scans_aside and is not placed.");
    m_writer.QueueSideOp([seq, why](SideStore& side, std::string* message) {
        return side.SetAsidePendingScan(seq, why, message);
    });
}

}  // namespace ketrion
