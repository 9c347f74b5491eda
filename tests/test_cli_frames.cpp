// Tests of kelvara-cli frames.
#include "convert/FrameExtraction.h"
#include "support/AviWriter.h"
#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace kelvara;
using namespace kelvara::test;

namespace {

std::string cli(const std::string& args) {
    return shellQuoted(KELVARA_CLI_PATH) + " " + args;
}

std::string frames(const ScratchDir& dir, int count) {
    AviFixture f;
    f.width = 8;
    f.height = 6;
    for (int i = 0; i < count; ++i)
        f.frames.push_back(dibBits24(8, 6, [&](int x, int) { return rgbColor(i * 3, x * 30, 100); }));
    std::string path = dir.file("v" + std::to_string(count) + ".avi");
    writeAvi(path, f);
    return path;
}

} // namespace

TEST(CliFrames, WritesEachFrameUnderItsNumber) {
    ScratchDir dir;
    std::string video = frames(dir, 12);
    std::string out = dir.file("out");
    ProcessResult r =
        runProcess(cli("frames " + shellQuoted(video) + " --format bmp --range 3-5 --width 4 --base f" +
                       " --out-dir " + shellQuoted(out) + " --quiet"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (int n : {3, 4, 5}) {
        std::string path = out + "/f" + std::to_string(n) + ".bmp";
        ASSERT_TRUE(std::filesystem::exists(path)) << path;
        // ImageMagick reads the 4 x 3 picture and the colour of frame n, its green the mean of the
        // two columns (0 and 30) the first pixel covers.
        ProcessResult px =
            runProcess("convert " + shellQuoted(path) + " -format '%w %h %[pixel:p{0,0}]' info:");
        EXPECT_EQ(px.out, "4 3 srgb(" + std::to_string((n - 1) * 3) + ",15,100)") << px.err;
    }
    EXPECT_FALSE(std::filesystem::exists(out + "/f6.bmp"));
    // Existing files stay unless --overwrite is given.
    r = runProcess(cli("frames " + shellQuoted(video) + " --format bmp --range 3-5 --base f --out-dir " +
                       shellQuoted(out)));
    EXPECT_EQ(r.exitCode, 1);
    r = runProcess(cli("frames " + shellQuoted(video) + " --format png --range 1-2 --base f --out-dir " +
                       shellQuoted(out) + " --overwrite --quiet"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(std::filesystem::exists(out + "/f2.png"));
}

// On the command line any number of frames is written, named so that they sort in frame order;
// the step, the time range, the rate and a name pattern pick and name them.
TEST(CliFrames, AnyNumberOfFramesWithNamesThatSort) {
    ScratchDir dir;
    const std::string many = frames(dir, 257);
    const struct {
        std::string options;
        std::vector<std::string> names; // every file written, sorted
    } cases[] = {
        {"--frames 250-",
         {"frame250.bmp", "frame251.bmp", "frame252.bmp", "frame253.bmp", "frame254.bmp", "frame255.bmp",
          "frame256.bmp", "frame257.bmp"}},
        {"--frames -12 --step 5", {"frame01.bmp", "frame06.bmp", "frame11.bmp"}},
        {"--range 98-101 --name shot-%05d",
         {"shot-00098.bmp", "shot-00099.bmp", "shot-00100.bmp", "shot-00101.bmp"}},
        {"--frames 8-10 --name 100%%-%d", {"100%-10.bmp", "100%-8.bmp", "100%-9.bmp"}},
        // 25 frames a second: at 10 a second the pictures shown at 0, 0.1, 0.2 and 0.3 s.
        {"--frames -10 --fps 10", {"frame1.bmp", "frame3.bmp", "frame6.bmp", "frame8.bmp"}},
        {"--time 10.2-", {"frame255.bmp", "frame256.bmp", "frame257.bmp"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        const std::string out = dir.file("out");
        std::filesystem::remove_all(out);
        const ProcessResult r = runProcess(cli("frames " + shellQuoted(many) + " --format bmp --quiet " +
                                               c.options + " --out-dir " + shellQuoted(out)));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out + r.err, "");
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(out))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, c.names);
    }
    // All 257: three digits, in order when sorted, the last one frame 257's colour.
    const std::string out = dir.file("all");
    ProcessResult r =
        runProcess(cli("frames " + shellQuoted(many) + " --format bmp --out-dir " + shellQuoted(out)));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "kelvara-cli frames: wrote " + out + "/frame001.bmp .. " + out +
                         "/frame257.bmp: Size: 8 x 6 pixels  Frames: 257\n");
    EXPECT_TRUE(std::filesystem::exists(out + "/frame001.bmp"));
    ProcessResult px =
        runProcess("convert " + shellQuoted(out + "/frame257.bmp") + " -format '%[pixel:p{0,0}]' info:");
    EXPECT_EQ(px.out, "srgb(" + std::to_string(256 * 3 % 256) + ",0,100)") << px.err;
    r = runProcess(cli("frames " + shellQuoted(many) + " --format webp"));
    EXPECT_EQ(r.exitCode, 2);
}
