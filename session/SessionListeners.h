#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "session/SurveySession.h"

namespace ketrion {

// The session's listeners: those of the readings the recording asks for and
// those of the changes of its points. Ids are shared between the two kinds.
//
// Threads: reading listeners belong to the user-interface thread. Point
// listeners are called under the lock, on the thread that made the change,
// so UnsubscribePoints returns only when no call to the one it removes is
// under way.
class SurveySession::Listeners {
public:
    int SubscribeReadings(ReadingListener listener);
    void UnsubscribeReadings(int id);
    // Calls the reading listeners, from a copy of the list: a listener may
    // subscribe or unsubscribe meanwhile.
    void AnnounceReading(std::optional<PlanPoint> at);

    int SubscribePoints(PointListener listener);
    void UnsubscribePoints(int id);
    // Counts the change, then calls the point listeners.
    void Announce(PointChange change);
    std::uint64_t PointsRevision() const { return m_pointsRevision.load(); }

private:
    std::vector<std::pair<int, ReadingListener>> m_readingListeners;  // UI thread
    // Point listeners; called under the lock, so Unsubscribe returns only
    // when no call to the one it removes is under way.
    std::mutex m_listenerMutex;
    std::vector<std::pair<int, PointListener>> m_listeners;
    int m_nextListener = 1;
    std::atomic<std::uint64_t> m_pointsRevision{0};
};

}  // namespace ketrion
