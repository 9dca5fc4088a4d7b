#include "sim/SimulatedWalk.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "model/Fix.h"
#include "model/Reading.h"
#include "survey/CollectionFile.h"
#include "survey/PointEncoding.h"

namespace ketrion::sim {

namespace {

// Seconds between points: a surveyor's pace with a scan at each stop.
constexpr std::int64_t kSecondsPerPoint = 3;

}  // namespace

std::vector<WalkPoint> WalkFloor(const Scenario& scenario, const WalkRequest& request) {
    Scenario s = scenario;
    s.seed = request.seed;
    Board board(s, request.startUtc);
    board.SetLevel(request.level);
    std::vector<WalkPoint> out;
    const auto& w = s.waypoints;
    const double spacing = std::max(request.spacing, 0.1);
    std::int64_t t = request.startUtc;
    for (std::size_t i = 0; i + 1 < w.size(); ++i) {
        const double length = DistanceMeters(w[i].lat, w[i].lon, w[i + 1].lat, w[i + 1].lon);
        const int steps = std::max(1, static_cast<int>(std::floor(length / spacing)));
        for (int k = 0; k < steps; ++k) {
            const double f = static_cast<double>(k) / steps;
            WalkPoint p;
            p.lat = w[i].lat + (w[i + 1].lat - w[i].lat) * f;
            p.lon = w[i].lon + (w[i + 1].lon - w[i].lon) * f;
            p.utc = t;
            t += kSecondsPerPoint;
            p.heard = board.Hear(p.lat, p.lon);
            out.push_back(std::move(p));
        }
    }
    return out;
}

bool WriteWalk(const std::string& path, const Scenario& scenario,
               const std::vector<WalkPoint>& points, std::string& error) {
    std::vector<std::uint8_t> bytes;
    std::uint8_t head[collection::kFirstRecord];
    collection::EncodeHeader(points.empty() ? 0 : points.front().utc, head);
    bytes.insert(bytes.end(), std::begin(head), std::end(head));
    for (const WalkPoint& p : points) {
        source::Fix fix;
        fix.valid = true;
        fix.latitude = p.lat;
        fix.longitude = p.lon;
        fix.latitudeUnits = static_cast<std::int32_t>(std::lround(p.lat * 3600000.0));
        fix.longitudeUnits = static_cast<std::int32_t>(std::lround(p.lon * 3600000.0));
        fix.fixClass = source::FixClass::Fix3D;
        source::SetUtc(fix, p.utc);
        std::vector<source::Reading> readings;
        for (const Reading& r : p.heard) {
            const AccessPoint& ap = scenario.accessPoints.at(r.index);
            source::Reading reading;
            reading.mac = ap.mac;
            reading.name = ap.ssid;
            reading.dbm = r.signal;
            reading.signal256 = static_cast<std::int16_t>(r.signal * 256);
            reading.attribute = ap.attribute;
            readings.push_back(std::move(reading));
        }
        const collection::EncodedPoint encoded = collection::EncodeSurveyPoint(fix, readings);
        bytes.insert(bytes.end(), encoded.bytes.begin(), encoded.bytes.end());
    }
    std::FILE* file = std::fopen(path.c_str(), "wbx");
    if (file == nullptr) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace ketrion::sim
