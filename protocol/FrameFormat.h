#pragma once

#include <cstddef>
#include <cstdint>

// The board's frame format, in both directions, in one place: the parser, the
// engine's encoder and the simulator all use these definitions.
//
//   0x11 0x12 TYPE [0x14 if TYPE == 0x11] BODY... 0x11 0x13
//
// Every body byte 0x11 travels as 0x11 0x14. The last body byte is a check
// byte: the XOR of the type and all body bytes (check included) is zero.
// Outgoing requests always carry 0x00 in the check position.
namespace ketrion::frame {

inline constexpr std::uint8_t kLead = 0x11;      // first byte of the start and end pairs
inline constexpr std::uint8_t kStart = 0x12;     // second byte of the start pair
inline constexpr std::uint8_t kEnd = 0x13;       // second byte of the end pair
inline constexpr std::uint8_t kContinue = 0x14;  // follows a data byte 0x11

// Frame types.
inline constexpr std::uint8_t kVersion = 0x01;
inline constexpr std::uint8_t kSerial = 0x02;
inline constexpr std::uint8_t kConfigure = 0x03;
inline constexpr std::uint8_t kScanStart = 0x16;
inline constexpr std::uint8_t kScanReport = 0x17;
inline constexpr std::uint8_t kScanEnd = 0x18;
inline constexpr std::uint8_t kGpsReport = 0x19;

// The parser holds this many body bytes; longer frames are discarded.
inline constexpr std::size_t kMaxBody = 8192;
// Outgoing frames are built in a buffer of this size (the link's slot).
inline constexpr std::size_t kMaxOutgoing = 128;
// Configuration value the engine sends in answer to every Serial frame.
inline constexpr std::uint8_t kConfigurationValue = 7;

// Appends `byte` to `out` at `pos`, escaping 0x11. Returns the new position.
constexpr std::size_t PutEscaped(std::uint8_t* out, std::size_t pos, std::uint8_t byte) {
    out[pos++] = byte;
    if (byte == kLead) {
        out[pos++] = kContinue;
    }
    return pos;
}

// Worst-case encoded size of a frame carrying `payloadLength` bytes plus a
// check byte: start pair, escaped type, escaped payload and check, end pair.
constexpr std::size_t EncodedSizeBound(std::size_t payloadLength) {
    return 2 + 2 + 2 * (payloadLength + 1) + 2;
}

// Encodes a frame: start pair, type, payload, then `check`, then the end pair.
// Requests pass check 0x00 (the board ignores it); the simulator passes the real
// XOR (see Check). Returns the number of bytes written, or 0 when the frame
// would not fit in `capacity`.
constexpr std::size_t Encode(std::uint8_t type, const std::uint8_t* payload, std::size_t length,
                             std::uint8_t check, std::uint8_t* out, std::size_t capacity) {
    if (EncodedSizeBound(length) > capacity) {
        return 0;
    }
    std::size_t pos = 0;
    out[pos++] = kLead;
    out[pos++] = kStart;
    pos = PutEscaped(out, pos, type);
    for (std::size_t i = 0; i < length; ++i) {
        pos = PutEscaped(out, pos, payload[i]);
    }
    pos = PutEscaped(out, pos, check);
    out[pos++] = kLead;
    out[pos++] = kEnd;
    return pos;
}

// The check byte that makes a frame of this type and payload valid.
constexpr std::uint8_t Check(std::uint8_t type, const std::uint8_t* payload, std::size_t length) {
    std::uint8_t x = type;
    for (std::size_t i = 0; i < length; ++i) {
        x = static_cast<std::uint8_t>(x ^ payload[i]);
    }
    return x;
}

}  // namespace ketrion::frame
