#pragma once

#include <string_view>

namespace ketrion {

// Plays the program's WAVE resources by name: "PING", "WHOOSH", "CAMERA",
// "REDALERT". A play never waits for the sound (alerts are raised on the
// user-interface thread); with no audio device an implementation stays silent.
class Sound {
public:
    virtual ~Sound() = default;
    // Starts the sound and returns at once.
    virtual void PlayResourceSound(std::string_view name) = 0;
};

// Silence: for tools and tests that do not care about sounds.
class NullSound final : public Sound {
public:
    void PlayResourceSound(std::string_view) override {}
};

}  // namespace ketrion
