#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/ChildWait.h"

namespace ketrion::testing {

// A real gpsd fed from an NMEA log by gpsfake, on a port of its own:
//   gpsfake -1 -q -c 0.5 -P PORT -W SECONDS FILE
// -c 0.5 sends one sentence every half second (without it the whole log goes
// at once); -W is how long gpsd stays up after the log ends. gpsfake writes
// the log from the moment it starts, so a client that connects late misses
// its first sentences. Stop (and the destructor) kills gpsfake and its gpsd
// and removes the socket gpsfake leaves behind (/tmp/gpsfake-PID.sock).
// Waits are on gpsfake's own exit (a process descriptor) with generous
// bounds; between tries of gpsd's port the wait is that same exit.
class GpsFake {
public:
    // Generous: a loaded machine may take seconds to start gpsd.
    static constexpr std::chrono::seconds kStartDeadline{30};

    GpsFake() = default;
    ~GpsFake() { Stop(); }
    GpsFake(const GpsFake&) = delete;
    GpsFake& operator=(const GpsFake&) = delete;

    // A TCP port nobody listens on now (the kernel's choice).
    static int FreePort() {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof addr;
        int port = 0;
        if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) == 0) {
            port = ntohs(addr.sin_port);
        }
        if (fd >= 0) {
            ::close(fd);
        }
        return port;
    }

    static bool Accepts(int port) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return false;
        }
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<std::uint16_t>(port));
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        ::close(fd);
        return ok;
    }

    // Starts gpsfake on `port` playing `log`, and waits until gpsd accepts
    // connections. Returns an empty string, or why it did not start.
    std::string Start(const std::string& log, int port, int lingerSeconds = 30) {
        Stop();
        m_port = port;
        m_errors =
            std::filesystem::temp_directory_path() /
            ("ketrion_gpsfake_" + std::to_string(::getpid()) + "_" + std::to_string(port) + ".err");
        const std::vector<std::string> args = {"gpsfake",
                                               "-1",
                                               "-q",
                                               "-c",
                                               "0.5",
                                               "-P",
                                               std::to_string(port),
                                               "-W",
                                               std::to_string(lingerSeconds),
                                               log};
        // Everything the child needs is made before fork: another thread may
        // hold the allocator's lock at that moment.
        std::vector<char*> argv;
        for (const auto& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        const std::string errors = m_errors.string();
        static constexpr char kMissing[] = "gpsfake: not installed (run scripts/setup)\n";
        m_pid = ::fork();
        if (m_pid < 0) {
            return "fork failed";
        }
        if (m_pid == 0) {
            // Its own process group, so Stop ends gpsd along with gpsfake.
            ::setpgid(0, 0);
            const int null = ::open("/dev/null", O_RDWR);
            const int err = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(err >= 0 ? err : null, 2);
            ::execvp("gpsfake", argv.data());
            [[maybe_unused]] const auto ignored = ::write(2, kMissing, sizeof kMissing - 1);
            ::_exit(127);
        }
        ::setpgid(m_pid, m_pid);
        const auto deadline = std::chrono::steady_clock::now() + kStartDeadline;
        while (std::chrono::steady_clock::now() < deadline) {
            if (Accepts(port)) {
                return {};
            }
            // gpsd listens within moments: until then, gpsfake's exit is
            // what would end the wait early.
            int status = 0;
            if (WaitForChild(m_pid, std::chrono::milliseconds(20), status)) {
                m_pid = -1;
                return "gpsfake exited before gpsd listened: " + Errors();
            }
        }
        Stop();
        return "gpsd did not listen on port " + std::to_string(port) + " in time: " + Errors();
    }

    // Ends gpsfake and its gpsd (their process group) and cleans up.
    void Stop() {
        if (m_pid <= 0) {
            return;
        }
        ::kill(-m_pid, SIGTERM);
        // Up to 5 s to go quietly, then whatever is left of the group goes.
        int status = 0;
        const bool reaped = WaitForChild(m_pid, std::chrono::seconds(5), status);
        ::kill(-m_pid, SIGKILL);
        if (!reaped) {
            ::waitpid(m_pid, &status, 0);
        }
        std::error_code ignored;
        std::filesystem::remove("/tmp/gpsfake-" + std::to_string(m_pid) + ".sock", ignored);
        std::filesystem::remove(m_errors, ignored);
        m_pid = -1;
        // gpsd, killed with the group, may hold its port until the kernel
        // has closed its files: nothing signals that, so the port is tried
        // again (with a short pause) until nothing answers there.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (Accepts(m_port) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    int Port() const { return m_port; }

private:
    std::string Errors() const {
        std::ifstream in(m_errors);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    pid_t m_pid = -1;
    int m_port = 0;
    std::filesystem::path m_errors;
};

}  // namespace ketrion::testing
