#include "source/wifi/WifiScanSource.h"

#include <cerrno>
#include <map>

#include "source/wifi/BssReading.h"
#include "source/wifi/NetworkManagerScan.h"

namespace ketrion::source::wifi {
namespace {

class SystemWifi final : public WifiSystem {
public:
    std::unique_ptr<NetlinkChannel> OpenChannel(int& error) override {
        auto socket = std::make_unique<NetlinkSocket>();
        error = socket->Open();
        if (error < 0)
            return nullptr;
        return socket;
    }
    AdapterFacts Facts(const std::string& interface) override {
        return ReadAdapterFacts(interface);
    }
    ScanRequester* NetworkManager() override { return &m_networkManager; }
    std::uint64_t BoottimeNs() override { return wifi::BoottimeNs(); }

private:
    NetworkManagerScan m_networkManager;
};

// The noise of the channel each BSS was heard on, where the survey gives it.
std::vector<Reading> ReadingsOf(const ScanOutcome& outcome) {
    std::map<int, int> noise;
    for (const SurveyEntry& entry : outcome.survey)
        if (entry.noiseDbm)
            noise[entry.frequencyMhz] = *entry.noiseDbm;
    std::vector<Reading> readings;
    readings.reserve(outcome.results.size());
    for (const Bss& bss : outcome.results) {
        std::optional<int> floor;
        if (bss.frequencyMhz) {
            const auto it = noise.find(*bss.frequencyMhz);
            if (it != noise.end())
                floor = it->second;
        }
        readings.push_back(ReadingOf(bss, floor));
    }
    SortStrongestFirst(readings);
    return readings;
}

}  // namespace

std::unique_ptr<WifiSystem> MakeSystemWifi() {
    return std::make_unique<SystemWifi>();
}

WifiScanSource::WifiScanSource(WifiSourceOptions options, Clock& clock,
                               std::unique_ptr<WifiSystem> system)
    : m_options(std::move(options)),
      m_clock(clock),
      m_system(std::move(system)),
      m_worker(clock, SourceStatus{SourceState::Reconnecting, "starting"},
               [this](const SourceEvent& event) {
                   if (onEvent)
                       onEvent(event);
               }) {}

WifiScanSource::~WifiScanSource() {
    Stop();
}

void WifiScanSource::Start() {
    m_worker.Start([this] { Run(); });
}

void WifiScanSource::Stop() {
    m_worker.Stop();
}

std::string WifiScanSource::Identity() const {
    std::lock_guard lock(m_mutex);
    return m_identity;
}

SourceStatus WifiScanSource::Status() const {
    return m_worker.Status();
}

bool WifiScanSource::IsScanning() const {
    return m_worker.Busy();
}

bool WifiScanSource::RequestScan() {
    return m_worker.Request(m_clock.NowMs());
}

bool WifiScanSource::Fail(const std::string& reason) {
    m_worker.SetStatus(SourceState::Lost, reason);
    return false;
}

bool WifiScanSource::SetUp() {
    m_worker.SetInterrupt(nullptr);
    m_procedure.reset();
    m_client.reset();
    m_channel.reset();

    int error = 0;
    std::unique_ptr<NetlinkChannel> channel = m_system->OpenChannel(error);
    if (!channel)
        return Fail("no generic netlink: " + ErrorText(error));
    auto client = std::make_unique<Nl80211Client>(*channel);
    const std::string named = m_options.interface.empty() ? "" : m_options.interface;
    if (int r = client->Resolve(); r < 0)
        return Fail(FailureText(r, named));
    if (int r = client->JoinScanGroup(); r < 0)
        return Fail("cannot listen for scan results: " + ErrorText(r));
    std::vector<InterfaceInfo> interfaces;
    if (int r = client->ListInterfaces(interfaces); r < 0)
        return Fail(FailureText(r, named));
    const InterfaceInfo* chosen = nullptr;
    for (const InterfaceInfo& candidate : interfaces) {
        if (!named.empty()) {
            if (candidate.name == named) {
                chosen = &candidate;
                break;
            }
        } else if (m_system->Facts(candidate.name).up) {
            chosen = &candidate;
            break;
        }
    }
    if (chosen == nullptr && named.empty() && !interfaces.empty())
        chosen = &interfaces.front();
    if (chosen == nullptr)
        return Fail(named.empty() ? "no Wi-Fi interface" : "no Wi-Fi interface " + named);
    const AdapterFacts facts = m_system->Facts(chosen->name);
    if (facts.rfkillSoft || facts.rfkillHard)
        return Fail(chosen->name + ": the radio is switched off (rfkill " + RfkillText(facts) +
                    ")");
    if (facts.exists && !facts.up)
        return Fail(chosen->name + " is down");

    m_interface = *chosen;
    m_channel = std::move(channel);
    m_client = std::move(client);
    WifiSystem* system = m_system.get();
    m_procedure = std::make_unique<ScanProcedure>(*m_client, m_system->NetworkManager(),
                                                  [system] { return system->BoottimeNs(); });
    NetlinkChannel* interruptible = m_channel.get();
    m_worker.SetInterrupt([interruptible] { interruptible->Interrupt(); });
    {
        std::lock_guard lock(m_mutex);
        // "wlan0 iwlwifi 02:11:22:33:44:55": interface, driver, MAC.
        m_identity = m_interface.name;
        for (const std::string& part : {facts.driver, MacText(m_interface.mac)}) {
            if (part.empty())
                continue;
            m_identity.push_back(' ');
            m_identity.append(part);
        }
    }
    m_worker.SetStatus(SourceState::Ready);
    return true;
}

void WifiScanSource::Scan() {
    ScanResult result;
    result.startedMs = m_clock.NowMs();
    const ScanOutcome outcome =
        m_procedure->Run(m_interface, m_options.passive, m_options.watchdogMs);
    if (m_worker.Stopping())
        return;  // abandoned by Stop; no callback after it
    if (!outcome.notice.empty())
        m_worker.Say(SourceEventKind::Notice, outcome.notice);
    switch (outcome.kind) {
        case ScanOutcome::Kind::Done:
            result.endedMs = m_clock.NowMs();
            result.readings = ReadingsOf(outcome);
            if (outcome.aborted)
                m_worker.Say(SourceEventKind::Notice, "the scan was aborted; keeping what it saw");
            // Handed over and recorded before the source is ready again.
            if (onScan)
                onScan(result);
            m_worker.Finish(SourceEventKind::ScanEnded, {}, SourceState::Ready);
            break;
        case ScanOutcome::Kind::TimedOut:
            m_worker.Finish(SourceEventKind::ScanAbandoned, "no scan results in time",
                            SourceState::Ready);
            break;
        case ScanOutcome::Kind::Failed: {
            const std::string reason = FailureText(outcome.error, m_interface.name);
            m_worker.Finish(SourceEventKind::ScanAbandoned, reason, SourceState::Lost, reason);
            m_procedure.reset();
            break;
        }
    }
}

void WifiScanSource::Run() {
    // Each start sets the adapter up afresh: it may have changed while the
    // source was stopped, and the old channel may hold Stop's interruption.
    m_procedure.reset();
    while (!m_worker.Stopping()) {
        if (!m_procedure && !SetUp()) {
            m_worker.WaitMs(m_options.retryMs);
            continue;
        }
        if (!m_worker.WaitForRequest())
            break;
        Scan();
    }
}

}  // namespace ketrion::source::wifi
