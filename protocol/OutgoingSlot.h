#pragma once

#include <cstdint>

namespace ketrion {

// The link's outgoing slot as the engine sees it: the request waiting to be
// written, and beside it at most one keep-alive. Implemented by CCom.
class OutgoingSlot {
public:
    virtual ~OutgoingSlot() = default;
    // Copies `length` (at most 128) bytes into the slot, replacing any request
    // not yet written, and wakes the link thread. Returns true.
    virtual bool QueueWrite(const std::uint8_t* bytes, std::uint32_t length) = 0;
    // Queues the keep-alive bytes beside the request: they never replace a
    // pending request, and a keep-alive already waiting is not doubled. Slots
    // without the distinction treat it as a request.
    virtual bool QueueKeepAlive(const std::uint8_t* bytes, std::uint32_t length) {
        return QueueWrite(bytes, length);
    }
};

}  // namespace ketrion
