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

json Value(const std::optional<int>& value) {
    return value ? json(*value) : json(nullptr);
}

json Value(const std::optional<double>& value) {
    return value ? json(*value) : json(nullptr);
}

json Text(const std::string& text) {
    return text.empty() ? json(nullptr) : json(ValidUtf8(text));
}

// The side store's details of a reading (null where unknown).
void AddDetails(json& reading, const std::optional<ReadingDetails>& details) {
    const ReadingDetails d = details.value_or(ReadingDetails{});
    reading["frequency"] = Value(d.frequencyMhz);
    reading["channel"] = Value(d.channel);
    reading["band"] = Text(BandName(d.band));
    reading["security"] = Text(d.security);
}

json Properties(const SurveyPoint& point, std::size_t index, bool sideDetails) {
    json properties = json::object();
    properties["index"] = index;
    properties["kind"] = point.IsSurvey() ? "survey" : "dynamic-ap";
    properties["time"] = point.HasValidTime() ? json(point.DateTime("T") + "Z") : json(nullptr);
    properties["fix"] = FixName(point.fixClass);
    if (!point.IsSurvey())
        return properties;
    properties["strongest"] = point.Strongest();
    if (sideDetails) {
        const PointDetails d = point.details.value_or(PointDetails{});
        properties["accuracy"] = Value(d.ephMetres);
        properties["altitude"] = Value(d.altitudeMetres);
    }
    json readings = json::array();
    for (const Reading& reading : point.readings) {
        json entry = {{"mac", MacText(reading.mac)},
                      {"ssid", ValidUtf8(reading.Name())},
                      {"signal", SignalValue(reading)},
                      {"attribute", reading.attribute}};
        if (sideDetails)
            AddDetails(entry, reading.details);
        readings.push_back(std::move(entry));
    }
    properties["readings"] = std::move(readings);
    return properties;
}

}  // namespace

GeoJsonWriter::GeoJsonWriter(std::ostream& out, bool sideDetails)
    : m_out(out), m_sideDetails(sideDetails) {
    m_out << "{\"type\":\"FeatureCollection\",\"features\":[";
}

void GeoJsonWriter::Point(const SurveyPoint& point, std::size_t fallbackIndex) {
    m_out << (m_first ? "\n" : ",\n");
    m_first = false;
    // The geometry is written by hand so coordinates keep their decimals;
    // everything else goes through the JSON library's escaping. Names are
    // valid UTF-8 already; the replacing handler is a second guard.
    m_out << "{\"type\":\"Feature\",\"geometry\":";
    if (point.Located()) {
        m_out << "{\"type\":\"Point\",\"coordinates\":[" << DegreesText(point.LongitudeDegrees())
              << ',' << DegreesText(point.LatitudeDegrees()) << "]}";
    } else {
        m_out << "null";  // RFC 7946 3.2: a feature whose place is not known
        ++m_unlocated;
    }
    m_out << ",\"properties\":"
          << Properties(point, FileIndex(point, fallbackIndex), m_sideDetails)
                 .dump(-1, ' ', false, json::error_handler_t::replace)
          << '}';
}

std::size_t GeoJsonWriter::End() {
    m_out << "\n]}\n";
    return m_unlocated;
}

std::size_t WriteGeoJson(const SurveyRecords& survey, std::ostream& out) {
    GeoJsonWriter writer(out, survey.sideDetails);
    for (std::size_t i = 0; i < survey.points.size(); ++i)
        writer.Point(survey.points[i], i);
    return writer.End();
}

}  // namespace ketrion::analysis
