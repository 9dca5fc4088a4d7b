#include "source/wifi/Netlink.h"

#include <linux/genetlink.h>
#include <linux/netlink.h>
#include <linux/nl80211.h>
#include <netlink/attr.h>
#include <netlink/genl/genl.h>
#include <netlink/msg.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace ketrion::source::wifi {
namespace {

static_assert(kCmdGetScan == NL80211_CMD_GET_SCAN);
static_assert(kCmdNewScanResults == NL80211_CMD_NEW_SCAN_RESULTS);
static_assert(kGenlControllerId == GENL_ID_CTRL);

// Bytes copied into 4-byte-aligned storage, the alignment netlink headers and
// attributes are laid out for.
class AlignedCopy {
public:
    explicit AlignedCopy(std::span<const std::uint8_t> bytes)
        : m_words((bytes.size() + 3) / 4), m_size(bytes.size()) {
        if (!bytes.empty())
            std::memcpy(m_words.data(), bytes.data(), bytes.size());
    }
    std::uint8_t* Data() { return reinterpret_cast<std::uint8_t*>(m_words.data()); }
    std::size_t Size() const { return m_size; }

private:
    std::vector<std::uint32_t> m_words;
    std::size_t m_size;
};

bool GetU32(const nlattr* attr, std::uint32_t& value) {
    if (attr == nullptr || nla_len(attr) < 4)
        return false;
    std::memcpy(&value, nla_data(attr), 4);
    return true;
}

bool GetU16(const nlattr* attr, std::uint16_t& value) {
    if (attr == nullptr || nla_len(attr) < 2)
        return false;
    std::memcpy(&value, nla_data(attr), 2);
    return true;
}

bool GetU64(const nlattr* attr, std::uint64_t& value) {
    if (attr == nullptr || nla_len(attr) < 8)
        return false;
    std::memcpy(&value, nla_data(attr), 8);
    return true;
}

bool GetU8(const nlattr* attr, std::uint8_t& value) {
    if (attr == nullptr || nla_len(attr) < 1)
        return false;
    value = *static_cast<const std::uint8_t*>(nla_data(attr));
    return true;
}

// A string attribute up to its first NUL or its end, whichever comes first.
std::string GetString(const nlattr* attr) {
    if (attr == nullptr || nla_len(attr) <= 0)
        return {};
    const char* data = static_cast<const char*>(nla_data(attr));
    const std::size_t length = static_cast<std::size_t>(nla_len(attr));
    return std::string(data, strnlen(data, length));
}

std::span<const std::uint8_t> GetBytes(const nlattr* attr) {
    if (attr == nullptr || nla_len(attr) <= 0)
        return {};
    return {static_cast<const std::uint8_t*>(nla_data(attr)),
            static_cast<std::size_t>(nla_len(attr))};
}

std::optional<Bss> DecodeBss(nlattr* nested) {
    nlattr* tb[NL80211_BSS_MAX + 1] = {};
    if (nla_parse_nested(tb, NL80211_BSS_MAX, nested, nullptr) < 0)
        return std::nullopt;
    if (tb[NL80211_BSS_BSSID] == nullptr || nla_len(tb[NL80211_BSS_BSSID]) < 6)
        return std::nullopt;
    Bss bss;
    std::memcpy(bss.bssid.data(), nla_data(tb[NL80211_BSS_BSSID]), 6);
    std::uint32_t u32 = 0;
    if (GetU32(tb[NL80211_BSS_FREQUENCY], u32) && u32 <= 1'000'000)
        bss.frequencyMhz = static_cast<int>(u32);
    if (GetU32(tb[NL80211_BSS_FREQUENCY_OFFSET], u32) && u32 < 1000)
        bss.frequencyOffsetKhz = static_cast<int>(u32);
    if (GetU32(tb[NL80211_BSS_SIGNAL_MBM], u32))
        bss.signalMbm = static_cast<std::int32_t>(u32);
    std::uint8_t u8 = 0;
    if (GetU8(tb[NL80211_BSS_SIGNAL_UNSPEC], u8))
        bss.signalUnspec = u8 > 100 ? 100 : u8;
    if (GetU32(tb[NL80211_BSS_SEEN_MS_AGO], u32))
        bss.seenMsAgo = u32;
    std::uint64_t u64 = 0;
    if (GetU64(tb[NL80211_BSS_LAST_SEEN_BOOTTIME], u64))
        bss.lastSeenBoottimeNs = u64;
    std::uint16_t u16 = 0;
    if (GetU16(tb[NL80211_BSS_CAPABILITY], u16))
        bss.capability = u16;
    nlattr* elements = tb[NL80211_BSS_INFORMATION_ELEMENTS];
    if (elements == nullptr)
        elements = tb[NL80211_BSS_BEACON_IES];
    if (elements != nullptr) {
        bss.hasElements = true;
        bss.elements = DecodeElements(GetBytes(elements));
    }
    return bss;
}

void DecodeFamily(nlattr** tb, NetlinkMessage& message) {
    message.familyName = GetString(tb[CTRL_ATTR_FAMILY_NAME]);
    std::uint16_t id = 0;
    if (GetU16(tb[CTRL_ATTR_FAMILY_ID], id))
        message.familyId = id;
    if (tb[CTRL_ATTR_MCAST_GROUPS] == nullptr)
        return;
    nlattr* group = nullptr;
    int remaining = 0;
    nla_for_each_nested(group, tb[CTRL_ATTR_MCAST_GROUPS], remaining) {
        nlattr* gb[CTRL_ATTR_MCAST_GRP_MAX + 1] = {};
        if (nla_parse_nested(gb, CTRL_ATTR_MCAST_GRP_MAX, group, nullptr) < 0)
            continue;
        std::uint32_t groupId = 0;
        if (gb[CTRL_ATTR_MCAST_GRP_NAME] != nullptr && GetU32(gb[CTRL_ATTR_MCAST_GRP_ID], groupId))
            message.groups.emplace_back(GetString(gb[CTRL_ATTR_MCAST_GRP_NAME]), groupId);
    }
}

void DecodeInterface(nlattr** tb, NetlinkMessage& message) {
    InterfaceInfo info;
    std::uint32_t u32 = 0;
    if (!GetU32(tb[NL80211_ATTR_IFINDEX], u32))
        return;
    info.index = u32;
    info.name = GetString(tb[NL80211_ATTR_IFNAME]);
    if (GetU32(tb[NL80211_ATTR_WIPHY], u32))
        info.wiphy = u32;
    if (GetU32(tb[NL80211_ATTR_IFTYPE], u32))
        info.type = u32;
    const auto mac = GetBytes(tb[NL80211_ATTR_MAC]);
    if (mac.size() >= 6)
        std::memcpy(info.mac.data(), mac.data(), 6);
    message.kind = MessageKind::Interface;
    message.interface = std::move(info);
}

void DecodeSurvey(nlattr** tb, NetlinkMessage& message) {
    nlattr* sb[NL80211_SURVEY_INFO_MAX + 1] = {};
    if (tb[NL80211_ATTR_SURVEY_INFO] == nullptr ||
        nla_parse_nested(sb, NL80211_SURVEY_INFO_MAX, tb[NL80211_ATTR_SURVEY_INFO], nullptr) < 0)
        return;
    message.kind = MessageKind::Survey;
    std::uint32_t frequency = 0;
    if (GetU32(sb[NL80211_SURVEY_INFO_FREQUENCY], frequency) && frequency <= 1'000'000)
        message.surveyFrequencyMhz = static_cast<int>(frequency);
    std::uint8_t noise = 0;
    if (GetU8(sb[NL80211_SURVEY_INFO_NOISE], noise))
        message.surveyNoiseDbm = static_cast<std::int8_t>(noise);
    message.surveyInUse = sb[NL80211_SURVEY_INFO_IN_USE] != nullptr;
}

void DecodeGeneric(nlmsghdr* header, NetlinkMessage& message, std::optional<std::uint16_t> family) {
    if (!genlmsg_valid_hdr(header, 0))
        return;
    message.command = genlmsg_hdr(header)->cmd;
    if (message.type == GENL_ID_CTRL) {
        nlattr* tb[CTRL_ATTR_MAX + 1] = {};
        if (message.command == CTRL_CMD_NEWFAMILY &&
            genlmsg_parse(header, 0, tb, CTRL_ATTR_MAX, nullptr) == 0) {
            message.kind = MessageKind::FamilyAnswer;
            DecodeFamily(tb, message);
        }
        return;
    }
    const bool nl80211 = family ? message.type == *family : true;
    if (!nl80211)
        return;
    nlattr* tb[NL80211_ATTR_MAX + 1] = {};
    if (genlmsg_parse(header, 0, tb, NL80211_ATTR_MAX, nullptr) < 0) {
        message.damagedBss = message.command == NL80211_CMD_NEW_SCAN_RESULTS;
        return;
    }
    std::uint32_t ifindex = 0;
    if (GetU32(tb[NL80211_ATTR_IFINDEX], ifindex))
        message.ifindex = ifindex;
    switch (message.command) {
        case NL80211_CMD_NEW_SCAN_RESULTS:
            if (tb[NL80211_ATTR_BSS] != nullptr) {
                message.bss = DecodeBss(tb[NL80211_ATTR_BSS]);
                if (message.bss)
                    message.kind = MessageKind::ScanResult;
                else
                    message.damagedBss = true;
            } else if (family) {
                message.kind = MessageKind::ScanFinished;
            }
            break;
        case NL80211_CMD_TRIGGER_SCAN:
            if (family)
                message.kind = MessageKind::ScanStarted;
            break;
        case NL80211_CMD_SCAN_ABORTED:
            if (family)
                message.kind = MessageKind::ScanAborted;
            break;
        case NL80211_CMD_NEW_INTERFACE:
            if (family)
                DecodeInterface(tb, message);
            break;
        case NL80211_CMD_NEW_SURVEY_RESULTS:
            if (family)
                DecodeSurvey(tb, message);
            break;
        default:
            break;
    }
}

}  // namespace

bool MessageDecoder::Decode(std::span<const std::uint8_t> datagram,
                            std::vector<NetlinkMessage>& out) {
    AlignedCopy copy(datagram);
    auto* header = reinterpret_cast<nlmsghdr*>(copy.Data());
    int remaining = static_cast<int>(copy.Size());
    if (copy.Size() > static_cast<std::size_t>(INT32_MAX / 2))
        return false;
    for (; nlmsg_ok(header, remaining); header = nlmsg_next(header, &remaining)) {
        NetlinkMessage message;
        message.type = header->nlmsg_type;
        message.flags = header->nlmsg_flags;
        message.seq = header->nlmsg_seq;
        message.portId = header->nlmsg_pid;
        if (message.type == NLMSG_DONE) {
            message.kind = MessageKind::Done;
        } else if (message.type == NLMSG_ERROR) {
            message.kind = MessageKind::Error;
            if (header->nlmsg_len < NLMSG_HDRLEN + sizeof(int))
                return false;
            std::memcpy(&message.error, nlmsg_data(header), sizeof(int));
        } else if (message.type == NLMSG_NOOP || message.type == NLMSG_OVERRUN) {
            message.kind = MessageKind::Other;
        } else if (message.flags & NLM_F_REQUEST) {
            message.kind = MessageKind::Request;
            if (genlmsg_valid_hdr(header, 0))
                message.command = genlmsg_hdr(header)->cmd;
        } else if (message.type >= GENL_MIN_ID) {
            DecodeGeneric(header, message, message.type == GENL_ID_CTRL ? std::nullopt : m_family);
            if (message.kind == MessageKind::FamilyAnswer && message.familyName == "nl80211" &&
                message.familyId != 0)
                m_family = message.familyId;
        }
        out.push_back(std::move(message));
    }
    // What is left is padding of the last message, or a message cut short.
    return remaining <= 0;
}

std::string ErrorText(int negativeErrno) {
    const int error = negativeErrno < 0 ? -negativeErrno : negativeErrno;
    char buffer[128];
    const char* text = strerror_r(error, buffer, sizeof buffer);
    return text != nullptr ? text : "error " + std::to_string(error);
}

}  // namespace ketrion::source::wifi
