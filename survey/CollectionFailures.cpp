#include "survey/CollectionFailures.h"

#include <cerrno>
#include <cstring>

#include "platform/Prompt.h"

namespace ketrion {

void CollectionFailures::Report(const std::string& text) {
    {
        std::lock_guard lock(m_mutex);
        ++m_count;
        m_last = text;
    }
    m_prompt.Message(text);
}

void CollectionFailures::ShowFailure(const std::string& path, const char* action, int error) {
    if (error == EWOULDBLOCK) {
        Report("The collection file " + path + " is in use by another program.");
    } else {
        Report(std::string("Cannot ") + action + " the collection file " + path + ": " +
               std::strerror(error) + ".");
    }
}

std::uint64_t CollectionFailures::Count() const {
    std::lock_guard lock(m_mutex);
    return m_count;
}

std::string CollectionFailures::Last() const {
    std::lock_guard lock(m_mutex);
    return m_last;
}

}  // namespace ketrion
