// LZW compression on one core: the GIF engine's frame encoder at map sizes of 2 to 8 bits, the
// still-image GIF writer's encoder and the TIFF strip encoder, in megapixels per second.
#include "gif/GifEncoder.h"
#include "output/LzwCodecs.h"
#include "raster/Stream.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

using namespace kelvara;

constexpr int Width = 640, Height = 480;

// Indexes of a natural-looking frame reduced to 2^bits colours: gradients, a soft disc and a
// little noise, which gives the mix of long and short strings dithered frames have.
std::vector<uint8_t> naturalIndexes(int bits) {
    std::vector<uint8_t> out(static_cast<size_t>(Width) * Height);
    uint32_t state = 12345u;
    const int colours = 1 << bits;
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
            state = state * 1664525u + 1013904223u;
            const int noise = static_cast<int>((state >> 24) % 5) - 2;
            const int dx = x - Width / 3, dy = y - Height / 2;
            const int disc = dx * dx + dy * dy < (Height * Height) / 9 ? colours / 3 : 0;
            const int v = (x * colours / Width + y * colours / (2 * Height) + disc + noise) % colours;
            out[static_cast<size_t>(y) * Width + static_cast<size_t>(x)] =
                static_cast<uint8_t>(std::max(v, 0));
        }
    return out;
}

void BM_GifEngineLzw(benchmark::State& state) {
    const int bits = static_cast<int>(state.range(0));
    const std::vector<uint8_t> pixels = naturalIndexes(bits);
    MemoryStream out;
    for (auto _ : state) {
        out.clear();
        encodeGIFImage(0, out, bits, Width, Height, false, pixels.data(), 1 << bits);
        benchmark::DoNotOptimize(out.bytes().data());
    }
    state.SetItemsProcessed(state.iterations() * Width * Height);
    state.counters["bytes"] = static_cast<double>(out.bytes().size());
}
BENCHMARK(BM_GifEngineLzw)->Arg(2)->Arg(4)->Arg(6)->Arg(8)->Unit(benchmark::kMillisecond);

void BM_StillGifLzw(benchmark::State& state) {
    const int bits = static_cast<int>(state.range(0));
    const std::vector<uint8_t> pixels = naturalIndexes(bits);
    MemoryStream out;
    for (auto _ : state) {
        out.clear();
        encodeGifLzw(out, Height, Width, bits, pixels.data(), false);
        benchmark::DoNotOptimize(out.bytes().data());
    }
    state.SetItemsProcessed(state.iterations() * Width * Height);
}
BENCHMARK(BM_StillGifLzw)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond);

void BM_TiffLzw(benchmark::State& state) {
    const std::vector<uint8_t> pixels = naturalIndexes(8);
    MemoryStream out;
    for (auto _ : state) {
        out.clear();
        std::unique_ptr<TiffLzwEncoderState> strip;
        for (int y = 0; y < Height; ++y)
            encodeTiffLzw(pixels.data() + static_cast<size_t>(y) * Width, Width, out, strip);
        encodeTiffLzw(nullptr, 0, out, strip);
        benchmark::DoNotOptimize(out.bytes().data());
    }
    state.SetItemsProcessed(state.iterations() * Width * Height);
}
BENCHMARK(BM_TiffLzw)->Unit(benchmark::kMillisecond);

} // namespace
