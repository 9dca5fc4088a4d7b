#include "sim/Scenario.h"

#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace ketrion::sim {

namespace {

using nlohmann::json;

// Limits that keep a scenario file from asking for absurd work.
constexpr std::size_t kMaxAccessPoints = 1024;
constexpr std::size_t kMaxWaypoints = 10000;
constexpr std::size_t kMaxFixSteps = 1000;
constexpr std::size_t kMaxFileBytes = 4 * 1024 * 1024;
constexpr int kMaxScanMs = 60000;
constexpr int kMaxPasses = 16;

// Typed readers: each returns false with a message naming the key when the
// value is present but unusable; a missing key leaves `out` unchanged.
class Reader {
public:
    explicit Reader(std::string* error) : m_error(error) {}

    bool Fail(const std::string& what) {
        if (m_error != nullptr) {
            *m_error = what;
        }
        return false;
    }

    bool Number(const json& obj, const char* key, double& out, double lo, double hi) {
        const auto it = obj.find(key);
        if (it == obj.end()) {
            return true;
        }
        if (!it->is_number()) {
            return Fail(std::string("\"") + key + "\" must be a number");
        }
        const double v = it->get<double>();
        if (!std::isfinite(v) || v < lo || v > hi) {
            std::ostringstream s;
            s << "\"" << key << "\" must be between " << lo << " and " << hi;
            return Fail(s.str());
        }
        out = v;
        return true;
    }

    template <typename Int>
    bool Integer(const json& obj, const char* key, Int& out, double lo, double hi) {
        double v = static_cast<double>(out);
        if (!Number(obj, key, v, lo, hi)) {
            return false;
        }
        if (v != std::floor(v)) {
            return Fail(std::string("\"") + key + "\" must be a whole number");
        }
        out = static_cast<Int>(v);
        return true;
    }

    bool Text(const json& obj, const char* key, std::string& out, std::size_t maxLength) {
        const auto it = obj.find(key);
        if (it == obj.end()) {
            return true;
        }
        if (!it->is_string()) {
            return Fail(std::string("\"") + key + "\" must be a text");
        }
        const std::string& v = it->get_ref<const std::string&>();
        if (v.size() > maxLength) {
            return Fail(std::string("\"") + key + "\" is longer than " + std::to_string(maxLength) +
                        " bytes");
        }
        out = v;
        return true;
    }

    bool Bool(const json& obj, const char* key, bool& out) {
        const auto it = obj.find(key);
        if (it == obj.end()) {
            return true;
        }
        if (!it->is_boolean()) {
            return Fail(std::string("\"") + key + "\" must be true or false");
        }
        out = it->get<bool>();
        return true;
    }

    // An optional object member; null when absent.
    bool Object(const json& obj, const char* key, const json*& out) {
        out = nullptr;
        const auto it = obj.find(key);
        if (it == obj.end()) {
            return true;
        }
        if (!it->is_object()) {
            return Fail(std::string("\"") + key + "\" must be an object");
        }
        out = &*it;
        return true;
    }

    bool Array(const json& obj, const char* key, const json*& out, std::size_t maxSize) {
        out = nullptr;
        const auto it = obj.find(key);
        if (it == obj.end()) {
            return true;
        }
        if (!it->is_array()) {
            return Fail(std::string("\"") + key + "\" must be a list");
        }
        if (it->size() > maxSize) {
            return Fail(std::string("\"") + key + "\" has more than " + std::to_string(maxSize) +
                        " items");
        }
        out = &*it;
        return true;
    }

private:
    std::string* m_error;
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Accepts "00:1A:2B:3C:4D:5E", "00-1A-...", or 12 hex digits.
bool ParseMac(const std::string& text, std::array<std::uint8_t, 6>& mac) {
    std::size_t pos = 0;
    for (std::size_t i = 0; i < 6; ++i) {
        if (i > 0 && pos < text.size() && (text[pos] == ':' || text[pos] == '-')) {
            ++pos;
        }
        if (pos + 2 > text.size()) {
            return false;
        }
        const int hi = HexDigit(text[pos]);
        const int lo = HexDigit(text[pos + 1]);
        if (hi < 0 || lo < 0) {
            return false;
        }
        mac[i] = static_cast<std::uint8_t>(hi * 16 + lo);
        pos += 2;
    }
    return pos == text.size();
}

bool ParsePosition(Reader& r, const json& obj, double& lat, double& lon) {
    if (obj.find("lat") == obj.end() || obj.find("lon") == obj.end()) {
        return r.Fail("a position needs \"lat\" and \"lon\"");
    }
    return r.Number(obj, "lat", lat, -90.0, 90.0) && r.Number(obj, "lon", lon, -180.0, 180.0);
}

bool ParseInto(const json& root, Scenario& s, std::string* error) {
    Reader r(error);
    if (!root.is_object()) {
        return r.Fail("the scenario must be a JSON object");
    }
    if (!r.Text(root, "name", s.name, 200) || !r.Text(root, "firmware", s.firmware, 31) ||
        !r.Text(root, "serial", s.serial, 8) || !r.Integer(root, "seed", s.seed, 0, 4294967295.0) ||
        !r.Integer(root, "gpsPeriodMs", s.gpsPeriodMs, 0, 3600000) ||
        !r.Number(root, "altitude", s.altitude, -1000.0, 20000.0) ||
        !r.Integer(root, "startTime", s.startTime, -1, 4102444800.0)) {
        return false;
    }

    const json* scan = nullptr;
    if (!r.Object(root, "scan", scan)) {
        return false;
    }
    if (scan != nullptr && (!r.Integer(*scan, "minMs", s.scanMinMs, 0, kMaxScanMs) ||
                            !r.Integer(*scan, "maxMs", s.scanMaxMs, 0, kMaxScanMs) ||
                            !r.Integer(*scan, "passes", s.scanPasses, 1, kMaxPasses))) {
        return false;
    }
    if (s.scanMinMs > s.scanMaxMs) {
        return r.Fail("\"minMs\" must not exceed \"maxMs\"");
    }

    const json* loss = nullptr;
    if (!r.Object(root, "pathLoss", loss)) {
        return false;
    }
    if (loss != nullptr && (!r.Number(*loss, "reference", s.pathLossReference, -200.0, 0.0) ||
                            !r.Number(*loss, "exponent", s.pathLossExponent, 0.5, 10.0) ||
                            !r.Number(*loss, "sigma", s.pathLossSigma, 0.0, 50.0) ||
                            !r.Integer(*loss, "floor", s.pathLossFloor, -200, 0) ||
                            !r.Number(*loss, "shadowing", s.pathLossShadowing, 0.0, 30.0) ||
                            !r.Number(*loss, "perFloor", s.floorLoss, 0.0, 100.0))) {
        return false;
    }

    const json* aps = nullptr;
    if (!r.Array(root, "accessPoints", aps, kMaxAccessPoints)) {
        return false;
    }
    if (aps != nullptr) {
        s.accessPoints.clear();
        for (const json& a : *aps) {
            if (!a.is_object()) {
                return r.Fail("each access point must be an object");
            }
            AccessPoint ap;
            std::string mac;
            if (!r.Text(a, "mac", mac, 64)) {
                return false;
            }
            if (!ParseMac(mac, ap.mac)) {
                return r.Fail("access point \"mac\" must be six hex bytes, e.g. 00:1A:2B:3C:4D:5E");
            }
            if (!r.Text(a, "ssid", ap.ssid, 32) ||
                !r.Integer(a, "attribute", ap.attribute, 0, 255) ||
                !ParsePosition(r, a, ap.lat, ap.lon) ||
                !r.Number(a, "txPower", ap.txPower, -50.0, 60.0) ||
                !r.Integer(a, "level", ap.level, -20, 200)) {
                return false;
            }
            s.accessPoints.push_back(ap);
        }
    }

    const json* track = nullptr;
    if (!r.Object(root, "track", track)) {
        return false;
    }
    if (track != nullptr) {
        const json* points = nullptr;
        if (!r.Number(*track, "speed", s.speed, 0.0, 100.0) || !r.Bool(*track, "loop", s.loop) ||
            !r.Array(*track, "waypoints", points, kMaxWaypoints)) {
            return false;
        }
        if (points != nullptr) {
            s.waypoints.clear();
            for (const json& p : *points) {
                if (!p.is_object()) {
                    return r.Fail("each waypoint must be an object");
                }
                Waypoint w;
                if (!ParsePosition(r, p, w.lat, w.lon)) {
                    return false;
                }
                s.waypoints.push_back(w);
            }
        }
    }

    const json* fixes = nullptr;
    if (!r.Array(root, "fixes", fixes, kMaxFixSteps)) {
        return false;
    }
    if (fixes != nullptr) {
        s.fixes.clear();
        for (const json& f : *fixes) {
            if (!f.is_object()) {
                return r.Fail("each fix step must be an object");
            }
            FixStep step;
            if (!r.Integer(f, "code", step.code, 0, 7) ||
                !r.Number(f, "seconds", step.seconds, 0.0, 1e7)) {
                return false;
            }
            s.fixes.push_back(step);
        }
    }

    const json* faults = nullptr;
    if (!r.Object(root, "faults", faults)) {
        return false;
    }
    if (faults != nullptr &&
        (!r.Number(*faults, "noise", s.faults.noise, 0.0, 1.0) ||
         !r.Number(*faults, "badCheck", s.faults.badCheck, 0.0, 1.0) ||
         !r.Number(*faults, "split", s.faults.split, 0.0, 1.0) ||
         !r.Integer(*faults, "splitDelayMs", s.faults.splitDelayMs, 0, 10000) ||
         !r.Number(*faults, "loseScanEnd", s.faults.loseScanEnd, 0.0, 1.0) ||
         !r.Bool(*faults, "silent", s.faults.silent))) {
        return false;
    }
    return true;
}

}  // namespace

bool ParseScenario(const std::string& text, Scenario& out, std::string* error) {
    const json root = json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (root.is_discarded()) {
        if (error != nullptr) {
            *error = "not valid JSON";
        }
        return false;
    }
    Scenario s;
    if (!ParseInto(root, s, error)) {
        return false;
    }
    out = std::move(s);
    return true;
}

Scenario LoadScenario(const std::string& path, std::string* error) {
    std::string message;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        message = "cannot open the scenario file " + path;
    } else {
        std::string text;
        char buffer[4096];
        while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
            text.append(buffer, static_cast<std::size_t>(in.gcount()));
            if (text.size() > kMaxFileBytes) {
                message = "the scenario file " + path + " is larger than 4 MiB";
                break;
            }
        }
        Scenario s;
        if (message.empty() && ParseScenario(text, s, &message)) {
            if (error != nullptr) {
                error->clear();
            }
            return s;
        }
        if (message.find(path) == std::string::npos) {
            message = path + ": " + message;
        }
    }
    if (error != nullptr) {
        *error = message;
    }
    return DefaultScenario();
}

Scenario DefaultScenario() {
    Scenario s;
    std::string error;
    // The compiled-in text is checked by the tests; should it ever fail to parse,
    // the built-in defaults still make a usable (if empty) board.
    ParseScenario(DefaultScenarioText(), s, &error);
    return s;
}

}  // namespace ketrion::sim
