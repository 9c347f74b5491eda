// Frames of a source with an alpha channel: the pixels whose alpha is below half become the
// frame's transparent colour, one entry of its table kept for them.
#pragma once

#include "gif/GifReduction.h"

#include <cstdint>
#include <memory>

namespace kelvara {

class Bitmap;

// A pixel whose alpha is below this is transparent in the GIF; from it on the pixel shows its
// colour (a GIF cannot blend).
inline constexpr uint8_t GifAlphaThreshold = 128;

// Whether the bitmap has an alpha plane with a pixel below the threshold.
bool hasTransparentPixels(const Bitmap& frame);

// A 24-bit copy of the frame whose transparent pixels take the colour of the nearest opaque pixel
// of their row (a row without one, that of the nearest row with one), so that the colours they
// hide neither take entries of the palette nor pass a dithering error to their neighbours.
std::unique_ptr<Bitmap> fillTransparentPixels(const Bitmap& frame);

// Keeps one entry of the reduced frame's table for its transparent pixels (alpha, one byte per
// pixel, rows top-down) and gives it to them: an entry no other pixel shows (the last such one),
// else one added to a table of fewer than 256, else the least used entry, whose pixels take the
// entry nearest to it. Sets the frame's transparentIndex.
void reserveTransparentEntry(ReducedFrame& frame, const uint8_t* alpha);

} // namespace kelvara
