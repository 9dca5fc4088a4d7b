#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "source/ScanSource.h"
#include "source/SourceWorker.h"
#include "source/wifi/Recording.h"

namespace ketrion::source::wifi {

// A recording of the adapter's netlink traffic (`ktwifi record`, or an nlmon
// capture) as a scan source: each RequestScan is answered on the source's
// thread with the next scan of the recording, every result of its dump (a
// replay keeps what was recorded; no freshness filter), strongest first.
//
// Pace: a scan is answered as long after the previous answer as it was
// recorded after the previous scan (the first at once); `fast` answers every
// request at once. After the last scan the source is Lost with the reason
// "end of recording" (a LinkLost event says so) and refuses further requests.
// A recording that cannot be opened is Lost from the start with the reason;
// a damaged one replays its whole scans, after a Notice naming the damage.
// The thread, status and request are the SourceWorker's.
class ReplayScanSource final : public ScanSource {
public:
    static constexpr char kEndOfRecording[] = "end of recording";
    static constexpr char kAbortedScan[] = "the scan was aborted; keeping what it saw";
    // Longer gaps in a recording (the recorder paused) are replayed as this.
    static constexpr std::int64_t kMaxGapMs = 60'000;

    ReplayScanSource(const std::string& path, bool fast, Clock& clock);
    ~ReplayScanSource() override;

    void Start() override;
    void Stop() override;
    std::string Kind() const override { return "wifi-replay"; }
    std::string Identity() const override { return m_identity; }
    SourceStatus Status() const override;
    bool IsScanning() const override;
    bool RequestScan() override;
    bool PacesItself() const override { return true; }

    std::size_t ScanCount() const { return m_scans.size(); }
    // How long after the previous answer each scan is answered, in ms.
    static std::vector<std::int64_t> Pace(const std::vector<RecordedScan>& scans);

private:
    ReplayScanSource(Recording recording, const std::string& path, bool fast, Clock& clock);
    void Run();

    Clock& m_clock;
    const bool m_fast;
    std::vector<RecordedScan> m_scans;  // read-only once built
    std::vector<std::int64_t> m_pace;
    std::string m_identity;
    std::string m_damage;
    std::size_t m_next = 0;            // the source's thread only
    std::int64_t m_lastAnswerMs = -1;  // the source's thread only; none yet
    SourceWorker m_worker;
};

}  // namespace ketrion::source::wifi
