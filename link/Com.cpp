#include "link/Com.h"

#include <chrono>
#include <cstring>

#include "link/LinkThread.h"

namespace ketrion {

namespace {
// How long the destructor waits for the link thread's stop signal.
constexpr std::chrono::milliseconds kClosingWait{1000};
}  // namespace

CCom::~CCom() {
    if (m_pLinkThread != nullptr) {
        m_pLinkThread->Stop();
        m_pLinkThread = nullptr;
    }
    // Only a link thread's stop path signals closingEvent; without one the
    // wait would always run its full length for nothing.
    if (m_bLinkThreadStarted) {
        closingEvent.WaitFor(kClosingWait);
    }
    if (port) {
        port->Close();
    }
}

void CCom::Attach(std::unique_ptr<SerialPort> newPort) {
    if (port) {
        port->Close();
    }
    port = std::move(newPort);
    Publish({});
}

void CCom::SetReopen(ReopenMode mode, Opener opener) {
    m_reopenMode = opener ? mode : ReopenMode::None;
    m_opener = std::move(opener);
}

void CCom::DropPort(const std::string& reason) {
    if (port) {
        port->Close();
        port.reset();
    }
    Publish(reason);
}

bool CCom::Reopen(std::string* why) {
    if (!m_opener) {
        return false;
    }
    std::string cause;
    std::unique_ptr<SerialPort> fresh = m_opener(&cause);
    if (!fresh || !fresh->IsOpen()) {
        if (cause.empty()) {
            cause = "the port could not be opened again";
        }
        if (why != nullptr) {
            *why = cause;
        }
        Publish(cause);
        return false;
    }
    Attach(std::move(fresh));
    return true;
}

void CCom::Publish(const std::string& problem) {
    const bool open = port && port->IsOpen();
    bool changed = m_portOpen.exchange(open) != open;
    {
        std::lock_guard lock(m_problemMutex);
        const std::string now = open ? std::string() : problem;
        if (now != m_problem) {
            m_problem = now;
            changed = true;
        }
    }
    if (changed && onPortChange) {
        onPortChange();
    }
}

std::string CCom::PortProblem() const {
    std::lock_guard lock(m_problemMutex);
    return m_problem;
}

bool CCom::Queue(const std::uint8_t* bytes, std::uint32_t length, bool keepAlive) {
    if (length > frame::kMaxOutgoing || (bytes == nullptr && length > 0)) {
        return false;
    }
    {
        std::lock_guard lock(m_slotMutex);
        int at = 0;
        while (at < m_queued && m_queue[at].keepAlive != keepAlive) {
            ++at;
        }
        if (at == m_queued) {
            m_queued++;  // a new entry at the back
        } else if (keepAlive) {
            return true;  // one keep-alive waits already
        }
        Entry& entry = m_queue[at];  // a request replaces the pending one in its place
        if (length > 0) {
            std::memcpy(entry.bytes, bytes, length);
        }
        entry.length = length;
        entry.keepAlive = keepAlive;
        writeEvent.Set();
    }
    wake.Signal();
    return true;
}

bool CCom::QueueWrite(const std::uint8_t* bytes, std::uint32_t length) {
    return Queue(bytes, length, false);
}

bool CCom::QueueKeepAlive(const std::uint8_t* bytes, std::uint32_t length) {
    return Queue(bytes, length, true);
}

std::uint32_t CCom::TakeRequest(std::uint8_t* dest) {
    std::lock_guard lock(m_slotMutex);
    if (m_queued == 0) {
        writeEvent.Reset();
        return 0;
    }
    const std::uint32_t length = m_queue[0].length;
    std::memcpy(dest, m_queue[0].bytes, length);
    for (int i = 1; i < m_queued; ++i) {
        m_queue[i - 1] = m_queue[i];
    }
    --m_queued;
    if (m_queued == 0) {
        writeEvent.Reset();
    }
    return length;
}

void CCom::ClearRequests() {
    std::lock_guard lock(m_slotMutex);
    m_queued = 0;
    writeEvent.Reset();
}

}  // namespace ketrion
