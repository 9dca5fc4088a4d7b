#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "survey/SideStore.h"

namespace ketrion::ktd {

// What `ktd dump` adds from the side store beside a collection file: under a
// point's line its placement and fix details, under a reading's line the
// adapter's details, and after a point's readings those the collection file
// does not hold. Without a side store it prints nothing at all; a damaged or
// foreign one gets one line on standard error and is left out.
class SideDump {
public:
    // The collection file being dumped.
    void Opened(const std::string& path) { m_path = path; }
    // Its 25 header bytes: the side store is opened and checked against them.
    void Header(const std::uint8_t* header25);
    // After a point's line (the location record's bytes).
    void Point(std::int64_t offset, const std::uint8_t* location);
    // After each reading's line (the reading record's bytes).
    void Reading(const std::uint8_t* reading);
    // After the last point.
    void End();

private:
    void FinishPoint();

    std::string m_path;
    std::unique_ptr<SideStore> m_store;
    std::map<std::int64_t, SideStore::Point> m_points;
    std::vector<SideStore::Reading> m_readings;  // of the current point, by index
    std::size_t m_next = 0;                      // its next reading in the collection file
    std::size_t m_count = 0;                     // its readings in the collection file
    bool m_inPoint = false;
};

// The text after "side:" for a point row and a reading row (empty when the
// row holds nothing to show).
std::string SidePointText(const SideStore::Point& point);
std::string SideReadingText(const SideStore::Reading& reading, const std::string& fileSsid);

}  // namespace ketrion::ktd
