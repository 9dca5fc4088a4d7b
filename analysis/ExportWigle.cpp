#include "analysis/ExportWigle.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

#include "analysis/ExportText.h"

namespace ketrion::analysis {

namespace {

// RFC 4180 ends every record with CR LF.
constexpr const char* kLineEnd = "\r\n";

std::string Optional(const std::optional<int>& value) {
    return value ? std::to_string(*value) : std::string();
}

std::string Metres(const std::optional<double>& value) {
    return value ? DecimalText(*value) : std::string();
}

// A coordinate with 7 fixed decimals (about 1 cm), the same for every row.
std::string WigleDegrees(double degrees) {
    char text[32];
    std::snprintf(text, sizeof text, "%.7f", std::isfinite(degrees) ? degrees : 0.0);
    return text;
}

}  // namespace

std::string WigleAuthMode(const std::string& security) {
    static constexpr std::pair<const char*, const char*> kModes[] = {
        {"open", "[ESS]"},
        {"wep", "[WEP][ESS]"},
        {"wpa", "[WPA-PSK-TKIP][ESS]"},
        {"wpa2", "[WPA2-PSK-CCMP][ESS]"},
        {"wpa/wpa2", "[WPA-PSK-TKIP][WPA2-PSK-CCMP][ESS]"},
        {"wpa3", "[WPA3-SAE-CCMP][ESS]"},
        {"wpa2/wpa3", "[WPA2-PSK-CCMP][WPA3-SAE-CCMP][ESS]"},
        {"owe", "[RSN-OWE-CCMP][ESS]"},
        {"enterprise", "[WPA2-EAP-CCMP][ESS]"},
    };
    for (const auto& [word, mode] : kModes)
        if (security == word)
            return mode;
    return {};
}

WigleWriter::WigleWriter(std::ostream& out, WigleNames names) : m_out(out), m_names(names) {
    m_out << "WigleWifi-1.6,appRelease=" << kExportVersion
          << ",model=ktd,release=" << kExportVersion
          << ",device=Ketrion,display=,board=,brand=Ketrion,star=Sol,body=3,subBody=0" << kLineEnd
          << kWigleColumns << kLineEnd;
}

void WigleWriter::Point(const SurveyPoint& point) {
    if (!point.IsSurvey())
        return;
    // A row without a place would put the networks at 0,0.
    if (!point.Located()) {
        ++m_unlocated;
        return;
    }
    // The point's own fields, the same for each of its readings.
    const std::string firstSeen = point.HasValidTime() ? point.DateTime(" ") : std::string();
    const std::string position =
        WigleDegrees(point.LatitudeDegrees()) + "," + WigleDegrees(point.LongitudeDegrees());
    const PointDetails none;
    const PointDetails& where = point.details ? *point.details : none;
    // AltitudeMeters,AccuracyMeters
    const std::string fix = Metres(where.altitudeMetres) + "," + Metres(where.ephMetres);
    for (const Reading& reading : point.readings) {
        // MAC,SSID,AuthMode,FirstSeen,Channel,Frequency,RSSI,
        std::string name = WithoutTerminalControls(reading.Name());
        if (m_names == WigleNames::Neutralised)
            name = NeutralisedFormula(std::move(name));
        const ReadingDetails heard = reading.details.value_or(ReadingDetails{});
        m_out << MacText(reading.mac) << ',' << CsvField(name) << ','
              << WigleAuthMode(heard.security) << ',' << firstSeen << ',' << Optional(heard.channel)
              << ',' << Optional(heard.frequencyMhz) << ',' << reading.SignalDbm()
              << ','
              // CurrentLatitude,CurrentLongitude,AltitudeMeters,AccuracyMeters,RCOIs,MfgrId,Type
              << position << ',' << fix << ",,,WIFI" << kLineEnd;
    }
}

std::size_t WriteWigleCsv(const SurveyRecords& survey, std::ostream& out, WigleNames names) {
    WigleWriter writer(out, names);
    for (const SurveyPoint& point : survey.points)
        writer.Point(point);
    return writer.End();
}

}  // namespace ketrion::analysis
