#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Prompt.h"

namespace ketrion {

// Records every message text instead of showing it. Safe to call from any
// thread (the link thread raises messages too).
class RecordingPrompt final : public Prompt {
public:
    void Message(std::string_view text) override {
        std::lock_guard lock(m_mutex);
        m_messages.emplace_back(text);
    }
    // A copy of the messages so far, in the order they were raised.
    std::vector<std::string> Messages() const {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }
    void Clear() {
        std::lock_guard lock(m_mutex);
        m_messages.clear();
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_messages;
};

}  // namespace ketrion
