#include "survey/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ketrion::files {

int OpenRegular(const std::string& path, int flags, mode_t mode, OpenFailure& failure) {
    failure = OpenFailure{};
    int fd = -1;
    do {
        fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        failure.error = errno;
        // A fifo without a reader (ENXIO) or a folder opened for writing
        // (EISDIR): say what the path names rather than the bare error.
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
            failure.type = st.st_mode & S_IFMT;
            failure.notRegular = true;
        }
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        failure.error = errno;
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        failure.type = st.st_mode & S_IFMT;
        failure.notRegular = true;
        failure.error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        return -1;
    }
    const int current = ::fcntl(fd, F_GETFL);
    if (current < 0 || ::fcntl(fd, F_SETFL, current & ~O_NONBLOCK) != 0) {
        failure.error = errno;
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string TypeName(mode_t type) {
    switch (type & S_IFMT) {
        case S_IFDIR:
            return "a folder";
        case S_IFIFO:
            return "a named pipe";
        case S_IFCHR:
        case S_IFBLK:
            return "a device";
        case S_IFSOCK:
            return "a socket";
        case S_IFREG:
            return "a regular file";
        default:
            return "not a regular file";
    }
}

std::string Describe(const OpenFailure& failure) {
    // A folder has the system's own text ("Is a directory").
    if ((failure.type & S_IFMT) == S_IFDIR)
        return std::strerror(EISDIR);
    if (failure.notRegular)
        return "it is " + TypeName(failure.type) + ", not a regular file";
    return std::strerror(failure.error);
}

}  // namespace ketrion::files
