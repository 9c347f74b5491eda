// Save options: the dialog's defaults and colour lists, "OK", writer parameters, file names,
// saving files, and the kelvara-cli write command.
#include "output/SaveOptions.h"
#include "output/StillImageCodec.h"
#include "output/StillImageWriters.h"
#include "raster/Stream.h"
#include "support/OutputOracles.h"
#include "support/TestUtil.h"

#include <filesystem>

#include <gtest/gtest.h>

#include <fstream>

using namespace kelvara;
using kelvara::test::ProcessResult;
using kelvara::test::runProcess;
using kelvara::test::ScratchDir;
using kelvara::test::shellQuoted;
using kelvara::test::still::fillPicture;
using Bytes = std::vector<uint8_t>;

namespace {

Color gradient(int x, int y) {
    return rgbColor(x * 9 % 256, y * 17 % 256, (x * y) % 256);
}

Bytes readBytes(const std::string& path) {
    return readFile(path);
}

} // namespace

TEST(OutputSaveOptions, StartFromTheDialogDefaults) {
    StillImageSaveOptions options;
    EXPECT_EQ(options.jpeg.quality, 50);
    EXPECT_EQ(options.jpeg.colorSpace, JpegColorSpace::YCbCrK);
    EXPECT_EQ(options.pcx.compression, 1);
    EXPECT_TRUE(options.tga.compressed);
    EXPECT_EQ(options.png.compression, 5);
    EXPECT_EQ(options.jpeg2000.rate, 0.5);
    EXPECT_EQ(options.jpeg2000.colorSpace, Jpeg2000ColorSpace::YCbCr);
    EXPECT_EQ((ColorDepth{options.bitsPerSample, options.samplesPerPixel}), (ColorDepth{8, 3}));

    struct Case {
        StillImageFormat format;
        ColorDepth depth;
    } cases[] = {
        {StillImageFormat::Bmp, {8, 3}},  {StillImageFormat::Pcx, {8, 1}},
        {StillImageFormat::Png, {8, 3}},  {StillImageFormat::Tga, {8, 3}},
        {StillImageFormat::Tiff, {8, 3}}, {StillImageFormat::Jpeg2000, {8, 3}},
        {StillImageFormat::Gif, {8, 3}},  {StillImageFormat::Jpeg, {8, 3}},
    };
    for (const Case& c : cases) {
        StillImageSaveOptions d = defaultSaveOptions(c.format);
        EXPECT_EQ((ColorDepth{d.bitsPerSample, d.samplesPerPixel}), c.depth)
            << stillImageFormatName(c.format);
    }
}

TEST(OutputSaveOptions, ColourListsMapToDepths) {
    EXPECT_EQ(colorDepth(StillImageFormat::Bmp, ColorsEntry::C65536), (ColorDepth{5, 3}));
    EXPECT_EQ(colorDepth(StillImageFormat::Tiff, ColorsEntry::C65536), (ColorDepth{16, 1}));
    EXPECT_EQ(colorDepth(StillImageFormat::Bmp, ColorsEntry::C16M32),
              colorDepth(StillImageFormat::Bmp, ColorsEntry::C16M));
    EXPECT_EQ(colorDepth(StillImageFormat::Pcx, ColorsEntry::BlackWhite), (ColorDepth{1, 1}));
    EXPECT_EQ(colorDepth(StillImageFormat::Png, ColorsEntry::C256), (ColorDepth{8, 1}));
    EXPECT_EQ(colorsList(StillImageFormat::Gif).size(), 8u);
    EXPECT_TRUE(colorsList(StillImageFormat::Jpeg).empty());
}

TEST(OutputSaveOptions, TiffListsAreCoupled) {
    SaveParameterSet set;
    chooseTiffPhotometric(set, TiffPhotometric::RgbPalette);
    EXPECT_EQ((ColorDepth{set.tiffBitsPerSample, set.tiffSamplesPerPixel}), (ColorDepth{8, 1}));

    set = {};
    chooseTiffColors(set, ColorsEntry::C16);
    EXPECT_EQ(set.tiff.photometric, TiffPhotometric::RgbPalette);
    EXPECT_EQ((ColorDepth{set.tiffBitsPerSample, set.tiffSamplesPerPixel}), (ColorDepth{4, 1}));

    set = {};
    chooseTiffColors(set, ColorsEntry::C256);
    EXPECT_EQ(set.tiff.photometric, TiffPhotometric::RgbPalette);
    set.tiff.photometric = TiffPhotometric::BlackIsZero;
    chooseTiffColors(set, ColorsEntry::C256);
    EXPECT_EQ(set.tiff.photometric, TiffPhotometric::BlackIsZero);

    set = {};
    chooseTiffColors(set, ColorsEntry::BlackWhite);
    EXPECT_EQ(set.tiff.photometric, TiffPhotometric::BlackIsZero);
    EXPECT_EQ((ColorDepth{set.tiffBitsPerSample, set.tiffSamplesPerPixel}), (ColorDepth{1, 1}));
    chooseTiffPhotometric(set, TiffPhotometric::WhiteIsZero);
    EXPECT_EQ(set.tiffBitsPerSample, 1); // B/W stays with a grey photometric

    chooseTiffPhotometric(set, TiffPhotometric::Cmyk);
    EXPECT_EQ((ColorDepth{set.tiffBitsPerSample, set.tiffSamplesPerPixel}), (ColorDepth{8, 4}));
    chooseTiffPhotometric(set, TiffPhotometric::BlackIsZero);
    EXPECT_EQ((ColorDepth{set.tiffBitsPerSample, set.tiffSamplesPerPixel}), (ColorDepth{8, 1}));
    chooseTiffPhotometric(set, TiffPhotometric::TranspMask);
    EXPECT_EQ((ColorDepth{set.tiffBitsPerSample, set.tiffSamplesPerPixel}), (ColorDepth{8, 1}));
}

TEST(OutputSaveOptions, OkCopiesThePageInFront) {
    SaveParameterSet set;
    set.jpeg.quality = 77;
    set.tga.name = "name";
    set.tga.description = "description";
    set.tgaColors = ColorsEntry::C256;
    set.gifBitsPerPixel = 3;
    set.bmpColors = ColorsEntry::C16M32;
    set.jpeg2000.colorSpace = Jpeg2000ColorSpace::Gray;

    StillImageSaveOptions options;
    copyPageToSaveOptions(StillImageFormat::Tga, set, options);
    EXPECT_EQ(options.tga.name, "name");
    EXPECT_EQ(options.jpeg.quality, 50); // other pages are not copied
    EXPECT_EQ((ColorDepth{options.bitsPerSample, options.samplesPerPixel}), (ColorDepth{8, 1}));

    copyPageToSaveOptions(StillImageFormat::Gif, set, options);
    EXPECT_EQ(options.bitsPerSample, 3);
    EXPECT_EQ(options.samplesPerPixel, 1); // unchanged by the GIF page

    copyPageToSaveOptions(StillImageFormat::Bmp, set, options);
    EXPECT_EQ((ColorDepth{options.bitsPerSample, options.samplesPerPixel}), (ColorDepth{8, 3}));

    copyPageToSaveOptions(StillImageFormat::Jpeg2000, set, options);
    EXPECT_EQ((ColorDepth{options.bitsPerSample, options.samplesPerPixel}), (ColorDepth{8, 1}));
    EXPECT_EQ(options.jpeg2000.colorSpace, Jpeg2000ColorSpace::Gray);

    copyPageToSaveOptions(StillImageFormat::Jpeg, set, options);
    EXPECT_EQ(options.jpeg.quality, 77);

    EXPECT_EQ(writerParams(options).jpeg.quality, 77);
    // "Save" writes the TGA name as the image ID and the description as the author text.
    Bitmap bitmap;
    fillPicture(bitmap, 3, 2, gradient);
    const Bytes tga = encodeStillImage(bitmap, options, StillImageFormat::Tga).bytes;
    ASSERT_EQ(tga[0], 5);
    EXPECT_EQ(std::string(tga.begin() + 18, tga.begin() + 22), "name");
    const size_t extension = tga[tga.size() - 26] | tga[tga.size() - 25] << 8;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(tga.data() + extension + 2)), "description");
}

TEST(OutputSaveOptions, FileNamesAndExtensions) {
    EXPECT_EQ(stillImageFileName("frame", 1, StillImageFormat::Bmp), "frame1.bmp");
    EXPECT_EQ(stillImageFileName("out/shot", 256, StillImageFormat::Jpeg2000), "out/shot256.jp2");
    const std::pair<StillImageFormat, const char*> extensions[] = {
        {StillImageFormat::Bmp, ".bmp"},      {StillImageFormat::Jpeg, ".jpg"},
        {StillImageFormat::Gif, ".gif"},      {StillImageFormat::Tiff, ".tif"},
        {StillImageFormat::Pcx, ".pcx"},      {StillImageFormat::Tga, ".tga"},
        {StillImageFormat::Jpeg2000, ".jp2"}, {StillImageFormat::Png, ".png"},
    };
    for (const auto& [format, extension] : extensions) {
        EXPECT_STREQ(stillImageExtension(format), extension);
        EXPECT_EQ(stillImageFormatFromName(stillImageFormatName(format)), format);
    }
    EXPECT_FALSE(stillImageFormatFromName("jpeg").has_value());
}

TEST(OutputSaveOptions, SavingNeverReplacesAFileUnasked) {
    ScratchDir dir;
    Bitmap bitmap;
    fillPicture(bitmap, 6, 4, gradient);
    const std::string path = dir.file("frame1.bmp");
    {
        std::ofstream existing(path);
        existing << "keep me";
    }
    StillImageSaveOptions options;
    EXPECT_THROW(saveStillImageFile(bitmap, options, StillImageFormat::Bmp, path, ExistingFile::Keep),
                 OutputError);
    EXPECT_EQ(readBytes(path), (Bytes{'k', 'e', 'e', 'p', ' ', 'm', 'e'}));

    saveStillImageFile(bitmap, options, StillImageFormat::Bmp, path, ExistingFile::Replace);
    Bitmap back;
    Bytes file = readBytes(path);
    back.LoadFromMemory(file.data(), file.size());
    EXPECT_EQ(back.pixel(5, 3), gradient(5, 3));

    const std::string fresh = dir.file("frame2.png");
    saveStillImageFile(bitmap, defaultSaveOptions(StillImageFormat::Png), StillImageFormat::Png, fresh,
                       ExistingFile::Keep);
    EXPECT_EQ(test::still::decodeWithLibpng(readBytes(fresh)).picture.at(2, 2), gradient(2, 2));
    ProcessResult listing = runProcess("ls -A " + shellQuoted(dir.path()));
    EXPECT_EQ(listing.out, "frame1.bmp\nframe2.png\n"); // no temporary files left
}

TEST(OutputSaveOptions, EveryFormatWritesWithTheDialogDefaults) {
    Bitmap bitmap;
    fillPicture(bitmap, 19, 11, gradient);
    for (StillImageFormat format :
         {StillImageFormat::Bmp, StillImageFormat::Jpeg, StillImageFormat::Gif, StillImageFormat::Tiff,
          StillImageFormat::Pcx, StillImageFormat::Tga, StillImageFormat::Jpeg2000, StillImageFormat::Png}) {
        MemoryStream stream;
        int last = -1;
        writeStillImage(bitmap, defaultSaveOptions(format), format, stream, [&](int p) { last = p; });
        EXPECT_GT(stream.size(), 18u) << stillImageFormatName(format);
        EXPECT_EQ(last, 100) << stillImageFormatName(format);
    }
}

// ---------------------------------------------------------------------------------------------
// kelvara-cli write

namespace {

ProcessResult cli(const std::string& arguments) {
    return runProcess(std::string(KELVARA_CLI_PATH) + " " + arguments);
}

} // namespace

TEST(OutputWriteCommand, WritesEachFormatFromABmp) {
    ScratchDir dir;
    Bitmap bitmap;
    fillPicture(bitmap, 21, 13, gradient);
    const std::string in = dir.file("in.bmp");
    Bytes bmp = encodeBmp24(bitmap);
    writeFileAtomically(in, bmp.data(), bmp.size());

    struct Case {
        const char* args;
        const char* out;
    } cases[] = {
        {"--format bmp --colors 256 --bmp-rle", "a.bmp"},
        {"--format jpg --jpeg-quality 90 --jpeg-colorspace ycbcr --jpeg-progressive", "a.jpg"},
        {"--format gif --colors 16 --gif-interlaced --gif-background 00FF00", "a.gif"},
        {"--format tif --tiff-compression lzw", "a.tif"},
        {"--format tif --colors bw --tiff-compression g4fax", "b.tif"},
        {"--format pcx --no-pcx-rle --colors 16m", "a.pcx"},
        {"--format tga --tga-name Shot --no-tga-compressed", "a.tga"},
        {"--format jp2 --jp2-rate 1 --jp2-codestream", "a.j2k"},
        {"--format png --png-filter paeth --png-interlaced", "a.png"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const std::string out = dir.file(c.out);
        ProcessResult r = cli("write " + shellQuoted(in) + " " + shellQuoted(out) + " " + c.args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(
            r.out.rfind("kelvara-cli write: wrote " + out + ": Size: 21 x 13 pixels  Compressed size: ", 0),
            0u)
            << r.out;
        ASSERT_GT(readBytes(out).size(), 18u);
    }
    // A few read back to the picture.
    EXPECT_EQ(test::still::decodeWithLibpng(readBytes(dir.file("a.png"))).picture.at(7, 5), gradient(7, 5));
    EXPECT_EQ(test::still::decodeWithLibtiff(readBytes(dir.file("a.tif"))).compression, 5);
    EXPECT_EQ(test::still::decodeWithLibtiff(readBytes(dir.file("b.tif"))).compression, 4);
    EXPECT_EQ(test::still::decodeWithOpenJpeg(readBytes(dir.file("a.j2k")), true).samples[0][3],
              redOf(gradient(3, 0)));
    EXPECT_EQ(test::still::decodeWithImageMagick(readBytes(dir.file("a.pcx")), "pcx").at(4, 9),
              gradient(4, 9));
    EXPECT_EQ(readBytes(dir.file("a.tga"))[0], 5);
}

TEST(OutputWriteCommand, UsageErrorsAndExistingFiles) {
    ScratchDir dir;
    Bitmap bitmap;
    fillPicture(bitmap, 3, 3, gradient);
    const std::string in = dir.file("in.bmp");
    Bytes bmp = encodeBmp24(bitmap);
    writeFileAtomically(in, bmp.data(), bmp.size());
    const std::string out = dir.file("out.png");
    const std::string files = shellQuoted(in) + " " + shellQuoted(out);

    const char* usageErrors[] = {
        "--format png --png-filter up",      "--format jpeg",
        "--format png --jpeg-quality 90",    "--format bmp --colors 4",
        "--format png --png-compression 10", "--format gif --gif-background red",
        "--format jp2 --jp2-rate 1.5",       "--format png --nonsense",
    };
    for (const char* args : usageErrors) {
        ProcessResult r = cli("write " + files + " " + args);
        EXPECT_EQ(r.exitCode, 2) << args;
        EXPECT_NE(r.err.find("Usage: kelvara-cli write"), std::string::npos) << args;
        EXPECT_FALSE(std::filesystem::exists(out)) << args;
    }

    EXPECT_EQ(cli("write " + files + " --format png").exitCode, 0);
    ProcessResult again = cli("write " + files + " --format png --png-compression 9");
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.err.find("exists"), std::string::npos);
    EXPECT_EQ(cli("write " + files + " --format png --overwrite").exitCode, 0);

    // A file that is not a BMP is an error with the picture reader's message, after the file's name.
    const std::string fake = dir.file("fake.bmp");
    writeFileAtomically(fake, "not a bitmap", 12);
    ProcessResult notBmp =
        cli("write " + shellQuoted(fake) + " " + shellQuoted(dir.file("x.bmp")) + " --format bmp");
    EXPECT_EQ(notBmp.exitCode, 1);
    EXPECT_EQ(notBmp.err,
              "kelvara-cli write: \"" + fake + "\": " + RasterMessages::invalidBitmap("cut short") + "\n");
    ProcessResult missing = cli("write " + shellQuoted(dir.file("none.bmp")) + " " +
                                shellQuoted(dir.file("y.bmp")) + " --format bmp");
    EXPECT_EQ(missing.exitCode, 1);
}
