#include "analysis/ExportWigle.h"

#include <string>
#include <utility>

#include "analysis/ExportText.h"

namespace ketrion::analysis {

namespace {

// RFC 4180 ends every record with CR LF.
constexpr const char* kLineEnd = "\r\n";

}  // namespace

void WriteWigleCsv(const SurveyRecords& survey, std::ostream& out, WigleNames names) {
    out << "WigleWifi-1.6,appRelease=" << kExportVersion << ",model=ktd,release=" << kExportVersion
        << ",device=Ketrion,display=,board=,brand=Ketrion,star=Sol,body=3,subBody=0" << kLineEnd
        << kWigleColumns << kLineEnd;
    for (const SurveyPoint& point : survey.points) {
        if (!point.IsSurvey())
            continue;
        // The point's own fields, the same for each of its readings.
        const std::string firstSeen = point.HasValidTime() ? point.DateTime(" ") : std::string();
        const std::string position =
            DegreesText(point.LatitudeDegrees()) + "," + DegreesText(point.LongitudeDegrees());
        for (const Reading& reading : point.readings) {
            // MAC,SSID,AuthMode,FirstSeen,Channel,Frequency,RSSI,
            std::string name = WithoutTerminalControls(reading.ssid);
            if (names == WigleNames::Neutralised)
                name = NeutralisedFormula(std::move(name));
            out << MacText(reading.mac) << ',' << CsvField(name) << ",," << firstSeen << ",,,"
                << reading.SignalDbm()
                << ','
                // CurrentLatitude,CurrentLongitude,AltitudeMeters,AccuracyMeters,RCOIs,MfgrId,Type
                << position << ",,,,,WIFI" << kLineEnd;
        }
    }
}

}  // namespace ketrion::analysis
