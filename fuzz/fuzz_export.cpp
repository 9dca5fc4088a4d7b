// Feeds arbitrary bytes to the exports as a collection file: read it whole,
// estimate the access points and write GeoJSON, KML and WiGLE CSV. Every output
// must be valid UTF-8, the GeoJSON must parse, and the CSV must hold the two
// header lines and one record per reading. The file lives in memory (memfd).

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "analysis/ApEstimate.h"
#include "analysis/ExportGeoJson.h"
#include "analysis/ExportKml.h"
#include "analysis/ExportText.h"
#include "analysis/ExportWigle.h"
#include "analysis/SurveyRecords.h"
#include "fuzz/MemoryFile.h"

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ketrion::fuzz::MemoryFile file(data, size);
    if (!file.IsOpen())
        return 0;
    using namespace ketrion::analysis;
    SurveyRecords survey;
    if (ReadSurveyRecords(file.Path(), survey) != ReadResult::NotOpened) {
        std::ostringstream geojson;
        WriteGeoJson(survey, geojson);
        Require(ValidUtf8(geojson.str()) == geojson.str());
        const auto doc = nlohmann::json::parse(geojson.str(), nullptr, false);
        Require(!doc.is_discarded() && doc["features"].size() == survey.points.size());

        std::ostringstream kml;
        WriteKml(survey, EstimateAccessPoints(survey.points), kml);
        Require(ValidUtf8(kml.str()) == kml.str());

        std::ostringstream csv;
        WriteWigleCsv(survey, csv);
        Require(ValidUtf8(csv.str()) == csv.str());
        std::size_t readings = 0;
        for (const SurveyPoint& point : survey.points)
            readings += point.IsSurvey() && point.Located() ? point.readings.size() : 0;
        // Line ends inside quoted names are bare line feeds; records end in CR LF.
        std::size_t records = 0;
        for (std::size_t at = csv.str().find("\r\n"); at != std::string::npos;
             at = csv.str().find("\r\n", at + 2))
            ++records;
        Require(records >= readings + 2);
    }
    return 0;
}
