#pragma once

#include <string>

#include "source/wifi/WifiScan.h"

namespace ketrion::source::wifi {

// Asks NetworkManager on the system bus to scan a device (RequestScan on
// org.freedesktop.NetworkManager.Device.Wireless), through sd-bus. The
// results then arrive as nl80211's NEW_SCAN_RESULTS like any other scan.
class NetworkManagerScan final : public ScanRequester {
public:
    bool RequestScan(const std::string& interface, std::string& why) override;
};

}  // namespace ketrion::source::wifi
