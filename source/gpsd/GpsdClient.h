#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ketrion::source {

// One message from gpsd, as far as a position source cares: a TPV (time,
// position, velocity) or a SKY (satellites). Values gpsd left out are empty.
struct GpsdReport {
    enum class Kind : std::uint8_t { Tpv, Sky, Other };
    Kind kind = Kind::Other;

    // TPV.
    int mode = 0;                             // 0 not seen, 1 no fix, 2 2D, 3 3D
    std::optional<double> latitude;           // degrees
    std::optional<double> longitude;          // degrees
    std::optional<std::int64_t> timeSeconds;  // UTC, seconds since 1970
    std::optional<double> ephMetres;          // horizontal error
    std::optional<double> altitudeHaeMetres;  // height above the ellipsoid
    std::optional<double> altitudeMslMetres;  // height above sea level
    std::optional<double> speedMetresPerSecond;
    std::optional<double> climbMetresPerSecond;
    std::optional<double> trackDegrees;  // course over ground, from true north

    // SKY.
    std::optional<int> satellitesUsed;
    std::optional<int> satellitesSeen;
};

// The connection to gpsd, behind an interface so the position source's logic
// runs in tests without a daemon. Used by one thread at a time.
class GpsdClient {
public:
    enum class ReadResult : std::uint8_t {
        Report,   // one message read into `report`
        Nothing,  // nothing arrived within the wait
        Lost,     // the connection failed or gpsd closed it; `error` says how
    };

    virtual ~GpsdClient() = default;
    // Connects to gpsd and asks it to stream JSON reports. Returns nothing on
    // success, else what went wrong in words ("connection refused").
    virtual std::optional<std::string> Open(const std::string& host, const std::string& port) = 0;
    // Closes the connection (no-op when closed).
    virtual void Close() = 0;
    // Waits up to `waitMs` for a message and reads it.
    virtual ReadResult Read(int waitMs, GpsdReport& report, std::string& error) = 0;
};

}  // namespace ketrion::source
