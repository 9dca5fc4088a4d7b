#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/ScratchFiles.h"
#include "survey/Compression.h"

namespace ketrion {
namespace {

namespace fs = std::filesystem;
using scratch::Bytes;
using scratch::ReadBytes;
using scratch::ScratchDir;
using scratch::WriteBytes;
using Frequencies = CCompression::Frequencies;

// A block header with the given frequencies followed by hand-picked code bytes.
Bytes MakeBlock(const Frequencies& freq, const Bytes& code) {
    Bytes block(CCompression::kHeaderSize);
    for (std::size_t i = 0; i < freq.size(); ++i) {
        for (int b = 0; b < 4; ++b) {
            block[8 + 4 * i + static_cast<std::size_t>(b)] =
                static_cast<std::uint8_t>(freq[i] >> (8 * b));
        }
    }
    block.insert(block.end(), code.begin(), code.end());
    return block;
}

// The decoder as first described: one bit at a time down the tree, the walk
// carried over from byte to byte. The table-driven decoder must match it.
Bytes WalkBitByBit(const Bytes& block) {
    Bytes out;
    if (block.size() < CCompression::kHeaderSize) {
        return out;
    }
    Frequencies freq{};
    for (std::size_t i = 0; i < freq.size(); ++i) {
        freq[i] = static_cast<std::uint32_t>(block[8 + 4 * i]) |
                  static_cast<std::uint32_t>(block[9 + 4 * i]) << 8 |
                  static_cast<std::uint32_t>(block[10 + 4 * i]) << 16 |
                  static_cast<std::uint32_t>(block[11 + 4 * i]) << 24;
    }
    CCompression tree("", "");
    tree.BuildTree(freq);
    int node = tree.Root();
    for (std::size_t i = CCompression::kHeaderSize; i < block.size(); ++i) {
        for (int mask = 1; mask < 256; mask <<= 1) {
            node = (block[i] & mask) ? tree.Node(node).child1 : tree.Node(node).child0;
            if (tree.Node(node).leaf) {
                out.push_back(tree.Node(node).symbol);
                node = tree.Root();
            }
        }
    }
    return out;
}

Frequencies Uniform(std::uint32_t w) {
    Frequencies f{};
    f.fill(w);
    return f;
}

// One symbol far more frequent than the rest: 'A' gets the one-bit code 0.
Frequencies SkewedToA() {
    Frequencies f = Uniform(1);
    f['A'] = 1'000'000;
    return f;
}

// Leaves 0 and 1 start a chain: each merge's wrapped sum stays below the
// other leaves (all UINT32_MAX), so the tree is a 255-deep chain.
Frequencies Chain() {
    Frequencies f = Uniform(UINT32_MAX);
    f[0] = 1000;
    f[1] = 1000;
    return f;
}

Frequencies Fibonacci() {
    Frequencies f{};
    std::uint32_t a = 1;
    std::uint32_t b = 1;
    for (std::size_t i = 0; i < 46; ++i) {
        f[i] = a;
        const std::uint32_t next = a + b;
        a = b;
        b = next;
    }
    return f;  // the rest stay 0
}

int Depth(const CCompression& tree, int leaf) {
    int depth = 0;
    for (int n = leaf; tree.Node(n).parent >= 0; n = tree.Node(n).parent) {
        ++depth;
    }
    return depth;
}

TEST(CompressionTreeTest, ShapesForKnownTables) {
    struct Case {
        const char* legend;
        Frequencies freq;
        int symbol;
        int depth;
    };
    const Case cases[] = {
        {"uniform: every code 8 bits", Uniform(7), 200, 8},
        {"all zero: still 8 bits", Uniform(0), 0, 8},
        {"skewed: frequent byte 1 bit", SkewedToA(), 'A', 1},
        {"chain: deepest leaf 255", Chain(), 0, 255},
        {"chain: next leaf 255", Chain(), 1, 255},
        {"chain: last leaf 1", Chain(), 255, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        CCompression tree("", "");
        tree.BuildTree(c.freq);
        EXPECT_EQ(tree.Root(), 510);
        EXPECT_EQ(Depth(tree, c.symbol), c.depth);
        for (int i = 0; i < 256; ++i) {
            ASSERT_TRUE(tree.Node(i).leaf);
            ASSERT_EQ(tree.Node(i).symbol, i);
        }
        EXPECT_EQ(tree.Node(510).parent, -1);
        EXPECT_LT(tree.Node(510).child0, tree.Node(510).child1);
    }
}

// The tree as first described: 255 scans in index order for the two smallest
// active weights; returns (child 0, child 1) of every inner node.
std::vector<std::pair<int, int>> ScanTree(const Frequencies& freq) {
    std::uint32_t weight[513] = {};
    bool active[513] = {};
    for (int i = 0; i < 256; ++i) {
        weight[i] = freq[static_cast<std::size_t>(i)];
        active[i] = true;
    }
    std::vector<std::pair<int, int>> inner;
    for (int next = 256;; ++next) {
        int s1 = -1;
        int s2 = -1;
        for (int i = 0; i < 512; ++i) {
            if (!active[i]) {
                continue;
            }
            if (s1 < 0) {
                s1 = i;
            } else if (weight[i] < weight[s1]) {
                s2 = s1;
                s1 = i;
            } else if (s2 < 0 || weight[i] < weight[s2]) {
                s2 = i;
            }
        }
        if (s2 < 0) {
            return inner;
        }
        inner.emplace_back(std::min(s1, s2), std::max(s1, s2));
        weight[next] = weight[s1] + weight[s2];
        active[s1] = active[s2] = false;
        active[next] = true;
    }
}

TEST(CompressionTreeTest, SameTreeAsIndexOrderScan) {
    std::mt19937 rng(4);
    std::vector<Frequencies> tables = {Uniform(1), Uniform(0), SkewedToA(), Chain(), Fibonacci()};
    for (std::uint32_t range : {2u, 4u, 1000u, 0xFFFFFFFFu}) {
        for (int k = 0; k < 20; ++k) {
            Frequencies f{};
            for (auto& w : f) {
                // Few distinct values make many ties; the full range makes sums wrap.
                w = range == 0xFFFFFFFFu ? static_cast<std::uint32_t>(rng())
                                         : static_cast<std::uint32_t>(rng() % range);
            }
            tables.push_back(f);
        }
    }
    for (std::size_t t = 0; t < tables.size(); ++t) {
        SCOPED_TRACE("table " + std::to_string(t));
        CCompression tree("", "");
        tree.BuildTree(tables[t]);
        const auto expected = ScanTree(tables[t]);
        ASSERT_EQ(expected.size(), 255u);
        for (int i = 0; i < 255; ++i) {
            const CNode& n = tree.Node(256 + i);
            ASSERT_EQ(n.child0, expected[static_cast<std::size_t>(i)].first) << "node " << 256 + i;
            ASSERT_EQ(n.child1, expected[static_cast<std::size_t>(i)].second) << "node " << 256 + i;
            ASSERT_EQ(tree.Node(n.child0).parent, 256 + i);
            ASSERT_EQ(tree.Node(n.child1).parent, 256 + i);
        }
    }
}

TEST(CompressionDecodeTest, HandMadeBlocks) {
    struct Case {
        const char* legend;
        Frequencies freq;
        Bytes code;
        Bytes expected;
    };
    // Uniform weights pair neighbours (equal weights keep the lower index
    // first), so a byte's code is its bits from the most significant down,
    // packed least significant bit first: the bit-reversed byte.
    const Case cases[] = {
        {"uniform: bit-reversed bytes",
         Uniform(1),
         {0x80, 0x01, 0xF0, 0x00, 0xFF, 0x82},
         {0x01, 0x80, 0x0F, 0x00, 0xFF, 0x41}},
        {"skewed: spare zero bits add bytes", SkewedToA(), {0x00, 0x00}, Bytes(16, 'A')},
        {"chain: code cut off emits nothing", Chain(), {0xFF}, {}},
        {"chain: bit 0 at the root is leaf 255", Chain(), {0x00}, Bytes(8, 0xFF)},
        {"chain: 1 then 0 is leaf 254", Chain(), {0x01}, {254, 255, 255, 255, 255, 255, 255}},
        {"chain: walk carries over bytes", Chain(), {0xFF, 0xFF, 0xFF, 0x7F}, {224}},
        {"skewed: one A then a cut-off code", SkewedToA(), {0xFE}, {'A'}},
        {"no code bytes", Uniform(1), {}, {}},
    };
    ScratchDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        const Bytes block = MakeBlock(c.freq, c.code);
        Bytes out;
        CCompression::DecodeBlock(block, out);
        EXPECT_EQ(out, c.expected);

        WriteBytes(dir / "in", block);
        CCompression file(dir / "in", dir / "out");
        EXPECT_EQ(file.Decode(), static_cast<int>(c.expected.size()));
        EXPECT_EQ(ReadBytes(dir / "out"), c.expected);
    }
}

TEST(CompressionDecodeTest, MatchesBitByBitWalkOnRandomBits) {
    std::mt19937 rng(12345);
    const Frequencies tables[] = {Uniform(1), SkewedToA(), Chain(), Fibonacci(), Uniform(0)};
    for (const Frequencies& freq : tables) {
        // Long enough to cross the decoder's internal read pieces.
        Bytes code(200'000);
        for (auto& b : code) {
            b = static_cast<std::uint8_t>(rng());
        }
        const Bytes block = MakeBlock(freq, code);
        Bytes out;
        CCompression::DecodeBlock(block, out);
        ASSERT_EQ(out, WalkBitByBit(block));
    }
}

TEST(CompressionRoundTripTest, EncoderAndDecoderAgree) {
    std::mt19937 rng(99);
    Bytes everyByte(256 * 3);
    for (std::size_t i = 0; i < everyByte.size(); ++i) {
        everyByte[i] = static_cast<std::uint8_t>(i * 7);
    }
    Bytes bitmapLike(300'000, 0xFF);  // mostly white, some dark lines
    for (std::size_t i = 0; i < bitmapLike.size(); i += 97) {
        bitmapLike[i] = static_cast<std::uint8_t>(rng() % 64);
    }
    Bytes random(70'000);
    for (auto& b : random) {
        b = static_cast<std::uint8_t>(rng());
    }
    Bytes deep = {0, 1, 0, 0, 1, 2, 255, 1, 0};

    struct Case {
        const char* legend;
        Bytes data;
        bool ownFrequencies;
        Frequencies freq;
    };
    const Case cases[] = {
        {"empty data", {}, true, {}},
        {"one byte", {42}, true, {}},
        {"every byte value, counted", everyByte, true, {}},
        {"bitmap-like, counted", bitmapLike, true, {}},
        {"random, counted", random, true, {}},
        {"random, uniform table", random, false, Uniform(3)},
        {"random, all-zero table", random, false, Uniform(0)},
        {"random, skewed table", random, false, SkewedToA()},
        {"every byte value, Fibonacci table", everyByte, false, Fibonacci()},
        {"255-bit codes, chain table", deep, false, Chain()},
        {"random, chain table", Bytes(random.begin(), random.begin() + 3000), false, Chain()},
    };
    ScratchDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        const Bytes block = c.ownFrequencies ? CCompression::EncodeBlock(c.data)
                                             : CCompression::EncodeBlock(c.data, c.freq);
        ASSERT_GE(block.size(), CCompression::kHeaderSize);
        const auto word = [&](std::size_t at) {
            return static_cast<std::uint32_t>(block[at]) | block[at + 1] << 8 |
                   block[at + 2] << 16 | static_cast<std::uint32_t>(block[at + 3]) << 24;
        };
        EXPECT_EQ(word(0), block.size());
        EXPECT_EQ(word(4), c.data.size());

        // The padding of the last byte never completes a code.
        Bytes out;
        CCompression::DecodeBlock(block, out);
        EXPECT_EQ(out, c.data);

        WriteBytes(dir / "block", block);
        CCompression file(dir / "block", dir / "plain");
        EXPECT_EQ(file.Decode(), static_cast<int>(c.data.size()));
        EXPECT_EQ(ReadBytes(dir / "plain"), c.data);
    }
}

// A bounded expansion stops at its limit with the start of the data, and a
// limit the data fits in changes nothing.
TEST(CompressionDecodeTest, BoundedExpansionStopsAtTheLimit) {
    Bytes data(200'000);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i % 251);
    }
    const Bytes block = CCompression::EncodeBlock(data);
    Bytes whole;
    CCompression::DecodeBlock(block, whole);
    ASSERT_GE(whole.size(), data.size());  // spare bits may add a byte or so
    for (const std::size_t limit : {std::size_t{0}, std::size_t{1}, std::size_t{64},
                                    std::size_t{150'000}, whole.size() - 1}) {
        SCOPED_TRACE(limit);
        Bytes out;
        EXPECT_FALSE(CCompression::DecodeBlock(block, out, limit));
        ASSERT_EQ(out.size(), limit);
        EXPECT_TRUE(std::equal(out.begin(), out.end(), whole.begin()));
    }
    Bytes out;
    EXPECT_TRUE(CCompression::DecodeBlock(block, out, whole.size()));
    EXPECT_EQ(out, whole);
    EXPECT_TRUE(CCompression::DecodeBlock(Bytes(10, 0), out, 0));  // shorter than its header
    EXPECT_TRUE(out.empty());
}

TEST(CompressionDecodeTest, EveryExpansionStartsAtTheRoot) {
    ScratchDir dir;
    // The first block ends inside a code; the second must not continue it.
    WriteBytes(dir / "cut", MakeBlock(Chain(), {0xFF}));
    WriteBytes(dir / "whole", MakeBlock(Uniform(1), {0x80, 0x01}));
    CCompression first(dir / "cut", dir / "out1");
    EXPECT_EQ(first.Decode(), 0);
    CCompression second(dir / "whole", dir / "out2");
    EXPECT_EQ(second.Decode(), 2);
    EXPECT_EQ(ReadBytes(dir / "out2"), (Bytes{0x01, 0x80}));

    // The same instance run twice gives the same output both times.
    WriteBytes(dir / "odd", MakeBlock(Uniform(1), {0x80, 0x01, 0x07}));
    CCompression twice(dir / "odd", dir / "out3");
    EXPECT_EQ(twice.Decode(), 3);
    EXPECT_EQ(twice.Decode(), 3);
    EXPECT_EQ(ReadBytes(dir / "out3"), (Bytes{0x01, 0x80, 0xE0}));
}

TEST(CompressionDecodeTest, FilesThatCannotBeUsed) {
    ScratchDir dir;
    // Missing input: nothing decoded and no output file.
    CCompression missing(dir / "nothing-here", dir / "out");
    EXPECT_EQ(missing.Decode(), 0);
    EXPECT_FALSE(fs::exists(dir / "out"));

    // Input that is not a regular file: a folder, or a pipe nobody writes to
    // (which must not stall the decoder).
    fs::create_directory(dir / "folder");
    CCompression folder(dir / "folder", dir / "out");
    EXPECT_EQ(folder.Decode(), 0);
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    CCompression pipe(dir / "pipe", dir / "out");
    EXPECT_EQ(pipe.Decode(), 0);
    EXPECT_FALSE(fs::exists(dir / "out"));

    // Output in a folder that does not exist.
    WriteBytes(dir / "in", MakeBlock(Uniform(1), {0x80}));
    CCompression unwritable(dir / "in", dir / "no-such-folder/out");
    EXPECT_EQ(unwritable.Decode(), 0);

    // A block cut inside its frequency table expands to an empty file.
    Bytes truncated = MakeBlock(Uniform(1), {});
    truncated.resize(500);
    WriteBytes(dir / "short", truncated);
    CCompression shortBlock(dir / "short", dir / "out");
    EXPECT_EQ(shortBlock.Decode(), 0);
    EXPECT_TRUE(fs::exists(dir / "out"));
    EXPECT_EQ(fs::file_size(dir / "out"), 0u);
}

}  // namespace
}  // namespace ketrion
