#include "link/LinkThread.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/Engine.h"
#include "link/Com.h"
#include "platform/Clock.h"
#include "platform/DeviceMonitor.h"
#include "platform/SerialPort.h"
#include "protocol/Parser.h"

namespace ketrion {

LinkThread::LinkThread(CCom& com, CParser& parser, CEngine& engine, Clock& clock)
    : m_com(com), m_parser(parser), m_engine(engine), m_clock(clock), m_waiter(m_pollWaiter) {}

LinkThread::LinkThread(CCom& com, CParser& parser, CEngine& engine, Clock& clock, Waiter& waiter)
    : m_com(com), m_parser(parser), m_engine(engine), m_clock(clock), m_waiter(waiter) {}

LinkThread::~LinkThread() {
    Stop();
}

void LinkThread::Start() {
    if (m_thread.joinable()) {
        return;
    }
    m_com.stopRequested = false;
    m_com.restartTimer = true;  // the first idle pass starts the keep-alive clock afresh
    m_com.closingEvent.Reset();
    m_com.m_pLinkThread = this;
    m_com.m_bLinkThreadStarted = true;
    m_thread = std::jthread([this] { Run(); });
}

void LinkThread::Stop() {
    if (!m_thread.joinable()) {
        return;
    }
    m_com.stopRequested = true;
    m_com.wake.Signal();
    m_thread.join();
    if (m_com.m_pLinkThread == this) {
        m_com.m_pLinkThread = nullptr;
    }
    m_com.closingEvent.Set();
}

void LinkThread::Begin() {
    std::memset(m_readBuffer, 0, sizeof m_readBuffer);
    m_parser.Reset();
}

int LinkThread::Run() {
    Begin();
    while (!m_com.stopRequested.load()) {
        Pass();
    }
    m_monitor.reset();
    return 0;
}

LinkThread::PassResult LinkThread::Pass() {
    ++passes;
    // Every pass looks at all there is to do, so the wake-ups sent so far are
    // answered by this one; a signal sent after this point ends the next wait.
    m_com.wake.Drain();
    const std::int64_t nowMs = m_clock.NowMs();
    const auto now = static_cast<std::uint32_t>(nowMs / 1000);
    lastSample = now;
    m_engine.Tick(nowMs);

    SerialPort* port = m_com.port.get();
    const bool open = port != nullptr && port->IsOpen();
    if (open && port->Lost()) {
        HandleLoss(nowMs);
        return PassResult::Lost;
    }

    // Reading first: everything the driver holds, at most one buffer per pass.
    const std::size_t waiting = open ? port->InputCount() : 0;
    if (waiting > 0) {
        const std::size_t n = port->Read(m_readBuffer, std::min(waiting, kReadBufferSize));
        m_parser.Feed(m_readBuffer, n, [this](const FrameView& f) {
            if (f.valid) {
                m_engine.Dispatch(f.type, f.body, f.length);
            }
        });
        if (n > 0) {
            return PassResult::Read;
        }
        // A count the read could not deliver: go on as if idle rather than spin.
    }
    if (open && port->Lost()) {
        HandleLoss(nowMs);
        return PassResult::Lost;
    }

    if (m_com.writeEvent.IsSet()) {
        const std::uint32_t length = m_com.TakeRequest(m_writeBuffer);
        if (open && length > 0) {
            port->Write(m_writeBuffer, length);  // a failed write is not retried
            if (port->Lost()) {
                HandleLoss(nowMs);
                return PassResult::Lost;
            }
        }
        lastActivity = lastSample;
        return PassResult::Wrote;
    }

    if (m_com.restartTimer.exchange(false)) {
        lastActivity = now;
        return PassResult::ClockRestarted;
    }
    // Elapsed time as an unsigned 32-bit difference: right across the wrap of
    // the low 32 bits, and a clock set back costs one early keep-alive instead
    // of silence until it catches up.
    if (static_cast<std::uint32_t>(now - lastActivity) > kKeepAliveSeconds) {
        lastActivity = now;
        m_engine.SendKeepAlive();
        return PassResult::KeepAlive;
    }

    if (ReopenIfDue(nowMs)) {
        return PassResult::Reopened;
    }
    Wait(nowMs);
    return PassResult::Idle;
}

void LinkThread::HandleLoss(std::int64_t nowMs) {
    SerialPort* port = m_com.port.get();
    std::string reason = port != nullptr ? port->LossReason() : std::string();
    if (reason.empty()) {
        reason = "the line failed";
    }
    m_com.DropPort(reason);
    // Whatever waits was meant for the board that went away; a frame cut by
    // the loss is not completed by the first bytes of the next connection.
    m_com.ClearRequests();
    m_parser.Reset();
    m_lost = m_com.Reopening() != CCom::ReopenMode::None;
    m_deviceArrived = false;
    m_engine.OnLinkLost(reason);
    if (m_lost) {
        if (m_com.Reopening() == CCom::ReopenMode::WatchDevices && !m_monitor) {
            m_monitor = std::make_unique<DeviceMonitor>();
        }
        ScheduleReopen(nowMs);
    }
}

void LinkThread::ScheduleReopen(std::int64_t nowMs) {
    const bool watching =
        m_com.Reopening() == CCom::ReopenMode::WatchDevices && m_monitor && m_monitor->IsWatching();
    m_reopenDueMs = nowMs + (watching ? kSearchedReopenRetryMs : kReopenRetryMs);
}

bool LinkThread::ReopenIfDue(std::int64_t nowMs) {
    if (!m_lost || (!m_deviceArrived && nowMs < m_reopenDueMs)) {
        return false;
    }
    m_deviceArrived = false;
    std::string why;
    if (!m_com.Reopen(&why)) {
        ScheduleReopen(nowMs);
        return false;
    }
    m_lost = false;
    m_reopenDueMs = -1;
    m_monitor.reset();
    m_parser.Reset();
    m_engine.OnLinkReopened(nowMs);
    return true;
}

int LinkThread::WaitTimeoutMs(std::int64_t nowMs) const {
    // The keep-alive is due on the first whole second more than
    // kKeepAliveSeconds after lastActivity.
    const auto elapsed =
        static_cast<std::uint32_t>(static_cast<std::uint32_t>(nowMs / 1000) - lastActivity);
    std::int64_t timeout = 0;
    if (elapsed <= kKeepAliveSeconds) {
        timeout = static_cast<std::int64_t>(kKeepAliveSeconds + 1 - elapsed) * 1000 - nowMs % 1000;
    }
    const std::int64_t engineDue = m_engine.NextDeadlineMs();
    if (engineDue >= 0) {
        timeout = std::min(timeout, engineDue - nowMs);
    }
    if (m_lost && m_reopenDueMs >= 0) {
        timeout = std::min(timeout, m_reopenDueMs - nowMs);
    }
    return static_cast<int>(std::clamp<std::int64_t>(timeout, 0, kMaxWaitMs));
}

void LinkThread::Wait(std::int64_t nowMs) {
    SerialPort* port = m_com.port.get();
    const bool open = port != nullptr && port->IsOpen();
    enum { kWake, kPort, kMonitor, kCount };
    pollfd fds[kCount] = {
        {m_com.wake.Descriptor(), POLLIN, 0},
        {open ? port->Descriptor() : -1, POLLIN, 0},
        {m_monitor ? m_monitor->Descriptor() : -1, POLLIN, 0},
    };
    if (m_waiter.Wait(fds, kCount, WaitTimeoutMs(nowMs)) <= 0) {
        return;
    }
    if (open && (fds[kPort].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        port->CheckLine(fds[kPort].revents);  // the next pass acts on a loss
    }
    if (m_monitor && fds[kMonitor].revents != 0 && m_monitor->TakeArrivals()) {
        m_deviceArrived = true;
    }
}

}  // namespace ketrion
