// BMP, PCX and TGA writers: byte layouts, row encoders, and read-back through ImageMagick.
#include "output/ImageQuantizer.h"
#include "output/StillImageWriters.h"
#include "raster/Stream.h"
#include "support/OutputOracles.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace kelvara;
using kelvara::output_detail::encodeBmpRleRow;
using kelvara::output_detail::encodePcxRleLine;
using kelvara::output_detail::encodeTgaPacketRow;
using kelvara::test::still::decodeWithImageMagick;
using kelvara::test::still::fillPicture;
using Bytes = std::vector<uint8_t>;

namespace {

using Writer = WriteResult (*)(Stream&, const Bitmap&, const TIOParams&, const ProgressCallback&);

Bytes writeWith(Writer writer, const Bitmap& bitmap, const TIOParams& params) {
    MemoryStream stream;
    writer(stream, bitmap, params, {});
    return stream.bytes();
}

uint32_t le32(const Bytes& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}
uint16_t le16(const Bytes& b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

// A picture of few colours, each channel a multiple of 8, so that box splitting keeps them exactly.
Color fewColours(int x, int y) {
    static const Color colours[6] = {rgbColor(248, 0, 0),   rgbColor(0, 200, 40),    rgbColor(16, 16, 160),
                                     rgbColor(120, 120, 8), rgbColor(248, 248, 248), rgbColor(0, 0, 0)};
    return colours[(x / 2 + y) % 6];
}

Color gradient(int x, int y) {
    return rgbColor(x * 9 % 256, y * 17 % 256, (x * y) % 256);
}

// What a palette writer should show for each pixel: the colour of the quantizer's entry for it.
void expectQuantizedLike(const test::still::DecodedRgb& decoded, const Bitmap& bitmap, int colours) {
    RgbPicture picture = rgbPictureOf(bitmap);
    TImageQuantizer quantizer(picture, colours);
    ASSERT_EQ(decoded.width, picture.width);
    ASSERT_EQ(decoded.height, picture.height);
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x)
            ASSERT_EQ(decoded.at(x, y), quantizer.palette()[quantizer.index(picture.at(x, y))])
                << x << "," << y;
}

void expectExact(const test::still::DecodedRgb& decoded, const Bitmap& bitmap) {
    ASSERT_EQ(decoded.width, bitmap.Width());
    ASSERT_EQ(decoded.height, bitmap.Height());
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x)
            ASSERT_EQ(decoded.at(x, y), bitmap.pixel(x, y)) << x << "," << y;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// BMP

TEST(OutputBmp, ThreeByTwoTrueColourLayout) {
    Bitmap bitmap;
    fillPicture(bitmap, 3, 2, [](int x, int y) { return rgbColor(x * 10 + 1, y * 20 + 2, 3); });
    TIOParams params;
    Bytes file = writeWith(writeBmp, bitmap, params);
    ASSERT_EQ(file.size(), 78u);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(le32(file, 2), 78u);
    EXPECT_EQ(le32(file, 10), 54u);
    EXPECT_EQ(le32(file, 14), 40u);
    EXPECT_EQ(le16(file, 28), 24);
    EXPECT_EQ(le32(file, 30), 0u);
    EXPECT_EQ(le32(file, 34), 24u);
    EXPECT_EQ(le32(file, 38), 3780u); // 96 dpi
    EXPECT_EQ(le32(file, 46), 0u);
    EXPECT_EQ(le32(file, 50), 16777216u);
    // Bottom row first: blue, green, red, then three padding bytes.
    const Bytes bottomRow = {3, 22, 1, 3, 22, 11, 3, 22, 21, 0, 0, 0};
    EXPECT_EQ(Bytes(file.begin() + 54, file.begin() + 66), bottomRow);
}

TEST(OutputBmp, RunLengthRows) {
    struct Case {
        const char* name;
        int bits;
        Bytes row;
        Bytes encoded;
    } cases[] = {
        {"run then absolute with pad", 8, {5, 5, 5, 7, 8, 9}, {3, 5, 0, 3, 7, 8, 9, 0, 0, 0}},
        {"rle4 odd absolute", 4, {1, 2, 3}, {0, 3, 0x12, 0x30, 0, 0}},
        {"single pixel", 8, {4}, {1, 4, 0, 0}},
        {"rle4 single pixel", 4, {4}, {1, 0x40, 0, 0}},
        {"two different pixels", 8, {4, 6}, {1, 4, 1, 6, 0, 0}},
        {"rle4 two different pixels", 4, {4, 6}, {2, 0x46, 0, 0}},
        {"rle4 run", 4, {7, 7, 7, 7, 2}, {4, 0x77, 1, 0x20, 0, 0}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(encodeBmpRleRow(c.row.data(), static_cast<int>(c.row.size()), c.bits), c.encoded) << c.name;

    // A run longer than 255 pixels is split.
    Bytes long300(300, 9);
    EXPECT_EQ(encodeBmpRleRow(long300.data(), 300, 8), (Bytes{255, 9, 45, 9, 0, 0}));
    // A literal stretch longer than 255 pixels is emitted in pieces of at most 255.
    Bytes literal(300);
    for (int i = 0; i < 300; ++i)
        literal[i] = static_cast<uint8_t>(i % 2 ? 1 : 2);
    Bytes encoded = encodeBmpRleRow(literal.data(), 300, 8);
    EXPECT_EQ(encoded[0], 0);
    EXPECT_EQ(encoded[1], 255);
    EXPECT_EQ(encoded[2 + 255], 0); // pad after 255 index bytes
    // The 256th pixel of the stretch is a piece of its own, the remaining 44 a third one.
    EXPECT_EQ(Bytes(encoded.begin() + 2 + 256, encoded.begin() + 2 + 260), (Bytes{1, 1, 0, 44}));
    EXPECT_EQ(encoded.size(), 2u + 256 + 2 + 2 + 44 + 2);
}

TEST(OutputBmp, PlainTwentyFourBitImageOfTheCommandLine) {
    // encodeBmp24: the writer's 24-bit layout without resolution or important colours.
    Bitmap bitmap;
    fillPicture(bitmap, 3, 2, [](int x, int y) { return rgbColor(x * 80, y * 90, 7); });
    const Bytes plain = encodeBmp24(bitmap);
    TIOParams params;
    const Bytes written = writeWith(writeBmp, bitmap, params);
    ASSERT_EQ(plain.size(), 78u);
    ASSERT_EQ(written.size(), 78u);
    EXPECT_EQ(le32(plain, 38), 0u); // pixels per metre
    EXPECT_EQ(le32(plain, 42), 0u);
    EXPECT_EQ(le32(plain, 50), 0u); // important colours
    Bytes expected = written;
    std::fill(expected.begin() + 38, expected.begin() + 46, 0);
    std::fill(expected.begin() + 50, expected.begin() + 54, 0);
    EXPECT_EQ(plain, expected);
    expectExact(decodeWithImageMagick(plain, "bmp"), bitmap);
}

TEST(OutputBmp, TwoColourPictureKeepsBothColoursDarkerFirst) {
    const Color darkBlue = rgbColor(0, 0, 128), yellow = rgbColor(255, 255, 0);
    Bitmap bitmap;
    fillPicture(bitmap, 9, 3, [&](int x, int y) { return (x + y) % 3 ? yellow : darkBlue; });
    TIOParams params;
    params.bitsPerSample = 1;
    params.samplesPerPixel = 1;
    MemoryStream stream;
    const WriteResult result = writeBmp(stream, bitmap, params, {});
    const Bytes& file = stream.bytes();
    EXPECT_EQ(le16(file, 28), 1);
    EXPECT_EQ(Bytes(file.begin() + 54, file.begin() + 62), (Bytes{128, 0, 0, 0, 0, 255, 255, 0}));
    EXPECT_EQ(result.palette, (std::vector<Color>{darkBlue, yellow}));
    expectExact(decodeWithImageMagick(file, "bmp"), bitmap);
}

TEST(OutputBmp, ImageMagickReadsEveryDepth) {
    struct Case {
        int bits, samples, compression;
        int width, height;
        int colours; // 0: exact
    } cases[] = {
        {8, 3, 0, 7, 5, 0},  {5, 3, 0, 13, 3, 0},  {8, 1, 0, 13, 11, 256}, {8, 1, 1, 13, 11, 256},
        {4, 1, 0, 7, 5, 16}, {4, 1, 1, 17, 9, 16}, {1, 1, 0, 33, 3, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.bits << " bits, " << c.samples << " samples, rle " << c.compression);
        Bitmap bitmap;
        if (c.bits == 1)
            fillPicture(bitmap, c.width, c.height,
                        [](int x, int y) { return (x * y) % 3 ? ColorWhite : rgbColor(9, 9, 9); });
        else if (c.colours == 16)
            fillPicture(bitmap, c.width, c.height, fewColours);
        else
            fillPicture(bitmap, c.width, c.height, gradient);
        TIOParams params;
        params.bitsPerSample = c.bits;
        params.samplesPerPixel = c.samples;
        params.bmp.compression = static_cast<uint8_t>(c.compression);
        Bytes file = writeWith(writeBmp, bitmap, params);
        EXPECT_EQ(le32(file, 2), file.size());
        EXPECT_EQ(le32(file, 34), file.size() - le32(file, 10));
        test::still::DecodedRgb decoded = decodeWithImageMagick(file, "bmp");
        if (c.colours)
            expectQuantizedLike(decoded, bitmap, c.colours);
        else
            expectExact(decoded, bitmap);
    }
}

TEST(OutputBmp, WritesAtTheStreamPositionAndLeavesTheStreamAtTheEnd) {
    Bitmap bitmap;
    fillPicture(bitmap, 5, 4, gradient);
    TIOParams params;
    params.bitsPerSample = 8;
    params.samplesPerPixel = 1;
    params.bmp.compression = 1;
    MemoryStream stream;
    stream.write("XYZ", 3);
    writeBmp(stream, bitmap, params, {});
    EXPECT_EQ(stream.position(), stream.size());
    Bytes file(stream.bytes().begin() + 3, stream.bytes().end());
    EXPECT_EQ(le32(file, 2), file.size());
    EXPECT_EQ(le32(file, 30), 1u);
}

// ---------------------------------------------------------------------------------------------
// PCX

TEST(OutputPcx, RunLengthLines) {
    struct Case {
        const char* name;
        Bytes line;
        Bytes encoded;
    } cases[] = {
        {"lone byte of 192 or more", {200, 1, 2, 3}, {193, 200, 1, 2, 3}},
        {"odd line gets the padding byte", {1, 2, 3, 4, 5}, {1, 2, 3, 4, 5, 0}},
        {"runs", {7, 7, 7, 0, 0, 9, 9}, {195, 7, 194, 0, 194, 9, 0}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(encodePcxRleLine(c.line.data(), c.line.size()), c.encoded) << c.name;
    Bytes seventy(70, 5);
    EXPECT_EQ(encodePcxRleLine(seventy.data(), 70), (Bytes{255, 5, 199, 5}));
}

TEST(OutputPcx, HeaderOfAnOddWidthPicture) {
    Bitmap bitmap;
    fillPicture(bitmap, 5, 3, gradient);
    TIOParams params;
    params.bitsPerSample = 8;
    params.samplesPerPixel = 1;
    Bytes file = writeWith(writePcx, bitmap, params);
    EXPECT_EQ(file[0], 10);
    EXPECT_EQ(file[1], 5);
    EXPECT_EQ(file[2], 1);
    EXPECT_EQ(file[3], 8);
    EXPECT_EQ(le16(file, 8), 4);
    EXPECT_EQ(le16(file, 10), 2);
    EXPECT_EQ(file[65], 1);
    EXPECT_EQ(le16(file, 66), 6);
    EXPECT_EQ(le16(file, 68), 1);
    // The palette follows the pixel data after the byte 12.
    ASSERT_GT(file.size(), 128u + 769);
    EXPECT_EQ(file[file.size() - 769], 12);
    for (size_t i = 70; i < 128; ++i)
        ASSERT_EQ(file[i], 0) << i;
}

TEST(OutputPcx, ImageMagickReadsEveryDepth) {
    struct Case {
        int bits, samples, compression;
        int width, height;
        int colours;
    } cases[] = {
        {8, 3, 1, 7, 5, 0},     {8, 3, 0, 7, 5, 0},  {8, 1, 1, 13, 11, 256},
        {8, 1, 0, 13, 11, 256}, {4, 1, 1, 7, 5, 16}, {4, 1, 0, 9, 4, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.bits << " bits, " << c.samples << " samples, rle " << c.compression);
        Bitmap bitmap;
        if (c.colours == 16)
            fillPicture(bitmap, c.width, c.height, fewColours);
        else
            fillPicture(bitmap, c.width, c.height, gradient);
        TIOParams params;
        params.bitsPerSample = c.bits;
        params.samplesPerPixel = c.samples;
        params.pcx.compression = static_cast<uint8_t>(c.compression);
        Bytes file = writeWith(writePcx, bitmap, params);
        test::still::DecodedRgb decoded = decodeWithImageMagick(file, "pcx");
        if (c.colours)
            expectQuantizedLike(decoded, bitmap, c.colours);
        else
            expectExact(decoded, bitmap);
    }
}

TEST(OutputPcx, OneBitPicturesKeepTheirTwoColoursInTheHeaderPalette) {
    // Readers show a 1-bit PCX in black and white whatever its palette; ffmpeg shows bit 0 black.
    // (ImageMagick shows bit 0 white, so it cannot serve here.)
    const Color dark = rgbColor(20, 0, 60), light = rgbColor(250, 250, 200);
    for (int compression : {0, 1}) {
        Bitmap bitmap;
        fillPicture(bitmap, 33, 3, [&](int x, int y) { return (x + y) % 3 ? light : dark; });
        TIOParams params;
        params.bitsPerSample = 1;
        params.samplesPerPixel = 1;
        params.pcx.compression = static_cast<uint8_t>(compression);
        Bytes file = writeWith(writePcx, bitmap, params);
        EXPECT_EQ(file[3], 1);
        EXPECT_EQ(le16(file, 66), 6);
        EXPECT_EQ(Bytes(file.begin() + 16, file.begin() + 22), (Bytes{20, 0, 60, 250, 250, 200}));
        test::still::DecodedRgb decoded = test::still::decodeWithFfmpeg(file, "pcx", 33, 3);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 33; ++x)
                ASSERT_EQ(decoded.at(x, y), bitmap.pixel(x, y) == dark ? ColorBlack : ColorWhite)
                    << x << "," << y;
    }
}

// ---------------------------------------------------------------------------------------------
// TGA

TEST(OutputTga, PacketRows) {
    // P Q S S T: raw packet of two, run packet of two, raw packet of one.
    const Bytes row = {1, 1, 1, 2, 2, 2, 3, 3, 3, 3, 3, 3, 4, 4, 4};
    EXPECT_EQ(encodeTgaPacketRow(row.data(), 5, 3),
              (Bytes{0x01, 1, 1, 1, 2, 2, 2, 0x81, 3, 3, 3, 0x00, 4, 4, 4}));

    // A raw packet stops after 127 pixels, except that it takes the row's last pixel too.
    Bytes distinct(128);
    for (int i = 0; i < 128; ++i)
        distinct[i] = static_cast<uint8_t>(i);
    Bytes encoded = encodeTgaPacketRow(distinct.data(), 128, 1);
    ASSERT_EQ(encoded.size(), 129u);
    EXPECT_EQ(encoded[0], 127);
    Bytes longer(130);
    for (int i = 0; i < 130; ++i)
        longer[i] = static_cast<uint8_t>(i);
    encoded = encodeTgaPacketRow(longer.data(), 130, 1);
    EXPECT_EQ(encoded[0], 126);
    EXPECT_EQ(encoded[128], 2);

    // Runs stop at 128 pixels.
    Bytes same(200, 6);
    EXPECT_EQ(encodeTgaPacketRow(same.data(), 200, 1), (Bytes{255, 6, 128 + 71, 6}));
}

TEST(OutputTga, HeaderIdExtensionAndFooter) {
    Bitmap bitmap;
    fillPicture(bitmap, 4, 2, gradient);
    TIOParams params;
    params.tga.name = "";
    params.tgaDate = 1700000000;
    Bytes file = writeWith(writeTga, bitmap, params);
    EXPECT_EQ(file[0], 1);
    EXPECT_EQ(file[2], 10);
    EXPECT_EQ(file[16], 24);
    EXPECT_EQ(file[17], 0x20);
    EXPECT_EQ(file[18], 0);
    ASSERT_GE(file.size(), 26u + 495);
    const size_t footer = file.size() - 26;
    EXPECT_EQ(std::memcmp(file.data() + footer + 8, "TRUEVISION-XFILE.\0", 18), 0);
    const uint32_t extension = le32(file, footer);
    EXPECT_EQ(extension + 495, footer);
    EXPECT_EQ(le16(file, extension), 495);
    EXPECT_EQ(le16(file, extension + 474), 10000);
    EXPECT_EQ(le16(file, extension + 478), 22000);
    EXPECT_EQ(le16(file, extension + 371), 2023); // year of the stamped moment

    params.tga.name = "Frame 1";
    params.tga.description = std::string(60, 'a');
    file = writeWith(writeTga, bitmap, params);
    EXPECT_EQ(file[0], 8);
    EXPECT_EQ(std::string(file.begin() + 18, file.begin() + 26), std::string("Frame 1\0", 8));
    const uint32_t ext = le32(file, file.size() - 26);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data() + ext + 2)), std::string(40, 'a'));
}

TEST(OutputTga, ImageMagickReadsEveryDepth) {
    struct Case {
        int bits, samples;
        bool compressed;
        int width, height;
    } cases[] = {
        {8, 3, true, 7, 5},
        {8, 3, false, 7, 5},
        {8, 1, true, 13, 11},
        {8, 1, false, 13, 11},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.bits << " bits, " << c.samples << " samples, compressed " << c.compressed);
        Bitmap bitmap;
        fillPicture(bitmap, c.width, c.height,
                    [](int x, int y) { return x % 3 ? gradient(x, y) : gradient(0, y); });
        TIOParams params;
        params.bitsPerSample = c.bits;
        params.samplesPerPixel = c.samples;
        params.tga.compressed = c.compressed;
        Bytes file = writeWith(writeTga, bitmap, params);
        test::still::DecodedRgb decoded = decodeWithImageMagick(file, "tga");
        if (c.bits == 8 && c.samples == 1)
            expectQuantizedLike(decoded, bitmap, 256);
        else
            expectExact(decoded, bitmap);
    }
}

// No independent reader takes the 1-bit black-and-white type, so its bytes are checked here.
TEST(OutputTga, BlackAndWhiteRows) {
    Bitmap bitmap;
    fillPicture(bitmap, 10, 2,
                [](int x, int y) { return (x + y) % 2 ? rgbColor(200, 180, 0) : rgbColor(0, 0, 90); });
    TIOParams params;
    params.bitsPerSample = 1;
    params.samplesPerPixel = 1;
    params.tga.compressed = true; // never applies to this type
    Bytes file = writeWith(writeTga, bitmap, params);
    EXPECT_EQ(file[1], 0);
    EXPECT_EQ(file[2], 3);
    EXPECT_EQ(file[16], 1);
    EXPECT_EQ(Bytes(file.begin() + 19, file.begin() + 23), (Bytes{0x55, 0x40, 0xAA, 0x80}));
    EXPECT_EQ(le32(file, file.size() - 26), 23u);
}

TEST(OutputTga, BlackAndWhiteShowsAOneColourPictureByItsNearestShade) {
    for (Color colour : {ColorWhite, rgbColor(230, 230, 180), rgbColor(30, 0, 0)}) {
        Bitmap bitmap;
        fillPicture(bitmap, 10, 2, [&](int, int) { return colour; });
        TIOParams params;
        params.bitsPerSample = 1;
        params.samplesPerPixel = 1;
        Bytes file = writeWith(writeTga, bitmap, params);
        EXPECT_EQ(file[2], 3);
        const uint8_t expected = redOf(colour) > 128 ? 0xFF : 0x00;
        EXPECT_EQ(file[19], expected);
        EXPECT_EQ(file[20] & 0xC0, expected & 0xC0);
    }
}
