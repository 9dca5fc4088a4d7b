#pragma once

// Where the access points of a survey probably stand.
//
// Method: the weighted centroid of the positions of an access point's
// strongest readings, each weighted by its signal in milliwatts
// (10^(dBm / 10)), so a reading 10 dB stronger counts ten times as much.
//
// Only the kApEstimateReadings (5) strongest readings are used. Signal falls
// off steeply near an access point and flattens far from it, where walls and
// reflections decide more than distance; a long walk away from an access point
// leaves many weak readings whose summed weight would pull the centroid along
// the walk. Five readings are enough to average out the few-dB spread of single
// scans and few enough that only the points nearest the access point count.
//
// Uncertainty: the weighted root-mean-square distance, in metres, of the used
// readings' positions from the centroid (same weights). It says how spread the
// evidence is, not how far the true position can be: 0 for a single reading.
//
// Positions: the survey points' stored latitude and longitude (degrees, the
// stored integer times the double nearest 1/3,600,000). Readings at points
// with a 2D or 3D fix, or placed by the surveyor's click, are used; an access point heard only at
// points without a fix is estimated from those, and the estimate says so. Dynamic access points are
// not survey points and are not used. Distances are taken on a local plane around the strongest
// reading (a sphere of the earth's mean radius), which is good to about 0.01% of the distances
// involved over a site of a few hundred metres and works across the 180th meridian.
//
// Plain C++, no Qt; used by `ktd aps`, the KML export and the survey report.

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analysis/SurveyRecords.h"

namespace ketrion::analysis {

inline constexpr std::size_t kApEstimateReadings = 5;
// Mean earth radius (IUGG), metres.
inline constexpr double kEarthRadiusMetres = 6371008.8;

// One reading of one access point where it was taken.
struct ApObservation {
    double latitude = 0;   // degrees
    double longitude = 0;  // degrees
    double signal = 0;     // dBm
};

// A weighted centroid and its spread.
struct Centroid {
    double latitude = 0;     // degrees
    double longitude = 0;    // degrees, in [-180, 180]
    double uncertainty = 0;  // metres
    std::size_t used = 0;    // readings that went into it (0: no estimate)
};

// The milliwatt-weighted centroid of the `strongest` strongest observations
// (equal signals: the earlier one first). `used` is 0 for no observations.
Centroid WeightedCentroid(std::span<const ApObservation> observations,
                          std::size_t strongest = kApEstimateReadings);

// Great-circle distance in metres between two positions in degrees.
double DistanceMetres(double latitude1, double longitude1, double latitude2, double longitude2);

// What is known of one access point heard at the survey points.
struct ApEstimate {
    Mac mac{};
    // The name at its strongest reading that has one (hidden networks report
    // an empty name); raw bytes from the board.
    std::string ssid;
    std::size_t pointsHeard = 0;     // survey points with a reading of it
    double strongest = 0;            // its strongest reading, dBm as stored (-59.5 possible)
    std::size_t strongestPoint = 0;  // index in the points of that reading (first on a tie)
    Centroid position;
    bool fromFixes = true;  // false when no point that heard it had a GPS fix
    // Channel, band and security from the side store: those of its strongest
    // reading that has them.
    std::optional<ReadingDetails> details;
};

// One estimate per hardware address heard at a survey point, in ascending
// address order. A point that lists an address twice counts once, with its
// stronger reading.
std::vector<ApEstimate> EstimateAccessPoints(const std::vector<SurveyPoint>& points,
                                             std::size_t strongest = kApEstimateReadings);

}  // namespace ketrion::analysis
