#pragma once

// Reading a projection file's header for looking at it: the map from latitude
// and longitude to plan pixels and what the image block says of itself, read
// without expanding the image and without writing anything beside the file.

#include <cstdint>
#include <optional>
#include <string>

namespace ketrion {
class CSiteProjection;
}

namespace ketrion::projection {

// What a projection file's header and block header say.
struct HeaderInfo {
    std::uint64_t fileSize = 0;
    double xRow[4] = {};  // latitude, longitude, unused, offset
    double yRow[4] = {};
    bool hasLength = false;         // the block's length word is in the file
    std::uint32_t blockLength = 0;  // as the block claims, counting its length word
    bool hasPlainLength = false;
    std::uint32_t plainLength = 0;     // the block's second word: the expanded size
    std::uint64_t blockAvailable = 0;  // bytes after the header
};

// Reads the header of the projection file at path (a fifo or device is
// refused without waiting on it); fails with a message in error when it
// cannot be opened or is shorter than the header.
std::optional<HeaderInfo> ReadHeader(const std::string& path, std::string& error);

// Gives `projection` the map of a header, so its PlanX/PlanY place positions
// as loading the file would (the plan image is left alone).
void ApplyMap(const HeaderInfo& info, CSiteProjection& projection);

}  // namespace ketrion::projection
