#include "survey/ProjectionHeader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "survey/RegularFile.h"
#include "survey/SiteProjection.h"

namespace ketrion::projection {

namespace {

double GetDouble(const std::uint8_t* p) {
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i)
        bits = bits << 8 | p[i];
    double v = 0;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

std::uint32_t GetLE32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

std::optional<HeaderInfo> ReadHeader(const std::string& path, std::string& error) {
    files::OpenFailure failure;
    const int fd = files::OpenRegular(path, O_RDONLY, 0, failure);
    if (fd < 0) {
        error = "cannot open " + path + ": " + files::Describe(failure);
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        ::close(fd);
        return std::nullopt;
    }
    HeaderInfo info;
    info.fileSize = static_cast<std::uint64_t>(st.st_size);
    constexpr std::size_t kHeader = CSiteProjection::kHeaderSize;
    if (info.fileSize < kHeader) {
        ::close(fd);
        error = path + " is not a projection file: it is " + std::to_string(info.fileSize) +
                " bytes long, shorter than the " + std::to_string(kHeader) + "-byte header";
        return std::nullopt;
    }
    std::uint8_t buf[kHeader + 8] = {};
    std::size_t got = 0;
    while (got < sizeof buf) {
        const ssize_t n = ::pread(fd, buf + got, sizeof buf - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = "cannot read " + path + ": " + std::strerror(errno);
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    for (int i = 0; i < 4; ++i) {
        info.xRow[i] = GetDouble(buf + CSiteProjection::kXRowOffset + 8 * i);
        info.yRow[i] = GetDouble(buf + CSiteProjection::kYRowOffset + 8 * i);
    }
    info.blockAvailable = info.fileSize - kHeader;
    info.hasLength = info.blockAvailable >= 4;
    info.hasPlainLength = info.blockAvailable >= 8;
    if (info.hasLength)
        info.blockLength = GetLE32(buf + kHeader);
    if (info.hasPlainLength)
        info.plainLength = GetLE32(buf + kHeader + 4);
    return info;
}

void ApplyMap(const HeaderInfo& info, CSiteProjection& projection) {
    PlanMap map;
    map.xLat = info.xRow[0];
    map.xLon = info.xRow[1];
    map.xOrigin = info.xRow[3];
    map.yLat = info.yRow[0];
    map.yLon = info.yRow[1];
    map.yOrigin = info.yRow[3];
    projection.SetMap(map);
}

}  // namespace ketrion::projection
