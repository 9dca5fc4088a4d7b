#include "source/wifi/Requests.h"

#include <linux/genetlink.h>
#include <linux/netlink.h>
#include <linux/nl80211.h>
#include <netlink/attr.h>
#include <netlink/genl/genl.h>
#include <netlink/msg.h>

#include <memory>

namespace ketrion::source::wifi {
namespace {

using Message = std::unique_ptr<nl_msg, decltype(&nlmsg_free)>;

// Versions of the families' headers this program speaks.
constexpr std::uint8_t kControllerVersion = 1;
constexpr std::uint8_t kNl80211Version = 0;

Message Start(std::uint16_t family, std::uint8_t command, std::uint8_t version, std::uint32_t seq,
              int flags) {
    Message message(nlmsg_alloc(), &nlmsg_free);
    if (message && genlmsg_put(message.get(), NL_AUTO_PORT, seq, family, 0, flags | NLM_F_REQUEST,
                               command, version) == nullptr)
        message.reset();
    return message;
}

std::vector<std::uint8_t> Bytes(const Message& message, bool ok) {
    if (!message || !ok)
        return {};
    const nlmsghdr* header = nlmsg_hdr(message.get());
    const auto* data = reinterpret_cast<const std::uint8_t*>(header);
    return {data, data + header->nlmsg_len};
}

std::vector<std::uint8_t> OnInterface(std::uint16_t family, std::uint8_t command, std::uint32_t seq,
                                      int flags, std::uint32_t ifindex) {
    Message message = Start(family, command, kNl80211Version, seq, flags);
    const bool ok = message && nla_put_u32(message.get(), NL80211_ATTR_IFINDEX, ifindex) == 0;
    return Bytes(message, ok);
}

}  // namespace

std::vector<std::uint8_t> FamilyRequest(std::uint32_t seq, const char* name) {
    Message message = Start(GENL_ID_CTRL, CTRL_CMD_GETFAMILY, kControllerVersion, seq, NLM_F_ACK);
    const bool ok = message && nla_put_string(message.get(), CTRL_ATTR_FAMILY_NAME, name) == 0;
    return Bytes(message, ok);
}

std::vector<std::uint8_t> InterfacesRequest(std::uint16_t family, std::uint32_t seq) {
    Message message = Start(family, NL80211_CMD_GET_INTERFACE, kNl80211Version, seq, NLM_F_DUMP);
    return Bytes(message, true);
}

std::vector<std::uint8_t> TriggerRequest(std::uint16_t family, std::uint32_t seq,
                                         std::uint32_t ifindex, bool passive) {
    Message message = Start(family, NL80211_CMD_TRIGGER_SCAN, kNl80211Version, seq, NLM_F_ACK);
    bool ok = message && nla_put_u32(message.get(), NL80211_ATTR_IFINDEX, ifindex) == 0;
    if (ok && !passive) {
        // One name to probe for: the empty (wildcard) one, which every
        // access point answers.
        nlattr* names = nla_nest_start(message.get(), NL80211_ATTR_SCAN_SSIDS);
        ok = names != nullptr && nla_put(message.get(), 1, 0, "") == 0 &&
             nla_nest_end(message.get(), names) == 0;
    }
    return Bytes(message, ok);
}

std::vector<std::uint8_t> ScanDumpRequest(std::uint16_t family, std::uint32_t seq,
                                          std::uint32_t ifindex) {
    return OnInterface(family, NL80211_CMD_GET_SCAN, seq, NLM_F_DUMP, ifindex);
}

std::vector<std::uint8_t> SurveyRequest(std::uint16_t family, std::uint32_t seq,
                                        std::uint32_t ifindex) {
    return OnInterface(family, NL80211_CMD_GET_SURVEY, seq, NLM_F_DUMP, ifindex);
}

}  // namespace ketrion::source::wifi
