#pragma once

#include <cstddef>
#include <ostream>

#include "analysis/SurveyRecords.h"

namespace ketrion::analysis {

// Writes the survey as a GeoJSON (RFC 7946) FeatureCollection: one Feature per
// point in file order, one line each, with a Point geometry [longitude,
// latitude] in degrees (the stored integer times the double nearest
// 1/3,600,000, written so it reads back exactly, with at least 7 decimals).
//
// Properties of a survey point: `index` (1-based position in the file,
// counting every point as `ktd dump` does), `kind` "survey", `time`
// ("YYYY-MM-DDTHH:MM:SSZ" from the stored date and time; null when they are
// not a real date, as before the first GPS report), `fix` ("none", "2D",
// "3D"), `strongest` (dBm, as the disc colour uses it) and `readings`: one
// {"mac", "ssid", "signal" (dBm as stored, -59.5 possible), "attribute"} per
// reading in file order. A dynamic access point has `index`, `kind`
// "dynamic-ap", `time` and `fix`. Network names are made valid UTF-8.
//
// With the side store's details joined (SurveyRecords::sideDetails), a survey
// point also has `accuracy` (the fix's horizontal error, metres) and
// `altitude` (metres), and each reading `frequency` (MHz), `channel`, `band`
// ("2.4", "5", "6", "other") and `security`: null where unknown. Points left
// out of the records (deleted, or without a trusted position) keep the
// numbering of the file, so `index` may skip. A point without a position
// (SurveyPoint::Located) has a null geometry. Returns how many had none.
std::size_t WriteGeoJson(const SurveyRecords& survey, std::ostream& out);

// The same written point by point, for a survey read as a stream: the
// opening at construction, then each point, then End (which returns how many
// points had no position).
class GeoJsonWriter {
public:
    GeoJsonWriter(std::ostream& out, bool sideDetails);
    // `fallbackIndex`: the point's place counted from 0, for a point not read
    // from a file (FileIndex).
    void Point(const SurveyPoint& point, std::size_t fallbackIndex);
    std::size_t End();

private:
    std::ostream& m_out;
    bool m_sideDetails;
    bool m_first = true;
    std::size_t m_unlocated = 0;
};

}  // namespace ketrion::analysis
