#pragma once

// A floor's survey: every switched-on collection of a floor read and joined
// into one set of records, as if they were one collection file. Each
// collection is read with its side store and the selection applied on its
// own (offsets belong to one file); a collection that is missing, moved or
// damaged gives one message and the others still load (a damaged one gives
// the points before its damage).

#include <cstddef>
#include <string>
#include <vector>

#include "analysis/Selection.h"
#include "analysis/SurveyRecords.h"
#include "site/Site.h"

namespace ketrion::site {

struct FloorSurvey {
    // Every point of the floor's collections, collection by collection in
    // the site's order; `path` names the first collection read.
    analysis::SurveyRecords records;
    // Which collection each point came from (index into `collections`).
    std::vector<std::size_t> source;
    std::vector<std::string> collections;  // resolved paths of those read
    std::vector<std::string> problems;     // one line per collection that failed or is damaged
    analysis::LeftOut leftOut;             // summed over the collections
    std::size_t switchedOff = 0;
};

// Reads the switched-on collections of `floor` of the site whose file is at
// `sitePath` (collection paths are relative to its folder).
FloorSurvey LoadFloorSurvey(const std::string& sitePath, const Floor& floor,
                            const analysis::Selection& selection);

// What a site keeps of a collection, taken from its side store when it has
// one: the adapter that scanned ("board", "wifi", ...) and the date of its
// first point; the file's creation date when there is no store. False with a
// message when the collection file cannot be read at all.
bool DescribeCollection(const std::string& path, SiteCollection& out, std::string& error);

}  // namespace ketrion::site
