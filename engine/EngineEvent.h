#pragma once

#include <cstdint>
#include <string>

namespace ketrion {

// State of the serial link to the board as the link thread last saw it.
enum class LinkState : std::uint8_t {
    Connected,     // the port is open and the board answers
    Lost,          // the port hung up or failed; it has been closed
    Reconnecting,  // the device is back and being reopened / handshaken
};

// News from the link thread for the user-interface thread. The engine hands
// each one to its onEvent hook on the link thread; the frame posts it on as a
// queued event, so receivers run on the user-interface thread.
enum class EngineEventKind : std::uint8_t {
    ScanEnded,      // a ScanEnd frame finished a scan (the point is recorded)
    GpsUpdate,      // a GpsReport frame was decoded
    ScanAbandoned,  // no ScanEnd came in time after a scan request
    LinkLost,       // the port was closed after a hang-up or an error (reason set)
    LinkRestored,   // the port is open again and the handshake ran
};

struct EngineEvent {
    EngineEventKind kind = EngineEventKind::ScanEnded;
    std::string reason;  // LinkLost: what the port reported, for messages
};

// "connected", "lost" or "reconnecting".
inline const char* LinkStateName(LinkState state) {
    switch (state) {
        case LinkState::Connected:
            return "connected";
        case LinkState::Lost:
            return "lost";
        case LinkState::Reconnecting:
            return "reconnecting";
    }
    return "unknown";
}

}  // namespace ketrion
