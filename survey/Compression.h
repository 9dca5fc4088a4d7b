#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace ketrion {

// One node of the static Huffman code tree. A new node has no children and no
// parent (-1) and zero in the other fields.
class CNode {
public:
    CNode() = default;
    virtual ~CNode() = default;

    std::int16_t child0 = -1;
    std::int16_t child1 = -1;
    std::int16_t parent = -1;
    std::uint8_t leaf = 0;
    std::uint8_t symbol = 0;
    std::int32_t weight = 0;
};

// Expands a plan image block compressed with a static Huffman code over bytes.
//
// Block layout (little-endian): uint32 block length (counting itself), uint32
// uncompressed length (not used by the decoder), 256 uint32 byte frequencies,
// then the code bits, least significant bit of each byte first, running to the
// end of the block. A code cut off at the end emits nothing; spare bits that
// complete a code emit its byte.
//
// Each instance serves one expansion.
class CCompression {
public:
    static constexpr int kSymbols = 256;
    static constexpr int kNodes = 513;
    // Offset of the code bits: two header words and the frequency table.
    static constexpr std::size_t kHeaderSize = 8 + 4 * kSymbols;

    using Frequencies = std::array<std::uint32_t, kSymbols>;

    CCompression(std::string inputPath, std::string outputPath);
    virtual ~CCompression() = default;

    // Expands the input file into the output file and returns the number of
    // bytes written (saturated at INT32_MAX). A file that cannot be opened
    // gives 0; an input that is missing or not a regular file also leaves no
    // output file.
    int Decode();

    // Expands a whole block held in memory into out (replacing its contents);
    // a block shorter than its header expands to nothing.
    static void DecodeBlock(std::span<const std::uint8_t> block, std::vector<std::uint8_t>& out);
    // The same, expanding at most `limit` bytes: returns false when the block
    // expands to more (out then holds its first `limit` bytes).
    static bool DecodeBlock(std::span<const std::uint8_t> block, std::vector<std::uint8_t>& out,
                            std::size_t limit);

    // Counts the bytes of data (saturating at UINT32_MAX).
    static Frequencies CountFrequencies(std::span<const std::uint8_t> data);
    // Builds a block for data with the code of the given frequency table (every
    // byte value has a code whatever its frequency). The second header word
    // holds the data's length (saturated at UINT32_MAX).
    static std::vector<std::uint8_t> EncodeBlock(std::span<const std::uint8_t> data,
                                                 const Frequencies& frequencies);
    // The same with the frequencies of data itself.
    static std::vector<std::uint8_t> EncodeBlock(std::span<const std::uint8_t> data);

    // Builds the code tree from a frequency table; Root() is then valid.
    void BuildTree(const Frequencies& frequencies);
    std::int16_t Root() const { return m_root; }
    const CNode& Node(int index) const { return m_nodes[static_cast<std::size_t>(index)]; }

private:
    std::string m_inputPath;
    std::string m_outputPath;
    std::array<std::uint32_t, kNodes> m_weights{};
    std::array<std::uint8_t, kNodes> m_active{};
    std::array<CNode, kNodes> m_nodes{};
    std::int16_t m_root = -1;
};

}  // namespace ketrion
