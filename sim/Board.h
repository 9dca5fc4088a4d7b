#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "protocol/Parser.h"
#include "sim/Random.h"
#include "sim/Scenario.h"

namespace ketrion::sim {

// A point on the simulated walk.
struct TrackPoint {
    double lat = 0.0;
    double lon = 0.0;
    double heading = 0.0;  // degrees clockwise from north, [0, 360)
    double speed = 0.0;    // m/s
};

// One access point as heard at a position.
struct Reading {
    std::size_t index = 0;  // into Scenario::accessPoints
    std::int16_t signal = 0;
};

// Distance in metres between two nearby positions (flat-earth approximation,
// ample for a building).
double DistanceMeters(double lat1, double lon1, double lat2, double lon2);

// Mean received signal of `ap` at a distance: log-distance path loss.
double MeanSignal(const Scenario& s, const AccessPoint& ap, double meters);

// The side of a square over which shadowing stays the same, metres: about
// the distance over which indoor shadowing decorrelates.
inline constexpr double kShadowingSquareMetres = 2.0;

// The shadowing (dB) between access point `index` of `s` and a position: a
// normal draw with deviation s.pathLossShadowing for the kShadowingSquareMetres
// square the position lies in (squares counted from the access point), the
// same on every call, from the seed alone (not the signal stream, so turning
// it on leaves the other draws as they were). 0 when shadowing is off.
double ShadowingDb(const Scenario& s, std::size_t index, double lat, double lon);

// The receiver board's side of the protocol, without I/O: bytes from the
// program go in through Receive, time goes in through Advance, and the frames
// the board sends wait in a queue with the time each is due on the line.
// Time is milliseconds since the board was switched on, supplied by the caller,
// so tests run on virtual time.
//
// What it does: answers Version, Serial and Configure requests; answers each
// scan request with ScanStart, `scanPasses` rounds of ScanReport frames spread
// over a scan time drawn from [scanMinMs, scanMaxMs], then ScanEnd; sends a
// GpsReport every gpsPeriodMs along the track. Signals come from the path-loss
// model with noise. Everything random comes from the seed, in three separate
// streams (signals, timing, faults), so turning on a fault does not change the
// signals.
class Board {
public:
    using Millis = std::int64_t;

    struct Chunk {
        Millis due = 0;
        std::vector<std::uint8_t> bytes;
    };

    struct Counters {
        std::uint64_t requests = 0;  // well-formed request frames received
        std::uint64_t scans = 0;     // scans started
        std::uint64_t gpsReports = 0;
        std::uint64_t frames = 0;  // frames queued for sending
    };

    // `startUtc`: UTC seconds since 1970 of the board's switch-on (GPS clock).
    Board(const Scenario& scenario, std::int64_t startUtc);

    // Bytes from the program (requests; keep-alive bytes are ignored).
    void Receive(const std::uint8_t* bytes, std::size_t length, Millis now);
    // Runs everything due up to `now` (GPS reports, scan phases).
    void Advance(Millis now);
    // Time of the next scheduled event (GPS report or scan phase); -1 when none.
    Millis NextEvent() const;

    // Output waiting to be written, oldest first; `due` never decreases.
    std::deque<Chunk>& Output() { return m_output; }
    // Moves the bytes of every chunk due by `now` to `out`; returns true if any.
    bool TakeDue(Millis now, std::vector<std::uint8_t>& out);

    bool Scanning() const { return m_scanning; }
    const Counters& Stats() const { return m_counters; }

    // The walk and the fix status at a time.
    TrackPoint PositionAt(Millis t) const;
    int FixCodeAt(Millis t) const;
    // The access points heard at a position, each with a noisy signal (draws
    // from the signal stream). Entries below the floor are left out.
    std::vector<Reading> Hear(double lat, double lon);
    // The floor the receiver walks on (0 until set): access points on other
    // floors are heard through Scenario::floorLoss per floor between.
    void SetLevel(int level) { m_level = level; }
    // A 152-byte GpsReport body for time `t`.
    std::array<std::uint8_t, 152> GpsBody(Millis t) const;

private:
    enum class Event { Gps, ScanReport, ScanEnd };
    struct Scheduled {
        Millis at;
        Event what;
    };

    void OnRequest(std::uint8_t type, const std::uint8_t* payload, std::size_t length, Millis now);
    void StartScan(Millis now);
    void SendReports(Millis now);
    void Emit(std::uint8_t type, const std::uint8_t* payload, std::size_t length, Millis now);
    void Schedule(Millis at, Event what);

    Scenario m_scenario;
    std::int64_t m_startUtc;
    CParser m_parser;
    Rng m_signals;
    Rng m_timing;
    Rng m_faults;
    std::deque<Chunk> m_output;
    Millis m_lastDue = 0;
    std::vector<Scheduled> m_events;  // sorted by time, then insertion
    Millis m_nextGps = 0;
    bool m_scanning = false;
    bool m_dropScanEnd = false;
    std::vector<double> m_legStart;  // distance along the track where each leg starts
    double m_trackLength = 0.0;
    Counters m_counters;
    int m_level = 0;
};

}  // namespace ketrion::sim
