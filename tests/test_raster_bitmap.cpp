// Tests of the raster surface: storage, resizing, sharing and the stretch-mode rules of copies.
#include "raster/Bitmap.h"
#include "raster/Error.h"

#include <gtest/gtest.h>

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

// Reducing 2 x 1 source blocks: with a new context the pair is AND-combined; after a Draw
// (COLORONCOLOR) the dropped pixel is simply left out.
TEST(RasterBitmap, ReductionAndsAfterResizeAndDropsAfterDraw) {
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
    EXPECT_EQ(dest.pixel(0, 0), rgbColor(0x30, 0x0F, 0x0F));
    EXPECT_EQ(dest.pixel(1, 0), rgbColor(0x00, 0xAA, 0x00));

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
