// Feeds arbitrary bytes to the site file reader: load them as a site, then
// walk what loaded as the tools do (find each floor by name, check its
// reference points, align the floors). The file lives in a private temporary
// folder (SQLite opens it by path).

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "site/Alignment.h"
#include "site/SiteFile.h"

namespace {

const std::string& Folder() {
    static const std::string folder = [] {
        std::string pattern = "/tmp/ketrion-fuzz-site-XXXXXX";
        return mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (Folder().empty())
        return 0;
    const std::string path = Folder() + "/site.kts";
    unlink((path + "-journal").c_str());
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    ketrion::site::Site site;
    std::string error;
    if (!ketrion::site::SiteFile::Load(path, site, error))
        return 0;
    for (const ketrion::site::ConstFloorRef& ref : ketrion::site::AllFloors(site)) {
        ketrion::site::FindFloor(site, ref.building->name + "/" + ref.floor->name, error);
        ketrion::site::CheckReferences(ref.floor->name, ref.floor->references);
        if (ref.floor != &ref.building->floors.front())
            ketrion::site::AlignFloors(*ref.floor, ref.building->floors.front(), 0.05, error);
    }
    return 0;
}
