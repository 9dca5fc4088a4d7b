#include "source/wifi/ReplayScanSource.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "source/wifi/BssReading.h"

namespace ketrion::source::wifi {

std::int64_t ReplayScanSource::GapMs(std::int64_t previousUs, std::int64_t timeUs) {
    return std::clamp<std::int64_t>((timeUs - previousUs) / 1000, 0, kMaxGapMs);
}

std::vector<std::int64_t> ReplayScanSource::Pace(const std::vector<RecordedScan>& scans) {
    std::vector<std::int64_t> pace;
    pace.reserve(scans.size());
    for (std::size_t i = 0; i < scans.size(); ++i)
        pace.push_back(i == 0 ? 0 : GapMs(scans[i - 1].timeUs, scans[i].timeUs));
    return pace;
}

ReplayScanSource::Survey ReplayScanSource::SurveyRecording(const std::string& path) {
    Survey survey;
    RecordingReader reader;
    if (!reader.Open(path, survey.damage))
        return survey;
    survey.opened = true;
    for (RecordedScan scan; reader.Next(scan);)
        ++survey.scans;
    survey.damage = reader.Damage();
    return survey;
}

namespace {

// The status a recording starts in: Lost when there is nothing to replay.
SourceStatus InitialStatus(bool opened, std::size_t scans, const std::string& damage) {
    if (!opened)
        return SourceStatus{SourceState::Lost, damage};
    if (scans == 0)
        return SourceStatus{SourceState::Lost, damage.empty()
                                                   ? std::string(ReplayScanSource::kEndOfRecording)
                                                   : damage};
    return {};
}

}  // namespace

ReplayScanSource::ReplayScanSource(const std::string& path, bool fast, Clock& clock)
    : ReplayScanSource(SurveyRecording(path), path, fast, clock) {}

ReplayScanSource::ReplayScanSource(const Survey& survey, const std::string& path, bool fast,
                                   Clock& clock)
    : m_clock(clock),
      m_fast(fast),
      m_path(path),
      m_count(survey.scans),
      m_identity("recording " + path),
      m_damage(survey.opened && survey.scans > 0 ? survey.damage : std::string()),
      m_worker(clock, InitialStatus(survey.opened, survey.scans, survey.damage),
               [this](const SourceEvent& event) {
                   if (onEvent)
                       onEvent(event);
               }) {}

bool ReplayScanSource::NextScan(RecordedScan& scan) {
    if (!m_reader) {
        m_reader.emplace();
        std::string error;
        if (!m_reader->Open(m_path, error))
            return false;
        // After a Stop and Start: on from where the replay was.
        for (std::size_t skipped = 0; skipped < m_next; ++skipped)
            if (!m_reader->Next(scan))
                return false;
    }
    return m_reader->Next(scan);
}

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
        // A scan read before a Stop cut its wait short is still to be answered.
        if (!m_pending) {
            RecordedScan next;
            if (!NextScan(next)) {
                // The file changed since it was counted: it ends here.
                m_worker.Finish(SourceEventKind::ScanEnded, {}, SourceState::Lost, kEndOfRecording);
                continue;
            }
            m_pending = std::move(next);
        }
        const RecordedScan& scan = *m_pending;
        if (!m_fast && m_lastAnswerMs >= 0) {
            const std::int64_t dueMs = m_lastAnswerMs + GapMs(m_lastScanUs, scan.timeUs);
            if (!m_worker.WaitMs(dueMs - m_clock.NowMs()))
                return;
        }
        ScanResult result;
        result.startedMs = *requestedMs;
        for (const Bss& bss : scan.results)
            result.readings.push_back(ReadingOf(bss, std::nullopt));
        SortStrongestFirst(result.readings);
        result.endedMs = m_clock.NowMs();

        // As live: an aborted scan keeps what it saw, and says so.
        if (scan.aborted)
            m_worker.Say(SourceEventKind::Notice, kAbortedScan);
        // The point is recorded before the scan counts as ended, so whoever
        // sees the source ready again, or at the end of the recording, finds
        // every answered scan's point already there.
        if (onScan)
            onScan(result);
        ++m_next;
        m_lastAnswerMs = m_clock.NowMs();
        m_lastScanUs = scan.timeUs;
        m_pending.reset();
        if (m_next >= m_count)
            m_worker.Finish(SourceEventKind::ScanEnded, {}, SourceState::Lost, kEndOfRecording);
        else
            m_worker.Finish(SourceEventKind::ScanEnded, {}, SourceState::Ready);
    }
}

}  // namespace ketrion::source::wifi
