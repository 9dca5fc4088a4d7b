#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <QFile>

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/Process.h"
#include "sim/Scenario.h"
#include "support/LinkFakes.h"
#include "support/QtTestApp.h"
#include "ui/shell/KetrionView.h"

namespace ketrion {
namespace {

using testing::ProcessEventsUntil;
using testing::QtTestApp;

const std::string kNoCard = "Could not find Quatech CF card.";
const std::string kCannotOpen = "Cannot Open Connection To Board.";

// A pseudo-terminal standing in for the board's serial port.
class Pty {
public:
    Pty() {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master >= 0 && grantpt(m_master) == 0 && unlockpt(m_master) == 0) {
            m_path = ptsname(m_master);
        }
    }
    ~Pty() {
        if (m_master >= 0) {
            close(m_master);
        }
    }
    const std::string& Path() const { return m_path; }

private:
    int m_master = -1;
    std::string m_path;
};

// Messages the program raised, recorded instead of shown.
class Messages {
public:
    void Attach(QtPrompt& prompt) {
        prompt.SetRecorder([this](const std::string& text) {
            std::lock_guard lock(m_mutex);
            m_texts.push_back(text);
        });
    }
    std::vector<std::string> Texts() const {
        std::lock_guard lock(m_mutex);
        return m_texts;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_texts;
};

std::string WriteTemp(const std::string& text) {
    char name[] = "/tmp/ketrion-registry-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) {
        return {};
    }
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return written ? name : std::string();
}

TEST(Process, RegistryFileFindsThePort) {
    QtTestApp();
    Pty pty;
    ASSERT_FALSE(pty.Path().empty());
    const std::string A = "Drivers\\Active\\";
    struct Case {
        const char* legend;
        std::string registry;
        bool opens;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {"primary identifier",
         A + "00\tPnpId\tSerial\n" + A + "03\tPnpId\tQuatech SSP-100\n" + A + "03\tName\t" +
             pty.Path() + "\n",
         true,
         {}},
        {"second identifier after a match without a Name",
         A + "00\tPnpId\tQuatech\n" + A + "01\tPnpId\tCF-Serial_I-O card\n" + A + "01\tName\t" +
             pty.Path() + "\n",
         true,
         {}},
        {"fallback key 07",
         A + "06\tPnpId\tSerial\n" + A + "07\tPnpId\tSocket CF\n" + A + "07\tName\t" + pty.Path() +
             "\n",
         true,
         {kNoCard}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        const std::string file = WriteTemp(c.registry);
        ASSERT_FALSE(file.empty());
        Options options;
        options.registryFile = file;
        options.handheld = true;  // the handheld's messages
        testing::ManualClock clock;
        Process process(options, clock);
        Messages messages;
        messages.Attach(process.prompt);
        std::string error;
        ASSERT_TRUE(process.Prepare(&error)) << error;
        process.OpenBoardPort(process.board.com);
        EXPECT_EQ(process.board.com.IsPortOpen(), c.opens);
        EXPECT_EQ(messages.Texts(), c.messages);
        unlink(file.c_str());
    }
}

TEST(Process, NoBoardAnywhereTriesCom1AndSaysSo) {
    QtTestApp();
    const std::string file = WriteTemp("Drivers\\Active\\00\tPnpId\tKeyboard\n");
    Options options;
    options.registryFile = file;
    options.handheld = true;
    testing::ManualClock clock;
    Process process(options, clock);
    Messages messages;
    messages.Attach(process.prompt);
    std::string error;
    ASSERT_TRUE(process.Prepare(&error)) << error;
    process.OpenBoardPort(process.board.com);
    EXPECT_FALSE(process.board.com.IsPortOpen());
    const auto texts = messages.Texts();
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts.front(), kNoCard);
    EXPECT_EQ(texts.back(), kCannotOpen);
    unlink(file.c_str());
}

TEST(Process, BadRegistryFileIsRefusedBeforeAnythingStarts) {
    QtTestApp();
    const std::string file = WriteTemp("Drivers\\Active\\00\tPnpId\n\x01\x02 broken\tline\n");
    Options options;
    options.registryFile = file;
    testing::ManualClock clock;
    Process process(options, clock);
    std::string error;
    EXPECT_FALSE(process.Prepare(&error));
    EXPECT_FALSE(error.empty());
    unlink(file.c_str());

    options.registryFile = "/nonexistent/registry.txt";
    Process missing(options, clock);
    error.clear();
    EXPECT_FALSE(missing.Prepare(&error));
    EXPECT_NE(error.find("/nonexistent/registry.txt"), std::string::npos) << error;
}

TEST(Process, PortOpensWithTheBoardLineSettings) {
    QtTestApp();
    Pty pty;
    ASSERT_FALSE(pty.Path().empty());
    Options options;
    options.port = pty.Path();
    testing::ManualClock clock;
    Process process(options, clock);
    std::string error;
    ASSERT_TRUE(process.Prepare(&error)) << error;
    process.OpenBoardPort(process.board.com);
    ASSERT_TRUE(process.board.com.IsPortOpen());

    const int fd = open(pty.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    close(fd);
    EXPECT_EQ(cfgetospeed(&t), B38400);
    EXPECT_EQ(cfgetispeed(&t), B38400);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
}

TEST(Process, SimulatedBoardAnswersThroughTheSerialCodeAndShutdownJoins) {
    QtTestApp();
    Options options;
    options.simulate = true;
    testing::ManualClock clock;
    Process process(options, clock);
    Messages messages;
    messages.Attach(process.prompt);
    std::string error;
    ASSERT_TRUE(process.Prepare(&error)) << error;
    ASSERT_FALSE(process.SimulatorPath().empty());

    auto frame = std::make_unique<CMainFrame>(process.services, process.Layout());
    process.AttachFrame(frame.get());
    frame->show();
    frame->StartSources();
    ASSERT_TRUE(ProcessEventsUntil([&] { return process.HandshakeDone(); }, 10000));
    EXPECT_TRUE(process.board.linkThread.IsRunning());

    const sim::Scenario site = sim::DefaultScenario();
    auto* start = qobject_cast<CKetrionView*>(frame->StartView());
    ASSERT_NE(start, nullptr);
    EXPECT_EQ(start->FirmwareLine(), QString::fromStdString("(Firmware " + site.firmware + ")"));
    EXPECT_EQ(start->SerialLine(), QString::fromStdString("(SN " + site.serial + ")"));
    // Position reports reach the window as the source's news.
    EXPECT_TRUE(ProcessEventsUntil([&] { return frame->SourceEventCount() > 0; }, 5000));
    EXPECT_TRUE(messages.Texts().empty());

    frame->close();
    EXPECT_FALSE(process.board.linkThread.IsRunning());
    process.AttachFrame(nullptr);
    frame.reset();
    // The port stays open until the link object goes, last.
    EXPECT_TRUE(process.board.com.IsPortOpen());
}

TEST(Process, DestroyingARunningProcessStopsTheLinkThreadFirst) {
    QtTestApp();
    Options options;
    options.simulate = true;
    testing::ManualClock clock;
    auto process = std::make_unique<Process>(options, clock);
    std::string error;
    ASSERT_TRUE(process->Prepare(&error)) << error;
    process->session.StartSources();
    ASSERT_TRUE(ProcessEventsUntil([&] { return process->HandshakeDone(); }, 10000));
    process.reset();  // must neither hang nor touch freed objects (sanitizers)
}

// A desktop start without a board asks how to go on, and the answer takes
// effect; the handheld's two messages are not shown then.
TEST(Process, WithoutABoardTheDesktopAsksAndTheChoiceTakesEffect) {
    QtTestApp();
    Pty pty;
    ASSERT_FALSE(pty.Path().empty());
    const std::string file = WriteTemp(
        "Drivers\\Active\\00\tPnpId\tKeyboard\n"
        "Drivers\\Active\\00\tName\t/dev/ttyS9\n");
    ASSERT_FALSE(file.empty());
    struct Case {
        NoBoardAnswer answer;
        std::function<bool(Process&)> tookEffect;
    };
    const sim::Scenario site = sim::DefaultScenario();
    const Case cases[] = {
        {{NoBoardChoice::ReviewOnly, {}},
         [](Process& p) { return !p.board.com.IsPortOpen() && !p.board.linkThread.IsRunning(); }},
        {{NoBoardChoice::SerialPort, QString::fromStdString(pty.Path())},
         [](Process& p) { return p.board.com.IsPortOpen(); }},
        {{NoBoardChoice::SimulatedBoard, {}},
         [&](Process& p) {
             return p.HandshakeDone() && p.Scan().IdentityLines().second == "SN " + site.serial;
         }},
        {{NoBoardChoice::WifiAdapter, {}},
         [](Process& p) { return p.Scan().Kind() == "wifi" && !p.board.linkThread.IsRunning(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.answer.choice));
        Options options;
        options.registryFile = file;
        testing::ManualClock clock;
        Process process(options, clock);
        Messages messages;
        messages.Attach(process.prompt);
        std::string error;
        ASSERT_TRUE(process.Prepare(&error)) << error;
        int asked = 0;
        QString lookedFor;
        QStringList ports;
        process.SetNoBoardAsk([&](const QString& said, const QStringList& found, bool, QWidget*) {
            ++asked;
            lookedFor = said;
            ports = found;
            return c.answer;
        });
        auto frame = std::make_unique<CMainFrame>(process.services, process.Layout());
        process.AttachFrame(frame.get());
        frame->StartSources();
        ASSERT_TRUE(ProcessEventsUntil([&] { return asked > 0; }));
        EXPECT_EQ(ports, QStringList{QStringLiteral("/dev/ttyS9")});
        EXPECT_TRUE(lookedFor.contains(QString::fromStdString(kNoCard))) << lookedFor.toStdString();
        EXPECT_TRUE(ProcessEventsUntil([&] { return c.tookEffect(process); }, 10000));
        EXPECT_EQ(asked, 1);
        EXPECT_TRUE(messages.Texts().empty());
        frame->close();
        process.AttachFrame(nullptr);
    }
    unlink(file.c_str());
}

}  // namespace
}  // namespace ketrion
