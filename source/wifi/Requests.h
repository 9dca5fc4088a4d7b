#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace ketrion::source::wifi {

// The requests this program sends to the kernel's generic netlink, built with
// libnl and handed back as the datagram's bytes.

// Asks the controller for a family by name ("nl80211").
std::vector<std::uint8_t> FamilyRequest(std::uint32_t seq, const char* name);
// Dumps the Wi-Fi interfaces (GET_INTERFACE).
std::vector<std::uint8_t> InterfacesRequest(std::uint16_t family, std::uint32_t seq);
// Starts a scan on `ifindex`: active with the wildcard name, or passive
// (no probe requests sent).
std::vector<std::uint8_t> TriggerRequest(std::uint16_t family, std::uint32_t seq,
                                         std::uint32_t ifindex, bool passive);
// Dumps the interface's scan results (GET_SCAN).
std::vector<std::uint8_t> ScanDumpRequest(std::uint16_t family, std::uint32_t seq,
                                          std::uint32_t ifindex);
// Dumps the interface's channel survey (GET_SURVEY), for the noise floor.
std::vector<std::uint8_t> SurveyRequest(std::uint16_t family, std::uint32_t seq,
                                        std::uint32_t ifindex);

}  // namespace ketrion::source::wifi
