#pragma once

// Runs a program as a child process, its output thrown away, and reports
// its exit status, wall time and peak resident size (from wait4's resource
// usage): how the memory benchmarks measure a command as the user runs it.

#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace ketrion::bench {

struct ChildRun {
    int status = -1;
    double peakMb = 0;
    double seconds = 0;
    bool Succeeded() const { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }
};

inline ChildRun RunChild(std::string program, const std::vector<std::string>& args) {
    std::vector<std::string> copies = args;
    std::vector<char*> argv{program.data()};
    for (std::string& a : copies)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::execv(argv[0], argv.data());
        _exit(127);
    }
    ChildRun run;
    struct rusage usage {};
    if (pid < 0 || wait4(pid, &run.status, 0, &usage) != pid)
        return run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakMb = static_cast<double>(usage.ru_maxrss) / 1024.0;  // kB
    return run;
}

}  // namespace ketrion::bench
