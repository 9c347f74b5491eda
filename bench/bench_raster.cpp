// Micro benchmarks of the raster surface's copies.
#include "raster/Bitmap.h"

#include <benchmark/benchmark.h>

namespace {

void fillNoise(kelvara::Bitmap& b) {
    uint32_t seed = 12345;
    for (int y = 0; y < b.Height(); ++y) {
        uint8_t* row = b.ScanLine(y);
        for (int x = 0; x < b.Width() * 3; ++x) {
            seed = seed * 1103515245u + 12345u;
            row[x] = static_cast<uint8_t>(seed >> 16);
        }
    }
}

// A reduction in a new context, which averages the pixels each destination pixel covers: by half,
// and a 720p frame to the GIF job's default 480 wide (a fractional ratio).
void BM_CopyRectReduceAverage(benchmark::State& state) {
    const int sw = int(state.range(0)), sh = int(state.range(1)), dw = int(state.range(2)),
              dh = int(state.range(3));
    kelvara::Bitmap source, dest;
    source.SetSize(sw, sh);
    fillNoise(source);
    for (auto _ : state) {
        dest.SetSize(0, 0);
        dest.SetSize(dw, dh); // a new context
        dest.Canvas().CopyRect({0, 0, dw, dh}, source.Canvas(), {0, 0, sw, sh});
        benchmark::DoNotOptimize(dest.ScanLine(0));
    }
    state.SetItemsProcessed(state.iterations() * sw * sh);
}
BENCHMARK(BM_CopyRectReduceAverage)->Args({640, 480, 320, 240})->Args({1280, 720, 480, 270});

void BM_Draw24(benchmark::State& state) {
    kelvara::Bitmap source, dest;
    source.SetSize(640, 480);
    dest.SetSize(640, 480);
    fillNoise(source);
    for (auto _ : state) {
        dest.Canvas().Draw(0, 0, source);
        benchmark::DoNotOptimize(dest.ScanLine(0));
    }
}
BENCHMARK(BM_Draw24);

} // namespace
