#include "link/Parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace ketrion {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Frame {
    std::uint8_t type;
    Bytes body;
    bool operator==(const Frame&) const = default;
};

void PrintTo(const Frame& f, std::ostream* os) {
    *os << "{type 0x" << std::hex << int(f.type) << ", " << std::dec << f.body.size()
        << " body bytes}";
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

// Feeds `stream` the way the link thread does: after each completed frame the
// frame is taken and the parser reset. Also checks the zero-fill invariant at
// every completion.
std::vector<Frame> Feed(CParser& parser, const Bytes& stream) {
    std::vector<Frame> frames;
    for (std::uint8_t b : stream) {
        parser.PushByte(b);
        if (parser.state == CParser::Complete) {
            frames.push_back({parser.type, Bytes(parser.data, parser.data + parser.length)});
            EXPECT_TRUE(std::all_of(parser.data + parser.length, parser.data + frame::kMaxBody,
                                    [](std::uint8_t x) { return x == 0; }))
                << "data not zero past length " << parser.length;
            parser.Reset();
        }
    }
    return frames;
}

struct Case {
    const char* legend;
    Bytes stream;
    std::vector<Frame> expected;
};

std::vector<Case> Cases() {
    const Bytes big(frame::kMaxBody, 0x22);
    Bytes tooBig = Concat({{0x11, 0x12, 0x17}, Bytes(frame::kMaxBody + 1, 0x22), {0x11, 0x13}});
    Bytes exactlyFull = Concat({{0x11, 0x12, 0x17}, big, {0x11, 0x13}});
    const Bytes good = {0x11, 0x12, 0x01, 0x31, 0x00, 0x30, 0x11, 0x13};
    const Frame goodFrame{0x01, {0x31, 0x00, 0x30}};
    return {
        {"frame with an escaped body byte",
         {0x11, 0x12, 0x19, 0xAA, 0x11, 0x14, 0xBB, 0x11, 0x13},
         {{0x19, {0xAA, 0x11, 0xBB}}}},
        {"type 0x11 with its continuation byte",
         {0x11, 0x12, 0x11, 0x14, 0x05, 0x14, 0x11, 0x13},
         {{0x11, {0x05, 0x14}}}},
        {"0x12 0x13 0x14 in the body travel as they are",
         {0x11, 0x12, 0x05, 0x12, 0x13, 0x14, 0x11, 0x13},
         {{0x05, {0x12, 0x13, 0x14}}}},
        {"empty body", {0x11, 0x12, 0x05, 0x11, 0x13}, {{0x05, {}}}},
        {"type 0x11 without continuation is not a frame", {0x11, 0x12, 0x11, 0x13}, {}},
        {"type 0x11 with a wrong continuation byte",
         Concat({{0x11, 0x12, 0x11, 0x15}, good}),
         {goodFrame}},
        {"leading noise, then a frame",
         Concat({{0x00, 0x13, 0x12, 0xFF, 0x14}, good}),
         {goodFrame}},
        {"two frames back to back",
         Concat({good, {0x11, 0x12, 0x18, 0x18, 0x11, 0x13}}),
         {goodFrame, {0x18, {0x18}}}},
        {"a doubled lead byte does not start a frame",
         Concat({{0x11, 0x11, 0x12, 0x01, 0x31, 0x30, 0x11, 0x13}, good}),
         {goodFrame}},
        {"start pair inside a body drops both frames until the next lead",
         Concat({{0x11, 0x12, 0x05, 0xAA, 0x11, 0x12, 0x05, 0xBB, 0x11, 0x13}, good}),
         {goodFrame}},
        {"lead then a wrong byte inside the body",
         Concat({{0x11, 0x12, 0x05, 0xAA, 0x11, 0x00}, good}),
         {goodFrame}},
        {"lead followed by something other than start", Concat({{0x11, 0x00}, good}), {goodFrame}},
        {"truncated frame swallows the next start pair",
         Concat({{0x11, 0x12, 0x19, 0x01, 0x02}, good}),
         {}},
        {"body of exactly the maximum size", exactlyFull, {{0x17, big}}},
        {"body one byte over the maximum is discarded", Concat({tooBig, good}), {goodFrame}},
    };
}

class ParserTable : public ::testing::TestWithParam<Case> {};

TEST_P(ParserTable, YieldsExpectedFrames) {
    const Case& c = GetParam();
    CParser parser;
    parser.Reset();
    EXPECT_EQ(Feed(parser, c.stream), c.expected) << c.legend;
}

INSTANTIATE_TEST_SUITE_P(Streams, ParserTable, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

// Every table stream ends with the parser back in Idle, ready for the next
// frame: nothing of a broken or completed frame lingers in the state.
TEST(Parser, EndsIdleAfterEveryCase) {
    for (const Case& c : Cases()) {
        CParser parser;
        Feed(parser, c.stream);
        EXPECT_EQ(parser.state, CParser::Idle) << c.legend;
        EXPECT_EQ(parser.length, 0u) << c.legend;
    }
}

TEST(Parser, IgnoresBytesWhileCompleteAndResetClearsBody) {
    CParser parser;
    for (std::uint8_t b : Bytes{0x11, 0x12, 0x01, 'A', 'B', 'C', 0x11, 0x13}) {
        parser.PushByte(b);
    }
    ASSERT_EQ(parser.state, CParser::Complete);
    for (std::uint8_t b : Bytes{0x11, 0x12, 0x02, 0x55}) {
        parser.PushByte(b);
    }
    EXPECT_EQ(parser.state, CParser::Complete);
    EXPECT_EQ(parser.type, 0x01);
    EXPECT_EQ(parser.length, 3u);

    parser.Reset();
    EXPECT_EQ(parser.state, CParser::Idle);
    EXPECT_EQ(parser.length, 0u);
    // A shorter following frame carries none of the earlier characters.
    const auto frames = Feed(parser, {0x11, 0x12, 0x01, 'Z', 0x11, 0x13});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(parser.data[0], 0);
    EXPECT_EQ(parser.data[1], 0);
}

TEST(Parser, BrokenFrameLeavesBodyZeroForTheNext) {
    CParser parser;
    // A long broken frame, then a short good one: its body must end in zeros.
    const auto frames = Feed(parser, Concat({{0x11, 0x12, 0x01},
                                             Bytes(100, 'x'),
                                             {0x11, 0x00},
                                             {0x11, 0x12, 0x01, 'o', 'k', 0x11, 0x13}}));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].body, (Bytes{'o', 'k'}));
    EXPECT_EQ(parser.framesCompleted, 1u);
    EXPECT_GE(parser.dropped, 1u);
}

}  // namespace
}  // namespace ketrion
