#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Clock.h"
#include "source/ScanSource.h"
#include "source/SourceWorker.h"
#include "source/wifi/Adapter.h"
#include "source/wifi/Nl80211Client.h"
#include "source/wifi/WifiScan.h"

namespace ketrion::source::wifi {

// What the live Wi-Fi source takes from the system; tests give their own.
class WifiSystem {
public:
    virtual ~WifiSystem() = default;
    // A new generic-netlink channel; null with `error` (a negative errno).
    virtual std::unique_ptr<NetlinkChannel> OpenChannel(int& error) = 0;
    virtual AdapterFacts Facts(const std::string& interface) = 0;
    // NetworkManager's scan request, or null where there is none.
    virtual ScanRequester* NetworkManager() = 0;
    virtual std::uint64_t BoottimeNs() = 0;
};

// The real system: a netlink socket, sysfs, NetworkManager over the system bus.
std::unique_ptr<WifiSystem> MakeSystemWifi();

struct WifiSourceOptions {
    std::string interface;  // empty: the first Wi-Fi interface that is up
    bool passive = false;   // passive scans (listen only, no probe requests)
    // A lost adapter is looked for again this often.
    int retryMs = 2000;
    int watchdogMs = ScanProcedure::kWatchdogMs;
};

// The laptop's own Wi-Fi adapter as a scan source, through nl80211. Each
// RequestScan runs one scan on the source's thread: a reading per scan, and
// the next one is best requested as soon as this one ended (PacesItself).
// Every failure (no nl80211, no such interface, interface down, radio
// switched off, adapter removed) is a Lost state with its reason, tried again
// every `retryMs`; the adapter is found again by its name. The thread, the
// status, the wait before a retry and the lost/restored news are the
// SourceWorker's; this class only finds the adapter and runs its scans.
class WifiScanSource final : public ScanSource {
public:
    WifiScanSource(WifiSourceOptions options, Clock& clock,
                   std::unique_ptr<WifiSystem> system = MakeSystemWifi());
    ~WifiScanSource() override;

    void Start() override;
    void Stop() override;
    std::string Kind() const override { return "wifi"; }
    std::string Identity() const override;
    SourceStatus Status() const override;
    bool IsScanning() const override;
    bool RequestScan() override;
    bool PacesItself() const override { return true; }

private:
    void Run();
    bool SetUp();
    void Scan();
    bool Fail(const std::string& reason);

    const WifiSourceOptions m_options;
    Clock& m_clock;
    std::unique_ptr<WifiSystem> m_system;

    // Owned by the source's thread (or the tool's while no thread runs).
    std::unique_ptr<NetlinkChannel> m_channel;
    std::unique_ptr<Nl80211Client> m_client;
    std::unique_ptr<ScanProcedure> m_procedure;
    InterfaceInfo m_interface;

    mutable std::mutex m_mutex;  // guards m_identity
    std::string m_identity;
    SourceWorker m_worker;  // last: its thread stops before the members above go
};

}  // namespace ketrion::source::wifi
