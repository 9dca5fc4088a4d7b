// Lines `ktd dump` prints from a side store, for example:
//
//   point 1 at 33: survey 40.0000000 -74.5000000 ... readings 2
//     side: source wifi, method walk, plan 120.25 -3.50 "Level 2", fix stale,
//           eph 4.8 m, satellites 9, ..., deleted            (one line)
//     00-1A-2B-3C-4D-5E -72 dBm attr 0x11 "LAB1"
//       side: channel 36, 5180 MHz, band "5 GHz", security "WPA2-PSK", ...
//     side only: aa:bb:cc:dd:ee:07 -81.50 dBm "hidden-ish" channel 11, ...

#include "tools/ktd/SideDump.h"

#include <cctype>
#include <cstdio>
#include <ctime>

#include "model/Text.h"
#include "survey/CollectionFile.h"

namespace ketrion::ktd {
namespace {

// Text from the store as a terminal can show it: printable ASCII as is,
// everything else (and the quote and backslash) as \xHH.
std::string Quoted(const std::string& text) {
    // Appended, not concatenated: GCC 12 warns (wrongly) on "..." + string&&.
    std::string out = "\"";
    out += EscapeHex(text);
    out += '"';
    return out;
}

std::string Number(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Wall-clock milliseconds since 1970 as a UTC time.
std::string WallClock(std::int64_t ms) {
    std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    char text[64];
    if (ms < 0 || gmtime_r(&seconds, &tm) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm) == 0) {
        return std::to_string(ms) + " ms";
    }
    char withMs[80];
    std::snprintf(withMs, sizeof withMs, "%s.%03d UTC", text, static_cast<int>(ms % 1000));
    return withMs;
}

// Adds "label value" items separated by commas (built by appending: GCC 12
// warns wrongly about some chains of string +).
class Items {
public:
    void Add(const std::string& label, const std::string& value = {}) {
        if (!m_text.empty())
            m_text += ", ";
        m_text += label;
        if (!value.empty()) {
            m_text += ' ';
            m_text += value;
        }
    }
    void Text(const char* label, const std::string& value) {
        if (!value.empty())
            Add(label, Quoted(value));
    }
    template <typename T>
    void Int(const char* label, const std::optional<T>& value, const char* unit = "") {
        if (value)
            Add(label, std::to_string(*value).append(unit));
    }
    const std::string& Result() const { return m_text; }

private:
    std::string m_text;
};

// "aa:bb:cc:dd:ee:ff" for the reading record's address.
std::string Bssid(const std::uint8_t* reading) {
    return MacText(reading + collection::kMacAt);
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

std::string SidePointText(const SideStore::Point& point) {
    Items items;
    items.Text("source", point.scanSource);
    items.Text("method", point.method);
    if (point.planX && point.planY)
        items.Add("plan",
                  Number("%.2f", *point.planX).append(" ").append(Number("%.2f", *point.planY)));
    items.Text("floor", point.floor);
    if (point.timeMs != 0)
        items.Add("time", WallClock(point.timeMs));
    items.Text("fix", point.fixFlag);
    if (point.ephMetres)
        items.Add("eph", Number("%.1f", *point.ephMetres).append(" m"));
    items.Int("satellites", point.satellites);
    items.Int("mode", point.mode);
    if (point.altitudeMetres)
        items.Add("altitude", Number("%.1f", *point.altitudeMetres).append(" m"));
    if (point.scanStartMs && point.scanEndMs) {
        items.Add("scan", std::to_string(*point.scanStartMs)
                              .append("..")
                              .append(std::to_string(*point.scanEndMs))
                              .append(" ms"));
    }
    if (point.provisional)
        items.Add("provisional");
    if (point.deleted)
        items.Add("deleted");
    return items.Result();
}

std::string SideReadingText(const SideStore::Reading& reading, const std::string& fileSsid) {
    Items items;
    items.Int("channel", reading.channel);
    items.Int("frequency", reading.frequencyMhz, " MHz");
    items.Text("band", reading.band);
    items.Text("security", reading.security);
    items.Text("phy", reading.phy);
    items.Int("width", reading.widthMhz, " MHz");
    items.Int("noise", reading.noiseDbm, " dBm");
    items.Int("age", reading.ageMs, " ms");
    // The file holds at most 32 bytes of the name: the whole one when it differs.
    if (!reading.ssid.empty() && reading.ssid != fileSsid)
        items.Text("name", reading.ssid);
    return items.Result();
}

void SideDump::Header(const std::uint8_t* header25) {
    std::string message;
    m_store = SideStore::OpenForReading(m_path, SideIdentity(m_path, header25), &message);
    if (!message.empty()) {
        std::fflush(stdout);
        std::fprintf(stderr, "ktd: %s\n", message.c_str());
    }
    if (m_store != nullptr)
        m_points = m_store->Points();
}

void SideDump::Point(std::int64_t offset, const std::uint8_t* location) {
    if (m_store == nullptr)
        return;
    FinishPoint();
    m_inPoint = true;
    m_next = 0;
    m_count = collection::Get16(location + collection::kCountAt);
    m_readings = m_store->ReadingsOf(offset);
    const auto found = m_points.find(offset);
    if (found != m_points.end()) {
        const std::string text = SidePointText(found->second);
        if (!text.empty())
            std::printf("  side: %s\n", text.c_str());
    }
    if (m_count == 0)
        FinishPoint();
}

void SideDump::Reading(const std::uint8_t* reading) {
    if (m_store == nullptr)
        return;
    const int index = static_cast<int>(m_next++);
    for (const SideStore::Reading& side : m_readings) {
        // The row of this reading, when it names the same access point (a
        // store out of step with its file shows nothing rather than wrong details).
        if (side.index != index || !side.inCollection)
            continue;
        if (Lower(side.bssid) == Bssid(reading)) {
            const std::string text = SideReadingText(side, collection::Ssid(reading));
            if (!text.empty())
                std::printf("    side: %s\n", text.c_str());
        }
        break;
    }
    if (m_next == m_count)
        FinishPoint();
}

void SideDump::End() {
    if (m_store != nullptr)
        FinishPoint();
}

void SideDump::FinishPoint() {
    if (!m_inPoint)
        return;
    m_inPoint = false;
    for (const SideStore::Reading& side : m_readings) {
        if (side.inCollection)
            continue;
        std::string signal;
        if (side.signalMbm) {
            signal = Number(" %.2f dBm", *side.signalMbm / 100.0);
        } else if (side.signalUnspec) {
            signal = Number(" signal %.0f", *side.signalUnspec);
        }
        const std::string text = SideReadingText(side, {});
        std::printf("  side only: %s%s%s%s\n", Quoted(side.bssid).c_str(), signal.c_str(),
                    text.empty() ? "" : " ", text.c_str());
    }
    m_readings.clear();
}

}  // namespace ketrion::ktd
