#include "tools/ktd/StandardOutput.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace ketrion::ktd {

bool StandardOutputWritten() {
    std::cout.flush();
    errno = 0;
    // A stream with an earlier failure tries its buffer again and fails again,
    // which leaves the reason in errno.
    const bool flushed = std::fflush(stdout) == 0;
    const int error = errno;
    if (flushed && !std::ferror(stdout) && std::cout.good())
        return true;
    std::fprintf(stderr, "ktd: cannot write standard output: %s\n",
                 error != 0 ? std::strerror(error) : "write failed");
    return false;
}

}  // namespace ketrion::ktd
