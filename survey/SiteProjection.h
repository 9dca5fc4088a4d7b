#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "survey/PlanMap.h"

namespace ketrion {

class Prompt;
class Sound;

// Ties the plan image to the earth: an affine map from latitude and longitude
// (degrees) to plan pixels, read from a projection file together with the
// compressed plan image, which loading expands in memory and writes as a
// bitmap file beside the projection file (or, when that folder takes no new
// files, into the user's cache folder). Until a projection is loaded every
// position maps to (0, 0).
//
// Threads: loading and the paths belong to the user-interface thread (or a
// test's). The map is an immutable snapshot replaced whole by a load: the
// positioning calls (PlanX..., ToPlan, ToGeo, Snapshot) may run on any
// thread, and a caller that needs two coordinates from one map takes one
// Snapshot and reads both from it.
//
// The two side files (path + "c", the block, and path + "b", the bitmap) are
// written to a new temporary file in the same folder, created exclusively, and
// renamed into place: a link planted at either name is replaced, never written
// through, and no file is deleted that this object did not create.
//
// Projection file (little-endian): 145-byte header with two rows of four
// doubles at offsets 13 (x) and 45 (y), each (latitude coefficient, longitude
// coefficient, unused, offset); then the compressed image block, whose first
// uint32 is its own length.
class CSiteProjection {
public:
    static constexpr std::size_t kHeaderSize = 145;
    static constexpr std::size_t kXRowOffset = 13;
    static constexpr std::size_t kYRowOffset = 45;
    // Largest plan image taken: 36 million pixels (6000 x 6000, a large floor
    // plan scanned at a fine resolution); a bigger one would cost the view
    // hundreds of megabytes. The expansion may take four bytes per pixel and
    // a palette; the block itself cannot usefully be larger than that.
    static constexpr std::uint64_t kMaxPlanPixels = 36'000'000;
    static constexpr std::size_t kMaxBitmapBytes = 4 * kMaxPlanPixels + 2048;
    static constexpr std::uint64_t kMaxBlockBytes = kMaxBitmapBytes + 4096;

    // Creates a new temporary file for the side file `target`, in its folder;
    // returns the descriptor and its path, or -1 with errno set.
    using TempFileMaker = std::function<int(const std::string& target, std::string& tempPath)>;

    CSiteProjection(Prompt& prompt, Sound& sound);
    virtual ~CSiteProjection() = default;

    // Loads the projection file at path: expands its image block, writes the
    // block to path + "c" and the bitmap to path + "b" (m_strBitmapPath), and
    // takes the coefficients. Returns false when the file cannot be opened, is
    // not a regular file, is shorter than its header, is cut short inside its
    // block, or holds a plan beyond kMaxPlanPixels; the message has then been
    // shown and the previous projection stays in place. A bitmap that cannot
    // be written (disk full) shows its message, plays "REDALERT" and leaves
    // m_strBitmapPath empty; the coefficients are still taken.
    bool LoadProjection(const std::string& path);

    // Where side files go when the projection's folder takes no new files;
    // empty for the default ($XDG_CACHE_HOME/ketrion/plans or ~/.cache/...).
    void SetCacheFolder(std::string folder);
    std::string CacheFolder() const;
    // Replaces how temporary side files are created (tests act out a folder
    // that takes no files, or a full disk); an empty one restores the default.
    void SetTempFileMaker(TempFileMaker maker);
    // The default: an exclusive create of a fresh name beside `target`.
    static int MakeTempFile(const std::string& target, std::string& tempPath);

    // Plan position of a position in degrees (north and east positive).
    int PlanXFromDegrees(double latitude, double longitude) const;
    int PlanYFromDegrees(double latitude, double longitude) const;
    // Plan position of a position stored in units of 1/3,600,000 degree.
    int PlanX(int latitude, int longitude) const;
    int PlanY(int latitude, int longitude) const;

    // The map of the loaded projection (all zero before one is loaded).
    PlanMap Map() const;
    // The same map as a shared, immutable snapshot (never null).
    std::shared_ptr<const PlanMap> Snapshot() const;
    // Replaces the map (a projection made in memory, or a test's).
    void SetMap(const PlanMap& map);
    // Plan pixel of a position in degrees on `map`, truncated as PlanX and PlanY.
    static int PlanXOn(const PlanMap& map, double latitude, double longitude);
    static int PlanYOn(const PlanMap& map, double latitude, double longitude);
    // The same for a position stored in units of 1/3,600,000 degree.
    static int PlanXOfUnits(const PlanMap& map, int latitude, int longitude);
    static int PlanYOfUnits(const PlanMap& map, int latitude, int longitude);

    // The projection file loaded last, and its bitmap side file (empty when
    // it could not be written).
    const std::string& ProjectionPath() const { return m_projectionPath; }
    const std::string& BitmapPath() const { return m_bitmapPath; }
    // Plan pixel of a position in degrees, not rounded: what PlanX and PlanY
    // truncate.
    PlanPoint ToPlan(double latitude, double longitude) const;
    // Position in degrees of a plan pixel: the exact inverse of ToPlan, for
    // places the surveyor points at. Nothing while no usable map is loaded.
    std::optional<GeoPoint> ToGeo(double x, double y) const;

    // A plan coordinate as an int: truncated toward zero, saturated to the int
    // range, and 0 when not finite.
    static int ToPlanCoordinate(double value);

private:
    // Writes bytes as the file `target` through a temporary file and a rename;
    // returns 0 or the errno of the step that failed.
    int WriteSideFile(const std::string& target, const std::vector<std::uint8_t>& bytes);

    Prompt& m_prompt;
    Sound& m_sound;
    TempFileMaker m_makeTemp;
    std::string m_cacheFolder;
    std::string m_projectionPath;
    std::string m_bitmapPath;
    // The current map: replaced whole under the lock, read as a snapshot.
    mutable std::mutex m_mapMutex;
    std::shared_ptr<const PlanMap> m_map = std::make_shared<const PlanMap>();
};

}  // namespace ketrion
