// The single-image GIF writer and its LZW codec, read back with giflib and our own decoder.
#include "output/ImageQuantizer.h"
#include "output/LzwCodecs.h"
#include "output/StillImageWriters.h"
#include "raster/Lzw.h"
#include "raster/Stream.h"
#include "support/OutputOracles.h"

#include <gtest/gtest.h>

#include <random>

using namespace kelvara;
using kelvara::test::still::fillPicture;
using kelvara::test::still::readGifFactsWithGiflib;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes writeGifBytes(const Bitmap& bitmap, TIOParams& params) {
    MemoryStream stream;
    writeGif(stream, bitmap, params, {});
    return stream.bytes();
}

Color fourColours(int x, int y) {
    static const Color colours[4] = {rgbColor(248, 0, 0), rgbColor(0, 200, 40), rgbColor(16, 16, 160),
                                     rgbColor(240, 240, 232)};
    return colours[(x + 2 * y) % 4];
}

// The sub-block lengths of LZW data that starts with the minimum code size at offset at.
std::vector<int> blockLengths(const Bytes& data, size_t at) {
    std::vector<int> lengths;
    size_t pos = at + 1;
    while (pos < data.size()) {
        int n = data[pos];
        lengths.push_back(n);
        if (n == 0)
            break;
        pos += n + 1;
    }
    return lengths;
}

Bytes randomIndexes(size_t count, int bits, unsigned seed) {
    std::mt19937 random(seed);
    Bytes indexes(count);
    for (uint8_t& i : indexes)
        i = static_cast<uint8_t>(random() & ((1u << bits) - 1));
    return indexes;
}

} // namespace

TEST(OutputGif, FourColourFileLayout) {
    Bitmap bitmap;
    fillPicture(bitmap, 6, 3, fourColours);
    TIOParams params;
    params.bitsPerSample = 2;
    Bytes file = writeGifBytes(bitmap, params);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 6), "GIF89a");
    EXPECT_EQ(file[6], 6);
    EXPECT_EQ(file[8], 3);
    EXPECT_EQ(file[10], 0x91);
    EXPECT_EQ(file[12], 0);
    // Graphic control extension after the 12-byte colour table: disposal 2, no transparency.
    const Bytes control = {0x21, 0xF9, 4, 8, 0, 0};
    EXPECT_EQ(Bytes(file.begin() + 25, file.begin() + 31), control);
    EXPECT_EQ(file[33], 0x2C);
    EXPECT_EQ(file[42], 0); // packed byte of the image descriptor
    EXPECT_EQ(file[43], 2); // LZW minimum code size
    const Bytes ending = {0x00, 0x21, 0xFE, 0x00, 0x3B};
    EXPECT_EQ(Bytes(file.end() - 5, file.end()), ending);

    test::still::GifFacts facts = readGifFactsWithGiflib(file);
    ASSERT_EQ(facts.globalColors.size(), 4u);
    EXPECT_EQ(facts.disposal, 2);
    EXPECT_FALSE(facts.transparent);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(facts.globalColors[facts.indexes[y * 6 + x]], fourColours(x, y)) << x << "," << y;
}

TEST(OutputGif, OneBitPicturesUseBlackAndWhite) {
    struct Case {
        const char* name;
        Color a, b;
    } cases[] = {
        {"two colours", rgbColor(0, 0, 128), rgbColor(255, 255, 0)},
        {"all white", ColorWhite, ColorWhite},
        {"all light grey", rgbColor(200, 200, 200), rgbColor(200, 200, 200)},
        {"all dark", rgbColor(10, 60, 10), rgbColor(10, 60, 10)},
    };
    for (const Case& c : cases) {
        Bitmap bitmap;
        fillPicture(bitmap, 11, 4, [&](int x, int y) { return (x * y) % 3 ? c.a : c.b; });
        TIOParams params;
        params.bitsPerSample = 1;
        Bytes file = writeGifBytes(bitmap, params);
        EXPECT_EQ(file[10], 0x80) << c.name;
        EXPECT_EQ(file[25 - 6], 0x21) << c.name;   // two-entry table: header 13 + 6 bytes
        EXPECT_EQ(file[19 + 8 + 10], 2) << c.name; // minimum code size 2
        test::still::GifFacts facts = readGifFactsWithGiflib(file);
        EXPECT_EQ(facts.globalColors, (std::vector<Color>{ColorBlack, ColorWhite})) << c.name;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 11; ++x) {
                Color source = bitmap.pixel(x, y);
                Color expected =
                    redOf(source) + greenOf(source) + blueOf(source) > 382 ? ColorWhite : ColorBlack;
                ASSERT_EQ(facts.globalColors[facts.indexes[y * 11 + x]], expected)
                    << c.name << " " << x << "," << y;
            }
    }
}

TEST(OutputGif, InterlacedRowsAndRoundTripThroughBothDecoders) {
    const std::vector<int> order = {0, 8, 4, 2, 6, 1, 3, 5, 7, 9};
    EXPECT_EQ(gifRowOrder(10, true), order);

    Bitmap bitmap;
    fillPicture(bitmap, 7, 10, [](int x, int y) { return rgbColor(x * 30, y * 25, 100); });
    TIOParams params;
    params.gif.interlaced = true;
    Bytes file = writeGifBytes(bitmap, params);
    test::still::GifFacts facts = readGifFactsWithGiflib(file);
    EXPECT_TRUE(facts.interlaced);
    RgbPicture picture = rgbPictureOf(bitmap);
    TImageQuantizer quantizer(picture, 256);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 7; ++x)
            ASSERT_EQ(facts.indexes[y * 7 + x], quantizer.index(picture.at(x, y))) << x << "," << y;

    // ImageMagick shows the same picture.
    test::still::DecodedRgb shown = test::still::decodeWithImageMagick(file, "gif");
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 7; ++x)
            ASSERT_EQ(shown.at(x, y), quantizer.palette()[quantizer.index(picture.at(x, y))])
                << x << "," << y;

    // Our decoder reads the same image data.
    const size_t dataStart = 13 + 768 + 8 + 10;
    MemoryStream data(Bytes(file.begin() + dataStart, file.end()));
    EXPECT_EQ(decodeGifLzw(data, 10, 7, true), facts.indexes);
}

TEST(OutputGif, LzwDataGoesIntoFullBlocksAndNeverAnEmptyOne) {
    bool exactFillSeen = false;
    for (size_t count = 1; count < 1400; count += 3) {
        const int bits = 1 + static_cast<int>(count % 8);
        Bytes indexes = randomIndexes(count, bits, static_cast<unsigned>(count));
        MemoryStream stream;
        encodeGifLzw(stream, 1, static_cast<int>(count), bits, indexes.data(), false);
        const Bytes& data = stream.bytes();
        std::vector<int> lengths = blockLengths(data, 0);
        ASSERT_FALSE(lengths.empty());
        ASSERT_EQ(lengths.back(), 0);
        size_t payload = 0;
        for (size_t i = 0; i + 1 < lengths.size(); ++i) {
            ASSERT_GT(lengths[i], 0) << count;
            ASSERT_LE(lengths[i], 254) << count;
            if (i + 2 < lengths.size()) {
                ASSERT_EQ(lengths[i], 254) << count;
            }
            payload += lengths[i];
        }
        if (payload % 254 == 0)
            exactFillSeen = true;
        MemoryStream back(data);
        ASSERT_EQ(decodeGifLzw(back, 1, static_cast<int>(count), false), indexes) << count;
    }
    EXPECT_TRUE(exactFillSeen) << "no case filled its blocks exactly";
}

TEST(OutputGif, FullStringTableStartsAgainWithAClearCode) {
    // Noise fills the 4096-entry table many times over.
    Bitmap bitmap;
    std::mt19937 random(7);
    fillPicture(bitmap, 120, 90, [&](int, int) { return static_cast<Color>(random() & 0xFFFFFF); });
    TIOParams params;
    Bytes file = writeGifBytes(bitmap, params);
    test::still::GifFacts facts = readGifFactsWithGiflib(file);
    MemoryStream data(Bytes(file.begin() + 13 + 768 + 8 + 10, file.end()));
    EXPECT_EQ(decodeGifLzw(data, 90, 120, false), facts.indexes);

    // Walk the codes as a decoder does: clear codes appear exactly when code 4095 has been made.
    const size_t start = 13 + 768 + 8 + 10;
    Bytes stream;
    for (size_t pos = start + 1; file[pos] != 0; pos += file[pos] + 1)
        stream.insert(stream.end(), file.begin() + pos + 1, file.begin() + pos + 1 + file[pos]);
    int width = 9, next = 258, clears = 0;
    bool seenClear = false, afterClear = false;
    uint64_t acc = 0;
    int have = 0;
    size_t pos = 0;
    for (;;) {
        while (have < width && pos < stream.size()) {
            acc |= uint64_t(stream[pos++]) << have;
            have += 8;
        }
        ASSERT_GE(have, width);
        const int code = static_cast<int>(acc & ((1u << width) - 1));
        acc >>= width;
        have -= width;
        if (code == 256) {
            if (seenClear) {
                EXPECT_EQ(next, 4096);
                ++clears;
            }
            seenClear = true;
            afterClear = true;
            width = 9;
            next = 258;
            continue;
        }
        if (code == 257)
            break;
        if (afterClear) {
            afterClear = false;
            continue;
        }
        if (next < 4096) {
            ++next;
            if (next == (1 << width) && width < 12)
                ++width;
        }
    }
    EXPECT_GT(clears, 0);
}

TEST(OutputGif, ColoursOfTransparencyAndBackground) {
    Bitmap bitmap;
    fillPicture(bitmap, 6, 3, fourColours);
    TIOParams params;
    params.bitsPerSample = 2;
    params.gif.transparent = true;
    params.gif.transparentColor = rgbColor(0, 200, 40);
    params.gif.background = rgbColor(240, 240, 232);
    Bytes file = writeGifBytes(bitmap, params);
    test::still::GifFacts facts = readGifFactsWithGiflib(file);
    ASSERT_TRUE(facts.transparent);
    EXPECT_EQ(facts.globalColors[facts.transparentIndex], rgbColor(0, 200, 40));
    EXPECT_EQ(facts.globalColors[facts.backgroundIndex], rgbColor(240, 240, 232));

    // A 1-bit picture takes the nearer of black and white, black on a tie.
    params.bitsPerSample = 1;
    params.gif.background = rgbColor(200, 200, 200);
    params.gif.transparentColor = rgbColor(128, 127, 127);
    file = writeGifBytes(bitmap, params);
    EXPECT_EQ(file[11], 1);
    EXPECT_EQ(file[13 + 6 + 6], 0);
}

TEST(OutputGif, CommentLines) {
    Bitmap bitmap;
    fillPicture(bitmap, 2, 2, fourColours);
    TIOParams params;
    params.gifComments = {"Kelvara", "", std::string(300, 'c')};
    Bytes file = writeGifBytes(bitmap, params);
    test::still::GifFacts facts = readGifFactsWithGiflib(file);
    ASSERT_EQ(facts.comments.size(), 2u);
    EXPECT_EQ(facts.comments[0], "Kelvara");
    EXPECT_EQ(facts.comments[1], std::string(255, 'c'));
    const size_t tail = 2 + 7 + 1 + 255 + 1 + 1;
    EXPECT_EQ(Bytes(file.end() - static_cast<long>(tail), file.end() - static_cast<long>(tail) + 3),
              (Bytes{0xFE, 7, 'K'}));
}

TEST(OutputGif, DecoderRefusesDamagedData) {
    const Bytes damaged[] = {
        {},                    // no code size
        {12, 1, 0xFF, 0},      // code size out of range
        {2, 2, 0xCC, 0x01, 0}, // a code beyond the table
    };
    for (const Bytes& data : damaged) {
        MemoryStream stream(data);
        EXPECT_THROW(decodeGifLzw(stream, 4, 4, false), LzwError);
    }
    // Data cut short leaves the rest of the picture at index 0.
    MemoryStream shortData(Bytes{2, 1, 0x44});
    EXPECT_EQ(decodeGifLzw(shortData, 2, 2, false).size(), 4u);
}
