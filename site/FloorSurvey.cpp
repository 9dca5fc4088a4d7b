#include "site/FloorSurvey.h"

#include <ctime>

#include "analysis/SideDetails.h"
#include "site/SiteFile.h"
#include "survey/SideStore.h"

namespace ketrion::site {

namespace {

std::string Date(std::int64_t seconds) {
    const auto t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    char text[16];
    if (gmtime_r(&t, &tm) == nullptr || std::strftime(text, sizeof text, "%Y-%m-%d", &tm) == 0)
        return {};
    return text;
}

}  // namespace

FloorSurvey LoadFloorSurvey(const std::string& sitePath, const Floor& floor,
                            const analysis::Selection& selection) {
    FloorSurvey out;
    for (const SiteCollection& c : floor.collections) {
        if (!c.enabled) {
            ++out.switchedOff;
            continue;
        }
        const std::string path = SiteFile::ResolvePath(sitePath, c.path);
        analysis::SurveyRecords records;
        const analysis::ReadResult result = analysis::ReadSurveyRecords(path, records);
        if (result == analysis::ReadResult::NotOpened) {
            out.problems.push_back("floor \"" + floor.name + "\": " + records.damage +
                                   "; the floor is shown without it");
            continue;
        }
        if (result == analysis::ReadResult::Damaged)
            out.problems.push_back(records.damage);
        std::string message;
        analysis::AttachSideDetails(records, &message);
        if (!message.empty())
            out.problems.push_back(message);
        const analysis::LeftOut left = analysis::SelectPoints(records, selection);
        out.leftOut.deleted += left.deleted;
        out.leftOut.noFix += left.noFix;
        const std::size_t index = out.collections.size();
        out.collections.push_back(path);
        if (index == 0) {
            out.records.path = path;
            out.records.created = records.created;
            out.records.header = records.header;
            out.records.headerRead = records.headerRead;
        }
        out.records.sideDetails = out.records.sideDetails || records.sideDetails;
        for (analysis::SurveyPoint& point : records.points) {
            out.records.points.push_back(std::move(point));
            out.source.push_back(index);
        }
    }
    return out;
}

bool DescribeCollection(const std::string& path, SiteCollection& out, std::string& error) {
    analysis::SurveyRecords records;
    if (analysis::ReadSurveyRecords(path, records) == analysis::ReadResult::NotOpened ||
        !records.headerRead) {
        error = records.damage.empty() ? path + " is not a collection file" : records.damage;
        return false;
    }
    out.date = Date(records.created);
    std::string message;
    const auto store =
        SideStore::OpenForReading(path, SideIdentity(path, records.header.data()), &message);
    if (store == nullptr)
        return true;
    const auto points = store->Points();
    for (const auto& [offset, point] : points) {
        if (out.adapter.empty() && !point.scanSource.empty())
            out.adapter = point.scanSource;
        if (point.timeMs > 0) {
            out.date = Date(point.timeMs / 1000);
            break;
        }
    }
    return true;
}

}  // namespace ketrion::site
