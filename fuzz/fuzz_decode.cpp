// Expands arbitrary bytes as a compressed plan block, in memory and through the
// file path, and checks that both give the same bytes.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "survey/Compression.h"

namespace {

// The two scratch files of this process, removed when it exits.
struct ScratchFiles {
    std::string in;
    std::string out;
    ScratchFiles() {
        const std::string base = "/tmp/fuzz_decode_" + std::to_string(::getpid());
        in = base + ".in";
        out = base + ".out";
    }
    ~ScratchFiles() {
        std::remove(in.c_str());
        std::remove(out.c_str());
    }
};

const ScratchFiles s_files;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> memory;
    ketrion::CCompression::DecodeBlock({data, size}, memory);

    const std::string& in = s_files.in;
    const std::string& out = s_files.out;
    if (FILE* f = std::fopen(in.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    ketrion::CCompression file(in, out);
    const int written = file.Decode();
    if (written != static_cast<int>(memory.size())) {
        std::abort();
    }
    std::vector<std::uint8_t> back(memory.size() + 1);
    std::size_t got = 0;
    if (FILE* f = std::fopen(out.c_str(), "rb")) {
        got = std::fread(back.data(), 1, back.size(), f);
        std::fclose(f);
    }
    back.resize(got);
    if (back != memory) {
        std::abort();
    }
    return 0;
}
