#pragma once

#include <string>
#include <string_view>

namespace ketrion {

// Message boxes raised by core code (titled "Ketrion", one OK button).
// Message() may be called from any thread and never blocks the caller on the
// user: the Qt implementation queues the box to the UI thread. Tools print the
// text; tests record it.
class Prompt {
public:
    virtual ~Prompt() = default;
    virtual void Message(std::string_view text) = 0;
};

// Writes each message to standard error, one line each (tools and headless runs).
class StderrPrompt final : public Prompt {
public:
    void Message(std::string_view text) override;
};

}  // namespace ketrion
