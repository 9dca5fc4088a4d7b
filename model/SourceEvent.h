#pragma once

#include <cstdint>
#include <string>

namespace ketrion::source {

// State of a scan or position source, as the status bar and bands show it.
enum class SourceState : std::uint8_t {
    Ready,         // working; a scan may be requested / fixes arrive
    Scanning,      // a scan is running (scan sources only)
    Lost,          // the device or service went away; `reason` says why
    Reconnecting,  // it is back and being set up again
};

// "ready", "scanning", "lost" or "reconnecting".
inline const char* SourceStateName(SourceState state) {
    switch (state) {
        case SourceState::Ready:
            return "ready";
        case SourceState::Scanning:
            return "scanning";
        case SourceState::Lost:
            return "lost";
        case SourceState::Reconnecting:
            return "reconnecting";
    }
    return "unknown";
}

struct SourceStatus {
    SourceState state = SourceState::Ready;
    std::string reason;  // Lost / Reconnecting: what went wrong, in words for the user
};

// News from a source's own thread for the user-interface thread. Receivers
// must only post it on (a queued event), never draw or block.
enum class SourceEventKind : std::uint8_t {
    ScanEnded,      // a scan finished (its point is recorded)
    GpsUpdate,      // a new position or fix arrived
    ScanAbandoned,  // a scan got no results in time; nothing was recorded
    LinkLost,       // the device or service went away (reason set)
    LinkRestored,   // it is back and working
    Notice,         // something the user should read once (reason set)
    PositionUpdate = GpsUpdate,
};

struct SourceEvent {
    SourceEventKind kind = SourceEventKind::ScanEnded;
    std::string reason;
};

}  // namespace ketrion::source
