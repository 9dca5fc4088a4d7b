#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "engine/Location.h"
#include "source/PositionSource.h"
#include "source/ScanSource.h"

namespace ketrion {

class BoardStack;
class Clock;

// The receiver board as a scan source. A reading empties the access-point
// list and requests a scan; the board's ScanEnd frame (link thread) turns the
// list into readings exactly as the collection file has always stored them:
// each access point's average signal (signal sum over sample count, truncated
// toward zero) times 256, its attribute, address and name, in list order.
class BoardSource final : public source::ScanSource {
public:
    BoardSource(BoardStack& board, Clock& clock);
    ~BoardSource() override;
    BoardSource(const BoardSource&) = delete;
    BoardSource& operator=(const BoardSource&) = delete;

    // Starts the board's link thread and its handshake; Stop joins it.
    void Start() override;
    void Stop() override;
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
