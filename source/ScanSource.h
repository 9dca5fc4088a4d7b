#pragma once

#include <functional>
#include <string>
#include <utility>

#include "model/Reading.h"
#include "model/SourceEvent.h"

namespace ketrion::source {

// Where scans come from: the receiver board, the laptop's Wi-Fi adapter, or
// a recording of either. The survey session asks for a reading with
// BeginReading then RequestScan; the finished scan comes back through
// onScan, on the source's own thread, and news through onEvent.
//
// The contract every source keeps (tests/source/source_contract_test.cpp
// runs it against each):
//  - A source is ready again only after its scan has been handed over and
//    recorded: IsScanning stays true from
//    RequestScan until onScan has returned (or the scan was abandoned). A
//    timer tick or a click in between cannot begin a new reading that would
//    empty or overwrite the one being recorded.
//  - Events come in order: a scan's onScan before its ScanEnded event; Lost
//    (LinkLost) once per loss, then LinkRestored once when it is back.
//  - Stop may come while a scan runs: it returns once the thread is joined,
//    and neither callback runs after that.
//
// A source with a thread of its own builds on SourceWorker
// (source/SourceWorker.h): it owns the thread, Stop, the status, the one open
// request and the lost/restored news, so a source's own code only talks to
// its device. The board's source follows its link thread instead.
//
// Threads: BeginReading, RequestScan, Status, IsScanning and Identity are
// called on the user-interface thread (or a test's); onScan and onEvent are
// called on the source's thread, set by the owner before Start and never
// changed while it runs.
class ScanSource {
public:
    virtual ~ScanSource() = default;

    // Starts the source's thread (no-op for a source without one).
    virtual void Start() {}
    // Stops and joins it; no callback runs after Stop returns.
    virtual void Stop() {}

    // Short name for the side store and messages: "board", "wifi", "wifi-replay".
    virtual std::string Kind() const = 0;
    // What the start view and status bar show: the board's firmware and serial
    // number, the adapter's interface, driver and MAC. Empty until known.
    virtual std::string Identity() const = 0;
    // The same as the start view's two lines (firmware and serial number; the
    // adapter's interface and driver, and its MAC).
    virtual std::pair<std::string, std::string> IdentityLines() const { return {Identity(), {}}; }
    virtual SourceStatus Status() const = 0;
    // What the status bar says while the source has no device at all, in the
    // source's own words (the board's port never opened); empty when it has.
    virtual std::string Absence() const { return {}; }
    // True from a request until its scan was recorded (onScan returned) or
    // abandoned.
    virtual bool IsScanning() const = 0;

    // Prepares a new reading: forgets what an earlier scan left behind. Called
    // before RequestScan, so a source that answers at once keeps its readings.
    virtual void BeginReading() {}
    // Asks for one scan; false when it could not be asked (link down).
    virtual bool RequestScan() = 0;
    // True when a new scan is best started as soon as the last one ended (an
    // adapter's scan takes seconds); false for the board's 5-second timer.
    virtual bool PacesItself() const { return false; }

    std::function<void(const ScanResult&)> onScan;
    std::function<void(const SourceEvent&)> onEvent;
};

}  // namespace ketrion::source
