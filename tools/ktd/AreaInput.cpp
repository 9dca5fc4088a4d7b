#include "tools/ktd/AreaInput.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace ketrion::ktd {

std::optional<std::vector<analysis::PlanPoint>> ReadBoundaryFile(const std::string& path,
                                                                 std::string& error) {
    const std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::string text;
    char chunk[65536];
    for (;;) {
        const std::size_t n = std::fread(chunk, 1, sizeof chunk, file.get());
        text.append(chunk, n);
        if (static_cast<long>(text.size()) > kLargestBoundaryFile) {
            error = path + ": too large for a boundary file";
            return std::nullopt;
        }
        if (n < sizeof chunk) {
            if (std::ferror(file.get())) {
                error = "cannot read " + path + ": " + std::strerror(errno);
                return std::nullopt;
            }
            break;
        }
    }
    std::string why;
    auto polygon = analysis::ParseBoundaryJson(text, why);
    if (!polygon) {
        error =
            path + ": not a boundary (" + why + "); give a JSON list of [x, y] plan-pixel vertices";
        return std::nullopt;
    }
    return polygon;
}

}  // namespace ketrion::ktd
