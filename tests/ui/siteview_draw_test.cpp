// Rendering of the site view, checked on the composed picture.

#include <gtest/gtest.h>

#include <QPainter>

#include "render/HeatmapImage.h"
#include "support/SiteViewWorld.h"

namespace ketrion::testing {
namespace {

constexpr unsigned kBlack = 0x000000;
constexpr unsigned kWhite = 0xFFFFFF;
constexpr unsigned kRed = 0xC00000;
constexpr unsigned kGreen = 0x00C000;
constexpr unsigned kBlue = 0x0000C0;

QImage Plain(unsigned rgb, int width = 240, int height = 265) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor::fromRgb(rgb));
    return image;
}

// Height of a text band: the rows, from the top, that carry the band's fill.
int BandHeight(const QImage& image, unsigned fill) {
    int rows = 0;
    while (rows < image.height() && Rgb(image, 0, rows) == fill) {
        ++rows;
    }
    return rows;
}

bool HasPixel(const QImage& image, QRect area, unsigned rgb) {
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (Rgb(image, x, y) == rgb) {
                return true;
            }
        }
    }
    return false;
}

// A view of width x height showing the survey over a plain plan, with a new
// collection file chosen through the dialogs.
std::unique_ptr<CSiteView> ShowSurvey(SiteViewWorld& world, int width = 240, int height = 268,
                                      unsigned plan = 0x808080) {
    auto view = world.MakeView(width, height);
    view->SetPlanImage(Plain(plan));
    world.dialogs.fileAnswers.push_back(QString::fromStdString(world.dir.File("s.ktd")));
    view->Commands().OpenCollection();  // No: create a new file
    EXPECT_TRUE(view->Commands().IsSurveyShown());
    return view;
}

struct SignalCase {
    int signal;
    unsigned fill;
};

TEST(SiteViewDraw, DiscColourFollowsSignalAcrossEachBoundary) {
    const SignalCase cases[] = {
        {-100, kBlack}, {-91, kBlack}, {-90, kRed},  {-71, kRed},   {-70, kGreen},
        {-51, kGreen},  {-50, kBlue},  {-31, kBlue}, {-30, kWhite}, {-5, kWhite},
    };
    for (const SignalCase& c : cases) {
        SCOPED_TRACE(c.signal);
        SiteViewWorld world;
        auto view = ShowSurvey(world);
        world.AddSurveyPoint(60, 100, c.signal);
        const QImage image = view->Render();
        // Plan (60, 100) lies at screen (60, 111) for a 240 x 268 client.
        EXPECT_EQ(Rgb(image, 60 + 4, 111 + 4), c.fill);
        EXPECT_EQ(Rgb(image, 60 + 20, 111), 0x808080u);
    }
}

TEST(SiteViewDraw, SignalLevelTable) {
    const std::pair<int, int> levels[] = {{-32768, 0}, {-91, 0}, {-90, 1}, {-71, 1}, {-70, 2},
                                          {-51, 2},    {-50, 3}, {-31, 3}, {-30, 4}, {32767, 4}};
    for (auto [signal, level] : levels) {
        EXPECT_EQ(SurveyLayer::SignalLevel(signal), level) << signal;
    }
}

class SurveyShown : public ::testing::Test {
protected:
    // A view showing the survey over a grey plan with an empty collection file.
    std::unique_ptr<CSiteView> Make(int width = 240, int height = 268, unsigned plan = 0x808080) {
        return ShowSurvey(world, width, height, plan);
    }
    SiteViewWorld world;
};

TEST_F(SurveyShown, DiscRadiusIsTenUpTo240PixelsWideAndTwentyBeyond) {
    struct {
        int width;
        int height;   // the desktop size has room for the blank plan at 100% below its bands
        int inside;   // offset from the centre still inside the disc
        int outside;  // first offset outside it
    } const cases[] = {{240, 268, 9, 12}, {241, 320, 19, 22}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        SiteViewWorld local;
        auto view = ShowSurvey(local, c.width, c.height);
        local.AddSurveyPoint(100, 100, -20);  // white disc
        const QImage image = view->Render();
        std::int32_t sx = 0;
        std::int32_t sy = 0;
        ASSERT_TRUE(local.plan.PlanToScreen(view->Navigator().ClientRect(), 100, 100, sx, sy));
        sy += view->Navigator().PlanArea().top();
        EXPECT_NE(Rgb(image, sx - c.inside, sy + 2), 0x808080u);
        EXPECT_EQ(Rgb(image, sx - c.outside, sy + 2), 0x808080u);
        EXPECT_EQ(Rgb(image, sx + 2, sy - c.outside), 0x808080u);
    }
}

TEST_F(SurveyShown, PointOnTheViewportEdgeIsDrawnAndOneBeyondIsNot) {
    auto view = Make();
    // Viewport (0, 0)-(240, 240): plan x 240 is on its right edge.
    world.AddSurveyPoint(240, 100, -20);
    QImage image = view->Render();
    EXPECT_EQ(Rgb(image, 235, 113), kWhite);

    SiteViewWorld other;
    auto beyond = ShowSurvey(other);
    other.AddSurveyPoint(241, 100, -20);
    image = beyond->Render();
    EXPECT_EQ(Rgb(image, 235, 113), 0x808080u);
    // Same on the bottom edge: plan y 240 is drawn at the client's last row band.
    other.AddSurveyPoint(100, 240, -20);
    image = beyond->Render();
    EXPECT_EQ(Rgb(image, 102, 262), kWhite);
}

TEST_F(SurveyShown, PathJoinsVisibleSurveyPointsOnly) {
    auto view = Make(240, 268, 0xFFFFFF);
    // A dynamic access point first, then one survey point outside the viewport,
    // then two visible ones: only the last two are joined.
    world.PlaceAp(40, 200);
    world.AddSurveyPoint(300, 60, -95);  // beyond the viewport
    world.AddSurveyPoint(60, 120, -95);
    world.AddSurveyPoint(180, 120, -95);
    const QImage image = view->Render();
    const int sy = 120 * 268 / 240;
    // The segment between the two visible points carries black dashes.
    EXPECT_TRUE(HasPixel(image, QRect(80, sy, 80, 1), kBlack));
    // Nothing leads into the first visible point from the hidden one, from the
    // access point or from the screen's origin.
    EXPECT_FALSE(HasPixel(image, QRect(40, 80, 10, 20), kBlack));  // towards (0, 0)
    const int apY = 200 * 268 / 240;
    const int midX = (40 + 60) / 2;
    const int midY = (apY + sy) / 2;
    EXPECT_FALSE(HasPixel(image, QRect(midX - 2, midY - 2, 5, 5), kBlack));
}

TEST_F(SurveyShown, AccessPointIsABlackDiscLabelledAp) {
    auto view = Make(240, 268, 0xFFFFFF);
    world.PlaceAp(100, 100);
    const QImage image = view->Render();
    const int sx = 100;
    const int sy = 100 * 268 / 240;
    EXPECT_TRUE(HasPixel(image, QRect(sx - 7, sy - 7, 15, 15), kWhite));  // the label
    EXPECT_TRUE(HasPixel(image, QRect(sx - 7, sy - 7, 15, 15), kBlack));  // the disc
    EXPECT_EQ(Rgb(image, sx - 12, sy), kWhite);                           // plan outside
}

TEST_F(SurveyShown, MarkerIsCombinedByAndAtTheCentre) {
    auto view = Make(240, 268, 0xFFFFFF);
    const QImage image = view->Render();
    // Only the marker's box gets black pixels on a white plan.
    EXPECT_TRUE(HasPixel(image, QRect(104, 118, 32, 32), kBlack));
    EXPECT_FALSE(HasPixel(image, QRect(0, 60, 240, 50), kBlack));
    EXPECT_FALSE(HasPixel(image, QRect(0, 152, 240, 100), kBlack));
}

TEST_F(SurveyShown, LocationBandIsGreenOnlyFor3DFix) {
    auto view = Make();
    GpsFix fix;
    fix.status = 6 << 5;  // 2D fix
    world.Gps(fix);
    QImage image = view->Render();
    const int h = BandHeight(image, kRed);
    EXPECT_GT(h, 5);
    EXPECT_TRUE(HasPixel(image, QRect(0, 0, 240, h), kWhite));  // the location text
    EXPECT_EQ(view->Bands().LocationText().toStdString(), [&] {
        char text[128] = {};
        world.location.FormatStatusLine(text, sizeof text);
        return std::string(text);
    }());

    fix.status = 7 << 5;  // 3D fix
    world.Gps(fix);
    image = view->Render();
    EXPECT_EQ(BandHeight(image, kGreen), h);
}

TEST(SiteViewDraw, ALocationTooWideForTheBandIsShrunkNotCut) {
    SiteViewWorld world;
    auto view = ShowSurvey(world, 200, 268);
    GpsFix fix;
    fix.currentLatitude = -52 * 3600000;
    fix.currentLongitude = -170 * 3600000;
    world.Gps(fix);
    const QImage image = view->Render();
    const int h = BandHeight(image, kGreen);
    ASSERT_GT(h, 5);
    // White text in the band, but none in its first and last columns.
    EXPECT_TRUE(HasPixel(image, QRect(0, 0, 200, h), kWhite));
    EXPECT_FALSE(HasPixel(image, QRect(0, 0, 1, h), kWhite));
    EXPECT_FALSE(HasPixel(image, QRect(199, 0, 1, h), kWhite));
}

TEST_F(SurveyShown, ZoomBandShowsFactorAndPointCount) {
    auto view = Make();
    EXPECT_EQ(view->Bands().ZoomText(), QStringLiteral("ZOOM=100%  DATA PTS=0"));
    world.AddSurveyPoint(10, 10, -60);
    world.PlaceAp(20, 20);
    view->Navigator().ZoomIn();
    EXPECT_EQ(view->Bands().ZoomText(), QStringLiteral("ZOOM=200%  DATA PTS=2"));
    const QImage image = view->Render();
    const int h = BandHeight(image, Rgb(image, 0, 0));
    EXPECT_EQ(Rgb(image, 0, h), kBlue);
    EXPECT_EQ(Rgb(image, 0, 2 * h - 1), kBlue);
    EXPECT_TRUE(HasPixel(image, QRect(0, h, 240, h), kWhite));
}

TEST_F(SurveyShown, AlertHidesThePlacingPrompt) {
    auto view = Make(240, 268, 0xFFFFFF);
    QImage image = view->Render();
    const int h = BandHeight(image, Rgb(image, 0, 0));
    EXPECT_EQ(Rgb(image, 0, 2 * h + 1), kWhite);  // no third band yet

    view->Commands().PlaceAp();
    image = view->Render();
    EXPECT_EQ(Rgb(image, 0, 2 * h + 1), kBlack);
    EXPECT_TRUE(HasPixel(image, QRect(0, 2 * h, 240, h), kWhite));  // prompt text

    world.AddSurveyPoint(10, 200, -100);  // a scan that heard nothing
    ASSERT_TRUE(world.data.m_bNoApHeard.load());
    image = view->Render();
    EXPECT_EQ(Rgb(image, 0, 2 * h + 1), kRed);
    EXPECT_EQ(Rgb(image, 0, 3 * h), kWhite);  // the band ends where the prompt's did
}

TEST(SiteViewDraw, InstructionScreenUntilACollectionFileIsChosen) {
    SiteViewWorld world;
    auto view = world.MakeView();
    GpsFix fix;
    world.Gps(fix);
    world.AddSurveyPoint(120, 120, -40);
    const QImage image = view->Render();

    QImage expected(240, 268, QImage::Format_RGB32);
    expected.fill(Qt::black);
    QPainter painter(&expected);
    world.draw.DrawBitmap(painter, 149, 0, 0, 240, 248);
    painter.end();
    EXPECT_EQ(image.convertToFormat(QImage::Format_RGB32), expected);
}

TEST(SiteViewDraw, FirstPaintInstallsTheBlankPlanAndScrollRanges) {
    SiteViewWorld world;
    auto view = world.MakeView();
    EXPECT_EQ(view->PlanImage().size(), QSize(240, 265));
    EXPECT_EQ(view->horizontalScrollBar()->maximum(), 240);
    EXPECT_EQ(view->verticalScrollBar()->maximum(), 265);
    EXPECT_EQ(view->horizontalScrollBar()->value(), 120);
    EXPECT_EQ(view->verticalScrollBar()->value(), 120);
}

}  // namespace
}  // namespace ketrion::testing

namespace ketrion::testing {
namespace {

// The points of a short walk with every signal level, and an access point.
void AddWalk(SiteViewWorld& world, int from, int to) {
    const int levels[] = {-95, -80, -60, -40, -20};
    for (int i = from; i < to; ++i) {
        if (i == 4) {
            world.PlaceAp(60 + 7 * i, 40 + 9 * i);
            continue;
        }
        world.AddSurveyPoint(20 + 13 * i, 200 - 11 * i, levels[i % 5]);
    }
}

TEST(SiteViewDrawKept, PointsAddedBetweenPaintsGiveTheSamePictureAsOnePaint) {
    SiteViewWorld stepwise;
    auto a = ShowSurvey(stepwise, 240, 268, 0xE0E0C0);
    for (int i = 0; i < 14; ++i) {
        AddWalk(stepwise, i, i + 1);
        a->Render();  // a repaint after each point
    }
    SiteViewWorld once;
    auto b = ShowSurvey(once, 240, 268, 0xE0E0C0);
    AddWalk(once, 0, 14);
    EXPECT_EQ(a->Render(), b->Render());

    // Scrolled away and back: drawn afresh, still the same picture.
    a->Navigator().ScrollByKey(Qt::Key_Right);
    a->Render();
    a->Navigator().ScrollByKey(Qt::Key_Left);
    EXPECT_EQ(a->Render(), b->Render());
}

TEST(SiteViewDrawKept, ReloadingACollectionRedrawsItsPoints) {
    SiteViewWorld world;
    auto view = ShowSurvey(world, 240, 268, 0xFFFFFF);
    AddWalk(world, 0, 6);
    const QImage withPoints = view->Render();
    // A new empty file, then the first one again: its points are drawn anew.
    const QString first = QString::fromStdString(world.data.Path());
    world.dialogs.fileAnswers.push_back(QString::fromStdString(world.dir.File("empty.ktd")));
    view->Commands().OpenCollection();
    world.dialogs.yesNoAnswers.push_back(true);
    world.dialogs.fileAnswers.push_back(QString::fromStdString(world.dir.File("empty.ktd")));
    view->Commands().OpenCollection();
    const QImage empty = view->Render();
    EXPECT_FALSE(HasPixel(empty, QRect(0, 60, 240, 50), 0xC00000));
    world.dialogs.yesNoAnswers.push_back(true);
    world.dialogs.fileAnswers.push_back(first);
    view->Commands().OpenCollection();
    EXPECT_TRUE(HasPixel(view->Render(), QRect(0, 0, 240, 268), 0xC00000));
    (void)withPoints;
}

TEST(SiteViewDrawKept, PointsTheSessionDeletesOrUndoesAreRedrawnWhoeverAskedIt) {
    // The deletion and its undo go to the session directly, not through the
    // view's commands: the view follows the session's announcements.
    SiteViewWorld world;
    auto view = ShowSurvey(world, 240, 268, 0xFFFFFF);
    AddWalk(world, 0, 6);
    const QImage all = view->Render();
    SiteViewWorld rest;
    auto restView = ShowSurvey(rest, 240, 268, 0xFFFFFF);
    AddWalk(rest, 1, 6);

    // Below the location and zoom bands (the zoom band counts deleted points).
    const QRect plan(0, 2 * BandHeight(all, Rgb(all, 0, 0)), 240, 200);
    ASSERT_TRUE(world.session.DeletePoint(world.Points().front().offset));
    EXPECT_EQ(view->Render().copy(plan), restView->Render().copy(plan));
    ASSERT_TRUE(world.session.Undo());
    EXPECT_EQ(view->Render(), all);
}

TEST(SiteViewDrawKept, DiscsMatchAnEllipseDrawnWithTheDashedPen) {
    for (int width : {240, 300}) {
        SiteViewWorld world;
        auto view = ShowSurvey(world, width, width <= 240 ? 268 : 320, 0x808080);
        world.AddSurveyPoint(50, 80, -45);
        const QImage image = view->Render();
        std::int32_t sx = 0;
        std::int32_t sy = 0;
        ASSERT_TRUE(world.plan.PlanToScreen(view->Navigator().ClientRect(), 50, 80, sx, sy));
        sy += view->Navigator().PlanArea().top();
        const int r = width <= 240 ? 10 : 20;

        QImage expected(2 * r + 9, 2 * r + 9, QImage::Format_RGB32);
        expected.fill(QColor(0x80, 0x80, 0x80));
        QPainter painter(&expected);
        painter.setPen(QPen(Qt::black, 1, Qt::DashLine));
        // The desktop takes the continuous signal scale, the handheld its level colour.
        painter.setBrush(width <= 240 ? QColor(0, 0, 192)
                                      : heatmap::ColourScale::Signal(QString()).At(-45));
        painter.drawEllipse(QRect(4, 4, 2 * r, 2 * r));
        painter.end();
        const QImage drawn = image.copy(sx - r - 4, sy - r - 4, 2 * r + 9, 2 * r + 9);
        EXPECT_TRUE(drawn == expected) << width;
    }
}

}  // namespace
}  // namespace ketrion::testing
