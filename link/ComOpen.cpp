// Finding the board's port in the device registry and opening it.

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "link/Com.h"
#include "link/PortSearch.h"
#include "platform/PosixSerialPort.h"
#include "platform/Registry.h"

namespace ketrion {

namespace {

constexpr std::string_view kActiveDrivers = "Drivers\\Active";

// Card identities, compared as exact, case-sensitive prefixes of the PnpId.
constexpr std::string_view kQuatechId = "Quatech";
constexpr std::string_view kCfSerialId = "CF-Serial_I-O";
constexpr std::string_view kSocketId = "Socket";

// The fallback search tries "Drivers\Active\00" to "Drivers\Active\50".
constexpr int kLastFallbackKey = 50;

constexpr std::string_view kNoCardMessage = "Could not find Quatech CF card.";
constexpr std::string_view kCannotOpenMessage = "Cannot Open Connection To Board.";
constexpr std::string_view kSettingsRefusedMessage = "Could not SetCommState";

// Reads the driver's "Name". An empty Name names no device, so it counts as
// unreadable and the search goes on.
bool ReadPortName(const Registry& registry, Registry::Key key, std::string& portName) {
    std::string name;
    if (!registry.QueryValue(key, "Name", name) || name.empty()) {
        return false;
    }
    portName = std::move(name);
    return true;
}

bool PrimarySearch(const Registry& registry, std::string& portName) {
    Registry::Key active = 0;
    if (!registry.OpenKey(Registry::kLocalMachine, kActiveDrivers, active)) {
        return false;
    }
    bool found = false;
    std::string subkeyName;
    for (std::size_t index = 0; !found && registry.EnumKey(active, index, subkeyName); ++index) {
        Registry::Key driver = 0;
        if (!registry.OpenKey(active, subkeyName, driver)) {
            continue;
        }
        std::string pnpId;
        if (registry.QueryValue(driver, "PnpId", pnpId) &&
            (pnpId.starts_with(kQuatechId) || pnpId.starts_with(kCfSerialId))) {
            found = ReadPortName(registry, driver, portName);
        }
        registry.CloseKey(driver);
    }
    registry.CloseKey(active);
    return found;
}

bool FallbackSearch(const Registry& registry, std::string& portName) {
    for (int i = 0; i <= kLastFallbackKey; ++i) {
        char path[32];
        std::snprintf(path, sizeof path, "Drivers\\Active\\%02d", i);
        Registry::Key driver = 0;
        if (!registry.OpenKey(Registry::kLocalMachine, path, driver)) {
            continue;
        }
        std::string pnpId;
        const bool found = registry.QueryValue(driver, "PnpId", pnpId) &&
                           pnpId.starts_with(kSocketId) && ReadPortName(registry, driver, portName);
        registry.CloseKey(driver);
        if (found) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string FindBoardPort(const Registry& registry, Prompt& prompt) {
    std::string portName = kDefaultPortName;
    if (PrimarySearch(registry, portName)) {
        return portName;
    }
    prompt.Message(kNoCardMessage);
    FallbackSearch(registry, portName);
    return portName;
}

void CCom::Open(const Registry& registry, Prompt& prompt) {
    OpenPath(FindBoardPort(registry, prompt), prompt);
    if (m_reopenMode != ReopenMode::None) {
        // A searched port is a device that udev announces when it comes back.
        m_reopenMode = ReopenMode::WatchDevices;
    }
}

void CCom::OpenPath(const std::string& path, Prompt& prompt) {
    auto serial = std::make_unique<PosixSerialPort>();
    const PosixSerialPort::OpenStatus status = serial->Open(path);
    if (status == PosixSerialPort::OpenStatus::Ok) {
        Attach(std::move(serial));
        // After a loss the same device is opened again, quietly: the link
        // state tells the user, not a message box per attempt.
        SetReopen(ReopenMode::RetryPath, [path](std::string* why) -> std::unique_ptr<SerialPort> {
            auto again = std::make_unique<PosixSerialPort>();
            if (again->Open(path) != PosixSerialPort::OpenStatus::Ok) {
                if (why != nullptr) {
                    *why = again->LastError();
                }
                return nullptr;
            }
            return again;
        });
        return;
    }
    SetReopen(ReopenMode::None, nullptr);
    // The message box carries the fixed text; the cause (which device, which
    // system error) goes to the log for whoever has to fix the setup.
    std::fprintf(stderr, "ketrion: %s\n", serial->LastError().c_str());
    Attach(nullptr);
    Publish(serial->LastError());
    prompt.Message(status == PosixSerialPort::OpenStatus::CannotConfigure ? kSettingsRefusedMessage
                                                                          : kCannotOpenMessage);
}

}  // namespace ketrion
