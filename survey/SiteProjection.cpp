#include "survey/SiteProjection.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "engine/Location.h"
#include "platform/Prompt.h"
#include "platform/Sound.h"
#include "survey/Compression.h"

namespace ketrion {

namespace {

// Degrees per stored unit: the double nearest to 1/3,600,000.
constexpr double kDegreesPerUnit = 1.0 / 3600000.0;
// Size of the block's own length word.
constexpr std::size_t kLengthWordSize = 4;
// The block is copied to the temporary file in pieces of this size.
constexpr std::size_t kCopyChunk = 64 * 1024;

double ReadLEDouble(const std::uint8_t* p) {
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) {
        bits = bits << 8 | p[i];
    }
    double d = 0;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

// The text shown when a file operation fails, naming the file and the cause.
std::string FailureText(const std::string& path, int error) {
    switch (error) {
        case ENOENT:
            return path + " was not found.";
        case EACCES:
        case EPERM:
            return "Access to " + path + " was denied.";
        case EISDIR:
            return path + " is a folder, not a file.";
        case ENOSPC:
            return "The disk is full while accessing " + path + ".";
        default:
            return "An unexpected error occurred while accessing " + path + ": " +
                   std::strerror(error) + ".";
    }
}

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() { Close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    // Closes now; returns false when the close reports an error.
    bool Close() {
        const int fd = m_fd;
        m_fd = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd;
};

// Reads exactly size bytes at offset; false on a short read or an error.
bool ReadAt(int fd, std::uint8_t* buf, std::size_t size, off_t offset) {
    while (size > 0) {
        const ssize_t r = ::pread(fd, buf, size, offset);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r == 0) {
            errno = EIO;  // the file ended early: it changed since it was measured
        }
        if (r <= 0) {
            return false;
        }
        buf += r;
        size -= static_cast<std::size_t>(r);
        offset += r;
    }
    return true;
}

bool WriteFull(int fd, const std::uint8_t* buf, std::size_t size) {
    while (size > 0) {
        const ssize_t w = ::write(fd, buf, size);
        if (w < 0 && errno == EINTR) {
            continue;
        }
        if (w == 0) {
            errno = ENOSPC;
        }
        if (w <= 0) {
            return false;
        }
        buf += w;
        size -= static_cast<std::size_t>(w);
    }
    return true;
}

}  // namespace

CSiteProjection::CSiteProjection(CLocation& location, Prompt& prompt, Sound& sound)
    : m_location(location), m_prompt(prompt), m_sound(sound) {}

int CSiteProjection::ToPlanCoordinate(double value) {
    if (!std::isfinite(value)) {
        return 0;
    }
    if (value >= static_cast<double>(std::numeric_limits<int>::max())) {
        return std::numeric_limits<int>::max();
    }
    if (value <= static_cast<double>(std::numeric_limits<int>::min())) {
        return std::numeric_limits<int>::min();
    }
    return static_cast<int>(value);  // truncation toward zero
}

int CSiteProjection::CurrentPlanX() const {
    const LocationSnapshot s = m_location.Snapshot();
    return ToPlanCoordinate((s.latitude * m_xLat + s.longitude * m_xLon) + m_xOrigin);
}

int CSiteProjection::CurrentPlanY() const {
    const LocationSnapshot s = m_location.Snapshot();
    return ToPlanCoordinate((s.latitude * m_yLat + s.longitude * m_yLon) + m_yOrigin);
}

int CSiteProjection::PlanX(int latitude, int longitude) const {
    const double phi = static_cast<double>(latitude) * kDegreesPerUnit;
    const double lambda = static_cast<double>(longitude) * kDegreesPerUnit;
    return ToPlanCoordinate((phi * m_xLat + lambda * m_xLon) + m_xOrigin);
}

int CSiteProjection::PlanY(int latitude, int longitude) const {
    const double phi = static_cast<double>(latitude) * kDegreesPerUnit;
    const double lambda = static_cast<double>(longitude) * kDegreesPerUnit;
    return ToPlanCoordinate((phi * m_yLat + lambda * m_yLon) + m_yOrigin);
}

bool CSiteProjection::LoadProjection(const std::string& path) {
    // Non-blocking so that a named pipe put in place of the file cannot stall
    // the open; anything but a regular file is turned away below.
    const Fd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0) {
        m_prompt.Message(FailureText(path, errno));
        return false;
    }
    struct stat st {};
    if (::fstat(file.get(), &st) != 0) {
        m_prompt.Message(FailureText(path, errno));
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        m_prompt.Message(FailureText(path, EISDIR));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        m_prompt.Message(path + " is not a regular file.");
        return false;
    }
    const std::uint64_t fileSize = static_cast<std::uint64_t>(st.st_size);
    std::array<std::uint8_t, kHeaderSize> header{};
    if (fileSize < kHeaderSize || !ReadAt(file.get(), header.data(), header.size(), 0)) {
        m_prompt.Message(path + " is not a projection file: it is " + std::to_string(fileSize) +
                         " bytes long, shorter than the " + std::to_string(kHeaderSize) +
                         "-byte header.");
        return false;
    }
    m_strProjectionPath = path;
    m_header = header;

    // The block's length word counts itself. A length below 4 is an empty
    // block; one beyond the end of the file gets the bytes that are there.
    const std::uint64_t available = fileSize - kHeaderSize;
    std::uint64_t length = 0;
    if (available >= kLengthWordSize) {
        std::uint8_t word[kLengthWordSize] = {};
        if (ReadAt(file.get(), word, sizeof word, static_cast<off_t>(kHeaderSize))) {
            length = static_cast<std::uint64_t>(word[0]) |
                     static_cast<std::uint64_t>(word[1]) << 8 |
                     static_cast<std::uint64_t>(word[2]) << 16 |
                     static_cast<std::uint64_t>(word[3]) << 24;
        }
    }
    if (length < kLengthWordSize) {
        length = 0;
    }
    if (length > available) {
        length = available;
    }

    const std::string blockPath = path + "c";
    {
        Fd block(
            ::open(blockPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0644));
        if (block.get() < 0) {
            // Decoding goes on with whatever is at the block path; the site view
            // reports a plan that does not load.
            m_prompt.Message(FailureText(blockPath, errno));
            m_sound.PlayResourceSoundSync("REDALERT");
        } else {
            std::vector<std::uint8_t> buf(
                static_cast<std::size_t>(std::min<std::uint64_t>(length, kCopyChunk)));
            std::uint64_t done = 0;
            int error = 0;
            while (done < length) {
                const std::size_t n =
                    static_cast<std::size_t>(std::min<std::uint64_t>(length - done, kCopyChunk));
                if (!ReadAt(file.get(), buf.data(), n, static_cast<off_t>(kHeaderSize + done))) {
                    // The projection file shrank or failed under us: say which file.
                    m_prompt.Message(FailureText(path, errno != 0 ? errno : EIO));
                    m_sound.PlayResourceSoundSync("REDALERT");
                    break;
                }
                if (!WriteFull(block.get(), buf.data(), n)) {
                    error = errno != 0 ? errno : EIO;
                    break;
                }
                done += n;
            }
            if (!block.Close() && error == 0) {
                error = errno != 0 ? errno : EIO;
            }
            if (error != 0) {
                m_prompt.Message(FailureText(blockPath, error));
                m_sound.PlayResourceSoundSync("REDALERT");
            }
        }
    }

    m_strBitmapPath = path + "b";
    // A bitmap left by an earlier load must not pass for this one when the
    // block cannot be expanded.
    ::unlink(m_strBitmapPath.c_str());
    {
        auto expander = std::make_unique<CCompression>(blockPath, m_strBitmapPath);
        expander->Decode();
    }

    const std::uint8_t* h = m_header.data();
    m_xLat = ReadLEDouble(h + kXRowOffset);
    m_xLon = ReadLEDouble(h + kXRowOffset + 8);
    m_xOrigin = ReadLEDouble(h + kXRowOffset + 24);
    m_yLat = ReadLEDouble(h + kYRowOffset);
    m_yLon = ReadLEDouble(h + kYRowOffset + 8);
    m_yOrigin = ReadLEDouble(h + kYRowOffset + 24);
    return true;
}

}  // namespace ketrion
