#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "source/wifi/Nl80211Client.h"

namespace ketrion::source::wifi {

// Asks someone else to scan when this process may not (NetworkManager).
class ScanRequester {
public:
    virtual ~ScanRequester() = default;
    // True when the request was accepted; false with `why`.
    virtual bool RequestScan(const std::string& interface, std::string& why) = 0;
};

// How a scan's results came to be.
enum class ScanMode : std::uint8_t {
    Triggered,       // this process started it (CAP_NET_ADMIN)
    NetworkManager,  // NetworkManager started it on request
    System,          // the system scans by itself; its results are taken
};

struct ScanOutcome {
    enum class Kind : std::uint8_t {
        Done,      // results (possibly none) in `results`
        TimedOut,  // no end of scan in time (the watchdog)
        Failed,    // the kernel refused or the socket failed (error set)
    } kind = Kind::Done;
    int error = 0;             // negative errno for Failed
    std::vector<Bss> results;  // only what was seen since the scan began
    std::vector<SurveyEntry> survey;
    bool aborted = false;  // the kernel aborted the scan; what it saw is kept
    ScanMode mode = ScanMode::Triggered;
    std::string notice;  // said once, when a fresh scan per reading cannot be had
};

// Runs one scan on an interface: trigger (or ask NetworkManager, or wait for
// the system's own scan), wait for its end, dump the results and keep only
// the BSSs seen since the scan began, then read the noise from the survey.
class ScanProcedure {
public:
    // No end of a scan this long after it began: it is abandoned. A full
    // active scan of three bands takes about ten seconds.
    static constexpr int kWatchdogMs = 30'000;
    // The system scans by itself rarely; wait this long for one.
    static constexpr int kSystemScanWaitMs = 120'000;
    // How far back a system scan (whose start this process did not see) may
    // have begun: about the longest a full scan takes.
    static constexpr std::uint64_t kSystemScanSpanNs = 15'000'000'000ull;
    // A scan already running (EBUSY) is waited for, then ours asked again,
    // at most this many times.
    static constexpr int kBusyRetries = 3;

    ScanProcedure(Nl80211Client& client, ScanRequester* networkManager,
                  std::function<std::uint64_t()> boottimeNs = BoottimeNs)
        : m_client(client), m_networkManager(networkManager), m_boottime(std::move(boottimeNs)) {}

    ScanOutcome Run(const InterfaceInfo& interface, bool passive, int watchdogMs = kWatchdogMs);
    ScanMode Mode() const { return m_mode; }

private:
    // Keeps the BSSs last seen at or after `sinceNs` (CLOCK_BOOTTIME).
    void KeepFresh(std::vector<Bss>& results, std::uint64_t sinceNs) const;

    Nl80211Client& m_client;
    ScanRequester* m_networkManager;
    std::function<std::uint64_t()> m_boottime;
    ScanMode m_mode = ScanMode::Triggered;
    std::optional<std::uint64_t> m_lastEndNs;  // when the last results were announced
    bool m_told = false;                       // the user knows of the system's scans
};

// A short phrase for the user for a failure of nl80211 on `interface`.
std::string FailureText(int negativeErrno, const std::string& interface);

}  // namespace ketrion::source::wifi
