#pragma once

#include <sys/types.h>

#include <string>

namespace ketrion::files {

// What OpenRegular found when it could not hand back a file descriptor.
struct OpenFailure {
    int error = 0;            // errno of the failed call; EISDIR for a folder
    bool notRegular = false;  // opened, but a fifo, device or socket: refused
    mode_t type = 0;          // the S_IFMT bits of what was found
};

// Opens `path` without ever waiting for the other end of a fifo or for a
// device: the open is non-blocking, the result is checked with fstat, and
// anything but a regular file is closed again and refused. O_NONBLOCK is
// cleared before the descriptor is returned, so reads and writes behave as
// on any file. `flags` are open(2) flags (O_CLOEXEC is always added); `mode`
// is used with O_CREAT. Returns the descriptor, or -1 with `failure` filled.
int OpenRegular(const std::string& path, int flags, mode_t mode, OpenFailure& failure);

// A short description of the failure for a message: the system's text for
// the error ("Is a directory" for a folder), or what kind of thing the path
// names ("it is a named pipe, not a regular file") when it was refused.
std::string Describe(const OpenFailure& failure);

// The kind of thing a file type names, for messages ("a folder", "a named pipe").
std::string TypeName(mode_t type);

}  // namespace ketrion::files
