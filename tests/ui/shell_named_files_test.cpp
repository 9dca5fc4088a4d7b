// Files the user names, opened from the frame: a named pipe at the path is
// refused at once (never waited on), and a collection file found damaged is
// only read, with recording refused until a new file is chosen.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "render/PlanImage.h"
#include "support/ChildWait.h"
#include "support/SiteViewWorld.h"
#include "ui/shell/Commands.h"
#include "ui/shell/MainFrame.h"
#include "ui/shell/Snapshot.h"

namespace ketrion::testing {
namespace {

// Runs `body` in a child process and waits for it at most `deadline`: a
// child still running then is killed and the test fails instead of hanging.
// The child's exit status is body's result (0 for success).
int RunWithDeadline(const std::function<int()>& body, std::chrono::seconds deadline) {
    const pid_t child = fork();
    if (child == 0) {
        _exit(body());
    }
    if (child < 0) {
        ADD_FAILURE() << "fork failed";
        return -1;
    }
    int status = 0;
    if (WaitForChild(child, deadline, status)) {
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    ADD_FAILURE() << "still waiting after " << deadline.count() << " s: killed";
    return -1;
}

// First in this file: the child builds its own application, so nothing of Qt
// exists in this process before the fork.
TEST(NamedFiles, ANamedPipeIsRefusedAtOnceWhereverItIsNamed) {
    TempDir dir;
    const std::string fifo = dir.File("pipe.ktd");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int result = RunWithDeadline(
        [&]() -> int {
            SiteViewWorld world;
            CMainFrame frame(world.services, CMainFrame::LinkSteps{});
            if (!frame.OnCreate()) {
                return 10;
            }
            frame.show();
            ScriptedDialogs dialogs;
            frame.SetDialogs(&dialogs);
            const std::string refused = "Cannot open the collection file " + fifo +
                                        ": it is a named pipe, not a regular file.";
            // As --collection and a recent file open it.
            frame.OpenCollectionFile(QString::fromStdString(fifo));
            if (world.prompt.Messages() != std::vector<std::string>{refused}) {
                return 11;
            }
            // File > Open collection: "open an existing file?" Yes, then the pipe.
            dialogs.yesNoAnswers.push_back(true);
            dialogs.fileAnswers.push_back(QString::fromStdString(fifo));
            frame.OnCommand(ID_COLLECTION_OPEN);
            if (world.prompt.Messages() != std::vector<std::string>{refused, refused}) {
                return 12;
            }
            // A plan image and a snapshot at the pipe's name.
            if (!plan_image::Read(fifo).isNull()) {
                return 13;
            }
            const std::uint8_t pixel[3] = {1, 2, 3};
            if (WriteJpeg(fifo, 1, 1, 90, pixel)) {
                return 14;
            }
            return 0;
        },
        std::chrono::seconds(30));
    EXPECT_EQ(result, 0);
    struct stat st {};
    ASSERT_EQ(stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// A collection file whose third point's reading count was changed: opened from
// the frame it shows the points before the damage; record is refused with a
// message that says to choose a new file, and the file keeps every byte.
TEST(NamedFiles, RecordIsRefusedIntoADamagedCollection) {
    SiteViewWorld world;
    CMainFrame frame(world.services, CMainFrame::LinkSteps{});
    ASSERT_TRUE(frame.OnCreate());
    frame.show();
    ScriptedDialogs dialogs;
    frame.SetDialogs(&dialogs);
    FileBuilder builder;
    for (int point = 0; point < 4; ++point) {
        builder.Location(0, 0, 2).Reading(-50 * 256, 1, "Office").Reading(-60 * 256, 2, "Lab");
    }
    Bytes bytes = builder.bytes();
    const std::size_t third = 33 + 2 * (61 + 2 * 41);
    bytes[third + 30] = 3;
    const std::string path = world.dir.File("damaged.ktd");
    WriteBytes(path, bytes);

    frame.OpenCollectionFile(QString::fromStdString(path));
    EXPECT_EQ(world.data.PointCount(), 3u);
    ASSERT_EQ(world.prompt.Messages().size(), 1u);
    frame.OnCommand(ID_SCAN_START);
    EXPECT_FALSE(frame.IsRecording());
    ASSERT_FALSE(dialogs.messages.isEmpty());
    EXPECT_TRUE(dialogs.messages.back().contains(QStringLiteral("choose a new collection file")))
        << dialogs.messages.back().toStdString();
    EXPECT_EQ(ReadBytes(path), bytes);

    // A new file records again.
    dialogs.fileAnswers.push_back(QString::fromStdString(world.dir.File("fresh.ktd")));
    frame.OnCommand(ID_COLLECTION_NEW);
    frame.OnCommand(ID_SCAN_START);
    EXPECT_TRUE(frame.IsRecording());
    frame.OnCommand(ID_SCAN_STOP);
}

}  // namespace
}  // namespace ketrion::testing
