// `ktd compact`: drops the points marked deleted. The output is written as a
// temporary file in OUT's folder (and its side store beside it), synced, and
// renamed over OUT only when every write and close succeeded, so a failure
// leaves OUT as it was and no cut file behind.

#include "tools/ktd/CompactCommand.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "survey/CollectionFile.h"
#include "survey/RegularFile.h"
#include "survey/SideStore.h"

namespace ketrion::ktd {

namespace {

using namespace ketrion::collection;

constexpr int kDamaged = 1;
constexpr int kOpenOrWriteError = 2;

// Bytes copied per read: points are copied in pieces, however large the
// file's record sizes make them.
constexpr std::size_t kCopyChunk = 64 * 1024;

const char* const kSideCompanions[] = {"", "-wal", "-shm"};

// One point of the input: where it starts and how many bytes it spans.
struct Span {
    std::int64_t offset = 0;
    std::int64_t size = 0;
};

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Copies `size` bytes at `offset` of `in` to the end of `out` through
// `buffer`; errno tells why when it fails (0: the input ended early).
bool Copy(int in, int out, std::int64_t offset, std::int64_t size,
          std::vector<std::uint8_t>& buffer) {
    while (size > 0) {
        const std::size_t want = static_cast<std::size_t>(
            std::min<std::int64_t>(size, static_cast<std::int64_t>(buffer.size())));
        const ssize_t n = ::pread(in, buffer.data(), want, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = 0;
            return false;
        }
        if (!WriteAll(out, buffer.data(), static_cast<std::size_t>(n)))
            return false;
        offset += n;
        size -= n;
    }
    return true;
}

std::string ErrnoText(int error) {
    return error != 0 ? std::strerror(error) : "the input ended early";
}

// Walks the input: its points' spans and the offset of its first point.
// Returns an empty string or why the file cannot be compacted.
std::string Walk(int fd, const std::string& path, Header& header, std::int64_t& first,
                 std::vector<Span>& points) {
    Reader reader(fd);
    const Damage damage = reader.Open(header);
    if (damage != Damage::None)
        return DamageText(damage, path, header);
    first = reader.Position();
    std::uint8_t location[kLocationSize];
    std::uint8_t reading[kReadingSize];
    std::int64_t offset = 0;
    while (reader.NextLocation(location, offset)) {
        const unsigned count = Get16(location + kCountAt);
        for (unsigned i = 0; i < count; ++i) {
            if (!reader.NextReading(reading)) {
                return path + " is damaged: the file ends inside point " +
                       std::to_string(points.size() + 1) + "; it is not compacted.";
            }
        }
        points.push_back({offset, reader.Position() - offset});
    }
    if (reader.Error() != 0)
        return "cannot read " + path + ": " + std::strerror(reader.Error());
    const std::int64_t end = ::lseek(fd, 0, SEEK_END);
    if (end != offset) {
        return path + " is damaged: the file ends inside the location record of point " +
               std::to_string(points.size() + 1) + "; it is not compacted.";
    }
    return {};
}

// The folder part of `path` ("." for a bare name) and its file name.
void Split(const std::string& path, std::string& folder, std::string& name) {
    const std::size_t slash = path.rfind('/');
    folder = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    name = slash == std::string::npos ? path : path.substr(slash + 1);
}

bool Same(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Removes a temporary output and its side store.
void RemoveTemporary(const std::string& temp) {
    ::unlink(temp.c_str());
    for (const char* companion : kSideCompanions)
        ::unlink((SideStore::PathFor(temp) + companion).c_str());
}

class Compaction {
public:
    Compaction(std::string in, std::string out) : m_in(std::move(in)), m_out(std::move(out)) {}
    ~Compaction() {
        if (m_inFd >= 0)
            ::close(m_inFd);
        if (m_outFd >= 0)
            ::close(m_outFd);
        m_side.reset();
        if (!m_temp.empty())
            RemoveTemporary(m_temp);
    }

    int Run() {
        files::OpenFailure failure;
        m_inFd = files::OpenRegular(m_in, O_RDONLY, 0, failure);
        if (m_inFd < 0)
            return Fail(kOpenOrWriteError, "cannot open " + m_in + ": " + files::Describe(failure));
        if (const int status = CheckOutput(); status != 0)
            return status;

        Header header;
        std::int64_t first = 0;
        std::vector<Span> points;
        if (const std::string problem = Walk(m_inFd, m_in, header, first, points);
            !problem.empty()) {
            return Fail(kDamaged, problem);
        }
        std::string message;
        const auto side =
            SideStore::OpenForReading(m_in, SideIdentity(m_in, header.bytes), &message);
        if (!message.empty()) {
            Fail(kDamaged, message);
            return Fail(kDamaged, m_in +
                                      " is not compacted: the side store's deleted marks "
                                      "cannot be read.");
        }
        const auto rows =
            side != nullptr ? side->Points() : std::map<std::int64_t, SideStore::Point>{};

        if (const int status = MakeTemporary(); status != 0)
            return status;
        std::vector<std::uint8_t> buffer(kCopyChunk);
        if (!Copy(m_inFd, m_outFd, 0, first, buffer))
            return WriteFailed(errno);
        std::vector<SideStore::Point> kept;
        std::map<std::int64_t, std::vector<SideStore::Reading>> keptReadings;
        std::int64_t at = first;
        long long left = 0;
        for (const Span& point : points) {
            const auto row = rows.find(point.offset);
            if (row != rows.end() && row->second.deleted) {
                ++left;
                continue;
            }
            if (!Copy(m_inFd, m_outFd, point.offset, point.size, buffer))
                return WriteFailed(errno);
            if (row != rows.end()) {
                SideStore::Point moved = row->second;
                moved.offset = at;
                auto readings = side->ReadingsOf(point.offset);
                for (auto& reading : readings)
                    reading.pointOffset = at;
                kept.push_back(std::move(moved));
                keptReadings.emplace(at, std::move(readings));
            }
            at += point.size;
        }
        if (::fsync(m_outFd) != 0)
            return WriteFailed(errno);
        const int fd = m_outFd;
        m_outFd = -1;
        if (::close(fd) != 0)
            return WriteFailed(errno);

        // The kept rows, in a store tied to OUT's name and the kept header.
        if (side != nullptr) {
            m_side = SideStore::OpenForWriting(m_temp, SideIdentity(m_out, header.bytes), &message);
            if (m_side == nullptr || !m_side->WritePoints(kept, keptReadings, &message) ||
                !CopyPendingScans(*side, *m_side, &message) || !m_side->Close(&message)) {
                return Fail(kOpenOrWriteError,
                            "cannot write the side store of " + m_out + ": " + message);
            }
        }
        if (const int status = Replace(side != nullptr); status != 0)
            return status;
        std::printf("%s: %zu points kept, %lld deleted points left out\n", m_out.c_str(),
                    points.size() - static_cast<std::size_t>(left), left);
        return 0;
    }

private:
    // A walk's scans not yet placed belong to no point: they go as they are.
    static bool CopyPendingScans(const SideStore& from, SideStore& to, std::string* message) {
        for (const auto& [seq, body] : from.PendingScans()) {
            if (!to.AddPendingScan(seq, body, message))
                return false;
        }
        return true;
    }

    // True when OUT names one of the files of IN's side store (the store,
    // its log or its journal), even one not there now: the store's owner
    // would later take it for its own and delete or replay it.
    bool NamesInputSideFile() const {
        std::string inFolder, inName, outFolder, outName;
        Split(m_in, inFolder, inName);
        Split(m_out, outFolder, outName);
        struct stat a {};
        struct stat b {};
        if (::stat(inFolder.c_str(), &a) != 0 || ::stat(outFolder.c_str(), &b) != 0 || !Same(a, b))
            return false;
        const std::string store = SideStore::PathFor(inName);
        for (const char* companion : {"", "-wal", "-shm", "-journal"}) {
            if (outName == store + companion)
                return true;
        }
        return false;
    }

    // OUT may be missing or a regular file other than IN (and IN's side store).
    int CheckOutput() {
        if (NamesInputSideFile()) {
            return Fail(kOpenOrWriteError,
                        m_out + " is a file of " + m_in + "'s side store; choose another output");
        }
        struct stat in {};
        if (::fstat(m_inFd, &in) != 0)
            return Fail(kOpenOrWriteError, "cannot open " + m_in + ": " + std::strerror(errno));
        struct stat out {};
        if (::lstat(m_out.c_str(), &out) != 0) {
            if (errno == ENOENT)
                return 0;
            return Fail(kOpenOrWriteError, "cannot write " + m_out + ": " + std::strerror(errno));
        }
        if (!S_ISREG(out.st_mode)) {
            return Fail(kOpenOrWriteError, "cannot write " + m_out + ": it is " +
                                               files::TypeName(out.st_mode) +
                                               ", not a regular file");
        }
        struct stat side {};
        if (Same(in, out) ||
            (::stat(SideStore::PathFor(m_in).c_str(), &side) == 0 && Same(side, out))) {
            return Fail(kOpenOrWriteError,
                        m_out + " is the file being compacted; choose another output");
        }
        return 0;
    }

    int MakeTemporary() {
        std::string name;
        Split(m_out, m_folder, name);
        std::string temp = m_folder + "/." + name + ".XXXXXX";
        m_outFd = ::mkstemp(temp.data());
        if (m_outFd < 0)
            return Fail(kOpenOrWriteError, "cannot write " + m_out + ": " + std::strerror(errno));
        m_temp = temp;
        // mkstemp makes the file private; the output is an ordinary file.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        if (::fchmod(m_outFd, 0666 & ~mask) != 0)
            return WriteFailed(errno);
        return 0;
    }

    // Puts the output in OUT's place: OUT's old side store goes first (it
    // describes the file being replaced), then the file, then its new side
    // store; a stop in between leaves OUT without side details, never with
    // another file's.
    int Replace(bool withSide) {
        const std::string outSide = SideStore::PathFor(m_out);
        for (const char* companion : kSideCompanions) {
            if (::unlink((outSide + companion).c_str()) != 0 && errno != ENOENT)
                return Fail(kOpenOrWriteError,
                            "cannot replace " + outSide + companion + ": " + std::strerror(errno));
        }
        if (::rename(m_temp.c_str(), m_out.c_str()) != 0)
            return WriteFailed(errno);
        const std::string temp = m_temp;
        m_temp.clear();
        if (withSide && ::rename(SideStore::PathFor(temp).c_str(), outSide.c_str()) != 0) {
            const int error = errno;
            RemoveTemporary(temp);
            return Fail(kOpenOrWriteError, "wrote " + m_out + " but not its side store " + outSide +
                                               ": " + std::strerror(error));
        }
        const int folder = ::open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder >= 0) {
            ::fsync(folder);
            ::close(folder);
        }
        return 0;
    }

    int WriteFailed(int error) {
        return Fail(kOpenOrWriteError, "cannot write " + m_out + ": " + ErrnoText(error));
    }
    int Fail(int status, const std::string& message) {
        std::fflush(stdout);
        std::fprintf(stderr, "ktd: %s\n", message.c_str());
        return status;
    }

    std::string m_in, m_out, m_folder, m_temp;
    int m_inFd = -1;
    int m_outFd = -1;
    std::unique_ptr<SideStore> m_side;
};

}  // namespace

void AddCompactCommand(CLI::App& app, int& status) {
    CLI::App* command = app.add_subcommand(
        "compact", "write a copy of a collection file without the points marked deleted");
    struct Options {
        std::string in;
        std::string out;
    };
    auto options = std::make_shared<Options>();
    command->add_option("FILE", options->in, "collection file (.ktd)")->required();
    command->add_option("-o,--output", options->out, "the compacted collection file")->required();
    command->callback([&status, options] {
        Compaction compaction(options->in, options->out);
        status = compaction.Run();
    });
}

}  // namespace ketrion::ktd
