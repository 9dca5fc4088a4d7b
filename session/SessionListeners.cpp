#include "session/SessionListeners.h"

namespace ketrion {

int SurveySession::Listeners::SubscribeReadings(ReadingListener listener) {
    int id = 0;
    {
        std::lock_guard lock(m_listenerMutex);  // ids are shared with point listeners
        id = m_nextListener++;
    }
    m_readingListeners.emplace_back(id, std::move(listener));
    return id;
}

void SurveySession::Listeners::UnsubscribeReadings(int id) {
    std::erase_if(m_readingListeners, [id](const auto& entry) { return entry.first == id; });
}

void SurveySession::Listeners::AnnounceReading(std::optional<PlanPoint> at) {
    for (const auto& [id, listener] : std::vector(m_readingListeners))
        listener(at);
}

int SurveySession::Listeners::SubscribePoints(PointListener listener) {
    std::lock_guard lock(m_listenerMutex);
    const int id = m_nextListener++;
    m_listeners.emplace_back(id, std::move(listener));
    return id;
}

void SurveySession::Listeners::UnsubscribePoints(int id) {
    std::lock_guard lock(m_listenerMutex);
    std::erase_if(m_listeners, [id](const auto& entry) { return entry.first == id; });
}

void SurveySession::Listeners::Announce(PointChange change) {
    ++m_pointsRevision;
    std::lock_guard lock(m_listenerMutex);
    for (const auto& [id, listener] : m_listeners)
        listener(change);
}

}  // namespace ketrion
