// Saving 256 extracted frames of 640 x 480 as BMP, PNG and JPEG files, against ffmpeg writing the
// same frames as images, in one run: the counters give both times and their ratio.
#include "output/SaveOptions.h"
#include "raster/Bitmap.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int Frames = 256;
constexpr int Width = 640;
constexpr int Height = 480;

// Frames that move and vary like video: a drifting gradient with a moving square.
const std::vector<std::unique_ptr<kelvara::Bitmap>>& frames() {
    static std::vector<std::unique_ptr<kelvara::Bitmap>> table = [] {
        std::vector<std::unique_ptr<kelvara::Bitmap>> t;
        for (int n = 0; n < Frames; ++n) {
            auto b = std::make_unique<kelvara::Bitmap>();
            b->SetPixelFormat(kelvara::PixelFormat::Bits24);
            b->SetSize(Width, Height);
            for (int y = 0; y < Height; ++y) {
                uint8_t* row = b->ScanLine(y);
                for (int x = 0; x < Width; ++x) {
                    const bool square = std::abs(x - 2 * n - 40) < 40 && std::abs(y - n - 100) < 40;
                    row[x * 3] = static_cast<uint8_t>(square ? 30 : (x + n) / 3);
                    row[x * 3 + 1] = static_cast<uint8_t>(square ? 220 : (y * 2 + n) / 4);
                    row[x * 3 + 2] = static_cast<uint8_t>(square ? 40 : (x ^ y) + n);
                }
            }
            t.push_back(std::move(b));
        }
        return t;
    }();
    return table;
}

struct TempDir {
    std::filesystem::path path;
    TempDir() {
        char pattern[] = "/tmp/kelvara-bench-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
};

// ffmpeg on one thread, reading the same frames as raw BGR from a pipe.
double ffmpegSeconds(const std::string& extension, const std::filesystem::path& dir) {
    const std::string command = "ffmpeg -v error -y -threads 1 -f rawvideo -pix_fmt bgr24 -s 640x480 -i - "
                                "-threads 1 -f image2 '" +
                                (dir / ("ff%d." + extension)).string() + "'";
    const auto start = std::chrono::steady_clock::now();
    FILE* pipe = popen(command.c_str(), "w");
    if (!pipe)
        return 0;
    std::vector<uint8_t> row(static_cast<size_t>(Width) * 3);
    for (const auto& frame : frames())
        for (int y = 0; y < Height; ++y)
            std::fwrite(frame->ScanLine(y), 1, row.size(), pipe);
    pclose(pipe);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void saveFrames(benchmark::State& state, kelvara::StillImageFormat format, const char* ffmpegExtension) {
    frames();
    const kelvara::StillImageSaveOptions options = kelvara::defaultSaveOptions(format);
    double ours = 0, theirs = 0;
    int runs = 0;
    for (auto _ : state) {
        TempDir dir;
        const auto start = std::chrono::steady_clock::now();
        for (int n = 0; n < Frames; ++n)
            kelvara::saveStillImageFile(
                *frames()[n], options, format,
                kelvara::stillImageFileName((dir.path / "frame").string(), n + 1, format),
                kelvara::ExistingFile::Keep);
        ours += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.PauseTiming();
        theirs += ffmpegSeconds(ffmpegExtension, dir.path);
        state.ResumeTiming();
        ++runs;
    }
    state.counters["kelvara_s"] = ours / runs;
    state.counters["ffmpeg_s"] = theirs / runs;
    state.counters["ratio"] = theirs > 0 ? ours / theirs : 0;
}

void BM_SaveFramesBmp(benchmark::State& state) {
    saveFrames(state, kelvara::StillImageFormat::Bmp, "bmp");
}
void BM_SaveFramesPng(benchmark::State& state) {
    saveFrames(state, kelvara::StillImageFormat::Png, "png");
}
void BM_SaveFramesJpeg(benchmark::State& state) {
    saveFrames(state, kelvara::StillImageFormat::Jpeg, "jpg");
}

BENCHMARK(BM_SaveFramesBmp)->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveFramesPng)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveFramesJpeg)->Iterations(2)->Unit(benchmark::kMillisecond);

} // namespace
