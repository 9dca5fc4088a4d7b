// Feeds arbitrary bytes to the side store reader as the store beside a
// collection file: open it read-only against a fixed identity and read every
// point and reading row. The store lives in a private temporary folder (the
// store's path is derived from the collection file's, so it cannot be a memfd).
// The same bytes are also decoded as a walk's pending scan, as the session
// reads each row of the store's pending_scans, and each stored row is too.

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "survey/CollectionFile.h"
#include "survey/PendingScan.h"
#include "survey/SideStore.h"

namespace {

const std::string& Folder() {
    static const std::string folder = [] {
        std::string pattern = "/tmp/ketrion-fuzz-side-XXXXXX";
        return mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ketrion::source::ScanResult scan;
    ketrion::DecodePendingScan(std::string(reinterpret_cast<const char*>(data), size), scan,
                               nullptr);
    if (Folder().empty())
        return 0;
    const std::string collection = Folder() + "/site.ktd";
    const std::string store = ketrion::SideStore::PathFor(collection);
    for (const char* companion : {"", "-wal", "-shm", "-journal"})
        unlink((store + companion).c_str());
    {
        std::ofstream out(store, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    std::uint8_t header[ketrion::collection::kFirstRecord];
    ketrion::collection::EncodeHeader(1'700'000'000, header);
    std::string message;
    const auto side = ketrion::SideStore::OpenForReading(
        collection, ketrion::SideIdentity(collection, header), &message);
    if (side != nullptr) {
        for (const auto& [offset, point] : side->Points())
            side->ReadingsOf(offset);
        side->AllReadings();
        for (const auto& [seq, body] : side->PendingScans())
            ketrion::DecodePendingScan(body, scan, nullptr);
    }
    return 0;
}
