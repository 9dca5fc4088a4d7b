#include "survey/SiteProjection.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "platform/Prompt.h"
#include "platform/Sound.h"
#include "survey/Compression.h"
#include "survey/RegularFile.h"

namespace ketrion {

namespace {

// Degrees per stored unit: the double nearest to 1/3,600,000.
constexpr double kDegreesPerUnit = 1.0 / 3600000.0;
// Size of the block's own length word.
constexpr std::size_t kLengthWordSize = 4;
// Bytes of the expansion that hold a bitmap file's header with its dimensions.
constexpr std::size_t kBitmapHeadBytes = 64;

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

CSiteProjection::CSiteProjection(Prompt& prompt, Sound& sound)
    : m_prompt(prompt), m_sound(sound), m_makeTemp(&CSiteProjection::MakeTempFile) {}

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

int CSiteProjection::PlanXOn(const PlanMap& map, double latitude, double longitude) {
    return ToPlanCoordinate((latitude * map.xLat + longitude * map.xLon) + map.xOrigin);
}

int CSiteProjection::PlanYOn(const PlanMap& map, double latitude, double longitude) {
    return ToPlanCoordinate((latitude * map.yLat + longitude * map.yLon) + map.yOrigin);
}

int CSiteProjection::PlanXFromDegrees(double latitude, double longitude) const {
    return PlanXOn(*Snapshot(), latitude, longitude);
}

int CSiteProjection::PlanYFromDegrees(double latitude, double longitude) const {
    return PlanYOn(*Snapshot(), latitude, longitude);
}

int CSiteProjection::PlanXOfUnits(const PlanMap& map, int latitude, int longitude) {
    return PlanXOn(map, static_cast<double>(latitude) * kDegreesPerUnit,
                   static_cast<double>(longitude) * kDegreesPerUnit);
}

int CSiteProjection::PlanYOfUnits(const PlanMap& map, int latitude, int longitude) {
    return PlanYOn(map, static_cast<double>(latitude) * kDegreesPerUnit,
                   static_cast<double>(longitude) * kDegreesPerUnit);
}

int CSiteProjection::PlanX(int latitude, int longitude) const {
    return PlanXOfUnits(*Snapshot(), latitude, longitude);
}

int CSiteProjection::PlanY(int latitude, int longitude) const {
    return PlanYOfUnits(*Snapshot(), latitude, longitude);
}

std::shared_ptr<const PlanMap> CSiteProjection::Snapshot() const {
    std::lock_guard lock(m_mapMutex);
    return m_map;
}

void CSiteProjection::SetMap(const PlanMap& map) {
    auto next = std::make_shared<const PlanMap>(map);
    std::lock_guard lock(m_mapMutex);
    m_map = std::move(next);
}

PlanMap CSiteProjection::Map() const {
    return *Snapshot();
}

PlanPoint CSiteProjection::ToPlan(double latitude, double longitude) const {
    return Snapshot()->ToPlan(latitude, longitude);
}

std::optional<GeoPoint> CSiteProjection::ToGeo(double x, double y) const {
    return Snapshot()->ToGeo(x, y);
}

// A name no other file in the folder has, for the temporary side file.
int CSiteProjection::MakeTempFile(const std::string& target, std::string& tempPath) {
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::uint64_t mix = (static_cast<std::uint64_t>(::getpid()) << 32) ^
                                  static_cast<std::uint64_t>(
                                      std::chrono::steady_clock::now().time_since_epoch().count()) ^
                                  (std::uint64_t{counter.fetch_add(1)} * 0x9E3779B97F4A7C15ULL);
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, ".%012llx",
                      static_cast<unsigned long long>(mix & 0xFFFFFFFFFFFFULL));
        tempPath = folder;
        tempPath.append("/.").append(name).append(suffix);
        // O_EXCL with O_CREAT never follows a link at the name: a link planted
        // there makes the open fail instead of writing through it.
        const int fd =
            ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

void CSiteProjection::SetTempFileMaker(TempFileMaker maker) {
    m_makeTemp = maker ? std::move(maker) : TempFileMaker(&CSiteProjection::MakeTempFile);
}

void CSiteProjection::SetCacheFolder(std::string folder) {
    m_cacheFolder = std::move(folder);
}

std::string CSiteProjection::CacheFolder() const {
    if (!m_cacheFolder.empty()) {
        return m_cacheFolder;
    }
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache != nullptr && cache[0] == '/') {
        return std::string(cache) + "/ketrion/plans";
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/.cache/ketrion/plans";
    }
    return {};
}

int CSiteProjection::WriteSideFile(const std::string& target,
                                   const std::vector<std::uint8_t>& bytes) {
    std::string temp;
    errno = 0;
    Fd file(m_makeTemp(target, temp));
    if (file.get() < 0) {
        return errno != 0 ? errno : EIO;
    }
    int error = 0;
    if (!WriteFull(file.get(), bytes.data(), bytes.size())) {
        error = errno != 0 ? errno : EIO;
    }
    if (!file.Close() && error == 0) {
        error = errno != 0 ? errno : EIO;
    }
    // rename replaces the name itself: a link there is replaced, not followed.
    if (error == 0 && ::rename(temp.c_str(), target.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(temp.c_str());  // ours: made by the exclusive create above
    }
    return error;
}

namespace {

// A folder that does not take new files: the side files go elsewhere.
bool NotWritable(int error) {
    return error == EACCES || error == EPERM || error == EROFS;
}

// Width times height of a bitmap file's header, or 0 when the bytes are no
// bitmap file (the site view then reports that the plan does not load).
std::uint64_t BitmapPixels(const std::vector<std::uint8_t>& head, std::int64_t& width,
                           std::int64_t& height) {
    if (head.size() < 26 || head[0] != 'B' || head[1] != 'M') {
        return 0;
    }
    const auto le32 = [&](std::size_t at) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(head[at]) |
                                         static_cast<std::uint32_t>(head[at + 1]) << 8 |
                                         static_cast<std::uint32_t>(head[at + 2]) << 16 |
                                         static_cast<std::uint32_t>(head[at + 3]) << 24);
    };
    width = std::abs(static_cast<std::int64_t>(le32(18)));
    height = std::abs(static_cast<std::int64_t>(le32(22)));
    return static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
}

// A short stable name for a path, so plans of different folders do not share
// a cache file.
std::string PathTag(const std::string& path) {
    std::uint64_t h = 0xCBF29CE484222325ULL;  // FNV-1a
    for (const unsigned char c : path) {
        h = (h ^ c) * 0x100000001B3ULL;
    }
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
    return text;
}

}  // namespace

bool CSiteProjection::LoadProjection(const std::string& path) {
    // Non-blocking so that a named pipe put in place of the file cannot stall
    // the open; anything but a regular file is turned away.
    files::OpenFailure failure;
    const Fd file(files::OpenRegular(path, O_RDONLY, 0, failure));
    if (file.get() < 0) {
        if ((failure.type & S_IFMT) == S_IFDIR) {
            m_prompt.Message(FailureText(path, EISDIR));
        } else if (failure.notRegular) {
            m_prompt.Message(path + " is not a regular file.");
        } else {
            m_prompt.Message(FailureText(path, failure.error));
        }
        return false;
    }
    struct stat st {};
    if (::fstat(file.get(), &st) != 0) {
        m_prompt.Message(FailureText(path, errno));
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

    // The block's length word counts itself; a length below 4 is an empty block.
    const std::uint64_t available = fileSize - kHeaderSize;
    std::uint64_t length = 0;
    if (available >= kLengthWordSize) {
        std::uint8_t word[kLengthWordSize] = {};
        if (!ReadAt(file.get(), word, sizeof word, static_cast<off_t>(kHeaderSize))) {
            m_prompt.Message(FailureText(path, errno != 0 ? errno : EIO));
            return false;
        }
        length = static_cast<std::uint64_t>(word[0]) | static_cast<std::uint64_t>(word[1]) << 8 |
                 static_cast<std::uint64_t>(word[2]) << 16 |
                 static_cast<std::uint64_t>(word[3]) << 24;
    }
    if (length < kLengthWordSize) {
        length = 0;
    }
    if (length > available) {
        // A cut file would expand to a plan whose lower part is missing.
        m_prompt.Message(path + " is cut short: its plan image block is " + std::to_string(length) +
                         " bytes long, but only " + std::to_string(available) +
                         " bytes follow the header.");
        return false;
    }
    if (length > kMaxBlockBytes) {
        m_prompt.Message(path + " holds a plan image block of " + std::to_string(length) +
                         " bytes, more than the " + std::to_string(kMaxBlockBytes) +
                         " bytes a plan may take.");
        return false;
    }
    std::vector<std::uint8_t> block(static_cast<std::size_t>(length));
    if (!ReadAt(file.get(), block.data(), block.size(), static_cast<off_t>(kHeaderSize))) {
        // The projection file shrank or failed under us: say which file.
        m_prompt.Message(FailureText(path, errno != 0 ? errno : EIO));
        return false;
    }

    // The plan is expanded in memory, its size checked before the bitmap
    // takes its full room: first its dimensions, then the bytes themselves.
    std::vector<std::uint8_t> bitmap;
    CCompression::DecodeBlock(block, bitmap, kBitmapHeadBytes);
    std::int64_t width = 0;
    std::int64_t height = 0;
    if (BitmapPixels(bitmap, width, height) > kMaxPlanPixels) {
        m_prompt.Message(path + " holds a plan image of " + std::to_string(width) + " x " +
                         std::to_string(height) + " pixels, more than the " +
                         std::to_string(kMaxPlanPixels) + " pixels a plan may have.");
        return false;
    }
    if (!CCompression::DecodeBlock(block, bitmap, kMaxBitmapBytes)) {
        m_prompt.Message(path + " holds a plan image that expands to more than " +
                         std::to_string(kMaxBitmapBytes) + " bytes, more than a plan of " +
                         std::to_string(kMaxPlanPixels) + " pixels needs.");
        return false;
    }

    m_projectionPath = path;
    const std::uint8_t* h = header.data();
    PlanMap map;
    map.xLat = ReadLEDouble(h + kXRowOffset);
    map.xLon = ReadLEDouble(h + kXRowOffset + 8);
    map.xOrigin = ReadLEDouble(h + kXRowOffset + 24);
    map.yLat = ReadLEDouble(h + kYRowOffset);
    map.yLon = ReadLEDouble(h + kYRowOffset + 8);
    map.yOrigin = ReadLEDouble(h + kYRowOffset + 24);
    SetMap(map);

    // The side files go beside the real projection file: through a link to
    // it, into the link target's folder.
    std::string side = path;
    struct stat link {};
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            side = real;
            std::free(real);
        }
    }
    const int blockError = WriteSideFile(side + "c", block);
    if (blockError != 0 && !NotWritable(blockError)) {
        m_prompt.Message(FailureText(side + "c", blockError));
        m_sound.PlayResourceSound("REDALERT");
    }
    // A bitmap left by an earlier load is never passed off as this one: when
    // the new one cannot be written, the path names none.
    m_bitmapPath.clear();
    const std::string bitmapPath = side + "b";
    int bitmapError = WriteSideFile(bitmapPath, bitmap);
    if (bitmapError == 0) {
        m_bitmapPath = bitmapPath;
        return true;
    }
    std::string failedPath = bitmapPath;
    if (NotWritable(bitmapError)) {
        // A folder that takes no new files: the user's cache folder holds the
        // plan instead.
        const std::string folder = CacheFolder();
        const std::size_t slash = side.rfind('/');
        const std::string name = slash == std::string::npos ? side : side.substr(slash + 1);
        const std::string cached = folder + "/" + PathTag(side) + "-" + name + "b";
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        if (folder.empty()) {
            bitmapError = ENOENT;
        } else {
            bitmapError = WriteSideFile(cached, bitmap);
            failedPath = cached;
        }
        if (bitmapError == 0) {
            m_bitmapPath = cached;
            return true;
        }
    }
    m_prompt.Message(FailureText(failedPath, bitmapError));
    m_sound.PlayResourceSound("REDALERT");
    return true;
}

}  // namespace ketrion
