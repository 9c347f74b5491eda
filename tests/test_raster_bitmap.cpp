// Tests of the raster surface: storage, resizing, sharing and the stretch-mode rules of copies.
#include "raster/Bitmap.h"
#include "raster/Error.h"

#include <gtest/gtest.h>

#include <tuple>
#include <utility>

using namespace kelvara;

namespace {

void make24(Bitmap& b, int w, int h) {
    b.SetPixelFormat(PixelFormat::Bits24);
    b.SetSize(w, h);
}

// Fills each pixel with a colour made from its coordinates.
void paintPattern(Bitmap& b) {
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x)
            b.setPixel(x, y, rgbColor(x * 40 + 1, y * 40 + 2, (x ^ y) * 16 + 3));
}

} // namespace

TEST(RasterBitmap, RowsArePaddedToFourBytes) {
    Bitmap b;
    make24(b, 5, 2);
    EXPECT_EQ(b.rowStride(), 16u);
    uint8_t* row = b.ScanLine(1);
    row[0] = 1, row[1] = 2, row[2] = 3; // blue, green, red
    EXPECT_EQ(b.pixel(0, 1), rgbColor(3, 2, 1));
    EXPECT_EQ(b.pixel(0, 0), ColorWhite);
}

TEST(RasterBitmap, ResizeKeepsTopLeftAndFillsWithWhiteOrBrush) {
    for (bool useCanvas : {false, true}) {
        SCOPED_TRACE(useCanvas ? "brush colour" : "white");
        Bitmap b;
        make24(b, 3, 2);
        paintPattern(b);
        Color expectedFill = ColorWhite;
        if (useCanvas) {
            b.Canvas().Brush.Color = rgbColor(10, 20, 30);
            expectedFill = rgbColor(10, 20, 30);
        }
        b.SetSize(5, 4);
        ASSERT_EQ(b.Width(), 5);
        ASSERT_EQ(b.Height(), 4);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 5; ++x) {
                Color expected =
                    (x < 3 && y < 2) ? rgbColor(x * 40 + 1, y * 40 + 2, (x ^ y) * 16 + 3) : expectedFill;
                EXPECT_EQ(b.pixel(x, y), expected) << x << "," << y;
            }
    }
}

TEST(RasterBitmap, ZeroSizeIsEmptyAndDrawOfEmptyDoesNothing) {
    Bitmap b;
    make24(b, 4, 4);
    b.SetHeight(0);
    EXPECT_TRUE(b.Empty());
    Bitmap dest;
    make24(dest, 2, 2);
    dest.setPixel(1, 1, rgbColor(1, 2, 3));
    dest.Canvas().Draw(0, 0, b);
    EXPECT_EQ(dest.pixel(1, 1), rgbColor(1, 2, 3));
    EXPECT_EQ(dest.pixel(0, 0), ColorWhite);
    // A 1 x 1 entry gives its memory back and stays usable.
    b.SetHeight(1);
    b.SetWidth(1);
    EXPECT_EQ(b.pixel(0, 0), ColorWhite);
}

TEST(RasterBitmap, DrawClipsAtNegativeOffsets) {
    Bitmap src, dest;
    make24(src, 3, 3);
    paintPattern(src);
    make24(dest, 3, 3);
    dest.Canvas().Draw(-1, 1, src);
    EXPECT_EQ(dest.pixel(0, 1), src.pixel(1, 0));
    EXPECT_EQ(dest.pixel(1, 2), src.pixel(2, 1));
    EXPECT_EQ(dest.pixel(2, 1), ColorWhite);
    EXPECT_EQ(dest.pixel(0, 0), ColorWhite);
}

// Reducing 2 x 1 source blocks: with a new context the pair is averaged; after a Draw
// (COLORONCOLOR) the dropped pixel is simply left out.
TEST(RasterBitmap, ReductionAveragesAfterResizeAndDropsAfterDraw) {
    Bitmap src;
    make24(src, 4, 1);
    src.setPixel(0, 0, rgbColor(0xF0, 0x0F, 0xFF));
    src.setPixel(1, 0, rgbColor(0x3C, 0xFF, 0x0F));
    src.setPixel(2, 0, rgbColor(0xAA, 0xAA, 0xAA));
    src.setPixel(3, 0, rgbColor(0x55, 0xFF, 0x00));

    Bitmap dest;
    make24(dest, 2, 1); // just resized: a new context, BlackOnWhite
    EXPECT_EQ(dest.Canvas().stretchMode(), StretchMode::BlackOnWhite);
    dest.Canvas().CopyRect({0, 0, 2, 1}, src.Canvas(), {0, 0, 4, 1});
    EXPECT_EQ(dest.pixel(0, 0), rgbColor(0x96, 0x87, 0x87)); // (0xF0 + 0x3C + 1) / 2, ...
    EXPECT_EQ(dest.pixel(1, 0), rgbColor(0x80, 0xD5, 0x55));

    Bitmap blank;
    make24(blank, 1, 1);
    dest.Canvas().Draw(0, 0, blank); // sets COLORONCOLOR and leaves it set
    dest.Canvas().CopyRect({0, 0, 2, 1}, src.Canvas(), {0, 0, 4, 1});
    EXPECT_EQ(dest.pixel(0, 0), src.pixel(0, 0));
    EXPECT_EQ(dest.pixel(1, 0), src.pixel(2, 0));

    // A dispatched window message, a taken handle or a resize each give a new context.
    releaseCanvasContexts();
    EXPECT_EQ(dest.Canvas().stretchMode(), StretchMode::BlackOnWhite);
    dest.Canvas().Draw(0, 0, blank);
    dest.Handle();
    EXPECT_EQ(dest.Canvas().stretchMode(), StretchMode::BlackOnWhite);
    dest.Canvas().Draw(0, 0, blank);
    dest.SetWidth(3);
    EXPECT_EQ(dest.Canvas().stretchMode(), StretchMode::BlackOnWhite);
}

// Every reduction in the default mode gives each destination pixel the rounded mean of the source
// pixels whose grid cell falls into it (source index floor(i * S / D) up to floor((i + 1) * S / D),
// at least one), per channel; an enlarged axis repeats. Checked against that average computed here,
// for 24- and 32-bit sources, mirrored copies and source rectangles partly outside the picture.
TEST(RasterBitmap, ReductionsAreAreaAverages) {
    struct Case {
        int sw, sh, dw, dh;
    };
    const Case cases[] = {
        {8, 6, 4, 3},     {1280, 4, 480, 2}, {13, 7, 5, 3}, {10, 10, 3, 10}, {6, 9, 10, 4},
        {1, 17, 1, 5},    {17, 1, 4, 1},     {9, 9, 1, 1},  {7, 5, 7, 2},    {5, 40, 12, 7},
        {300, 200, 7, 3}, {2, 2, 1, 1},      {3, 1, 2, 1},  {1, 5, 3, 4},
    };
    uint32_t seed = 99;
    auto noise = [&] {
        seed = seed * 1103515245u + 12345u;
        return int(seed >> 16) & 0xFF;
    };
    auto cell = [](int i, int S, int D) {
        int a = int(int64_t(i) * S / D), b = int(int64_t(i + 1) * S / D);
        return std::pair{a, std::max(b, a + 1)};
    };
    for (const PixelFormat format : {PixelFormat::Bits24, PixelFormat::Bits32}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(::testing::Message() << bitsPerPixel(format) << " bits " << c.sw << "x" << c.sh
                                              << " -> " << c.dw << "x" << c.dh);
            Bitmap src;
            src.SetPixelFormat(format);
            src.SetSize(c.sw, c.sh);
            for (int y = 0; y < c.sh; ++y)
                for (int x = 0; x < c.sw; ++x)
                    src.setPixel(x, y, rgbColor(noise(), noise(), (x * 7 + y) & 0xFF));
            auto expected = [&](int x, int y, bool mirror = false) {
                auto [x0, x1] = cell(x, c.sw, c.dw);
                if (mirror)
                    std::tie(x0, x1) = std::pair{c.sw - x1, c.sw - x0};
                auto [y0, y1] = cell(y, c.sh, c.dh);
                long r = 0, g = 0, b = 0, n = 0;
                for (int v = y0; v < y1; ++v)
                    for (int u = x0; u < x1; ++u) {
                        Color p = src.pixel(u, v);
                        r += redOf(p), g += greenOf(p), b += blueOf(p), ++n;
                    }
                return rgbColor(int((r + n / 2) / n), int((g + n / 2) / n), int((b + n / 2) / n));
            };
            for (StretchMode mode : {StretchMode::BlackOnWhite, StretchMode::Halftone}) {
                Bitmap dest;
                make24(dest, c.dw, c.dh);
                dest.Canvas().setStretchMode(mode);
                dest.Canvas().CopyRect({0, 0, c.dw, c.dh}, src.Canvas(), {0, 0, c.sw, c.sh});
                int wrong = 0;
                for (int y = 0; y < c.dh; ++y)
                    for (int x = 0; x < c.dw; ++x)
                        wrong += dest.pixel(x, y) != expected(x, y);
                EXPECT_EQ(wrong, 0);
            }
            // Mirrored left to right: column x takes the mirror image of column x's cell.
            Bitmap mirrored;
            make24(mirrored, c.dw, c.dh);
            stretchBlockCopy(mirrored.Canvas(), c.dw, 0, -c.dw, c.dh, src.Canvas(), 0, 0, c.sw, c.sh);
            for (int y = 0; y < c.dh; ++y)
                for (int x = 0; x < c.dw; ++x)
                    ASSERT_EQ(mirrored.pixel(x, y), expected(x, y, true)) << x << "," << y;
        }
    }
    // A source rectangle reaching past the picture averages the pixels that exist.
    Bitmap src, dest;
    make24(src, 2, 2);
    src.setPixel(0, 0, rgbColor(10, 20, 30));
    src.setPixel(1, 0, rgbColor(20, 40, 61));
    src.setPixel(0, 1, rgbColor(0, 0, 0));
    src.setPixel(1, 1, rgbColor(255, 255, 255));
    make24(dest, 1, 2);
    dest.Canvas().CopyRect({0, 0, 1, 2}, src.Canvas(), {0, 0, 4, 2});
    EXPECT_EQ(dest.pixel(0, 0), rgbColor(15, 30, 46));
    EXPECT_EQ(dest.pixel(0, 1), rgbColor(128, 128, 128));
}

TEST(RasterBitmap, EnlargingRepeatsPixelsEdgeToEdge) {
    Bitmap src, dest;
    make24(src, 2, 2);
    paintPattern(src);
    make24(dest, 5, 4);
    dest.Canvas().StretchDraw({0, 0, 5, 4}, src);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(dest.pixel(x, y), src.pixel(x * 2 / 5, y * 2 / 4)) << x << "," << y;
    // Both source corners reach the destination corners.
    EXPECT_EQ(dest.pixel(4, 3), src.pixel(1, 1));
}

TEST(RasterBitmap, AssignSharesUntilWrittenAndTheWriterGetsANewContext) {
    Bitmap a, b;
    make24(a, 2, 2);
    paintPattern(a);
    Bitmap blank;
    make24(blank, 1, 1);
    b.Canvas().Draw(0, 0, blank);
    b.Assign(a);
    EXPECT_TRUE(b.sharesPictureWith(a));
    EXPECT_EQ(b.PixelFormat(), PixelFormat::Bits24);

    a.Canvas().Draw(0, 0, blank); // a's context now holds COLORONCOLOR...
    EXPECT_FALSE(a.sharesPictureWith(b));
    EXPECT_EQ(a.Canvas().stretchMode(), StretchMode::ColorOnColor);
    EXPECT_EQ(b.pixel(0, 0), rgbColor(1, 2, 3)); // ...and b still has the old pixels
    EXPECT_EQ(a.pixel(0, 0), ColorWhite);

    Bitmap c;
    c.Assign(b);
    c.Canvas().setStretchMode(StretchMode::ColorOnColor);
    c.ScanLine(0)[0] = 9; // the first write to a shared picture makes a private copy
    EXPECT_EQ(c.Canvas().stretchMode(), StretchMode::BlackOnWhite);
    EXPECT_NE(b.pixel(0, 0), c.pixel(0, 0));
}

TEST(RasterBitmap, CopyRectMirrorsWithOppositeSigns) {
    Bitmap src, dest;
    make24(src, 3, 1);
    paintPattern(src);
    make24(dest, 3, 1);
    stretchBlockCopy(dest.Canvas(), 3, 0, -3, 1, src.Canvas(), 0, 0, 3, 1);
    EXPECT_EQ(dest.pixel(0, 0), src.pixel(2, 0));
    EXPECT_EQ(dest.pixel(2, 0), src.pixel(0, 0));
}

TEST(RasterBitmap, PixelFormatChangeConvertsAndAbsurdSizesAreRefused) {
    Bitmap b;
    make24(b, 2, 1);
    b.setPixel(0, 0, rgbColor(255, 0, 0));
    b.SetPixelFormat(PixelFormat::Bits16);
    EXPECT_EQ(b.pixel(0, 0), rgbColor(255, 0, 0));
    b.SetPixelFormat(PixelFormat::Bits24);
    EXPECT_EQ(b.pixel(1, 0), ColorWhite);
    EXPECT_THROW(b.SetSize(1 << 20, 1 << 20), RasterError);
    EXPECT_EQ(b.Width(), 2); // unchanged
}
