// The snapshot counter file: any bytes give a number, never a read past the end.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ui/shell/SnapshotCounter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A copy of exactly `size` bytes, so reading one byte too many is caught.
    std::vector<char> text(data, data + size);
    const int number = ketrion::ParseSnapshotCounter(text.data(), text.size());
    (void)number;
    return 0;
}
