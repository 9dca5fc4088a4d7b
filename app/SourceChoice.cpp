#include "app/SourceChoice.h"

#include <filesystem>
#include <optional>
#include <system_error>

#include "source/gpsd/GpsdEndpoint.h"
#include "source/gpsd/GpsdPosition.h"
#include "source/wifi/Adapter.h"
#include "source/wifi/ReplayScanSource.h"
#include "source/wifi/WifiScanSource.h"

namespace ketrion {

std::unique_ptr<source::ScanSource> MakeScanSource(const Options& options, Clock& clock) {
    if (!options.wifiReplay.empty()) {
        return std::make_unique<source::wifi::ReplayScanSource>(options.wifiReplay, options.fast,
                                                                clock);
    }
    if (options.wifi) {
        source::wifi::WifiSourceOptions wifi;
        wifi.interface = options.wifiInterface;
        wifi.passive = options.passive;
        return std::make_unique<source::wifi::WifiScanSource>(wifi, clock);
    }
    return nullptr;
}

std::unique_ptr<source::PositionSource> MakePositionSource(const Options& options, Clock& clock) {
    if (!options.gpsd) {
        return nullptr;
    }
    std::string error;
    const std::optional<source::GpsdEndpoint> endpoint =
        source::ParseGpsdEndpoint(options.gpsdEndpoint, error);
    return std::make_unique<source::GpsdPosition>(clock,
                                                  endpoint ? *endpoint : source::GpsdEndpoint{});
}

std::vector<std::string> SerialDevices(const Registry& registry) {
    std::vector<std::string> paths;
    Registry::Key active = 0;
    if (!registry.OpenKey(Registry::kLocalMachine, "Drivers\\Active", active)) {
        return paths;
    }
    std::string subkey;
    for (std::size_t i = 0; registry.EnumKey(active, i, subkey); ++i) {
        Registry::Key driver = 0;
        std::string name;
        if (registry.OpenKey(active, subkey, driver) && registry.QueryValue(driver, "Name", name) &&
            !name.empty()) {
            paths.push_back(name);
        }
        registry.CloseKey(driver);
    }
    registry.CloseKey(active);
    return paths;
}

bool WifiAdapterPresent() {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/net", error)) {
        if (!source::wifi::ReadAdapterFacts(entry.path().filename().string()).phy.empty()) {
            return true;
        }
    }
    return false;
}

}  // namespace ketrion
