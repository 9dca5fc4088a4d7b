#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "analysis/Details.h"
#include "analysis/NetworkName.h"
#include "model/Text.h"
#include "survey/LocalPlane.h"

namespace ketrion::analysis {

// A collection file read whole into memory for analysis and export: every
// point with the fields its location record stores and every reading stored
// after it, in file order. Read through the survey layer's collection reader,
// so record sizes, counts and cut files are handled as loading a survey does.

// Degrees per stored position unit: the double nearest to 1/3,600,000.
inline constexpr double kDegreesPerUnit = 1.0 / 3600000.0;
// The weakest signal a survey point is given (dBm), as the site view uses it.
inline constexpr int kWeakestSignal = -100;

using Mac = std::array<std::uint8_t, 6>;

// One reading record.
struct Reading {
    Mac mac{};                // in the order the receiver reports it
    std::int16_t signal = 0;  // 1/256 dBm, as stored
    std::uint8_t attribute = 0;
    NetworkName ssid;  // raw bytes from the board, up to the first zero (<= 32)
    // From the side store (analysis/SideDetails.h), when it has a row for this
    // reading that names the same access point.
    SharedDetails<ReadingDetails> details;

    // Whole dBm, truncated toward zero, as every reader of the file takes it.
    int SignalDbm() const { return signal / 256; }
    // The stored value in dBm without rounding (-59.5 for -59.5 * 256).
    double SignalExact() const { return signal / 256.0; }
    // The network name every output shows: the side store's full name where it
    // continues the stored one (the file keeps 31 bytes, up to the first zero
    // byte), else the stored one.
    const std::string& Name() const {
        if (details && details->fullName.size() > ssid.size() &&
            details->fullName.starts_with(ssid.str()))
            return details->fullName;
        return ssid;
    }
};

// One location record and the readings that follow it.
struct SurveyPoint {
    std::int64_t offset = 0;     // file offset of the location record
    std::int64_t number = 0;     // 1-based position in the file, every kind of point counted
    std::int32_t latitude = 0;   // 1/3,600,000 degree, north positive
    std::int32_t longitude = 0;  // same unit, east positive
    std::uint16_t year = 0;
    std::uint8_t month = 0, day = 0, hour = 0, minute = 0, second = 0;
    std::int32_t height = 0;        // above the ellipsoid, as the receiver reports it
    std::uint8_t fixClass = 0;      // 1 2D fix, 2 3D fix, 0 no fix
    std::uint8_t kind = 0;          // 0 survey point; anything else loads as a dynamic access point
    std::uint16_t storedCount = 0;  // reading count in the record (may exceed readings when cut)
    std::vector<Reading> readings;  // the complete reading records
    // From the side store, when it has a row for this point.
    SharedDetails<PointDetails> details;

    bool IsSurvey() const { return kind == 0; }
    bool HasFix() const { return fixClass == 1 || fixClass == 2; }
    // A position to rely on: a 2D or 3D fix, or the surveyor's own click
    // (stored with fix class 0: no receiver was asked).
    bool HasPosition() const { return HasFix() || (details && details->PlacedBySurveyor()); }
    // True when the stored latitude and longitude say where the point was
    // taken: a position to rely on, or any stored position but 0,0. A point
    // taken before the first fix stores 0,0 with fix class 0, which is no
    // place; a real fix at 0,0 still counts by its fix class.
    bool Located() const { return HasPosition() || latitude != 0 || longitude != 0; }
    double LatitudeDegrees() const { return static_cast<double>(latitude) * kDegreesPerUnit; }
    double LongitudeDegrees() const { return static_cast<double>(longitude) * kDegreesPerUnit; }
    // The point's strongest signal as the disc colour uses it: the highest
    // whole-dBm reading, never below -100; -100 for a dynamic access point.
    int Strongest() const;
    // True when the stored date and time form a real UTC instant (a point
    // recorded before the first GPS report stores zeros).
    bool HasValidTime() const;
    // "YYYY-MM-DD" + separator + "HH:MM:SS" from the stored fields, as stored.
    std::string DateTime(const char* separator) const;
};

// The 1-based position of `point` in its file; `fallback` + 1 for a point not
// read from one.
inline std::size_t FileIndex(const SurveyPoint& point, std::size_t fallback) {
    return point.number > 0 ? static_cast<std::size_t>(point.number) : fallback + 1;
}

struct SurveyRecords {
    std::string path;
    std::int64_t created = 0;               // header creation time, seconds since 1970 UTC
    std::array<std::uint8_t, 25> header{};  // the header bytes (the side store is tied to them)
    bool headerRead = false;
    bool sideDetails = false;  // a side store's details were joined (SideDetails::Attach)
    std::vector<SurveyPoint> points;
    // Empty when the whole file was read; else what is wrong with it, naming
    // the file. The points read before the damage are kept.
    std::string damage;
};

// What reading a collection file came to.
enum class ReadResult {
    Complete,   // every record was read
    Damaged,    // the header or a record is damaged or cut: the points before the
                // damage are in the records (none for a bad header); see `damage`
    NotOpened,  // the file cannot be opened, is not a regular file or holds more
                // points than the program loads; nothing read, see `damage`
};

// Reads the collection file at `path` into `out`: opened for reading only and
// never locked, so a program recording into it goes on undisturbed.
ReadResult ReadSurveyRecords(const std::string& path, SurveyRecords& out);

// Reads the collection file at `path` as ReadSurveyRecords does, but hands
// each point with its readings to `each` as soon as it is whole and keeps
// none: memory stays the same however long the file. `out` gets everything
// but the points (path, header, damage). A point cut by damage is handed
// over with the readings before the damage, as ReadSurveyRecords keeps it.
// True when a point of the collection file at `path` stores a position near
// the default origin (survey/LocalPlane.h): the plan it was placed on was made
// without a position, and its latitudes and longitudes are in the open sea.
// Reads the location records only.
bool StoredAtDefaultOrigin(const std::string& path);

// Moves `point`'s stored position, when it lies near the default origin, to
// the same east and north metres from `shift`'s origin.
void ShiftFromDefaultOrigin(SurveyPoint& point, const OriginShift& shift);

ReadResult StreamSurveyRecords(const std::string& path, SurveyRecords& out,
                               const std::function<void(SurveyPoint&)>& each);

// A hardware address as "00:1a:2b:3c:4d:5e" (lower case, colons): the one
// formatter every layer uses.
using ketrion::MacText;

}  // namespace ketrion::analysis
