// The autopilot driving a real main frame and site view in-process, with the
// board replaced by the test: points arrive when the test says so.

#include <gtest/gtest.h>

#include <unistd.h>

#include <QEventLoop>
#include <QImage>
#include <cerrno>
#include <filesystem>

#include "support/SiteViewWorld.h"
#include "survey/SideStore.h"
#include "ui/shell/MainFrame.h"
#include "ui/siteview/Autopilot.h"

namespace ketrion::testing {
namespace {

class AutopilotSteps : public ::testing::Test {
protected:
    void SetUp() override {
        TestApplication();
        frame = std::make_unique<CMainFrame>(world.services);
        ASSERT_TRUE(frame->Built());
        frame->show();
        settings.collection = world.dir.File("auto.ktd");
        settings.readings = 1;
        settings.stepDelay = std::chrono::milliseconds(0);
        settings.noPointTimeout = std::chrono::milliseconds(300);
        settings.exitApplication = false;
    }
    void TearDown() override { frame.reset(); }

    // Runs the autopilot to its end (or 10 s) and returns its exit code.
    int Fly(CAutopilot& pilot) {
        QEventLoop loop;
        QObject::connect(&pilot, &CAutopilot::finished, &loop, [&loop] { loop.quit(); });
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        pilot.Start(frame.get());
        loop.exec();
        return pilot.ExitCode();
    }
    CSiteView* View() const { return qobject_cast<CSiteView*>(frame->ActiveView()); }

    SiteViewWorld world;
    std::unique_ptr<CMainFrame> frame;
    AutopilotSettings settings;
};

TEST_F(AutopilotSteps, RecordsTheReadingsThenStopsAndTakesTheSnapshot) {
    settings.snapshot = world.dir.File("end.jpg");
    CAutopilot pilot(world.services, settings);
    // The board: each scan request found in the link's slot ends as a survey
    // point a little later.
    QTimer board;
    QObject::connect(&board, &QTimer::timeout, [&] {
        if (world.PendingRequestType() == frame::kScanStart) {
            QTimer::singleShot(20, &board, [&] { world.ScanEnd(); });
        }
    });
    board.start(5);
    const QByteArray savedXdg = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(world.dir.File("xdg")));
    EXPECT_EQ(Fly(pilot), 0) << pilot.Failure();
    qputenv("XDG_DATA_HOME", savedXdg);

    EXPECT_EQ(pilot.Recorded(), 1u);
    EXPECT_EQ(world.data.Path(), settings.collection);
    ASSERT_NE(View(), nullptr);
    EXPECT_TRUE(View()->Commands().IsSurveyShown());
    EXPECT_FALSE(View()->IsCollecting());  // stop was pressed
    EXPECT_EQ(world.sound.Names(),
              (std::vector<std::string>{"WHOOSH", "PING", "WHOOSH", "CAMERA"}));
    EXPECT_EQ(QImage(QString::fromStdString(settings.snapshot)).size(), QSize(240, 265));
}

// A collection file that is already there is added to, never replaced; one
// that cannot take points (damaged, or not a collection file) ends the run
// with every byte of it as it was.
TEST_F(AutopilotSteps, AnExistingCollectionFileIsAddedToNeverReplaced) {
    FileBuilder survey;
    survey.Location(0, 0, 1).Reading(-50 * 256, 1, "Office");
    survey.Location(0, 0, 2).Reading(-60 * 256, 2, "Lab").Reading(-70 * 256, 3, "Guest");
    Bytes damaged = survey.bytes();
    damaged[33 + 30] = 2;  // the first point claims the second's location record
    struct Row {
        const char* legend;
        Bytes before;
        bool appended;
    };
    const Row rows[] = {
        {"a survey", survey.bytes(), true},
        {"a damaged survey", damaged, false},
        {"not a collection file", Bytes(200, 'x'), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        SiteViewWorld w;
        frame = std::make_unique<CMainFrame>(w.services);
        ASSERT_TRUE(frame->Built());
        frame->show();
        settings.collection = w.dir.File("existing.ktd");
        WriteBytes(settings.collection, row.before);
        CAutopilot pilot(w.services, settings);
        QTimer board;
        QObject::connect(&board, &QTimer::timeout, [&] {
            if (w.PendingRequestType() == frame::kScanStart) {
                QTimer::singleShot(20, &board, [&] { w.ScanEnd(); });
            }
        });
        board.start(5);
        const int code = Fly(pilot);
        board.stop();
        const Bytes after = ReadBytes(settings.collection);
        if (row.appended) {
            EXPECT_EQ(code, 0) << pilot.Failure();
            EXPECT_EQ(pilot.Recorded(), 1u);
            ASSERT_EQ(after.size(), row.before.size() + 61);
            EXPECT_TRUE(std::equal(row.before.begin(), row.before.end(), after.begin()));
        } else {
            EXPECT_EQ(code, 1);
            EXPECT_NE(pilot.Failure().find("cannot open the collection file"), std::string::npos)
                << pilot.Failure();
            EXPECT_EQ(after, row.before);
        }
        frame.reset();
    }
}

TEST_F(AutopilotSteps, GivesUpWhenTheBoardNeverAnswers) {
    CAutopilot pilot(world.services, settings);
    EXPECT_EQ(Fly(pilot), 1);
    EXPECT_NE(pilot.Failure().find("the board did not answer"), std::string::npos)
        << pilot.Failure();
    EXPECT_EQ(pilot.Recorded(), 0u);
    ASSERT_NE(View(), nullptr);
    EXPECT_FALSE(View()->IsCollecting());
}

TEST_F(AutopilotSteps, AFileWithAnUnplacedWalkIsAddedToAndTheWalkKept) {
    const Bytes survey = FileBuilder().Location(0, 0, 1).Reading(-50 * 256, 1, "Office").bytes();
    WriteBytes(settings.collection, survey);
    {
        std::string message;
        auto side = SideStore::OpenForWriting(
            settings.collection, SideIdentity(settings.collection, survey.data()), &message);
        ASSERT_NE(side, nullptr) << message;
        ASSERT_TRUE(
            side->AddPendingScan(1, R"({"started_ms":1,"ended_ms":2,"readings":[]})", &message));
        ASSERT_TRUE(side->Close(&message)) << message;
    }
    CAutopilot pilot(world.services, settings);
    QTimer board;
    QObject::connect(&board, &QTimer::timeout, [&] {
        if (world.PendingRequestType() == frame::kScanStart) {
            QTimer::singleShot(20, &board, [&] { world.ScanEnd(); });
        }
    });
    board.start(5);
    EXPECT_EQ(Fly(pilot), 0) << pilot.Failure();
    EXPECT_EQ(ReadBytes(settings.collection).size(), survey.size() + 61);
    EXPECT_EQ(world.session.UnplacedScans(), 1u);  // still there to place
}

TEST_F(AutopilotSteps, StopsAndWalkClicksOutsideThePlanAreRefusedByName) {
    struct Row {
        std::vector<std::pair<double, double>> stops;
        std::vector<WalkClickAt> walk;
        const char* failure;
    };
    const Row rows[] = {
        {{{10, 10}, {1e308, 5}}, {}, "stop 2 at 1e+308, 5 is outside the plan"},
        {{{-1e9, 0}}, {}, "stop 1 at -1e+09, 0 is outside the plan"},
        {{{10, 100000}}, {}, "stop 1 at 10, 100000 is outside the plan"},
        {{}, {{0, 0, 0}, {5, -1e9, 1}}, "walk click 2 at 5, -1e+09 is outside the plan"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.failure);
        settings.stops = row.stops;
        settings.walk = row.walk;
        CAutopilot pilot(world.services, settings);
        EXPECT_EQ(Fly(pilot), 1);
        EXPECT_NE(pilot.Failure().find(row.failure), std::string::npos) << pilot.Failure();
        EXPECT_EQ(pilot.Recorded(), 0u);
    }
}

TEST_F(AutopilotSteps, AWalkWithoutScansEndsAfterTheNoPointTimeout) {
    settings.walk = {{10, 10, 0}, {20, 10, 60}};  // the walk would take a minute
    CAutopilot pilot(world.services, settings);
    // Ended, and by the timeout: the walk itself would outlast Fly's bound.
    EXPECT_EQ(Fly(pilot), 1);
    EXPECT_NE(pilot.Failure().find("no survey point recorded"), std::string::npos)
        << pilot.Failure();
}

TEST(AutopilotWalkFile, TimesAreBoundedAndOrdered) {
    struct Row {
        const char* text;
        const char* error;  // "" when it is read
    };
    const Row rows[] = {
        {R"([{"x":1,"y":2,"t":0},{"x":3,"y":4,"t":86400}])", ""},
        {R"([{"x":1,"y":2,"t":1e308}])", "more than 24 hours"},
        {R"([{"x":1,"y":2,"t":2200000}])", "more than 24 hours"},
        {R"([{"x":1,"y":2,"t":5},{"x":1,"y":2,"t":4}])", "must not go back in time"},
        {R"([{"x":1,"y":2,"t":-1}])", "must not go back in time"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        std::vector<WalkClickAt> walk;
        std::string error;
        EXPECT_EQ(ParseWalk(row.text, walk, error), *row.error == '\0');
        EXPECT_NE(error.find(row.error), std::string::npos) << error;
    }
}

TEST_F(AutopilotSteps, StopsAtAProjectionThatCannotBeLoaded) {
    settings.projection = world.dir.File("missing.ktp");
    CAutopilot pilot(world.services, settings);
    EXPECT_EQ(Fly(pilot), 1);
    EXPECT_NE(pilot.Failure().find("cannot load the projection"), std::string::npos)
        << pilot.Failure();
    EXPECT_FALSE(world.data.HasPath());  // it went no further
}

TEST_F(AutopilotSteps, StopsWhenTheCollectionFileCannotBeCreated) {
    settings.collection = world.dir.File("no-such-folder/auto.ktd");
    CAutopilot pilot(world.services, settings);
    EXPECT_EQ(Fly(pilot), 1);
    EXPECT_NE(pilot.Failure().find("cannot create the collection file"), std::string::npos)
        << pilot.Failure();
    ASSERT_NE(View(), nullptr);
    EXPECT_FALSE(View()->IsCollecting());
}

TEST_F(AutopilotSteps, AFolderAsTheCollectionFileEndsTheRunWithItsMessage) {
    settings.collection = world.dir.File("folder.ktd");
    std::filesystem::create_directory(settings.collection);
    CAutopilot pilot(world.services, settings);
    EXPECT_EQ(Fly(pilot), 1);
    EXPECT_EQ(pilot.Failure(),
              "cannot open the collection file: Cannot open the collection "
              "file " +
                  settings.collection + ": Is a directory.");
    ASSERT_NE(View(), nullptr);
    EXPECT_FALSE(View()->IsCollecting());
}

TEST_F(AutopilotSteps, AWriteFailureEndsTheRunAtOnceWithoutBlamingTheBoard) {
    settings.readings = 3;
    // Longer than Fly waits: a run that did not end at the failure would
    // still be going when Fly gives up.
    settings.noPointTimeout = std::chrono::hours(1);
    // The disk fills once the new file's header is written: every point's
    // write fails.
    int syncs = 0;
    world.data.SetFileSync([&syncs](int fd) {
        if (++syncs == 1) {
            return fdatasync(fd);
        }
        errno = ENOSPC;
        return -1;
    });
    CAutopilot pilot(world.services, settings);
    QTimer board;
    QObject::connect(&board, &QTimer::timeout, [&] {
        if (world.PendingRequestType() == frame::kScanStart) {
            QTimer::singleShot(20, &board, [&] { world.ScanEnd(); });
        }
    });
    board.start(5);
    EXPECT_EQ(Fly(pilot), 1);
    EXPECT_EQ(pilot.Failure(), "cannot record: Cannot write to the collection file " +
                                   settings.collection + ": No space left on device.");
    EXPECT_EQ(pilot.Recorded(), 0u);
    ASSERT_NE(View(), nullptr);
    EXPECT_FALSE(View()->IsCollecting());
}

}  // namespace
}  // namespace ketrion::testing
