#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "model/Text.h"
#include "source/wifi/Elements.h"

namespace ketrion::source::wifi {

// Generic-netlink numbers this program relies on (linux/genetlink.h,
// linux/nl80211.h), named here so the logic reads without the kernel headers.
constexpr std::uint16_t kGenlControllerId = 0x10;  // GENL_ID_CTRL
constexpr std::uint8_t kCmdGetScan = 32;           // NL80211_CMD_GET_SCAN
constexpr std::uint8_t kCmdNewScanResults = 34;    // NL80211_CMD_NEW_SCAN_RESULTS

// One access point of a scan dump, as the kernel describes it.
struct Bss {
    std::array<std::uint8_t, 6> bssid{};
    std::optional<int> frequencyMhz;
    int frequencyOffsetKhz = 0;  // added to frequencyMhz (sub-1 GHz channels), 0-999
    std::optional<int> signalMbm;
    std::optional<int> signalUnspec;  // 0-100
    std::optional<std::uint32_t> seenMsAgo;
    std::optional<std::uint64_t> lastSeenBoottimeNs;
    std::uint16_t capability = 0;
    ElementInfo elements;  // from the probe response's elements, else the beacon's
    bool hasElements = false;

    // Capability bit 4: the network asks for encryption.
    bool Privacy() const { return (capability & 0x0010) != 0; }
};

// A Wi-Fi interface as nl80211 lists it.
struct InterfaceInfo {
    std::string name;
    std::uint32_t index = 0;
    std::array<std::uint8_t, 6> mac{};
    std::optional<std::uint32_t> wiphy;
    std::optional<std::uint32_t> type;  // enum nl80211_iftype
};

enum class MessageKind : std::uint8_t {
    Other,         // anything this program does not read
    Request,       // a message to the kernel (NLM_F_REQUEST)
    FamilyAnswer,  // the controller names a family (id, multicast groups)
    ScanResult,    // one BSS of a GET_SCAN dump
    ScanStarted,   // TRIGGER_SCAN event
    ScanFinished,  // NEW_SCAN_RESULTS event (no BSS: results are ready to dump)
    ScanAborted,   // SCAN_ABORTED event
    Interface,     // one interface of a GET_INTERFACE answer
    Survey,        // one channel of a GET_SURVEY dump
    Done,          // NLMSG_DONE: the end of a dump
    Error,         // NLMSG_ERROR: an error, or an acknowledgement (error 0)
};

struct NetlinkMessage {
    MessageKind kind = MessageKind::Other;
    std::uint16_t type = 0;
    std::uint16_t flags = 0;
    std::uint32_t seq = 0;
    std::uint32_t portId = 0;
    std::uint8_t command = 0;  // generic-netlink command (when it is one)
    std::optional<std::uint32_t> ifindex;

    int error = 0;  // Error: 0 or a negative errno

    // FamilyAnswer
    std::string familyName;
    std::uint16_t familyId = 0;
    std::vector<std::pair<std::string, std::uint32_t>> groups;

    std::optional<Bss> bss;  // ScanResult
    // An nl80211 scan result whose attributes or BSS cannot be read (kind
    // stays Other): counted by readers of recordings, never silently lost.
    bool damagedBss = false;
    std::optional<InterfaceInfo> interface;  // Interface

    // Survey
    std::optional<int> surveyFrequencyMhz;
    std::optional<int> surveyNoiseDbm;
    bool surveyInUse = false;
};

// Turns the bytes of netlink datagrams into messages. Every length, count
// and offset is checked against the bytes given; the bytes are copied to
// aligned storage before libnl walks them.
class MessageDecoder {
public:
    // nl80211's family id, once a controller answer has named it (or the
    // caller knows it). Until then a generic-netlink message with command
    // NEW_SCAN_RESULTS that carries a BSS is taken as a scan result.
    void SetFamily(std::uint16_t id) { m_family = id; }
    std::optional<std::uint16_t> Family() const { return m_family; }

    // Decodes every whole message of one datagram into `out` (appending).
    // False when bytes are left over that are not a whole message.
    bool Decode(std::span<const std::uint8_t> datagram, std::vector<NetlinkMessage>& out);

private:
    std::optional<std::uint16_t> m_family;
};

// The name of an errno value as a short phrase for the user.
std::string ErrorText(int negativeErrno);

// "aa:bb:cc:dd:ee:ff": the one formatter every layer uses.
using ketrion::MacText;

}  // namespace ketrion::source::wifi
