#include "site/FloorAssignment.h"

#include <algorithm>
#include <functional>
#include <map>

namespace ketrion::site {

namespace {

struct Tally {
    std::vector<double> best;  // the strongest readings, at most kAssignReadings, descending
    int strongest = -1000;
    std::size_t points = 0;
    std::string ssid;
};

void Add(Tally& t, double signal, int whole, const std::string& ssid) {
    if (whole > t.strongest) {
        t.strongest = whole;
        t.ssid = ssid;
    }
    const auto at = std::upper_bound(t.best.begin(), t.best.end(), signal, std::greater<>());
    t.best.insert(at, signal);
    if (t.best.size() > kAssignReadings)
        t.best.pop_back();
}

}  // namespace

std::vector<ApFloor> AssignFloors(const std::vector<const analysis::SurveyRecords*>& floors) {
    // Per access point, per floor.
    std::map<analysis::Mac, std::map<std::size_t, Tally>> heard;
    for (std::size_t f = 0; f < floors.size(); ++f) {
        for (const analysis::SurveyPoint& point : floors[f]->points) {
            if (!point.IsSurvey())
                continue;
            // A point may hold one access point twice (two passes of a scan).
            std::map<analysis::Mac, bool> counted;
            for (const analysis::Reading& r : point.readings) {
                Tally& t = heard[r.mac][f];
                Add(t, r.SignalExact(), r.SignalDbm(), r.ssid);
                if (!counted[r.mac]) {
                    counted[r.mac] = true;
                    ++t.points;
                }
            }
        }
    }
    std::vector<ApFloor> out;
    out.reserve(heard.size());
    for (const auto& [mac, perFloor] : heard) {
        ApFloor ap;
        ap.mac = mac;
        int strongest = -1000;
        for (const auto& [f, t] : perFloor) {
            FloorHearing h;
            h.floor = f;
            double sum = 0;
            for (const double s : t.best)
                sum += s;
            h.measure = sum / static_cast<double>(t.best.size());
            h.strongest = t.strongest;
            h.points = t.points;
            ap.heard.push_back(h);
            if (t.strongest > strongest) {
                strongest = t.strongest;
                ap.ssid = t.ssid;
            }
        }
        std::stable_sort(
            ap.heard.begin(), ap.heard.end(),
            [](const FloorHearing& a, const FloorHearing& b) { return a.measure > b.measure; });
        ap.floor = ap.heard.front().floor;
        if (ap.heard.size() > 1)
            ap.confidenceDb = ap.heard[0].measure - ap.heard[1].measure;
        out.push_back(std::move(ap));
    }
    return out;
}

std::vector<Bleed> BleedOn(std::size_t floor, const std::vector<ApFloor>& assigned) {
    std::vector<Bleed> out;
    for (const ApFloor& ap : assigned) {
        if (ap.floor == floor)
            continue;
        for (const FloorHearing& h : ap.heard)
            if (h.floor == floor)
                out.push_back({ap.mac, ap.ssid, ap.floor, h.strongest, h.points});
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const Bleed& a, const Bleed& b) { return a.strongest > b.strongest; });
    return out;
}

}  // namespace ketrion::site
