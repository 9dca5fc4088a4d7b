#include "platform/DeviceMonitor.h"

#include <libudev.h>

#include <cstring>

namespace ketrion {

namespace {

// Events read per call at most, so a storm of events cannot hold the caller.
constexpr int kMaxEventsPerTake = 64;

}  // namespace

DeviceMonitor::DeviceMonitor() {
    m_udev = udev_new();
    if (m_udev == nullptr) {
        return;
    }
    m_monitor = udev_monitor_new_from_netlink(m_udev, "udev");
    if (m_monitor == nullptr ||
        udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "tty", nullptr) < 0 ||
        udev_monitor_enable_receiving(m_monitor) < 0) {
        return;
    }
    // The descriptor is non-blocking, so TakeArrivals never waits.
    m_fd = udev_monitor_get_fd(m_monitor);
}

DeviceMonitor::~DeviceMonitor() {
    if (m_monitor != nullptr) {
        udev_monitor_unref(m_monitor);
    }
    if (m_udev != nullptr) {
        udev_unref(m_udev);
    }
}

bool DeviceMonitor::TakeArrivals() {
    if (m_fd < 0) {
        return false;
    }
    bool added = false;
    for (int i = 0; i < kMaxEventsPerTake; ++i) {
        udev_device* device = udev_monitor_receive_device(m_monitor);
        if (device == nullptr) {
            break;
        }
        const char* action = udev_device_get_action(device);
        if (action != nullptr && std::strcmp(action, "add") == 0) {
            added = true;
        }
        udev_device_unref(device);
    }
    return added;
}

}  // namespace ketrion
