#pragma once

#include <string>

namespace ketrion::source::wifi {

// What the system says of a network interface beside nl80211: whether it is
// up, whether its radio is blocked, and its driver (from sysfs).
struct AdapterFacts {
    bool exists = false;
    bool up = false;
    bool rfkillSoft = false;  // switched off by software (rfkill block)
    bool rfkillHard = false;  // switched off by a switch or key
    std::string driver;       // kernel module, "" when unknown
    std::string phy;          // "phy0"
};

// Reads /sys/class/net/NAME (under `sysRoot`, which tests replace).
AdapterFacts ReadAdapterFacts(const std::string& interface, const std::string& sysRoot = "/sys");

// "soft", "hard", "soft+hard" or "no".
std::string RfkillText(const AdapterFacts& facts);

}  // namespace ketrion::source::wifi
