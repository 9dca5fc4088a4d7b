#pragma once

// Helpers for the simulator tests: cut a byte stream into frames with the
// program's own parser.

#include <cstdint>
#include <vector>

#include "link/FrameFormat.h"
#include "link/Parser.h"

namespace ketrion::sim::testing {

struct Frame {
    std::uint8_t type = 0;
    std::vector<std::uint8_t> body;  // check byte included
    bool checkOk = false;
};

inline std::vector<Frame> Frames(const std::vector<std::uint8_t>& bytes) {
    std::vector<Frame> out;
    CParser parser;
    for (std::uint8_t b : bytes) {
        parser.PushByte(b);
        if (parser.state == CParser::Complete) {
            Frame f;
            f.type = parser.type;
            f.body.assign(parser.data, parser.data + parser.length);
            f.checkOk = !f.body.empty() && frame::Check(f.type, f.body.data(), f.body.size()) == 0;
            out.push_back(std::move(f));
            parser.Reset();
        }
    }
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
