#include "tools/ktd/StandardOutput.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace ketrion::ktd {

bool StandardOutputWritten() {
    std::cout.flush();
    // The failed write that set the stream's error left its reason in errno
    // (nothing resets errno on success).
    const bool flushed = std::fflush(stdout) == 0;
    const int error = errno;
    if (flushed && !std::ferror(stdout) && std::cout.good())
        return true;
    std::fprintf(stderr, "ktd: cannot write standard output: %s\n",
                 error != 0 ? std::strerror(error) : "write failed");
    return false;
}

}  // namespace ketrion::ktd
