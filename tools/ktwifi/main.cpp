// ktwifi: the laptop's Wi-Fi adapter through nl80211. `list` shows the Wi-Fi
// interfaces, `scan` runs one scan, `record` writes the netlink traffic of
// some scans to a capture file, and `decode` prints every BSS of every scan of
// such a file (or of an nlmon capture).

#include <CLI/CLI.hpp>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "source/wifi/Adapter.h"
#include "source/wifi/BssReading.h"
#include "source/wifi/BssText.h"
#include "source/wifi/NetworkManagerScan.h"
#include "source/wifi/Nl80211Client.h"
#include "source/wifi/Recording.h"
#include "source/wifi/WifiScan.h"

namespace {

using namespace ketrion::source::wifi;

// Exit status: 0 done, 1 the adapter failed or the file is damaged, 2 the
// command line is wrong or a file cannot be opened.
constexpr int kFailed = 1;
constexpr int kUsageOrOpenError = 2;

void Fail(const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "ktwifi: %s\n", message.c_str());
}

std::int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// "2026-12-09 11:02:39.123456 UTC"
std::string TimeText(std::int64_t timeUs) {
    const std::time_t seconds = static_cast<std::time_t>(timeUs / 1'000'000);
    std::tm tm{};
    char text[64];
    if (gmtime_r(&seconds, &tm) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm) == 0)
        return "?";
    char micros[16];
    std::snprintf(micros, sizeof micros, ".%06lld UTC", static_cast<long long>(timeUs % 1'000'000));
    return std::string(text) + micros;
}

// A socket to nl80211 with the family found; the reason in `error` otherwise.
struct Connection {
    NetlinkSocket socket;
    Nl80211Client client{socket};

    bool Open(std::string& error) {
        if (const int r = socket.Open(); r < 0) {
            error = "no generic netlink: " + ErrorText(r);
            return false;
        }
        if (const int r = client.Resolve(); r < 0) {
            error = FailureText(r, "");
            return false;
        }
        return true;
    }
};

// The interface named, or the first one that is up (else the first one).
bool ChooseInterface(Nl80211Client& client, const std::string& name, InterfaceInfo& chosen,
                     std::string& error) {
    std::vector<InterfaceInfo> interfaces;
    if (const int r = client.ListInterfaces(interfaces); r < 0) {
        error = FailureText(r, name);
        return false;
    }
    for (const InterfaceInfo& candidate : interfaces) {
        if (name.empty() ? ReadAdapterFacts(candidate.name).up : candidate.name == name) {
            chosen = candidate;
            return true;
        }
    }
    if (name.empty() && !interfaces.empty()) {
        chosen = interfaces.front();
        return true;
    }
    error = name.empty() ? "no Wi-Fi interface" : "no Wi-Fi interface " + name;
    return false;
}

int List() {
    Connection connection;
    std::string error;
    if (!connection.Open(error)) {
        Fail(error);
        return kFailed;
    }
    std::vector<InterfaceInfo> interfaces;
    if (const int r = connection.client.ListInterfaces(interfaces); r < 0) {
        Fail(FailureText(r, ""));
        return kFailed;
    }
    if (interfaces.empty()) {
        Fail("no Wi-Fi interface");
        return kFailed;
    }
    for (const InterfaceInfo& i : interfaces) {
        const AdapterFacts facts = ReadAdapterFacts(i.name);
        const std::string phy = !facts.phy.empty() ? facts.phy
                                : i.wiphy          ? "phy" + std::to_string(*i.wiphy)
                                                   : "?";
        std::printf("%-15s index %-4u %s  %-6s %-4s rfkill %s%s%s\n", i.name.c_str(), i.index,
                    MacText(i.mac).c_str(), phy.c_str(), facts.up ? "up" : "down",
                    RfkillText(facts).c_str(), facts.driver.empty() ? "" : "  driver ",
                    facts.driver.c_str());
    }
    return 0;
}

// Runs `count` scans on the chosen interface, handing each to `done`.
int Scan(const std::string& name, bool passive, int count, Nl80211Client& client,
         const std::function<void(const ScanOutcome&, int)>& done) {
    std::string error;
    if (const int r = client.JoinScanGroup(); r < 0) {
        Fail("cannot listen for scan results: " + ErrorText(r));
        return kFailed;
    }
    InterfaceInfo interface;
    if (!ChooseInterface(client, name, interface, error)) {
        Fail(error);
        return kFailed;
    }
    NetworkManagerScan networkManager;
    ScanProcedure procedure(client, &networkManager);
    for (int scan = 0; scan < count; ++scan) {
        ScanOutcome outcome = procedure.Run(interface, passive);
        if (!outcome.notice.empty())
            std::fprintf(stderr, "ktwifi: %s\n", outcome.notice.c_str());
        if (outcome.kind == ScanOutcome::Kind::Failed) {
            Fail(FailureText(outcome.error, interface.name));
            return kFailed;
        }
        if (outcome.kind == ScanOutcome::Kind::TimedOut) {
            Fail("no scan results from " + interface.name + " in time");
            return kFailed;
        }
        if (outcome.aborted)
            std::fprintf(stderr, "ktwifi: the scan was aborted; keeping what it saw\n");
        SortStrongestFirst(outcome.results);
        done(outcome, scan);
    }
    return 0;
}

int ScanCommand(const std::string& name, bool passive, bool json) {
    Connection connection;
    std::string error;
    if (!connection.Open(error)) {
        Fail(error);
        return kFailed;
    }
    return Scan(name, passive, 1, connection.client, [&](const ScanOutcome& outcome, int scan) {
        const std::int64_t time = NowUs();
        for (const Bss& bss : outcome.results)
            std::printf("%s\n", json ? JsonLine(bss, scan, time).c_str() : TextLine(bss).c_str());
    });
}

int Record(const std::string& name, bool passive, int scans, const std::string& output) {
    Connection connection;
    CaptureWriter writer;
    std::string error;
    if (!writer.Open(output, error)) {
        Fail(error);
        return kUsageOrOpenError;
    }
    // The file starts with the controller's answer naming nl80211's id.
    bool started = false;
    std::string writeError;
    connection.client.onTraffic = [&](Direction direction, std::span<const std::uint8_t> bytes) {
        if (!started && direction == Direction::ToKernel)
            return;
        started = true;
        if (writeError.empty())
            writer.Write(NowUs(), direction, bytes, writeError);
    };
    if (!connection.Open(error)) {
        writer.Close(writeError);
        Fail(error);
        return kFailed;
    }
    const int status =
        Scan(name, passive, scans, connection.client, [&](const ScanOutcome& outcome, int scan) {
            std::printf("scan %d: %zu BSSs\n", scan, outcome.results.size());
            std::fflush(stdout);
        });
    if (!writer.Close(error) || !writeError.empty()) {
        Fail(output + ": " + (writeError.empty() ? error : writeError));
        return kFailed;
    }
    return status;
}

int Decode(const std::string& path, bool json) {
    // Scan by scan as the capture is read: a recording of hours decodes in
    // the memory of one scan.
    RecordingReader recording;
    std::string error;
    if (!recording.Open(path, error)) {
        Fail(error);
        return kUsageOrOpenError;
    }
    RecordedScan scan;
    for (std::size_t i = 0; recording.Next(scan); ++i) {
        std::vector<Bss>& results = scan.results;
        SortStrongestFirst(results);
        if (!json) {
            std::printf(
                "scan %zu  %s  %zu BSSs%s%s%s\n", i, TimeText(scan.timeUs).c_str(), results.size(),
                scan.aborted ? "  (aborted)" : "", scan.complete ? "" : "  (cut short)",
                scan.damagedBss == 0
                    ? ""
                    : ("  (" + std::to_string(scan.damagedBss) + " damaged, left out)").c_str());
        }
        for (const Bss& bss : results) {
            if (json)
                std::printf("%s\n", JsonLine(bss, static_cast<int>(i), scan.timeUs).c_str());
            else
                std::printf("  %s\n", TextLine(bss).c_str());
        }
    }
    if (!recording.Damage().empty()) {
        Fail(path + ": " + recording.Damage());
        return kFailed;
    }
    if (recording.DamagedBss() > 0) {
        Fail(path + ": the file is damaged: " + std::to_string(recording.DamagedBss()) +
             " scan results cannot be read and were left out");
        return kFailed;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"The Wi-Fi adapter through nl80211: interfaces, scans, recordings"};
    app.set_version_flag("--version", "ktwifi " KETRION_VERSION, "print the version and exit");
    app.require_subcommand(1);

    app.add_subcommand("list", "the Wi-Fi interfaces: name, index, MAC, phy, up or down, rfkill");

    std::string interface;
    bool passive = false;
    bool json = false;
    CLI::App* scan = app.add_subcommand("scan", "one scan, one line per BSS, strongest first");
    scan->add_option("IFACE", interface, "interface (default: the first Wi-Fi interface up)");
    scan->add_flag("--passive", passive, "listen only (no probe requests)");
    scan->add_flag("--json", json, "one JSON object per line per BSS");

    std::string output;
    int scans = 1;
    CLI::App* record =
        app.add_subcommand("record", "write the netlink traffic of some scans to a capture file");
    record->add_option("IFACE", interface, "interface (default: the first Wi-Fi interface up)");
    record->add_option("-o,--output", output, "capture file to write (.pcap)")->required();
    record->add_option("--scans", scans, "how many scans")->check(CLI::Range(1, 100000));
    record->add_flag("--passive", passive, "listen only (no probe requests)");

    std::string path;
    CLI::App* decode = app.add_subcommand("decode", "every BSS of every scan of a capture file");
    decode->add_option("FILE", path, "capture file (.pcap, link type 253)")->required();
    decode->add_flag("--json", json, "one JSON object per line per BSS");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : kUsageOrOpenError;
    }
    if (scan->parsed())
        return ScanCommand(interface, passive, json);
    if (record->parsed())
        return Record(interface, passive, scans, output);
    if (decode->parsed())
        return Decode(path, json);
    return List();
}
