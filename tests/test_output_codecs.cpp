// JPEG, PNG and JPEG 2000 writers, read back with libjpeg, libpng and OpenJPEG.
#include "output/ImageQuantizer.h"
#include "output/Jpeg2000Options.h"
#include "output/StillImageWriters.h"
#include "raster/Stream.h"
#include "support/OutputOracles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <jpeglib.h>
#include <png.h>

using namespace kelvara;
using kelvara::test::still::fillPicture;
using Bytes = std::vector<uint8_t>;

namespace {

Color smooth(int x, int y) {
    return rgbColor(40 + x * 3, 60 + y * 2, 200 - x - y);
}

// Mean absolute channel difference between a decoded picture and the source.
double meanError(const test::still::DecodedRgb& decoded, const Bitmap& bitmap) {
    double sum = 0;
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x) {
            Color a = decoded.at(x, y), b = bitmap.pixel(x, y);
            sum += std::abs(redOf(a) - redOf(b)) + std::abs(greenOf(a) - greenOf(b)) +
                   std::abs(blueOf(a) - blueOf(b));
        }
    return sum / (3.0 * bitmap.Width() * bitmap.Height());
}

// A stream that refuses every write.
class FullStream final : public Stream {
public:
    size_t read(void*, size_t) override { return 0; }
    void write(const void*, size_t) override { throw StreamError("disk full"); }
    uint64_t position() const override { return 0; }
    void seek(uint64_t) override {}
    uint64_t size() const override { return 0; }
};

} // namespace

// ---------------------------------------------------------------------------------------------
// JPEG

TEST(OutputJpeg, ColourSpacesAndSettings) {
    struct Case {
        JpegColorSpace space;
        int components;
        int fileSpace;
    } cases[] = {
        {JpegColorSpace::Rgb, 3, JCS_RGB},     {JpegColorSpace::Gray, 1, JCS_GRAYSCALE},
        {JpegColorSpace::YCbCr, 3, JCS_YCbCr}, {JpegColorSpace::Cmyk, 4, JCS_CMYK},
        {JpegColorSpace::YCbCrK, 4, JCS_YCCK},
    };
    Bitmap bitmap;
    fillPicture(bitmap, 37, 23, smooth);
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.space));
        TIOParams params;
        params.jpeg.quality = 95;
        params.jpeg.colorSpace = c.space;
        MemoryStream stream;
        std::vector<int> progress;
        writeJpeg(stream, bitmap, params, [&](int p) { progress.push_back(p); });
        test::still::JpegFacts facts = test::still::decodeWithLibjpeg(stream.bytes());
        EXPECT_EQ(facts.components, c.components);
        EXPECT_EQ(facts.colorSpace, c.fileSpace);
        // The library writes the density only in the JFIF header, which it gives YCbCr and grey files.
        if (c.space == JpegColorSpace::YCbCr || c.space == JpegColorSpace::Gray) {
            EXPECT_EQ(facts.densityUnit, 1);
            EXPECT_EQ(facts.xDensity, 96);
        }
        ASSERT_EQ(facts.picture.width, 37);
        if (c.space != JpegColorSpace::Gray) {
            EXPECT_LT(meanError(facts.picture, bitmap), 3.0);
        }
        ASSERT_FALSE(progress.empty());
        EXPECT_EQ(progress.back(), 100);
    }
}

TEST(OutputJpeg, BlackBecomesTheSmallestInkBeforeConversion) {
    // In the CMYK input black is 0, 0, 0, 1; read back it is black.
    Bitmap bitmap;
    fillPicture(bitmap, 16, 16, [](int, int) { return ColorBlack; });
    TIOParams params;
    params.jpeg.quality = 100;
    params.jpeg.colorSpace = JpegColorSpace::Cmyk;
    MemoryStream stream;
    writeJpeg(stream, bitmap, params, {});
    test::still::JpegFacts facts = test::still::decodeWithLibjpeg(stream.bytes());
    EXPECT_EQ(facts.picture.at(8, 8), ColorBlack);
}

TEST(OutputJpeg, OptionsChangeTheFile) {
    Bitmap bitmap;
    fillPicture(bitmap, 64, 48, smooth);
    auto encode = [&](auto change) {
        TIOParams params;
        change(params);
        MemoryStream stream;
        writeJpeg(stream, bitmap, params, {});
        return stream.bytes();
    };
    const Bytes plain = encode([](TIOParams&) {});
    const Bytes progressive = encode([](TIOParams& p) { p.jpeg.progressive = true; });
    EXPECT_TRUE(test::still::decodeWithLibjpeg(progressive).progressive);
    EXPECT_FALSE(test::still::decodeWithLibjpeg(plain).progressive);
    EXPECT_NE(encode([](TIOParams& p) { p.jpeg.optimalHuffman = true; }), plain);
    EXPECT_NE(encode([](TIOParams& p) { p.jpeg.smoothing = 50; }), plain);
    EXPECT_NE(encode([](TIOParams& p) { p.jpeg.dctMethod = JpegDctMethod::Float; }).size(), 0u);
    EXPECT_LT(encode([](TIOParams& p) { p.jpeg.quality = 10; }).size(), plain.size());
    // Quality 0 is taken as the lowest quality the library has.
    EXPECT_NO_THROW(encode([](TIOParams& p) { p.jpeg.quality = 0; }));
}

TEST(OutputJpeg, FailuresBecomeErrors) {
    Bitmap bitmap;
    fillPicture(bitmap, 300, 200, smooth);
    TIOParams params;
    FullStream full;
    try {
        writeJpeg(full, bitmap, params, {});
        ADD_FAILURE() << "no error";
    } catch (const StreamError& e) {
        EXPECT_STREQ(e.what(), "disk full");
    }
    Bitmap empty;
    MemoryStream stream;
    EXPECT_THROW(writeJpeg(stream, empty, params, {}), OutputError);
}

// ---------------------------------------------------------------------------------------------
// PNG

TEST(OutputPng, PaletteImageKeepsTheBackgroundInEntryZero) {
    Bitmap bitmap;
    fillPicture(bitmap, 29, 17, [](int x, int y) { return rgbColor(x * 8, y * 15, 128); });
    TIOParams params;
    params.bitsPerSample = 8;
    params.samplesPerPixel = 1;
    params.png.background = rgbColor(1, 2, 3);
    MemoryStream stream;
    writePng(stream, bitmap, params, {});
    test::still::PngFacts facts = test::still::decodeWithLibpng(stream.bytes());
    EXPECT_EQ(facts.colorType, PNG_COLOR_TYPE_PALETTE);
    EXPECT_EQ(facts.bitDepth, 8);
    ASSERT_EQ(facts.palette.size(), 256u);
    EXPECT_EQ(facts.palette[0], rgbColor(1, 2, 3));
    ASSERT_TRUE(facts.hasBackground);
    EXPECT_EQ(facts.backgroundIndex, 0);
    EXPECT_EQ(facts.pixelsPerMetreX, 3780u);
    RgbPicture picture = rgbPictureOf(bitmap);
    TImageQuantizer quantizer(picture, 255);
    for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 29; ++x) {
            const int index = quantizer.index(picture.at(x, y));
            ASSERT_EQ(facts.paletteIndexes[y * 29 + x], index + 1);
            ASSERT_EQ(facts.palette[index + 1], quantizer.palette()[index]);
        }
}

TEST(OutputPng, BlackAndWhiteIsOneBitGrey) {
    struct Case {
        Color a, b;
    } cases[] = {{rgbColor(0, 0, 128), rgbColor(255, 255, 0)},
                 {ColorWhite, ColorWhite},
                 {rgbColor(60, 0, 0), rgbColor(60, 0, 0)}};
    for (const Case& c : cases) {
        Bitmap bitmap;
        fillPicture(bitmap, 13, 5, [&](int x, int y) { return (x + y) % 3 ? c.a : c.b; });
        TIOParams params;
        params.bitsPerSample = 1;
        params.samplesPerPixel = 1;
        MemoryStream stream;
        writePng(stream, bitmap, params, {});
        test::still::PngFacts facts = test::still::decodeWithLibpng(stream.bytes());
        EXPECT_EQ(facts.colorType, PNG_COLOR_TYPE_GRAY);
        EXPECT_EQ(facts.bitDepth, 1);
        EXPECT_EQ(facts.backgroundGray, 0);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 13; ++x) {
                Color s = bitmap.pixel(x, y);
                Color expected = redOf(s) + greenOf(s) + blueOf(s) > 382 ? ColorWhite : ColorBlack;
                ASSERT_EQ(facts.picture.at(x, y), expected) << x << "," << y;
            }
    }
}

TEST(OutputPng, TrueColourIsExactWithEveryFilterCompressionAndInterlace) {
    Bitmap bitmap;
    fillPicture(bitmap, 23, 19, [](int x, int y) { return rgbColor(x * 11, y * 13, (x ^ y) * 7); });
    for (PngFilter filter : {PngFilter::None, PngFilter::Sub, PngFilter::Paeth})
        for (int compression : {0, 5, 9})
            for (bool interlaced : {false, true}) {
                SCOPED_TRACE(::testing::Message()
                             << static_cast<int>(filter) << " " << compression << " " << interlaced);
                TIOParams params;
                params.png.filter = filter;
                params.png.compression = compression;
                params.png.interlaced = interlaced;
                params.png.background = rgbColor(200, 100, 50);
                MemoryStream stream;
                int last = -1;
                writePng(stream, bitmap, params, [&](int p) { last = p; });
                EXPECT_EQ(last, 100);
                test::still::PngFacts facts = test::still::decodeWithLibpng(stream.bytes());
                EXPECT_EQ(facts.colorType, PNG_COLOR_TYPE_RGB);
                EXPECT_EQ(facts.interlace, interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE);
                EXPECT_EQ(facts.backgroundRgb, rgbColor(200, 100, 50));
                EXPECT_EQ(meanError(facts.picture, bitmap), 0.0);
            }
}

TEST(OutputPng, StreamFailureIsAnError) {
    Bitmap bitmap;
    fillPicture(bitmap, 8, 8, smooth);
    TIOParams params;
    FullStream full;
    EXPECT_THROW(writePng(full, bitmap, params, {}), StreamError);
}

// ---------------------------------------------------------------------------------------------
// JPEG 2000

TEST(OutputJpeg2000, OptionText) {
    TIOParams params;
    EXPECT_EQ(jpeg2000OptionText(params), "rate=0.5 prg=lrcp");
    params.jpeg2000.rate = 0.125;
    params.jp2ProgressionOrder = 1;
    EXPECT_EQ(jpeg2000OptionText(params), "rate=0.125 prg=rlcp");
    Jpeg2000EncoderSettings settings = parseJpeg2000Options("rate=0.25 prg=lrcp");
    EXPECT_EQ(settings.rate, 0.25);
    EXPECT_EQ(settings.progression, Jpeg2000Progression::Lrcp);
}

TEST(OutputJpeg2000, FilesAndCodeStreamsDecode) {
    Bitmap bitmap;
    fillPicture(bitmap, 41, 27, smooth);
    for (Jpeg2000Format format : {Jpeg2000Format::Jp2File, Jpeg2000Format::CodeStream}) {
        const bool codeStream = format == Jpeg2000Format::CodeStream;
        TIOParams params;
        params.jpeg2000.rate = 1.0;
        params.jpeg2000.format = format;
        MemoryStream stream;
        writeJpeg2000(stream, bitmap, params, {});
        const Bytes& bytes = stream.bytes();
        if (codeStream)
            EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 2), (Bytes{0xFF, 0x4F}));
        else
            EXPECT_EQ(Bytes(bytes.begin() + 4, bytes.begin() + 8), (Bytes{'j', 'P', ' ', ' '}));
        test::still::Jpeg2000Facts facts = test::still::decodeWithOpenJpeg(bytes, codeStream);
        ASSERT_EQ(facts.components, 3);
        EXPECT_EQ(facts.precision, 8);
        ASSERT_EQ(facts.width, 41);
        // Rate 1 keeps everything.
        for (int y = 0; y < 27; ++y)
            for (int x = 0; x < 41; ++x) {
                Color c = bitmap.pixel(x, y);
                const size_t i = static_cast<size_t>(y) * 41 + x;
                ASSERT_EQ(facts.samples[0][i], redOf(c));
                ASSERT_EQ(facts.samples[1][i], greenOf(c));
                ASSERT_EQ(facts.samples[2][i], blueOf(c));
            }
    }
}

TEST(OutputJpeg2000, RateLimitsTheSizeAndColourSpaces) {
    Bitmap bitmap;
    fillPicture(bitmap, 96, 64,
                [](int x, int y) { return rgbColor((x * 37) ^ (y * 11), x * y, (x + y) * 3); });
    auto encode = [&](double rate, Jpeg2000ColorSpace space) {
        TIOParams params;
        params.jpeg2000.rate = rate;
        params.jpeg2000.colorSpace = space;
        params.jpeg2000.format = Jpeg2000Format::CodeStream;
        MemoryStream stream;
        writeJpeg2000(stream, bitmap, params, {});
        return stream.bytes();
    };
    const size_t uncompressed = 96 * 64 * 3;
    const Bytes half = encode(0.5, Jpeg2000ColorSpace::YCbCr);
    EXPECT_LE(half.size(), uncompressed / 2 + 300);
    EXPECT_LT(encode(0.1, Jpeg2000ColorSpace::YCbCr).size(), half.size());
    EXPECT_EQ(encode(0.5, Jpeg2000ColorSpace::Rgb), half);
    EXPECT_NO_THROW(encode(0.0, Jpeg2000ColorSpace::Rgb));

    const Bytes grey = encode(1.0, Jpeg2000ColorSpace::Gray);
    test::still::Jpeg2000Facts facts = test::still::decodeWithOpenJpeg(grey, true);
    ASSERT_EQ(facts.components, 1);
    Color c = bitmap.pixel(5, 7);
    EXPECT_EQ(facts.samples[0][7 * 96 + 5], (21 * redOf(c) + 71 * greenOf(c) + 8 * blueOf(c)) / 100);
}

TEST(OutputJpeg2000, TinyPicturesAndFailures) {
    for (int size : {1, 2, 3, 17}) {
        Bitmap bitmap;
        fillPicture(bitmap, size, size, smooth);
        TIOParams params;
        MemoryStream stream;
        writeJpeg2000(stream, bitmap, params, {});
        EXPECT_EQ(test::still::decodeWithOpenJpeg(stream.bytes(), false).width, size);
    }
    Bitmap bitmap;
    fillPicture(bitmap, 8, 8, smooth);
    TIOParams params;
    FullStream full;
    EXPECT_THROW(writeJpeg2000(full, bitmap, params, {}), Error);
}
