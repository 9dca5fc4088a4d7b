#include "source/wifi/WifiScan.h"

#include <cerrno>

namespace ketrion::source::wifi {
namespace {

// ERFKILL is not in every libc's errno list.
#ifndef ERFKILL
constexpr int ERFKILL = 132;
#endif

constexpr char kFreshScanAdvice[] =
    "run with CAP_NET_ADMIN, or with NetworkManager, for a fresh scan per reading";

}  // namespace

std::string FailureText(int error, const std::string& interface) {
    switch (-error) {
        case ENOENT:
            return "no nl80211 in the kernel (no Wi-Fi driver is loaded)";
        case ENODEV:
            return "no Wi-Fi interface " + interface + " (removed?)";
        case ENETDOWN:
            return interface + " is down";
        case ERFKILL:
            return interface + ": the radio is switched off (rfkill)";
        case EPERM:
        case EACCES:
            return "no permission to scan on " + interface;
        case ETIMEDOUT:
            return "the kernel did not answer in time";
        default:
            return interface + ": " + ErrorText(error);
    }
}

void ScanProcedure::KeepFresh(std::vector<Bss>& results, std::uint64_t sinceNs) const {
    const std::uint64_t now = m_boottime();
    std::erase_if(results, [&](const Bss& bss) {
        if (bss.lastSeenBoottimeNs)
            return *bss.lastSeenBoottimeNs < sinceNs;
        if (bss.seenMsAgo && now >= sinceNs)
            return std::uint64_t{*bss.seenMsAgo} * 1'000'000ull > now - sinceNs;
        return false;
    });
}

ScanOutcome ScanProcedure::Run(const InterfaceInfo& interface, bool passive, int watchdogMs) {
    ScanOutcome outcome;
    std::uint64_t since = m_boottime();
    int waitMs = watchdogMs;

    if (m_mode == ScanMode::Triggered) {
        int result = m_client.Trigger(interface.index, passive);
        for (int retry = 0; result == -EBUSY && retry < kBusyRetries; ++retry) {
            // Someone else's scan is running: let it end, then ask for ours.
            int error = 0;
            const ScanEnd end = m_client.WaitForScanEnd(interface.index, watchdogMs, error);
            if (end == ScanEnd::Failed) {
                outcome.kind = ScanOutcome::Kind::Failed;
                outcome.error = error;
                return outcome;
            }
            since = m_boottime();
            result = m_client.Trigger(interface.index, passive);
        }
        if (result == -EPERM || result == -EACCES) {
            m_mode = m_networkManager != nullptr ? ScanMode::NetworkManager : ScanMode::System;
        } else if (result < 0) {
            outcome.kind =
                result == -EBUSY ? ScanOutcome::Kind::TimedOut : ScanOutcome::Kind::Failed;
            outcome.error = result;
            return outcome;
        }
    }
    if (m_mode == ScanMode::NetworkManager) {
        std::string why;
        if (!m_networkManager->RequestScan(interface.name, why)) {
            m_mode = ScanMode::System;
            outcome.notice = "NetworkManager cannot scan " + interface.name + " (" + why +
                             "); taking the system's own scans: " + kFreshScanAdvice;
        }
    }
    if (m_mode == ScanMode::System) {
        // Said once: why the readings are the system's own scans.
        if (!m_told && outcome.notice.empty())
            outcome.notice = std::string("no permission to scan; taking the system's own scans: ") +
                             kFreshScanAdvice;
        m_told = true;
        waitMs = kSystemScanWaitMs;
        since = m_lastEndNs ? *m_lastEndNs
                            : (since > kSystemScanSpanNs ? since - kSystemScanSpanNs : 0);
    }
    outcome.mode = m_mode;

    int error = 0;
    const ScanEnd end = m_client.WaitForScanEnd(interface.index, waitMs, error);
    if (end == ScanEnd::Failed) {
        outcome.kind = ScanOutcome::Kind::Failed;
        outcome.error = error;
        return outcome;
    }
    if (end == ScanEnd::Timeout) {
        outcome.kind = ScanOutcome::Kind::TimedOut;
        return outcome;
    }
    outcome.aborted = end == ScanEnd::Aborted;
    const std::uint64_t endedNs = m_boottime();
    if (m_mode == ScanMode::System)
        m_lastEndNs = endedNs;

    if (const int dumped = m_client.DumpScan(interface.index, outcome.results); dumped < 0) {
        outcome.kind = ScanOutcome::Kind::Failed;
        outcome.error = dumped;
        outcome.results.clear();
        return outcome;
    }
    KeepFresh(outcome.results, since);
    // Noise is a bonus: a driver without a survey still scans.
    if (m_client.DumpSurvey(interface.index, outcome.survey) < 0)
        outcome.survey.clear();
    return outcome;
}

}  // namespace ketrion::source::wifi
