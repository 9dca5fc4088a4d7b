#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "link/Com.h"
#include "link/PortSearch.h"
#include "platform/Registry.h"
#include "support/RecordingPrompt.h"

namespace ketrion {
namespace {

using Messages = std::vector<std::string>;

const std::string kNoCard = "Could not find Quatech CF card.";
const std::string kCannotOpen = "Cannot Open Connection To Board.";

Registry Parse(const std::string& text) {
    std::string error;
    auto registry = Registry::FromText(text, &error);
    if (!registry) {
        ADD_FAILURE() << "bad registry text: " << error;
        return Registry();
    }
    return *registry;
}

TEST(PortSearch, RegistryCases) {
    struct Case {
        const char* legend;
        std::string registry;
        std::string port;
        Messages messages;
    };
    const std::string A = "Drivers\\Active\\";
    const Case cases[] = {
        {"primary match on the 7-character prefix",
         A + "00\tPnpId\tSerial\n" + A + "00\tName\t/dev/ttyS0\n" +  //
             A + "01\tPnpId\tQuatech Inc-SSP-100\n" + A + "01\tName\t/dev/ttyS3\n",
         "/dev/ttyS3",
         {}},
        {"second identifier",
         A + "05\tPnpId\tCF-Serial_I-O-Card\n" + A + "05\tName\t/dev/ttyUSB1\n",
         "/dev/ttyUSB1",
         {}},
        {"first primary match wins",
         A + "00\tPnpId\tCF-Serial_I-O\n" + A + "00\tName\t/dev/first\n" +  //
             A + "01\tPnpId\tQuatech\n" + A + "01\tName\t/dev/second\n",
         "/dev/first",
         {}},
        {"match without a Name does not end the search",
         A + "00\tPnpId\tQuatech\n" + A + "01\tPnpId\tCF-Serial_I-O\n" + A + "01\tName\tCOM4:\n",
         "COM4:",
         {}},
        {"an empty Name counts as unreadable",
         A + "00\tPnpId\tQuatech\n" + A + "00\tName\t\n" +  //
             A + "01\tPnpId\tQuatech\n" + A + "01\tName\t/dev/ttyS1\n",
         "/dev/ttyS1",
         {}},
        {"prefixes are case-sensitive and complete",
         A + "00\tPnpId\tquatech\n" + A + "00\tName\t/dev/a\n" +     //
             A + "01\tPnpId\tQuatec\n" + A + "01\tName\t/dev/b\n" +  //
             A + "02\tPnpId\tCF-Serial_I-\n" + A + "02\tName\t/dev/c\n",
         "COM1:",
         {kNoCard}},
        {"fallback at key 07 after one message",
         A + "00\tPnpId\tQuatech\n" +  // no Name
             A + "07\tPnpId\tSocket-CF-Serial\n" + A + "07\tName\t/dev/ttyS4\n",
         "/dev/ttyS4",
         {kNoCard}},
        {"fallback only looks at two-digit keys 00 to 50",
         A + "7\tPnpId\tSocket\n" + A + "7\tName\t/dev/one-digit\n" +    //
             A + "51\tPnpId\tSocket\n" + A + "51\tName\t/dev/key51\n" +  //
             A + "050\tPnpId\tSocket\n" + A + "050\tName\t/dev/three-digits\n",
         "COM1:",
         {kNoCard}},
        {"fallback reaches key 50",
         A + "50\tPnpId\tSocket\n" + A + "50\tName\t/dev/key50\n",
         "/dev/key50",
         {kNoCard}},
        {"fallback takes the lowest matching key",
         A + "12\tPnpId\tSocket\n" + A + "12\tName\t/dev/key12\n" +  //
             A + "03\tPnpId\tSocket\n" + A + "03\tName\t/dev/key03\n",
         "/dev/key03",
         {kNoCard}},
        {"fallback skips a Socket key without a Name",
         A + "01\tPnpId\tSocket\n" + A + "02\tPnpId\tSocket\n" + A + "02\tName\t/dev/key02\n",
         "/dev/key02",
         {kNoCard}},
        {"no Drivers\\Active at all", "Software\\Other\tX\ty\n", "COM1:", {kNoCard}},
        {"empty registry", "", "COM1:", {kNoCard}},
    };
    for (const Case& c : cases) {
        RecordingPrompt prompt;
        EXPECT_EQ(FindBoardPort(Parse(c.registry), prompt), c.port) << c.legend;
        EXPECT_EQ(prompt.Messages(), c.messages) << c.legend;
    }
}

// A registry whose chosen keys cannot be opened and values cannot be read.
class FailingRegistry final : public Registry {
public:
    explicit FailingRegistry(Registry base) : Registry(std::move(base)) {}
    std::set<std::string> unopenable;  // subkey names of Drivers\Active
    std::set<std::string> unreadable;  // value names

    bool OpenKey(Key parent, std::string_view path, Key& key) const override {
        std::string name(path);
        if (const auto slash = name.rfind('\\'); slash != std::string::npos) {
            name = name.substr(slash + 1);
        }
        if (unopenable.count(name)) {
            return false;
        }
        return Registry::OpenKey(parent, path, key);
    }
    bool QueryValue(Key key, std::string_view name, std::string& text) const override {
        if (unreadable.count(std::string(name))) {
            return false;
        }
        return Registry::QueryValue(key, name, text);
    }
};

TEST(PortSearch, RegistryFailuresSkipTheKeySilently) {
    const std::string A = "Drivers\\Active\\";
    const Registry base = Parse(A + "00\tPnpId\tQuatech\n" + A + "00\tName\t/dev/key00\n" +  //
                                A + "01\tPnpId\tQuatech\n" + A + "01\tName\t/dev/key01\n" +  //
                                A + "02\tPnpId\tSocket\n" + A + "02\tName\t/dev/key02\n");
    {
        FailingRegistry registry(base);
        registry.unopenable = {"00"};
        RecordingPrompt prompt;
        EXPECT_EQ(FindBoardPort(registry, prompt), "/dev/key01");
        EXPECT_TRUE(prompt.Messages().empty());
    }
    {
        FailingRegistry registry(base);
        // The primary search cannot start; the fallback opens its keys by
        // full path and still finds the Socket card.
        registry.unopenable = {"Active"};
        RecordingPrompt prompt;
        EXPECT_EQ(FindBoardPort(registry, prompt), "/dev/key02");
        EXPECT_EQ(prompt.Messages(), Messages{kNoCard});
    }
    {
        FailingRegistry registry(base);
        registry.unreadable = {"PnpId"};
        RecordingPrompt prompt;
        EXPECT_EQ(FindBoardPort(registry, prompt), "COM1:");
        EXPECT_EQ(prompt.Messages(), Messages{kNoCard});
    }
}

// The slave side of a pseudo-terminal stands in for the card's serial port.
class Pty {
public:
    Pty() {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master >= 0 && ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0) {
            if (const char* name = ::ptsname(m_master)) {
                m_slave = name;
            }
        }
    }
    ~Pty() {
        if (m_master >= 0) {
            ::close(m_master);
        }
    }
    bool Ok() const { return !m_slave.empty(); }
    const std::string& SlavePath() const { return m_slave; }
    int Master() const { return m_master; }

private:
    int m_master = -1;
    std::string m_slave;
};

TEST(PortOpen, SearchOpensThePortWithTheBoardLineSettings) {
    Pty pty;
    ASSERT_TRUE(pty.Ok()) << "no pseudo-terminal available";
    const Registry registry =
        Parse("Drivers\\Active\\03\tPnpId\tQuatech SSP-100\nDrivers\\Active\\03\tName\t" +
              pty.SlavePath() + "\n");
    RecordingPrompt prompt;
    CCom com;
    com.Open(registry, prompt);
    EXPECT_TRUE(prompt.Messages().empty());
    ASSERT_TRUE(com.IsPortOpen());

    // The settings live with the terminal, so a second descriptor reads them back.
    const int fd = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios tio{};
    ASSERT_EQ(::tcgetattr(fd, &tio), 0);
    ::close(fd);
    EXPECT_EQ(::cfgetispeed(&tio), static_cast<speed_t>(B38400));
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B38400));
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u) << "parity, 2 stop bits or RTS/CTS";
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY), 0u) << "XON/XOFF flow control";
    EXPECT_EQ(tio.c_iflag & (ISTRIP | INLCR | IGNCR | ICRNL), 0u) << "input translation";
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u) << "not raw";
    EXPECT_EQ(tio.c_oflag & OPOST, 0u) << "output processing";

    // Bytes that are control characters elsewhere pass through unchanged.
    const std::uint8_t bytes[] = {0x11, 0x12, 0x00, 0x0d, 0x0a, 0x13, 0x03, 0xff};
    ASSERT_EQ(com.Port()->Write(bytes, sizeof bytes), sizeof bytes);
    std::vector<std::uint8_t> got;
    // Read as the bytes arrive (a generous bound against a lost write).
    pollfd readable{pty.Master(), POLLIN, 0};
    while (got.size() < sizeof bytes && ::poll(&readable, 1, 20'000) > 0) {
        std::uint8_t buffer[16];
        const ssize_t n = ::read(pty.Master(), buffer, sizeof buffer);
        if (n > 0) {
            got.insert(got.end(), buffer, buffer + n);
        } else if ((readable.revents & (POLLHUP | POLLERR)) != 0) {
            break;  // the line went away: what came is all there is
        }
    }
    EXPECT_EQ(got, std::vector<std::uint8_t>(bytes, bytes + sizeof bytes));
}

TEST(PortOpen, NothingFoundTriesCom1AndReportsTheMissingBoard) {
    RecordingPrompt prompt;
    CCom com;
    com.Open(Registry(), prompt);
    EXPECT_EQ(prompt.Messages(), (Messages{kNoCard, kCannotOpen}));
    EXPECT_FALSE(com.IsPortOpen());
}

TEST(PortOpen, OpenPathRefusesWhatIsNotASerialDevice) {
    const struct {
        std::string path;
        std::string message;
    } cases[] = {
        {"/nonexistent/ttyUSB0", kCannotOpen},
        {"", kCannotOpen},
        // Opens, but has no line settings to take.
        {"/dev/null", "Could not SetCommState"},
    };
    for (const auto& c : cases) {
        RecordingPrompt prompt;
        CCom com;
        com.OpenPath(c.path, prompt);
        EXPECT_EQ(prompt.Messages(), Messages{c.message}) << c.path;
        EXPECT_FALSE(com.IsPortOpen()) << c.path;
        // The cause, with the device, for the status bar.
        EXPECT_NE(com.PortProblem().find(c.path), std::string::npos) << com.PortProblem();
        EXPECT_NE(com.PortProblem().find(": "), std::string::npos) << com.PortProblem();
    }
}

TEST(PortOpen, OpenPathSkipsTheSearch) {
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    RecordingPrompt prompt;
    CCom com;
    com.OpenPath(pty.SlavePath(), prompt);
    EXPECT_TRUE(prompt.Messages().empty());
    EXPECT_TRUE(com.IsPortOpen());
    EXPECT_EQ(com.PortProblem(), "");
}

}  // namespace
}  // namespace ketrion
