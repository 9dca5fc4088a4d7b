#include "session/FixWait.h"

#include <chrono>
#include <utility>

#include "platform/Clock.h"
#include "source/PositionTrack.h"

namespace ketrion {

FixWait::FixWait(const source::PositionSource& position, Clock& clock, Write write)
    : m_position(position), m_clock(clock), m_write(std::move(write)) {
    m_thread = std::thread([this] { Run(); });
}

FixWait::~FixWait() {
    Flush();
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

bool FixWait::Settled(const source::ScanResult& result, std::int64_t nowMs) const {
    return m_position.HasReportAfter(
               source::PositionTrack::ScanMiddleMs(result.startedMs, result.endedMs)) ||
           nowMs - result.endedMs >= kWaitMs;
}

void FixWait::Hand(const source::ScanResult& result) {
    std::lock_guard writing(m_writeMutex);
    {
        std::lock_guard lock(m_mutex);
        if (!m_waiting.empty() || !Settled(result, m_clock.NowMs())) {
            m_waiting.push_back(result);
            m_changed.notify_all();
            return;
        }
    }
    m_write(result);
}

void FixWait::Flush() {
    WriteSettled(true);
}

std::size_t FixWait::Waiting() const {
    std::lock_guard lock(m_mutex);
    return m_waiting.size();
}

void FixWait::WriteSettled(bool all) {
    std::lock_guard writing(m_writeMutex);
    for (;;) {
        source::ScanResult next;
        {
            std::lock_guard lock(m_mutex);
            if (m_waiting.empty() || (!all && !Settled(m_waiting.front(), m_clock.NowMs())))
                return;
            next = std::move(m_waiting.front());
            m_waiting.pop_front();
        }
        m_write(next);
    }
}

void FixWait::Run() {
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        if (m_waiting.empty()) {
            m_changed.wait(lock, [&] { return m_stopping || !m_waiting.empty(); });
            continue;
        }
        m_changed.wait_for(lock, std::chrono::milliseconds(kPollMs), [&] { return m_stopping; });
        if (m_stopping)
            break;
        lock.unlock();
        WriteSettled(false);
        lock.lock();
    }
}

}  // namespace ketrion
