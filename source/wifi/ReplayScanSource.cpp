#include "source/wifi/ReplayScanSource.h"

#include <algorithm>
#include <chrono>

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

ReplayScanSource::ReplayScanSource(const std::string& path, bool fast, Clock& clock)
    : m_clock(clock), m_fast(fast), m_identity("recording " + path) {
    Recording recording = ReadRecording(path);
    m_scans = std::move(recording.scans);
    m_pace = Pace(m_scans);
    if (!recording.opened) {
        m_status = SourceStatus{SourceState::Lost, recording.damage};
    } else if (m_scans.empty()) {
        m_status =
            SourceStatus{SourceState::Lost, recording.damage.empty() ? std::string(kEndOfRecording)
                                                                     : recording.damage};
    } else {
        m_damage = recording.damage;
    }
}

ReplayScanSource::~ReplayScanSource() {
    Stop();
}

void ReplayScanSource::Start() {
    if (m_thread.joinable())
        return;
    if (!m_damage.empty() && onEvent)
        onEvent(SourceEvent{SourceEventKind::Notice,
                            m_identity + ": " + m_damage + "; the scans before it are replayed"});
    if (m_status.state == SourceState::Lost && onEvent)
        onEvent(SourceEvent{SourceEventKind::LinkLost, m_status.reason});
    m_thread = std::jthread([this](std::stop_token stop) { Run(stop); });
}

void ReplayScanSource::Stop() {
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_thread.request_stop();
    m_wake.notify_all();
    m_thread.join();
}

SourceStatus ReplayScanSource::Status() const {
    std::lock_guard lock(m_mutex);
    return m_status;
}

bool ReplayScanSource::IsScanning() const {
    std::lock_guard lock(m_mutex);
    return m_pending;
}

bool ReplayScanSource::RequestScan() {
    std::lock_guard lock(m_mutex);
    if (m_status.state == SourceState::Lost || m_pending || m_next >= m_scans.size())
        return false;
    m_pending = true;
    m_requestedMs = m_clock.NowMs();
    m_status = SourceStatus{SourceState::Scanning, ""};
    m_wake.notify_all();
    return true;
}

void ReplayScanSource::Run(std::stop_token) {
    using Steady = std::chrono::steady_clock;
    Steady::time_point lastAnswer = Steady::now();
    for (;;) {
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [&] { return m_stopping || m_pending; });
        if (m_stopping)
            return;
        const std::size_t index = m_next;
        if (!m_fast) {
            const auto due = lastAnswer + std::chrono::milliseconds(m_pace[index]);
            if (m_wake.wait_until(lock, due, [&] { return m_stopping; }))
                return;
        }
        ScanResult result;
        result.startedMs = m_requestedMs;
        lock.unlock();

        for (const Bss& bss : m_scans[index].results)
            result.readings.push_back(ReadingOf(bss, std::nullopt));
        SortStrongestFirst(result.readings);
        result.endedMs = m_clock.NowMs();

        // As live: an aborted scan keeps what it saw, and says so.
        if (m_scans[index].aborted && onEvent)
            onEvent(SourceEvent{SourceEventKind::Notice, kAbortedScan});
        // The point is recorded before the scan counts as ended, so whoever
        // sees the source ready again, or at the end of the recording, finds
        // every answered scan's point already there.
        if (onScan)
            onScan(result);

        lock.lock();
        m_next = index + 1;
        m_pending = false;
        const bool last = m_next >= m_scans.size();
        m_status = last ? SourceStatus{SourceState::Lost, kEndOfRecording}
                        : SourceStatus{SourceState::Ready, ""};
        lock.unlock();
        lastAnswer = Steady::now();

        if (onEvent) {
            onEvent(SourceEvent{SourceEventKind::ScanEnded, ""});
            if (last)
                onEvent(SourceEvent{SourceEventKind::LinkLost, kEndOfRecording});
        }
    }
}

}  // namespace ketrion::source::wifi
