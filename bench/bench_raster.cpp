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

void BM_CopyRectReduceAnd(benchmark::State& state) {
    kelvara::Bitmap source, dest;
    source.SetSize(640, 480);
    fillNoise(source);
    for (auto _ : state) {
        dest.SetSize(0, 0);
        dest.SetSize(320, 240); // a new context: the reduction AND-combines
        dest.Canvas().CopyRect({0, 0, 320, 240}, source.Canvas(), {0, 0, 640, 480});
        benchmark::DoNotOptimize(dest.ScanLine(0));
    }
}
BENCHMARK(BM_CopyRectReduceAnd);

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
