#pragma once

#include <cstdint>
#include <string>

#include "model/SourceEvent.h"

namespace ketrion {

// State of the serial link to the board as the link thread last saw it.
enum class LinkState : std::uint8_t {
    Connected,     // the port is open and the board answers
    Lost,          // the port hung up or failed; it has been closed
    Reconnecting,  // the device is back and being reopened / handshaken
};

// News from the link thread for the user-interface thread: the engine hands
// each one to its onEvent hook on the link thread; the frame posts it on as a
// queued event, so receivers run on the user-interface thread. The same news
// as every scan or position source gives.
using EngineEventKind = source::SourceEventKind;
using EngineEvent = source::SourceEvent;

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
