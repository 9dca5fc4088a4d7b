#include "source/SourceWorker.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "platform/Clock.h"

namespace ketrion::source {

SourceWorker::SourceWorker(Clock& clock, SourceStatus initial, Emit emit)
    : m_clock(clock), m_emit(std::move(emit)), m_status(std::move(initial)) {}

SourceWorker::~SourceWorker() {
    Stop();
}

void SourceWorker::Start(std::function<void()> body) {
    if (m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = false;
    }
    m_thread = std::thread([this, body = std::move(body)] {
        {
            std::lock_guard lock(m_mutex);
            m_workerId = std::this_thread::get_id();
        }
        body();
    });
}

void SourceWorker::Stop() {
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        if (m_interrupt)
            m_interrupt();
        m_wake.notify_all();
    }
    m_thread.join();
    // A scan stopped in the middle is abandoned: the source is idle for the
    // next Start.
    std::lock_guard lock(m_mutex);
    m_interrupt = nullptr;
    m_workerId = {};
    m_requested = false;
    m_busy = false;
    if (m_status.state == SourceState::Scanning)
        m_status = SourceStatus{SourceState::Ready, {}};
}

bool SourceWorker::Stopping() const {
    std::lock_guard lock(m_mutex);
    return m_stopping;
}

void SourceWorker::SetInterrupt(std::function<void()> interrupt) {
    std::lock_guard lock(m_mutex);
    m_interrupt = std::move(interrupt);
    if (m_stopping && m_interrupt)
        m_interrupt();
}

bool SourceWorker::WaitMs(std::int64_t ms) {
    bool onWorker = false;
    {
        std::lock_guard lock(m_mutex);
        onWorker = m_workerId == std::this_thread::get_id();
    }
    if (!onWorker) {
        if (ms > 0)
            m_clock.SleepMs(static_cast<unsigned>(ms));
        return !Stopping();
    }
    std::unique_lock lock(m_mutex);
    return !m_wake.wait_for(lock, std::chrono::milliseconds(std::max<std::int64_t>(ms, 0)),
                            [&] { return m_stopping; });
}

SourceStatus SourceWorker::Status() const {
    std::lock_guard lock(m_mutex);
    return m_status;
}

std::optional<SourceEventKind> SourceWorker::NewsLocked(SourceState state) {
    if (state == SourceState::Lost && !m_lostShown) {
        m_lostShown = true;
        return SourceEventKind::LinkLost;
    }
    if (state == SourceState::Ready && m_lostShown) {
        m_lostShown = false;
        return SourceEventKind::LinkRestored;
    }
    return std::nullopt;
}

void SourceWorker::SayNews(std::optional<SourceEventKind> news, const std::string& reason) {
    if (news)
        Say(*news, *news == SourceEventKind::LinkLost ? reason : std::string());
}

void SourceWorker::SetStatus(SourceState state, std::string reason) {
    std::optional<SourceEventKind> news;
    {
        std::lock_guard lock(m_mutex);
        m_status = SourceStatus{state, reason};
        news = NewsLocked(state);
        // A request the body has not taken yet cannot be answered by a lost
        // source: it is dropped, so the source is not busy while it is away.
        if (state == SourceState::Lost && m_requested) {
            m_requested = false;
            m_busy = false;
        }
    }
    SayNews(news, reason);
}

void SourceWorker::Say(SourceEventKind kind, std::string reason) {
    if (m_emit)
        m_emit(SourceEvent{kind, std::move(reason)});
}

bool SourceWorker::Request(std::int64_t requestedMs) {
    std::lock_guard lock(m_mutex);
    if (m_status.state != SourceState::Ready || m_busy)
        return false;
    m_busy = true;
    m_requested = true;
    m_requestedMs = requestedMs;
    m_status = SourceStatus{SourceState::Scanning, {}};
    m_wake.notify_all();
    return true;
}

bool SourceWorker::Busy() const {
    std::lock_guard lock(m_mutex);
    return m_busy;
}

std::optional<std::int64_t> SourceWorker::WaitForRequest() {
    std::unique_lock lock(m_mutex);
    m_wake.wait(lock, [&] { return m_stopping || m_requested; });
    if (m_stopping)
        return std::nullopt;
    m_requested = false;
    return m_requestedMs;
}

void SourceWorker::Finish(SourceEventKind end, std::string endReason, SourceState state,
                          std::string reason) {
    std::optional<SourceEventKind> news;
    {
        std::lock_guard lock(m_mutex);
        m_busy = false;
        m_requested = false;
        m_status = SourceStatus{state, reason};
        news = NewsLocked(state);
    }
    Say(end, std::move(endReason));
    SayNews(news, reason);
}

}  // namespace ketrion::source
