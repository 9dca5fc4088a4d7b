#pragma once

struct udev;
struct udev_monitor;

namespace ketrion {

// Tells when serial devices appear: a udev monitor on the "tty" subsystem.
// The link thread waits on Descriptor() while the board is away and, when
// TakeArrivals() says a device was added, tries to open the board's port again.
class DeviceMonitor {
public:
    DeviceMonitor();
    ~DeviceMonitor();
    DeviceMonitor(const DeviceMonitor&) = delete;
    DeviceMonitor& operator=(const DeviceMonitor&) = delete;

    // False when udev could not be reached (no udev in a container, say); the
    // caller then falls back to retrying on a timer.
    bool IsWatching() const { return m_fd >= 0; }
    // Polls readable when events wait; -1 when not watching.
    int Descriptor() const { return m_fd; }
    // Reads every waiting event; true when one of them added a device.
    bool TakeArrivals();

private:
    ::udev* m_udev = nullptr;
    ::udev_monitor* m_monitor = nullptr;
    int m_fd = -1;
};

}  // namespace ketrion
