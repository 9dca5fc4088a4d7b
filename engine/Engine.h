#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "engine/EngineEvent.h"
#include "engine/LinkList.h"

namespace ketrion {

class OutgoingSlot;
class CLocation;

// The protocol layer between the serial link and the rest of the program: turns
// each complete incoming frame into changes of shared state (firmware and serial
// texts, the scanning flag, the access-point list, the location), answers the
// board during the start-up handshake, and builds every outgoing request.
//
// It also watches over the scans and the link: a scan request that gets no
// ScanEnd in time is abandoned (so collection never stops for good on one lost
// frame), and the link thread's news of a lost or reopened port becomes the
// link state and an event, with the handshake run again on reopening.
//
// Threads: Dispatch, SendKeepAlive, Tick and the OnLink* calls run on the link
// thread; Start and RequestScan on the user-interface thread (Start also on the
// link thread when reconnecting); Send on both (the slot has its own lock).
// The hooks are set by the owner before the link thread starts and are called
// on the link thread.
class CEngine {
public:
    // Text fields hold this many bytes, terminator included.
    static constexpr std::size_t kTextSize = 32;
    // Characters copied from a Serial frame's body.
    static constexpr std::size_t kSerialChars = 8;
    // A scan request with no ScanEnd this long after it is abandoned. The
    // board's scans take a few seconds (16 passes of the longest scan setting
    // still end well inside this), so a scan this late has lost its ScanEnd
    // frame, or its ScanStart, on the line.
    static constexpr std::int64_t kScanWatchdogMs = 15000;
    // While the board does not answer the handshake after a reconnection, the
    // Version request goes out again this often.
    static constexpr std::int64_t kHandshakeRetryMs = 2000;

    CEngine(OutgoingSlot& link, LinkList& list, CLocation& location);
    virtual ~CEngine() = default;
    CEngine(const CEngine&) = delete;
    CEngine& operator=(const CEngine&) = delete;

    // Encodes one request frame (check position 0x00) and queues it in the
    // link's slot. Returns the slot's answer; false also when the payload
    // cannot fit the slot (nothing is queued then).
    virtual bool Send(std::uint8_t type, const std::uint8_t* payload = nullptr,
                      std::uint32_t length = 0);

    // Acts on one frame as the parser delivered it: `body` holds `length` bytes,
    // check byte last. Frames whose check fails are dropped silently.
    void Dispatch(std::uint8_t type, const std::uint8_t* body, std::uint32_t length);

    bool Start();                               // requests the Version (handshake step 1)
    bool RequestScan();                         // requests a scan (ScanStart); arms the watchdog
    bool SetConfiguration(std::uint8_t value);  // sends Configure with one byte
    bool SendKeepAlive();                       // queues 0x00 0x00, unframed

    // Copy the zero-terminated text into `dest` (at least kTextSize bytes).
    void GetFirmware(char* dest) const;
    void GetSerialNumber(char* dest) const;

    // True between a ScanStart and a ScanEnd frame (or the scan's abandonment).
    bool IsScanning() const { return scanning.load(); }

    // Link thread, at the start of every pass, with the link thread's clock:
    // arms the scan watchdog for a new request, abandons a scan whose time is
    // up (ScanAbandoned), and repeats an unanswered reconnection handshake.
    void Tick(std::int64_t nowMs);
    // Link thread: the earliest time Tick has something to do; -1 when nothing
    // is pending. The link thread's wait ends no later than this.
    std::int64_t NextDeadlineMs() const;
    // Link thread: the port was lost and closed. Sets linkState to Lost, drops
    // any scan in progress (it writes nothing) and raises LinkLost.
    void OnLinkLost(const std::string& reason);
    // Link thread: the port was opened again. Sets linkState to Reconnecting
    // and starts the handshake; its Serial answer restores the link
    // (Connected, LinkRestored).
    void OnLinkReopened(std::int64_t nowMs);
    // Scans abandoned so far (link thread; diagnostics and tests).
    std::uint64_t ScansAbandoned() const { return m_scansAbandoned; }

    // The mutex around the access-point list (taken without waiting around each
    // report; LinkList::RemoveAll takes it waiting).
    std::mutex& ListMutex() { return m_list.listMutex; }

    // Called after a ScanEnd frame, before notify and while IsScanning is
    // still true: records the finished scan.
    std::function<void()> onScanEnd;
    // Called exactly once after each ScanEnd and GpsReport frame; stands for
    // the window update message, so it must only post, never draw.
    std::function<void()> notify;

    // Called on the link thread for every EngineEvent (see EngineEvent.h);
    // like notify it must only post, never draw or block.
    std::function<void(const EngineEvent&)> onEvent;

    // Written by the link thread, read by the user-interface thread.
    std::atomic<bool> scanning{false};
    std::atomic<LinkState> linkState{LinkState::Connected};

    // The last access-point report's counts and raw records (link thread).
    ReportScratch report;

private:
    // Hands `event` to onEvent and, for the ones the view shows as an alert,
    // to notify as well.
    void Raise(EngineEventKind kind, std::string reason = {});
    void DisarmWatchdog() { m_watchdogDeadline = -1; }

    OutgoingSlot& m_link;
    LinkList& m_list;
    CLocation& m_location;

    mutable std::mutex m_textMutex;  // guards the two texts below
    char m_serialNumber[kTextSize] = "XXXXXX";
    char m_firmware[kTextSize] = "0.00";

    // Scan watchdog and reconnection (link thread only, but m_scanRequested,
    // set by RequestScan on the user-interface thread).
    std::atomic<bool> m_scanRequested{false};
    std::int64_t m_watchdogDeadline = -1;  // -1: no scan is being waited for
    // After an abandoned or cut scan: its late reports and ScanEnd are dropped
    // until the next ScanStart, so they never make a point of the next reading.
    bool m_discardingScan = false;
    std::int64_t m_handshakeDue = -1;  // -1: no reconnection handshake pending
    std::uint64_t m_scansAbandoned = 0;
};

}  // namespace ketrion
