#include "source/wifi/NetworkManagerScan.h"

#include <systemd/sd-bus.h>

#include <cstring>

namespace ketrion::source::wifi {
namespace {

constexpr char kService[] = "org.freedesktop.NetworkManager";
constexpr char kPath[] = "/org/freedesktop/NetworkManager";
constexpr char kWireless[] = "org.freedesktop.NetworkManager.Device.Wireless";

// Frees what sd-bus handed out when it goes out of scope.
struct Bus {
    sd_bus* bus = nullptr;
    ~Bus() { sd_bus_flush_close_unref(bus); }
};
struct Reply {
    sd_bus_message* message = nullptr;
    ~Reply() { sd_bus_message_unref(message); }
};
struct BusError {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    ~BusError() { sd_bus_error_free(&error); }
    std::string Text(int result) const {
        if (error.message != nullptr)
            return error.message;
        return std::strerror(-result);
    }
};

}  // namespace

bool NetworkManagerScan::RequestScan(const std::string& interface, std::string& why) {
    Bus bus;
    int result = sd_bus_open_system(&bus.bus);
    if (result < 0) {
        why = std::string("no system bus: ") + std::strerror(-result);
        return false;
    }
    BusError error;
    Reply device;
    result = sd_bus_call_method(bus.bus, kService, kPath, kService, "GetDeviceByIpIface",
                                &error.error, &device.message, "s", interface.c_str());
    if (result < 0) {
        why = error.Text(result);
        return false;
    }
    const char* path = nullptr;
    result = sd_bus_message_read(device.message, "o", &path);
    if (result < 0 || path == nullptr) {
        why = "NetworkManager did not name the device";
        return false;
    }
    const std::string devicePath = path;
    BusError scanError;
    Reply scan;
    // RequestScan takes a dictionary of options; none are given.
    result = sd_bus_call_method(bus.bus, kService, devicePath.c_str(), kWireless, "RequestScan",
                                &scanError.error, &scan.message, "a{sv}", 0);
    if (result < 0) {
        why = scanError.Text(result);
        return false;
    }
    return true;
}

}  // namespace ketrion::source::wifi
