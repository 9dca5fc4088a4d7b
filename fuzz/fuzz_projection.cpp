// Loads arbitrary bytes as a projection file: the header, the block length and
// the compressed plan inside are all untrusted.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/Prompt.h"
#include "platform/Sound.h"
#include "survey/SiteProjection.h"

namespace {

class QuietPrompt final : public ketrion::Prompt {
public:
    void Message(std::string_view) override {}
};

// The projection file of this process and the two files loading leaves
// beside it, removed when it exits.
struct ScratchFile {
    std::string path = "/tmp/fuzz_projection_" + std::to_string(::getpid()) + ".ktp";
    ~ScratchFile() {
        for (const char* suffix : {"", "c", "b"}) {
            std::remove((path + suffix).c_str());
        }
    }
};

const ScratchFile s_file;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = s_file.path;
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    QuietPrompt prompt;
    ketrion::NullSound sound;
    ketrion::CSiteProjection projection(prompt, sound);
    if (projection.LoadProjection(path)) {
        // Whatever the coefficients, mapping stays defined.
        // Summed in 64 bits: saturated coordinates would overflow an int.
        volatile std::int64_t sink = std::int64_t{projection.PlanXFromDegrees(45.5, -120.25)} +
                                     projection.PlanYFromDegrees(-1e300, 1e300) +
                                     projection.PlanX(INT32_MIN, INT32_MAX) +
                                     projection.PlanY(INT32_MAX, INT32_MIN);
        (void)sink;
        // The inverse map of whatever was loaded is defined or absent, never a crash.
        if (const auto at = projection.ToGeo(100.5, -3.25))
            (void)projection.ToPlan(at->latitude, at->longitude);
    }
    return 0;
}
