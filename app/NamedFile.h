#pragma once

#include <cstddef>
#include <string>

namespace ketrion {

// Reads a file the user named (an option) through the guarded open, so a
// named pipe or a device is refused at once instead of waited on. False with
// a message naming `what` when it cannot be read or holds more than `limit` bytes.
bool ReadNamedFile(const std::string& path, const char* what, std::size_t limit, std::string& text,
                   std::string* error);

}  // namespace ketrion
