#include "source/wifi/ReplayScanSource.h"

#include <algorithm>
#include <optional>

#include "source/wifi/BssReading.h"

namespace ketrion::source::wifi {

std::vector<std::int64_t> ReplayScanSource::Pace(const std::vector<RecordedScan>& scans) {
    std::vector<std::int64_t> pace;
    pace.reserve(scans.size());
    for (std::size_t i = 0; i < scans.size(); ++i) {
        const std::int64_t gapUs = i == 0 ? 0 : scans[i].timeUs - scans[i - 1].timeUs;
        pace.push_back(std::clamp<std::int64_t>(gapUs / 1000, 0, kMaxGapMs));
    }
    return pace;
}

namespace {

// The status a recording starts in: Lost when there is nothing to replay.
SourceStatus InitialStatus(const Recording& recording, std::size_t scans) {
    if (!recording.opened)
        return SourceStatus{SourceState::Lost, recording.damage};
    if (scans == 0)
        return SourceStatus{SourceState::Lost, recording.damage.empty()
                                                   ? std::string(ReplayScanSource::kEndOfRecording)
                                                   : recording.damage};
    return {};
}

}  // namespace

ReplayScanSource::ReplayScanSource(const std::string& path, bool fast, Clock& clock)
    : ReplayScanSource(ReadRecording(path), path, fast, clock) {}

ReplayScanSource::ReplayScanSource(Recording recording, const std::string& path, bool fast,
                                   Clock& clock)
    : m_clock(clock),
      m_fast(fast),
      m_scans(std::move(recording.scans)),
      m_pace(Pace(m_scans)),
      m_identity("recording " + path),
      m_damage(recording.opened && !m_scans.empty() ? recording.damage : std::string()),
      m_worker(clock, InitialStatus(recording, m_scans.size()), [this](const SourceEvent& event) {
          if (onEvent)
              onEvent(event);
      }) {}

ReplayScanSource::~ReplayScanSource() {
    Stop();
}

void ReplayScanSource::Start() {
    m_worker.Start([this] { Run(); });
}

void ReplayScanSource::Stop() {
    m_worker.Stop();
}

SourceStatus ReplayScanSource::Status() const {
    return m_worker.Status();
}

bool ReplayScanSource::IsScanning() const {
    return m_worker.Busy();
}

bool ReplayScanSource::RequestScan() {
    // After the last scan the source is Lost, so the worker refuses.
    return m_worker.Request(m_clock.NowMs());
}

void ReplayScanSource::Run() {
    if (!m_damage.empty())
        m_worker.Say(SourceEventKind::Notice,
                     m_identity + ": " + m_damage + "; the scans before it are replayed");
    // A recording with nothing to replay says so once, as its first news.
    if (const SourceStatus initial = m_worker.Status(); initial.state == SourceState::Lost)
        m_worker.SetStatus(SourceState::Lost, initial.reason);
    for (;;) {
        const std::optional<std::int64_t> requestedMs = m_worker.WaitForRequest();
        if (!requestedMs)
            return;
        const std::size_t index = m_next;
        if (!m_fast && m_lastAnswerMs >= 0) {
            const std::int64_t dueMs = m_lastAnswerMs + m_pace[index];
            if (!m_worker.WaitMs(dueMs - m_clock.NowMs()))
                return;
        }
        ScanResult result;
        result.startedMs = *requestedMs;
        for (const Bss& bss : m_scans[index].results)
            result.readings.push_back(ReadingOf(bss, std::nullopt));
        SortStrongestFirst(result.readings);
        result.endedMs = m_clock.NowMs();

        // As live: an aborted scan keeps what it saw, and says so.
        if (m_scans[index].aborted)
            m_worker.Say(SourceEventKind::Notice, kAbortedScan);
        // The point is recorded before the scan counts as ended, so whoever
        // sees the source ready again, or at the end of the recording, finds
        // every answered scan's point already there.
        if (onScan)
            onScan(result);
        m_next = index + 1;
        m_lastAnswerMs = m_clock.NowMs();
        if (m_next >= m_scans.size())
            m_worker.Finish(SourceEventKind::ScanEnded, {}, SourceState::Lost, kEndOfRecording);
        else
            m_worker.Finish(SourceEventKind::ScanEnded, {}, SourceState::Ready);
    }
}

}  // namespace ketrion::source::wifi
