#pragma once

// Runs one of the built command-line tools as a user would and keeps what it
// printed on each stream and its exit status. Header-only.

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>

namespace ketrion::testing {

struct ToolRun {
    int status = -1;  // exit status; -1 when the tool did not exit normally
    std::string out;  // standard output, byte for byte
    std::string err;  // standard error
};

// `text` in single quotes for the shell.
inline std::string ShellQuoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

// Runs build/<tool> (for example "tools/ktd/ktd") with `args`.
inline ToolRun RunTool(const std::string& tool, std::initializer_list<std::string> args) {
    char errPath[] = "/tmp/ketrion-tool-err-XXXXXX";
    const int errFd = ::mkstemp(errPath);
    if (errFd >= 0)
        ::close(errFd);
    std::string command = ShellQuoted(std::string(KETRION_BINARY_DIR) + "/" + tool);
    for (const std::string& arg : args)
        command += " " + ShellQuoted(arg);
    command += " 2>" + ShellQuoted(errPath);
    ToolRun run;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[8192];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            run.out.append(buffer, n);
        const int status = ::pclose(pipe);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::ifstream err(errPath, std::ios::binary);
    run.err.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
    ::unlink(errPath);
    return run;
}

}  // namespace ketrion::testing
