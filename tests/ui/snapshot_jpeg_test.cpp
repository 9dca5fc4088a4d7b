// The camera command: counter file, name proposal, save dialog and the JPEG.

#include <gtest/gtest.h>

#include <QPainter>

#include <filesystem>

#include "support/SiteViewWorld.h"
#include "ui/shell/Snapshot.h"

namespace ketrion::testing {
namespace {

class Snapshot : public ::testing::Test {
protected:
    void SetUp() override {
        TestApplication();
        widget = std::make_unique<QWidget>();
        widget->resize(240, 268);
    }
    std::string Counter() const { return dir.File(kSnapshotCounterFile); }
    void Take() { TakeSnapshot(*widget, sound, dialogs, QString::fromStdString(dir.Path())); }
    QString Proposed() const {
        return dialogs.fileQuestions.empty() ? QString()
                                             : dialogs.fileQuestions.back().request.initialName;
    }
    std::string CounterText() const {
        const Bytes bytes = ReadBytes(Counter());
        return std::string(bytes.begin(), bytes.end());
    }

    TempDir dir;
    std::unique_ptr<QWidget> widget;
    RecordingSound sound;
    ScriptedDialogs dialogs;
};

TEST_F(Snapshot, FirstSnapshotProposesOneAndLeavesTwo) {
    const QString target = QString::fromStdString(dir.File("first.jpg"));
    dialogs.fileAnswers.push_back(target);
    Take();
    EXPECT_EQ(sound.Names(), std::vector<std::string>{"CAMERA"});
    ASSERT_EQ(dialogs.fileQuestions.size(), 1u);
    const FileDialogRequest& request = dialogs.fileQuestions[0].request;
    EXPECT_TRUE(dialogs.fileQuestions[0].save);
    EXPECT_EQ(request.initialName, QStringLiteral("kt000001.jpg"));
    EXPECT_EQ(request.defaultExtension, QStringLiteral(".JPG"));
    EXPECT_EQ(request.filter, QStringLiteral("Snapshot JPEG (*.jpg)|*.jpg|All Files (*.*)|*.*||"));
    EXPECT_EQ(CounterText(), "2\n");
    EXPECT_TRUE(dialogs.messages.isEmpty());
    EXPECT_EQ(QImage(target).size(), QSize(240, 265));

    // The next one proposes 2 whatever name the first was saved under.
    dialogs.fileAnswers.push_back(QString::fromStdString(dir.File("second.jpg")));
    Take();
    EXPECT_EQ(Proposed(), QStringLiteral("kt000002.jpg"));
    EXPECT_EQ(CounterText(), "3\n");
}

TEST_F(Snapshot, CancelWritesNothing) {
    Take();
    EXPECT_FALSE(std::filesystem::exists(Counter()));
    WriteBytes(Counter(), {'4', '1', '\n'});
    Take();
    EXPECT_EQ(Proposed(), QStringLiteral("kt000041.jpg"));
    EXPECT_EQ(CounterText(), "41\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST_F(Snapshot, CounterFileContents) {
    struct {
        const char* legend;
        std::string content;
        QString proposal;
        const char* next;
    } const cases[] = {
        {"seven digits", "1000000\n", "kt1000000.jpg", "1000001\n"},
        {"not a number", "abc\n", "kt000000.jpg", "1\n"},
        {"empty file", "", "kt000001.jpg", "2\n"},
        {"blanks and sign", "  +17xyz\nrest", "kt000017.jpg", "18\n"},
        {"no line break", "9", "kt000009.jpg", "10\n"},
        {"negative", "-3\n", "kt-00003.jpg", "-2\n"},
        {"too large", "99999999999999\n", "kt2147483647.jpg", "2147483648\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        WriteBytes(Counter(), Bytes(c.content.begin(), c.content.end()));
        dialogs.fileAnswers.push_back(QString::fromStdString(dir.File("x.jpg")));
        Take();
        EXPECT_EQ(Proposed(), c.proposal);
        EXPECT_EQ(CounterText(), c.next);
    }
}

TEST_F(Snapshot, UnwritableFolderGivesTheMessageAndTheCounterStillAdvances) {
    // A folder that does not exist cannot be written, even by root.
    const std::string target = dir.File("no-such-folder") + "/shot.jpg";
    dialogs.fileAnswers.push_back(QString::fromStdString(target));
    Take();
    EXPECT_EQ(dialogs.messages,
              QStringList{QString::fromStdString("Can't open file\"" + target + "\"")});
    EXPECT_EQ(CounterText(), "2\n");
}

TEST_F(Snapshot, CounterFolderIsCreatedOnDemandAndFollowsXdgDataHome) {
    const std::string folder = dir.File("data/ketrion");
    dialogs.fileAnswers.push_back(QString::fromStdString(dir.File("y.jpg")));
    TakeSnapshot(*widget, sound, dialogs, QString::fromStdString(folder));
    EXPECT_EQ(ReadBytes(folder + "/ktimgcnt.cnt"), (Bytes{'2', '\n'}));

    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(dir.File("xdg")));
    EXPECT_EQ(SnapshotCounterFolder(), QString::fromStdString(dir.File("xdg") + "/ketrion"));
    qputenv("XDG_DATA_HOME", saved);
}

// Mean per-channel difference of two equally sized images, and the share of
// pixels off by more than 24 levels in some channel (colour edges, where the
// encoder's halved chroma resolution shows).
std::pair<double, double> Difference(const QImage& a, const QImage& b) {
    long long total = 0;
    long long far = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            int worst = 0;
            for (int d : {qRed(p) - qRed(q), qGreen(p) - qGreen(q), qBlue(p) - qBlue(q)}) {
                total += std::abs(d);
                worst = std::max(worst, std::abs(d));
            }
            far += worst > 24 ? 1 : 0;
        }
    }
    const double pixels = static_cast<double>(a.width()) * a.height();
    return {static_cast<double>(total) / (pixels * 3), static_cast<double>(far) / pixels};
}

TEST(SnapshotPicture, JpegOfA240By268ViewIsItsLowest265RowsUpright) {
    SiteViewWorld world;
    auto view = world.MakeView();
    QImage plan(240, 265, QImage::Format_RGB32);
    QPainter painter(&plan);
    painter.fillRect(0, 0, 240, 265, QColor(200, 200, 160));
    painter.fillRect(0, 200, 240, 65, QColor(40, 90, 200));  // the bottom is blue
    painter.end();
    view->SetPlanImage(plan);
    world.dialogs.fileAnswers.push_back(QString::fromStdString(world.dir.File("s.ktd")));
    view->Commands().OpenCollection();
    SiteViewWorld::SetClientSize(*view, 240 - 0, 268);
    view->resize(240, 268);  // the whole view, scroll bars included
    QCoreApplication::sendPostedEvents();

    const QImage screen = view->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(screen.size(), QSize(240, 268));
    const std::string target = world.dir.File("view.jpg");
    ScriptedDialogs dialogs;
    dialogs.fileAnswers.push_back(QString::fromStdString(target));
    TakeSnapshot(*view, world.sound, dialogs, QString::fromStdString(world.dir.Path()));
    ASSERT_TRUE(dialogs.messages.isEmpty());

    const QImage jpeg =
        QImage(QString::fromStdString(target)).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(jpeg.size(), QSize(240, 265));
    const QImage expected = screen.copy(0, 3, 240, 265);
    const auto [mean, farShare] = Difference(jpeg, expected);
    EXPECT_LT(mean, 2.0);
    EXPECT_LT(farShare, 0.08);  // white text on the red and blue bands
    // Below the bands only the marker and the plan's edges show any error.
    const int below = 40;
    EXPECT_LT(
        Difference(jpeg.copy(0, below, 240, 265 - below), expected.copy(0, below, 240, 265 - below))
            .second,
        0.03);
    // The same picture taken from the top rows would be far off.
    EXPECT_GT(Difference(jpeg, screen.copy(0, 0, 240, 265)).first, mean);
    // Upright: the blue bottom of the plan is at the bottom of the picture.
    EXPECT_GT(qBlue(jpeg.pixel(20, 235)), 150);
}

TEST(SnapshotPicture, AnyCaptureSizeBecomes240By265) {
    TestApplication();
    auto plain = [](int w, int h, QColor top, QColor bottom) {
        QImage image(w, h, QImage::Format_RGB32);
        QPainter painter(&image);
        painter.fillRect(0, 0, w, h / 2, top);
        painter.fillRect(0, h / 2, w, h - h / 2, bottom);
        return image;
    };
    struct {
        const char* legend;
        QImage capture;
        int blackRows;  // black padding rows at the top
    } const cases[] = {
        {"exact", plain(240, 265, Qt::red, Qt::green), 0},
        {"taller", plain(240, 400, Qt::red, Qt::green), 0},
        {"shorter", plain(240, 200, Qt::red, Qt::green), 65},
        {"twice as wide", plain(480, 530, Qt::red, Qt::green), 0},
        {"wide and flat", plain(640, 100, Qt::red, Qt::green), 228},
        {"one pixel", plain(1, 1, Qt::green, Qt::green), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        const QImage out = FitCaptureToSnapshot(c.capture);
        ASSERT_EQ(out.size(), QSize(240, 265));
        if (c.blackRows > 0) {
            EXPECT_EQ(Rgb(out, 120, c.blackRows - 1), 0u);
            EXPECT_NE(Rgb(out, 120, c.blackRows + 1), 0u);
        }
        EXPECT_EQ(Rgb(out, 120, 264), 0x00FF00u);
    }
    EXPECT_TRUE(FitCaptureToSnapshot(QImage()).isNull());
}

TEST_F(Snapshot, DesktopViewsAreSavedAtTheirRealSizeUpright) {
    // A view wider than the handheld's: red above, blue below.
    class Painted final : public QWidget {
    protected:
        void paintEvent(QPaintEvent*) override {
            QPainter painter(this);
            painter.fillRect(0, 0, width(), height() / 2, QColor(220, 30, 30));
            painter.fillRect(0, height() / 2, width(), height() - height() / 2,
                             QColor(30, 30, 220));
        }
    };
    Painted view;
    view.resize(640, 400);
    const QString target = QString::fromStdString(dir.File("desktop.jpg"));
    dialogs.fileAnswers.push_back(target);
    TakeSnapshot(view, sound, dialogs, QString::fromStdString(dir.Path()));
    ASSERT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join(' ').toStdString();
    const QImage jpeg = QImage(target);
    ASSERT_EQ(jpeg.size(), QSize(640, 400));
    EXPECT_GT(qRed(jpeg.pixel(320, 20)), 180);
    EXPECT_GT(qBlue(jpeg.pixel(320, 380)), 180);
    EXPECT_EQ(CounterText(), "2\n");
}

TEST(SnapshotPicture, TheHandheldWidthKeepsItsPictureOtherSizesTheirOwn) {
    TestApplication();
    auto capture = [](int w, int h, qreal ratio) {
        QImage image(w, h, QImage::Format_RGB32);
        image.fill(Qt::green);
        image.setDevicePixelRatio(ratio);
        return image;
    };
    struct {
        const char* legend;
        QImage capture;
        QSize picture;
    } const cases[] = {
        {"handheld", capture(240, 268, 1.0), QSize(240, 265)},
        {"handheld on a dense screen", capture(480, 536, 2.0), QSize(240, 265)},
        {"desktop", capture(1024, 700, 1.0), QSize(1024, 700)},
        {"desktop on a dense screen", capture(2048, 1400, 2.0), QSize(2048, 1400)},
        {"narrower than the handheld", capture(200, 300, 1.0), QSize(200, 300)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        const QImage picture = SnapshotPicture(c.capture);
        EXPECT_EQ(picture.size(), c.picture);
        EXPECT_EQ(picture.format(), QImage::Format_RGB888);
        EXPECT_EQ(Rgb(picture, picture.width() / 2, picture.height() - 1), 0x00FF00u);
    }
    EXPECT_TRUE(SnapshotPicture(QImage()).isNull());
}

TEST(SnapshotPicture, LibraryErrorsAreReportedWithTheLibrarysText) {
    TempDir dir;
    const std::string path = dir.File("huge.jpg");
    std::vector<std::uint8_t> row(70000 * 3, 128);
    EXPECT_FALSE(WriteJpeg(path, 70000, 1, 100, row.data()));
    EXPECT_NE(g_strJpegError.find("65500"), std::string::npos) << g_strJpegError;
    EXPECT_TRUE(std::filesystem::exists(path));  // the partial file stays

    std::vector<std::uint8_t> pixels(2 * 2 * 3, 0);
    EXPECT_TRUE(WriteJpeg(path, 2, 2, 100, pixels.data()));
    EXPECT_TRUE(g_strJpegError.empty());
}

}  // namespace
}  // namespace ketrion::testing
