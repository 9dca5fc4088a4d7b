#pragma once

#include <span>

#include "analysis/ApEstimate.h"
#include "tools/ktd/ReportLayout.h"

namespace ketrion::ktd {

// What the side store's details (joined to the estimates' readings) add to a
// report: the bands to split each network's pages by, in the order 2.4, 5,
// 6 GHz, other, then "band unknown" for the access points the store names no
// band for (so no network loses its page), and each access point's channel
// and security for the table. No band known for any access point: no bands,
// one page per network.
ReportExtras ReportExtrasOf(std::span<const analysis::ApEstimate> aps);

}  // namespace ketrion::ktd
