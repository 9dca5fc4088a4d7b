#pragma once

// Writes a collection file whose stored positions are plan pixels: with a
// projection of 3,600,000 units per degree on both axes (m_xLat = m_yLon =
// 3600000) each point loads at its plan (x, y). One reading per point.
// Header-only, no test framework: benchmarks use it too.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "survey/CollectionFile.h"

namespace ketrion::testing {

struct PlanSurveyPoint {
    int x = 0;
    int y = 0;
    int signal = -60;  // dBm of the point's one reading
};

inline bool WritePlanSurvey(const std::string& path, const std::vector<PlanSurveyPoint>& points) {
    std::vector<std::uint8_t> bytes(33, 0);
    collection::Put32(&bytes[0], 25);
    std::copy(std::begin(collection::kMagic), std::end(collection::kMagic), bytes.begin() + 4);
    bytes[8] = 1;
    collection::Put32(&bytes[21], 25);
    collection::Put32(&bytes[25], collection::kLocationSize);
    collection::Put32(&bytes[29], collection::kReadingSize);
    for (const PlanSurveyPoint& p : points) {
        const std::size_t at = bytes.size();
        bytes.resize(at + collection::kLocationSize + collection::kReadingSize, 0);
        collection::Put32(&bytes[at], static_cast<std::uint32_t>(p.x));
        collection::Put32(&bytes[at + 4], static_cast<std::uint32_t>(p.y));
        collection::Put16(&bytes[at + collection::kCountAt], 1);
        collection::Put16(&bytes[at + collection::kLocationSize + 1],
                          static_cast<std::uint16_t>(p.signal * 256));
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace ketrion::testing
