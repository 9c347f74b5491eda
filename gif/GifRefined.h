// The refined colour reduction of the high-quality GIF mode: a palette of the frame's own colours
// when it has at most 256, else one seeded by a median cut and refined by Lloyd passes, and
// serpentine error diffusion with a bounded error.
#pragma once

#include "gif/GifDither.h"

#include <cstdint>
#include <vector>

namespace kelvara {

// A colour of a frame (or the mean of a bin of colours) with its pixel count and the sums of its
// pixels' channels.
struct ColourPoint {
    int red, green, blue;
    uint32_t count;
    uint64_t redSum, greenSum, blueSum;
};

// The colours of a frame: each distinct colour when there are at most ExactColourLimit (exact),
// else bins of close colours.
struct FrameColours {
    std::vector<ColourPoint> points;
    bool exact = false;
    uint64_t pixels = 0;
};
inline constexpr size_t ExactColourLimit = 4096;

// The colours of width x height 24-bit rows (blue, green, red).
FrameColours frameColours(int width, int height, const uint8_t* const* rows);

// A palette of at most maxColours entries for the colours: the colours themselves when they are
// exact and few enough, else colours chosen to keep the squared error small (a median cut refined
// by Lloyd passes; the points are reordered). error, when given, receives the summed squared
// error of the palette over the pixels.
std::vector<GifRGB> paletteFor(FrameColours& colours, size_t maxColours, uint64_t* error = nullptr);

// The summed squared error of the colours' pixels, each shown as its nearest palette entry.
uint64_t paletteError(const FrameColours& colours, const std::vector<GifRGB>& palette);

// The palette of one frame of 24-bit rows (blue, green, red): the frame's own colours when it has
// at most 256 (then exact is set), else 256 colours chosen to keep the squared error small.
std::vector<GifRGB> refinedPalette(int width, int height, const uint8_t* const* rows, bool* exact = nullptr);

// Maps every pixel to its palette entry: the nearest one (squared distance) for Nearest, else
// damped Floyd–Steinberg diffusion in serpentine order whose carried error is bounded, so that a
// colour far outside the palette does not leave a streak behind it.
void ditherRefined(int width, int height, const uint8_t* const* rows, const std::vector<GifRGB>& palette,
                   GifDitherKind ditherKind, uint8_t* indices);

// Both steps: writes width * height indices and sets colorTable to the palette (at most 256
// entries, no padding).
void reduceRefined(int width, int height, const uint8_t* const* rows, GifDitherKind ditherKind,
                   uint8_t* indices, std::vector<GifRGB>& colorTable);

} // namespace kelvara
