#include "analysis/ExportGeoJson.h"

#include <nlohmann/json.hpp>

#include "analysis/ExportText.h"

namespace ketrion::analysis {

namespace {

// Keys stay in the order written, so a reader sees index, kind and time first.
using json = nlohmann::ordered_json;

// A signal in dBm: a whole number when the stored value is one (as this
// program writes them), else the exact fraction.
json SignalValue(const Reading& reading) {
    if (reading.signal % 256 == 0)
        return reading.SignalDbm();
    return reading.SignalExact();
}

json Properties(const SurveyPoint& point, std::size_t index) {
    json properties = json::object();
    properties["index"] = index;
    properties["kind"] = point.IsSurvey() ? "survey" : "dynamic-ap";
    properties["time"] = point.HasValidTime() ? json(point.DateTime("T") + "Z") : json(nullptr);
    properties["fix"] = FixName(point.fixClass);
    if (!point.IsSurvey())
        return properties;
    properties["strongest"] = point.Strongest();
    json readings = json::array();
    for (const Reading& reading : point.readings) {
        readings.push_back({{"mac", MacText(reading.mac)},
                            {"ssid", ValidUtf8(reading.ssid)},
                            {"signal", SignalValue(reading)},
                            {"attribute", reading.attribute}});
    }
    properties["readings"] = std::move(readings);
    return properties;
}

}  // namespace

void WriteGeoJson(const SurveyRecords& survey, std::ostream& out) {
    out << "{\"type\":\"FeatureCollection\",\"features\":[";
    for (std::size_t i = 0; i < survey.points.size(); ++i) {
        const SurveyPoint& point = survey.points[i];
        out << (i == 0 ? "\n" : ",\n");
        // The geometry is written by hand so coordinates keep their decimals;
        // everything else goes through the JSON library's escaping. Names are
        // valid UTF-8 already; the replacing handler is a second guard.
        out << "{\"type\":\"Feature\",\"geometry\":{\"type\":\"Point\",\"coordinates\":["
            << DegreesText(point.LongitudeDegrees()) << ',' << DegreesText(point.LatitudeDegrees())
            << "]},\"properties\":"
            << Properties(point, i + 1).dump(-1, ' ', false, json::error_handler_t::replace) << '}';
    }
    out << "\n]}\n";
}

}  // namespace ketrion::analysis
