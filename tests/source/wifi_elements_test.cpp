// Information elements: names, security, PHY and width as the adapter's
// readings and `ktwifi decode` report them, and walks over cut elements.
#include <gtest/gtest.h>

#include <string>

#include "source/wifi/BssText.h"
#include "source/wifi/Elements.h"
#include "support/WifiMessages.h"

namespace ketrion::source::wifi {
namespace {

using ketrion::testing::wifi::Bytes;
using ketrion::testing::wifi::Concat;
namespace msg = ketrion::testing::wifi;

ElementInfo Decode(const Bytes& bytes) {
    return DecodeElements(bytes);
}

TEST(WifiElements, SecurityFollowsTheSuitesOfferedInOrderOfPrecedence) {
    struct Case {
        const char* what;
        Bytes elements;
        bool privacy;
        const char* security;
    } cases[] = {
        {"no element, no privacy", {}, false, "open"},
        {"privacy bit only", {}, true, "wep"},
        {"WPA element, PSK", msg::WpaElement({2}), true, "wpa"},
        {"WPA element, 802.1X", msg::WpaElement({1}), true, "enterprise"},
        {"RSN PSK", msg::RsnElement({2}), true, "wpa2"},
        {"RSN PSK-SHA256", msg::RsnElement({6}), true, "wpa2"},
        {"RSN SAE", msg::RsnElement({8}), true, "wpa3"},
        {"RSN FT-SAE", msg::RsnElement({9}), true, "wpa3"},
        {"transition PSK+SAE", msg::RsnElement({2, 8}), true, "wpa2/wpa3"},
        {"transition FT-PSK... PSK-SHA256+FT-SAE", msg::RsnElement({6, 9}), true, "wpa2/wpa3"},
        {"OWE", msg::RsnElement({18}), true, "owe"},
        {"RSN without AKM list", msg::Element(48, {1, 0, 0x00, 0x0F, 0xAC, 4}), true, "wpa2"},
        {"802.1X", msg::RsnElement({1}), true, "enterprise"},
        {"FT-802.1X", msg::RsnElement({3}), true, "enterprise"},
        {"802.1X-SHA256", msg::RsnElement({5}), true, "enterprise"},
        {"Suite B", msg::RsnElement({11}), true, "enterprise"},
        {"Suite B 192", msg::RsnElement({12}), true, "enterprise"},
        {"FT-802.1X-SHA384", msg::RsnElement({13}), true, "enterprise"},
        {"enterprise beside SAE", msg::RsnElement({8, 5}), true, "enterprise"},
        {"WPA beside RSN takes both", Concat({msg::WpaElement({2}), msg::RsnElement({2})}), true,
         "wpa/wpa2"},
        {"enterprise in WPA beside RSN PSK", Concat({msg::RsnElement({2}), msg::WpaElement({1})}),
         true, "enterprise"},
        {"other vendor element is not WPA", msg::Element(221, {0x00, 0x50, 0xF2, 4, 1, 0}), true,
         "wep"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(SecurityOf(Decode(c.elements), c.privacy), c.security);
    }
}

TEST(WifiElements, AkmSuitesAreListedRsnFirstWithTypeInDecimal) {
    const ElementInfo info = Decode(Concat({msg::WpaElement({2}), msg::RsnElement({2, 8, 18})}));
    ASSERT_EQ(info.rsnAkm.size(), 3u);
    EXPECT_EQ(info.rsnAkm[2].Text(), "00-0f-ac:18");
    ASSERT_EQ(info.wpaAkm.size(), 1u);
    EXPECT_EQ(info.wpaAkm[0].Text(), "00-50-f2:2");
}

TEST(WifiElements, PhyIsTheNewestCapabilityPresent) {
    struct Case {
        Bytes elements;
        const char* phy;
    } cases[] = {
        {{}, "legacy"},
        {msg::HtCapabilities(), "n"},
        {Concat({msg::HtCapabilities(), msg::VhtCapabilities()}), "ac"},
        {Concat({msg::HtCapabilities(), msg::HeCapabilities()}), "ax"},
        {Concat({msg::EhtCapabilities(), msg::HtCapabilities()}), "be"},
        // An extension element of another kind, and an empty one, say nothing.
        {Concat({msg::Element(255, {36, 0, 0, 0, 0, 0, 0}), msg::Element(255, {})}), "legacy"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PhyOf(Decode(c.elements)), c.phy);
}

TEST(WifiElements, WidthFromTheOperationElements) {
    struct Case {
        const char* what;
        Bytes elements;
        int frequency;
        int width;
    } cases[] = {
        {"nothing said", {}, 2437, 20},
        {"HT, no secondary", msg::HtOperation(6, 0), 2437, 20},
        {"HT, secondary above", msg::HtOperation(1, 1), 2412, 40},
        {"HT, secondary below", msg::HtOperation(40, 3), 5200, 40},
        {"HT offset 2 is reserved", msg::HtOperation(6, 2), 2437, 20},
        {"VHT 80", Concat({msg::HtOperation(36, 1), msg::VhtOperation(1, 42, 0)}), 5180, 80},
        {"VHT 160 as two segments 8 apart",
         Concat({msg::HtOperation(36, 1), msg::VhtOperation(1, 42, 50)}), 5180, 160},
        {"VHT 80+80 is not 160", msg::VhtOperation(1, 42, 155), 5180, 80},
        {"VHT old 160", msg::VhtOperation(2, 50, 0), 5180, 160},
        {"VHT old 80+80", msg::VhtOperation(3, 42, 155), 5180, 160},
        {"VHT 0 keeps HT's 40", Concat({msg::HtOperation(36, 1), msg::VhtOperation(0, 0, 0)}), 5180,
         40},
        {"6 GHz 160", msg::HeOperation6Ghz(37, 3), 6135, 160},
        {"6 GHz 80 after VHT info and co-hosted indicator", msg::HeOperation6Ghz(37, 2, true, true),
         6135, 80},
        {"6 GHz information ignored off 6 GHz", msg::HeOperation6Ghz(37, 3), 5180, 20},
        {"EHT 320 in 6 GHz", Concat({msg::HeOperation6Ghz(37, 3), msg::EhtOperation(4, 47, 31)}),
         6135, 320},
        {"EHT 160 in 5 GHz", Concat({msg::VhtOperation(1, 42, 50), msg::EhtOperation(3, 50, 0)}),
         5180, 160},
        {"EHT reserved width keeps the others",
         Concat({msg::HeOperation6Ghz(37, 3), msg::EhtOperation(6, 47, 31)}), 6135, 160},
        {"EHT operation without its information",
         Concat({msg::HeOperation6Ghz(37, 3), msg::Element(255, {106, 0x00, 0, 0, 0, 0})}), 6135,
         160},
        {"HE operation cut before its 6 GHz information",
         msg::Element(255, {36, 0, 0, 2, 0, 0xFC, 0xFF, 37}), 6135, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(WidthOf(Decode(c.elements), c.frequency), c.width);
    }
}

TEST(WifiElements, ChannelAndBandFromFrequency) {
    struct Case {
        int frequency;
        int channel;
        const char* band;
    } cases[] = {
        {2412, 1, "2.4"},
        {2472, 13, "2.4"},
        {2484, 14, "2.4"},
        {2407, 0, "2.4"},
        {5180, 36, "5"},
        {5895, 179, "5"},
        {5150, 30, "5"},
        {5935, 2, "6"},
        {5955, 1, "6"},
        {7115, 233, "6"},
        {7120, 0, "6"},
        {5900, 0, "other"},
        {0, 0, "other"},
        {2300, 0, "other"},
        // 4.9 GHz public safety counts from 4000 MHz.
        {4940, 188, "5"},
        {4910, 182, "5"},
        {4980, 196, "5"},
        // 60 GHz: 2160 MHz channels from 58320 MHz.
        {58320, 1, "60"},
        {60480, 2, "60"},
        {69120, 6, "60"},
        {59000, 0, "60"},
        // Sub-1 GHz on whole MHz: 500 kHz steps from 902 (or 863) MHz.
        {915, 26, "sub-1"},
        {902, 0, "sub-1"},
        {864, 2, "sub-1"},
        {700, 0, "sub-1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frequency);
        EXPECT_EQ(ChannelOf(c.frequency), c.channel);
        EXPECT_EQ(BandOf(c.frequency), c.band);
    }
    // The kernel's kHz offset places sub-1 GHz channels between whole MHz.
    EXPECT_EQ(ChannelOf(902, 500), 1);
    EXPECT_EQ(ChannelOf(863, 500), 1);
    EXPECT_EQ(ChannelOf(927, 500), 51);
    EXPECT_EQ(ChannelOf(902, 250), 0);
    EXPECT_EQ(ChannelOf(2437, 500), 0) << "no offset channels above 1 GHz";
}

TEST(WifiElements, ACutElementEndsTheWalkKeepingWhatCameBefore) {
    // Name, then an RSN element claiming 40 bytes of which 5 are there.
    Bytes bytes = Concat({msg::NameElement("Cafe"), msg::HtCapabilities()});
    bytes.insert(bytes.end(), {48, 40, 1, 0, 0x00, 0x0F, 0xAC});
    const ElementInfo info = Decode(bytes);
    EXPECT_TRUE(info.cut);
    EXPECT_EQ(info.name, "Cafe");
    EXPECT_TRUE(info.ht);
    EXPECT_FALSE(info.rsn);

    // A lone identifier byte at the end.
    const ElementInfo lone = Decode(Concat({msg::NameElement("x"), Bytes{45}}));
    EXPECT_TRUE(lone.cut);
    EXPECT_FALSE(lone.ht);

    EXPECT_FALSE(Decode(msg::NameElement("whole")).cut);
}

TEST(WifiElements, SuiteListsCutShortKeepTheWholeSuites) {
    // RSN claiming three AKM suites with one and a half present.
    const Bytes body{1,    0, 0x00, 0x0F, 0xAC, 4,    1,    0, 0x00, 0x0F,
                     0xAC, 4, 3,    0,    0x00, 0x0F, 0xAC, 8, 0x00, 0x0F};
    const ElementInfo info = Decode(msg::Element(48, body));
    EXPECT_TRUE(info.rsn);
    ASSERT_EQ(info.rsnAkm.size(), 1u);
    EXPECT_EQ(SecurityOf(info, true), "wpa3");

    // A pairwise count larger than the element.
    const ElementInfo huge =
        Decode(msg::Element(48, {1, 0, 0x00, 0x0F, 0xAC, 4, 0xFF, 0xFF, 0x00, 0x0F}));
    EXPECT_TRUE(huge.rsn);
    EXPECT_TRUE(huge.rsnAkm.empty());
}

TEST(WifiElements, HiddenNames) {
    EXPECT_TRUE(IsHiddenName(Decode({})));
    EXPECT_TRUE(IsHiddenName(Decode(msg::NameElement(""))));
    EXPECT_TRUE(IsHiddenName(Decode(msg::NameElement(std::string(7, '\0')))));
    EXPECT_FALSE(IsHiddenName(Decode(msg::NameElement(std::string("\0a", 2)))));
    // The first name element counts.
    EXPECT_EQ(Decode(Concat({msg::NameElement("one"), msg::NameElement("two")})).name, "one");
}

TEST(WifiElements, TheTextLineEscapesTheQuoteAroundAName) {
    Bss bss;
    bss.elements = Decode(msg::NameElement("say \"hi\" \\ \x01"));
    bss.hasElements = true;
    const std::string line = TextLine(bss);
    EXPECT_NE(line.find(R"("say \x22hi\x22 \x5C \x01")"), std::string::npos) << line;
}

TEST(WifiElements, InvalidUtf8BecomesReplacementCharacters) {
    struct Case {
        std::string in;
        std::string out;
    } cases[] = {
        {"plain", "plain"},
        {"caf\xC3\xA9", "caf\xC3\xA9"},
        {"\xF0\x9F\x93\xB6", "\xF0\x9F\x93\xB6"},
        {"a\xFF"
         "b",
         "a\xEF\xBF\xBD"
         "b"},
        {"\xC3", "\xEF\xBF\xBD"},  // cut at the end
        {"\xE2\x82"
         "x",
         "\xEF\xBF\xBD"
         "x"},                                                     // cut sequence: one replacement
        {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                  // overlong
        {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
        {"\xF4\x90\x80\x80", std::string(12, ' ')},                // above U+10FFFF (set below)
    };
    cases[8].out = "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD";
    for (const Case& c : cases)
        EXPECT_EQ(ValidUtf8(c.in), c.out) << Hex(c.in);
    EXPECT_EQ(Hex(std::string("\x00\xAB\x7f", 3)), "00ab7f");
}

}  // namespace
}  // namespace ketrion::source::wifi
