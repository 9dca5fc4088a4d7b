#include "platform/Prompt.h"

#include <cstdio>

namespace ketrion {

void StderrPrompt::Message(std::string_view text) {
    std::fprintf(stderr, "Ketrion: %.*s\n", static_cast<int>(text.size()), text.data());
}

}  // namespace ketrion
