// A full paint of the site view (plan, points, path, marker, bands, one blit)
// with 10,000 and 100,000 survey points, against the paint of the plan alone.
//
// The points follow a surveyor's walk over a 2000 x 2000 plan, as a long
// survey leaves them; the view shows its usual 240 x 268 part of the plan.
// "AllInView" packs every point into the visible part: the worst case.
// "Desktop" cases paint a 1920 x 1080 view, which opens the survey fitted to
// its points: the whole walk, every point, is on screen.
//
// "Repaint" is the paint that follows a GPS report or a new point (nothing
// moved); "Scrolled" moves the plan by one arrow-key step before every paint,
// so plan, points and path are all drawn again. "Dragged" moves it as a drag
// with the mouse does, a few pixels a step, to and fro.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/Engine.h"
#include "engine/LinkList.h"
#include "engine/Location.h"
#include "link/Com.h"
#include "platform/Clock.h"
#include "platform/Prompt.h"
#include "platform/Sound.h"
#include "session/SurveySession.h"
#include "source/board/BoardSource.h"
#include "source/board/BoardStack.h"
#include "survey/CollectionFile.h"
#include "survey/SiteData.h"
#include "survey/SitePlan.h"
#include "survey/SiteProjection.h"
#include "tests/support/PlanSurveyFile.h"
#include "ui/shell/Draw.h"
#include "ui/shell/Services.h"
#include "ui/siteview/Dialogs.h"
#include "ui/siteview/SiteView.h"

namespace ketrion {
namespace {

constexpr int kPlanSide = 2000;
constexpr int kClientWidth = 240;
constexpr int kClientHeight = 268;
constexpr int kDesktopWidth = 1920;
constexpr int kDesktopHeight = 1080;

QApplication& App() {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "bench_ui_paint";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

// Plan positions of `count` points: a random walk over the plan, or packed
// into the visible square.
std::vector<std::pair<int, int>> Walk(int count, bool allInView) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> step(-12, 12);
    std::vector<std::pair<int, int>> points;
    points.reserve(static_cast<std::size_t>(count));
    int x = 120;
    int y = 120;
    const int limit = allInView ? 230 : kPlanSide - 1;
    for (int i = 0; i < count; ++i) {
        x = std::clamp(x + step(random), 10, limit);
        y = std::clamp(y + step(random), 10, limit);
        points.emplace_back(x, y);
    }
    return points;
}

// A collection file with one reading per point, its signal cycling through
// the colour classes; latitude and longitude hold the plan position (see the
// projection below).
void WriteSurvey(const std::string& path, const std::vector<std::pair<int, int>>& points) {
    std::vector<testing::PlanSurveyPoint> survey;
    survey.reserve(points.size());
    int signal = -95;
    for (const auto& [x, y] : points) {
        signal = signal >= -25 ? -95 : signal + 7;
        survey.push_back({x, y, signal});
    }
    testing::WritePlanSurvey(path, survey);
}

class World {
public:
    World(int count, bool allInView, int width, int height) {
        App();
        // Stored positions are taken as plan pixels: 3,600,000 units per degree.
        {
            PlanMap planMap = projection.Map();
            planMap.xLat = 3600000.0;
            planMap.yLon = 3600000.0;
            projection.SetMap(planMap);
        }
        data.SetProjection(&projection);
        const std::string path =
            (std::filesystem::temp_directory_path() / "ketrion-bench-paint.ktd").string();
        WriteSurvey(path, Walk(count, allInView));
        view = std::make_unique<CSiteView>(services, dialogs);
        view->resize(width, height);
        view->show();
        for (int i = 0; i < 3; ++i) {
            const int dw = view->width() - view->viewport()->width();
            const int dh = view->height() - view->viewport()->height();
            view->resize(width + dw, height + dh);
            QCoreApplication::sendPostedEvents();
        }
        view->Render();  // the first paint

        QImage plan(kPlanSide, kPlanSide, QImage::Format_RGB32);
        plan.fill(QColor(235, 235, 215));
        QPainter painter(&plan);
        painter.setPen(QColor(60, 60, 60));
        for (int i = 0; i < kPlanSide; i += 50) {
            painter.drawLine(i, 0, i, kPlanSide);
            painter.drawLine(0, i, kPlanSide, i);
        }
        painter.end();
        view->SetPlanImage(plan);

        dialogs.yesNoAnswers.push_back(true);
        dialogs.fileAnswers.push_back(QString::fromStdString(path));
        view->Commands().OpenCollection();  // loads the survey and shows it
        std::filesystem::remove(path);
        target = QImage(view->viewport()->size(), QImage::Format_RGB32);
    }

    void Paint() {
        QPainter painter(&target);
        view->Draw(painter);
    }

    NullSound sound;
    StderrPrompt prompt;
    SystemClock clock;
    BoardStack board{clock};
    BoardSource scan{board, clock};
    BoardPosition position{board, clock};
    CSiteData data{prompt, sound, clock};
    CSitePlan plan;
    CSiteProjection projection{prompt, sound};
    SurveySession session{scan, position, data, projection, sound, clock};
    CDraw draw;
    Services services{session, scan, position, data, plan, projection, sound, prompt, draw, clock};
    ScriptedDialogs dialogs;
    std::unique_ptr<CSiteView> view;
    QImage target;
};

// A mouse event on the view's viewport.
void Mouse(CSiteView& view, QEvent::Type type, QPoint at) {
    QMouseEvent event(type, QPointF(at), view.viewport()->mapToGlobal(QPointF(at)), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(view.viewport(), &event);
}

void Run(benchmark::State& state, int count, bool allInView, bool scrolled,
         int width = kClientWidth, int height = kClientHeight) {
    World world(count, allInView, width, height);
    if (world.view->viewport()->width() != width || world.view->viewport()->height() != height) {
        state.SkipWithError("the view did not take its size");
        return;
    }
    if (world.data.PointCount() != static_cast<std::size_t>(count)) {
        state.SkipWithError("the survey did not load");
        return;
    }
    world.view->Navigator().ScrollByKey(Qt::Key_Right);
    bool right = false;
    for (auto _ : state) {
        if (scrolled) {
            world.view->Navigator().ScrollByKey(right ? Qt::Key_Right : Qt::Key_Left);
            right = !right;
        }
        world.Paint();
        benchmark::DoNotOptimize(world.target.constBits());
    }
    state.counters["points"] = static_cast<double>(count);
}

// A drag across the middle of a desktop-sized view: each step moves the
// mouse by kDragStep pixels (and back after every kDragSteps), then paints.
constexpr int kDragStep = 4;
constexpr int kDragSteps = 40;

void RunDragged(benchmark::State& state, int count) {
    World world(count, false, kDesktopWidth, kDesktopHeight);
    if (world.data.PointCount() != static_cast<std::size_t>(count)) {
        state.SkipWithError("the survey did not load");
        return;
    }
    CSiteView& view = *world.view;
    QPoint at(kDesktopWidth / 2, kDesktopHeight / 2);
    Mouse(view, QEvent::MouseButtonPress, at);
    world.Paint();
    int step = 0;
    for (auto _ : state) {
        const int direction = (step++ / kDragSteps) % 2 == 0 ? 1 : -1;
        at += QPoint(direction * kDragStep, direction * kDragStep / 2);
        Mouse(view, QEvent::MouseMove, at);
        world.Paint();
        benchmark::DoNotOptimize(world.target.constBits());
    }
    Mouse(view, QEvent::MouseButtonRelease, at);
    state.counters["points"] = static_cast<double>(count);
}

void BM_DesktopDraggedPlanOnly(benchmark::State& state) {
    RunDragged(state, 0);
}
void BM_DesktopDraggedWalk100k(benchmark::State& state) {
    RunDragged(state, 100000);
}

void BM_RepaintPlanOnly(benchmark::State& state) {
    Run(state, 0, false, false);
}
void BM_RepaintWalk10k(benchmark::State& state) {
    Run(state, 10000, false, false);
}
void BM_RepaintWalk100k(benchmark::State& state) {
    Run(state, 100000, false, false);
}
void BM_ScrolledPlanOnly(benchmark::State& state) {
    Run(state, 0, false, true);
}
void BM_ScrolledWalk10k(benchmark::State& state) {
    Run(state, 10000, false, true);
}
void BM_ScrolledWalk100k(benchmark::State& state) {
    Run(state, 100000, false, true);
}
void BM_ScrolledAllInView10k(benchmark::State& state) {
    Run(state, 10000, true, true);
}

void BM_DesktopRepaintPlanOnly(benchmark::State& state) {
    Run(state, 0, false, false, kDesktopWidth, kDesktopHeight);
}
void BM_DesktopRepaintWalk10k(benchmark::State& state) {
    Run(state, 10000, false, false, kDesktopWidth, kDesktopHeight);
}
void BM_DesktopRepaintWalk100k(benchmark::State& state) {
    Run(state, 100000, false, false, kDesktopWidth, kDesktopHeight);
}
void BM_DesktopScrolledPlanOnly(benchmark::State& state) {
    Run(state, 0, false, true, kDesktopWidth, kDesktopHeight);
}
void BM_DesktopScrolledWalk10k(benchmark::State& state) {
    Run(state, 10000, false, true, kDesktopWidth, kDesktopHeight);
}
void BM_DesktopScrolledWalk100k(benchmark::State& state) {
    Run(state, 100000, false, true, kDesktopWidth, kDesktopHeight);
}

BENCHMARK(BM_RepaintPlanOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RepaintWalk10k)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RepaintWalk100k)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ScrolledPlanOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ScrolledWalk10k)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ScrolledWalk100k)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ScrolledAllInView10k)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DesktopRepaintPlanOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DesktopRepaintWalk10k)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DesktopRepaintWalk100k)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DesktopScrolledPlanOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DesktopScrolledWalk10k)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DesktopScrolledWalk100k)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DesktopDraggedPlanOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DesktopDraggedWalk100k)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace ketrion

BENCHMARK_MAIN();
