#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "model/Fix.h"
#include "model/SourceEvent.h"

namespace ketrion::source {

// Where positions come from: the board's GPS, gpsd, or the surveyor.
//
// Threads: Current, FixFor and Status are called on any thread (a source
// guards its own state); onEvent is called on the source's own thread, set
// before Start.
class PositionSource {
public:
    virtual ~PositionSource() = default;

    virtual void Start() {}
    virtual void Stop() {}

    // How a position was obtained, for the side store: "board", "gpsd", ...
    virtual std::string Kind() const = 0;
    virtual SourceStatus Status() const = 0;
    // The latest fix (valid false when there is none).
    virtual Fix Current() const = 0;
    // The fix to record for a scan that ran from startedMs to endedMs: by
    // default the latest; a source that keeps a track interpolates at the
    // scan's middle.
    virtual Fix FixFor(std::int64_t startedMs, std::int64_t endedMs) const {
        (void)startedMs;
        (void)endedMs;
        return Current();
    }

    // True once the source heard from its receiver after `atMs`, so FixFor
    // of a scan with that middle is as good as it will get. A source without
    // a track has nothing to wait for.
    virtual bool HasReportAfter(std::int64_t atMs) const {
        (void)atMs;
        return true;
    }

    // True for a source that keeps a track and places a scan at its middle
    // (FixFor interpolates); false for one whose point is drawn where the
    // position was when the reading was asked for.
    virtual bool KeepsTrack() const { return false; }
    // The location band's text: the position as the surveyor reads it.
    virtual std::string StatusLine() const { return {}; }
    // The latest fix as the status bar names it: "3D Fix", "2D Fix" or
    // "No Fix" (the board names its receiver's own states); empty before any
    // report came.
    virtual std::string FixName() const {
        const Fix fix = Current();
        if (fix.receivedMs < 0)
            return {};
        switch (fix.fixClass) {
            case FixClass::Fix3D:
                return "3D Fix";
            case FixClass::Fix2D:
                return "2D Fix";
            default:
                return "No Fix";
        }
    }
    // Seconds from the latest report to `nowMs`; negative when not known.
    virtual double FixAgeSeconds(std::int64_t nowMs) const {
        const Fix fix = Current();
        return fix.receivedMs < 0 ? -1.0 : static_cast<double>(nowMs - fix.receivedMs) / 1000.0;
    }

    std::function<void(const SourceEvent&)> onEvent;
};

}  // namespace ketrion::source
