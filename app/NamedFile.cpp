#include "app/NamedFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "survey/RegularFile.h"

namespace ketrion {

bool ReadNamedFile(const std::string& path, const char* what, std::size_t limit, std::string& text,
                   std::string* error) {
    files::OpenFailure failure;
    const int fd = files::OpenRegular(path, O_RDONLY, 0, failure);
    if (fd < 0) {
        *error =
            std::string("cannot read the ") + what + " " + path + ": " + files::Describe(failure);
        return false;
    }
    text.clear();
    char chunk[4096];
    int readError = 0;
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            readError = errno;
        }
        if (n <= 0) {
            break;
        }
        text.append(chunk, static_cast<std::size_t>(n));
        if (text.size() > limit) {
            ::close(fd);
            *error = std::string("the ") + what + " " + path + " is larger than " +
                     std::to_string(limit) + " bytes";
            return false;
        }
    }
    ::close(fd);
    if (readError != 0) {
        *error =
            std::string("cannot read the ") + what + " " + path + ": " + std::strerror(readError);
        return false;
    }
    return true;
}

}  // namespace ketrion
