// Netlink messages built by libnl as the kernel sends them, decoded into BSSs
// and readings: which elements count, what a damaged datagram keeps, and how
// a BSS becomes the survey's reading.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "source/wifi/BssReading.h"
#include "source/wifi/BssText.h"
#include "source/wifi/Netlink.h"
#include "support/WifiMessages.h"

namespace ketrion::source::wifi {
namespace {

namespace msg = ketrion::testing::wifi;
using msg::Bytes;
using msg::Concat;

std::vector<NetlinkMessage> DecodeAll(MessageDecoder& decoder, const Bytes& bytes,
                                      bool expectWhole = true) {
    std::vector<NetlinkMessage> out;
    EXPECT_EQ(decoder.Decode(bytes, out), expectWhole);
    return out;
}

TEST(WifiNetlink, AScanResultCarriesTheBssAndItsElements) {
    msg::BssSpec spec;
    spec.bssid = msg::Mac(7);
    spec.frequency = 5180;
    spec.signalMbm = -6150;
    spec.seenMsAgo = 1200;
    spec.lastSeenBoottime = 123456789012345ull;
    spec.capability = 0x0011;
    spec.elements = Concat({msg::NameElement("Probe"), msg::RsnElement({2, 8})});
    spec.beaconElements = msg::NameElement("Beacon");
    MessageDecoder decoder;
    decoder.SetFamily(msg::kFamily);
    const auto messages = DecodeAll(decoder, msg::ScanResult(spec, 5));
    ASSERT_EQ(messages.size(), 1u);
    const NetlinkMessage& m = messages[0];
    ASSERT_EQ(m.kind, MessageKind::ScanResult);
    EXPECT_EQ(m.seq, 5u);
    EXPECT_EQ(m.ifindex, msg::kIfindex);
    const Bss& bss = *m.bss;
    EXPECT_EQ(MacText(bss.bssid), "02:11:22:33:44:07");
    EXPECT_EQ(bss.frequencyMhz, 5180);
    EXPECT_EQ(bss.signalMbm, -6150);
    EXPECT_EQ(bss.seenMsAgo, 1200u);
    EXPECT_EQ(bss.lastSeenBoottimeNs, 123456789012345ull);
    EXPECT_TRUE(bss.Privacy());
    // The probe response's elements win over the beacon's.
    EXPECT_EQ(bss.elements.name, "Probe");
    EXPECT_EQ(SecurityOf(bss.elements, bss.Privacy()), "wpa2/wpa3");

    spec.elements.reset();
    const auto beaconOnly = DecodeAll(decoder, msg::ScanResult(spec, 5));
    EXPECT_EQ(beaconOnly.at(0).bss->elements.name, "Beacon");
}

TEST(WifiNetlink, TheFamilyComesFromTheControllersAnswer) {
    msg::BssSpec spec;
    spec.bssid = msg::Mac(1);
    const Bytes otherFamily = msg::ScanResult(spec, 9, msg::kFamily + 1);

    // Unknown family: any generic-netlink NEW_SCAN_RESULTS with a BSS counts.
    MessageDecoder guessing;
    EXPECT_EQ(DecodeAll(guessing, otherFamily).at(0).kind, MessageKind::ScanResult);
    // Events are only believed from the known family.
    EXPECT_EQ(DecodeAll(guessing, msg::Event(NL80211_CMD_SCAN_ABORTED)).at(0).kind,
              MessageKind::Other);

    MessageDecoder decoder;
    const auto answer = DecodeAll(decoder, msg::FamilyAnswer(1));
    ASSERT_EQ(answer.at(0).kind, MessageKind::FamilyAnswer);
    EXPECT_EQ(decoder.Family(), msg::kFamily);
    ASSERT_EQ(answer[0].groups.size(), 4u);
    EXPECT_EQ(answer[0].groups[1],
              (std::pair<std::string, std::uint32_t>{"scan", msg::kScanGroup}));
    EXPECT_EQ(DecodeAll(decoder, otherFamily).at(0).kind, MessageKind::Other);
    EXPECT_EQ(DecodeAll(decoder, msg::Event(NL80211_CMD_SCAN_ABORTED)).at(0).kind,
              MessageKind::ScanAborted);
    EXPECT_EQ(DecodeAll(decoder, msg::Event(NL80211_CMD_NEW_SCAN_RESULTS)).at(0).kind,
              MessageKind::ScanFinished);
    EXPECT_EQ(DecodeAll(decoder, msg::Event(NL80211_CMD_TRIGGER_SCAN)).at(0).kind,
              MessageKind::ScanStarted);
}

TEST(WifiNetlink, OneDatagramHoldsManyMessagesAndACutOneIsReported) {
    msg::BssSpec a, b;
    a.bssid = msg::Mac(1);
    b.bssid = msg::Mac(2);
    const Bytes whole = Concat({msg::ScanResult(a, 3), msg::ScanResult(b, 3), msg::Done(3)});
    MessageDecoder decoder;
    decoder.SetFamily(msg::kFamily);
    const auto all = DecodeAll(decoder, whole);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[2].kind, MessageKind::Done);

    // Every cut inside the last message keeps the whole ones before it.
    const std::size_t firstTwo = whole.size() - msg::Done(3).size();
    for (std::size_t cut = 1; cut < msg::Done(3).size(); ++cut) {
        const Bytes shorter(whole.begin(), whole.end() - static_cast<long>(cut));
        const auto kept = DecodeAll(decoder, shorter, false);
        EXPECT_EQ(kept.size(), 2u) << cut;
    }
    // A length field larger than the datagram: nothing read past the end.
    Bytes lying = msg::ScanResult(a, 3);
    lying[0] = 0xFF;
    lying[1] = 0xFF;
    EXPECT_TRUE(DecodeAll(decoder, lying, false).empty());
    EXPECT_EQ(firstTwo, msg::ScanResult(a, 3).size() + msg::ScanResult(b, 3).size());
}

TEST(WifiNetlink, ErrorsAndBrokenAttributesAreNotResults) {
    MessageDecoder decoder;
    decoder.SetFamily(msg::kFamily);
    const auto error = DecodeAll(decoder, msg::ErrorAnswer(4, -16));
    ASSERT_EQ(error.at(0).kind, MessageKind::Error);
    EXPECT_EQ(error[0].error, -16);
    EXPECT_EQ(error[0].seq, 4u);

    // A BSSID of four bytes is no BSS.
    msg::Message message = msg::NewMessage();
    genlmsg_put(message.get(), msg::kPort, 2, msg::kFamily, 0, NLM_F_MULTI,
                NL80211_CMD_NEW_SCAN_RESULTS, 1);
    nlattr* bss = nla_nest_start(message.get(), NL80211_ATTR_BSS);
    nla_put(message.get(), NL80211_BSS_BSSID, 4, "abcd");
    nla_put_u16(message.get(), NL80211_BSS_FREQUENCY, 2412);  // too short for u32: ignored
    nla_nest_end(message.get(), bss);
    EXPECT_EQ(DecodeAll(decoder, msg::BytesOf(message)).at(0).kind, MessageKind::Other);
}

TEST(WifiNetlink, InterfacesAndSurveyAnswers) {
    MessageDecoder decoder;
    decoder.SetFamily(msg::kFamily);
    const auto messages = DecodeAll(decoder, Concat({msg::InterfaceAnswer(2, "wlan0", 3, 9),
                                                     msg::SurveyAnswer(3, 2437, -92, true)}));
    ASSERT_EQ(messages.size(), 2u);
    ASSERT_EQ(messages[0].kind, MessageKind::Interface);
    EXPECT_EQ(messages[0].interface->name, "wlan0");
    EXPECT_EQ(messages[0].interface->index, 3u);
    EXPECT_EQ(MacText(messages[0].interface->mac), "02:11:22:33:44:09");
    ASSERT_EQ(messages[1].kind, MessageKind::Survey);
    EXPECT_EQ(messages[1].surveyFrequencyMhz, 2437);
    EXPECT_EQ(messages[1].surveyNoiseDbm, -92);
    EXPECT_TRUE(messages[1].surveyInUse);
}

Bss MakeBss(std::uint8_t last, std::optional<int> mbm, std::optional<int> unspec = std::nullopt) {
    Bss bss;
    bss.bssid = msg::Mac(last);
    bss.signalMbm = mbm;
    bss.signalUnspec = unspec;
    bss.frequencyMhz = 2437;
    return bss;
}

TEST(WifiReading, SignalIsStoredIn256thsOfADbmAndOneNoReceiverGivesIsNone) {
    struct Case {
        int mbm;
        std::int16_t stored;
        int dbm;
        bool inFile;
    } cases[] = {
        {-5000, -12800, -50, true},
        {-6150, -15744, -62, true},
        {-6149, -15741, -61, true},
        {0, 0, 0, true},
        {150, 384, 2, true},
        {-15000, -32768, -150, true},  // below the record's range: its floor
        {3000, 7680, 30, true},
        {-15001, 0, 0, false},
        {3001, 0, 0, false},
        {-1'000'000, 0, 0, false},
        {std::numeric_limits<int>::min(), 0, 0, false},
        {std::numeric_limits<int>::max(), 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mbm);
        const Reading r = ReadingOf(MakeBss(1, c.mbm), std::nullopt);
        EXPECT_EQ(r.inCollection, c.inFile);
        EXPECT_EQ(r.signal256, c.stored);
        EXPECT_EQ(r.dbm, c.dbm);
        EXPECT_EQ(r.details->signalMbm, c.inFile ? std::optional<int>(c.mbm) : std::nullopt);
    }
}

TEST(WifiNetlink, FrequencyChannelNameAndSecurityAsKtwifiSaysThem) {
    // Each BSS built with libnl as the kernel lays it out, then printed.
    auto spec = [](std::optional<std::uint32_t> frequency, std::optional<std::uint32_t> offset,
                   std::optional<Bytes> elements) {
        msg::BssSpec s;
        s.bssid = msg::Mac(9);
        s.frequency = frequency;
        s.frequencyOffset = offset;
        s.elements = std::move(elements);
        s.capability = 0x0011;
        return s;
    };
    const struct Case {
        const char* what;
        msg::BssSpec bss;
        std::vector<std::string> fields;  // pieces of the JSON line
    } cases[] = {
        {"4.9 GHz public safety",
         spec(4940, std::nullopt, msg::NameElement("PS")),
         {"\"freq\":4940,\"channel\":188,\"band\":\"5\""}},
        {"60 GHz",
         spec(60480, std::nullopt, msg::NameElement("DMG")),
         {"\"freq\":60480,\"channel\":2,\"band\":\"60\""}},
        {"sub-1 GHz with the kernel's offset",
         spec(902, 500, msg::NameElement("S1G")),
         {"\"freq\":902.5,\"channel\":1,\"band\":\"sub-1\""}},
        {"no frequency",
         spec(std::nullopt, std::nullopt, msg::NameElement("NOF")),
         {"\"freq\":null,\"channel\":null,\"band\":null", "\"width\":null"}},
        {"no elements: the name is unknown, not hidden",
         spec(2437, std::nullopt, std::nullopt),
         {"\"hidden\":null", "\"ssid\":\"\""}},
        {"an empty name is hidden",
         spec(2437, std::nullopt, msg::NameElement("")),
         {"\"hidden\":true"}},
        {"EHT 320 MHz",
         spec(6135, std::nullopt,
              Concat({msg::NameElement("BE"), msg::EhtCapabilities(), msg::HeOperation6Ghz(37, 3),
                      msg::EhtOperation(4, 47, 31)})),
         {"\"phy\":\"be\",\"width\":320"}},
        {"WPA and WPA2 together",
         spec(2437, std::nullopt,
              Concat({msg::NameElement("MIX"), msg::RsnElement({2}), msg::WpaElement({2})})),
         {"\"security\":\"wpa/wpa2\""}},
    };
    MessageDecoder decoder;
    decoder.SetFamily(msg::kFamily);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto messages = DecodeAll(decoder, msg::ScanResult(c.bss, 3));
        ASSERT_EQ(messages.size(), 1u);
        const std::string line = JsonLine(*messages[0].bss, 1, 0);
        for (const std::string& field : c.fields)
            EXPECT_NE(line.find(field), std::string::npos) << field << "\n" << line;
    }
    // The reading the survey keeps: the sub-1 GHz channel in the attribute byte.
    const auto s1g = DecodeAll(decoder, msg::ScanResult(spec(902, 500, msg::NameElement("S")), 3));
    const Reading r = ReadingOf(*s1g.at(0).bss, std::nullopt);
    EXPECT_EQ(r.attribute, 1);
    EXPECT_EQ(r.details->band, "sub-1");
}

TEST(WifiReading, DetailsAndTheAttributeByte) {
    Bss bss = MakeBss(4, -4000);
    bss.frequencyMhz = 5955;
    bss.capability = 0x0010;
    bss.seenMsAgo = 300;
    bss.elements =
        DecodeElements(Concat({msg::NameElement(std::string(40, 'n')), msg::RsnElement({8}),
                               msg::HeCapabilities(), msg::HeOperation6Ghz(1, 2)}));
    const Reading r = ReadingOf(bss, -95);
    EXPECT_EQ(r.attribute, 1);
    EXPECT_EQ(r.name, std::string(40, 'n'));
    const ReadingDetails& d = *r.details;
    EXPECT_EQ(d.frequencyMhz, 5955);
    EXPECT_EQ(d.channel, 1);
    EXPECT_EQ(d.band, "6");
    EXPECT_EQ(d.security, "wpa3");
    EXPECT_EQ(d.phy, "ax");
    EXPECT_EQ(d.widthMhz, 80);
    EXPECT_EQ(d.noiseDbm, -95);
    EXPECT_EQ(d.ageMs, 300);
    EXPECT_EQ(d.fullName, std::string(40, 'n'));

    // No channel known, or a hidden name: zero and empty.
    Bss odd = MakeBss(5, -4000);
    odd.frequencyMhz = 5900;
    odd.elements = DecodeElements(msg::NameElement(std::string(3, '\0')));
    const Reading o = ReadingOf(odd, std::nullopt);
    EXPECT_EQ(o.attribute, 0);
    EXPECT_FALSE(o.details->channel);
    EXPECT_EQ(o.name, "");
}

TEST(WifiReading, OnlyAnUnspecifiedSignalStaysOutOfTheCollection) {
    const Reading r = ReadingOf(MakeBss(2, std::nullopt, 70), std::nullopt);
    EXPECT_FALSE(r.inCollection);
    EXPECT_EQ(r.details->signalUnspec, 70);
    EXPECT_FALSE(r.details->signalMbm);
}

TEST(WifiReading, StrongestFirstTiesByBssid) {
    std::vector<Reading> readings;
    for (const Bss& b : {MakeBss(9, -7000), MakeBss(3, std::nullopt, 40), MakeBss(8, -5000),
                         MakeBss(2, -7000), MakeBss(1, std::nullopt, 90), MakeBss(7, -5000)})
        readings.push_back(ReadingOf(b, std::nullopt));
    SortStrongestFirst(readings);
    std::vector<int> order;
    for (const Reading& r : readings)
        order.push_back(r.mac[5]);
    EXPECT_EQ(order, (std::vector<int>{7, 8, 2, 9, 1, 3}));
}

}  // namespace
}  // namespace ketrion::source::wifi
