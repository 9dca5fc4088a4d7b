#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "source/PositionSource.h"
#include "source/PositionTrack.h"
#include "source/SourceWorker.h"
#include "source/gpsd/GpsdClient.h"
#include "source/gpsd/GpsdEndpoint.h"

namespace ketrion {
class Clock;
}

namespace ketrion::source {

// Positions from gpsd. Its own thread connects, asks for JSON reports and
// reads TPV (the fix) and SKY (the satellites); a fix counts only in 2D or
// 3D mode. Callers on any thread get copies under a small mutex, so nothing
// they call waits on gpsd. A lost connection (or gpsd not running) is the
// Lost state, with what to check, and is retried every kRetryMs; LinkLost is
// said once per outage and LinkRestored once when gpsd is back. The thread,
// the status, the retry wait and that news are the SourceWorker's; this
// class talks to gpsd and turns its reports into fixes.
//
// Threads: Start/Stop on the owner's thread; Pass and Apply on the source's
// thread, or on a test's thread when it drives them without starting one.
class GpsdPosition final : public PositionSource {
public:
    // A lost or refused connection is tried again this often: soon enough
    // that a restarted gpsd is back within moments, rarely enough to cost
    // nothing while it is away.
    static constexpr std::int64_t kRetryMs = 2000;
    // Longest single wait for gpsd's data (or before the next attempt), so
    // Stop is prompt.
    static constexpr int kWaitMs = 250;

    // Through libgps.
    GpsdPosition(Clock& clock, GpsdEndpoint endpoint);
    // Through `client` (tests), retrying every `retryMs`.
    GpsdPosition(Clock& clock, GpsdEndpoint endpoint, std::unique_ptr<GpsdClient> client,
                 std::int64_t retryMs = kRetryMs);
    ~GpsdPosition() override;
    GpsdPosition(const GpsdPosition&) = delete;
    GpsdPosition& operator=(const GpsdPosition&) = delete;

    void Start() override;
    void Stop() override;

    std::string Kind() const override { return "gpsd"; }
    SourceStatus Status() const override;
    Fix Current() const override;
    // Interpolated at the scan's middle from the recent fixes.
    Fix FixFor(std::int64_t startedMs, std::int64_t endedMs) const override;
    // Points are placed at the middle of their scan, from the track.
    bool KeepsTrack() const override { return true; }
    bool HasReportAfter(std::int64_t atMs) const override;
    // "gpsd 3D  51.477800 N  0.001500 W  9 sats  4.0 m", or what is missing.
    std::string StatusLine() const override;

    // What one pass of the thread did.
    enum class PassResult : std::uint8_t {
        Connected,      // a connection was made
        ConnectFailed,  // an attempt failed; the next one is kRetryMs away
        Waiting,        // not connected, waiting for the next attempt
        Report,         // a message was read and applied
        Idle,           // connected, nothing arrived within kWaitMs
        Lost,           // the connection failed; closed
    };
    // One step: connect when due, else wait for and read one message.
    PassResult Pass();
    // Takes one decoded message, as the thread does after a read. Returns
    // true when it changed the position or satellites (a PositionUpdate).
    bool Apply(const GpsdReport& report);

private:
    void Run();

    Clock& m_clock;
    const GpsdEndpoint m_endpoint;
    const std::int64_t m_retryMs;
    std::unique_ptr<GpsdClient> m_client;  // used by the source's thread only
    bool m_connected = false;              // source's thread only
    std::int64_t m_nextAttemptMs = 0;      // source's thread only

    mutable std::mutex m_mutex;  // guards what follows
    Fix m_current;
    PositionTrack m_track;
    std::optional<int> m_satellitesUsed;
    std::optional<int> m_satellitesSeen;
    std::size_t m_impossible = 0;  // TPV reports no receiver could make
    std::string m_lastImpossible;  // what was wrong with the last of them

    SourceWorker m_worker;
};

// What makes a TPV report impossible for any receiver, or empty when each of
// its fields is in range: a 2D/3D mode with a position off the globe (or not
// a number), a time before GPS time began or past 2099, a height beyond -1 km to
// 100 km, a negative or absurd error estimate, a speed beyond 10 km/s.
std::string ImpossibleTpv(const GpsdReport& report);

// The Fix a TPV report stands for, arrived at `receivedMs`. An impossible
// report (ImpossibleTpv) is no fix, with none of its fields kept; a 2D/3D
// report without a position (one sentence of a receiver's cycle) is nothing.
std::optional<Fix> FixFromTpv(const GpsdReport& report, std::int64_t receivedMs);

}  // namespace ketrion::source
