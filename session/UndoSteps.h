#pragma once

#include <cstdint>
#include <vector>

#include "session/WalkPlacing.h"

namespace ketrion {

class CSiteData;

// The steps Undo can take back, the last one first: points written together
// (marked deleted), or a deletion (the point shown again). A walk's segment
// gives its scans back to the walk it was placed from.
//
// Threads: the user-interface thread only; the walk guards its own state.
class UndoSteps {
public:
    UndoSteps(CSiteData& data, WalkPlacing& walk);
    UndoSteps(const UndoSteps&) = delete;
    UndoSteps& operator=(const UndoSteps&) = delete;

    // Remembers the points written since `placed.pointsBefore` as one step,
    // with the scans they were placed from.
    void RememberWritten(WalkPlacing::Placed placed);
    // Marks the point at `offset` deleted, as a step of its own.
    bool DeletePoint(std::int64_t offset);
    // Takes back the last step, or hides the last point recorded when it is
    // later than that step. False when there is nothing to undo, or the
    // file did not keep the change.
    bool Undo();
    // Forgets every step (the collection file is left).
    void Clear();

private:
    // One step Undo can take back: points written together, or a deletion.
    // Points placed from kept scans carry those scans, and a walk's segment
    // its walk and the number of clicks up to its end click.
    struct UndoStep {
        std::vector<std::int64_t> offsets;
        bool deletion = false;
        // The newest survey point's offset when the step was taken: a later
        // point is undone first.
        std::int64_t newest = -1;
        WalkPlacing::Placed placed;
    };

    CSiteData& m_data;
    WalkPlacing& m_walk;
    std::vector<UndoStep> m_undo;
};

}  // namespace ketrion
