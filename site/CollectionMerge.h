#pragma once

// Several walks on one floor made one collection file: the first input's
// header and record-size block, then every point of every input in the order
// given, each copied record for record (the bytes a board wrote stay exact),
// and a side store for the output with each kept point's rows at its new
// offset.
//
// A point is the same as one already taken when its bytes (location record
// and readings, which hold no offset) and its side rows (all but the offset)
// agree: such a point is left out, so a walk merged twice, or a copy of one,
// adds nothing. Points within one input are never dropped.
//
// Refused, writing nothing: an input missing, damaged or cut short, or whose
// side store cannot be read; inputs of different record sizes; walks of
// different plans (their side stores name different plans, or a point lies
// off the plan given); an output that is one of the inputs or not a regular
// file. The output is written as a temporary file and renamed into place, so
// a failure leaves it as it was.

#include <cstddef>
#include <string>
#include <vector>

namespace ketrion::site {

struct MergeRequest {
    std::vector<std::string> inputs;
    std::string output;
    std::string projection;  // optional: every input's points must lie on its plan
};

struct MergeResult {
    bool ok = false;
    std::string error;           // when not ok
    std::size_t points = 0;      // written
    std::size_t duplicates = 0;  // left out as already taken
};

MergeResult MergeCollections(const MergeRequest& request);

}  // namespace ketrion::site
