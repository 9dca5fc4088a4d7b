#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ketrion::source::wifi {

// An authentication and key management suite: a three-byte organisation
// identifier and a type, as the RSN and WPA elements list them.
struct AkmSuite {
    std::uint8_t oui[3] = {};
    std::uint8_t type = 0;

    bool Is(std::uint32_t ouiValue, std::uint8_t suiteType) const {
        return type == suiteType &&
               ((std::uint32_t{oui[0]} << 16) | (std::uint32_t{oui[1]} << 8) | oui[2]) == ouiValue;
    }
    // "00-0f-ac:2": the organisation in lower-case hex, the type in decimal.
    std::string Text() const;
};

constexpr std::uint32_t kOuiIeee = 0x000FAC;       // suites defined by IEEE 802.11 (RSN)
constexpr std::uint32_t kOuiMicrosoft = 0x0050F2;  // the pre-standard WPA element's owner

// What the information elements of one beacon or probe response say, as far
// as they could be read. A cut element ends the walk: everything before it
// counts, nothing is read past the end.
struct ElementInfo {
    bool hasName = false;  // element 0 present (possibly empty)
    std::string name;      // its bytes, as sent

    bool rsn = false;  // RSN element (48) present
    bool wpa = false;  // WPA vendor element (221, 00-50-F2 type 1) present
    std::vector<AkmSuite> rsnAkm;
    std::vector<AkmSuite> wpaAkm;

    bool ht = false;   // HT capabilities (45)
    bool vht = false;  // VHT capabilities (191)
    bool he = false;   // HE capabilities (255, extension 35)
    bool eht = false;  // EHT capabilities (255, extension 108)

    std::optional<int> htSecondaryOffset;  // HT operation (61): 0 none, 1 above, 3 below
    struct VhtOperation {
        int width = 0;  // 0: 20/40, 1: 80/160/80+80, 2: 160 (old), 3: 80+80 (old)
        int segment0 = 0;
        int segment1 = 0;
    };
    std::optional<VhtOperation> vhtOperation;  // VHT operation (192)
    std::optional<int> he6GhzWidthField;       // HE operation's 6 GHz information, bits 0-1
    std::optional<int> ehtWidthField;          // EHT operation (255, extension 106), bits 0-2

    bool cut = false;  // an element claimed more bytes than were left
};

// Walks a run of information elements (id, length, body).
ElementInfo DecodeElements(std::span<const std::uint8_t> elements);

// Channel number from a centre frequency in MHz and the kernel's offset in
// kHz (sub-1 GHz channels lie on 500 kHz steps), per IEEE 802.11's channel
// numbering: 2.4 GHz, 4.9 GHz (4940 MHz is 188), 5 GHz, 6 GHz, 60 GHz
// (58320 MHz is 1) and sub-1 GHz (902.5 MHz is 1). 0 when the frequency is
// on no channel this program knows.
int ChannelOf(int frequencyMhz, int offsetKhz = 0);
// "sub-1", "2.4", "5" (4.9 GHz included), "6", "60" or "other".
std::string BandOf(int frequencyMhz);

// "enterprise", "wpa2/wpa3", "wpa3", "owe", "wpa/wpa2" (WPA's element beside
// RSN), "wpa2", "wpa", "wep" or "open".
std::string SecurityOf(const ElementInfo& info, bool privacy);
// "be", "ax", "ac", "n" or "legacy": the newest capability element present.
std::string PhyOf(const ElementInfo& info);
// Channel width in MHz from the operation elements (HT, VHT, HE's 6 GHz
// information, EHT).
int WidthOf(const ElementInfo& info, int frequencyMhz);

// A network name is hidden when there is no name element, an empty one, or
// one of zero bytes only.
bool IsHiddenName(const ElementInfo& info);

// Bytes as UTF-8, each invalid sequence replaced by U+FFFD.
std::string ValidUtf8(std::string_view bytes);
// Bytes as lower-case hex, two digits each.
std::string Hex(std::string_view bytes);

}  // namespace ketrion::source::wifi
