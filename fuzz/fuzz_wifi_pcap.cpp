// Arbitrary bytes as a recording of the adapter's netlink traffic: read into
// scans and printed as `ktwifi decode` prints them, text and JSON.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "MemoryFile.h"
#include "source/wifi/BssReading.h"
#include "source/wifi/BssText.h"
#include "source/wifi/Recording.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ketrion::source::wifi;
    ketrion::fuzz::MemoryFile file(data, size);
    if (!file.IsOpen())
        return 0;
    const Recording recording = ReadRecording(file.Path());
    if (!recording.opened && !recording.scans.empty())
        std::abort();
    std::size_t printed = 0;
    for (std::size_t i = 0; i < recording.scans.size(); ++i) {
        for (const Bss& bss : recording.scans[i].results) {
            printed += TextLine(bss).size();
            printed += JsonLine(bss, static_cast<int>(i), recording.scans[i].timeUs).size();
            // Only a signal some receiver could report goes into the file.
            const auto reading = ReadingOf(bss, std::nullopt);
            const bool possible =
                bss.signalMbm && *bss.signalMbm >= -15000 && *bss.signalMbm <= 3000;
            if (reading.inCollection != possible)
                std::abort();
        }
    }
    return printed == static_cast<std::size_t>(-1) ? 1 : 0;
}
