#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/FrameFormat.h"

namespace ketrion {

// A complete frame as the parser hands it to a Feed callback. `body` points
// into the parser and is valid only during the call; it holds `length`
// unescaped bytes, check byte last, and zeros after them.
struct FrameView {
    std::uint8_t type = 0;
    const std::uint8_t* body = nullptr;
    std::uint32_t length = 0;
    bool valid = false;  // the check byte is right (XOR of type and body is zero)
};

// Cuts the byte stream from the board into frames.
//
// The parser does no I/O. Every reader of the line (the link thread, a replay,
// the simulator, tests, fuzzers, benchmarks) pushes bytes through Feed, which
// hands each complete frame to its callback, checked, and resets the parser
// after it. PushByte is the one-byte step underneath.
//
// Error policy: a byte that does not fit the format where it arrives ends the
// frame being received, and is then looked at again as the possible start of
// the next one, so a frame that follows a broken one is not lost: a lead byte
// 0x11 that breaks a frame is taken as the lead of the next, and a start pair
// 0x11 0x12 inside a body starts a new frame at once. Any other breaking byte
// is dropped. A frame whose body grows past kMaxBody bytes is discarded the
// same way.
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
                    Break(b);
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
                    Break(b);
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
                } else if (b == frame::kStart) {
                    // A start pair inside a body: the broken frame ends and a
                    // new one begins with this pair.
                    Discard();
                    state = Type;
                } else {
                    Break(b);
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

    // Pushes `size` bytes; after each complete frame calls onFrame(FrameView)
    // and resets, counting the frame as good or bad by its check byte. A parser
    // left Complete by an earlier PushByte is reset first. Inline: it runs for
    // every byte on the link thread and allocates nothing.
    template <class OnFrame>
    void Feed(const std::uint8_t* bytes, std::size_t size, OnFrame&& onFrame) {
        if (state == Complete) {
            Reset();
        }
        for (std::size_t i = 0; i < size; ++i) {
            PushByte(bytes[i]);
            if (state == Complete) {
                FrameView view{type, data, length, frame::Check(type, data, length) == 0};
                ++(view.valid ? goodFrames : badFrames);
                onFrame(static_cast<const FrameView&>(view));
                Reset();
            }
        }
    }

    std::uint8_t data[frame::kMaxBody] = {};  // unescaped body, check byte last
    std::uint8_t type = 0;                    // the frame's type byte
    std::uint32_t length = 0;                 // body bytes stored in data
    std::int16_t state = Idle;

    // Diagnostics: frames completed, and resets forced by bytes that did not fit
    // (one per stray byte or broken frame); of the frames delivered by Feed,
    // those whose check byte was right and those whose was wrong.
    std::uint64_t framesCompleted = 0;
    std::uint64_t dropped = 0;
    std::uint64_t goodFrames = 0;
    std::uint64_t badFrames = 0;

private:
    // Zeroes data[0..length) (only those bytes can be non-zero: body bytes are
    // stored at data[length] and length then grows) and sets length to 0.
    void ClearBody() noexcept;
    void StoreBodyByte(std::uint8_t b) noexcept {
        if (length >= frame::kMaxBody) {
            // The format sets no maximum, but nothing the board sends comes close
            // to this; a body that fills the area is noise or a lost end pair.
            // The byte is body data (never a raw lead), so it is dropped.
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
    // Ends a broken frame at byte `b`, then looks at `b` again from Idle: a
    // lead byte may start the next frame.
    void Break(std::uint8_t b) noexcept {
        Discard();
        if (b == frame::kLead) {
            state = Lead;
        }
    }
};

}  // namespace ketrion
