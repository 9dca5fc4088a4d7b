#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "link/FrameFormat.h"
#include "link/OutgoingSlot.h"
#include "platform/Event.h"
#include "platform/Prompt.h"
#include "platform/SerialPort.h"

namespace ketrion {

class Registry;
class LinkThread;

// The serial link: holds the open port, the single outgoing slot the link
// thread serves, and the flags that steer that thread. One per process,
// constructed first and destroyed last, so the port closes after everything
// that might still queue a request.
//
// Threads: QueueWrite runs on any thread. TakeRequest, and the port's I/O, run
// on the link thread only. Open/Attach run on the owner's thread before the
// link thread starts; the port pointer is not changed while it runs.
class CCom : public OutgoingSlot {
public:
    CCom() = default;
    // Stops and joins a running link thread, then closes the port.
    ~CCom() override;
    CCom(const CCom&) = delete;
    CCom& operator=(const CCom&) = delete;

    // Finds the board's port in the device registry and opens it with the line
    // settings; failures are shown through `prompt` and leave no port open.
    // Defined with the port search (link/ComOpen.cpp).
    void Open(const Registry& registry, Prompt& prompt);
    // Opens the port at `path` directly (skips the search).
    void OpenPath(const std::string& path, Prompt& prompt);
    // Uses an already open port (tests, the in-process simulator). Replaces and
    // closes any previous one. Not while the link thread runs.
    void Attach(std::unique_ptr<SerialPort> port);
    // The port, or null when none was opened.
    SerialPort* Port() { return port.get(); }
    // True when a port is held and open.
    bool IsPortOpen() const { return port && port->IsOpen(); }

    // Copies the bytes into the slot, replacing a request not yet written, and
    // wakes the link thread. Returns false (and queues nothing) only when
    // `length` exceeds the slot.
    bool QueueWrite(const std::uint8_t* bytes, std::uint32_t length) override;

    // Link thread: moves the pending request into `dest` (kMaxOutgoing bytes)
    // and clears writeEvent, as one step under the slot lock, so a request is
    // never torn and one queued during the following write is not lost.
    // Returns the number of bytes taken.
    std::uint32_t TakeRequest(std::uint8_t* dest);

    // Signalled by the link thread's stop path when it has finished; the
    // destructor waits on it (briefly) only if a link thread ever ran.
    Event closingEvent;
    // Signalled while a request waits in the slot.
    Event writeEvent;
    // Set to make the link thread return before its next pass.
    std::atomic<bool> stopRequested{false};
    // Makes the next idle pass restart the keep-alive clock instead of testing it.
    std::atomic<bool> restartTimer{true};

    // The open port ("portHandle"); null or not open means no line.
    std::unique_ptr<SerialPort> port;

private:
    friend class LinkThread;

    std::mutex m_slotMutex;                            // guards outBuffer, outLength
    std::uint8_t outBuffer[frame::kMaxOutgoing] = {};  // the one pending request
    std::uint32_t outLength = 0;

    // The running link thread, registered by LinkThread::Start so the
    // destructor can stop it before closing the port. Owner's thread only.
    LinkThread* m_pLinkThread = nullptr;
    bool m_bLinkThreadStarted = false;
};

}  // namespace ketrion
