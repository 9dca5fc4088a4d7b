#pragma once

// The kernel's side of nl80211, built with libnl as the kernel lays it out:
// the controller's answer, scan events, scan-result dumps, errors, and the
// information elements inside a BSS. For the Wi-Fi tests and the recorded
// fixtures they are checked against.

#include <linux/genetlink.h>
#include <linux/netlink.h>
#include <linux/nl80211.h>
#include <netlink/attr.h>
#include <netlink/genl/genl.h>
#include <netlink/msg.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ketrion::testing::wifi {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kFamily = 0x1c;  // nl80211's id in these tests (the kernel picks one)
constexpr std::uint32_t kScanGroup = 7;  // the "scan" multicast group's id
constexpr std::uint32_t kPort = 4242;    // the test process's netlink port
constexpr std::uint32_t kIfindex = 3;

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    std::size_t size = 0;
    for (const Bytes& p : parts)
        size += p.size();
    Bytes out(size);
    auto at = out.begin();
    for (const Bytes& p : parts)
        at = std::copy(p.begin(), p.end(), at);
    return out;
}

// One information element.
inline Bytes Element(std::uint8_t id, const Bytes& body) {
    Bytes out(body.size() + 2);
    out[0] = id;
    out[1] = static_cast<std::uint8_t>(body.size());
    std::copy(body.begin(), body.end(), out.begin() + 2);
    return out;
}
inline Bytes NameElement(const std::string& name) {
    return Element(0, Bytes(name.begin(), name.end()));
}
// RSN element with CCMP as group and pairwise cipher and the given AKM types
// (00-0F-AC).
inline Bytes RsnElement(std::initializer_list<std::uint8_t> akmTypes) {
    Bytes body{1, 0, 0x00, 0x0F, 0xAC, 4, 1, 0, 0x00, 0x0F, 0xAC, 4};
    body.push_back(static_cast<std::uint8_t>(akmTypes.size()));
    body.push_back(0);
    for (std::uint8_t type : akmTypes) {
        for (std::uint8_t b : {std::uint8_t{0x00}, std::uint8_t{0x0F}, std::uint8_t{0xAC}, type})
            body.push_back(b);
    }
    body.push_back(0);  // RSN capabilities
    body.push_back(0);
    return Element(48, body);
}
// The WPA vendor element with TKIP and the given AKM types (00-50-F2).
inline Bytes WpaElement(std::initializer_list<std::uint8_t> akmTypes) {
    Bytes body{0x00, 0x50, 0xF2, 1, 1, 0, 0x00, 0x50, 0xF2, 2, 1, 0, 0x00, 0x50, 0xF2, 2};
    body.push_back(static_cast<std::uint8_t>(akmTypes.size()));
    body.push_back(0);
    for (std::uint8_t type : akmTypes) {
        for (std::uint8_t b : {std::uint8_t{0x00}, std::uint8_t{0x50}, std::uint8_t{0xF2}, type})
            body.push_back(b);
    }
    return Element(221, body);
}
inline Bytes HtCapabilities() {
    return Element(45, Bytes(26, 0));
}
inline Bytes HtOperation(std::uint8_t primary, std::uint8_t secondaryOffset) {
    Bytes body(22, 0);
    body[0] = primary;
    body[1] = secondaryOffset;
    return Element(61, body);
}
inline Bytes VhtCapabilities() {
    return Element(191, Bytes(12, 0));
}
inline Bytes VhtOperation(std::uint8_t width, std::uint8_t seg0, std::uint8_t seg1) {
    return Element(192, Bytes{width, seg0, seg1, 0xFC, 0xFF});
}
inline Bytes HeCapabilities() {
    Bytes body(22, 0);
    body[0] = 35;
    return Element(255, body);
}
inline Bytes EhtCapabilities() {
    Bytes body(12, 0);
    body[0] = 108;
    return Element(255, body);
}
// EHT operation with its information: width field (4: 320 MHz), CCFS0, CCFS1.
inline Bytes EhtOperation(std::uint8_t widthField, std::uint8_t ccfs0, std::uint8_t ccfs1) {
    return Element(255, {106, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, widthField, ccfs0, ccfs1});
}
// HE operation with the 6 GHz information (and, when asked, the VHT
// information and co-hosted indicator that come before it).
inline Bytes HeOperation6Ghz(std::uint8_t primary, std::uint8_t widthField,
                             bool withVhtInfo = false, bool coHosted = false) {
    std::uint32_t parameters = 1u << 17;
    if (withVhtInfo)
        parameters |= 1u << 14;
    if (coHosted)
        parameters |= 1u << 15;
    Bytes body{36,
               static_cast<std::uint8_t>(parameters),
               static_cast<std::uint8_t>(parameters >> 8),
               static_cast<std::uint8_t>(parameters >> 16),
               0,
               0xFC,
               0xFF};
    if (withVhtInfo)
        body.insert(body.end(), {0, 0, 0});
    if (coHosted)
        body.push_back(0);
    body.insert(body.end(), {primary, widthField, 7, 15, 0});
    return Element(255, body);
}

// What the kernel says of one BSS in a GET_SCAN dump.
struct BssSpec {
    std::array<std::uint8_t, 6> bssid{};
    std::optional<std::uint32_t> frequency = 2437;
    std::optional<std::uint32_t> frequencyOffset;  // kHz
    std::optional<std::int32_t> signalMbm = -5000;
    std::optional<std::uint8_t> signalUnspec;
    std::optional<std::uint32_t> seenMsAgo = 100;
    std::optional<std::uint64_t> lastSeenBoottime;
    std::uint16_t capability = 0x0001;
    std::optional<Bytes> elements;        // NL80211_BSS_INFORMATION_ELEMENTS
    std::optional<Bytes> beaconElements;  // NL80211_BSS_BEACON_IES
    std::uint32_t ifindex = kIfindex;
};

inline std::array<std::uint8_t, 6> Mac(std::uint8_t last) {
    return {0x02, 0x11, 0x22, 0x33, 0x44, last};
}

using Message = std::unique_ptr<nl_msg, decltype(&nlmsg_free)>;

inline Message NewMessage() {
    return Message(nlmsg_alloc_size(65536), &nlmsg_free);
}

inline Bytes BytesOf(const Message& message) {
    const nlmsghdr* header = nlmsg_hdr(message.get());
    const auto* data = reinterpret_cast<const std::uint8_t*>(header);
    return Bytes(data, data + NLMSG_ALIGN(header->nlmsg_len));
}

inline Bytes ScanResult(const BssSpec& spec, std::uint32_t seq, std::uint16_t family = kFamily) {
    Message message = NewMessage();
    nl_msg* m = message.get();
    genlmsg_put(m, kPort, seq, family, 0, NLM_F_MULTI, NL80211_CMD_NEW_SCAN_RESULTS, 1);
    nla_put_u32(m, NL80211_ATTR_GENERATION, 9);
    nla_put_u32(m, NL80211_ATTR_IFINDEX, spec.ifindex);
    nlattr* bss = nla_nest_start(m, NL80211_ATTR_BSS);
    nla_put(m, NL80211_BSS_BSSID, 6, spec.bssid.data());
    if (spec.frequency)
        nla_put_u32(m, NL80211_BSS_FREQUENCY, *spec.frequency);
    if (spec.frequencyOffset)
        nla_put_u32(m, NL80211_BSS_FREQUENCY_OFFSET, *spec.frequencyOffset);
    nla_put_u16(m, NL80211_BSS_CAPABILITY, spec.capability);
    if (spec.elements)
        nla_put(m, NL80211_BSS_INFORMATION_ELEMENTS, static_cast<int>(spec.elements->size()),
                spec.elements->data());
    if (spec.beaconElements)
        nla_put(m, NL80211_BSS_BEACON_IES, static_cast<int>(spec.beaconElements->size()),
                spec.beaconElements->data());
    if (spec.signalMbm)
        nla_put_u32(m, NL80211_BSS_SIGNAL_MBM, static_cast<std::uint32_t>(*spec.signalMbm));
    if (spec.signalUnspec)
        nla_put_u8(m, NL80211_BSS_SIGNAL_UNSPEC, *spec.signalUnspec);
    if (spec.seenMsAgo)
        nla_put_u32(m, NL80211_BSS_SEEN_MS_AGO, *spec.seenMsAgo);
    if (spec.lastSeenBoottime)
        nla_put_u64(m, NL80211_BSS_LAST_SEEN_BOOTTIME, *spec.lastSeenBoottime);
    nla_nest_end(m, bss);
    return BytesOf(message);
}

inline Bytes Done(std::uint32_t seq) {
    Message message = NewMessage();
    nlmsghdr* header = nlmsg_put(message.get(), kPort, seq, NLMSG_DONE, sizeof(int), NLM_F_MULTI);
    std::memset(nlmsg_data(header), 0, sizeof(int));
    return BytesOf(message);
}

// An error (or, with 0, an acknowledgement) for the request `seq`.
inline Bytes ErrorAnswer(std::uint32_t seq, int error) {
    Message message = NewMessage();
    nlmsghdr* header = nlmsg_put(message.get(), kPort, seq, NLMSG_ERROR, sizeof(nlmsgerr), 0);
    nlmsgerr answer{};
    answer.error = error;
    answer.msg.nlmsg_len = NLMSG_HDRLEN + GENL_HDRLEN;
    answer.msg.nlmsg_seq = seq;
    std::memcpy(nlmsg_data(header), &answer, sizeof answer);
    return BytesOf(message);
}

// The controller's answer naming nl80211 with its "scan" group.
inline Bytes FamilyAnswer(std::uint32_t seq, std::uint16_t family = kFamily) {
    Message message = NewMessage();
    nl_msg* m = message.get();
    genlmsg_put(m, kPort, seq, GENL_ID_CTRL, 0, 0, CTRL_CMD_NEWFAMILY, 2);
    nla_put_string(m, CTRL_ATTR_FAMILY_NAME, "nl80211");
    nla_put_u16(m, CTRL_ATTR_FAMILY_ID, family);
    nla_put_u32(m, CTRL_ATTR_VERSION, 1);
    nlattr* groups = nla_nest_start(m, CTRL_ATTR_MCAST_GROUPS);
    const std::pair<const char*, std::uint32_t> named[] = {
        {"config", 5}, {"scan", kScanGroup}, {"regulatory", 8}, {"mlme", 9}};
    int index = 1;
    for (const auto& [name, id] : named) {
        nlattr* group = nla_nest_start(m, index++);
        nla_put_u32(m, CTRL_ATTR_MCAST_GRP_ID, id);
        nla_put_string(m, CTRL_ATTR_MCAST_GRP_NAME, name);
        nla_nest_end(m, group);
    }
    nla_nest_end(m, groups);
    return BytesOf(message);
}

// A multicast event (TRIGGER_SCAN, NEW_SCAN_RESULTS, SCAN_ABORTED) on an interface.
inline Bytes Event(std::uint8_t command, std::uint32_t ifindex = kIfindex,
                   std::uint16_t family = kFamily) {
    Message message = NewMessage();
    nl_msg* m = message.get();
    genlmsg_put(m, 0, 0, family, 0, 0, command, 1);
    nla_put_u32(m, NL80211_ATTR_WIPHY, 0);
    nla_put_u32(m, NL80211_ATTR_IFINDEX, ifindex);
    return BytesOf(message);
}

// One interface of a GET_INTERFACE answer.
inline Bytes InterfaceAnswer(std::uint32_t seq, const std::string& name, std::uint32_t ifindex,
                             std::uint8_t macLast) {
    Message message = NewMessage();
    nl_msg* m = message.get();
    genlmsg_put(m, kPort, seq, kFamily, 0, NLM_F_MULTI, NL80211_CMD_NEW_INTERFACE, 1);
    nla_put_u32(m, NL80211_ATTR_IFINDEX, ifindex);
    nla_put_string(m, NL80211_ATTR_IFNAME, name.c_str());
    nla_put_u32(m, NL80211_ATTR_WIPHY, 0);
    nla_put_u32(m, NL80211_ATTR_IFTYPE, NL80211_IFTYPE_STATION);
    const auto mac = Mac(macLast);
    nla_put(m, NL80211_ATTR_MAC, 6, mac.data());
    return BytesOf(message);
}

// One channel of a GET_SURVEY dump.
inline Bytes SurveyAnswer(std::uint32_t seq, std::uint32_t frequency, std::int8_t noise,
                          bool inUse) {
    Message message = NewMessage();
    nl_msg* m = message.get();
    genlmsg_put(m, kPort, seq, kFamily, 0, NLM_F_MULTI, NL80211_CMD_NEW_SURVEY_RESULTS, 1);
    nla_put_u32(m, NL80211_ATTR_IFINDEX, kIfindex);
    nlattr* info = nla_nest_start(m, NL80211_ATTR_SURVEY_INFO);
    nla_put_u32(m, NL80211_SURVEY_INFO_FREQUENCY, frequency);
    nla_put_u8(m, NL80211_SURVEY_INFO_NOISE, static_cast<std::uint8_t>(noise));
    if (inUse)
        nla_put_flag(m, NL80211_SURVEY_INFO_IN_USE);
    nla_nest_end(m, info);
    return BytesOf(message);
}

}  // namespace ketrion::testing::wifi
