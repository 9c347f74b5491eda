// kelvara-cli animate, run as a user would run it: the file equals the document the library
// builds the conversions' way, giflib reads it, and the options and refusals behave.
#include "gif/GifDocument.h"
#include "output/StillImageWriters.h"
#include "raster/Bitmap.h"
#include "raster/Stream.h"
#include "support/GifDecode.h"
#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace kelvara;
using namespace kelvara::test;

namespace {

std::string cli(const std::string& args) {
    return shellQuoted(KELVARA_CLI_PATH) + " animate " + args;
}

// Three BMP frames in dir; returns their paths.
std::vector<std::string> writeFrames(const ScratchDir& dir, int count, int w, int h) {
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        auto b = gradientNoiseFrame(w, h, static_cast<uint32_t>(i + 1));
        const std::string path = dir.file("frame" + std::to_string(i) + ".bmp");
        const auto bytes = encodeBmp24(*b);
        writeFileAtomically(path, bytes.data(), bytes.size());
        paths.push_back(path);
    }
    return paths;
}

std::string joined(const std::vector<std::string>& paths) {
    std::string s;
    for (const auto& p : paths)
        s += " " + shellQuoted(p);
    return s;
}

// The file the library writes for the same pictures, built the conversions' way.
std::vector<uint8_t> libraryGif(int count, int w, int h, uint16_t delay, bool loop, int encoder) {
    TGIFDocument doc;
    doc.SetReductionMode(GifReductionMode::QuantizeWithSystemColors);
    doc.SetDitherKind(GifDitherKind::FloydSteinberg);
    for (int i = 0; i < count; ++i) {
        auto b = gradientNoiseFrame(w, h, static_cast<uint32_t>(i + 1));
        const int index = doc.AddFrame(*b);
        if (index == 0 && loop)
            doc.Frame(index).Extensions().Append(std::make_unique<TGIFAppExtNSLoop>(&doc.Frame(index)));
        auto gce = std::make_unique<TGIFGraphicControlExtension>(&doc.Frame(index));
        gce->SetDelayHundredths(delay);
        doc.Frame(index).Extensions().Append(std::move(gce));
    }
    doc.SetEncoderKind(static_cast<uint8_t>(encoder));
    MemoryStream out;
    doc.SaveToStream(out);
    return out.bytes();
}

} // namespace

TEST(GifCli, AnimateWritesTheConversionsDocument) {
    ScratchDir dir;
    const auto frames = writeFrames(dir, 3, 37, 23);
    const std::string out = dir.file("out.gif");
    ProcessResult r = runProcess(cli("-o " + shellQuoted(out) + joined(frames)));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto bytes = readFile(out);
    EXPECT_EQ(bytes, libraryGif(3, 37, 23, 10, true, 0));
    const auto image = decodeWithGiflib(bytes);
    EXPECT_EQ(image.loopCount, 0);
    ASSERT_EQ(image.frames.size(), 3u);
    for (const auto& f : image.frames) {
        EXPECT_EQ(f.delay, 10);
        EXPECT_EQ(f.colors.size(), 256u);
        EXPECT_EQ(f.width, 37);
    }
}

TEST(GifCli, AnimateOptions) {
    ScratchDir dir;
    const auto frames = writeFrames(dir, 2, 20, 30);
    const std::string out = dir.file("out.gif");
    ProcessResult r =
        runProcess(cli("--delay 25 --no-loop --encoder rle -o " + shellQuoted(out) + joined(frames)));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto bytes = readFile(out);
    EXPECT_EQ(bytes, libraryGif(2, 20, 30, 25, false, 1));
    const auto image = decodeWithGiflib(bytes);
    EXPECT_EQ(image.loopCount, -1);
    EXPECT_EQ(image.frames[1].delay, 25);

    // Another reduction and ditherer, then LZW again: giflib reads what the library made.
    r = runProcess(cli("--reduction 6 --dither 3 --overwrite -o " + shellQuoted(out) + joined(frames)));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    TGIFDocument doc;
    MemoryStream in(readFile(out));
    doc.LoadFromStream(in);
    const auto image2 = decodeWithGiflib(readFile(out));
    ASSERT_EQ(image2.frames.size(), 2u);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(image2.frames[static_cast<size_t>(i)].indices,
                  std::vector<uint8_t>(doc.Frame(i).Data(), doc.Frame(i).Data() + doc.Frame(i).DataSize()));
    for (uint8_t v : image2.frames[0].indices)
        EXPECT_LT(v, 216);
}

TEST(GifCli, AnimateRefusesToReplaceAndReportsUsage) {
    ScratchDir dir;
    const auto frames = writeFrames(dir, 1, 8, 8);
    const std::string out = dir.file("out.gif");
    writeFileAtomically(out, "keep", 4);
    ProcessResult r = runProcess(cli("-o " + shellQuoted(out) + joined(frames)));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("exists"), std::string::npos);
    EXPECT_EQ(readFile(out), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));

    EXPECT_EQ(runProcess(cli(joined(frames))).exitCode, 2);                         // no -o
    EXPECT_EQ(runProcess(cli("-o " + shellQuoted(dir.file("a.gif")))).exitCode, 2); // no picture
    EXPECT_EQ(runProcess(cli("--dither 7 -o x.gif" + joined(frames))).exitCode, 2);
    EXPECT_EQ(runProcess(cli("--reduction 9 -o x.gif" + joined(frames))).exitCode, 2);
    EXPECT_EQ(runProcess(cli("--delay 70000 -o x.gif" + joined(frames))).exitCode, 2);
    EXPECT_EQ(runProcess(cli("--encoder zip -o x.gif" + joined(frames))).exitCode, 2);
    EXPECT_EQ(runProcess(cli("--help")).exitCode, 0);

    // A picture that is not a BMP: the reader's message, exit 1, nothing written.
    const std::string bad = dir.file("bad.bmp");
    writeFileAtomically(bad, "not a bmp", 9);
    r = runProcess(cli("-o " + shellQuoted(dir.file("b.gif")) + " " + shellQuoted(bad)));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(std::filesystem::exists(dir.file("b.gif")));

    // Mode 0 keeps a picture of few colours exactly; more than 256 give the engine's message.
    r = runProcess(cli("--reduction 0 -o " + shellQuoted(dir.file("c.gif")) + joined(frames)));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    ScratchDir many;
    const auto big = writeFrames(many, 1, 60, 60);
    r = runProcess(cli("--reduction 0 -o " + shellQuoted(many.file("d.gif")) + joined(big)));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "kelvara-cli animate: Color table overflow\n");
}
