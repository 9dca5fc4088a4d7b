#include <gtest/gtest.h>

#include <QFont>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>

#include <vector>

#include "engine/Engine.h"
#include "engine/LinkList.h"
#include "engine/Location.h"
#include "protocol/FrameFormat.h"
#include "source/board/BoardSource.h"
#include "source/board/BoardStack.h"
#include "support/LinkFakes.h"
#include "support/QtTestApp.h"
#include "ui/shell/Draw.h"
#include "ui/shell/KetrionView.h"

namespace ketrion {
namespace {

using testing::QtTestApp;

const QRgb kSplash = qRgb(0, 0, 160);
const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kBlack = qRgb(0, 0, 0);

// Hands the engine a frame as the link thread would: payload, then the check byte.
void Deliver(CEngine& engine, std::uint8_t type, std::vector<std::uint8_t> payload) {
    payload.push_back(frame::Check(type, payload.data(), payload.size()));
    engine.Dispatch(type, payload.data(), static_cast<std::uint32_t>(payload.size()));
}

std::vector<std::uint8_t> Text(const char* s, bool terminate) {
    std::vector<std::uint8_t> bytes(s, s + std::char_traits<char>::length(s));
    if (terminate) {
        bytes.push_back(0);
    }
    return bytes;
}

// Rows of `image` holding at least one pure white pixel, as [first, last] runs.
std::vector<std::pair<int, int>> WhiteRuns(const QImage& image) {
    std::vector<std::pair<int, int>> runs;
    for (int y = 0; y < image.height(); ++y) {
        bool white = false;
        for (int x = 0; x < image.width() && !white; ++x) {
            white = image.pixel(x, y) == kWhite;
        }
        if (!white) {
            continue;
        }
        if (!runs.empty() && runs.back().second == y - 1) {
            runs.back().second = y;
        } else {
            runs.push_back({y, y});
        }
    }
    return runs;
}

// Width of the white band in row y (first to last white pixel).
int BandWidth(const QImage& image, int y) {
    int first = -1;
    int last = -1;
    for (int x = 0; x < image.width(); ++x) {
        if (image.pixel(x, y) == kWhite) {
            last = x;
            if (first < 0) {
                first = x;
            }
        }
    }
    return first < 0 ? 0 : last - first + 1;
}

bool HasColour(const QImage& image, QRect area, QRgb colour) {
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (image.pixel(x, y) == colour) {
                return true;
            }
        }
    }
    return false;
}

class StartViewTest : public ::testing::Test {
protected:
    StartViewTest()
        : board(clock, nullptr, &slot), engine(board.engine), scan(board, clock), view(scan, draw) {
        // A plain splash, so the bands stand out on it.
        QImage splash(240, 265, QImage::Format_RGB32);
        splash.fill(kSplash);
        draw.SetBitmap(CKetrionView::kSplashBitmap, splash);
    }
    int LineHeight() {
        QImage probe(1, 1, QImage::Format_RGB32);
        QFont font(QStringLiteral("Arial"));
        font.setPointSize(CKetrionView::kFontPoints);
        return QFontMetrics(font, &probe).size(Qt::TextSingleLine, QStringLiteral("X")).height();
    }

    QApplication& app = QtTestApp();  // first: the view needs it
    testing::RecordingSlot slot;
    testing::ManualClock clock;
    BoardStack board;
    CEngine& engine;
    BoardSource scan;
    CDraw draw;
    CKetrionView view;
};

TEST_F(StartViewTest, BandsSitAtHalfAndSixTenthsOfTheHeight) {
    const int L = LineHeight();
    ASSERT_GT(L, 0);
    ASSERT_LT(L, 26);  // the two bands must not touch at 268 for this test
    struct Case {
        int height;
        int firmwareTop;
        int serialTop;
    };
    // Both terms of the serial band's top are truncated before they are added.
    for (const Case c : {Case{268, 134, 160}, Case{320, 160, 192}, Case{199, 99, 118}}) {
        SCOPED_TRACE(c.height);
        const QImage image = view.Render(QSize(240, c.height));
        const auto runs = WhiteRuns(image);
        ASSERT_EQ(runs.size(), 2u);
        EXPECT_EQ(runs[0], std::make_pair(c.firmwareTop, c.firmwareTop + L - 1));
        EXPECT_EQ(runs[1], std::make_pair(c.serialTop, c.serialTop + L - 1));
        // Black text on each band.
        EXPECT_TRUE(HasColour(image, QRect(0, c.firmwareTop, 240, L), kBlack));
        EXPECT_TRUE(HasColour(image, QRect(0, c.serialTop, 240, L), kBlack));
    }
}

TEST_F(StartViewTest, PictureFillsAllButTheBottomStrip) {
    const QImage image = view.Render(QSize(240, 268));
    // 240 x 265 stretched into 240 x 248; the 20 rows below keep the background.
    EXPECT_EQ(image.pixel(0, 247), kSplash);
    EXPECT_EQ(image.pixel(239, 0), kSplash);
    EXPECT_FALSE(HasColour(image, QRect(0, 248, 240, 20), kSplash));
}

TEST_F(StartViewTest, TinyViewPutsBothBandsAtTheSameTop) {
    // h / 10 is 0 for a height of 9 or less: one band over the other.
    const QImage image = view.Render(QSize(240, 9));
    const auto runs = WhiteRuns(image);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].first, 4);
    EXPECT_EQ(runs[0].second, 8);  // clipped at the bottom of the view
}

TEST_F(StartViewTest, ShowsTheEngineTextsOfTheMomentOnBandsAsWideAsThem) {
    EXPECT_EQ(view.FirmwareLine(), QStringLiteral("(Firmware 0.00)"));
    EXPECT_EQ(view.SerialLine(), QStringLiteral("(SN XXXXXX)"));
    const QImage before = view.Render(QSize(240, 268));

    Deliver(engine, frame::kVersion, Text("12.345", true));
    Deliver(engine, frame::kSerial, Text("ABCD1234", false));
    EXPECT_EQ(view.FirmwareLine(), QStringLiteral("(Firmware 12.345)"));
    EXPECT_EQ(view.SerialLine(), QStringLiteral("(SN ABCD1234)"));
    const QImage after = view.Render(QSize(240, 268));

    // The bands grow with their texts: each is as wide as its characters.
    EXPECT_GT(BandWidth(after, 134), BandWidth(before, 134));
    EXPECT_GT(BandWidth(after, 160), BandWidth(before, 160));
    EXPECT_LT(BandWidth(after, 160), 240);
}

TEST_F(StartViewTest, MissingSplashLeavesItsRectangleUnpainted) {
    draw.SetBitmap(CKetrionView::kSplashBitmap, QImage());
    const QImage image = view.Render(QSize(240, 268));
    EXPECT_FALSE(HasColour(image, QRect(0, 0, 240, 248), kSplash));
    EXPECT_EQ(WhiteRuns(image).size(), 2u);  // the texts are still drawn
}

TEST_F(StartViewTest, HighDensityScreensGetASharperBufferWithTheSameLayout) {
    const QImage image = view.Render(QSize(240, 268), 2.0);
    EXPECT_EQ(image.size(), QSize(480, 536));
    EXPECT_EQ(image.pixel(10, 2 * 134 - 1), kSplash);
    EXPECT_EQ(image.pixel(0, 2 * 247), kSplash);
}

TEST_F(StartViewTest, DesktopSizesKeepThePictureInShapeWithTheLinesOnIt) {
    struct {
        QSize size;
    } const cases[] = {{QSize(1024, 600)}, {QSize(400, 1000)}, {QSize(1920, 1080)}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size.width());
        const QRect picture = CKetrionView::PictureRect(c.size);
        // In shape: 240 x 265 within a pixel, inside the view above the strip.
        EXPECT_NEAR(picture.width() * 265.0 / 240.0, picture.height(), 1.5);
        EXPECT_TRUE(QRect(0, 0, c.size.width(), c.size.height() - CKetrionView::kBottomStrip)
                        .contains(picture));
        EXPECT_TRUE(picture.width() == c.size.width() ||
                    picture.height() == c.size.height() - CKetrionView::kBottomStrip);

        const QImage image = view.Render(c.size);
        // The sides carry the picture's colour across the whole width.
        const int middle = picture.top() + picture.height() / 4;
        EXPECT_EQ(image.pixel(0, middle), kSplash);
        EXPECT_EQ(image.pixel(c.size.width() - 1, middle), kSplash);
        // Two white bands, where the handheld's picture has them.
        const auto runs = WhiteRuns(image);
        ASSERT_EQ(runs.size(), 2u);
        const double scale = picture.height() / 265.0;
        EXPECT_NEAR(runs[0].first, picture.top() + CKetrionView::kFirmwarePictureRow * scale, 3);
        EXPECT_NEAR(runs[1].first, picture.top() + CKetrionView::kSerialPictureRow * scale, 3);
    }
    // The handheld's width is drawn as it always was.
    EXPECT_EQ(CKetrionView::PictureRect(QSize(240, 268)), QRect(0, 0, 240, 248));
}

TEST_F(StartViewTest, OnlyTheLeftButtonTaps) {
    int taps = 0;
    QObject::connect(&view, &CKetrionView::tapped, [&taps] { ++taps; });
    const QPointF at(100, 100);
    QMouseEvent right(QEvent::MouseButtonPress, at, at, Qt::RightButton, Qt::RightButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &right);
    EXPECT_EQ(taps, 0);
    QMouseEvent left(QEvent::MouseButtonPress, at, at, Qt::LeftButton, Qt::LeftButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &left);
    EXPECT_EQ(taps, 1);
}

TEST(Draw, StretchesTheWholeBitmapIntoTheRectangleOnly) {
    QtTestApp();
    CDraw draw;
    QImage quads(2, 2, QImage::Format_RGB32);
    quads.setPixel(0, 0, qRgb(255, 0, 0));
    quads.setPixel(1, 0, qRgb(0, 255, 0));
    quads.setPixel(0, 1, qRgb(0, 0, 255));
    quads.setPixel(1, 1, qRgb(255, 255, 0));
    draw.SetBitmap(500, quads);

    QImage target(20, 20, QImage::Format_RGB32);
    target.fill(kBlack);
    {
        QPainter dc(&target);
        draw.DrawBitmap(dc, 500, 5, 5, 10, 10);
        // Empty rectangles and unknown numbers draw nothing.
        draw.DrawBitmap(dc, 500, 0, 0, 0, 20);
        draw.DrawBitmap(dc, 500, 0, 0, 20, -3);
        draw.DrawBitmap(dc, 501, 0, 0, 20, 20);
    }
    EXPECT_EQ(target.pixel(5, 5), qRgb(255, 0, 0));
    EXPECT_EQ(target.pixel(14, 5), qRgb(0, 255, 0));
    EXPECT_EQ(target.pixel(5, 14), qRgb(0, 0, 255));
    EXPECT_EQ(target.pixel(14, 14), qRgb(255, 255, 0));
    // No smoothing: the quadrant borders stay sharp.
    EXPECT_EQ(target.pixel(9, 9), qRgb(255, 0, 0));
    EXPECT_EQ(target.pixel(10, 10), qRgb(255, 255, 0));
    EXPECT_EQ(target.pixel(4, 4), kBlack);
    EXPECT_EQ(target.pixel(15, 15), kBlack);
}

TEST(Draw, ProgramBitmapsLoadByNumber) {
    QtTestApp();
    CDraw draw;
    struct Case {
        std::uint16_t id;
        QSize size;
    };
    for (const Case c : {Case{132, {240, 265}}, Case{128, {144, 16}}, Case{129, {270, 30}}}) {
        SCOPED_TRACE(c.id);
        EXPECT_FALSE(CDraw::ResourcePath(c.id).isEmpty());
        EXPECT_EQ(draw.LoadBitmap(c.id).size(), c.size);
    }
    EXPECT_TRUE(CDraw::ResourcePath(9999).isEmpty());
    EXPECT_TRUE(draw.LoadBitmap(9999).isNull());
}

}  // namespace
}  // namespace ketrion
