#pragma once

#include <cmath>
#include <cstdint>
#include <optional>

namespace ketrion::source {

// Degrees as the stored unit of 1/3,600,000 degree: the nearest unit,
// saturated to the 32-bit range; a value that is not finite reads as 0.
inline std::int32_t UnitsFromDegrees(double degrees) {
    const double units = std::round(degrees * 3600000.0);
    if (!std::isfinite(units))
        return 0;
    if (units <= -2147483648.0)
        return INT32_MIN;
    if (units >= 2147483647.0)
        return INT32_MAX;
    return static_cast<std::int32_t>(units);
}

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
    // The position held at the nearer of two fixes because going from one to
    // the other would need a speed no receiver moves at (PositionTrack).
    bool heldAcrossJump = false;
};

// Sets the fix's UTC date and time fields to `seconds` since 1970; a time
// before 1970 or past the record's year 9999 leaves them as they are.
void SetUtc(Fix& fix, std::int64_t seconds);

}  // namespace ketrion::source
