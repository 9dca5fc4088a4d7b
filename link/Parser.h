#pragma once

#include <cstdint>

#include "link/FrameFormat.h"

namespace ketrion {

// Cuts the byte stream from the board into frames, one byte at a time.
//
// The parser does no I/O: the link thread (or a replay, a test, a fuzzer) pushes
// bytes and, whenever `state` reads Complete, takes `type`, `data` and `length`
// and calls Reset before pushing the next byte.
//
// Error policy, for every state: a byte that does not fit the format where it
// arrives resets the parser to Idle and is itself dropped, even a lead byte 0x11
// (there is no resynchronisation inside a broken frame). A frame whose body grows
// past kMaxBody bytes is discarded the same way. The check byte is not tested
// here; the engine does that.
//
// Invariant: data[length..kMaxBody) is zero until the next Reset, so text bodies
// are zero-terminated even when the sender left the terminator out, and readers
// of fixed-size fields past a short body read zeros.
class CParser {
public:
    // The numeric values are part of the link thread's contract.
    enum State : std::int16_t {
        Idle = 0,         // waiting for the lead byte
        Lead = 16,        // lead byte seen, start byte expected
        Type = 32,        // start pair seen, next byte is the type
        TypeEscape = 48,  // type was 0x11, continuation byte expected
        Body = 64,        // collecting body bytes
        BodyEscape = 80,  // 0x11 inside the body: end or continuation byte expected
        Complete = 96,    // a whole frame is in type, data and length
    };

    CParser() = default;
    virtual ~CParser() = default;
    CParser(const CParser&) = delete;
    CParser& operator=(const CParser&) = delete;

    // Back to Idle with an empty, all-zero body. Clears only the bytes stored
    // since the previous Reset, so a stream of noise costs nothing per byte.
    void Reset() noexcept {
        if (length != 0) {
            ClearBody();
        }
        state = Idle;
    }

    // Advances the state machine by one received byte. Inline: it runs once per
    // byte on the link thread.
    void PushByte(std::uint8_t b) noexcept {
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

    std::uint8_t data[frame::kMaxBody] = {};  // unescaped body, check byte last
    std::uint8_t type = 0;                    // the frame's type byte
    std::uint32_t length = 0;                 // body bytes stored in data
    std::int16_t state = Idle;

    // Diagnostics: frames completed, and resets forced by bytes that did not fit
    // (one per stray byte or broken frame).
    std::uint64_t framesCompleted = 0;
    std::uint64_t dropped = 0;

private:
    // Zeroes data[0..length) (only those bytes can be non-zero: body bytes are
    // stored at data[length] and length then grows) and sets length to 0.
    void ClearBody() noexcept;
    void StoreBodyByte(std::uint8_t b) noexcept {
        if (length >= frame::kMaxBody) {
            // The format sets no maximum, but nothing the board sends comes close
            // to this; a body that fills the area is noise or a lost end pair.
            Discard();
            return;
        }
        data[length++] = b;
        state = Body;
    }
    void Discard() noexcept {
        ++dropped;
        Reset();
    }
};

}  // namespace ketrion
