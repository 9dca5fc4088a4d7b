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
    : m_options(std::move(options)), m_clock(clock), m_system(std::move(system)) {}

WifiScanSource::~WifiScanSource() {
    Stop();
}

void WifiScanSource::Start() {
    if (m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = false;
    }
    m_thread = std::jthread([this](std::stop_token stop) { Run(stop); });
}

void WifiScanSource::Stop() {
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        if (m_interruptible != nullptr)
            m_interruptible->Interrupt();
    }
    m_thread.request_stop();
    m_wake.notify_all();
    m_thread.join();
}

std::string WifiScanSource::Identity() const {
    std::lock_guard lock(m_mutex);
    return m_identity;
}

SourceStatus WifiScanSource::Status() const {
    std::lock_guard lock(m_mutex);
    return m_status;
}

bool WifiScanSource::IsScanning() const {
    std::lock_guard lock(m_mutex);
    return m_pending || m_scanning;
}

bool WifiScanSource::RequestScan() {
    std::lock_guard lock(m_mutex);
    if (m_status.state != SourceState::Ready || m_pending || m_scanning)
        return false;
    m_pending = true;
    m_wake.notify_all();
    return true;
}

void WifiScanSource::Emit(SourceEventKind kind, const std::string& reason) {
    if (onEvent)
        onEvent(SourceEvent{kind, reason});
}

void WifiScanSource::SetStatus(SourceState state, const std::string& reason) {
    bool changed = false;
    {
        std::lock_guard lock(m_mutex);
        changed = !m_reported || m_status.state != state || m_status.reason != reason;
        m_status = SourceStatus{state, reason};
        m_reported = true;
    }
    if (!changed)
        return;
    if (state == SourceState::Lost) {
        m_lostShown = true;
        Emit(SourceEventKind::LinkLost, reason);
    } else if (state == SourceState::Ready && m_lostShown) {
        m_lostShown = false;
        Emit(SourceEventKind::LinkRestored, "");
    }
}

bool WifiScanSource::SetUp() {
    m_procedure.reset();
    m_client.reset();
    {
        std::lock_guard lock(m_mutex);
        m_interruptible = nullptr;
    }
    m_channel.reset();

    int error = 0;
    std::unique_ptr<NetlinkChannel> channel = m_system->OpenChannel(error);
    if (!channel) {
        SetStatus(SourceState::Lost, "no generic netlink: " + ErrorText(error));
        return false;
    }
    auto client = std::make_unique<Nl80211Client>(*channel);
    const std::string named = m_options.interface.empty() ? "" : m_options.interface;
    if (int r = client->Resolve(); r < 0) {
        SetStatus(SourceState::Lost, FailureText(r, named));
        return false;
    }
    if (int r = client->JoinScanGroup(); r < 0) {
        SetStatus(SourceState::Lost, "cannot listen for scan results: " + ErrorText(r));
        return false;
    }
    std::vector<InterfaceInfo> interfaces;
    if (int r = client->ListInterfaces(interfaces); r < 0) {
        SetStatus(SourceState::Lost, FailureText(r, named));
        return false;
    }
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
    if (chosen == nullptr) {
        SetStatus(SourceState::Lost,
                  named.empty() ? "no Wi-Fi interface" : "no Wi-Fi interface " + named);
        return false;
    }
    const AdapterFacts facts = m_system->Facts(chosen->name);
    if (facts.rfkillSoft || facts.rfkillHard) {
        SetStatus(SourceState::Lost,
                  chosen->name + ": the radio is switched off (rfkill " + RfkillText(facts) + ")");
        return false;
    }
    if (facts.exists && !facts.up) {
        SetStatus(SourceState::Lost, chosen->name + " is down");
        return false;
    }

    m_interface = *chosen;
    m_channel = std::move(channel);
    m_client = std::move(client);
    WifiSystem* system = m_system.get();
    m_procedure = std::make_unique<ScanProcedure>(*m_client, m_system->NetworkManager(),
                                                  [system] { return system->BoottimeNs(); });
    {
        std::lock_guard lock(m_mutex);
        m_interruptible = m_channel.get();
        if (m_stopping)
            m_channel->Interrupt();
        // "wlan0 iwlwifi 02:11:22:33:44:55": interface, driver, MAC.
        m_identity = m_interface.name;
        for (const std::string& part : {facts.driver, MacText(m_interface.mac)}) {
            if (part.empty())
                continue;
            m_identity.push_back(' ');
            m_identity.append(part);
        }
    }
    SetStatus(SourceState::Ready, "");
    return true;
}

void WifiScanSource::Scan() {
    ScanResult result;
    result.startedMs = m_clock.NowMs();
    SetStatus(SourceState::Scanning, "");
    const ScanOutcome outcome =
        m_procedure->Run(m_interface, m_options.passive, m_options.watchdogMs);
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping)
            return;
    }
    if (!outcome.notice.empty())
        Emit(SourceEventKind::Notice, outcome.notice);
    switch (outcome.kind) {
        case ScanOutcome::Kind::Done:
            result.endedMs = m_clock.NowMs();
            result.readings = ReadingsOf(outcome);
            if (outcome.aborted)
                Emit(SourceEventKind::Notice, "the scan was aborted; keeping what it saw");
            // Handed over and recorded before the source is ready again.
            if (onScan)
                onScan(result);
            {
                std::lock_guard lock(m_mutex);
                m_scanning = false;
            }
            SetStatus(SourceState::Ready, "");
            Emit(SourceEventKind::ScanEnded, "");
            break;
        case ScanOutcome::Kind::TimedOut: {
            std::lock_guard lock(m_mutex);
            m_scanning = false;
        }
            SetStatus(SourceState::Ready, "");
            Emit(SourceEventKind::ScanAbandoned, "no scan results in time");
            break;
        case ScanOutcome::Kind::Failed: {
            std::lock_guard lock(m_mutex);
            m_scanning = false;
        }
            Emit(SourceEventKind::ScanAbandoned, FailureText(outcome.error, m_interface.name));
            SetStatus(SourceState::Lost, FailureText(outcome.error, m_interface.name));
            m_procedure.reset();
            break;
    }
}

void WifiScanSource::Run(std::stop_token stop) {
    while (!stop.stop_requested()) {
        if (!m_procedure && !SetUp()) {
            std::unique_lock lock(m_mutex);
            m_pending = false;
            m_wake.wait_for(lock, std::chrono::milliseconds(m_options.retryMs),
                            [&] { return m_stopping; });
            continue;
        }
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [&] { return m_stopping || m_pending; });
            if (m_stopping)
                break;
            m_pending = false;
            m_scanning = true;
        }
        Scan();
    }
}

}  // namespace ketrion::source::wifi
