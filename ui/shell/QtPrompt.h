#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

#include "platform/Prompt.h"

namespace ketrion {

// Message boxes raised by core code, shown by Qt on the UI thread.
//
// From the UI thread, Message() shows the box modally (titled "Ketrion", one OK
// button) and returns when it is closed. From any other thread (the link
// thread) it queues the box to the UI thread and returns at once, so the
// caller never waits on the user and never touches a window. A text whose box
// is still open or queued is not shown a second time on top of it.
//
// With a recorder set (tests, unattended runs) no box is shown: each text is
// handed to the recorder on the calling thread, under the prompt's lock.
class QtPrompt final : public Prompt {
public:
    using Recorder = std::function<void(const std::string& text)>;

    QtPrompt() = default;
    explicit QtPrompt(Recorder recorder) : m_recorder(std::move(recorder)) {}
    ~QtPrompt() override;
    QtPrompt(const QtPrompt&) = delete;
    QtPrompt& operator=(const QtPrompt&) = delete;

    void Message(std::string_view text) override;

    // Replaces the recorder; an empty one shows boxes again.
    void SetRecorder(Recorder recorder);
    // Texts whose boxes are open or queued right now.
    std::size_t PendingCount() const;

    // The title of every box.
    static constexpr const char* kTitle = "Ketrion";

private:
    // UI thread: shows the box and forgets the text when it closes.
    void Show(const std::string& text);

    mutable std::mutex m_mutex;
    Recorder m_recorder;
    std::set<std::string> m_open;  // texts shown or queued, guarded by m_mutex
    // Cleared by the destructor so boxes still queued when the prompt dies are
    // dropped instead of reaching a destroyed object.
    std::shared_ptr<QtPrompt*> m_self = std::make_shared<QtPrompt*>(this);
};

}  // namespace ketrion
