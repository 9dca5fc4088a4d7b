#include "link/Parser.h"

#include <cstring>

namespace ketrion {

void CParser::Reset() noexcept {
    // Only data[0..length) can be non-zero: body bytes are stored at data[length]
    // and length then grows, so this restores the all-zero invariant.
    std::memset(data, 0, length);
    length = 0;
    state = Idle;
}

void CParser::Discard() noexcept {
    ++dropped;
    Reset();
}

void CParser::StoreBodyByte(std::uint8_t b) noexcept {
    if (length >= frame::kMaxBody) {
        // The format sets no maximum, but nothing the board sends comes close
        // to this; a body that fills the area is noise or a lost end pair.
        Discard();
        return;
    }
    data[length++] = b;
    state = Body;
}

void CParser::PushByte(std::uint8_t b) noexcept {
    switch (state) {
        case Idle:
            if (b == frame::kLead) {
                state = Lead;
            } else {
                Discard();
            }
            break;
        case Lead:
            if (b == frame::kStart) {
                state = Type;
            } else {
                Discard();
            }
            break;
        case Type:
            type = b;
            state = b == frame::kLead ? TypeEscape : Body;
            break;
        case TypeEscape:
            if (b == frame::kContinue) {
                state = Body;
            } else {
                Discard();
            }
            break;
        case Body:
            if (b == frame::kLead) {
                state = BodyEscape;
            } else {
                StoreBodyByte(b);
            }
            break;
        case BodyEscape:
            if (b == frame::kEnd) {
                state = Complete;
                ++framesCompleted;
            } else if (b == frame::kContinue) {
                StoreBodyByte(frame::kLead);
            } else {
                Discard();
            }
            break;
        case Complete:
            // The caller must Reset before pushing more; until then bytes change nothing.
            break;
        default:
            // Only reachable if someone wrote a foreign value into `state`.
            Discard();
            break;
    }
}

}  // namespace ketrion
