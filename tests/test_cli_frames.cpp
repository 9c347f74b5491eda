// Tests of kelvara-cli frames.
#include "convert/FrameExtraction.h"
#include "support/AviWriter.h"
#include "support/TestUtil.h"

#include <gtest/gtest.h>

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

TEST(CliFrames, RefusesTheRangesTheTabRefuses) {
    ScratchDir dir;
    std::string many = frames(dir, 257);
    ProcessResult r = runProcess(
        cli("frames " + shellQuoted(many) + " --format bmp --out-dir " + shellQuoted(dir.file("a"))));
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(
        r.err.rfind(std::string(FrameExtractionMessages::TooManyFrames) + "\nkelvara-cli frames: frames ", 0),
        0u)
        << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("a/frame1.bmp")));
    r = runProcess(cli("frames " + shellQuoted(many) + " --format bmp --range 4-4 --out-dir " +
                       shellQuoted(dir.file("a"))));
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(
        r.err.rfind(std::string(FrameExtractionMessages::WrongRange) + "\nkelvara-cli frames: frames ", 0),
        0u)
        << r.err;
    r = runProcess(cli("frames " + shellQuoted(many) + " --format webp"));
    EXPECT_EQ(r.exitCode, 2);
}
