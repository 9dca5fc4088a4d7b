#pragma once

// Reading a collection file for looking at it: opened read-only, never
// locked, never written, so a program recording into the file is neither
// stopped nor disturbed, and nothing here waits for it. The walk stops at the
// size the file had when it was opened (points appended meanwhile belong to
// the next reading) and at kMaxLoadedPoints points.

#include <cstdint>
#include <string>

#include "survey/CollectionFile.h"
#include "survey/RegularFile.h"

namespace ketrion::collection {

// What a walk over a collection file finds, in file order.
class WalkVisitor {
public:
    virtual ~WalkVisitor() = default;
    // The header as far as it could be read; the record sizes only when
    // `sizesRead`. Not called for a file shorter than its header.
    virtual void Header(const collection::Header& /*header*/, bool /*sizesRead*/) {}
    // A location record (its first 61 bytes; valid during the call only).
    // `number` counts from 1.
    virtual void Location(std::int64_t /*number*/, std::int64_t /*offset*/,
                          const std::uint8_t* /*location*/) {}
    // One complete reading record of the last location (41 bytes, likewise).
    virtual void Reading(const std::uint8_t* /*reading*/) {}
};

// How a walk ended.
struct WalkEnd {
    enum class Kind {
        Complete,       // every record was read
        NotOpened,      // cannot be opened, or not a regular file: see `open`
        BadHeader,      // the header or record sizes are damaged: see `damage`
        CutReadings,    // the file ends inside point `points`: `complete` of `count` readings
        CutLocation,    // `leftover` bytes of a location record at `offset` end the file
        ReadError,      // a read failed with `error`
        TooManyPoints,  // more than kMaxLoadedPoints points: the walk stopped there
    };
    Kind kind = Kind::Complete;
    files::OpenFailure open;  // NotOpened
    Damage damage = Damage::None;
    collection::Header header;  // as far as it was read
    std::int64_t points = 0;    // location records visited
    std::int64_t readings = 0;  // complete reading records visited
    unsigned complete = 0;      // CutReadings
    unsigned count = 0;
    std::int64_t offset = 0;  // CutLocation
    std::int64_t leftover = 0;
    int error = 0;          // ReadError
    std::int64_t size = 0;  // the file's size when it was opened

    bool Whole() const { return kind == Kind::Complete; }
};

// Walks the collection file open on `fd` (not taken over) from its start.
WalkEnd WalkCollection(int fd, WalkVisitor& visitor);
// Opens the file at `path` for reading only, without waiting on a fifo or a
// device and refusing anything but a regular file, and walks it.
WalkEnd WalkCollection(const std::string& path, WalkVisitor& visitor);

}  // namespace ketrion::collection
