// Frames per second of the transition renderer for each effect at 640 x 480, stepping the frames
// 0..10 of a 10-step run the way the builder does; and whole runs with the default settings
// (CrossDissolve, 10 steps) and their GIF, at the default 10 x 10 and at 640 x 480.
#include "convert/TransitionGif.h"
#include "convert/TransitionRenderer.h"
#include "gif/GifDocument.h"

#include <benchmark/benchmark.h>

using namespace kelvara;

namespace {

void fillPattern(Bitmap& b, int seed) {
    b.SetPixelFormat(PixelFormat::Bits24);
    b.SetSize(640, 480);
    for (int y = 0; y < 480; ++y) {
        uint8_t* row = b.ScanLine(y);
        for (int x = 0; x < 640 * 3; ++x)
            row[x] = static_cast<uint8_t>(x * seed + y * 3);
    }
}

void BM_RenderTransitionFrame(benchmark::State& state) {
    const int effect = static_cast<int>(state.range(0));
    const int steps = 10;
    Bitmap S, T, B, O, shown;
    fillPattern(S, 1);
    fillPattern(T, 7);
    fillPattern(B, 0);
    O.SetPixelFormat(PixelFormat::Bits24);
    O.SetSize(640, 480);
    TransitionRunState run;
    TransitionRandom random;
    int i = 0;
    for (auto _ : state) {
        if (i == 0)
            run = TransitionRunState{};
        RenderTransitionFrame(effect, i, steps, S, T, B, O, run, random);
        // The builder hands each frame on and pumps the message queue between frames.
        shown.Assign(O);
        releaseCanvasContexts();
        i = (i + 1) % (steps + 1);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(TransitionEffectNames[size_t(effect)]);
}

class NoObserver : public JobObserver {
public:
    void setProgressRange(int, int) override {}
    void setProgressPosition(int) override {}
};

void BM_WholeDefaultRun(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
    TransitionTab tab;
    fillPattern(tab.sourceSide.picture, 1);
    fillPattern(tab.targetSide.picture, 7);
    tab.spinWidth = width;
    tab.spinHeight = height;
    FrameTable table(TransitionFrameTableSize);
    NoObserver observer;
    int frames = 0;
    for (auto _ : state) {
        TGIFDocument built;
        frames += buildTransitionGif(tab, table, built, observer).frames;
    }
    state.counters["frames_per_second"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(BM_WholeDefaultRun)->Args({10, 10})->Args({640, 480})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderTransitionFrame)->DenseRange(0, TransitionEffectCount - 1)->Unit(benchmark::kMillisecond);
