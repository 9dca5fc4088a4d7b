#pragma once

#include <cstdint>
#include <optional>
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
//
// Memory: the recording is read twice as a stream, never held: once when the
// source is made (to count its scans and find any damage) and once on the
// source's thread, a scan at a time as they are answered, so a recording of
// hours replays in the memory of one scan.
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

    std::size_t ScanCount() const { return m_count; }
    // How long after the previous answer each scan is answered, in ms.
    static std::vector<std::int64_t> Pace(const std::vector<RecordedScan>& scans);
    // The same for one scan recorded at `timeUs` after one at `previousUs`.
    static std::int64_t GapMs(std::int64_t previousUs, std::int64_t timeUs);

private:
    // What a first pass over the recording found.
    struct Survey {
        bool opened = false;
        std::size_t scans = 0;
        std::string damage;  // or why it could not be opened
    };
    static Survey SurveyRecording(const std::string& path);
    ReplayScanSource(const Survey& survey, const std::string& path, bool fast, Clock& clock);
    void Run();
    // The next scan from the reader, opened (and moved past the scans already
    // answered) on first use; false when the recording has no more.
    bool NextScan(RecordedScan& scan);

    Clock& m_clock;
    const bool m_fast;
    const std::string m_path;
    const std::size_t m_count;  // whole scans in the recording
    std::string m_identity;
    std::string m_damage;
    // The source's thread only:
    std::optional<RecordingReader> m_reader;
    std::optional<RecordedScan> m_pending;  // read, not yet answered
    std::size_t m_next = 0;                 // scans answered so far
    std::int64_t m_lastAnswerMs = -1;       // none yet
    std::int64_t m_lastScanUs = 0;          // the recorded time of the last scan answered
    SourceWorker m_worker;
};

}  // namespace ketrion::source::wifi
