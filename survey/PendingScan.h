#pragma once

#include <string>

#include "model/Reading.h"

namespace ketrion {

// A continuous walk's scan kept in the side store until it is placed: one
// JSON object with the scan's times on the session clock, the scan source's
// kind and every reading with all its details (the full network name, channel,
// band, security, PHY ...), so a walk placed later, even after a crash, is
// written exactly as a reading taken in place would be.
std::string EncodePendingScan(const source::ScanResult& result, const std::string& sourceKind);

// Reads a kept scan back. The side store's bytes are not trusted: every field
// is checked for its type and range and nothing throws. False with *why (one
// short phrase naming the field) for a body that is not a scan.
bool DecodePendingScan(const std::string& body, source::ScanResult& result, std::string* why);

}  // namespace ketrion
