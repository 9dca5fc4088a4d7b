#pragma once

#include <ostream>

#include "analysis/SurveyRecords.h"

namespace ketrion::analysis {

// The column line of a WiGLE CSV 1.6 file.
inline constexpr const char* kWigleColumns =
    "MAC,SSID,AuthMode,FirstSeen,Channel,Frequency,RSSI,CurrentLatitude,CurrentLongitude,"
    "AltitudeMeters,AccuracyMeters,RCOIs,MfgrId,Type";

// Writes the survey as a WiGLE CSV 1.6 file: the pre-header line
// ("WigleWifi-1.6,appRelease=...") and the column line, then one row per
// reading of every survey point in file order: the address in lower case with
// colons, the network name, FirstSeen as "YYYY-MM-DD HH:MM:SS" (UTC, the
// point's stored time; empty when that is not a real date), RSSI in whole dBm
// (truncated toward zero as every reader of the file takes it), latitude and
// longitude (at least 7 decimals), Type WIFI. What the survey does not know
// (authentication, channel, frequency, altitude, accuracy, roaming consortia,
// manufacturer) is left empty. Fields are quoted as RFC 4180 says, lines end
// in CR LF, and names are made valid UTF-8 without terminal controls
// (WithoutTerminalControls). Surveyors open the file in spreadsheets, so by
// default a name that would run as a formula gets a leading single quote
// (NeutralisedFormula); Raw leaves it as it is, for upload.
enum class WigleNames { Neutralised, Raw };
void WriteWigleCsv(const SurveyRecords& survey, std::ostream& out,
                   WigleNames names = WigleNames::Neutralised);

}  // namespace ketrion::analysis
