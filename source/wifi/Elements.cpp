#include "source/wifi/Elements.h"

#include <cstdio>
#include <cstdlib>

namespace ketrion::source::wifi {
namespace {

// Element identifiers (IEEE 802.11 table 9-92) and extension identifiers.
constexpr std::uint8_t kElementName = 0;
constexpr std::uint8_t kElementHtCapabilities = 45;
constexpr std::uint8_t kElementRsn = 48;
constexpr std::uint8_t kElementHtOperation = 61;
constexpr std::uint8_t kElementVhtCapabilities = 191;
constexpr std::uint8_t kElementVhtOperation = 192;
constexpr std::uint8_t kElementVendor = 221;
constexpr std::uint8_t kElementExtension = 255;
constexpr std::uint8_t kExtensionHeCapabilities = 35;
constexpr std::uint8_t kExtensionHeOperation = 36;
constexpr std::uint8_t kExtensionEhtOperation = 106;
constexpr std::uint8_t kExtensionEhtCapabilities = 108;
// EHT operation: parameters (bit 0: the operation information follows), the
// basic EHT-MCS and NSS set, then the information: control (width in bits
// 0-2), CCFS0, CCFS1.
constexpr std::uint8_t kEhtInfoPresent = 0x01;
constexpr std::size_t kEhtOperationFixed = 5;
// The WPA element is vendor element 00-50-F2 with vendor type 1.
constexpr std::uint8_t kVendorTypeWpa = 1;

// HE operation parameters (three bytes, little-endian): which optional parts follow.
constexpr std::uint32_t kHeVhtInfoPresent = 1u << 14;
constexpr std::uint32_t kHeCoHostedBss = 1u << 15;
constexpr std::uint32_t kHe6GhzInfoPresent = 1u << 17;
constexpr std::size_t kHeOperationFixed = 6;  // parameters, colour, basic MCS set
constexpr std::size_t kHeVhtInfoSize = 3;
constexpr std::size_t kHeCoHostedSize = 1;
constexpr std::size_t kHe6GhzInfoSize = 5;

// A bounded reader over one element's body: every read checks what is left.
class Cursor {
public:
    explicit Cursor(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}
    bool Skip(std::size_t n) {
        if (n > m_bytes.size() - m_at)
            return false;
        m_at += n;
        return true;
    }
    bool U16(unsigned& value) {
        if (m_bytes.size() - m_at < 2)
            return false;
        value = m_bytes[m_at] | (unsigned{m_bytes[m_at + 1]} << 8);
        m_at += 2;
        return true;
    }
    bool Suite(AkmSuite& suite) {
        if (m_bytes.size() - m_at < 4)
            return false;
        suite.oui[0] = m_bytes[m_at];
        suite.oui[1] = m_bytes[m_at + 1];
        suite.oui[2] = m_bytes[m_at + 2];
        suite.type = m_bytes[m_at + 3];
        m_at += 4;
        return true;
    }

private:
    std::span<const std::uint8_t> m_bytes;
    std::size_t m_at = 0;
};

// Reads the AKM list of an RSN or WPA body that starts at its version field:
// version, group cipher, pairwise count and list, AKM count and list. A body
// cut anywhere keeps the suites read before the cut.
void ReadAkmSuites(std::span<const std::uint8_t> body, std::vector<AkmSuite>& out) {
    Cursor cursor(body);
    unsigned count = 0;
    if (!cursor.Skip(2 + 4) || !cursor.U16(count) || !cursor.Skip(std::size_t{count} * 4))
        return;
    if (!cursor.U16(count))
        return;
    for (unsigned i = 0; i < count; ++i) {
        AkmSuite suite;
        if (!cursor.Suite(suite))
            return;
        out.push_back(suite);
    }
}

void ReadHeOperation(std::span<const std::uint8_t> body, ElementInfo& info) {
    if (body.size() < kHeOperationFixed)
        return;
    const std::uint32_t parameters =
        body[0] | (std::uint32_t{body[1]} << 8) | (std::uint32_t{body[2]} << 16);
    if ((parameters & kHe6GhzInfoPresent) == 0)
        return;
    std::size_t at = kHeOperationFixed;
    if (parameters & kHeVhtInfoPresent)
        at += kHeVhtInfoSize;
    if (parameters & kHeCoHostedBss)
        at += kHeCoHostedSize;
    if (body.size() < at + kHe6GhzInfoSize)
        return;
    // 6 GHz information: primary channel, control (width in bits 0-1), ...
    info.he6GhzWidthField = body[at + 1] & 0x03;
}

void ReadElement(std::uint8_t id, std::span<const std::uint8_t> body, ElementInfo& info) {
    switch (id) {
        case kElementName:
            if (!info.hasName) {
                info.hasName = true;
                info.name.assign(body.begin(), body.end());
            }
            break;
        case kElementHtCapabilities:
            info.ht = true;
            break;
        case kElementRsn:
            if (!info.rsn) {
                info.rsn = true;
                ReadAkmSuites(body, info.rsnAkm);
            }
            break;
        case kElementHtOperation:
            // Primary channel, then the first information byte.
            if (body.size() >= 2 && !info.htSecondaryOffset)
                info.htSecondaryOffset = body[1] & 0x03;
            break;
        case kElementVhtCapabilities:
            info.vht = true;
            break;
        case kElementVhtOperation:
            if (body.size() >= 3 && !info.vhtOperation)
                info.vhtOperation = ElementInfo::VhtOperation{body[0], body[1], body[2]};
            break;
        case kElementVendor:
            if (body.size() >= 4 && body[0] == 0x00 && body[1] == 0x50 && body[2] == 0xF2 &&
                body[3] == kVendorTypeWpa && !info.wpa) {
                info.wpa = true;
                ReadAkmSuites(body.subspan(4), info.wpaAkm);
            }
            break;
        case kElementExtension:
            if (body.empty())
                break;
            switch (body[0]) {
                case kExtensionHeCapabilities:
                    info.he = true;
                    break;
                case kExtensionEhtCapabilities:
                    info.eht = true;
                    break;
                case kExtensionEhtOperation:
                    if (!info.ehtWidthField && body.size() >= 1 + kEhtOperationFixed + 3 &&
                        (body[1] & kEhtInfoPresent) != 0)
                        info.ehtWidthField = body[1 + kEhtOperationFixed] & 0x07;
                    break;
                case kExtensionHeOperation:
                    if (!info.he6GhzWidthField)
                        ReadHeOperation(body.subspan(1), info);
                    break;
                default:
                    break;
            }
            break;
        default:
            break;
    }
}

}  // namespace

std::string AkmSuite::Text() const {
    char text[16];
    std::snprintf(text, sizeof text, "%02x-%02x-%02x:%u", oui[0], oui[1], oui[2], unsigned{type});
    return text;
}

ElementInfo DecodeElements(std::span<const std::uint8_t> elements) {
    ElementInfo info;
    std::size_t at = 0;
    while (at < elements.size()) {
        if (elements.size() - at < 2) {
            info.cut = true;
            break;
        }
        const std::uint8_t id = elements[at];
        const std::size_t length = elements[at + 1];
        if (length > elements.size() - at - 2) {
            info.cut = true;
            break;
        }
        ReadElement(id, elements.subspan(at + 2, length), info);
        at += 2 + length;
    }
    return info;
}

int ChannelOf(int f, int offsetKhz) {
    // IEEE 802.11 Annex E: each band's channels count from its own starting
    // frequency.
    if (f < 1000) {
        // Sub-1 GHz (S1G): 500 kHz steps, the centre in kHz. The United
        // States' range starts at 902 MHz, Europe's at 863 MHz.
        const int khz = f * 1000 + offsetKhz;
        if (khz % 500 != 0)
            return 0;
        if (khz > 902000 && khz <= 928000)
            return (khz - 902000) / 500;
        if (khz > 863000 && khz <= 868000)
            return (khz - 863000) / 500;
        return 0;
    }
    if (offsetKhz != 0)
        return 0;
    if (f >= 2412 && f <= 2472)
        return (f - 2407) / 5;
    if (f == 2484)
        return 14;
    if (f >= 4910 && f <= 4980)
        return (f - 4000) / 5;  // 4.9 GHz: 4940 MHz is channel 188
    if (f >= 5150 && f <= 5895)
        return (f - 5000) / 5;
    if (f == 5935)
        return 2;
    if (f >= 5955 && f <= 7115)
        return (f - 5950) / 5;
    if (f >= 58320 && f <= 70200 && (f - 56160) % 2160 == 0)
        return (f - 56160) / 2160;  // 60 GHz (DMG): 2160 MHz channels
    return 0;
}

std::string BandOf(int f) {
    if (f > 0 && f < 1000)
        return "sub-1";
    if (f >= 2400 && f <= 2500)
        return "2.4";
    if ((f >= 4910 && f <= 4980) || (f >= 5150 && f <= 5895))
        return "5";
    if (f >= 5925 && f <= 7125)
        return "6";
    if (f >= 57000 && f <= 71000)
        return "60";
    return "other";
}

std::string SecurityOf(const ElementInfo& info, bool privacy) {
    auto any = [](const std::vector<AkmSuite>& suites, auto test) {
        for (const AkmSuite& s : suites)
            if (test(s))
                return true;
        return false;
    };
    // 802.1X in its SHA-1, FT, SHA-256, Suite B and FT-SHA-384 forms, and WPA's.
    auto enterprise = [](const AkmSuite& s) {
        if (s.Is(kOuiMicrosoft, 1))
            return true;
        for (std::uint8_t type : {1, 3, 5, 11, 12, 13})
            if (s.Is(kOuiIeee, type))
                return true;
        return false;
    };
    if (any(info.rsnAkm, enterprise) || any(info.wpaAkm, enterprise))
        return "enterprise";
    if (info.rsn) {
        const bool psk = any(
            info.rsnAkm, [](const AkmSuite& s) { return s.Is(kOuiIeee, 2) || s.Is(kOuiIeee, 6); });
        const bool sae = any(
            info.rsnAkm, [](const AkmSuite& s) { return s.Is(kOuiIeee, 8) || s.Is(kOuiIeee, 9); });
        if (psk && sae)
            return "wpa2/wpa3";
        if (sae)
            return "wpa3";
        if (any(info.rsnAkm, [](const AkmSuite& s) { return s.Is(kOuiIeee, 18); }))
            return "owe";
        // A network offering WPA's element beside RSN takes WPA stations too.
        return info.wpa ? "wpa/wpa2" : "wpa2";
    }
    if (info.wpa)
        return "wpa";
    return privacy ? "wep" : "open";
}

std::string PhyOf(const ElementInfo& info) {
    if (info.eht)
        return "be";
    if (info.he)
        return "ax";
    if (info.vht)
        return "ac";
    if (info.ht)
        return "n";
    return "legacy";
}

int WidthOf(const ElementInfo& info, int frequencyMhz) {
    int width = 20;
    if (info.htSecondaryOffset && (*info.htSecondaryOffset == 1 || *info.htSecondaryOffset == 3))
        width = 40;
    if (info.vhtOperation) {
        const auto& vht = *info.vhtOperation;
        if (vht.width == 1) {
            width = (vht.segment1 != 0 && std::abs(vht.segment1 - vht.segment0) == 8) ? 160 : 80;
        } else if (vht.width == 2 || vht.width == 3) {
            width = 160;
        }
    }
    if (BandOf(frequencyMhz) == "6" && info.he6GhzWidthField) {
        static constexpr int kWidths[4] = {20, 40, 80, 160};
        width = kWidths[*info.he6GhzWidthField & 0x03];
    }
    // The EHT operation says the width of an EHT BSS in any band, 320 MHz
    // included (values 5-7 are reserved).
    if (info.ehtWidthField && *info.ehtWidthField <= 4) {
        static constexpr int kWidths[5] = {20, 40, 80, 160, 320};
        width = kWidths[*info.ehtWidthField];
    }
    return width;
}

bool IsHiddenName(const ElementInfo& info) {
    for (char c : info.name)
        if (c != '\0')
            return false;
    return true;
}

std::string ValidUtf8(std::string_view bytes) {
    static const char kReplacement[] = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    auto at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    while (i < bytes.size()) {
        const unsigned char lead = at(i);
        if (lead < 0x80) {
            out += static_cast<char>(lead);
            ++i;
            continue;
        }
        std::size_t need = 0;
        unsigned char low = 0x80, high = 0xBF;  // range of the second byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            need = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            need = 2;
            if (lead == 0xE0)
                low = 0xA0;
            if (lead == 0xED)
                high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            need = 3;
            if (lead == 0xF0)
                low = 0x90;
            if (lead == 0xF4)
                high = 0x8F;
        }
        // The longest valid start of a sequence is replaced by one U+FFFD.
        std::size_t good = 1;
        bool whole = need > 0;
        for (std::size_t k = 1; k <= need; ++k) {
            if (i + k >= bytes.size()) {
                whole = false;
                break;
            }
            const unsigned char c = at(i + k);
            const unsigned char lo = k == 1 ? low : 0x80;
            const unsigned char hi = k == 1 ? high : 0xBF;
            if (c < lo || c > hi) {
                whole = false;
                break;
            }
            ++good;
        }
        if (whole) {
            out.append(bytes.substr(i, need + 1));
            i += need + 1;
        } else {
            out += kReplacement;
            i += good;
        }
    }
    return out;
}

std::string Hex(std::string_view bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 0x0F];
    }
    return out;
}

}  // namespace ketrion::source::wifi
