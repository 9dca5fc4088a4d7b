#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace ketrion {

class Prompt;

// The failures about the collection file the user must see: each one goes
// to the Prompt (which never blocks the caller) and is counted, with the
// last one's text kept, so that an unattended run ends on them instead of
// waiting for points.
//
// Threads: any thread; the count and the text are guarded by a member mutex,
// never held while the Prompt is told.
class CollectionFailures {
public:
    explicit CollectionFailures(Prompt& prompt) : m_prompt(prompt) {}

    // Counts `text` and shows it.
    void Report(const std::string& text);
    // A failed system call on the file at `path`: "in use by another
    // program" for a lock held elsewhere (EWOULDBLOCK), else "Cannot
    // <action> the collection file <path>: <the error's text>."
    void ShowFailure(const std::string& path, const char* action, int error);

    std::uint64_t Count() const;
    std::string Last() const;

private:
    Prompt& m_prompt;
    mutable std::mutex m_mutex;  // guards the two below
    std::uint64_t m_count = 0;
    std::string m_last;
};

}  // namespace ketrion
