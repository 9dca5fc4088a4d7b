#pragma once

// What a report holds and where its table columns go, decided without
// drawing: the requirement values the options give, the heatmap pages for the
// networks (and bands, when known), and the table's column positions from
// measured text widths.

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/ApEstimate.h"
#include "analysis/Metrics.h"

namespace ketrion::ktd {

// A signal level written as "-67", "-67 dBm" or "-67.5dBm" (any case), from
// kLowestRequirement to 0 dBm.
inline constexpr double kLowestRequirement = -120;
std::optional<double> ParseDbm(std::string_view text);

// A share written as "95", "95%" or "95 %", above 0 and at most 100; as a
// fraction (0.95).
std::optional<double> ParseShare(std::string_view text);

// The share of the surveyed area a requirement must cover unless the user
// says otherwise: the usual acceptance level of a coverage design, which
// tolerates corners and closets without letting a whole room go.
inline constexpr double kDefaultRequiredShare = 0.95;

// The access points heard on one band, as a side store knows them.
struct ReportBand {
    std::string name;  // "2.4 GHz", "5 GHz", ...
    std::vector<analysis::Mac> macs;
};

// What the collection file cannot tell about an access point; empty when unknown.
struct ApDetails {
    std::string channel;
    std::string security;
};

// What a side store adds to a report: bands to split the network pages by,
// and access-point details for the table. Empty: one page per network, empty
// channel and security columns.
struct ReportExtras {
    std::vector<ReportBand> bands;
    std::map<analysis::Mac, ApDetails> details;
};

// One heatmap page: its title and the metrics its figures and picture use.
struct HeatmapPage {
    std::string title;            // "All networks", "Network \"LAB\"", "... 5 GHz"
    analysis::MetricSpec signal;  // drawn, and checked against the first requirement
    analysis::MetricSpec second;  // checked against the second requirement
    bool wholeSurvey = false;     // the page of all networks together
    std::string network;          // the network name (not for the whole survey)
    std::string band;             // the band's name, empty for all bands
    // Judged against the requirements: false for the whole survey when the
    // client's networks are chosen (it holds the neighbours' too).
    bool judged = true;
    // The addresses of the page's access points (all of them for the whole
    // survey): marked on its map, and counted for the second-AP requirement.
    std::vector<analysis::Mac> accessPoints;
    // A second access point is judged only where the network has two or more.
    bool JudgesSecond() const { return judged && (wholeSurvey || accessPoints.size() >= 2); }
};

// The networks a report judges: the client's (--network, in the order given)
// or, when none is named, every network heard. Those named but not heard are
// failed; the others heard are neighbours, listed apart and never failed.
struct NetworkScope {
    std::vector<std::string> judged;      // heard, judged
    std::vector<std::string> notHeard;    // named, not heard
    std::vector<std::string> neighbours;  // heard, not named
    bool clientChosen = false;
};
NetworkScope ChooseNetworks(const std::vector<std::string>& heard,
                            const std::vector<std::string>& client);

// The whole survey first, then each network in the given order; with bands,
// one page per band on which the network has an access point (after `aps`)
// instead of one for the network.
std::vector<HeatmapPage> PlanHeatmapPages(const std::vector<std::string>& networks,
                                          std::span<const ReportBand> bands,
                                          std::span<const analysis::ApEstimate> aps);

// A table column: its left edge and width, in page units.
struct ColumnSpan {
    int x = 0;
    int width = 0;
};

// Columns side by side from x = 0 with `gap` between neighbours. Each is as
// wide as its widest text (`widest`) when all fit in `available`, the room
// left over shared out evenly; otherwise the widest columns are cut down to
// one common width (their texts elided) until the table fits. Neighbours never
// overlap or touch: each column ends at least `gap` before the next begins.
std::vector<ColumnSpan> LayoutColumns(std::span<const int> widest, int available, int gap);

}  // namespace ketrion::ktd
