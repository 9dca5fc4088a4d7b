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
}

bool CCom::QueueWrite(const std::uint8_t* bytes, std::uint32_t length) {
    if (length > sizeof outBuffer || (bytes == nullptr && length > 0)) {
        return false;
    }
    std::lock_guard lock(m_slotMutex);
    if (length > 0) {
        std::memcpy(outBuffer, bytes, length);
    }
    outLength = length;
    writeEvent.Set();
    return true;
}

std::uint32_t CCom::TakeRequest(std::uint8_t* dest) {
    std::lock_guard lock(m_slotMutex);
    const std::uint32_t length = outLength;
    std::memcpy(dest, outBuffer, length);
    outLength = 0;
    writeEvent.Reset();
    return length;
}

}  // namespace ketrion
