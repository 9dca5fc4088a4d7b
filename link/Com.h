#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Event.h"
#include "platform/Prompt.h"
#include "platform/SerialPort.h"
#include "platform/Wait.h"
#include "protocol/FrameFormat.h"
#include "protocol/OutgoingSlot.h"

namespace ketrion {

class Registry;
class LinkThread;

// The serial link: holds the open port, the outgoing slot the link thread
// serves, the flags that steer that thread, and how to open the port again
// after the board went away. One per process, constructed first and destroyed
// last, so the port closes after everything that might still queue a request.
//
// The slot is a short queue: one request (a newer one replaces it, as the
// board only ever needs the latest) and one keep-alive, written in the order
// they were queued. A keep-alive therefore never replaces a scan request.
//
// Threads: QueueWrite and QueueKeepAlive run on any thread. TakeRequest, the
// port's I/O and Reopen run on the link thread only. Open/OpenPath/Attach run
// on the owner's thread before the link thread starts; while it runs, only the
// link thread touches the port (it replaces it after a loss).
class CCom : public OutgoingSlot {
public:
    // How the port comes back after the board was unplugged.
    enum class ReopenMode {
        None,          // it does not (an attached port, or none was ever opened)
        RetryPath,     // try the same path again on a timer (--port PATH)
        WatchDevices,  // try the same path when a serial device appears (searched port)
    };
    // Opens a port for Reopen: the new port, or null with *why set.
    using Opener = std::function<std::unique_ptr<SerialPort>(std::string* why)>;

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
    // How a lost port is opened again; set by Open/OpenPath, or by tests.
    void SetReopen(ReopenMode mode, Opener opener);
    ReopenMode Reopening() const { return m_reopenMode; }
    // Link thread: closes and drops the current port (after a loss);
    // `reason` (why it was lost) becomes the PortProblem.
    void DropPort(const std::string& reason = {});
    // Link thread: opens the port again with the opener; true when it is
    // open. A failure's cause ("cannot open /dev/ttyUSB0: Permission
    // denied") goes to *why and becomes the PortProblem.
    bool Reopen(std::string* why);
    // The port, or null when none was opened. The thread that holds the port
    // only (the owner before the link thread runs, then the link thread).
    SerialPort* Port() { return port.get(); }

    // What any thread may ask about the port. The holder of the port
    // publishes it whenever it opens, attaches or drops one, so asking never
    // touches the port itself (which the link thread replaces after a loss).
    //
    // True when a port is held and open.
    bool IsPortOpen() const { return m_portOpen.load(); }
    // Why no port is open: the loss, then why the latest attempt to open it
    // again failed, or why the first opening failed; empty while one is open.
    std::string PortProblem() const;
    // Called on the publishing thread whenever IsPortOpen or PortProblem
    // change; like the engine's notify it must only post, never draw or block.
    // Set by the owner before the link thread starts.
    std::function<void()> onPortChange;

    // Copies the bytes into the slot, replacing a request not yet written, and
    // wakes the link thread. Returns false (and queues nothing) only when
    // `length` exceeds the slot.
    bool QueueWrite(const std::uint8_t* bytes, std::uint32_t length) override;
    // Queues a keep-alive behind whatever waits; one at most.
    bool QueueKeepAlive(const std::uint8_t* bytes, std::uint32_t length) override;

    // Link thread: moves the oldest pending entry into `dest` (kMaxOutgoing
    // bytes), and clears writeEvent when nothing is left, as one step under the
    // slot lock, so an entry is never torn and one queued during the following
    // write is not lost. Returns the number of bytes taken.
    std::uint32_t TakeRequest(std::uint8_t* dest);
    // Link thread: drops everything pending (a request for a board that went away).
    void ClearRequests();

    // Signalled by the link thread's stop path when it has finished; the
    // destructor waits on it (briefly) only if a link thread ever ran.
    Event closingEvent;
    // Signalled while something waits in the slot.
    Event writeEvent;
    // Wakes the link thread from its wait: signalled by every queued entry and
    // by a stop request.
    WakeEvent wake;
    // Set to make the link thread return before its next pass.
    std::atomic<bool> stopRequested{false};
    // Makes the next idle pass restart the keep-alive clock instead of testing it.
    std::atomic<bool> restartTimer{true};

private:
    friend class LinkThread;

    // Makes the port's state visible to other threads.
    void Publish(const std::string& problem);

    // The open port ("portHandle"); null or not open means no line. The
    // holder's thread only; others ask IsPortOpen and PortProblem.
    std::unique_ptr<SerialPort> port;
    std::atomic<bool> m_portOpen{false};
    mutable std::mutex m_problemMutex;  // guards m_problem
    std::string m_problem;

    struct Entry {
        std::uint8_t bytes[frame::kMaxOutgoing] = {};
        std::uint32_t length = 0;
        bool keepAlive = false;
    };
    // One request and one keep-alive at most.
    static constexpr int kQueueDepth = 2;

    bool Queue(const std::uint8_t* bytes, std::uint32_t length, bool keepAlive);

    std::mutex m_slotMutex;  // guards m_queue, m_queued
    Entry m_queue[kQueueDepth];
    int m_queued = 0;

    ReopenMode m_reopenMode = ReopenMode::None;
    Opener m_opener;

    // The running link thread, registered by LinkThread::Start so the
    // destructor can stop it before closing the port. Owner's thread only.
    LinkThread* m_pLinkThread = nullptr;
    bool m_bLinkThreadStarted = false;
};

}  // namespace ketrion
