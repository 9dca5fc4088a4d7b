#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "source/SourceEvent.h"

namespace ketrion::source {

// Fix classes as the collection file's location record stores them.
enum class FixClass : std::uint8_t { None = 0, Fix2D = 1, Fix3D = 2 };

// One position, with everything the collection file's location record holds
// (bytes 0..29) and, where known, the fix's quality for the side store.
struct Fix {
    bool valid = false;               // a 2D or 3D fix
    std::int32_t latitudeUnits = 0;   // 1/3,600,000 degree, north positive
    std::int32_t longitudeUnits = 0;  // 1/3,600,000 degree, east positive
    double latitude = 0.0;            // degrees (what the plan position comes from)
    double longitude = 0.0;
    // UTC date and time as the record stores it; secondFraction in the
    // receiver's byte order (zero where the source has none).
    std::uint8_t month = 0, day = 0;
    std::uint16_t year = 0;
    std::uint8_t hour = 0, minute = 0, second = 0;
    std::uint8_t secondFraction[4] = {};
    std::int32_t heightRaw = 0;  // the record's height field, as the source gives it
    std::uint16_t speed3D = 0, speed2D = 0, heading = 0;
    FixClass fixClass = FixClass::None;
    std::int64_t receivedMs = -1;  // session clock when it arrived; -1: none yet

    // Quality, where the source knows it.
    std::optional<double> ephMetres;  // horizontal error
    std::optional<int> satellitesUsed;
    std::optional<int> satellitesSeen;
    std::optional<double> altitudeMetres;
    std::optional<int> mode;  // gpsd's 0-3
};

// Where positions come from: the board's GPS, gpsd, or the surveyor.
//
// Threads: Current, FixFor and Status are called on any thread (a source
// guards its own state); onEvent is called on the source's own thread, set
// before Start.
class PositionSource {
public:
    virtual ~PositionSource() = default;

    virtual void Start() {}
    virtual void Stop() {}

    // How a position was obtained, for the side store: "board", "gpsd", ...
    virtual std::string Kind() const = 0;
    virtual SourceStatus Status() const = 0;
    // The latest fix (valid false when there is none).
    virtual Fix Current() const = 0;
    // The fix to record for a scan that ran from startedMs to endedMs: by
    // default the latest; a source that keeps a track interpolates at the
    // scan's middle.
    virtual Fix FixFor(std::int64_t startedMs, std::int64_t endedMs) const {
        (void)startedMs;
        (void)endedMs;
        return Current();
    }

    std::function<void(const SourceEvent&)> onEvent;
};

}  // namespace ketrion::source
