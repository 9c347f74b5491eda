// Frames per second of the transition renderer for each effect at 640 x 480, stepping the frames
// 0..10 of a 10-step run the way the builder does.
#include "convert/TransitionRenderer.h"

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
    int i = 0;
    for (auto _ : state) {
        if (i == 0)
            run = TransitionRunState{};
        RenderTransitionFrame(effect, i, steps, S, T, B, O, run);
        // The builder hands each frame on and pumps the message queue between frames.
        shown.Assign(O);
        releaseCanvasContexts();
        i = (i + 1) % (steps + 1);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(TransitionEffectNames[size_t(effect)]);
}

} // namespace

BENCHMARK(BM_RenderTransitionFrame)->DenseRange(0, TransitionEffectCount - 1)->Unit(benchmark::kMillisecond);
