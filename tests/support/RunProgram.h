#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace ketrion::testing {

// What a program run by RunProgram did.
struct ProgramRun {
    int status = -1;  // exit status; -1 when it did not start or did not exit by itself
    int signal = 0;   // the signal that ended it, if one did
    bool timedOut = false;
    std::string out;  // standard output (with standard error when merged)
    std::string err;  // standard error, or why the program could not be started
};

struct RunOptions {
    // Standard error goes into `out`, interleaved as the program wrote it.
    bool mergeErrors = false;
    // The program is killed when it runs longer, so a hung tool fails its test.
    std::chrono::milliseconds timeout = std::chrono::seconds(60);
    // When set, standard output goes to this file instead ("/dev/full" acts
    // out a full disk; "/dev/null" drops a large output).
    std::string stdoutPath;
    // When not negative, the largest file the program may write (RLIMIT_FSIZE),
    // with SIGXFSZ ignored so a write past it fails with EFBIG as on a full disk.
    long long fileSizeLimit = -1;
};

// Runs `program` with `args` exactly as given, without a shell: no word
// splitting, quoting or globbing, so paths with spaces or quotes arrive
// whole. Standard input is /dev/null; the environment is the test's own.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const RunOptions& options = {});

// The path of one of the built command-line tools: tools/<name>/<name> in the
// build tree.
std::string ToolPath(const std::string& name);

}  // namespace ketrion::testing
