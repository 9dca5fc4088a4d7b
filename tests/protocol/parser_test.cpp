#include "protocol/Parser.h"

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

// Feeds `stream` through the parser's one entry point, collecting every
// complete frame. Also checks the zero-fill invariant at every completion.
std::vector<Frame> Feed(CParser& parser, const Bytes& stream) {
    std::vector<Frame> frames;
    parser.Feed(stream.data(), stream.size(), [&](const FrameView& f) {
        frames.push_back({f.type, Bytes(f.body, f.body + f.length)});
        EXPECT_TRUE(std::all_of(f.body + f.length, f.body + frame::kMaxBody,
                                [](std::uint8_t x) { return x == 0; }))
            << "data not zero past length " << f.length;
    });
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
        {"a doubled lead byte: the second one starts the frame",
         Concat({{0x11, 0x11, 0x12, 0x01, 0x31, 0x30, 0x11, 0x13}, good}),
         {{0x01, {0x31, 0x30}}, goodFrame}},
        {"start pair inside a body ends the broken frame and starts the next",
         Concat({{0x11, 0x12, 0x05, 0xAA, 0x11, 0x12, 0x05, 0xBB, 0x11, 0x13}, good}),
         {{0x05, {0xBB}}, goodFrame}},
        {"lead byte that breaks a body escape leads the next frame",
         {0x11, 0x12, 0x05, 0xAA, 0x11, 0x11, 0x12, 0x06, 0xCC, 0x11, 0x13},
         {{0x06, {0xCC}}}},
        {"lead byte after a type 0x11 leads the next frame",
         {0x11, 0x12, 0x11, 0x11, 0x12, 0x07, 0xDD, 0x11, 0x13},
         {{0x07, {0xDD}}}},
        {"an escaped 0x11 in the body is data, never a lead",
         {0x11, 0x12, 0x05, 0x11, 0x14, 0x12, 0x11, 0x13},
         {{0x05, {0x11, 0x12}}}},
        {"lead then a wrong byte inside the body",
         Concat({{0x11, 0x12, 0x05, 0xAA, 0x11, 0x00}, good}),
         {goodFrame}},
        {"lead followed by something other than start", Concat({{0x11, 0x00}, good}), {goodFrame}},
        {"a frame cut short does not swallow the next one",
         Concat({{0x11, 0x12, 0x19, 0x01, 0x02}, good}),
         {goodFrame}},
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

// Feed counts frames by their check byte and tells the callback which is
// which; broken frames are counted apart and never reach the callback.
TEST(ParserFeed, CountsGoodAndBadFramesAndFlagsThem) {
    const Bytes good = {0x11, 0x12, 0x01, 0x31, 0x30, 0x11, 0x13};  // 0x01^0x31^0x30 = 0
    const Bytes bad = {0x11, 0x12, 0x01, 0x31, 0x31, 0x11, 0x13};   // XOR 0x01
    const Bytes broken = {0x11, 0x12, 0x01, 0x31, 0x11, 0x00};      // bad escape
    const Bytes stream = Concat({good, bad, broken, {0x55}, good});
    CParser parser;
    std::vector<bool> valid;
    parser.Feed(stream.data(), stream.size(),
                [&](const FrameView& f) { valid.push_back(f.valid); });
    EXPECT_EQ(valid, (std::vector<bool>{true, false, true}));
    EXPECT_EQ(parser.goodFrames, 2u);
    EXPECT_EQ(parser.badFrames, 1u);
    EXPECT_EQ(parser.framesCompleted, 3u);
    EXPECT_EQ(parser.dropped, 2u);  // the broken frame and the stray 0x55
    EXPECT_EQ(parser.state, CParser::Idle);
}

// However a stream is cut into Feed calls, the same frames come out: a frame's
// state carries over from one call to the next.
TEST(ParserFeed, EveryCutOfAStreamGivesTheSameFrames) {
    const Bytes stream = Concat({{0x00, 0x11},
                                 {0x11, 0x12, 0x19, 0xAA, 0x11, 0x14, 0xBB, 0x11, 0x13},
                                 {0x11, 0x12, 0x05, 0x01, 0x11, 0x12, 0x02, 0x02, 0x11, 0x13},
                                 {0x11, 0x12, 0x11, 0x14, 0x05, 0x14, 0x11, 0x13}});
    CParser whole;
    const std::vector<Frame> expected = Feed(whole, stream);
    ASSERT_EQ(expected.size(), 3u);
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        CParser parser;
        std::vector<Frame> got = Feed(parser, Bytes(stream.begin(), stream.begin() + cut));
        const std::vector<Frame> rest = Feed(parser, Bytes(stream.begin() + cut, stream.end()));
        got.insert(got.end(), rest.begin(), rest.end());
        EXPECT_EQ(got, expected) << "cut at " << cut;
    }
}

// A caller that stepped the parser to Complete with PushByte and did not reset
// it loses nothing that Feed is given afterwards.
TEST(ParserFeed, StartsAfreshFromAParserLeftComplete) {
    CParser parser;
    for (std::uint8_t b : Bytes{0x11, 0x12, 0x05, 0x05, 0x11, 0x13}) {
        parser.PushByte(b);
    }
    ASSERT_EQ(parser.state, CParser::Complete);
    EXPECT_EQ(Feed(parser, {0x11, 0x12, 0x06, 0x06, 0x11, 0x13}),
              (std::vector<Frame>{{0x06, {0x06}}}));
}

}  // namespace
}  // namespace ketrion
