#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sim/Simulator.h"
#include "sim_frames.h"

namespace ketrion::sim {
namespace {

using testing::Frame;
using testing::Frames;
using testing::Request;

Scenario Fast() {
    Scenario s = DefaultScenario();
    s.gpsPeriodMs = 0;
    s.scanMinMs = 20;
    s.scanMaxMs = 40;
    s.firmware = "3.01";
    return s;
}

// The program's end of the line.
class Port {
public:
    explicit Port(const std::string& path) : m_fd(::open(path.c_str(), O_RDWR | O_NOCTTY)) {}
    ~Port() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    bool Ok() const { return m_fd >= 0; }
    void Write(const std::vector<std::uint8_t>& bytes) {
        ASSERT_EQ(::write(m_fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Reads until `enough` says so or the time runs out.
    template <typename Enough>
    std::vector<std::uint8_t> ReadUntil(Enough enough, int timeoutMs = 3000) {
        std::vector<std::uint8_t> got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!enough(got) && std::chrono::steady_clock::now() < end) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0) {
                std::uint8_t buf[512];
                const ssize_t n = ::read(m_fd, buf, sizeof buf);
                if (n > 0) {
                    got.insert(got.end(), buf, buf + n);
                }
            }
        }
        return got;
    }

private:
    int m_fd;
};

auto FramesOfType(std::uint8_t type) {
    return [type](const std::vector<std::uint8_t>& bytes) {
        for (const Frame& f : Frames(bytes)) {
            if (f.type == type) {
                return true;
            }
        }
        return false;
    };
}

TEST(SimPty, AnswersVersionOverTheTerminal) {
    Simulator sim(Fast());
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    ASSERT_FALSE(sim.SlavePath().empty());
    Port port(sim.SlavePath());
    ASSERT_TRUE(port.Ok());
    port.Write({0x00, 0x00});  // keep-alive first: ignored
    port.Write(Request(0x01));
    const auto frames = Frames(port.ReadUntil(FramesOfType(0x01)));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].type, 0x01);
    EXPECT_TRUE(frames[0].checkOk);
    EXPECT_STREQ(reinterpret_cast<const char*>(frames[0].body.data()), "3.01");
    sim.Stop();
    EXPECT_FALSE(sim.Running());
    sim.Stop();  // twice is harmless
}

TEST(SimPty, ScanCycleCaptureAndLink) {
    const std::string dir = ::testing::TempDir();
    const std::string capture = dir + "/ktsim_capture.bin";
    const std::string link = dir + "/ktsim_link";
    ::unlink(link.c_str());
    Simulator sim(Fast());
    sim.SetCapturePath(capture);
    sim.SetLinkPath(link);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;

    Port port(link);  // through the symbolic link
    ASSERT_TRUE(port.Ok());
    port.Write(Request(0x16));
    const auto bytes = port.ReadUntil(FramesOfType(0x18));
    const auto frames = Frames(bytes);
    ASSERT_GE(frames.size(), 3u);
    EXPECT_EQ(frames.front().type, 0x16);
    EXPECT_EQ(frames.back().type, 0x18);
    for (std::size_t i = 1; i + 1 < frames.size(); ++i) {
        EXPECT_EQ(frames[i].type, 0x17);
        EXPECT_TRUE(frames[i].checkOk);
    }
    EXPECT_EQ(sim.Stats().scans, 1u);
    sim.Stop();

    std::ifstream in(capture, std::ios::binary);
    const std::vector<std::uint8_t> captured{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(captured, bytes);
    EXPECT_EQ(sim.BytesSent(), bytes.size());
    struct stat st {};
    EXPECT_NE(::lstat(link.c_str(), &st), 0) << "the link goes with the simulator";
    std::remove(capture.c_str());
}

TEST(SimPty, RefusesToReplaceAFileWithItsLink) {
    const std::string path = ::testing::TempDir() + "/ktsim_not_a_link";
    { std::ofstream(path) << "keep me"; }
    Simulator sim(Fast());
    sim.SetLinkPath(path);
    std::string error;
    EXPECT_FALSE(sim.Start(&error));
    EXPECT_EQ(error, path + " exists and is not a symbolic link; not replacing it");
    EXPECT_FALSE(sim.Running());
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "keep me");
    std::remove(path.c_str());
}

// A scan of the largest scenario outgrows the terminal's buffer many times
// over. It still arrives whole, ScanStart to ScanEnd with every report, for a
// program that reads it a piece at a time.
TEST(SimPty, AScanLargerThanTheLineBufferArrivesWhole) {
    Scenario s = Fast();
    s.accessPoints.clear();
    for (int i = 0; i < 1024; ++i) {
        AccessPoint ap;
        ap.mac = {0x02,
                  0x00,
                  0x00,
                  0x00,
                  static_cast<std::uint8_t>(i >> 8),
                  static_cast<std::uint8_t>(i)};
        ap.ssid = "AP-" + std::to_string(i);
        ap.lat = s.waypoints.empty() ? 52.2055 : s.waypoints[0].lat;
        ap.lon = s.waypoints.empty() ? 0.121 : s.waypoints[0].lon;
        ap.txPower = 20;
        s.accessPoints.push_back(ap);
    }
    s.scanPasses = 1;
    s.pathLossSigma = 0.0;
    Simulator sim(s);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    Port port(sim.SlavePath());
    ASSERT_TRUE(port.Ok());
    port.Write(Request(frame::kScanStart));
    const auto bytes = port.ReadUntil(FramesOfType(frame::kScanEnd), 10000);
    std::size_t reports = 0;
    std::size_t entries = 0;
    bool started = false;
    bool ended = false;
    for (const Frame& f : Frames(bytes)) {
        if (f.type == frame::kScanStart) {
            started = true;
        } else if (f.type == frame::kScanReport) {
            EXPECT_TRUE(started && !ended) << "a report outside the scan";
            EXPECT_TRUE(f.checkOk);
            ++reports;
            entries += f.body.empty() ? 0 : f.body[0];
        } else if (f.type == frame::kScanEnd) {
            ended = true;
        }
    }
    EXPECT_TRUE(started);
    EXPECT_TRUE(ended) << "no ScanEnd after " << reports << " reports";
    EXPECT_EQ(reports, 32u);
    EXPECT_EQ(entries, 1024u);
}

}  // namespace
}  // namespace ketrion::sim
