#include "tools/ktd/ReportLayout.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <numeric>

namespace ketrion::ktd {

namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

// The number a whole text holds (after trimming), nothing else.
std::optional<double> Number(std::string_view text) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+')
        return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
    if (text.size() < suffix.size())
        return false;
    for (std::size_t i = 0; i < suffix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[text.size() - suffix.size() + i])) !=
            suffix[i])
            return false;
    return true;
}

}  // namespace

std::optional<double> ParseDbm(std::string_view text) {
    text = Trim(text);
    if (EndsWithNoCase(text, "dbm"))
        text.remove_suffix(3);
    const auto value = Number(text);
    if (!value || *value < kLowestRequirement || *value > 0)
        return std::nullopt;
    return value;
}

std::optional<double> ParseShare(std::string_view text) {
    text = Trim(text);
    if (!text.empty() && text.back() == '%')
        text.remove_suffix(1);
    const auto value = Number(text);
    if (!value || !(*value > 0) || *value > 100)
        return std::nullopt;
    return *value / 100.0;
}

std::vector<HeatmapPage> PlanHeatmapPages(const std::vector<std::string>& networks,
                                          std::span<const ReportBand> bands,
                                          std::span<const analysis::ApEstimate> aps) {
    using analysis::Metric;
    std::vector<HeatmapPage> pages;
    HeatmapPage whole;
    whole.title = "All networks";
    whole.wholeSurvey = true;
    whole.signal.metric = Metric::Strongest;
    whole.second.metric = Metric::Second;
    pages.push_back(whole);

    for (const analysis::ApEstimate& ap : aps)
        pages.front().accessPoints.push_back(ap.mac);
    auto page = [&](const std::string& network, const ReportBand* band) {
        HeatmapPage p;
        p.network = network;
        p.title = network.empty() ? "Network (hidden network)" : "Network \"" + network + "\"";
        p.signal.metric = Metric::Ssid;
        p.signal.ssid = network;
        p.second.metric = Metric::Second;
        p.second.ssid = network;
        p.second.inNetwork = true;
        if (band != nullptr) {
            p.band = band->name;
            p.title += ", " + band->name;
            p.signal.macs = band->macs;
            p.second.macs = band->macs;
        }
        for (const analysis::ApEstimate& ap : aps)
            if (ap.ssid == network &&
                (band == nullptr ||
                 std::find(band->macs.begin(), band->macs.end(), ap.mac) != band->macs.end()))
                p.accessPoints.push_back(ap.mac);
        return p;
    };
    for (const std::string& network : networks) {
        if (bands.empty()) {
            pages.push_back(page(network, nullptr));
            continue;
        }
        for (const ReportBand& band : bands) {
            const bool heard = std::any_of(aps.begin(), aps.end(), [&](const auto& ap) {
                return ap.ssid == network &&
                       std::find(band.macs.begin(), band.macs.end(), ap.mac) != band.macs.end();
            });
            if (heard)
                pages.push_back(page(network, &band));
        }
    }
    return pages;
}

NetworkScope ChooseNetworks(const std::vector<std::string>& heard,
                            const std::vector<std::string>& client) {
    NetworkScope scope;
    scope.clientChosen = !client.empty();
    if (!scope.clientChosen) {
        scope.judged = heard;
        return scope;
    }
    for (const std::string& name : client) {
        const bool isHeard = std::find(heard.begin(), heard.end(), name) != heard.end();
        std::vector<std::string>& into = isHeard ? scope.judged : scope.notHeard;
        if (std::find(into.begin(), into.end(), name) == into.end())
            into.push_back(name);
    }
    for (const std::string& name : heard)
        if (std::find(client.begin(), client.end(), name) == client.end())
            scope.neighbours.push_back(name);
    return scope;
}

std::vector<ColumnSpan> LayoutColumns(std::span<const int> widest, int available, int gap) {
    const int n = static_cast<int>(widest.size());
    std::vector<ColumnSpan> columns(widest.size());
    if (n == 0)
        return columns;
    gap = std::max(gap, 1);
    const long room = std::max<long>(available - static_cast<long>(gap) * (n - 1), n);
    std::vector<long> widths(widest.begin(), widest.end());
    for (long& w : widths)
        w = std::max<long>(w, 1);
    const long natural = std::accumulate(widths.begin(), widths.end(), 0L);
    if (natural <= room) {
        // Everything fits: the spare room spread evenly.
        const long spare = (room - natural) / n;
        for (long& w : widths)
            w += spare;
    } else {
        // The common width the widest columns are cut to: the narrow ones keep
        // theirs, the rest share what is left.
        std::vector<long> sorted = widths;
        std::sort(sorted.begin(), sorted.end());
        long left = room;
        long cap = 1;
        for (int i = 0; i < n; ++i) {
            const long share = left / (n - i);
            if (sorted[static_cast<std::size_t>(i)] > share) {
                cap = std::max<long>(share, 1);
                break;
            }
            left -= sorted[static_cast<std::size_t>(i)];
        }
        for (long& w : widths)
            w = std::min(w, cap);
    }
    long x = 0;
    for (int c = 0; c < n; ++c) {
        columns[static_cast<std::size_t>(c)] = {
            static_cast<int>(x), static_cast<int>(widths[static_cast<std::size_t>(c)])};
        x += widths[static_cast<std::size_t>(c)] + gap;
    }
    return columns;
}

}  // namespace ketrion::ktd
