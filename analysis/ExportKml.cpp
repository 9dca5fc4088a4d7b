#include "analysis/ExportKml.h"

#include <cstdio>
#include <string>

#include "analysis/ExportText.h"

namespace ketrion::analysis {

namespace {

// Icons every KML viewer knows; the colour of a style tints them.
constexpr const char* kDotIcon = "http://maps.google.com/mapfiles/kml/shapes/shaded_dot.png";
constexpr const char* kPlacedIcon = "http://maps.google.com/mapfiles/kml/shapes/square.png";
constexpr const char* kEstimateIcon = "http://maps.google.com/mapfiles/kml/shapes/target.png";
constexpr int kLevels = 5;

// A KML colour: alpha, blue, green, red as hexadecimal digits.
std::string KmlColour(Rgb rgb) {
    char text[12];
    std::snprintf(text, sizeof text, "ff%02x%02x%02x", rgb.b, rgb.g, rgb.r);
    return text;
}

void WriteStyle(std::ostream& out, const std::string& id, const std::string& colour,
                const char* icon) {
    out << "<Style id=\"" << id << "\"><IconStyle><color>" << colour << "</color><Icon><href>"
        << icon << "</href></Icon></IconStyle></Style>\n";
}

std::string Coordinates(double latitude, double longitude) {
    return "<Point><coordinates>" + DegreesText(longitude) + "," + DegreesText(latitude) +
           "</coordinates></Point>";
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void WritePointFeature(std::ostream& out, const SurveyPoint& point, std::size_t index,
                       const std::string& name, const std::string& description,
                       const std::string& style) {
    out << "<Placemark><name>" << XmlEscape(name) << "</name><description>"
        << XmlEscape(description) << "</description>";
    if (point.HasValidTime())
        out << "<TimeStamp><when>" << point.DateTime("T") << "Z</when></TimeStamp>";
    out << "<styleUrl>#" << style << "</styleUrl>"
        << "<ExtendedData><Data name=\"index\"><value>" << index << "</value></Data>";
    if (point.details && point.details->ephMetres)
        out << "<Data name=\"accuracy\"><value>" << DecimalText(*point.details->ephMetres)
            << "</value></Data>";
    out << "</ExtendedData>" << Coordinates(point.LatitudeDegrees(), point.LongitudeDegrees())
        << "</Placemark>\n";
}

std::string PointSummary(const SurveyPoint& point, std::size_t index) {
    std::string text = "point " + std::to_string(index) + ", ";
    text += point.HasValidTime() ? point.DateTime(" ") + " UTC" : std::string("no time");
    text += ", fix ";
    text += FixName(point.fixClass);
    if (point.details && point.details->ephMetres) {
        text += ", accuracy ";
        text += DecimalText(*point.details->ephMetres);
        text += " m";
    }
    return text;
}

// "channel 36, 5180 MHz, 5 GHz, wpa2": what the side store knows of a reading.
std::string HeardOn(const ReadingDetails& d) {
    std::string text;
    auto add = [&](const std::string& item) {
        if (item.empty())
            return;
        if (!text.empty())
            text += ", ";
        text += item;
    };
    // Built by appending: GCC 12 warns wrongly about "literal" + temporary.
    if (d.channel)
        add(std::string("channel ").append(std::to_string(*d.channel)));
    if (d.frequencyMhz)
        add(std::to_string(*d.frequencyMhz).append(" MHz"));
    if (d.band == Band::Other)
        add("other band");
    else if (d.band != Band::Unknown)
        add(std::string(BandName(d.band)).append(" GHz"));
    add(d.security);
    return text.empty() ? std::string("no details") : text;
}

std::string Readings(const SurveyPoint& point) {
    std::string text;
    for (const Reading& reading : point.readings) {
        // Appended piece by piece: GCC 12 at -O3 warns (wrongly) of overlap on
        // "literal" + temporary.
        text += '\n';
        text += MacText(reading.mac);
        text += ' ';
        text += DbmText(reading.SignalExact());
        text += " dBm attr ";
        text += std::to_string(reading.attribute);
        if (reading.details) {
            text += " [";
            text += HeardOn(*reading.details);
            text += ']';
        }
        text += ' ';
        text += reading.Name();
    }
    return text;
}

std::string EstimateDescription(const ApEstimate& ap) {
    char spread[64];
    std::snprintf(spread, sizeof spread, "%.1f", ap.position.uncertainty);
    std::string text = MacText(ap.mac) + ", heard at " + std::to_string(ap.pointsHeard) +
                       (ap.pointsHeard == 1 ? " point" : " points") + ", strongest " +
                       DbmText(ap.strongest) + " dBm\nestimated from " +
                       std::to_string(ap.position.used) + " strongest readings, uncertainty " +
                       spread + " m";
    if (!ap.fromFixes)
        text += "\npositions without a GPS fix";
    return text;
}

}  // namespace

std::size_t WriteKml(const SurveyRecords& survey, const std::vector<ApEstimate>& accessPoints,
                     std::ostream& out) {
    std::size_t unlocated = 0;
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n<Document>\n<name>"
        << XmlEscape(BaseName(survey.path)) << "</name>\n";
    for (int level = 0; level < kLevels; ++level)
        WriteStyle(out, "level" + std::to_string(level), KmlColour(LevelColour(level)), kDotIcon);
    WriteStyle(out, "dynamic-ap", "ff00ffff", kPlacedIcon);
    WriteStyle(out, "access-point", "ffff00ff", kEstimateIcon);

    out << "<Folder><name>Survey points</name>\n";
    for (std::size_t i = 0; i < survey.points.size(); ++i) {
        const SurveyPoint& point = survey.points[i];
        if (!point.IsSurvey())
            continue;
        // A placemark needs a place: none rather than one at 0,0.
        if (!point.Located()) {
            ++unlocated;
            continue;
        }
        const int strongest = point.Strongest();
        const std::size_t index = FileIndex(point, i);
        WritePointFeature(out, point, index, std::to_string(strongest) + " dBm",
                          PointSummary(point, index) + Readings(point),
                          "level" + std::to_string(SignalLevel(strongest)));
    }
    out << "</Folder>\n<Folder><name>Dynamic access points</name>\n";
    for (std::size_t i = 0; i < survey.points.size(); ++i) {
        const SurveyPoint& point = survey.points[i];
        if (!point.IsSurvey() && point.Located())
            WritePointFeature(out, point, FileIndex(point, i), "dynamic access point",
                              PointSummary(point, FileIndex(point, i)), "dynamic-ap");
    }
    out << "</Folder>\n<Folder><name>Access points</name>\n";
    for (const ApEstimate& ap : accessPoints) {
        if (ap.position.used == 0)
            continue;
        out << "<Placemark><name>" << XmlEscape(ap.ssid.empty() ? MacText(ap.mac) : ap.ssid)
            << "</name><description>" << XmlEscape(EstimateDescription(ap))
            << "</description><styleUrl>#access-point</styleUrl>"
            << Coordinates(ap.position.latitude, ap.position.longitude) << "</Placemark>\n";
    }
    out << "</Folder>\n</Document>\n</kml>\n";
    return unlocated;
}

}  // namespace ketrion::analysis
