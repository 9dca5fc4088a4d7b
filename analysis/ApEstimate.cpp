#include "analysis/ApEstimate.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "analysis/GeoPlane.h"

namespace ketrion::analysis {

Centroid WeightedCentroid(std::span<const ApObservation> observations, std::size_t strongest) {
    Centroid centroid;
    if (observations.empty() || strongest == 0)
        return centroid;
    std::vector<std::size_t> order(observations.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return observations[a].signal > observations[b].signal;
    });
    order.resize(std::min(strongest, order.size()));

    // Weights relative to the strongest reading: 10^((s - max) / 10), the same
    // ratios as milliwatts without their tiny magnitudes.
    const ApObservation& first = observations[order.front()];
    const Plane plane(first.latitude, first.longitude);
    double weightSum = 0;
    double east = 0;
    double north = 0;
    std::vector<double> weights;
    weights.reserve(order.size());
    for (std::size_t i : order) {
        const ApObservation& o = observations[i];
        const double w = std::pow(10.0, (o.signal - first.signal) / 10.0);
        weights.push_back(w);
        weightSum += w;
        east += w * plane.East(o.longitude);
        north += w * plane.North(o.latitude);
    }
    east /= weightSum;
    north /= weightSum;

    double spread = 0;
    for (std::size_t k = 0; k < order.size(); ++k) {
        const ApObservation& o = observations[order[k]];
        const double de = plane.East(o.longitude) - east;
        const double dn = plane.North(o.latitude) - north;
        spread += weights[k] * (de * de + dn * dn);
    }
    centroid.latitude = plane.Latitude(north);
    centroid.longitude = plane.Longitude(east);
    centroid.uncertainty = std::sqrt(spread / weightSum);
    centroid.used = order.size();
    return centroid;
}

double DistanceMetres(double latitude1, double longitude1, double latitude2, double longitude2) {
    // Haversine: well-conditioned for the short distances of a site.
    const double phi1 = latitude1 * kRadiansPerDegree;
    const double phi2 = latitude2 * kRadiansPerDegree;
    const double dPhi = phi2 - phi1;
    const double dLambda = WrapDegrees(longitude2 - longitude1) * kRadiansPerDegree;
    const double a = std::sin(dPhi / 2) * std::sin(dPhi / 2) + std::cos(phi1) * std::cos(phi2) *
                                                                   std::sin(dLambda / 2) *
                                                                   std::sin(dLambda / 2);
    return 2 * kEarthRadiusMetres * std::asin(std::min(1.0, std::sqrt(a)));
}

std::vector<ApEstimate> EstimateAccessPoints(const std::vector<SurveyPoint>& points,
                                             std::size_t strongest) {
    struct Heard {
        ApEstimate estimate;
        double bestNamed = 0;     // the reading the name came from
        bool named = false;       // ssid came from a reading with a name
        double bestDetailed = 0;  // the reading the details came from
        std::vector<ApObservation> withFix;
        std::vector<ApObservation> withoutFix;
    };
    std::map<Mac, Heard> heard;
    for (std::size_t index = 0; index < points.size(); ++index) {
        const SurveyPoint& point = points[index];
        if (!point.IsSurvey())
            continue;
        // The strongest reading of each address at this point.
        std::map<Mac, const Reading*> atPoint;
        for (const Reading& reading : point.readings) {
            auto [it, inserted] = atPoint.try_emplace(reading.mac, &reading);
            if (!inserted && reading.signal > it->second->signal)
                it->second = &reading;
        }
        for (const auto& [mac, reading] : atPoint) {
            auto [it, first] = heard.try_emplace(mac);
            Heard& h = it->second;
            ApEstimate& e = h.estimate;
            const double exact = reading->SignalExact();
            if (first || exact > e.strongest) {
                e.mac = mac;
                e.strongest = exact;
                e.strongestPoint = index;
            }
            // The name of the strongest reading that carries one.
            if (!reading->Name().empty() && (!h.named || exact > h.bestNamed)) {
                e.ssid = reading->Name();
                h.named = true;
                h.bestNamed = exact;
            }
            // The details of the strongest reading that carries them.
            if (reading->details && (!e.details || exact > h.bestDetailed)) {
                e.details = reading->details;
                h.bestDetailed = exact;
            }
            ++e.pointsHeard;
            const ApObservation o{point.LatitudeDegrees(), point.LongitudeDegrees(), exact};
            // A point without any stored place (0,0 before the first fix) says
            // nothing of where the access point stands.
            if (point.Located())
                (point.HasPosition() ? h.withFix : h.withoutFix).push_back(o);
        }
    }
    std::vector<ApEstimate> estimates;
    estimates.reserve(heard.size());
    for (auto& [mac, h] : heard) {
        h.estimate.fromFixes = !h.withFix.empty();
        h.estimate.position =
            WeightedCentroid(h.estimate.fromFixes ? h.withFix : h.withoutFix, strongest);
        estimates.push_back(std::move(h.estimate));
    }
    return estimates;
}

}  // namespace ketrion::analysis
