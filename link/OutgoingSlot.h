#pragma once

#include <cstdint>

namespace ketrion {

// The link's single outgoing slot as the engine sees it: one pending request
// that the link thread writes on its next idle pass. Implemented by CCom.
class OutgoingSlot {
public:
    virtual ~OutgoingSlot() = default;
    // Copies `length` (at most 128) bytes into the slot, replacing any request
    // not yet written, and wakes the link thread. Returns true.
    virtual bool QueueWrite(const std::uint8_t* bytes, std::uint32_t length) = 0;
};

}  // namespace ketrion
