#include "survey/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "survey/RegularFile.h"

namespace ketrion::files {

namespace {

bool Same(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

std::string CheckOutput(const std::string& path, const std::vector<Input>& inputs) {
    struct stat here {};
    if (::lstat(path.c_str(), &here) != 0)
        return {};  // a new file (or a folder that is not there: the create says so)
    // A link is replaced, never written through; but one that leads to an
    // input is refused as the input itself would be.
    struct stat target {};
    const bool followed = ::stat(path.c_str(), &target) == 0;
    for (const Input& input : inputs) {
        struct stat in {};
        if (::stat(input.path.c_str(), &in) != 0)
            continue;
        if (Same(here, in) || (followed && Same(target, in)))
            return path + " is the " + input.what + " itself; choose another output";
    }
    if (!S_ISREG(here.st_mode) && !S_ISLNK(here.st_mode))
        return "cannot write " + path + ": it is " + TypeName(here.st_mode) +
               ", not a regular file";
    return {};
}

OutputFile::~OutputFile() {
    Discard();
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : m_path(std::move(other.m_path)),
      m_temp(std::move(other.m_temp)),
      m_fd(other.m_fd),
      m_failed(other.m_failed),
      m_error(std::move(other.m_error)) {
    other.m_fd = -1;
    other.m_temp.clear();
}

bool OutputFile::Fail(int error) {
    if (m_failed == 0)
        m_failed = error != 0 ? error : EIO;
    m_error = "cannot write " + m_path + ": " + std::strerror(m_failed);
    return false;
}

bool OutputFile::Open(const std::string& path, const std::vector<Input>& inputs) {
    Discard();
    m_path = path;
    m_failed = 0;
    m_error = CheckOutput(path, inputs);
    if (!m_error.empty()) {
        m_failed = EINVAL;
        return false;
    }
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temp = folder + "." + name + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return Fail(errno);
    // mkstemp makes the file private; an output is an ordinary file.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    m_fd = fd;
    m_temp = temp;
    m_buffer.Reset();
    m_stream.clear();
    return true;
}

bool OutputFile::Write(std::string_view bytes) {
    if (m_fd < 0 || m_failed != 0)
        return m_failed != 0 ? false : Fail(EBADF);
    while (!bytes.empty()) {
        const ssize_t n = ::write(m_fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Fail(n < 0 ? errno : ENOSPC);
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

OutputFile::Buffer::int_type OutputFile::Buffer::overflow(int_type c) {
    if (sync() != 0)
        return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
    }
    return traits_type::not_eof(c);
}

int OutputFile::Buffer::sync() {
    const std::string_view pending(pbase(), static_cast<std::size_t>(pptr() - pbase()));
    Reset();
    return m_file.Write(pending) ? 0 : -1;
}

bool OutputFile::Commit() {
    if (m_fd < 0)
        return m_failed != 0 ? false : Fail(EBADF);
    m_stream.flush();
    if (m_failed == 0 && !m_stream)
        Fail(EIO);
    if (m_failed == 0 && ::fsync(m_fd) != 0)
        Fail(errno);
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0 && m_failed == 0)
        Fail(errno);
    if (m_failed == 0 && ::rename(m_temp.c_str(), m_path.c_str()) != 0)
        Fail(errno);
    if (m_failed != 0) {
        Discard();
        return false;
    }
    m_temp.clear();
    return true;
}

void OutputFile::Discard() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!m_temp.empty())
        ::unlink(m_temp.c_str());
    m_temp.clear();
}

bool WriteWholeFile(const std::string& path, std::string_view bytes,
                    const std::vector<Input>& inputs, std::string& error) {
    OutputFile file;
    if (!file.Open(path, inputs) || !file.Write(bytes) || !file.Commit()) {
        error = file.Error();
        return false;
    }
    return true;
}

}  // namespace ketrion::files
