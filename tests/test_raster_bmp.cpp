// Tests of BMP byte-image decoding (LoadFromStream), good and hostile.
#include "raster/Bitmap.h"
#include "raster/Error.h"
#include "raster/Stream.h"

#include <gtest/gtest.h>

#include <random>
#include <tuple>

using namespace kelvara;

namespace {

// Builds BMP byte images field by field.
struct BmpBuilder {
    int width = 2, height = 2, bits = 24;
    uint32_t compression = 0, colorsUsed = 0, imageSize = 0;
    uint32_t headerSize = 40;
    uint32_t pixelOffset = 0; // 0: the right value
    int planes = 1;
    std::vector<uint32_t> masks;
    std::vector<PaletteEntry> palette;
    std::vector<uint8_t> gap; // bytes between the colour table and the pixels
    std::vector<uint8_t> pixels;

    std::vector<uint8_t> build() const {
        std::vector<uint8_t> o;
        auto u16 = [&](uint32_t v) {
            o.push_back(uint8_t(v));
            o.push_back(uint8_t(v >> 8));
        };
        auto u32 = [&](uint32_t v) {
            u16(v & 0xFFFF);
            u16(v >> 16);
        };
        size_t entry = headerSize == 12 ? 3 : 4;
        uint32_t offset =
            pixelOffset ? pixelOffset
                        : uint32_t(14 + headerSize + 4 * masks.size() + entry * palette.size() + gap.size());
        u16(0x4D42);
        u32(0);
        u32(0);
        u32(offset);
        u32(headerSize);
        if (headerSize == 12) {
            u16(uint32_t(width));
            u16(uint32_t(height));
            u16(uint32_t(planes));
            u16(uint32_t(bits));
        } else {
            u32(uint32_t(width));
            u32(uint32_t(height));
            u16(uint32_t(planes));
            u16(uint32_t(bits));
            u32(compression);
            u32(imageSize);
            u32(0);
            u32(0);
            u32(colorsUsed);
            u32(0);
            for (uint32_t i = 40; i < headerSize; ++i)
                o.push_back(0);
        }
        for (uint32_t m : masks)
            u32(m);
        for (const PaletteEntry& e : palette) {
            o.push_back(e.blue);
            o.push_back(e.green);
            o.push_back(e.red);
            if (entry == 4)
                o.push_back(0);
        }
        o.insert(o.end(), gap.begin(), gap.end());
        o.insert(o.end(), pixels.begin(), pixels.end());
        return o;
    }
};

std::vector<PaletteEntry> palette(std::initializer_list<Color> colors) {
    std::vector<PaletteEntry> p;
    for (Color c : colors)
        p.push_back(PaletteEntry::fromColor(c));
    return p;
}

void decode(Bitmap& b, const std::vector<uint8_t>& bytes) {
    b.LoadFromMemory(bytes.data(), bytes.size());
}

constexpr Color Red = 0xFF0000, Green = 0x00FF00, Blue = 0x0000FF, Grey = 0x808080;

} // namespace

// Each case is a 2 x 2 picture whose top row is (c0, c1) and bottom row (c2, c3).
struct DecodeCase {
    const char* name;
    BmpBuilder bmp;
    PixelFormat format;
    Color expected[4];
};

class BmpDecode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(BmpDecode, GivesTheStoredPixels) {
    const DecodeCase& c = GetParam();
    Bitmap b;
    decode(b, c.bmp.build());
    ASSERT_EQ(b.Width(), 2);
    ASSERT_EQ(b.Height(), 2);
    EXPECT_EQ(b.PixelFormat(), c.format);
    EXPECT_EQ(b.pixel(0, 0), c.expected[0]);
    EXPECT_EQ(b.pixel(1, 0), c.expected[1]);
    EXPECT_EQ(b.pixel(0, 1), c.expected[2]);
    EXPECT_EQ(b.pixel(1, 1), c.expected[3]);
}

static BmpBuilder bmp(int bits, std::vector<uint8_t> pixels, std::vector<PaletteEntry> pal = {}) {
    BmpBuilder b;
    b.bits = bits;
    b.pixels = std::move(pixels);
    b.palette = std::move(pal);
    return b;
}

static BmpBuilder with(BmpBuilder b, void (*change)(BmpBuilder&)) {
    change(b);
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Formats, BmpDecode,
    ::testing::Values(
        // Bottom-up rows: the first stored row is the bottom one.
        DecodeCase{"bits24",
                   bmp(24, {0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0}),
                   PixelFormat::Bits24,
                   {Blue, 0x000000, Red, Green}},
        DecodeCase{"bits24TopDown",
                   with(bmp(24, {0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0}),
                        [](BmpBuilder& b) { b.height = -2; }),
                   PixelFormat::Bits24,
                   {Red, Green, Blue, 0x000000}},
        DecodeCase{"bits1",
                   bmp(1, {0x80, 0, 0, 0, 0x40, 0, 0, 0}, palette({Red, Blue})),
                   PixelFormat::Bits1,
                   {Red, Blue, Blue, Red}},
        DecodeCase{"bits4",
                   with(bmp(4, {0x12, 0, 0, 0, 0x30, 0, 0, 0}, palette({Red, Green, Blue, Grey})),
                        [](BmpBuilder& b) { b.colorsUsed = 4; }),
                   PixelFormat::Bits4,
                   {Grey, Red, Green, Blue}},
        // Colours used 3: a short table, and the pixels right after it.
        DecodeCase{"bits8ColorsUsed",
                   with(bmp(8, {2, 1, 0, 0, 0, 2, 0, 0}, palette({Red, Green, Blue})),
                        [](BmpBuilder& b) { b.colorsUsed = 3; }),
                   PixelFormat::Bits8,
                   {Red, Blue, Blue, Green}},
        // 5-5-5 without bit fields.
        DecodeCase{"bits16",
                   bmp(16, {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0xFF, 0x7F}),
                   PixelFormat::Bits16,
                   {Blue, 0xFFFFFF, Red, Green}},
        // 5-6-5 bit fields after a 40-byte header.
        DecodeCase{"bits16BitFields",
                   with(bmp(16, {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0xFF, 0xFF}),
                        [](BmpBuilder& b) {
                            b.compression = 3;
                            b.masks = {0xF800, 0x07E0, 0x001F};
                        }),
                   PixelFormat::Bits16,
                   {Blue, 0xFFFFFF, Red, Green}},
        DecodeCase{"bits32",
                   bmp(32, {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0, 1, 2, 3, 0}),
                   PixelFormat::Bits32,
                   {Blue, rgbColor(3, 2, 1), Red, Green}},
        // The old core header with 3-byte table entries.
        DecodeCase{"core",
                   with(bmp(8, {0, 1, 0, 0, 1, 0, 0, 0}, std::vector<PaletteEntry>(256)),
                        [](BmpBuilder& b) {
                            b.headerSize = 12;
                            b.palette[1] = PaletteEntry::fromColor(Red);
                        }),
                   PixelFormat::Bits8,
                   {Red, 0x000000, 0x000000, Red}},
        // A larger (V4-sized) header carrying its own masks.
        DecodeCase{"largeHeader",
                   with(bmp(24, {0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0}),
                        [](BmpBuilder& b) { b.headerSize = 108; }),
                   PixelFormat::Bits24,
                   {Blue, 0x000000, Red, Green}},
        // A pixel offset before the end of the colour table is not used to find the pixels.
        DecodeCase{"smallPixelOffset",
                   with(bmp(24, {0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0}),
                        [](BmpBuilder& b) { b.pixelOffset = 3; }),
                   PixelFormat::Bits24,
                   {Blue, 0x000000, Red, Green}},
        // RLE8: bottom row by one run, top row by two, then end of bitmap; the length comes
        // from the image-size field.
        DecodeCase{"rle8",
                   with(bmp(8, {2, 1, 0, 0, 1, 2, 1, 0, 0, 1}, palette({Red, Green, Blue})),
                        [](BmpBuilder& b) {
                            b.compression = 1;
                            b.colorsUsed = 3;
                            b.imageSize = 10;
                        }),
                   PixelFormat::Bits8,
                   {Blue, Red, Green, Green}},
        // RLE4: a run alternating nibbles, then a delta that skips the rest (index 0).
        DecodeCase{"rle4",
                   with(bmp(4, {2, 0x12, 0, 2, 0, 1, 0, 1}, palette({Red, Green, Blue})),
                        [](BmpBuilder& b) {
                            b.compression = 2;
                            b.colorsUsed = 3;
                        }),
                   PixelFormat::Bits4,
                   {Red, Red, Green, Blue}}),
    [](const ::testing::TestParamInfo<DecodeCase>& info) { return std::string(info.param.name); });

// The pixels start at the header's pixel offset when it lies after the colour table and the
// pixels fit in the file from there; otherwise right after the table.
TEST(BmpDecode, PixelOffsetTable) {
    const std::vector<uint8_t> rows = {2, 1, 0, 0, 0, 2, 0, 0}; // bottom row (Blue, Green), top (Red, Blue)
    const Color shown[4] = {Red, Blue, Blue, Green};
    const std::vector<uint8_t> garbage = {7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7};
    auto base = [&] {
        BmpBuilder b = bmp(8, rows, palette({Red, Green, Blue}));
        b.colorsUsed = 3;
        return b;
    };
    const uint32_t tableEnd = 14 + 40 + 3 * 4;
    struct Case {
        const char* name;
        BmpBuilder bmp;
    };
    std::vector<Case> cases;
    cases.push_back({"noGap", base()});
    BmpBuilder gap2 = base();
    gap2.gap = {0xEE, 0xEE};
    cases.push_back({"gapOfTwo", gap2});
    BmpBuilder gapLarge = base(); // a gap of stray bytes, as some writers leave
    gapLarge.gap = garbage;
    cases.push_back({"gapOfTwenty", gapLarge});
    BmpBuilder intoTable = base();
    intoTable.pixelOffset = tableEnd - 4;
    cases.push_back({"offsetIntoTheTable", intoTable});
    BmpBuilder pastEnd = base();
    pastEnd.pixelOffset = tableEnd + 100;
    cases.push_back({"offsetPastTheEnd", pastEnd});
    BmpBuilder tooLate = base(); // inside the file, but the pixels would not fit from there
    tooLate.pixelOffset = tableEnd + 2;
    cases.push_back({"offsetLeavingTooLittle", tooLate});
    BmpBuilder zero = base();
    zero.pixelOffset = 0xFFFFFFFF;
    cases.push_back({"offsetHuge", zero});
    BmpBuilder topDown = base();
    topDown.height = -2;
    topDown.pixels = {0, 2, 0, 0, 2, 1, 0, 0};
    topDown.gap = garbage;
    cases.push_back({"topDownGap", topDown});
    BmpBuilder rle = base();
    rle.compression = 1;
    rle.pixels = {1, 2, 1, 1, 0, 0, 1, 0, 1, 2, 0, 1};
    rle.gap = {0, 1, 9, 9}; // an end-of-bitmap mark in the gap: never read
    cases.push_back({"rleGap", rle});
    BmpBuilder core = base();
    core.headerSize = 12;
    core.palette.resize(256);
    core.gap = garbage;
    cases.push_back({"coreHeaderGap", core});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bitmap b;
        decode(b, c.bmp.build());
        ASSERT_EQ(b.Width(), 2);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(b.pixel(i % 2, i / 2), shown[i]) << i;
    }

    // Above 8 bits the colours-used field only advises the display: a file that stores no table
    // is read from its pixel offset; one that stores the table is read after it.
    const std::vector<uint8_t> pixels24 = {0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0};
    const Color shown24[4] = {Blue, 0x000000, Red, Green};
    BmpBuilder advised = bmp(24, pixels24);
    advised.colorsUsed = 16;
    BmpBuilder advisedWithTable = advised;
    advisedWithTable.palette = std::vector<PaletteEntry>(16, PaletteEntry::fromColor(Grey));
    BmpBuilder advisedTableOffsetWrong = advisedWithTable;
    advisedTableOffsetWrong.pixelOffset = 54;
    BmpBuilder bitFieldsGap = bmp(32, {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0, 1, 2, 3, 0});
    bitFieldsGap.compression = 3;
    bitFieldsGap.masks = {0xFF0000, 0xFF00, 0xFF};
    bitFieldsGap.gap = garbage;
    for (const auto& [name, builder, colors] :
         {std::tuple{"noTableStored", advised, shown24}, std::tuple{"tableStored", advisedWithTable, shown24},
          std::tuple{"tableStoredOffsetIntoIt", advisedTableOffsetWrong, shown24}}) {
        SCOPED_TRACE(name);
        Bitmap b;
        decode(b, builder.build());
        ASSERT_EQ(b.Width(), 2);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(b.pixel(i % 2, i / 2), colors[i]) << i;
    }
    Bitmap b;
    decode(b, bitFieldsGap.build());
    EXPECT_EQ(b.pixel(0, 0), Blue);
    EXPECT_EQ(b.pixel(1, 0), rgbColor(3, 2, 1));
    EXPECT_EQ(b.pixel(0, 1), Red);
}

// Absolute runs are padded to a 16-bit boundary; RLE4 absolute runs hold two pixels a byte.
TEST(BmpDecodeRle, AbsoluteRunsArePaddedToWords) {
    for (int bits : {8, 4}) {
        SCOPED_TRACE(bits);
        BmpBuilder b = bmp(bits,
                           bits == 8 ? std::vector<uint8_t>{0, 3, 2, 1, 0, 0, 0, 0, 2, 0, 0, 1}
                                     : std::vector<uint8_t>{0, 3, 0x21, 0x00, 0, 0, 2, 0x00, 0, 1},
                           palette({Red, Green, Blue}));
        b.compression = bits == 8 ? 1 : 2;
        b.colorsUsed = 3;
        b.width = 3;
        b.height = 2;
        Bitmap out;
        decode(out, b.build());
        EXPECT_EQ(out.pixel(0, 1), Blue);
        EXPECT_EQ(out.pixel(1, 1), Green);
        EXPECT_EQ(out.pixel(2, 1), Red);
        EXPECT_EQ(out.pixel(0, 0), Red);
        EXPECT_EQ(out.pixel(1, 0), Red);
    }
}

TEST(BmpDecodeErrors, InvalidImagesAreRefusedAndTheOldPictureStays) {
    BmpBuilder good = bmp(24, {0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0});
    struct Refused {
        const char* name;
        std::vector<uint8_t> bytes;
        std::string reason;
    };
    std::vector<Refused> cases;
    auto add = [&](const char* name, void (*change)(BmpBuilder&), std::string reason) {
        cases.push_back({name, with(good, change).build(), std::move(reason)});
    };
    add(
        "planes", [](BmpBuilder& b) { b.planes = 2; }, "2 planes, where a BMP has 1");
    add(
        "bitCount", [](BmpBuilder& b) { b.bits = 7; }, "7-bit BMPs are not read");
    add(
        "headerSize", [](BmpBuilder& b) { b.headerSize = 20; }, "a header of 20 bytes");
    add(
        "compression", [](BmpBuilder& b) { b.compression = 4; }, "JPEG inside a BMP is not read");
    add(
        "png", [](BmpBuilder& b) { b.bits = 0, b.compression = 5; }, "PNG inside a BMP is not read");
    add(
        "otherCompression", [](BmpBuilder& b) { b.compression = 6; }, "compression 6 is not read");
    add(
        "rleBits", [](BmpBuilder& b) { b.compression = 1; }, "compression 1 with 24 bits per pixel");
    add(
        "bits2", [](BmpBuilder& b) { b.bits = 2; }, "2-bit BMPs are not read");
    add(
        "paletteCutShort",
        [](BmpBuilder& b) {
            b.bits = 8;
            b.pixels.clear();
        },
        "cut short in the colour table");
    add(
        "negativeWidth", [](BmpBuilder& b) { b.width = -2; }, "a size of -2 x 2 pixels");
    add(
        "zeroHeight", [](BmpBuilder& b) { b.height = 0; }, "a size of 2 x 0 pixels");
    add(
        "absurdSize", [](BmpBuilder& b) { b.width = b.height = 0x7FFFFFF; },
        "too large: 134217727 x 134217727 pixels");
    add(
        "truncatedPixels", [](BmpBuilder& b) { b.pixels.resize(10); }, "cut short");
    add(
        "colorsBeyondTable",
        [](BmpBuilder& b) {
            b.bits = 1;
            b.colorsUsed = 3;
            b.palette = palette({Red, Green, Blue});
        },
        "a table of 3 colours for 1 bit per pixel");
    add(
        "hugeColorCount", [](BmpBuilder& b) { b.bits = 8, b.colorsUsed = 0x40000000; },
        "a table of 1073741824 colours for 8 bits per pixel");
    add(
        "rleTopDown",
        [](BmpBuilder& b) {
            b.bits = 8;
            b.compression = 1;
            b.height = -2;
        },
        "a run-length picture stored top-down");
    add(
        "rleRunPastRow",
        [](BmpBuilder& b) {
            b.bits = 8;
            b.compression = 1;
            b.palette = palette({Red, Green});
            b.colorsUsed = 2;
            b.pixels = {3, 0, 0, 1};
        },
        "a run goes past the picture");
    add(
        "rleRunPastPicture",
        [](BmpBuilder& b) {
            b.bits = 8;
            b.compression = 1;
            b.palette = palette({Red, Green});
            b.colorsUsed = 2;
            b.pixels = {0, 0, 0, 0, 0, 0, 2, 0};
        },
        "a run goes past the picture");
    add(
        "rleTruncatedAbsolute",
        [](BmpBuilder& b) {
            b.bits = 8;
            b.compression = 1;
            b.palette = palette({Red, Green});
            b.colorsUsed = 2;
            b.pixels = {0, 5, 1};
        },
        "the run-length data is cut short");
    // Run-length pictures that claim more pixels than their data could fill, two bytes making at
    // most 255: a valid 2 x 2 picture, its header then set to 50331648 x 5 (RLE4) and to
    // 16384 x 16384 (RLE8).
    add(
        "rle4LargerThanItsData",
        [](BmpBuilder& b) {
            b.bits = 4;
            b.compression = 2;
            b.palette = palette({Red, Green});
            b.colorsUsed = 2;
            b.pixels = {2, 0x01, 0, 0, 2, 0x10, 0, 1};
            b.width = 50331648;
            b.height = 5;
        },
        "larger than its run-length data could fill: 50331648 x 5 pixels");
    add(
        "rle8LargerThanItsData",
        [](BmpBuilder& b) {
            b.bits = 8;
            b.compression = 1;
            b.palette = palette({Red, Green});
            b.colorsUsed = 2;
            b.pixels = {2, 1, 0, 0, 2, 0, 0, 1};
            b.width = b.height = 16384;
        },
        "larger than its run-length data could fill: 16384 x 16384 pixels");
    std::vector<uint8_t> notBm = good.build();
    notBm[0] = 'X';
    cases.push_back({"signature", notBm, "no \"BM\" signature"});
    const std::vector<uint8_t> goodBytes = good.build();
    cases.push_back(
        {"truncatedHeader", std::vector<uint8_t>(goodBytes.begin(), goodBytes.begin() + 20), "cut short"});

    for (auto& [name, bytes, reason] : cases) {
        SCOPED_TRACE(name);
        Bitmap b;
        b.SetPixelFormat(PixelFormat::Bits24);
        b.SetSize(3, 1);
        b.setPixel(0, 0, Red);
        try {
            b.LoadFromMemory(bytes.data(), bytes.size());
            ADD_FAILURE() << "decoded an invalid image";
        } catch (const RasterError& e) {
            EXPECT_EQ(e.what(), std::string(RasterMessages::InvalidBitmap) + ": " + reason);
        }
        EXPECT_EQ(b.Width(), 3);
        EXPECT_EQ(b.pixel(0, 0), Red);
    }
}

// A run-length picture may end early and leave the rest blank, as long as it is small: 1024 x 1024
// pixels from one end-of-bitmap escape decode, twice as many rows do not.
TEST(BmpDecodeRle, SmallPicturesMayBeMostlyBlank) {
    BmpBuilder blank = bmp(8, {1, 1, 0, 1}, palette({Red, Green}));
    blank.compression = 1;
    blank.colorsUsed = 2;
    blank.width = blank.height = 1024;
    Bitmap out;
    decode(out, blank.build());
    EXPECT_EQ(out.pixel(0, 1023), Green);
    EXPECT_EQ(out.pixel(1, 1023), Red);
    EXPECT_EQ(out.pixel(1023, 0), Red);
    blank.height = 2048;
    const std::vector<uint8_t> bytes = blank.build();
    EXPECT_THROW(out.LoadFromMemory(bytes.data(), bytes.size()), RasterError);
}

// Random damage to valid images must give a picture or the error, never a crash.
TEST(BmpDecodeErrors, RandomDamageNeverCrashes) {
    std::vector<std::vector<uint8_t>> seeds = {
        bmp(24, {0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0}).build(),
        with(bmp(8, {2, 1, 0, 0, 1, 2, 1, 0, 0, 1}, palette({Red, Green, Blue})),
             [](BmpBuilder& b) {
                 b.compression = 1;
                 b.colorsUsed = 3;
             })
            .build(),
        with(bmp(4, {2, 0x12, 0, 2, 0, 1, 0, 1}, palette({Red, Green, Blue})),
             [](BmpBuilder& b) {
                 b.compression = 2;
                 b.colorsUsed = 3;
             })
            .build(),
    };
    std::mt19937 rng(7);
    for (int i = 0; i < 4000; ++i) {
        std::vector<uint8_t> bytes = seeds[i % seeds.size()];
        int flips = 1 + rng() % 4;
        for (int f = 0; f < flips; ++f)
            bytes[rng() % bytes.size()] = uint8_t(rng());
        if (rng() % 4 == 0)
            bytes.resize(rng() % bytes.size());
        Bitmap b;
        try {
            b.LoadFromMemory(bytes.data(), bytes.size());
            for (int y = 0; y < b.Height(); ++y)
                for (int x = 0; x < b.Width(); ++x)
                    (void)b.pixel(x, y);
        } catch (const RasterError&) {
        }
    }
}
