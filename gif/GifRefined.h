// The refined colour reduction of the high-quality GIF mode: a per-frame palette seeded by a
// median cut and refined by Lloyd passes over a colour histogram, and serpentine error diffusion
// with a bounded error.
#pragma once

#include "gif/GifDither.h"

#include <cstdint>
#include <vector>

namespace kelvara {

// The palette of one frame of 24-bit rows (blue, green, red): the frame's own colours when it has
// at most 256 (then exact is set), else 256 colours chosen to keep the squared error small: a
// median cut of the colour histogram refined by Lloyd passes.
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
