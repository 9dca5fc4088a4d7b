#pragma once

// The recorded Wi-Fi fixtures in tests/data/wifi/, as their generator makes
// them: netlink traffic built with libnl, written with libpcap. The test
// wifi_recording_test checks that the committed files are exactly these
// (KETRION_WRITE_WIFI_FIXTURES=1 rewrites them).

#include <string>

#include "source/wifi/Recording.h"
#include "source/wifi/Requests.h"
#include "support/WifiMessages.h"

namespace ketrion::testing::wifi {

// Capture times: a fixed day, so the files never change.
constexpr std::int64_t kFixtureStartUs = 1'765'000'000'000'000;

inline std::string FixturePath(const std::string& name) {
    return std::string(KETRION_SOURCE_DIR) + "/tests/data/wifi/" + name;
}

// Writes packets with a running capture time.
class FixtureWriter {
public:
    explicit FixtureWriter(const std::string& path) { m_ok = m_writer.Open(path, m_error); }
    void Kernel(const Bytes& bytes, std::int64_t afterMs = 1) {
        Put(source::wifi::Direction::FromKernel, bytes, afterMs);
    }
    void Us(const Bytes& bytes, std::int64_t afterMs = 1) {
        Put(source::wifi::Direction::ToKernel, bytes, afterMs);
    }
    bool Close() { return m_writer.Close(m_error) && m_ok; }
    const std::string& Error() const { return m_error; }

private:
    void Put(source::wifi::Direction direction, const Bytes& bytes, std::int64_t afterMs) {
        m_timeUs += afterMs * 1000;
        if (m_ok)
            m_ok = m_writer.Write(m_timeUs, direction, bytes, m_error);
    }
    source::wifi::CaptureWriter m_writer;
    std::string m_error;
    bool m_ok = false;
    std::int64_t m_timeUs = kFixtureStartUs;
};

inline Bytes ScanDumpRequestBytes(std::uint32_t seq) {
    Message message = NewMessage();
    genlmsg_put(message.get(), kPort, seq, kFamily, 0, NLM_F_REQUEST | NLM_F_DUMP,
                NL80211_CMD_GET_SCAN, 0);
    nla_put_u32(message.get(), NL80211_ATTR_IFINDEX, kIfindex);
    return BytesOf(message);
}

// The access points of the fixtures.
inline BssSpec TransitionNetwork() {  // WPA2/WPA3 transition, 5 GHz, VHT 80
    BssSpec s;
    s.bssid = Mac(0x01);
    s.frequency = 5180;
    s.signalMbm = -5400;
    s.capability = 0x0011;
    s.elements = Concat({NameElement("Office"), RsnElement({2, 8}), HtCapabilities(),
                         HtOperation(36, 1), VhtCapabilities(), VhtOperation(1, 42, 0)});
    return s;
}
inline BssSpec EnterpriseNetwork() {  // 802.1X, 2.4 GHz, HT 40
    BssSpec s;
    s.bssid = Mac(0x02);
    s.frequency = 2412;
    s.signalMbm = -6100;
    s.capability = 0x0011;
    s.elements =
        Concat({NameElement("Corp"), RsnElement({1, 5}), HtCapabilities(), HtOperation(1, 1)});
    return s;
}
inline BssSpec HiddenNetwork() {  // name of zero bytes, WPA2, beacon elements only
    BssSpec s;
    s.bssid = Mac(0x03);
    s.frequency = 2437;
    s.signalMbm = -7250;
    s.capability = 0x0011;
    s.beaconElements = Concat({NameElement(std::string(6, '\0')), RsnElement({2})});
    return s;
}
inline BssSpec SixGhzNetwork() {  // WPA3, 6 GHz, HE with 160 MHz 6 GHz information
    BssSpec s;
    s.bssid = Mac(0x04);
    s.frequency = 6135;
    s.signalMbm = -6900;
    s.capability = 0x0011;
    s.elements = Concat({NameElement("Lab-6E \xF0\x9F\x93\xB6"), RsnElement({8}), HeCapabilities(),
                         HeOperation6Ghz(37, 3), EhtCapabilities()});
    return s;
}
inline BssSpec UnspecifiedSignal() {  // only SIGNAL_UNSPEC, open, legacy
    BssSpec s;
    s.bssid = Mac(0x05);
    s.frequency = 2462;
    s.signalMbm.reset();
    s.signalUnspec = 63;
    s.seenMsAgo.reset();
    s.elements = NameElement("Guest\xFF");
    return s;
}
inline BssSpec CutElement() {  // a name, then an RSN element that runs past the end
    BssSpec s;
    s.bssid = Mac(0x06);
    s.frequency = 5745;
    s.signalMbm = -8025;
    s.capability = 0x0011;
    Bytes elements = Concat({NameElement("Cut"), HtCapabilities()});
    elements.insert(elements.end(), {48, 20, 1, 0, 0x00, 0x0F, 0xAC, 4});
    s.elements = elements;
    return s;
}

// One triggered scan up to its results event: the request, its
// acknowledgement, the kernel's start and end events.
inline void TriggeredScan(FixtureWriter& w, std::uint32_t seq, bool aborted) {
    w.Us(source::wifi::TriggerRequest(kFamily, seq, kIfindex, false), 500);
    w.Kernel(ErrorAnswer(seq, 0));
    w.Kernel(Event(NL80211_CMD_TRIGGER_SCAN), 2);
    w.Kernel(Event(aborted ? NL80211_CMD_SCAN_ABORTED : NL80211_CMD_NEW_SCAN_RESULTS), 3200);
}

// scans.pcap: three scans. The first after a normal trigger, its results in
// two datagrams; the second after an aborted scan; the third a dump with no
// results.
inline bool WriteScansFixture(const std::string& path, std::string& error) {
    FixtureWriter w(path);
    w.Us(source::wifi::FamilyRequest(1, "nl80211"), 0);
    w.Kernel(FamilyAnswer(1));
    w.Kernel(ErrorAnswer(1, 0));

    TriggeredScan(w, 2, false);
    w.Us(ScanDumpRequestBytes(3));
    w.Kernel(Concat({ScanResult(TransitionNetwork(), 3), ScanResult(EnterpriseNetwork(), 3),
                     ScanResult(HiddenNetwork(), 3)}));
    w.Kernel(Concat({ScanResult(SixGhzNetwork(), 3), ScanResult(UnspecifiedSignal(), 3)}));
    w.Kernel(Done(3));

    TriggeredScan(w, 4, true);
    w.Us(ScanDumpRequestBytes(5));
    BssSpec weaker = TransitionNetwork();
    weaker.signalMbm = -5850;
    w.Kernel(Concat({ScanResult(CutElement(), 5), ScanResult(weaker, 5), Done(5)}));

    TriggeredScan(w, 6, false);
    w.Us(ScanDumpRequestBytes(7));
    w.Kernel(Done(7));
    if (!w.Close()) {
        error = w.Error();
        return false;
    }
    return true;
}

// cut.pcap: one whole scan, then a dump that ends before its NLMSG_DONE
// and a last packet cut inside a message.
inline bool WriteCutFixture(const std::string& path, std::string& error) {
    FixtureWriter w(path);
    w.Kernel(FamilyAnswer(1), 0);
    TriggeredScan(w, 2, false);
    w.Us(ScanDumpRequestBytes(3));
    w.Kernel(Concat({ScanResult(EnterpriseNetwork(), 3), Done(3)}));
    TriggeredScan(w, 4, false);
    w.Us(ScanDumpRequestBytes(5));
    w.Kernel(ScanResult(HiddenNetwork(), 5));
    Bytes cut = ScanResult(SixGhzNetwork(), 5);
    cut.resize(cut.size() / 2);
    w.Kernel(cut);
    if (!w.Close()) {
        error = w.Error();
        return false;
    }
    return true;
}

}  // namespace ketrion::testing::wifi
