#pragma once

#include <cstddef>
#include <ostream>
#include <string>

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
// longitude (7 fixed decimals), Type WIFI. From the side store's details
// (SurveyRecords joined by analysis/SideDetails.h), where it has them:
// Channel, Frequency (MHz), AuthMode (WigleAuthMode), AltitudeMeters and
// AccuracyMeters (the fix's horizontal error, eph). What the survey does not
// know (those without a side store, roaming consortia, manufacturer) is left
// empty. Fields are quoted as RFC 4180 says, lines end
// in CR LF, and names are made valid UTF-8 without terminal controls
// (WithoutTerminalControls). Surveyors open the file in spreadsheets, so by
// default a name that would run as a formula gets a leading single quote
// (NeutralisedFormula); Raw leaves it as it is, for upload.
enum class WigleNames { Neutralised, Raw };

// AuthMode in the bracketed capability form WiGLE CSV readers parse, from
// the side store's security word. The store keeps the key management (how a
// station authenticates), not the cipher: RSN networks are written with CCMP,
// the cipher every WPA2/WPA3 network offers, and WPA with TKIP, the cipher
// WPA was made for.
//   open "[ESS]", wep "[WEP][ESS]", wpa "[WPA-PSK-TKIP][ESS]",
//   wpa2 "[WPA2-PSK-CCMP][ESS]", wpa/wpa2 "[WPA-PSK-TKIP][WPA2-PSK-CCMP][ESS]", wpa3
//   "[WPA3-SAE-CCMP][ESS]", wpa2/wpa3 "[WPA2-PSK-CCMP][WPA3-SAE-CCMP][ESS]", owe
//   "[RSN-OWE-CCMP][ESS]", enterprise "[WPA2-EAP-CCMP][ESS]"; anything else "" (unknown).
std::string WigleAuthMode(const std::string& security);
// Survey points without a position (SurveyPoint::Located) get no rows;
// returns how many were left out so.
std::size_t WriteWigleCsv(const SurveyRecords& survey, std::ostream& out,
                          WigleNames names = WigleNames::Neutralised);

// The same written point by point, for a survey read as a stream: the two
// header lines at construction, then each point's rows.
class WigleWriter {
public:
    WigleWriter(std::ostream& out, WigleNames names);
    void Point(const SurveyPoint& point);
    // How many survey points had no position (and no rows).
    std::size_t End() const { return m_unlocated; }

private:
    std::ostream& m_out;
    WigleNames m_names;
    std::size_t m_unlocated = 0;
};

}  // namespace ketrion::analysis
