#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

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
// Threads: Dispatch and SendKeepAlive run on the link thread; Start and
// RequestScan on the user-interface thread; Send on both (the slot has its own
// lock). The hooks are set by the owner before the link thread starts and are
// called on the link thread.
class CEngine {
public:
    // Text fields hold this many bytes, terminator included.
    static constexpr std::size_t kTextSize = 32;
    // Characters copied from a Serial frame's body.
    static constexpr std::size_t kSerialChars = 8;

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
    bool RequestScan();                         // requests a scan (ScanStart)
    bool SetConfiguration(std::uint8_t value);  // sends Configure with one byte
    bool SendKeepAlive();                       // queues 0x00 0x00, unframed

    // Copy the zero-terminated text into `dest` (at least kTextSize bytes).
    void GetFirmware(char* dest) const;
    void GetSerialNumber(char* dest) const;

    // True between a ScanStart and a ScanEnd frame.
    bool IsScanning() const { return scanning.load(); }

    // The mutex around the access-point list (taken without waiting around each
    // report; LinkList::RemoveAll takes it waiting).
    std::mutex& ListMutex() { return m_list.listMutex; }

    // Called after a ScanEnd frame, before notify: records the finished scan.
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
    OutgoingSlot& m_link;
    LinkList& m_list;
    CLocation& m_location;

    mutable std::mutex m_textMutex;  // guards the two texts below
    char m_serialNumber[kTextSize] = "XXXXXX";
    char m_firmware[kTextSize] = "0.00";
};

}  // namespace ketrion
