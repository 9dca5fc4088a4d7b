#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "engine/Location.h"
#include "source/PositionSource.h"
#include "source/ScanSource.h"

namespace ketrion {

class BoardStack;
class CCom;
class Clock;

// The receiver board as a scan source. A reading empties the access-point
// list and requests a scan; the board's ScanEnd frame (link thread) turns the
// list into readings exactly as the collection file has always stored them:
// each access point's average signal (signal sum over sample count, truncated
// toward zero) times 256, its attribute, address and name, in list order.
//
// Start runs the board's start-up on a thread of its own, never the caller's:
// opens the port (with the opener, when one is set; else the port attached
// before stays), empties the list, starts the link thread and sends the
// handshake. Until the board answered it (or the port did not open, or
// kHandshakeWaitMs passed) the source is Starting and asks for no scan, so no
// request can take the handshake's place in the outgoing slot.
class BoardSource final : public source::ScanSource {
public:
    // Opens the board's port in `com`, saying why not through its own prompt.
    // Runs on the start-up thread.
    using PortOpener = std::function<void(CCom& com)>;
    // Longest wait for the handshake's answer after the port opened.
    static constexpr std::int64_t kHandshakeWaitMs = 4000;

    BoardSource(BoardStack& board, Clock& clock);
    ~BoardSource() override;
    BoardSource(const BoardSource&) = delete;
    BoardSource& operator=(const BoardSource&) = delete;

    // How Start opens the port; set while the source is stopped.
    void SetPortOpener(PortOpener opener);
    // Starts the start-up thread (see above); Stop joins it and the link thread.
    void Start() override;
    void Stop() override;
    bool Starting() const override;
    std::string Kind() const override { return "board"; }
    // "firmware F, serial S" once the board has answered the handshake.
    std::string Identity() const override;
    // "Firmware F" and "SN S".
    std::pair<std::string, std::string> IdentityLines() const override;
    source::SourceStatus Status() const override;
    // "No board: --port PATH or --simulate" while no port is open.
    std::string Absence() const override;
    bool IsScanning() const override;
    void BeginReading() override;
    bool RequestScan() override;

    // True while the serial port is open.
    bool PortOpen() const;
    // True once the board's firmware and serial number have arrived.
    bool Identified() const;
    // The board's own texts, as the start view draws them.
    std::string Firmware() const;
    std::string SerialNumber() const;
    BoardStack& Board() { return m_board; }

    // Link thread: the finished scan as readings (called by the engine's ScanEnd hook).
    void OnScanEnd();
    // Link thread: the engine's news, as this source's events.
    void OnEngineEvent(const source::SourceEvent& event);

private:
    BoardStack& m_board;
    Clock& m_clock;
    PortOpener m_opener;
    std::jthread m_startup;
    // Set by Start, cleared by Stop (caller's thread); the start-up thread
    // sets m_startupDone when the link runs and the handshake is sent.
    std::atomic<bool> m_started{false};
    std::atomic<bool> m_startupDone{false};
    std::atomic<std::int64_t> m_startedMs{0};
    std::atomic<std::int64_t> m_requestedMs{0};
    // A scan asked for whose end has not yet been recorded (nor the scan
    // abandoned): the board counts as scanning from the request on, not only
    // from its ScanStart frame.
    std::atomic<bool> m_awaiting{false};
    mutable std::mutex m_reasonMutex;
    std::string m_lostReason;
};

// The board's GPS receiver as a position source: the last GpsReport, with
// every field the location record has always stored.
class BoardPosition final : public source::PositionSource {
public:
    BoardPosition(BoardStack& board, Clock& clock);

    std::string Kind() const override { return "board"; }
    source::SourceStatus Status() const override;
    source::Fix Current() const override;
    // The location band's text, as the board's reports have always read.
    std::string StatusLine() const override;
    // The receiver's own name of its state ("3D Fix", "Acquiring
    // Satellites"...) and the last report's age.
    std::string FixName() const override;
    double FixAgeSeconds(std::int64_t nowMs) const override;
    // The last GPS report, whole.
    LocationSnapshot Snapshot() const;

private:
    BoardStack& m_board;
    Clock& m_clock;
};

}  // namespace ketrion
