#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Sound.h"

namespace ketrion {

// Records the names of the sounds played instead of playing them. Safe to call
// from any thread.
class RecordingSound final : public Sound {
public:
    struct Played {
        std::string name;
        bool operator==(const Played&) const = default;
    };

    void PlayResourceSound(std::string_view name) override {
        std::lock_guard lock(m_mutex);
        m_played.push_back({std::string(name)});
    }

    // Every sound so far, in order.
    std::vector<Played> Sounds() const {
        std::lock_guard lock(m_mutex);
        return m_played;
    }
    // Just the names, in order.
    std::vector<std::string> Names() const {
        std::lock_guard lock(m_mutex);
        std::vector<std::string> names;
        names.reserve(m_played.size());
        for (const Played& p : m_played) {
            names.push_back(p.name);
        }
        return names;
    }
    void Clear() {
        std::lock_guard lock(m_mutex);
        m_played.clear();
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Played> m_played;
};

}  // namespace ketrion
