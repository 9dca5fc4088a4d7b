#pragma once

// Writes a synthetic collection file (and, when asked, its side store): a
// grid of survey points with a 3D fix and a valid time, each with the same
// number of readings from a pool of access points whose signal falls with
// distance, named with a few non-ASCII and tab characters among them.
// Header-only, no test framework: benchmarks use it too.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "survey/CollectionFile.h"
#include "survey/SideStore.h"

namespace ketrion::testing {

struct SyntheticSpec {
    int points = 100;
    int readingsPerPoint = 8;
    int accessPoints = 40;
    int seed = 1;           // moves the grid and changes the addresses
    bool sideStore = true;  // also write FILE.ktd.side
    std::string floor = "2";
    int step = 32;  // position units (1/3,600,000 degree) between neighbouring points
};

inline bool WriteSyntheticSurvey(const std::string& path, const SyntheticSpec& spec) {
    using namespace collection;
    std::vector<std::uint8_t> bytes(kHeaderSize + 8, 0);
    Put32(&bytes[0], 25);
    std::copy(std::begin(kMagic), std::end(kMagic), bytes.begin() + 4);
    bytes[8] = 1;
    Put32(&bytes[kCreatedAt], 1700000000U + static_cast<std::uint32_t>(spec.seed));
    Put32(&bytes[21], 25);
    Put32(&bytes[25], kLocationSize);
    Put32(&bytes[29], kReadingSize);
    std::vector<SideStore::Point> sidePoints;
    std::map<std::int64_t, std::vector<SideStore::Reading>> sideReadings;
    const int side = static_cast<int>(std::ceil(std::sqrt(spec.points)));
    for (int i = 0; i < spec.points; ++i) {
        const int gx = i % side, gy = i / side;
        const std::int64_t at = static_cast<std::int64_t>(bytes.size());
        bytes.resize(bytes.size() + kLocationSize + kReadingSize * spec.readingsPerPoint, 0);
        std::uint8_t* l = &bytes[static_cast<std::size_t>(at)];
        // 40.000 N -74.500 E plus about 1 m a step.
        Put32(l + kLatitudeAt,
              static_cast<std::uint32_t>(144000000 + gy * spec.step + spec.seed * 7));
        Put32(l + kLongitudeAt, static_cast<std::uint32_t>(-268200000 + gx * spec.step));
        Put16(l + kYearAt, 2026);
        l[kMonthAt] = 12;
        l[kDayAt] = 9;
        l[kHourAt] = static_cast<std::uint8_t>(10 + i / 3600 % 10);
        l[kMinuteAt] = static_cast<std::uint8_t>(i / 60 % 60);
        l[kSecondAt] = static_cast<std::uint8_t>(i % 60);
        l[kFixClassAt] = 2;
        Put16(l + kCountAt, static_cast<std::uint16_t>(spec.readingsPerPoint));
        SideStore::Point& sp = sidePoints.emplace_back();
        sp.offset = at;
        sp.method = "gpsd";
        sp.planX = gx * 2.5;
        sp.planY = gy * 2.5;
        sp.floor = spec.floor;
        auto& rows = sideReadings[at];
        for (int r = 0; r < spec.readingsPerPoint; ++r) {
            const int ap = (i * 7 + r * 13 + spec.seed) % spec.accessPoints;
            std::uint8_t* rd = l + kLocationSize + kReadingSize * r;
            const int apX = (ap * 37) % side, apY = (ap * 53) % side;
            const double d = std::hypot(gx - apX, gy - apY) + 1;
            const int dbm = std::max(-95, static_cast<int>(-35 - 20 * std::log10(d) - r));
            rd[kAttributeAt] = 0x11;
            Put16(rd + kSignalAt, static_cast<std::uint16_t>(dbm * 256));
            const std::uint8_t mac[6] = {0x02,
                                         0x1a,
                                         static_cast<std::uint8_t>(spec.seed),
                                         0,
                                         static_cast<std::uint8_t>(ap >> 8),
                                         static_cast<std::uint8_t>(ap)};
            std::copy(std::begin(mac), std::end(mac), rd + kMacAt);
            std::string ssid = "net-" + std::to_string(ap % 9);
            if (ap % 9 == 4)
                ssid = "caf\xE9\tbar";  // Latin-1 and a tab: not UTF-8, not COPY-safe
            std::copy(ssid.begin(), ssid.end(), rd + kSsidAt);
            SideStore::Reading& sr = rows.emplace_back();
            sr.pointOffset = at;
            sr.index = r;
            char text[18];
            std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1],
                          mac[2], mac[3], mac[4], mac[5]);
            sr.bssid = text;
            sr.ssid = ssid;
            sr.channel = ap % 2 == 0 ? 6 : 36;
            sr.frequencyMhz = ap % 2 == 0 ? 2437 : 5180;
            sr.band = ap % 2 == 0 ? "2.4" : "5";
            sr.security = "wpa2";
            sr.phy = "ax";
            sr.widthMhz = 20;
            sr.noiseDbm = -92;
        }
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written)
        return false;
    if (!spec.sideStore)
        return true;
    std::string message;
    auto store = SideStore::OpenForWriting(path, SideIdentity(path, bytes.data()), &message);
    return store && store->WritePoints(sidePoints, sideReadings, &message) &&
           store->Close(&message);
}

}  // namespace ketrion::testing
