#include "survey/PendingScan.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <utility>

#include <nlohmann/json.hpp>

namespace ketrion {
namespace {

using Json = nlohmann::json;

// Session-clock times a scan can carry: from 0 to about 292 years in ms,
// far beyond any run, and small enough that sums and differences of two
// never overflow.
constexpr std::int64_t kMaxTimeMs = std::int64_t{1} << 53;
// A network name, full or as the file keeps it, has at most 32 bytes; a
// longer one is refused as not coming from any source.
constexpr std::size_t kMaxNameBytes = 255;
// Readings of one scan: a scan hears a few hundred access points at most.
constexpr std::size_t kMaxReadings = 4096;

Json Bytes(const std::string& text) {
    Json bytes = Json::array();
    for (const char c : text)
        bytes.push_back(static_cast<int>(static_cast<unsigned char>(c)));
    return bytes;
}

void PutOptional(Json& object, const char* key, const std::optional<int>& value) {
    if (value)
        object[key] = *value;
}

Json EncodeDetails(const source::ReadingDetails& d) {
    Json details = Json::object();
    PutOptional(details, "frequency_mhz", d.frequencyMhz);
    PutOptional(details, "channel", d.channel);
    PutOptional(details, "width_mhz", d.widthMhz);
    PutOptional(details, "noise_dbm", d.noiseDbm);
    PutOptional(details, "age_ms", d.ageMs);
    PutOptional(details, "signal_mbm", d.signalMbm);
    PutOptional(details, "signal_unspec", d.signalUnspec);
    details["band"] = Bytes(d.band);
    details["security"] = Bytes(d.security);
    details["phy"] = Bytes(d.phy);
    details["full_name"] = Bytes(d.fullName);
    return details;
}

// A JSON whole number as a signed 64-bit value; none above its range.
std::optional<std::int64_t> AsInt64(const Json& number) {
    if (number.is_number_unsigned()) {
        const auto value = number.get<std::uint64_t>();
        if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return std::nullopt;
        return static_cast<std::int64_t>(value);
    }
    return number.get<std::int64_t>();
}

// Field readers: false with *why naming the field when it is there but wrong.
class Fields {
public:
    Fields(const Json& object, std::string* why) : m_object(object), m_why(why) {}

    bool Int(const char* key, std::int64_t low, std::int64_t high, std::int64_t& out) {
        const auto found = m_object.find(key);
        if (found == m_object.end())
            return true;  // absent: the default stands
        if (!found->is_number_integer())
            return Fail(key, "is not a whole number");
        const std::optional<std::int64_t> value = AsInt64(*found);
        if (!value || *value < low || *value > high)
            return Fail(key, "is out of range");
        out = *value;
        return true;
    }
    bool OptionalInt(const char* key, std::optional<int>& out) {
        if (m_object.find(key) == m_object.end())
            return true;
        std::int64_t value = 0;
        if (!Int(key, std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), value))
            return false;
        out = static_cast<int>(value);
        return true;
    }
    bool Flag(const char* key, bool& out) {
        const auto found = m_object.find(key);
        if (found == m_object.end())
            return true;
        if (!found->is_boolean())
            return Fail(key, "is not true or false");
        out = found->get<bool>();
        return true;
    }
    // A list of byte values (0..255) of at most `most` bytes.
    bool ByteList(const char* key, std::size_t most, std::string& out) {
        const auto found = m_object.find(key);
        if (found == m_object.end())
            return true;
        if (!found->is_array() || found->size() > most)
            return Fail(key, "is not a list of bytes");
        std::string bytes;
        for (const Json& c : *found) {
            if (!c.is_number_integer())
                return Fail(key, "is not a list of bytes");
            const std::optional<std::int64_t> value = AsInt64(c);
            if (!value || *value < 0 || *value > 255)
                return Fail(key, "is not a list of bytes");
            bytes.push_back(static_cast<char>(*value));
        }
        out = std::move(bytes);
        return true;
    }

private:
    bool Fail(const char* key, const char* what) {
        if (m_why != nullptr)
            *m_why = std::string("\"") + key + "\" " + what;
        return false;
    }
    const Json& m_object;
    std::string* m_why;
};

bool DecodeDetails(const Json& object, source::ReadingDetails& d, std::string* why) {
    if (!object.is_object()) {
        if (why != nullptr)
            *why = "\"details\" is not an object";
        return false;
    }
    Fields f(object, why);
    return f.OptionalInt("frequency_mhz", d.frequencyMhz) && f.OptionalInt("channel", d.channel) &&
           f.OptionalInt("width_mhz", d.widthMhz) && f.OptionalInt("noise_dbm", d.noiseDbm) &&
           f.OptionalInt("age_ms", d.ageMs) && f.OptionalInt("signal_mbm", d.signalMbm) &&
           f.OptionalInt("signal_unspec", d.signalUnspec) && f.ByteList("band", 16, d.band) &&
           f.ByteList("security", 32, d.security) && f.ByteList("phy", 16, d.phy) &&
           f.ByteList("full_name", kMaxNameBytes, d.fullName);
}

bool DecodeReading(const Json& object, source::Reading& reading, std::string* why) {
    if (!object.is_object()) {
        if (why != nullptr)
            *why = "a reading is not an object";
        return false;
    }
    Fields f(object, why);
    std::string mac;
    if (!f.ByteList("mac", reading.mac.size(), mac))
        return false;
    if (mac.size() != reading.mac.size()) {
        if (why != nullptr)
            *why = "\"mac\" does not hold 6 bytes";
        return false;
    }
    for (std::size_t i = 0; i < reading.mac.size(); ++i)
        reading.mac[i] = static_cast<std::uint8_t>(mac[i]);
    std::int64_t signal256 = 0;
    std::int64_t dbm = -100;
    std::int64_t attribute = 0;
    if (!f.ByteList("name", kMaxNameBytes, reading.name) ||
        !f.Int("signal256", -32768, 32767, signal256) || !f.Int("dbm", -32768, 32767, dbm) ||
        !f.Int("attribute", 0, 255, attribute) || !f.Flag("in_collection", reading.inCollection))
        return false;
    reading.signal256 = static_cast<std::int16_t>(signal256);
    reading.dbm = static_cast<int>(dbm);
    reading.attribute = static_cast<std::uint8_t>(attribute);
    const auto details = object.find("details");
    if (details != object.end()) {
        source::ReadingDetails d;
        if (!DecodeDetails(*details, d, why))
            return false;
        reading.details = std::move(d);
    }
    return true;
}

}  // namespace

std::string EncodePendingScan(const source::ScanResult& result, const std::string& sourceKind) {
    Json scan;
    scan["started_ms"] = result.startedMs;
    scan["ended_ms"] = result.endedMs;
    scan["source"] = Bytes(sourceKind);
    Json readings = Json::array();
    for (const source::Reading& reading : result.readings) {
        Json r;
        r["mac"] = Json(std::vector<int>(reading.mac.begin(), reading.mac.end()));
        r["name"] = Bytes(reading.name);
        r["signal256"] = reading.signal256;
        r["dbm"] = reading.dbm;
        r["attribute"] = reading.attribute;
        r["in_collection"] = reading.inCollection;
        if (reading.details)
            r["details"] = EncodeDetails(*reading.details);
        readings.push_back(std::move(r));
    }
    scan["readings"] = std::move(readings);
    // Every string above is bytes as numbers: the text is plain ASCII.
    return scan.dump();
}

bool DecodePendingScan(const std::string& body, source::ScanResult& result, std::string* why) {
    const Json scan = Json::parse(body, nullptr, false);
    if (!scan.is_object()) {
        if (why != nullptr)
            *why = "it is not a JSON object";
        return false;
    }
    const auto readings = scan.find("readings");
    if (readings == scan.end() || !readings->is_array() || readings->size() > kMaxReadings) {
        if (why != nullptr)
            *why = "\"readings\" is not a list of readings";
        return false;
    }
    source::ScanResult decoded;
    Fields f(scan, why);
    if (!f.Int("started_ms", 0, kMaxTimeMs, decoded.startedMs) ||
        !f.Int("ended_ms", 0, kMaxTimeMs, decoded.endedMs))
        return false;
    if (decoded.endedMs < decoded.startedMs) {
        if (why != nullptr)
            *why = "the scan ends before it starts";
        return false;
    }
    for (const Json& r : *readings) {
        source::Reading reading;
        if (!DecodeReading(r, reading, why))
            return false;
        decoded.readings.push_back(std::move(reading));
    }
    result = std::move(decoded);
    return true;
}

}  // namespace ketrion
