#include "support/RunProgram.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace ketrion::testing {
namespace {

// Both ends close on exec, so programs spawned at the same time by other
// threads do not inherit them and keep the pipe open.
struct Pipe {
    int read = -1;
    int write = -1;
    bool Open() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return false;
        read = fds[0];
        write = fds[1];
        return true;
    }
    ~Pipe() {
        CloseRead();
        CloseWrite();
    }
    void CloseRead() {
        if (read >= 0)
            ::close(read);
        read = -1;
    }
    void CloseWrite() {
        if (write >= 0)
            ::close(write);
        write = -1;
    }
};

// Appends what is waiting in `pipe`; closes its end at end of file or on an
// error.
void Drain(Pipe& pipe, std::string& into) {
    std::array<char, 4096> buffer;
    const ssize_t n = ::read(pipe.read, buffer.data(), buffer.size());
    if (n > 0)
        into.append(buffer.data(), static_cast<std::size_t>(n));
    else if (n == 0 || errno != EINTR)
        pipe.CloseRead();
}

}  // namespace

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const RunOptions& options) {
    ProgramRun run;
    Pipe out;
    Pipe err;
    if (!out.Open() || (!options.mergeErrors && !err.Open())) {
        run.err = std::string("pipe: ") + std::strerror(errno);
        return run;
    }

    std::vector<std::string> all;
    all.reserve(args.size() + 1);
    all.push_back(program);
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    argv.reserve(all.size() + 1);
    for (std::string& arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    int spawned = 0;
    if (options.fileSizeLimit < 0) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (options.stdoutPath.empty())
            posix_spawn_file_actions_adddup2(&actions, out.write, 1);
        else
            posix_spawn_file_actions_addopen(&actions, 1, options.stdoutPath.c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, options.mergeErrors ? out.write : err.write, 2);
        spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
    } else {
        // A limit on the child alone: set between fork and exec, with only
        // calls that are safe there.
        const int errorFd = options.mergeErrors ? out.write : err.write;
        const char* stdoutPath = options.stdoutPath.empty() ? nullptr : options.stdoutPath.c_str();
        const rlimit limit{static_cast<rlim_t>(options.fileSizeLimit),
                           static_cast<rlim_t>(options.fileSizeLimit)};
        pid = ::fork();
        if (pid == 0) {
            const int in = ::open("/dev/null", O_RDONLY);
            ::dup2(in, 0);
            const int outFd =
                stdoutPath ? ::open(stdoutPath, O_WRONLY | O_CREAT | O_TRUNC, 0644) : out.write;
            ::dup2(outFd, 1);
            ::dup2(errorFd, 2);
            ::signal(SIGXFSZ, SIG_IGN);
            ::setrlimit(RLIMIT_FSIZE, &limit);
            ::execve(program.c_str(), argv.data(), environ);
            ::_exit(127);
        }
        spawned = pid < 0 ? errno : 0;
    }
    out.CloseWrite();
    err.CloseWrite();
    if (spawned != 0) {
        run.err = "cannot run " + program + ": " + std::strerror(spawned);
        return run;
    }

    // Read both streams as they come, so a program that fills one pipe while
    // the test waits on the other never blocks.
    const auto deadline = std::chrono::steady_clock::now() + options.timeout;
    while (out.read >= 0 || err.read >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            run.timedOut = true;
            ::kill(pid, SIGKILL);
            break;
        }
        std::array<pollfd, 2> fds{{{out.read, POLLIN, 0}, {err.read, POLLIN, 0}}};
        const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR)
            break;
        if (fds[0].revents != 0)
            Drain(out, run.out);
        if (fds[1].revents != 0)
            Drain(err, run.err);
    }

    int raw = 0;
    while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(raw) && !run.timedOut)
        run.status = WEXITSTATUS(raw);
    else if (WIFSIGNALED(raw))
        run.signal = WTERMSIG(raw);
    return run;
}

std::string ToolPath(const std::string& name) {
    return std::string(KETRION_BINARY_DIR) + "/tools/" + name + "/" + name;
}

}  // namespace ketrion::testing
