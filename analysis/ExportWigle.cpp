#include "analysis/ExportWigle.h"

#include <string>

#include "analysis/ExportText.h"

namespace ketrion::analysis {

namespace {

// RFC 4180 ends every record with CR LF.
constexpr const char* kLineEnd = "\r\n";

}  // namespace

void WriteWigleCsv(const SurveyRecords& survey, std::ostream& out) {
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
            out << MacText(reading.mac) << ',' << CsvField(reading.ssid) << ",," << firstSeen
                << ",,," << reading.SignalDbm()
                << ','
                // CurrentLatitude,CurrentLongitude,AltitudeMeters,AccuracyMeters,RCOIs,MfgrId,Type
                << position << ",,,,,WIFI" << kLineEnd;
        }
    }
}

}  // namespace ketrion::analysis
