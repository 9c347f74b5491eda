// Tests of the transition GIF and kelvara-cli transition: the document's blocks as giflib reads
// them, and the command's sides, options, frame files and errors.
#include "convert/TransitionGif.h"
#include "gif/GifDocument.h"
#include "raster/Stream.h"

#include "support/AviWriter.h"
#include "support/GifDecode.h"
#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace kelvara;
using namespace kelvara::test;

namespace {

// Asks to abort once the progress bar reaches a position (the pipeline pumps messages as often as
// it waits, so pumps are no measure).
class SilentObserver : public JobObserver {
public:
    int abortAtPosition = -1;
    bool aborting = false;
    void setProgressRange(int, int) override {}
    void setProgressPosition(int position) override {
        if (abortAtPosition >= 0 && position >= abortAtPosition)
            aborting = true;
    }
    bool abortRequested() override { return aborting; }
};

std::vector<uint8_t> saved(TGIFDocument& document) {
    MemoryStream stream;
    document.SaveToStream(stream);
    return stream.bytes();
}

void writePpm(const std::string& path, int width, int height, Color color) {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << width << " " << height << "\n255\n";
    for (int i = 0; i < width * height; ++i) {
        const char rgb[3] = {char(redOf(color)), char(greenOf(color)), char(blueOf(color))};
        out.write(rgb, 3);
    }
}

ProcessResult cli(const std::string& arguments) {
    return runProcess(shellQuoted(KELVARA_CLI_PATH) + " transition " + arguments);
}

} // namespace

TEST(TransitionGif, DefaultRunLoopsWithTheDelayOnEveryFrame) {
    TransitionTab tab;
    FrameTable table(TransitionFrameTableSize);
    TGIFDocument built;
    SilentObserver observer;
    const TransitionRunResult result = buildTransitionGif(tab, table, built, observer);
    EXPECT_EQ(result.frames, 11);
    const GiflibImage gif = decodeWithGiflib(saved(built));
    EXPECT_EQ(gif.screenWidth, 10);
    EXPECT_EQ(gif.screenHeight, 10);
    EXPECT_EQ(gif.loopCount, 0);
    ASSERT_EQ(gif.frames.size(), 11u);
    for (const GiflibFrame& frame : gif.frames) {
        EXPECT_TRUE(frame.hasGraphicControl);
        EXPECT_EQ(frame.delay, 10);
    }
}

TEST(TransitionGif, FramesShowTheTransition) {
    // Black to white over two steps: the middle frame of CrossDissolve is mid grey, which the
    // reduction's palette keeps close.
    TransitionTab tab;
    tab.steps = 2;
    tab.spinWidth = 16;
    tab.spinHeight = 8;
    tab.sourceSide.background = ColorBlack;
    FrameTable table(TransitionFrameTableSize);
    TGIFDocument built;
    SilentObserver observer;
    buildTransitionGif(tab, table, built, observer);
    const GiflibImage gif = decodeWithGiflib(saved(built));
    ASSERT_EQ(gif.frames.size(), 3u);
    auto colorAt = [&](int frame, int x, int y) {
        const GiflibFrame& f = gif.frames[size_t(frame)];
        return f.colors[f.indices[size_t(y) * f.width + x]];
    };
    EXPECT_EQ(colorAt(0, 3, 3), (std::array<uint8_t, 3>{0, 0, 0}));
    EXPECT_EQ(colorAt(2, 3, 3), (std::array<uint8_t, 3>{255, 255, 255}));
    const auto middle = colorAt(1, 3, 3);
    EXPECT_NEAR(middle[0], 128, 12);
}

TEST(TransitionGif, AbortKeepsTheSameFramesInTableAndDocument) {
    TransitionTab tab;
    FrameTable table(TransitionFrameTableSize);
    TGIFDocument built;
    SilentObserver observer;
    observer.abortAtPosition = 4; // after frame 3 is rendered
    const TransitionRunResult result = buildTransitionGif(tab, table, built, observer);
    EXPECT_TRUE(result.aborted);
    EXPECT_EQ(result.frames, 3);
    EXPECT_EQ(decodeWithGiflib(saved(built)).frames.size(), 3u);
}

// Each frame is reduced while the next is rendered; on one thread or several the GIF is the same.
TEST(TransitionGif, ThreadsGiveTheSameBytes) {
    std::vector<uint8_t> reference;
    for (int threads : {1, 3}) {
        TransitionTab tab;
        tab.effect = 0; // CrossDissolve: every frame another colour
        tab.steps = 12;
        tab.spinWidth = 40;
        tab.spinHeight = 30;
        tab.sourceSide.background = rgbColor(200, 30, 10);
        FrameTable table(TransitionFrameTableSize);
        TGIFDocument built;
        SilentObserver observer;
        ASSERT_EQ(buildTransitionGif(tab, table, built, observer, threads).frames, 13);
        if (reference.empty())
            reference = saved(built);
        else
            EXPECT_EQ(saved(built), reference);
    }
}

TEST(TransitionCli, DefaultRunWritesElevenFrames) {
    ScratchDir dir;
    const std::string out = dir.file("default.gif");
    ProcessResult r = cli("-o " + shellQuoted(out));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "kelvara-cli transition: wrote " + out + ": Size: 10 x 10 pixels  Frames: 11  Delay: 10\n");
    const GiflibImage gif = decodeWithGiflib(readFile(out));
    EXPECT_EQ(gif.frames.size(), 11u);
    EXPECT_EQ(gif.loopCount, 0);
}

TEST(TransitionCli, PicturesGrowTheSizeAndFramesAreWritten) {
    ScratchDir dir;
    writePpm(dir.file("red.ppm"), 24, 10, rgbColor(255, 0, 0));
    writePpm(dir.file("blue.ppm"), 12, 18, rgbColor(0, 0, 255));
    const std::string out = dir.file("t.gif"), frames = dir.file("frames");
    ProcessResult r = cli("-o " + shellQuoted(out) + " --source " + shellQuoted(dir.file("red.ppm")) +
                          " --target " + shellQuoted(dir.file("blue.ppm")) +
                          " --effect LeftRight --steps 3 --duration 1000 --target-bg 00FF00 --frames-dir " +
                          shellQuoted(frames));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "kelvara-cli transition: wrote " + out + ": Size: 24 x 18 pixels  Frames: 4  Delay: 33\n");
    for (int i = 0; i <= 3; ++i)
        EXPECT_TRUE(std::filesystem::exists(frames + "/frame_00" + std::to_string(i) + ".bmp")) << i;
    // The last frame is the target: blue picture, green background round it.
    Bitmap last;
    last.LoadFromMemory(readFile(frames + "/frame_003.bmp").data(),
                        readFile(frames + "/frame_003.bmp").size());
    EXPECT_EQ(last.pixel(0, 0), rgbColor(0, 0, 255));
    EXPECT_EQ(last.pixel(20, 5), rgbColor(0, 255, 0));
    // Frame 1: the left 8 columns are the target already, the rest still the source.
    Bitmap first;
    const std::vector<uint8_t> bytes = readFile(frames + "/frame_001.bmp");
    first.LoadFromMemory(bytes.data(), bytes.size());
    EXPECT_EQ(first.pixel(7, 2), rgbColor(0, 0, 255));
    EXPECT_EQ(first.pixel(8, 2), rgbColor(255, 0, 0));
    EXPECT_EQ(first.pixel(8, 15), ColorWhite);
}

TEST(TransitionCli, VideoFramesAndTypedSize) {
    ScratchDir dir;
    AviFixture avi;
    avi.width = 8;
    avi.height = 6;
    for (int f = 0; f < 3; ++f)
        avi.frames.push_back(dibBits24(8, 6, [f](int, int) { return rgbColor(0, f * 100, 0); }));
    const std::string video = dir.file("clip.avi"), frames = dir.file("frames");
    ProcessResult r = cli("-o " + shellQuoted(dir.file("v.gif")) + " --video " + shellQuoted(video) +
                          " --source frame:3 --target frame:1 --steps 1 --size 5x4 --frames-dir " +
                          shellQuoted(frames) + " --quiet");
    ASSERT_NE(r.exitCode, 0); // the video does not exist yet
    writeAvi(video, avi);
    // A number outside the video is refused with the valid range (the dialog would take frame 1).
    for (const char* side : {"frame:99", "frame:0"}) {
        r = cli("-o " + shellQuoted(dir.file("v.gif")) + " --video " + shellQuoted(video) + " --target " +
                side);
        EXPECT_EQ(r.exitCode, 2) << side;
        EXPECT_NE(r.err.find("--target: frame " + std::string(side + 6) + " is outside 1..3"),
                  std::string::npos)
            << r.err;
    }
    r = cli("-o " + shellQuoted(dir.file("v.gif")) + " --video " + shellQuoted(video) +
            " --source frame:3 --target frame:1 --steps 1 --size 5x4 --frames-dir " + shellQuoted(frames) +
            " --quiet");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, ""); // --quiet: nothing on success
    const std::vector<uint8_t> first = readFile(frames + "/frame_000.bmp"),
                               last = readFile(frames + "/frame_001.bmp");
    Bitmap a, b;
    a.LoadFromMemory(first.data(), first.size());
    b.LoadFromMemory(last.data(), last.size());
    EXPECT_EQ(a.pixel(0, 0), rgbColor(0, 200, 0)); // frame 3
    EXPECT_EQ(b.pixel(0, 0), rgbColor(0, 0, 0));   // frame 1
}

TEST(TransitionCli, ErrorsAndExistingFiles) {
    ScratchDir dir;
    const std::string out = dir.file("e.gif");
    EXPECT_EQ(cli("--quiet").exitCode, 2);                                      // no -o
    EXPECT_EQ(cli("-o " + shellQuoted(out) + " --effect Spin").exitCode, 2);    // unknown effect
    EXPECT_EQ(cli("-o " + shellQuoted(out) + " --steps 51").exitCode, 2);       // out of range
    EXPECT_EQ(cli("-o " + shellQuoted(out) + " --source frame:2").exitCode, 2); // no --video
    EXPECT_EQ(cli("-o " + shellQuoted(out) + " --size 0x10 --quiet").exitCode, 2);
    EXPECT_FALSE(std::filesystem::exists(out));
    ASSERT_EQ(cli("-o " + shellQuoted(out) + " --effect 23 --quiet").exitCode, 0);
    ProcessResult again = cli("-o " + shellQuoted(out) + " --quiet");
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.err.find("exists"), std::string::npos);
    EXPECT_EQ(cli("-o " + shellQuoted(out) + " --overwrite --quiet").exitCode, 0);
    // A picture of an unknown extension is not read; the run goes on and says so.
    ProcessResult unknown = cli("-o " + shellQuoted(dir.file("u.gif")) + " --source " +
                                shellQuoted(dir.file("notes.txt")) + " --quiet");
    EXPECT_EQ(unknown.exitCode, 0);
    EXPECT_NE(unknown.err.find("it is not read"), std::string::npos);
    // A damaged picture is an error with the reader's message.
    std::ofstream(dir.file("bad.png")) << "not a png";
    ProcessResult bad = cli("-o " + shellQuoted(dir.file("b.gif")) + " --source " +
                            shellQuoted(dir.file("bad.png")) + " --quiet");
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_NE(bad.err.find("PNG image is not valid"), std::string::npos);
}
