#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "analysis/Details.h"
#include "analysis/SurveyRecords.h"

namespace ketrion::analysis {

// The side store of a collection file, read once and joined to the file's
// records: per point its placement, fix quality and deleted mark, per reading
// its frequency, channel, band, security and PHY.
//
// The collection file stays authoritative. A reading's row is used only when
// it names the same access point as the file's reading at that index (a store
// out of step with its file adds nothing rather than wrong details); rows for
// points or readings the file does not hold are ignored.
class SideDetails {
public:
    SideDetails() = default;

    // Reads the side store beside `records.path`, checked against the header
    // the records were read with. No store: empty, `message` untouched. A
    // damaged or foreign one: empty, with one line in `message`; everything
    // then works from the collection file alone.
    static SideDetails Load(const SurveyRecords& records, std::string* message);

    // True when a store was read.
    bool Present() const { return m_present; }
    // The details of the point whose location record is at `offset`.
    const PointDetails* Point(std::int64_t offset) const;
    // The details of reading `index` (from 0, file order) of that point, when
    // its row names the access point `mac`.
    const ReadingDetails* Reading(std::int64_t offset, int index, const Mac& mac) const;

    // Joins every point's and reading's details to `records` (shared with
    // this store, not copied) and marks them as joined (a no-op without a
    // store).
    void Attach(SurveyRecords& records) const;
    // The same for one point (a point read as a stream).
    void Attach(SurveyPoint& point) const;

private:
    struct ReadingRow {
        Mac mac{};
        std::shared_ptr<const ReadingDetails> details;
    };
    bool m_present = false;
    std::map<std::int64_t, std::shared_ptr<const PointDetails>> m_points;
    std::map<std::pair<std::int64_t, int>, ReadingRow> m_readings;
};

// Reads the side store of `records` and joins it (Load, then Attach); the
// store's message, if any, in `message`.
void AttachSideDetails(SurveyRecords& records, std::string* message);

}  // namespace ketrion::analysis
