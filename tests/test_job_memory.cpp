// The memory a job may use: sizes as typed, refusals before anything is read, streamed GIFs that
// keep fewer frames in flight rather than refusing, and the command line's --memory-limit.
#include "convert/AviToGif.h"
#include "convert/FrameExtraction.h"
#include "convert/JobMemory.h"
#include "gif/GifDocument.h"
#include "raster/Stream.h"
#include "support/AviWriter.h"
#include "support/GifJobSupport.h"
#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace kelvara;
using namespace kelvara::test;

namespace {

std::string gradientAvi(const ScratchDir& dir, int w, int h, int count) {
    AviFixture f;
    f.width = w;
    f.height = h;
    for (int i = 0; i < count; ++i)
        f.frames.push_back(
            dibBits24(w, h, [&](int x, int y) { return rgbColor(x * 7 + i, y * 5, (x + y) * 3); }));
    const std::string path = dir.file("gradient.avi");
    writeAvi(path, f);
    return path;
}

struct CountingObserver : JobObserver {
    int positions = 0;
    void setProgressRange(int, int) override {}
    void setProgressPosition(int) override { ++positions; }
};

std::string cli(const std::string& args) {
    return shellQuoted(KELVARA_CLI_PATH) + " " + args;
}

} // namespace

TEST(JobMemory, SizesAsTyped) {
    const struct {
        const char* text;
        std::optional<uint64_t> bytes;
    } cases[] = {
        {"2G", uint64_t(2) << 30},     {"512M", uint64_t(512) << 20},
        {"1.5G", uint64_t(3) << 29},   {"64MB", uint64_t(64) << 20},
        {"64MiB", uint64_t(64) << 20}, {"100000000", 100000000},
        {"2g", uint64_t(2) << 30},     {"", std::nullopt},
        {"G", std::nullopt},           {"2x", std::nullopt},
        {"-1G", std::nullopt},         {"1..5G", std::nullopt},
        {"0", std::nullopt},           {"99999999999999G", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(memorySizeFromText(c.text), c.bytes) << c.text;
}

TEST(JobMemory, AGifKeptWholeIsRefusedBeforeAnythingIsRead) {
    ScratchDir dir;
    AviToGifOptions options = optionsFor(gradientAvi(dir, 64, 48, 6));
    options.sizeMode = GifSizeMode::Specified;
    options.specifiedWidth = 4000;
    options.specifiedHeight = 3000;
    options.memoryLimit = uint64_t(256) << 20;
    FrameTable table(GifFrameTableSize);
    TGIFDocument built;
    CountingObserver observer;
    try {
        convertAviToGif(options, table, built, observer);
        FAIL() << "a GIF of 6 frames of 4000 x 3000 fitted in 256 MB";
    } catch (const MemoryLimitError& e) {
        EXPECT_EQ(std::string(e.what()),
                  memoryRefusal("A GIF of 6 frames of 4000 x 3000 pixels", heldGifFramesMemory(4000, 3000, 6),
                                options.memoryLimit));
        EXPECT_NE(std::string(e.what()).find("more than the 256 MB a job may use"), std::string::npos);
    }
    EXPECT_EQ(observer.positions, 0);
    EXPECT_EQ(built.FrameCount(), 0);

    // The same GIF at its own size fits and is built.
    options.sizeMode = GifSizeMode::AsArea;
    EXPECT_EQ(convertAviToGif(options, table, built, observer).outcome, AviToGifOutcome::Built);
    EXPECT_EQ(built.FrameCount(), 6);
}

TEST(JobMemory, AStreamedGifKeepsFewerFramesInFlightWithTheSameBytes) {
    ScratchDir dir;
    AviToGifOptions options = optionsFor(gradientAvi(dir, 96, 64, 8));
    options.threads = 4;
    CountingObserver observer;
    MemoryStream free, tight;
    streamAviToGif(options, free, observer);
    // Room for the frames of one worker only: the run goes on with one.
    options.memoryLimit = streamedGifFramesMemory(96, 64, 4);
    streamAviToGif(options, tight, observer);
    EXPECT_EQ(tight.bytes(), free.bytes());

    // Not even those: refused, and nothing written.
    options.memoryLimit = streamedGifFramesMemory(96, 64, 4) - 1;
    MemoryStream none;
    EXPECT_THROW(streamAviToGif(options, none, observer), MemoryLimitError);
    EXPECT_TRUE(none.bytes().empty());
}

TEST(JobMemory, ExtractedFramesKeptAreCountedAndHandedOnOnesAreNot) {
    ScratchDir dir;
    FrameExtractionOptions options;
    options.videoPath = gradientAvi(dir, 64, 48, 4);
    options.firstFrame = 1;
    options.lastFrame = 4;
    options.videoWidth = 64;
    options.videoHeight = 48;
    options.frameSize = [](int& w, int& h) {
        w = 6000;
        h = 6000;
    };
    options.memoryLimit = heldPicturesMemory(6000, 6000, 2);
    FrameTable table(ExtractionFrameTableSize);
    CountingObserver observer;
    EXPECT_THROW(extractFrames(options, table, observer), MemoryLimitError);
    EXPECT_EQ(observer.positions, 0);

    Bitmap target;
    options.target = [&](int) -> Bitmap& { return target; };
    EXPECT_EQ(extractFrames(options, table, observer).frames, 4);
    EXPECT_EQ(target.Width(), 6000);
}

TEST(JobMemory, CommandLineLimits) {
    ScratchDir dir;
    const std::string video = gradientAvi(dir, 64, 48, 6);
    const std::string out = dir.file("out.gif");
    const std::string picture = dir.file("big.png");
    ASSERT_EQ(
        runProcess("ffmpeg -v error -f lavfi -i color=c=red:s=3000x3000 -frames:v 1 " + shellQuoted(picture))
            .exitCode,
        0);
    const struct {
        std::string args;
        int exitCode;
        const char* says; // on standard error
        bool written;
    } cases[] = {
        // Kept whole it would not fit; going forward it is stored as its changes as it is made.
        {"gif " + shellQuoted(video) + " -o " + out + " --size 3000x2250 --optimize --memory-limit 300M", 0,
         "", true},
        // Going backward the frames must be kept: refused.
        {"gif " + shellQuoted(video) + " -o " + out +
             " --size 3000x2250 --optimize --backward --memory-limit 300M",
         1, "more than the 300 MB a job may use", false},
        // So must a bounce's: the limit is told, not an empty GIF written.
        {"gif " + shellQuoted(video) + " -o " + out +
             " --size 3000x2250 --optimize --bounce --memory-limit 300M",
         1, "more than the 300 MB a job may use", false},
        {"gif " + shellQuoted(video) + " -o " + out + " --size 9000x9000 --memory-limit 400M", 1,
         "written as it is made needs about", false},
        {"gif " + shellQuoted(video) + " -o " + out + " --memory-limit 2", 2, "--memory-limit must be a size",
         false},
        {"frames " + shellQuoted(video) + " --format bmp --out-dir " + dir.file("f") +
             " --size 9000x9000 --memory-limit 100M",
         1, "frames of 9000 x 9000 pixels needs about", false},
        {"animate -o " + out + " --memory-limit 150M " + shellQuoted(picture) + " " + shellQuoted(picture), 1,
         "and the pictures before it needs about", false},
        {"transition -o " + out + " --size 3000x3000 --steps 50 --memory-limit 1G", 1,
         "more than the 1024 MB a transition may use", false},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(out);
        const ProcessResult r = runProcess(cli(c.args));
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args << "\n" << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << "\n" << r.err;
        EXPECT_EQ(std::filesystem::exists(out), c.written) << c.args;
    }
}
