#include "survey/SurveyLoader.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "platform/Prompt.h"
#include "platform/Sound.h"
#include "survey/CollectionFailures.h"
#include "survey/HeldFile.h"
#include "survey/SideStore.h"
#include "survey/SiteProjection.h"

namespace ketrion {
namespace {

using namespace collection;
using Point = PointList::Point;

constexpr std::int16_t kWeakestSignal = PointList::kWeakestSignal;

}  // namespace

std::optional<SurveyLoader::Loaded> SurveyLoader::Load(HeldFile& file, const std::string& path,
                                                       const CSiteProjection* projection) {
    if (!file.Hold(path, HeldFile::Access::Read))
        return std::nullopt;
    Reader reader(file.Fd());
    Header header;
    Damage damage = reader.Open(header);
    if (damage != Damage::None) {
        m_failures.Report(DamageText(damage, path, header));
        return std::nullopt;
    }
    file.StartWalk(header);  // damage is looked for afresh below

    Loaded loaded;
    std::vector<Point>& points = loaded.points;
    std::int64_t damageAt = -1;
    std::uint8_t locationScratch[kLocationSize];
    std::uint8_t readingScratch[kReadingSize];
    std::int64_t offset = 0;
    std::int64_t end = reader.Position();  // end of the last complete point
    // One map places every point, even if a projection is loaded meanwhile.
    const std::shared_ptr<const PlanMap> map = projection ? projection->Snapshot() : nullptr;
    // Records are looked at in the reader's buffer; the location record's
    // fields are taken before its readings are read.
    while (const std::uint8_t* location = reader.NextLocationView(locationScratch, offset)) {
        if (points.size() == kMaxLoadedPoints) {
            m_failures.Report("The collection file " + path + " holds more than " +
                              std::to_string(kMaxLoadedPoints) + " points; it is not loaded.");
            return std::nullopt;
        }
        if (!PlausibleLocation(location)) {
            damageAt = offset;
            break;
        }
        std::memcpy(loaded.lastLocation, location, kLocationSize);
        loaded.anyLocation = true;
        Point point;
        point.offset = offset;
        if (map) {
            int latitude = static_cast<std::int32_t>(Get32(location + kLatitudeAt));
            int longitude = static_cast<std::int32_t>(Get32(location + kLongitudeAt));
            point.x = CSiteProjection::PlanXOfUnits(*map, latitude, longitude);
            point.y = CSiteProjection::PlanYOfUnits(*map, latitude, longitude);
        }
        const unsigned count = Get16(location + kCountAt);
        const bool survey = location[kKindAt] == kKindSurvey;
        int strongest = kWeakestSignal;
        unsigned complete = 0;
        while (complete < count) {
            const std::int64_t at = reader.Position();
            const std::uint8_t* reading = reader.NextReadingView(readingScratch);
            if (reading == nullptr)
                break;
            if (!PlausibleReading(reading)) {
                damageAt = at;
                break;
            }
            strongest = std::max(strongest, SignalDbm(reading));
            ++complete;
        }
        if (survey) {
            point.kind = kKindSurvey;
            point.signal = static_cast<std::int16_t>(strongest);
            point.readings = static_cast<std::uint16_t>(complete);
        } else {
            point.kind = kKindDynamicAp;
            point.signal = kWeakestSignal;
            point.readings = 0;
        }
        if (damageAt >= 0)
            break;  // the point where the damage is is not shown
        points.push_back(point);
        if (complete < count)
            break;  // the file ends inside this point
        end = reader.Position();
    }
    if (reader.Error() != 0)
        m_failures.ShowFailure(path, "read", reader.Error());
    // One sound for the whole load, however many survey points it brought.
    if (std::any_of(points.begin(), points.end(),
                    [](const Point& point) { return point.kind == kKindSurvey; }))
        m_sound.PlayResourceSound("PING");
    // What the side store adds: deleted marks, points without a fix, a
    // walk's scans still to be placed.
    ApplySide(file, path, points);
    // Appends start after the last complete point once the tail is checked.
    file.EndWalk(end);
    if (damageAt >= 0) {
        file.NoteDamage(damageAt, points.size() + 1);
        const std::size_t shown = points.size();
        m_failures.Report(file.DamageMessage() +
                          (shown == 1
                               ? std::string(" The point before it is shown.")
                               : " The " + std::to_string(shown) + " points before it are shown."));
    }
    return loaded;
}

void SurveyLoader::ApplySide(const HeldFile& file, const std::string& path,
                             std::vector<Point>& points) {
    // File mutex held; the collection file is held for reading at least.
    std::uint8_t header[kHeaderSize] = {};
    if (!file.ReadHeaderBytes(header))
        return;
    std::string message;
    const std::unique_ptr<SideStore> side =
        SideStore::OpenForReading(path, SideIdentity(path, header), &message);
    {
        std::lock_guard lock(m_noticeMutex);
        m_pendingAtLoad.clear();
    }
    if (side == nullptr) {
        if (!message.empty())
            m_prompt.Message(message);  // the collection file still loads
        return;
    }
    const std::map<std::int64_t, SideStore::Point> rows = side->Points();
    for (Point& point : points) {
        const auto row = rows.find(point.offset);
        if (row == rows.end())
            continue;  // a point without side rows is what the file says
        point.deleted = row->second.deleted;
        point.hollow =
            ShownHollow(row->second.fixFlag, row->second.method, row->second.provisional);
    }
    std::lock_guard lock(m_noticeMutex);
    m_pendingAtLoad = side->PendingScans();
}

std::vector<std::pair<std::int64_t, std::string>> SurveyLoader::PendingScansAtLoad() const {
    std::lock_guard lock(m_noticeMutex);
    return m_pendingAtLoad;
}

}  // namespace ketrion
