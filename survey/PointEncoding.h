#pragma once

#include <cstdint>
#include <vector>

#include "model/Fix.h"
#include "model/Reading.h"
#include "survey/CollectionFile.h"

namespace ketrion::collection {

// One survey point as the collection file stores it, composed in memory so
// that it reaches the file in one write.
struct EncodedPoint {
    std::vector<std::uint8_t> bytes;  // location record, then its reading records
    std::int16_t strongest = -100;    // strongest whole-dBm signal written, never below -100
    std::uint16_t readings = 0;       // reading records written
};

// The most reading records one point can hold (its count is 16 bits).
inline constexpr std::size_t kMaxPointReadings = 0xFFFF;

// Fills a 61-byte location record from `fix`: position, date and time,
// height, speeds, heading and fix class, then `count` and `kind`; bytes
// 32..59 zero.
void EncodeLocation(const source::Fix& fix, std::uint16_t count, std::uint8_t kind,
                    std::uint8_t (&record)[kLocationSize]);

// A survey point: the location record from `fix` and one 41-byte reading
// record per reading the collection file can carry, in the order given (at
// most kMaxPointReadings). A name is cut to 31 bytes and terminated.
EncodedPoint EncodeSurveyPoint(const source::Fix& fix,
                               const std::vector<source::Reading>& readings);

}  // namespace ketrion::collection
