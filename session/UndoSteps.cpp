#include "session/UndoSteps.h"

#include <algorithm>
#include <utility>

#include "survey/SiteData.h"

namespace ketrion {

UndoSteps::UndoSteps(CSiteData& data, WalkPlacing& walk) : m_data(data), m_walk(walk) {}

void UndoSteps::RememberWritten(WalkPlacing::Placed placed) {
    m_data.Flush();
    UndoStep step;
    std::size_t index = 0;
    m_data.ForEachPoint([&](const CSiteData::_tap& point) {
        if (index++ >= placed.pointsBefore)
            step.offsets.push_back(point.offset);
        if (point.kind == CSiteData::kKindSurvey)
            step.newest = std::max(step.newest, point.offset);
    });
    // A walk's segment is a step even when its click placed nothing: undoing
    // it takes the click back.
    if (!step.offsets.empty() || placed.walk != 0) {
        step.placed = std::move(placed);
        m_undo.push_back(std::move(step));
    }
}

bool UndoSteps::DeletePoint(std::int64_t offset) {
    if (!m_data.MarkDeleted(offset, true))
        return false;
    UndoStep step;
    step.offsets.push_back(offset);
    step.deletion = true;
    m_undo.push_back(std::move(step));
    return true;
}

bool UndoSteps::Undo() {
    m_data.Flush();
    // The last point recorded that is still shown.
    std::int64_t lastOffset = -1;
    m_data.ForEachPoint([&](const CSiteData::_tap& point) {
        if (!point.deleted && point.kind == CSiteData::kKindSurvey)
            lastOffset = std::max(lastOffset, point.offset);
    });
    // The segment of a walk since ended whose click placed nothing: nothing
    // of it is left to take back.
    while (!m_undo.empty() && m_undo.back().offsets.empty() && m_undo.back().placed.scans.empty()) {
        const UndoStep& top = m_undo.back();
        if (m_walk.IsLastSegment(top.placed.walk, top.placed.clicks))
            break;
        m_undo.pop_back();
    }
    if (!m_undo.empty()) {
        const UndoStep& top = m_undo.back();
        if (top.deletion || top.newest >= lastOffset) {
            UndoStep step = std::move(m_undo.back());
            m_undo.pop_back();
            bool all = true;
            for (const std::int64_t offset : step.offsets)
                all = m_data.MarkDeleted(offset, !step.deletion) && all;
            if (!all) {
                m_undo.push_back(std::move(step));  // not kept (said): the step can be tried again
                return false;
            }
            m_walk.GiveBack(step.placed);
            return true;
        }
    }
    return lastOffset >= 0 && m_data.MarkDeleted(lastOffset, true);
}

void UndoSteps::Clear() {
    m_undo.clear();
}

}  // namespace ketrion
