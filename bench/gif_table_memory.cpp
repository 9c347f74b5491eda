// Converts a whole video the way the desktop program's AVI-to-GIF tab does (frames into the
// main window's frame table, the document built and handed on, then encoded into memory to show
// its size) and prints the peak resident memory against the frame table's size and the indices'.
// Used by avi_to_gif_vs_ffmpeg.sh; the desktop program adds its own window and library memory.
#include "convert/AviToGif.h"
#include "gif/GifDocument.h"
#include "raster/FrameTable.h"
#include "raster/Stream.h"
#include "video/AviServices.h"

#include <sys/resource.h>

#include <cstdio>
#include <exception>

namespace {

struct QuietObserver final : kelvara::JobObserver {
    void setProgressRange(int, int) override {}
    void setProgressPosition(int) override {}
};

double peakMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

} // namespace

int main(int argc, char** argv) {
    using namespace kelvara;
    if (argc != 2) {
        std::fprintf(stderr, "Usage: kelvara_gif_table_memory VIDEO\n");
        return 2;
    }
    try {
        const double before = peakMiB();
        const VideoFacts facts = probeVideo(argv[1]);
        AviToGifOptions options;
        options.videoPath = argv[1];
        options.frameCount = facts.frameCount;
        options.lengthMs = facts.lengthMs;
        options.crop = {0, 0, facts.width, facts.height};
        options.baseWidth = facts.width;
        options.baseHeight = facts.height;
        FrameTable table(GifFrameTableSize);
        TGIFDocument built;
        QuietObserver observer;
        const AviToGifResult result = convertAviToGif(options, table, built, observer);
        if (result.outcome != AviToGifOutcome::Built) {
            std::fprintf(stderr, "%s\n", result.message.c_str());
            return 1;
        }
        BlockBufferStream bytes;
        built.SaveToStream(bytes);
        const std::vector<uint8_t> kept = bytes.take();
        const double pixels = double(result.gifWidth) * result.gifHeight * result.frames;
        const double tableMiB = pixels * 3 / (1024.0 * 1024.0);
        const double indicesMiB = pixels / (1024.0 * 1024.0);
        std::printf("%d frames of %d x %d: peak %.0f MiB (%.0f before the job), frame table %.0f MiB, "
                    "indices %.0f MiB, GIF %.1f MiB\n",
                    result.frames, result.gifWidth, result.gifHeight, peakMiB(), before, tableMiB, indicesMiB,
                    double(kept.size()) / (1024.0 * 1024.0));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
