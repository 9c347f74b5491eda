// Tests of the GIF delays that follow the video's own timing: the rounding that carries what it
// cuts off, the spans of the pictures taken, and kelvara-cli gif on constant and variable frame
// rates, with a step, backward and under --max-size.
#include "convert/AviToGif.h"
#include "convert/GifDelays.h"
#include "convert/GifSizeFit.h"
#include "gif/GifDocument.h"
#include "raster/Stream.h"

#include "support/AviWriter.h"
#include "support/GifDecode.h"
#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <numeric>
#include <random>

using namespace kelvara;
using namespace kelvara::test;

namespace {

// The durations of n pictures at rate / scale pictures a second, from their timestamps in whole
// microseconds as a file gives them.
std::vector<int64_t> evenDurations(int n, int64_t rate, int64_t scale) {
    std::vector<int64_t> d;
    auto at = [&](int64_t i) { return (i * scale * 1'000'000 + rate / 2) / rate; };
    for (int i = 0; i < n; ++i)
        d.push_back(at(i + 1) - at(i));
    return d;
}

int sum(const std::vector<int>& v, size_t from = 0, size_t to = SIZE_MAX) {
    return std::accumulate(v.begin() + long(from), v.begin() + long(std::min(to, v.size())), 0);
}

std::vector<int> gifDelays(const std::string& path) {
    std::vector<int> delays;
    for (const GiflibFrame& f : decodeWithGiflib(readFile(path)).frames)
        delays.push_back(f.delay);
    return delays;
}

struct NullObserver : JobObserver {
    void setProgressRange(int, int) override {}
    void setProgressPosition(int) override {}
};

} // namespace

TEST(GifDelays, RoundingCarriesWhatItCutsOff) {
    struct Case {
        const char* name;
        std::vector<int64_t> durations;
        std::vector<uint16_t> expected; // the first delays
    };
    const Case cases[] = {
        {"30 fps", evenDurations(9, 30, 1), {3, 3, 4, 3, 3, 4, 3, 3, 4}},
        {"29.97 fps", evenDurations(6, 30000, 1001), {3, 3, 4, 3, 3, 4}},
        {"25 fps", evenDurations(4, 25, 1), {4, 4, 4, 4}},
        {"10 fps", evenDurations(3, 10, 1), {10, 10, 10}},
        {"60 fps: at least 2", evenDurations(4, 60, 1), {2, 2, 2, 2}},
        // A frame made longer than it is carries nothing on to the next.
        {"short then long", {5'000, 100'000, 15'000, 25'000}, {2, 10, 2, 2}},
        {"carried from 7 ms pieces", {27'000, 27'000, 27'000, 27'000}, {2, 3, 3, 2}},
        {"a zero span", {0, 40'000}, {2, 4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint16_t> delays = gifDelaysForDurations(c.durations);
        ASSERT_EQ(delays.size(), c.durations.size());
        EXPECT_EQ(std::vector<uint16_t>(delays.begin(), delays.begin() + long(c.expected.size())),
                  c.expected);
    }
    // Frames of 2 hundredths or more end within a hundredth of their own ends, all along.
    std::mt19937 random(5);
    std::vector<int64_t> durations;
    for (int i = 0; i < 2000; ++i)
        durations.push_back(20'000 + int64_t(random() % 400'000));
    const std::vector<uint16_t> delays = gifDelaysForDurations(durations);
    int64_t source = 0, shown = 0;
    for (size_t i = 0; i < durations.size(); ++i) {
        source += durations[i];
        shown += int64_t(delays[i]) * 10'000;
        ASSERT_LE(shown, source + 100) << i;
        ASSERT_GT(shown, source - 10'000) << i;
    }
    // 300 frames at 29.97 last 10.01 s.
    const std::vector<uint16_t> ntsc = gifDelaysForDurations(evenDurations(300, 30000, 1001));
    EXPECT_EQ(std::accumulate(ntsc.begin(), ntsc.end(), 0), 1001);
}

TEST(GifDelays, EachPictureTakenLastsUntilTheNext) {
    auto thirtyFps = [](int64_t p) { return (p * 1'000'000 + 15) / 30; };
    EXPECT_EQ(takenPictureSpansUs(0, 4, 1, thirtyFps),
              (std::vector<int64_t>{33'333, 33'334, 33'333, 33'333}));
    // Every third picture from the second: each lasts three pictures, the last its own one.
    EXPECT_EQ(takenPictureSpansUs(1, 3, 3, thirtyFps), (std::vector<int64_t>{100'000, 100'000, 33'334}));
}

// kelvara-cli gif without --delay: frames last as long as their pictures.
TEST(GifDelays, CliFollowsTheVideosTiming) {
    ScratchDir dir;
    const std::string cli = shellQuoted(KELVARA_CLI_PATH);
    auto gif = [&](const std::string& video, const std::string& args) {
        const std::string out = dir.file("out.gif");
        const ProcessResult r = runProcess(cli + " gif " + shellQuoted(video) + " -o " + shellQuoted(out) +
                                           " --overwrite --quiet " + args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return gifDelays(out);
    };
    auto avi = [&](const std::string& name, int frames, uint32_t rate, uint32_t scale) {
        AviFixture f;
        f.width = 8;
        f.height = 6;
        f.rate = rate;
        f.scale = scale;
        for (int i = 0; i < frames; ++i)
            f.frames.push_back(dibBits24(8, 6, [&](int x, int) { return rgbColor(i * 8, x * 30, 90); }));
        const std::string path = dir.file(name);
        writeAvi(path, f);
        return path;
    };

    // 31 frames at 30 fps last 1.03 s; 29.97 fps the same to the hundredth; every third frame of
    // them lasts three pictures, the last one its own; backward the same times in reverse.
    const std::string thirty = avi("thirty.avi", 31, 30, 1);
    std::vector<int> d = gif(thirty, "");
    ASSERT_EQ(d.size(), 31u);
    EXPECT_EQ(std::vector<int>(d.begin(), d.begin() + 6), (std::vector<int>{3, 3, 4, 3, 3, 4}));
    EXPECT_EQ(sum(d), 103);
    d = gif(avi("ntsc.avi", 31, 30000, 1001), "");
    EXPECT_EQ(sum(d), 103);
    d = gif(thirty, "--step 3");
    EXPECT_EQ(d, (std::vector<int>{10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 3}));
    d = gif(thirty, "--step 3 --backward");
    EXPECT_EQ(d, (std::vector<int>{3, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10}));
    d = gif(thirty, "--frames 2-11");
    EXPECT_EQ(sum(d), 33);
    // A typed delay goes to the nearest hundredth.
    EXPECT_EQ(gif(thirty, "--frames 1-2 --delay 95"), (std::vector<int>{10, 10}));
    EXPECT_EQ(gif(thirty, "--frames 1-2 --delay 94"), (std::vector<int>{9, 9}));

    // A variable frame rate: 2 s at 10 fps, 2 s at 30 fps, 2 s at 5 fps in one Matroska file.
    const std::string vfr = dir.file("vfr.mkv");
    const ProcessResult made = runProcess(
        "ffmpeg -v error -y -f lavfi -i testsrc=size=32x24:rate=10:duration=2 -f lavfi -i "
        "testsrc=size=32x24:rate=30:duration=2 -f lavfi -i testsrc=size=32x24:rate=5:duration=2 "
        "-filter_complex '[0:v][1:v][2:v]concat=n=3:v=1,settb=1/1000' -fps_mode vfr -c:v mpeg4 -q:v 5 " +
        shellQuoted(vfr));
    ASSERT_EQ(made.exitCode, 0) << made.err;
    d = gif(vfr, "");
    ASSERT_EQ(d.size(), 90u);
    EXPECT_EQ(sum(d, 0, 20), 200);
    EXPECT_EQ(sum(d, 20, 80), 200);
    EXPECT_NEAR(sum(d, 80), 200, 1);
    // Every second picture, and backward: each part still plays at its own speed.
    d = gif(vfr, "--step 2");
    ASSERT_EQ(d.size(), 45u);
    EXPECT_EQ(sum(d, 0, 10), 200);
    EXPECT_EQ(sum(d, 10, 40), 200);
    EXPECT_EQ(sum(d, 40), 180); // the last frame lasts its own picture, not the one skipped after it
    d = gif(vfr, "--backward");
    ASSERT_EQ(d.size(), 90u);
    EXPECT_NEAR(sum(d, 0, 10), 200, 1);
    EXPECT_NEAR(sum(d, 10, 70), 200, 1);
    EXPECT_NEAR(sum(d, 70), 200, 1);
    // A time range: the 30 fps part alone.
    d = gif(vfr, "--time 2-3.99");
    EXPECT_EQ(d.size(), 60u);
    EXPECT_EQ(sum(d), 200);
}

// --max-size taking a larger step keeps the speed: each frame stands for the pictures it skips.
TEST(GifDelays, FitUnderASizeKeepsTheSpeed) {
    ScratchDir dir;
    AviFixture f;
    f.width = 40;
    f.height = 30;
    f.rate = 30;
    for (int i = 0; i < 30; ++i)
        f.frames.push_back(dibBits24(40, 30, [&](int x, int y) { return rgbColor(i * 8, x * 6, y * 8); }));
    const std::string path = dir.file("clip.avi");
    writeAvi(path, f);
    AviToGifOptions o;
    o.videoPath = path;
    o.frameCount = 30;
    o.lengthMs = 1000;
    o.crop = {0, 0, 40, 30};
    o.baseWidth = 40;
    o.baseHeight = 30;
    o.limitRule = FrameLimitRule::AfterStep;
    o.delayHundredths = 3;
    o.delaysFromTimes = true;
    for (const GifQuality quality : {GifQuality::Classic, GifQuality::High}) {
        SCOPED_TRACE(quality == GifQuality::High ? "high" : "classic");
        o.build.quality = quality;
        FrameTable table(GifFrameTableSize);
        TGIFDocument built;
        NullObserver observer;
        GifSizeFitOptions fit;
        fit.limit = 1'000'000;
        fit.maxFrames = 10;
        fit.delayFollowsStep = true;
        const GifSizeFitResult r = fitGifUnderSize(o, fit, table, built, observer);
        ASSERT_TRUE(r.fits) << r.message;
        EXPECT_EQ(r.step, 3);
        int total = 0;
        for (const GiflibFrame& frame : decodeWithGiflib(r.file).frames)
            total += frame.delay;
        EXPECT_EQ(total, 9 * 10 + 3); // nine frames of three pictures, the last its own picture
    }
}
