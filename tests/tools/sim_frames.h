#pragma once

// Helpers for the simulator tests: cut a byte stream into frames with the
// program's own parser.

#include <cstdint>
#include <vector>

#include "protocol/FrameFormat.h"
#include "protocol/Parser.h"

namespace ketrion::sim::testing {

struct Frame {
    std::uint8_t type = 0;
    std::vector<std::uint8_t> body;  // check byte included
    bool checkOk = false;
};

inline std::vector<Frame> Frames(const std::vector<std::uint8_t>& bytes) {
    std::vector<Frame> out;
    CParser parser;
    parser.Feed(bytes.data(), bytes.size(), [&](const FrameView& v) {
        Frame f;
        f.type = v.type;
        f.body.assign(v.body, v.body + v.length);
        f.checkOk = v.length > 0 && v.valid;
        out.push_back(std::move(f));
    });
    return out;
}

// A request frame as the program sends it (check position 0x00).
inline std::vector<std::uint8_t> Request(std::uint8_t type,
                                         std::vector<std::uint8_t> payload = {}) {
    std::vector<std::uint8_t> out(frame::EncodedSizeBound(payload.size()));
    out.resize(frame::Encode(type, payload.data(), payload.size(), 0x00, out.data(), out.size()));
    return out;
}

}  // namespace ketrion::sim::testing
