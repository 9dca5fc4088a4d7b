#include "tools/ktd/AreaInput.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "survey/RegularFile.h"

namespace ketrion::ktd {

std::optional<std::vector<analysis::PlanPoint>> ReadBoundaryFile(const std::string& path,
                                                                 std::string& error) {
    // A fifo or device is refused without waiting on it.
    files::OpenFailure failure;
    const int fd = files::OpenRegular(path, O_RDONLY, 0, failure);
    if (fd < 0) {
        error = "cannot open " + path + ": " + files::Describe(failure);
        return std::nullopt;
    }
    std::string text;
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = "cannot read " + path + ": " + std::strerror(errno);
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        text.append(chunk, static_cast<std::size_t>(n));
        if (static_cast<long>(text.size()) > kLargestBoundaryFile) {
            error = path + ": too large for a boundary file";
            ::close(fd);
            return std::nullopt;
        }
    }
    ::close(fd);
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
