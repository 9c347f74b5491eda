// The TIFF writer: layout rules, IFD, PackBits, LZW and the CCITT codings, read back with libtiff.
#include "output/ImageQuantizer.h"
#include "output/LzwCodecs.h"
#include "output/StillImageWriters.h"
#include "raster/Lzw.h"
#include "raster/Stream.h"
#include "support/OutputOracles.h"

#include <gtest/gtest.h>

#include <random>

using namespace kelvara;
using kelvara::test::still::decodeWithLibtiff;
using kelvara::test::still::fillPicture;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes writeTiffBytes(const Bitmap& bitmap, TIOParams& params) {
    MemoryStream stream;
    writeTiff(stream, bitmap, params, {});
    return stream.bytes();
}

uint32_t le32(const Bytes& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}
uint16_t le16(const Bytes& b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

std::vector<uint16_t> ifdTags(const Bytes& file) {
    const uint32_t ifd = le32(file, 4);
    std::vector<uint16_t> tags;
    for (int i = 0; i < le16(file, ifd); ++i)
        tags.push_back(le16(file, ifd + 2 + 12 * i));
    return tags;
}

TIOParams tiffParams(TiffCompression compression, TiffPhotometric photometric, int bits, int samples) {
    TIOParams params;
    params.tiff.compression = compression;
    params.tiff.photometric = photometric;
    params.bitsPerSample = bits;
    params.samplesPerPixel = samples;
    return params;
}

Color gradient(int x, int y) {
    return rgbColor(x * 9 % 256, y * 17 % 256, (x * y) % 256);
}

// Long runs of both colours, runs longer than 64 and 2560 pixels, and rows that change little.
bool bilevelPixel(int x, int y) {
    if (y % 7 == 3)
        return x > 70 && x < 2700;
    return ((x / (3 + y % 5)) + y / 2) % 2 == 0 || (x > 2800 && x < 2805);
}

} // namespace

TEST(OutputTiff, TwoByTwoDefaultLayout) {
    Bitmap bitmap;
    fillPicture(bitmap, 2, 2, [](int x, int y) { return rgbColor(10 + x, 20 + y, 30); });
    TIOParams params = tiffParams(TiffCompression::Uncompressed, TiffPhotometric::Rgb, 8, 3);
    Bytes file = writeTiffBytes(bitmap, params);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 4), (Bytes{'I', 'I', 42, 0}));
    EXPECT_EQ(le32(file, 4), 58u);
    EXPECT_EQ(Bytes(file.begin() + 8, file.begin() + 14), (Bytes{8, 0, 8, 0, 8, 0}));
    EXPECT_EQ(Bytes(file.begin() + 14, file.begin() + 20), (Bytes{10, 20, 30, 11, 20, 30}));
    EXPECT_EQ(le32(file, 26), 96u); // XResolution 96 / 1
    EXPECT_EQ(le32(file, 30), 1u);
    EXPECT_EQ(ifdTags(file),
              (std::vector<uint16_t>{256, 257, 258, 259, 262, 273, 277, 278, 279, 282, 283, 286, 287, 296}));
    EXPECT_EQ(file.size(), 58u + 2 + 14 * 12 + 4);
    // StripOffsets and StripByteCounts.
    EXPECT_EQ(le32(file, 58 + 2 + 12 * 5 + 8), 14u);
    EXPECT_EQ(le32(file, 58 + 2 + 12 * 8 + 8), 12u);
}

TEST(OutputTiff, PackBitsRows) {
    Bytes same(130, 0x42);
    Bytes out;
    output_detail::packBitsRow(same.data(), same.size(), out);
    EXPECT_EQ(out, (Bytes{0x81, 0x42, 0x01, 0x42, 0x42}));

    // Three equal bytes stay in the literal run; four make a repeat.
    const Bytes row = {1, 2, 2, 2, 3, 4, 4, 4, 4, 5};
    out.clear();
    output_detail::packBitsRow(row.data(), row.size(), out);
    EXPECT_EQ(out, (Bytes{4, 1, 2, 2, 2, 3, 0xFD, 4, 0, 5}));

    Bytes distinct(200);
    for (int i = 0; i < 200; ++i)
        distinct[i] = static_cast<uint8_t>(i);
    out.clear();
    output_detail::packBitsRow(distinct.data(), distinct.size(), out);
    ASSERT_EQ(out.size(), 202u);
    EXPECT_EQ(out[0], 127);
    EXPECT_EQ(out[129], 71);
}

TEST(OutputTiff, LibtiffReadsEveryVariant) {
    struct Case {
        const char* name;
        TiffCompression compression;
        TiffPhotometric photometric;
        int bits, samples;
        int width, height;
        int expectCompression, expectPhotometric, expectBits, expectSamples;
    } cases[] = {
        {"rgb", TiffCompression::Uncompressed, TiffPhotometric::Rgb, 8, 3, 7, 5, 1, 2, 8, 3},
        {"rgb lzw", TiffCompression::Lzw, TiffPhotometric::Rgb, 8, 3, 61, 43, 5, 2, 8, 3},
        {"rgb packbits", TiffCompression::PackBits, TiffPhotometric::Rgb, 8, 3, 31, 9, 32773, 2, 8, 3},
        {"65536 becomes rgb", TiffCompression::Uncompressed, TiffPhotometric::Rgb, 16, 1, 5, 4, 1, 2, 8, 3},
        {"g4 on 16M is uncompressed rgb", TiffCompression::G4Fax, TiffPhotometric::Rgb, 8, 3, 5, 4, 1, 2, 8,
         3},
        {"jpeg is uncompressed", TiffCompression::Jpeg, TiffPhotometric::Rgb, 8, 3, 5, 4, 1, 2, 8, 3},
        {"old jpeg is uncompressed", TiffCompression::OldJpeg, TiffPhotometric::Rgb, 8, 3, 5, 4, 1, 2, 8, 3},
        {"ycbcr is written as rgb", TiffCompression::Uncompressed, TiffPhotometric::YCbCr, 8, 3, 5, 4, 1, 2,
         8, 3},
        {"grey with 16M is rgb", TiffCompression::Uncompressed, TiffPhotometric::BlackIsZero, 8, 3, 5, 4, 1,
         2, 8, 3},
        {"palette 256", TiffCompression::Uncompressed, TiffPhotometric::RgbPalette, 8, 1, 13, 11, 1, 3, 8, 1},
        {"palette 256 lzw", TiffCompression::Lzw, TiffPhotometric::RgbPalette, 8, 1, 13, 11, 5, 3, 8, 1},
        {"palette 16 packbits", TiffCompression::PackBits, TiffPhotometric::RgbPalette, 4, 1, 13, 11, 32773,
         3, 4, 1},
        {"palette 16 g3 is uncompressed", TiffCompression::G3Fax1D, TiffPhotometric::RgbPalette, 4, 1, 13, 11,
         1, 3, 4, 1},
        {"grey 256 is a palette", TiffCompression::Uncompressed, TiffPhotometric::BlackIsZero, 8, 1, 9, 3, 1,
         3, 8, 1},
        {"cmyk", TiffCompression::Uncompressed, TiffPhotometric::Cmyk, 8, 4, 9, 3, 1, 5, 8, 4},
        {"cmyk lzw", TiffCompression::Lzw, TiffPhotometric::Cmyk, 8, 4, 9, 3, 5, 5, 8, 4},
        {"cmyk with ccitt becomes rgb", TiffCompression::Ccitt1D, TiffPhotometric::Cmyk, 8, 4, 9, 3, 1, 2, 8,
         3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bitmap bitmap;
        fillPicture(bitmap, c.width, c.height, gradient);
        TIOParams params = tiffParams(c.compression, c.photometric, c.bits, c.samples);
        Bytes file = writeTiffBytes(bitmap, params);
        test::still::TiffFacts facts = decodeWithLibtiff(file);
        EXPECT_EQ(facts.compression, c.expectCompression);
        EXPECT_EQ(facts.photometric, c.expectPhotometric);
        EXPECT_EQ(facts.bitsPerSample, c.expectBits);
        EXPECT_EQ(facts.samplesPerPixel, c.expectSamples);
        ASSERT_EQ(facts.rgba.width, c.width);
        RgbPicture picture = rgbPictureOf(bitmap);
        if (c.expectPhotometric == 3) {
            TImageQuantizer quantizer(picture, 1 << c.expectBits);
            EXPECT_EQ(facts.colorMap[0].size(), size_t(1) << c.expectBits);
            for (int y = 0; y < c.height; ++y)
                for (int x = 0; x < c.width; ++x)
                    ASSERT_EQ(facts.rgba.at(x, y), quantizer.palette()[quantizer.index(picture.at(x, y))])
                        << x << "," << y;
        } else if (c.expectPhotometric == 5) {
            for (int y = 0; y < c.height; ++y)
                for (int x = 0; x < c.width; ++x) {
                    Color got = facts.rgba.at(x, y), want = picture.at(x, y);
                    ASSERT_NEAR(redOf(got), redOf(want), 2) << x << "," << y;
                    ASSERT_NEAR(greenOf(got), greenOf(want), 2) << x << "," << y;
                    ASSERT_NEAR(blueOf(got), blueOf(want), 2) << x << "," << y;
                }
        } else {
            for (int y = 0; y < c.height; ++y)
                for (int x = 0; x < c.width; ++x)
                    ASSERT_EQ(facts.rgba.at(x, y), picture.at(x, y)) << x << "," << y;
        }
    }
}

TEST(OutputTiff, LzwTrueColourUsesThePredictor) {
    Bitmap bitmap;
    fillPicture(bitmap, 9, 4, gradient);
    TIOParams params = tiffParams(TiffCompression::Lzw, TiffPhotometric::Rgb, 8, 3);
    Bytes file = writeTiffBytes(bitmap, params);
    std::vector<uint16_t> tags = ifdTags(file);
    ASSERT_GE(tags.size(), 2u);
    EXPECT_EQ(tags[tags.size() - 2], 296);
    EXPECT_EQ(tags.back(), 317);
    EXPECT_EQ(decodeWithLibtiff(file).predictor, 2);

    params = tiffParams(TiffCompression::Lzw, TiffPhotometric::RgbPalette, 8, 1);
    EXPECT_EQ(ifdTags(writeTiffBytes(bitmap, params)).back(), 320);
}

TEST(OutputTiff, SixteenColourPaletteLayout) {
    Bitmap bitmap;
    fillPicture(bitmap, 5, 2, gradient);
    TIOParams params = tiffParams(TiffCompression::Uncompressed, TiffPhotometric::RgbPalette, 4, 1);
    Bytes file = writeTiffBytes(bitmap, params);
    test::still::TiffFacts facts = decodeWithLibtiff(file);
    EXPECT_EQ(facts.bitsPerSample, 4);
    EXPECT_EQ(facts.colorMap[0].size() * 3, 48u);
    // Rows of five 4-bit indexes take three bytes.
    EXPECT_EQ(facts.raw.size(), 6u);
    RgbPicture picture = rgbPictureOf(bitmap);
    TImageQuantizer quantizer(picture, 16);
    EXPECT_EQ(facts.raw[0] >> 4, quantizer.index(picture.at(0, 0)));
    EXPECT_EQ(facts.raw[2] & 0x0F, 0);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(facts.colorMap[0][i], redOf(quantizer.palette()[i]) * 256);
}

TEST(OutputTiff, BilevelCodingsAreBitExact) {
    struct Case {
        const char* name;
        TiffCompression compression;
        int expectCompression;
        uint32_t t4Options;
        int width, height;
    } cases[] = {
        {"uncompressed", TiffCompression::Uncompressed, 1, 0, 37, 9},
        {"packbits", TiffCompression::PackBits, 32773, 0, 37, 9},
        {"lzw", TiffCompression::Lzw, 5, 0, 37, 9},
        {"modified huffman", TiffCompression::Ccitt1D, 2, 0, 3000, 15},
        {"group 3 one-dimensional", TiffCompression::G3Fax1D, 3, 0, 3000, 15},
        {"group 3 two-dimensional", TiffCompression::G3Fax2D, 3, 1, 3000, 15},
        {"group 4", TiffCompression::G4Fax, 4, 0, 3000, 15},
        {"group 4 narrow", TiffCompression::G4Fax, 4, 0, 1, 3},
        {"group 3 2-d odd", TiffCompression::G3Fax2D, 3, 1, 29, 31},
        {"modified huffman odd", TiffCompression::Ccitt1D, 2, 0, 29, 31},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Color ink = rgbColor(0, 0, 90), paper = rgbColor(250, 240, 200);
        Bitmap bitmap;
        fillPicture(bitmap, c.width, c.height,
                    [&](int x, int y) { return bilevelPixel(x, y) ? ink : paper; });
        TIOParams params = tiffParams(c.compression, TiffPhotometric::Rgb, 1, 1);
        Bytes file = writeTiffBytes(bitmap, params);
        test::still::TiffFacts facts = decodeWithLibtiff(file);
        EXPECT_EQ(facts.compression, c.expectCompression);
        EXPECT_EQ(facts.bitsPerSample, 1);
        const bool ccitt = c.expectCompression >= 2 && c.expectCompression <= 4;
        EXPECT_EQ(facts.photometric, ccitt ? 0 : 1);
        EXPECT_EQ(facts.t4Options, c.t4Options);
        const size_t rowBytes = (static_cast<size_t>(c.width) + 7) / 8;
        ASSERT_EQ(facts.raw.size(), rowBytes * c.height);
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                const bool bit = (facts.raw[y * rowBytes + x / 8] >> (7 - x % 8)) & 1;
                // Ink is the darker colour: 0 with BlackIsZero, 1 with WhiteIsZero.
                ASSERT_EQ(bit, bilevelPixel(x, y) == ccitt) << x << "," << y;
            }
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x)
                ASSERT_EQ(facts.rgba.at(x, y), bilevelPixel(x, y) ? ColorBlack : ColorWhite) << x << "," << y;
    }
}

TEST(OutputTiff, OneColourBilevelPictureShowsItsNearestShade) {
    for (TiffCompression compression : {TiffCompression::Uncompressed, TiffCompression::G4Fax}) {
        for (Color colour : {ColorWhite, rgbColor(20, 20, 20)}) {
            Bitmap bitmap;
            fillPicture(bitmap, 12, 3, [&](int, int) { return colour; });
            TIOParams params = tiffParams(compression, TiffPhotometric::BlackIsZero, 1, 1);
            test::still::TiffFacts facts = decodeWithLibtiff(writeTiffBytes(bitmap, params));
            EXPECT_EQ(facts.rgba.at(5, 1), colour == ColorWhite ? ColorWhite : ColorBlack);
        }
    }
}

TEST(OutputTiff, CieLabRows) {
    Bitmap bitmap;
    fillPicture(bitmap, 3, 1, [](int x, int) {
        return x == 0 ? ColorWhite : x == 1 ? ColorBlack : rgbColor(255, 0, 0);
    });
    TIOParams params = tiffParams(TiffCompression::Uncompressed, TiffPhotometric::CieLab, 8, 3);
    test::still::TiffFacts facts = decodeWithLibtiff(writeTiffBytes(bitmap, params));
    EXPECT_EQ(facts.photometric, 8);
    ASSERT_EQ(facts.raw.size(), 9u);
    EXPECT_EQ(facts.raw[0], 255);
    EXPECT_NEAR(static_cast<int8_t>(facts.raw[1]), 0, 1);
    EXPECT_NEAR(static_cast<int8_t>(facts.raw[2]), 0, 1);
    EXPECT_EQ(Bytes(facts.raw.begin() + 3, facts.raw.begin() + 6), (Bytes{0, 0, 0}));
    // Red: L* 53, a* 80, b* 67.
    EXPECT_NEAR(facts.raw[6], 53 * 255 / 100, 2);
    EXPECT_NEAR(static_cast<int8_t>(facts.raw[7]), 80, 2);
    EXPECT_NEAR(static_cast<int8_t>(facts.raw[8]), 67, 2);
}

TEST(OutputTiff, LzwCodecRoundTrips) {
    std::mt19937 random(3);
    for (size_t size : {size_t(0), size_t(1), size_t(2), size_t(600), size_t(70000)}) {
        Bytes data(size);
        for (size_t i = 0; i < size; ++i)
            data[i] = static_cast<uint8_t>(i % 3 == 0 ? random() : i % 7);
        MemoryStream stream;
        std::unique_ptr<TiffLzwEncoderState> state;
        for (size_t pos = 0; pos < size; pos += 100)
            encodeTiffLzw(data.data() + pos, std::min<size_t>(100, size - pos), stream, state);
        encodeTiffLzw(nullptr, 0, stream, state);
        EXPECT_FALSE(state);
        EXPECT_EQ(decodeTiffLzw(stream.bytes().data(), stream.size(), size), data) << size;
    }
    EXPECT_THROW(decodeTiffLzw(Bytes{0x80, 0x4B, 0x00}.data(), 3, 10), LzwError);
}
