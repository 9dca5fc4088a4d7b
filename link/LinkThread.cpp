#include "link/LinkThread.h"

#include <algorithm>
#include <cstring>

#include "engine/Engine.h"
#include "link/Com.h"
#include "link/Parser.h"
#include "platform/Clock.h"
#include "platform/SerialPort.h"

namespace ketrion {

LinkThread::LinkThread(CCom& com, CParser& parser, CEngine& engine, Clock& clock)
    : m_com(com), m_parser(parser), m_engine(engine), m_clock(clock) {}

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
    m_thread.join();
    if (m_com.m_pLinkThread == this) {
        m_com.m_pLinkThread = nullptr;
    }
    m_com.closingEvent.Set();
}

bool LinkThread::PortOpen() const {
    const SerialPort* port = m_com.port.get();
    return port != nullptr && port->IsOpen();
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
    return 0;
}

LinkThread::PassResult LinkThread::Pass() {
    SerialPort* port = m_com.port.get();
    const bool open = PortOpen();

    // Reading first: everything the driver holds, at most one buffer per pass.
    const std::size_t waiting = open ? port->InputCount() : 0;
    if (waiting > 0) {
        const std::size_t n = port->Read(m_readBuffer, std::min(waiting, kReadBufferSize));
        for (std::size_t i = 0; i < n; ++i) {
            m_parser.PushByte(m_readBuffer[i]);
            if (m_parser.state == CParser::Complete) {
                m_engine.Dispatch(m_parser.type, m_parser.data, m_parser.length);
                m_parser.Reset();
            }
        }
        if (n > 0) {
            return PassResult::Read;
        }
        // A count the read could not deliver: go on as if idle rather than spin.
    }

    if (m_com.writeEvent.IsSet()) {
        const std::uint32_t length = m_com.TakeRequest(m_writeBuffer);
        if (port != nullptr && length > 0) {
            port->Write(m_writeBuffer, length);  // a failed write is not retried
        }
        lastActivity = lastSample;
        return PassResult::Wrote;
    }

    const auto now = static_cast<std::uint32_t>(m_clock.NowSeconds());
    lastSample = now;
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
    if (open) {
        port->WaitReadable(kIdleWaitMs);
    } else {
        m_clock.SleepMs(kIdleWaitMs);
    }
    return PassResult::Idle;
}

}  // namespace ketrion
