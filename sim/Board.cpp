#include "sim/Board.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>

#include "protocol/FrameFormat.h"

namespace ketrion::sim {

namespace {

constexpr double kMetersPerDegree = 111320.0;  // of latitude; of longitude times cos(lat)
constexpr double kPi = 3.14159265358979323846;
constexpr double kUnitsPerDegree = 3600000.0;  // GPS report coordinate unit: milliarcseconds
constexpr double kGeoidSeparation = 46.0;      // ellipsoid height minus sea-level height, m
constexpr int kWeakest = -100;                 // the board's signal range, dBm
constexpr int kStrongest = -20;
constexpr std::size_t kEntriesPerReport = 32;  // the program takes at most 32 per frame
constexpr std::size_t kNameField = 32;
constexpr std::uint16_t kDetailFlags = 0x0001;  // not interpreted by the program
constexpr int kMaxNoiseBytes = 8;

void Put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}

void Put32(std::uint8_t* p, std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    p[0] = static_cast<std::uint8_t>(u >> 24);
    p[1] = static_cast<std::uint8_t>(u >> 16);
    p[2] = static_cast<std::uint8_t>(u >> 8);
    p[3] = static_cast<std::uint8_t>(u);
}

std::int32_t ToUnits(double degrees) {
    return static_cast<std::int32_t>(std::llround(degrees * kUnitsPerDegree));
}

// North and east offsets in metres from (lat1, lon1) to (lat2, lon2).
void Offset(double lat1, double lon1, double lat2, double lon2, double& north, double& east) {
    const double midLat = (lat1 + lat2) * 0.5 * kPi / 180.0;
    north = (lat2 - lat1) * kMetersPerDegree;
    east = (lon2 - lon1) * kMetersPerDegree * std::cos(midLat);
}

}  // namespace

double DistanceMeters(double lat1, double lon1, double lat2, double lon2) {
    double north = 0.0;
    double east = 0.0;
    Offset(lat1, lon1, lat2, lon2, north, east);
    return std::hypot(north, east);
}

double MeanSignal(const Scenario& s, const AccessPoint& ap, double meters) {
    return ap.txPower + s.pathLossReference -
           10.0 * s.pathLossExponent * std::log10(std::max(meters, 1.0));
}

double ShadowingDb(const Scenario& s, std::size_t index, double lat, double lon) {
    if (s.pathLossShadowing <= 0.0 || index >= s.accessPoints.size()) {
        return 0.0;
    }
    const AccessPoint& ap = s.accessPoints[index];
    double north = 0.0;
    double east = 0.0;
    Offset(ap.lat, ap.lon, lat, lon, north, east);
    const auto row = static_cast<std::uint32_t>(
        static_cast<std::int32_t>(std::floor(north / kShadowingSquareMetres)));
    const auto column = static_cast<std::uint32_t>(
        static_cast<std::int32_t>(std::floor(east / kShadowingSquareMetres)));
    // One generator per square, seeded by mixing the seed, the access point
    // and the square (multipliers from the golden ratio and two large primes).
    const std::uint32_t key = s.seed ^ (static_cast<std::uint32_t>(index) * 0x9E3779B9u) ^
                              (row * 0x85EBCA6Bu) ^ (column * 0xC2B2AE35u) ^ 0x3C6EF372u;
    Rng square(key);
    return square.Normal(s.pathLossShadowing);
}

Board::Board(const Scenario& scenario, std::int64_t startUtc)
    : m_scenario(scenario),
      m_startUtc(startUtc),
      m_signals(scenario.seed),
      m_timing(scenario.seed ^ 0x5A5A5A5Au),
      m_faults(scenario.seed ^ 0xA5A5A5A5u),
      m_nextGps(scenario.gpsPeriodMs) {
    const auto& w = m_scenario.waypoints;
    const std::size_t legs = w.size() < 2 ? 0 : (m_scenario.loop ? w.size() : w.size() - 1);
    for (std::size_t i = 0; i < legs; ++i) {
        m_legStart.push_back(m_trackLength);
        const Waypoint& a = w[i];
        const Waypoint& b = w[(i + 1) % w.size()];
        m_trackLength += DistanceMeters(a.lat, a.lon, b.lat, b.lon);
    }
}

void Board::Receive(const std::uint8_t* bytes, std::size_t length, Millis now) {
    m_parser.Feed(bytes, length, [&](const FrameView& f) {
        // Requests carry 0x00 in the check position, so the board ignores the
        // check and takes every complete frame.
        const std::size_t payload = f.length > 0 ? f.length - 1 : 0;
        ++m_counters.requests;
        OnRequest(f.type, f.body, payload, now);
    });
}

void Board::OnRequest(std::uint8_t type, const std::uint8_t* payload, std::size_t length,
                      Millis now) {
    switch (type) {
        case frame::kVersion: {
            // The firmware text and its terminator.
            const std::string& text = m_scenario.firmware;
            Emit(type, reinterpret_cast<const std::uint8_t*>(text.c_str()), text.size() + 1, now);
            break;
        }
        case frame::kSerial: {
            // Always 8 bytes; a shorter serial number is padded with zeros.
            std::uint8_t serial[8] = {};
            std::memcpy(serial, m_scenario.serial.data(),
                        std::min<std::size_t>(8, m_scenario.serial.size()));
            Emit(type, serial, sizeof serial, now);
            break;
        }
        case frame::kConfigure:
            // Acknowledged by echoing the configuration value.
            Emit(type, payload, std::min<std::size_t>(length, 1), now);
            break;
        case frame::kScanStart:
            // A board that is already scanning finishes that scan first and
            // does not queue another.
            if (!m_scanning) {
                StartScan(now);
            }
            break;
        default:
            break;
    }
}

void Board::StartScan(Millis now) {
    m_scanning = true;
    ++m_counters.scans;
    Emit(frame::kScanStart, nullptr, 0, now);
    const Millis duration = m_timing.Between(m_scenario.scanMinMs, m_scenario.scanMaxMs);
    const int passes = std::max(1, m_scenario.scanPasses);
    for (int i = 1; i <= passes; ++i) {
        Schedule(now + duration * i / (passes + 1), Event::ScanReport);
    }
    Schedule(now + duration, Event::ScanEnd);
    m_dropScanEnd = m_faults.Chance(m_scenario.faults.loseScanEnd);
}

void Board::Schedule(Millis at, Event what) {
    auto it = std::upper_bound(m_events.begin(), m_events.end(), at,
                               [](Millis t, const Scheduled& e) { return t < e.at; });
    m_events.insert(it, Scheduled{at, what});
}

Board::Millis Board::NextEvent() const {
    Millis next = -1;
    if (m_scenario.gpsPeriodMs > 0) {
        next = m_nextGps;
    }
    if (!m_events.empty() && (next < 0 || m_events.front().at < next)) {
        next = m_events.front().at;
    }
    return next;
}

void Board::Advance(Millis now) {
    for (;;) {
        const bool gpsDue = m_scenario.gpsPeriodMs > 0 && m_nextGps <= now;
        const bool eventDue = !m_events.empty() && m_events.front().at <= now;
        if (!gpsDue && !eventDue) {
            return;
        }
        // Whichever is earlier goes first; a GPS report wins a tie.
        if (gpsDue && (!eventDue || m_nextGps <= m_events.front().at)) {
            const Millis at = m_nextGps;
            m_nextGps += m_scenario.gpsPeriodMs;
            const auto body = GpsBody(at);
            ++m_counters.gpsReports;
            Emit(frame::kGpsReport, body.data(), body.size(), at);
            continue;
        }
        const Scheduled e = m_events.front();
        m_events.erase(m_events.begin());
        if (e.what == Event::ScanReport) {
            SendReports(e.at);
        } else if (e.what == Event::ScanEnd) {
            m_scanning = false;
            if (!m_dropScanEnd) {
                Emit(frame::kScanEnd, nullptr, 0, e.at);
            }
        }
    }
}

void Board::SendReports(Millis now) {
    const TrackPoint here = PositionAt(now);
    const std::vector<Reading> heard = Hear(here.lat, here.lon);
    for (std::size_t first = 0; first < heard.size(); first += kEntriesPerReport) {
        const std::size_t n = std::min(kEntriesPerReport, heard.size() - first);
        std::vector<std::uint8_t> body;
        body.reserve(2 + n * (8 + 37));
        body.push_back(static_cast<std::uint8_t>(n));
        for (std::size_t j = 0; j < n; ++j) {
            const Reading& r = heard[first + j];
            const AccessPoint& ap = m_scenario.accessPoints[r.index];
            body.insert(body.end(), ap.mac.begin(), ap.mac.end());
            const auto signal = static_cast<std::uint16_t>(r.signal);
            body.push_back(static_cast<std::uint8_t>(signal & 0xFF));
            body.push_back(static_cast<std::uint8_t>(signal >> 8));
        }
        // Every entry comes with its detail record.
        body.push_back(static_cast<std::uint8_t>(n));
        for (std::size_t j = 0; j < n; ++j) {
            const AccessPoint& ap = m_scenario.accessPoints[heard[first + j].index];
            const std::size_t nameLength = std::min(ap.ssid.size(), kNameField);
            body.push_back(static_cast<std::uint8_t>(j));
            body.push_back(static_cast<std::uint8_t>(nameLength));
            const std::size_t nameAt = body.size();
            body.resize(nameAt + kNameField, 0);
            std::memcpy(body.data() + nameAt, ap.ssid.data(), nameLength);
            body.push_back(ap.attribute);
            body.push_back(static_cast<std::uint8_t>(kDetailFlags & 0xFF));
            body.push_back(static_cast<std::uint8_t>(kDetailFlags >> 8));
        }
        Emit(frame::kScanReport, body.data(), body.size(), now);
    }
}

void Board::Emit(std::uint8_t type, const std::uint8_t* payload, std::size_t length, Millis now) {
    if (m_scenario.faults.silent) {
        return;
    }
    const Faults& f = m_scenario.faults;
    Millis due = std::max(now, m_lastDue);

    if (m_faults.Chance(f.noise)) {
        Chunk noise{due, {}};
        const int count = m_faults.Between(1, kMaxNoiseBytes);
        for (int i = 0; i < count; ++i) {
            std::uint8_t b = m_faults.Byte();
            // A stray lead byte would swallow the next frame's start; the noise
            // here stands for bytes between frames, which the program skips.
            if (b == frame::kLead) {
                b = 0x00;
            }
            noise.bytes.push_back(b);
        }
        m_output.push_back(std::move(noise));
    }

    std::uint8_t check = frame::Check(type, payload, length);
    if (m_faults.Chance(f.badCheck)) {
        check = static_cast<std::uint8_t>(check ^ (m_faults.Byte() | 1));
    }
    std::vector<std::uint8_t> encoded(frame::EncodedSizeBound(length));
    encoded.resize(frame::Encode(type, payload, length, check, encoded.data(), encoded.size()));
    ++m_counters.frames;

    if (encoded.size() >= 3 && m_faults.Chance(f.split)) {
        const int pieces = m_faults.Between(2, 3);
        std::size_t from = 0;
        for (int i = 0; i < pieces; ++i) {
            const std::size_t left = encoded.size() - from;
            const std::size_t remainingPieces = static_cast<std::size_t>(pieces - i);
            std::size_t size = left;
            if (remainingPieces > 1) {
                size = static_cast<std::size_t>(
                    m_faults.Between(1, static_cast<int>(left - (remainingPieces - 1))));
            }
            m_output.push_back(Chunk{due, {encoded.begin() + from, encoded.begin() + from + size}});
            from += size;
            if (i + 1 < pieces) {
                due += f.splitDelayMs;
            }
        }
    } else {
        m_output.push_back(Chunk{due, std::move(encoded)});
    }
    m_lastDue = due;
}

bool Board::TakeDue(Millis now, std::vector<std::uint8_t>& out) {
    bool any = false;
    while (!m_output.empty() && m_output.front().due <= now) {
        const auto& bytes = m_output.front().bytes;
        out.insert(out.end(), bytes.begin(), bytes.end());
        m_output.pop_front();
        any = true;
    }
    return any;
}

TrackPoint Board::PositionAt(Millis t) const {
    TrackPoint p;
    const auto& w = m_scenario.waypoints;
    if (w.empty()) {
        // No walk: stand in the middle of the access points.
        const auto& aps = m_scenario.accessPoints;
        for (const AccessPoint& ap : aps) {
            p.lat += ap.lat / static_cast<double>(aps.size());
            p.lon += ap.lon / static_cast<double>(aps.size());
        }
        return p;
    }
    p.lat = w[0].lat;
    p.lon = w[0].lon;
    if (m_trackLength <= 0.0 || m_scenario.speed <= 0.0 || t <= 0) {
        return p;
    }
    double s = m_scenario.speed * static_cast<double>(t) / 1000.0;
    bool moving = true;
    if (m_scenario.loop) {
        s = std::fmod(s, m_trackLength);
    } else if (s >= m_trackLength) {
        s = m_trackLength;
        moving = false;
    }
    // The leg that holds distance s.
    std::size_t leg = static_cast<std::size_t>(
        std::upper_bound(m_legStart.begin(), m_legStart.end(), s) - m_legStart.begin());
    leg = leg == 0 ? 0 : leg - 1;
    const Waypoint& a = w[leg];
    const Waypoint& b = w[(leg + 1) % w.size()];
    const double legLength = DistanceMeters(a.lat, a.lon, b.lat, b.lon);
    const double f =
        legLength > 0.0 ? std::clamp((s - m_legStart[leg]) / legLength, 0.0, 1.0) : 0.0;
    p.lat = a.lat + (b.lat - a.lat) * f;
    p.lon = a.lon + (b.lon - a.lon) * f;
    double north = 0.0;
    double east = 0.0;
    Offset(a.lat, a.lon, b.lat, b.lon, north, east);
    double heading = std::atan2(east, north) * 180.0 / kPi;
    if (heading < 0.0) {
        heading += 360.0;
    }
    p.heading = heading;
    p.speed = moving ? m_scenario.speed : 0.0;
    return p;
}

int Board::FixCodeAt(Millis t) const {
    const auto& steps = m_scenario.fixes;
    if (steps.empty()) {
        return 7;
    }
    double end = 0.0;
    for (std::size_t i = 0; i + 1 < steps.size(); ++i) {
        if (steps[i].seconds <= 0.0) {
            return steps[i].code;
        }
        end += steps[i].seconds;
        if (static_cast<double>(t) < end * 1000.0) {
            return steps[i].code;
        }
    }
    return steps.back().code;
}

std::vector<Reading> Board::Hear(double lat, double lon) {
    std::vector<Reading> heard;
    const auto& aps = m_scenario.accessPoints;
    for (std::size_t i = 0; i < aps.size(); ++i) {
        const double d = DistanceMeters(lat, lon, aps[i].lat, aps[i].lon);
        // Draw for every access point, heard or not, so one AP's fate does not
        // shift the noise of the others.
        const double slabs = std::abs(aps[i].level - m_level);
        const double value =
            std::round(MeanSignal(m_scenario, aps[i], d) + ShadowingDb(m_scenario, i, lat, lon) -
                       slabs * m_scenario.floorLoss + m_signals.Normal(m_scenario.pathLossSigma));
        if (value < m_scenario.pathLossFloor) {
            continue;
        }
        const int clamped =
            std::clamp(static_cast<int>(std::max(value, -1000.0)), kWeakest, kStrongest);
        heard.push_back(Reading{i, static_cast<std::int16_t>(clamped)});
    }
    return heard;
}

std::array<std::uint8_t, 152> Board::GpsBody(Millis t) const {
    std::array<std::uint8_t, 152> b{};
    std::uint8_t* p = b.data();
    std::memcpy(p, "@@Ha", 4);  // NOLINT(bugprone-not-null-terminated-result): fixed field

    const std::time_t utc = static_cast<std::time_t>(m_startUtc + t / 1000);
    std::tm tm{};
    gmtime_r(&utc, &tm);
    p[4] = static_cast<std::uint8_t>(tm.tm_mon + 1);
    p[5] = static_cast<std::uint8_t>(tm.tm_mday);
    Put16(p + 6, static_cast<std::uint16_t>(tm.tm_year + 1900));
    p[8] = static_cast<std::uint8_t>(tm.tm_hour);
    p[9] = static_cast<std::uint8_t>(tm.tm_min);
    p[10] = static_cast<std::uint8_t>(tm.tm_sec);
    Put32(p + 11, static_cast<std::int32_t>((t % 1000) * 1000000));  // nanoseconds

    const TrackPoint here = PositionAt(t);
    const std::int32_t lat = ToUnits(here.lat);
    const std::int32_t lon = ToUnits(here.lon);
    const auto msl = static_cast<std::int32_t>(std::lround(m_scenario.altitude * 100.0));  // cm
    const auto ellipsoid =
        static_cast<std::int32_t>(std::lround((m_scenario.altitude + kGeoidSeparation) * 100.0));
    // Filtered (15..30) and unfiltered (31..46) positions and heights.
    for (std::size_t at : {15u, 31u}) {
        Put32(p + at, lat);
        Put32(p + at + 4, lon);
        Put32(p + at + 8, ellipsoid);
        Put32(p + at + 12, msl);
    }
    const auto speed = static_cast<std::uint16_t>(std::lround(here.speed * 100.0));  // cm/s
    Put16(p + 47, speed);
    Put16(p + 49, speed);
    Put16(p + 51, static_cast<std::uint16_t>(std::lround(here.heading * 10.0)) % 3600);  // 0.1 deg

    const int code = FixCodeAt(t);
    const std::uint8_t tracked = code >= 7 ? 8 : code == 6 ? 5 : code >= 4 ? 3 : 1;
    Put16(p + 53, static_cast<std::uint16_t>(code >= 6 ? 14 : 0));  // DOP in tenths
    p[55] = 10;
    p[56] = tracked;
    for (std::uint8_t ch = 0; ch < 12; ++ch) {
        std::uint8_t* rec = p + 57 + 6 * ch;
        const bool tracking = ch < tracked;
        rec[0] = static_cast<std::uint8_t>(3 + ch * 2);              // satellite number
        rec[1] = tracking ? 8 : 0;                                   // tracking mode
        rec[2] = tracking ? static_cast<std::uint8_t>(40 + ch) : 0;  // signal strength
        rec[3] = tracking ? 0x2A : 0;                                // ephemeris issue
        rec[4] = tracking ? 0xA2 : 0;                                // channel status
        rec[5] = 0;
    }
    p[129] = static_cast<std::uint8_t>(code << 5);
    Put16(p + 139, 50);                 // 25 degrees C, in half degrees
    std::memcpy(p + 145, "KTSIM1", 6);  // NOLINT(bugprone-not-null-terminated-result): fixed field
    std::uint8_t sum = 0;
    for (std::size_t i = 2; i < 151; ++i) {
        sum = static_cast<std::uint8_t>(sum ^ p[i]);
    }
    p[151] = sum;
    return b;
}

}  // namespace ketrion::sim
