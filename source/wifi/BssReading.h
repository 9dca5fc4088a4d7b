#pragma once

#include <optional>
#include <vector>

#include "model/Reading.h"
#include "source/wifi/Netlink.h"

namespace ketrion::source::wifi {

// One BSS as the survey records it: BSSID, name, signal in the collection
// file's 1/256 dBm, the channel number in the attribute byte (0 when unknown
// or over 255), and the details the side store keeps. A BSS without a dBm
// signal is kept for the side store only (inCollection false).
Reading ReadingOf(const Bss& bss, std::optional<int> noiseDbm);

// Strongest first: dBm signals before signals in unspecified units, ties by
// BSSID, so the same scan always gives the same order.
void SortStrongestFirst(std::vector<Reading>& readings);

// The same order for BSSs as they come from the kernel.
void SortStrongestFirst(std::vector<Bss>& results);

}  // namespace ketrion::source::wifi
