// Cost of one start-view paint (the engine posts a redraw after every GPS
// report and scan end): composing the 240 x 268 picture with the splash kept
// decoded, beside decoding the splash resource on every paint.
#include <benchmark/benchmark.h>

#include <QApplication>

#include <cstdlib>

#include "engine/Engine.h"
#include "engine/LinkList.h"
#include "engine/Location.h"
#include "platform/Clock.h"
#include "protocol/OutgoingSlot.h"
#include "source/board/BoardSource.h"
#include "source/board/BoardStack.h"
#include "ui/shell/Draw.h"
#include "ui/shell/KetrionView.h"

namespace {

using namespace ketrion;

class NullSlot final : public OutgoingSlot {
public:
    bool QueueWrite(const std::uint8_t*, std::uint32_t) override { return true; }
};

QApplication& App() {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "bench";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

struct World {
    NullSlot slot;
    SystemClock clock;
    BoardStack board{clock, nullptr, &slot};
    BoardSource scan{board, clock};
};

void BM_StartViewPaint(benchmark::State& state) {
    App();
    World world;
    CDraw draw;
    CKetrionView view(world.scan, draw);
    for (auto _ : state) {
        QImage picture = view.Render(QSize(240, 268));
        benchmark::DoNotOptimize(picture.constBits());
    }
}
BENCHMARK(BM_StartViewPaint);

void BM_StartViewPaintDecodingEachTime(benchmark::State& state) {
    App();
    World world;
    for (auto _ : state) {
        CDraw draw;  // a fresh helper has nothing decoded yet
        CKetrionView view(world.scan, draw);
        QImage picture = view.Render(QSize(240, 268));
        benchmark::DoNotOptimize(picture.constBits());
    }
}
BENCHMARK(BM_StartViewPaintDecodingEachTime);

}  // namespace

BENCHMARK_MAIN();
