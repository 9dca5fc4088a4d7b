// Registry files come from the user's command line (--registry FILE) and are
// untrusted. Parses arbitrary bytes, then walks whatever tree came out the way
// the port search does, and runs the search itself.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "link/PortSearch.h"
#include "platform/Prompt.h"
#include "platform/Registry.h"

namespace {

class SilentPrompt final : public ketrion::Prompt {
public:
    void Message(std::string_view) override {}
};

// Visits every key and reads its search values, bounded by the tree's size.
void Walk(const ketrion::Registry& registry, ketrion::Registry::Key key, int depth) {
    if (depth > static_cast<int>(ketrion::Registry::kMaxDepth) + 1) {
        __builtin_trap();  // the parser promised a bounded depth
    }
    std::string text;
    registry.QueryValue(key, "PnpId", text);
    registry.QueryValue(key, "Name", text);
    std::string name;
    for (std::size_t i = 0; registry.EnumKey(key, i, name); ++i) {
        ketrion::Registry::Key child = 0;
        if (!registry.OpenKey(key, name, child)) {
            __builtin_trap();  // an enumerated subkey must open
        }
        Walk(registry, child, depth + 1);
        registry.CloseKey(child);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto registry = ketrion::Registry::FromText(text, &error);
    if (!registry) {
        if (error.empty()) {
            __builtin_trap();  // a refusal always says why
        }
        return 0;
    }
    Walk(*registry, ketrion::Registry::kLocalMachine, 0);
    SilentPrompt prompt;
    const std::string port = ketrion::FindBoardPort(*registry, prompt);
    if (port.empty()) {
        __builtin_trap();  // the search always yields a name to try
    }
    return 0;
}
