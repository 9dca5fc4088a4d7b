#include "source/wifi/Adapter.h"

#include <net/if.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace ketrion::source::wifi {
namespace {

namespace fs = std::filesystem;

// IFF_UP in the interface's flags file.
constexpr unsigned long kInterfaceUp = 0x1;

std::string FirstLine(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// An interface name is one path component of at most IFNAMSIZ-1 bytes.
bool PlausibleName(const std::string& name) {
    return !name.empty() && name.size() < IFNAMSIZ && name != "." && name != ".." &&
           name.find('/') == std::string::npos;
}

}  // namespace

AdapterFacts ReadAdapterFacts(const std::string& interface, const std::string& sysRoot) {
    AdapterFacts facts;
    if (!PlausibleName(interface))
        return facts;
    std::error_code ec;
    const fs::path net = fs::path(sysRoot) / "class" / "net" / interface;
    if (!fs::exists(net, ec))
        return facts;
    facts.exists = true;
    const std::string flags = FirstLine(net / "flags");
    facts.up = (std::strtoul(flags.c_str(), nullptr, 0) & kInterfaceUp) != 0;
    const fs::path driver = fs::read_symlink(net / "device" / "driver", ec);
    if (!ec)
        facts.driver = driver.filename().string();
    const fs::path phy = net / "phy80211";
    const fs::path phyTarget = fs::read_symlink(phy, ec);
    if (!ec)
        facts.phy = phyTarget.filename().string();
    for (const auto& entry : fs::directory_iterator(phy, ec)) {
        if (entry.path().filename().string().rfind("rfkill", 0) != 0)
            continue;
        facts.rfkillSoft = facts.rfkillSoft || FirstLine(entry.path() / "soft") == "1";
        facts.rfkillHard = facts.rfkillHard || FirstLine(entry.path() / "hard") == "1";
    }
    return facts;
}

std::string RfkillText(const AdapterFacts& facts) {
    if (facts.rfkillSoft && facts.rfkillHard)
        return "soft+hard";
    if (facts.rfkillSoft)
        return "soft";
    if (facts.rfkillHard)
        return "hard";
    return "no";
}

}  // namespace ketrion::source::wifi
