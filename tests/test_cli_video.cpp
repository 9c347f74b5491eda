// Tests of kelvara-cli info and frame, run as a user would run them.
#include "raster/Bitmap.h"
#include "raster/Stream.h"
#include "support/AviWriter.h"
#include "support/TestUtil.h"
#include "video/FrameSource.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace kelvara;
using namespace kelvara::test;

namespace {

std::string cli(const std::string& args) {
    return shellQuoted(KELVARA_CLI_PATH) + " " + args;
}

} // namespace

TEST(CliVideo, InfoPrintsTheFacts) {
    ScratchDir dir;
    std::string path = dir.file("clip.avi");
    makeCodecFixture(path, "mjpeg", 48, 32, 10, true);
    ProcessResult r = runProcess(cli("info " + shellQuoted(path)));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "frames: 10\nlength_ms: 400\nwidth: 48\nheight: 32\nfps: 25\ncodec: mjpeg\n");
}

TEST(CliVideo, FrameWritesA24BitBmpOfThatPosition) {
    ScratchDir dir;
    std::string path = dir.file("pal.avi");
    AviFixture f;
    f.width = 3;
    f.height = 2;
    f.bitCount = 8;
    for (int i = 0; i < 256; ++i)
        f.palette.push_back(PaletteEntry::fromColor(rgbColor(i, 0, 255 - i)));
    f.frames = {{1, 2, 3, 0, 4, 5, 6, 0}, {7, 8, 9, 0, 10, 11, 12, 0}};
    writeAvi(path, f);
    std::string out = dir.file("frame.bmp");
    // Frame 2 is the second frame: frames are numbered from 1.
    ProcessResult r = runProcess(cli("frame " + shellQuoted(path) + " 2 -o " + shellQuoted(out)));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<uint8_t> bytes = readFile(out);
    Bitmap b;
    b.LoadFromMemory(bytes.data(), bytes.size());
    EXPECT_EQ(b.PixelFormat(), PixelFormat::Bits24);
    EXPECT_EQ(b.pixel(0, 0), f.palette[10].color());
    EXPECT_EQ(b.pixel(2, 1), f.palette[9].color());
    // An existing file is kept unless --overwrite is given.
    r = runProcess(cli("frame " + shellQuoted(path) + " 1 -o " + shellQuoted(out)));
    EXPECT_EQ(r.exitCode, 1);
    r = runProcess(cli("frame " + shellQuoted(path) + " 1 -o " + shellQuoted(out) + " --overwrite"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
}

TEST(CliVideo, ErrorsAndUsage) {
    ScratchDir dir;
    ProcessResult r = runProcess(cli("info " + shellQuoted(dir.file("none.avi"))));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "kelvara-cli info: " + dir.file("none.avi") + ": " + FrameSourceMessages::OpenFile +
                         " (No such file)\n");
    if (samplesAvailable()) {
        r = runProcess(cli("frame " + shellQuoted(samplePath("fate-imc-audio-only.avi")) + " 1 -o " +
                           shellQuoted(dir.file("x.bmp"))));
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, "kelvara-cli frame: " + samplePath("fate-imc-audio-only.avi") + ": " +
                             FrameSourceMessages::OpenStream + "\n");
        EXPECT_FALSE(std::filesystem::exists(dir.file("x.bmp")));
    }
    std::string path = dir.file("one.avi");
    writeAvi(path, AviFixture{1, 1, 24, 0, {}, {}, 1, 25, {{0, 0, 0, 0}}});
    r = runProcess(cli("frame " + shellQuoted(path) + " 5 -o " + shellQuoted(dir.file("y.bmp"))));
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("frame 5 is outside 1..1"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("y.bmp")));
    for (const char* args : {"", "bogus", "info", "frame x.avi", "frame x.avi seven -o y.bmp", "info a b"}) {
        SCOPED_TRACE(args);
        r = runProcess(cli(args));
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find("kelvara-cli"), std::string::npos);
        EXPECT_NE(r.err.find("--help"), std::string::npos);
    }
    for (const char* args : {"--help", "info --help", "frame --help"}) {
        r = runProcess(cli(args));
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_NE(r.out.find("Usage: kelvara-cli"), std::string::npos);
    }
}
