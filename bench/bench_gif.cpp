// GIF engine benchmarks on one core: AddFrame (octree reduction and Floyd-Steinberg dithering,
// as the conversions set it up) and SaveToStream (LZW), reported as frames per second.
#include "gif/GifDocument.h"
#include "raster/Bitmap.h"
#include "raster/Stream.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

using namespace kelvara;

// A natural-looking frame: smooth gradients, a few soft shapes and sensor-like noise; the seed
// moves the content like the frames of a clip.
std::unique_ptr<Bitmap> naturalFrame(int width, int height, uint32_t seed) {
    auto b = std::make_unique<Bitmap>();
    b->SetPixelFormat(PixelFormat::Bits24);
    b->SetSize(width, height);
    uint32_t state = seed * 2654435761u + 12345u;
    const int shift = static_cast<int>(seed * 3);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = b->ScanLine(y);
        for (int x = 0; x < width; ++x) {
            state = state * 1664525u + 1013904223u;
            const int noise = static_cast<int>((state >> 24) % 13) - 6;
            const int dx = x - (width / 3 + shift % width), dy = y - height / 2;
            const int disc = dx * dx + dy * dy < (height * height) / 9 ? 60 : 0;
            const int r = 40 + (x + shift) * 160 / width + disc + noise;
            const int g = 30 + y * 180 / height + noise;
            const int bl = 200 - (x + y) * 120 / (width + height) + ((x / 40 + y / 40) % 2) * 25 + noise;
            row[3 * x] = static_cast<uint8_t>(std::clamp(bl, 0, 255));
            row[3 * x + 1] = static_cast<uint8_t>(std::clamp(g, 0, 255));
            row[3 * x + 2] = static_cast<uint8_t>(std::clamp(r, 0, 255));
        }
    }
    return b;
}

constexpr int FrameSet = 8;

void BM_AddFrame(benchmark::State& state) {
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    std::vector<std::unique_ptr<Bitmap>> frames;
    for (int i = 0; i < FrameSet; ++i)
        frames.push_back(naturalFrame(w, h, static_cast<uint32_t>(i)));
    int i = 0;
    for (auto _ : state) {
        TGIFDocument doc;
        doc.SetReductionMode(GifReductionMode::QuantizeWithSystemColors);
        doc.SetDitherKind(GifDitherKind::FloydSteinberg);
        doc.AddFrame(*frames[static_cast<size_t>(i++ % FrameSet)]);
        benchmark::DoNotOptimize(doc.Frame(0).Data());
    }
    state.SetItemsProcessed(state.iterations()); // frames per second
    state.SetLabel("frames/s = items_per_second");
}
BENCHMARK(BM_AddFrame)->Args({320, 240})->Args({640, 480})->Unit(benchmark::kMillisecond);

void BM_SaveToStreamLZW(benchmark::State& state) {
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    TGIFDocument doc;
    doc.SetReductionMode(GifReductionMode::QuantizeWithSystemColors);
    doc.SetDitherKind(GifDitherKind::FloydSteinberg);
    for (int i = 0; i < FrameSet; ++i) {
        auto frame = naturalFrame(w, h, static_cast<uint32_t>(i));
        const int index = doc.AddFrame(*frame);
        auto control = std::make_unique<TGIFGraphicControlExtension>(&doc.Frame(index));
        control->SetDelayHundredths(10);
        doc.Frame(index).Extensions().Append(std::move(control));
    }
    MemoryStream out;
    out.reserve(static_cast<size_t>(w) * h * FrameSet * 2);
    for (auto _ : state) {
        out.clear();
        doc.SaveToStream(out);
        benchmark::DoNotOptimize(out.bytes().data());
    }
    state.SetItemsProcessed(state.iterations() * FrameSet); // frames per second
    state.counters["bytes_per_frame"] = static_cast<double>(out.bytes().size()) / FrameSet;
}
BENCHMARK(BM_SaveToStreamLZW)->Args({320, 240})->Args({640, 480})->Unit(benchmark::kMillisecond);

// The whole per-frame cost of a conversion: reduce, dither, compress.
void BM_AddFrameAndSaveLZW(benchmark::State& state) {
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    std::vector<std::unique_ptr<Bitmap>> frames;
    for (int i = 0; i < FrameSet; ++i)
        frames.push_back(naturalFrame(w, h, static_cast<uint32_t>(i)));
    MemoryStream out;
    int i = 0;
    for (auto _ : state) {
        TGIFDocument doc;
        doc.SetReductionMode(GifReductionMode::QuantizeWithSystemColors);
        doc.SetDitherKind(GifDitherKind::FloydSteinberg);
        doc.AddFrame(*frames[static_cast<size_t>(i++ % FrameSet)]);
        out.clear();
        doc.SaveToStream(out);
        benchmark::DoNotOptimize(out.bytes().data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AddFrameAndSaveLZW)->Args({320, 240})->Args({640, 480})->Unit(benchmark::kMillisecond);

} // namespace
