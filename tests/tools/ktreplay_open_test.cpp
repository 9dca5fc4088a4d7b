// ktreplay on a capture, projection or collection path that names a pipe,
// device or folder: a clear message and status 2, never a wait.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>

#include "support/SiteDataFixture.h"

namespace ketrion::testing {
namespace {

struct ReplayRun {
    std::string out;  // standard output and standard error together
    int status = -1;
};

ReplayRun Replay(const std::string& args) {
    // `timeout` ends a run that waits on a pipe, with status 124.
    const std::string command = "timeout 20 " + std::string(KETRION_BINARY_DIR) +
                                "/tools/ktreplay/ktreplay " + args + " 2>&1";
    ReplayRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return run;
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(KtreplayOpen, PipesDevicesAndFoldersAreRefusedWithoutWaiting) {
    TempDir dir;
    const std::string fifo = dir.File("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string capture = dir.File("empty.bin");
    WriteBytes(capture, {});
    const std::string folder = dir.Path();
    struct Case {
        std::string args;
        std::string says;
    };
    const Case cases[] = {
        {fifo, "ktreplay: cannot read " + fifo + ": it is a named pipe, not a regular file"},
        {"/dev/zero", "ktreplay: cannot read /dev/zero: it is a device, not a regular file"},
        {capture + " --projection " + fifo, fifo + " is not a regular file."},
        {capture + " --collection " + fifo,
         "Cannot create the collection file " + fifo + ": it is a named pipe, not a regular file."},
        {capture + " --collection " + folder,
         "Cannot create the collection file " + folder + ": Is a directory."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const ReplayRun run = Replay(c.args);
        EXPECT_EQ(run.status, 2) << run.out;
        EXPECT_NE(run.out.find(c.says), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("firmware"), std::string::npos) << "no summary after an error";
    }
}

}  // namespace
}  // namespace ketrion::testing
