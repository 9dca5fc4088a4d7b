#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/Clock.h"
#include "source/ScanSource.h"
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
// every `retryMs`; the adapter is found again by its name.
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
    void Run(std::stop_token stop);
    bool SetUp();
    void Scan();
    void SetStatus(SourceState state, const std::string& reason);
    void Emit(SourceEventKind kind, const std::string& reason);

    const WifiSourceOptions m_options;
    Clock& m_clock;
    std::unique_ptr<WifiSystem> m_system;

    // Owned by the source's thread (or the tool's while no thread runs).
    std::unique_ptr<NetlinkChannel> m_channel;
    std::unique_ptr<Nl80211Client> m_client;
    std::unique_ptr<ScanProcedure> m_procedure;
    InterfaceInfo m_interface;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    SourceStatus m_status{SourceState::Reconnecting, "starting"};  // until set up
    bool m_reported = false;   // a status was reported at least once
    bool m_lostShown = false;  // a loss was reported and not yet its end (source thread)
    bool m_pending = false;
    bool m_scanning = false;
    bool m_stopping = false;
    std::string m_identity;
    NetlinkChannel* m_interruptible = nullptr;  // guarded by m_mutex, for Stop
    std::jthread m_thread;
};

}  // namespace ketrion::source::wifi
