#include "survey/Compression.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <utility>

namespace ketrion {

namespace {

constexpr int kFirstInner = CCompression::kSymbols;
// With 256 leaves there are always 255 inner nodes (256..510): the only
// places where a walk can rest between input bytes.
constexpr int kInnerNodes = CCompression::kSymbols - 1;
// Input is read and expanded in pieces of this size; one input byte emits at
// most 8 output bytes, so the output buffer never needs more than 8 times it.
constexpr std::size_t kReadChunk = 64 * 1024;
constexpr std::size_t kMaxOutPerByte = 8;

std::uint32_t ReadLE32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void WriteLE32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

CCompression::Frequencies ParseFrequencies(const std::uint8_t* header) {
    CCompression::Frequencies f{};
    for (int i = 0; i < CCompression::kSymbols; ++i) {
        f[static_cast<std::size_t>(i)] = ReadLE32(header + 8 + 4 * i);
    }
    return f;
}

// What one input byte does to a walk resting at one inner node: the symbols it
// completes (up to 8, one per bit at most) and the inner node where it leaves
// the walk. An entry is filled by walking its byte bit by bit from its node, so
// decoding with the table gives exactly the output of the bit-by-bit walk.
//
// The walk's serial dependency is the next-node lookup, so that part lives in a
// compact array of its own (2 bytes per entry, hot rows stay in the first-level
// cache); symbols and counts are loaded beside it, off the critical path.
// Entries are filled the first time they are used: a small block touches only
// a few, a plan image a few thousand of the 65,280.
class StepTable {
public:
    explicit StepTable(const CCompression& tree)
        : m_tree(tree),
          m_next(new std::uint16_t[kEntries]),
          m_count(new std::uint8_t[kEntries]),
          m_symbols(new std::uint64_t[kEntries]),
          m_rootState(static_cast<std::uint8_t>(tree.Root() - kFirstInner)) {
        std::memset(m_count.get(), kUnfilled, kEntries);
    }

    std::uint8_t RootState() const { return m_rootState; }

    // Expands n input bytes from the walk state into out (room for 8 * n bytes);
    // returns the number of bytes written and leaves the state for the next call.
    std::size_t Expand(const std::uint8_t* in, std::size_t n, std::uint8_t& state,
                       std::uint8_t* out) {
        std::uint8_t* o = out;
        std::size_t row = std::size_t{state} * 256;  // first entry of the node's row
        const std::uint16_t* next = m_next.get();
        const std::uint8_t* count = m_count.get();
        const std::uint64_t* symbols = m_symbols.get();
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t e = row + in[i];
            if (count[e] == kUnfilled) [[unlikely]] {
                Fill(e);
            }
            std::memcpy(o, &symbols[e], 8);
            o += count[e];
            row = next[e];
        }
        state = static_cast<std::uint8_t>(row / 256);
        return static_cast<std::size_t>(o - out);
    }

private:
    static constexpr std::size_t kEntries = static_cast<std::size_t>(kInnerNodes) * 256;
    // A count no entry can have (at most 8 symbols per byte).
    static constexpr std::uint8_t kUnfilled = 0xFF;

    void Fill(std::size_t e) {
        const int root = m_tree.Root();
        const unsigned byte = static_cast<unsigned>(e % 256);
        std::uint8_t emitted[8] = {};
        std::uint8_t c = 0;
        int node = kFirstInner + static_cast<int>(e / 256);
        for (int bit = 0; bit < 8; ++bit) {
            const CNode& n = m_tree.Node(node);
            node = ((byte >> bit) & 1) ? n.child1 : n.child0;
            if (m_tree.Node(node).leaf) {
                emitted[c++] = m_tree.Node(node).symbol;
                node = root;
            }
        }
        std::memcpy(&m_symbols[e], emitted, 8);
        m_next[e] = static_cast<std::uint16_t>((node - kFirstInner) * 256);
        m_count[e] = c;
    }

    const CCompression& m_tree;
    // Entries are filled before use, so next and symbols start uninitialised.
    std::unique_ptr<std::uint16_t[]> m_next;  // index of the next node's row
    std::unique_ptr<std::uint8_t[]> m_count;
    std::unique_ptr<std::uint64_t[]> m_symbols;
    std::uint8_t m_rootState;
};

// Reads up to size bytes, retrying short reads; returns the count read, which
// is below size only at the end of the file or on an error.
std::size_t ReadFull(int fd, std::uint8_t* buf, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t r = ::read(fd, buf + got, size - got);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            break;
        }
        got += static_cast<std::size_t>(r);
    }
    return got;
}

bool WriteFull(int fd, const std::uint8_t* buf, std::size_t size) {
    while (size > 0) {
        const ssize_t w = ::write(fd, buf, size);
        if (w < 0 && errno == EINTR) {
            continue;
        }
        if (w <= 0) {
            return false;
        }
        buf += w;
        size -= static_cast<std::size_t>(w);
    }
    return true;
}

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// The code of each byte value as bits from the root down, least significant
// bit of word 0 first; codes can be up to 255 bits long.
struct Code {
    std::array<std::uint64_t, 4> bits{};
    int length = 0;
};

class BitWriter {
public:
    explicit BitWriter(std::vector<std::uint8_t>& out) : m_out(out) {}

    void Put(std::uint64_t bits, int count) {  // count <= 32
        m_acc |= (bits & ((std::uint64_t{1} << count) - 1)) << m_used;
        m_used += count;
        while (m_used >= 8) {
            m_out.push_back(static_cast<std::uint8_t>(m_acc));
            m_acc >>= 8;
            m_used -= 8;
        }
    }

    void PutCode(const Code& c) {
        for (int done = 0; done < c.length; done += 32) {
            const int n = std::min(32, c.length - done);
            Put(c.bits[static_cast<std::size_t>(done / 64)] >> (done % 64), n);
        }
    }

    int Spare() const { return m_used == 0 ? 0 : 8 - m_used; }

private:
    std::vector<std::uint8_t>& m_out;
    std::uint64_t m_acc = 0;
    int m_used = 0;
};

}  // namespace

CCompression::CCompression(std::string inputPath, std::string outputPath)
    : m_inputPath(std::move(inputPath)), m_outputPath(std::move(outputPath)) {}

void CCompression::BuildTree(const Frequencies& frequencies) {
    for (int i = 0; i < kNodes; ++i) {
        const auto u = static_cast<std::size_t>(i);
        m_nodes[u] = CNode{};
        m_weights[u] = 0;
        m_active[u] = 0;
        if (i < kSymbols) {
            m_nodes[u].leaf = 1;
            m_nodes[u].symbol = static_cast<std::uint8_t>(i);
            m_nodes[u].weight = static_cast<std::int32_t>(frequencies[u]);
            m_weights[u] = frequencies[u];
            m_active[u] = 1;
        }
    }

    // Each merge takes the two active nodes that come first in (weight, index)
    // order, weights compared unsigned; that is what a scan in index order that
    // only replaces on a strictly smaller weight finds. A binary min-heap on the
    // same order gives the same tree in O(n log n) instead of 255 scans of 512
    // entries. A new node's index is above every other, so on equal weights
    // it sorts after them, as in the scan.
    std::array<std::uint64_t, kSymbols> heap{};
    const auto key = [](std::uint32_t weight, int index) {
        return std::uint64_t{weight} << 16 | static_cast<std::uint64_t>(index);
    };
    for (int i = 0; i < kSymbols; ++i) {
        heap[static_cast<std::size_t>(i)] = key(frequencies[static_cast<std::size_t>(i)], i);
    }
    const auto later = std::greater<std::uint64_t>{};
    std::make_heap(heap.begin(), heap.end(), later);
    std::size_t size = heap.size();

    int next = kFirstInner;
    while (size >= 2) {
        std::pop_heap(heap.begin(), heap.begin() + static_cast<std::ptrdiff_t>(size--), later);
        std::pop_heap(heap.begin(), heap.begin() + static_cast<std::ptrdiff_t>(size--), later);
        const int s1 = static_cast<int>(heap[size + 1] & 0xFFFF);
        const int s2 = static_cast<int>(heap[size] & 0xFFFF);
        const auto n = static_cast<std::size_t>(next);
        // The sum wraps as a uint32, as it does in files made elsewhere; the
        // tree stays a proper tree whatever the weights.
        const std::uint32_t sum =
            m_weights[static_cast<std::size_t>(s1)] + m_weights[static_cast<std::size_t>(s2)];
        m_nodes[n].child0 = static_cast<std::int16_t>(std::min(s1, s2));
        m_nodes[n].child1 = static_cast<std::int16_t>(std::max(s1, s2));
        m_nodes[n].weight = static_cast<std::int32_t>(sum);
        m_weights[n] = sum;
        m_nodes[static_cast<std::size_t>(s1)].parent = static_cast<std::int16_t>(next);
        m_nodes[static_cast<std::size_t>(s2)].parent = static_cast<std::int16_t>(next);
        m_active[static_cast<std::size_t>(s1)] = 0;
        m_active[static_cast<std::size_t>(s2)] = 0;
        m_active[n] = 1;
        heap[size++] = key(sum, next);
        std::push_heap(heap.begin(), heap.begin() + static_cast<std::ptrdiff_t>(size), later);
        ++next;
    }
    m_root = static_cast<std::int16_t>(next - 1);
}

int CCompression::Decode() {
    // Non-blocking opens and a regular input file: a pipe or device put in
    // place of either file can neither stall nor feed the decoder forever. A
    // link at the output path is not followed.
    const Fd in(::open(m_inputPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (in.get() < 0 || ::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return 0;
    }
    const Fd out(::open(m_outputPath.c_str(),
                        O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (out.get() < 0) {
        return 0;
    }

    // A header cut short reads as zero frequencies; nothing follows it then.
    std::array<std::uint8_t, kHeaderSize> header{};
    ReadFull(in.get(), header.data(), header.size());
    BuildTree(ParseFrequencies(header.data()));
    StepTable table(*this);

    const std::unique_ptr<std::uint8_t[]> inBuf(new std::uint8_t[kReadChunk]);
    const std::unique_ptr<std::uint8_t[]> outBuf(new std::uint8_t[kReadChunk * kMaxOutPerByte]);
    std::uint8_t state = table.RootState();
    std::uint64_t total = 0;
    for (;;) {
        const std::size_t got = ReadFull(in.get(), inBuf.get(), kReadChunk);
        if (got == 0) {
            break;
        }
        const std::size_t made = table.Expand(inBuf.get(), got, state, outBuf.get());
        if (!WriteFull(out.get(), outBuf.get(), made)) {
            break;
        }
        total += made;
        if (got < kReadChunk) {
            break;
        }
    }
    return static_cast<int>(std::min<std::uint64_t>(
        total, static_cast<std::uint64_t>(std::numeric_limits<int>::max())));
}

void CCompression::DecodeBlock(std::span<const std::uint8_t> block,
                               std::vector<std::uint8_t>& out) {
    DecodeBlock(block, out, std::numeric_limits<std::size_t>::max());
}

bool CCompression::DecodeBlock(std::span<const std::uint8_t> block, std::vector<std::uint8_t>& out,
                               std::size_t limit) {
    out.clear();
    if (block.size() < kHeaderSize) {
        return true;
    }
    const auto tree = std::make_unique<CCompression>(std::string{}, std::string{});
    tree->BuildTree(ParseFrequencies(block.data()));
    StepTable table(*tree);
    std::uint8_t state = table.RootState();
    std::span<const std::uint8_t> code = block.subspan(kHeaderSize);
    const std::size_t piece = std::min(code.size(), kReadChunk);
    const std::unique_ptr<std::uint8_t[]> buf(new std::uint8_t[piece * kMaxOutPerByte]);
    while (!code.empty()) {
        const std::size_t n = std::min(code.size(), piece);
        const std::size_t made = table.Expand(code.data(), n, state, buf.get());
        if (made > limit - out.size()) {
            // Stop at the limit: what is kept is the start of the expansion.
            out.insert(out.end(), buf.get(), buf.get() + (limit - out.size()));
            return false;
        }
        out.insert(out.end(), buf.get(), buf.get() + made);
        code = code.subspan(n);
    }
    return true;
}

CCompression::Frequencies CCompression::CountFrequencies(std::span<const std::uint8_t> data) {
    std::array<std::uint64_t, kSymbols> counts{};
    for (const std::uint8_t b : data) {
        ++counts[b];
    }
    Frequencies f{};
    for (std::size_t i = 0; i < f.size(); ++i) {
        f[i] = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(counts[i], std::numeric_limits<std::uint32_t>::max()));
    }
    return f;
}

std::vector<std::uint8_t> CCompression::EncodeBlock(std::span<const std::uint8_t> data) {
    return EncodeBlock(data, CountFrequencies(data));
}

std::vector<std::uint8_t> CCompression::EncodeBlock(std::span<const std::uint8_t> data,
                                                    const Frequencies& frequencies) {
    auto tree = std::make_unique<CCompression>(std::string{}, std::string{});
    tree->BuildTree(frequencies);

    // Codes from each leaf up to the root, then reversed into root-first order.
    std::array<Code, kSymbols> codes{};
    for (int leaf = 0; leaf < kSymbols; ++leaf) {
        std::uint8_t path[kSymbols];
        int depth = 0;
        for (int node = leaf; tree->Node(node).parent >= 0; node = tree->Node(node).parent) {
            path[depth++] = tree->Node(tree->Node(node).parent).child1 == node ? 1 : 0;
        }
        Code& c = codes[static_cast<std::size_t>(leaf)];
        c.length = depth;
        for (int i = 0; i < depth; ++i) {
            if (path[depth - 1 - i]) {
                c.bits[static_cast<std::size_t>(i / 64)] |= std::uint64_t{1} << (i % 64);
            }
        }
    }

    std::vector<std::uint8_t> block(kHeaderSize);
    block.reserve(kHeaderSize + data.size() / 2);
    const auto length32 = [](std::uint64_t v) {
        return static_cast<std::uint32_t>(
            std::min<std::uint64_t>(v, std::numeric_limits<std::uint32_t>::max()));
    };
    WriteLE32(block.data() + 4, length32(data.size()));
    for (int i = 0; i < kSymbols; ++i) {
        WriteLE32(block.data() + 8 + 4 * i, frequencies[static_cast<std::size_t>(i)]);
    }

    BitWriter writer(block);
    for (const std::uint8_t b : data) {
        writer.PutCode(codes[b]);
    }
    // Pad the last byte with bits that lead toward the deepest leaf: every tree
    // of 256 leaves is at least 8 deep, so fewer than 8 such bits never reach a
    // leaf and the decoder emits nothing extra.
    int spare = writer.Spare();
    int node = tree->Root();
    std::array<int, kNodes> height{};
    for (int i = kFirstInner; i <= tree->Root(); ++i) {
        const CNode& n = tree->Node(i);
        height[static_cast<std::size_t>(i)] =
            1 + std::max(height[static_cast<std::size_t>(n.child0)],
                         height[static_cast<std::size_t>(n.child1)]);
    }
    while (spare-- > 0) {
        const CNode& n = tree->Node(node);
        const bool one =
            height[static_cast<std::size_t>(n.child1)] > height[static_cast<std::size_t>(n.child0)];
        writer.Put(one ? 1 : 0, 1);
        node = one ? n.child1 : n.child0;
    }

    WriteLE32(block.data(), length32(block.size()));
    return block;
}

}  // namespace ketrion
