#pragma once

#include <cstddef>
#include <ostream>
#include <vector>

#include "analysis/ApEstimate.h"
#include "analysis/SurveyRecords.h"

namespace ketrion::analysis {

// Writes the survey as a KML 2.2 document:
//  - folder "Survey points": one Placemark per survey point in file order,
//    named by its strongest signal ("-60 dBm"), styled by the site view's five
//    disc colour classes (styles "level0" .. "level4"), the readings one line
//    each in its description, the stored time as a TimeStamp when it is a real
//    date, its 1-based file index as ExtendedData "index", and a Point at
//    <coordinates>longitude,latitude</coordinates> (at least 7 decimals);
//  - folder "Dynamic access points": the points the surveyor placed;
//  - folder "Access points": one Placemark per estimate, named by its network
//    name (its address when it has none), at the estimated position.
// With the side store's details joined, a reading's line carries what the
// store knows of it in brackets after "attr N" ("[channel 36, 5180 MHz, 5 GHz,
// wpa2]"), and a point with a known horizontal error says "accuracy 4.8 m" in
// its description and as ExtendedData "accuracy" (metres). Points left out of
// the records keep the numbering of the file.
// All text is XML-escaped and made valid UTF-8.
// Survey points and dynamic access points without a position
// (SurveyPoint::Located) get no placemark; returns how many survey points
// were left out so.
std::size_t WriteKml(const SurveyRecords& survey, const std::vector<ApEstimate>& accessPoints,
                     std::ostream& out);

}  // namespace ketrion::analysis
