// The picture reader on files our own still-image writers make, compared with what ImageMagick
// decodes from the same files.
#include "input/PictureReader.h"
#include "output/ImageQuantizer.h"
#include "output/StillImageWriters.h"
#include "raster/Stream.h"

#include "support/InputFixtures.h"
#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

using namespace kelvara;
using namespace kelvara::test;

namespace {

// The picture as ffmpeg decodes it, as top-down RGB bytes.
std::vector<uint8_t> ffmpegRgb(const std::string& path) {
    ScratchDir dir;
    const std::string raw = dir.file("pixels.rgb");
    if (runProcess("ffmpeg -loglevel error -i " + shellQuoted(path) + " -f rawvideo -pix_fmt rgb24 " +
                   shellQuoted(raw))
            .exitCode != 0)
        return {};
    std::ifstream in(raw, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace

TEST(InputRoundTrip, ReadsWhatOurWritersWrite) {
    struct Case {
        const char* name;
        std::function<void(TIOParams&)> setUp;
        WriteResult (*write)(Stream&, const Bitmap&, const TIOParams&, const ProgressCallback&);
        bool ffmpegOracle = false;
    };
    const Case cases[] = {
        {"plain.gif", [](TIOParams&) {}, writeGif},
        {"interlaced.gif", [](TIOParams& p) { p.gif.interlaced = true; }, writeGif},
        {"lzw.tif", [](TIOParams& p) { p.tiff.compression = TiffCompression::Lzw; }, writeTiff},
        {"packbits.tif", [](TIOParams& p) { p.tiff.compression = TiffCompression::PackBits; }, writeTiff},
        {"none.tif", [](TIOParams&) {}, writeTiff},
        {"g4.tif",
         [](TIOParams& p) {
             p.bitsPerSample = 1;
             p.samplesPerPixel = 1;
             p.tiff.photometric = TiffPhotometric::WhiteIsZero;
             p.tiff.compression = TiffCompression::G4Fax;
         },
         writeTiff},
        // ImageMagick reads one-bit PCX with the two colours the other way round from the header
        // palette; ffmpeg follows the palette, as we do.
        {"bits1.pcx",
         [](TIOParams& p) {
             p.bitsPerSample = 1;
             p.samplesPerPixel = 1;
         },
         writePcx, true},
        {"bits4.pcx",
         [](TIOParams& p) {
             p.bitsPerSample = 4;
             p.samplesPerPixel = 1;
         },
         writePcx},
        {"bits8.pcx",
         [](TIOParams& p) {
             p.bitsPerSample = 8;
             p.samplesPerPixel = 1;
         },
         writePcx},
        {"true.pcx", [](TIOParams&) {}, writePcx},
        {"true.tga", [](TIOParams&) {}, writeTga},
        {"raw.tga", [](TIOParams& p) { p.tga.compressed = false; }, writeTga},
        {"palette.tga",
         [](TIOParams& p) {
             p.bitsPerSample = 8;
             p.samplesPerPixel = 1;
         },
         writeTga},
        {"rle4.bmp",
         [](TIOParams& p) {
             p.bitsPerSample = 4;
             p.samplesPerPixel = 1;
             p.bmp.compression = 1;
         },
         writeBmp},
        {"picture.png", [](TIOParams&) {}, writePng},
        {"picture.jpg", [](TIOParams&) {}, writeJpeg},
    };
    ScratchDir dir;
    writePatternPpm(dir.file("pattern.ppm"), 37, 23);
    Bitmap pattern;
    ASSERT_TRUE(readPictureFile(dir.file("pattern.ppm"), pattern));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TIOParams params;
        c.setUp(params);
        MemoryStream stream;
        try {
            c.write(stream, pattern, params, {});
        } catch (const std::exception& e) {
            FAIL() << "writer: " << e.what();
        }
        const std::string path = dir.file(c.name);
        writeFileAtomically(path, stream.bytes().data(), stream.bytes().size());
        int width = 0, height = 0;
        std::vector<uint8_t> expected = imageMagickRgb(path, width, height);
        ASSERT_FALSE(expected.empty()) << "ImageMagick cannot read it";
        if (c.ffmpegOracle)
            expected = ffmpegRgb(path);
        Bitmap picture;
        try {
            ASSERT_TRUE(readPictureFile(path, picture));
        } catch (const std::exception& e) {
            FAIL() << "reader: " << e.what();
        }
        EXPECT_EQ(maxChannelDifference(picture, expected, width, height), 0);
    }
}

TEST(InputRoundTrip, ReadsOurBlackAndWhiteTarga) {
    // The writer's 1-bit black-and-white Targa, which other readers do not take: each pixel comes
    // back black or white as the writer stored it.
    ScratchDir dir;
    writePatternPpm(dir.file("pattern.ppm"), 37, 23);
    Bitmap pattern;
    ASSERT_TRUE(readPictureFile(dir.file("pattern.ppm"), pattern));
    TIOParams params;
    params.bitsPerSample = 1;
    params.samplesPerPixel = 1;
    MemoryStream stream;
    writeTga(stream, pattern, params, {});
    Bitmap picture;
    decodePicture(PictureFileType::Targa, stream.bytes().data(), stream.size(), picture);
    const std::vector<uint8_t> bits = blackWhiteBits(twoColorPicture(rgbPictureOf(pattern)));
    ASSERT_EQ(picture.Width(), 37);
    ASSERT_EQ(picture.Height(), 23);
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37; ++x)
            ASSERT_EQ(picture.pixel(x, y), bits[size_t(y) * 37 + x] ? ColorWhite : ColorBlack)
                << x << ", " << y;
    // A file cut short is refused.
    EXPECT_THROW(decodePicture(PictureFileType::Targa, stream.bytes().data(), 18 + 1 + 40, picture),
                 PictureReadError);
}
