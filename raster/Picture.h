// The shared pixel store behind a Bitmap (private to the raster surface).
#pragma once

#include "raster/Bitmap.h"

#include <cstdint>
#include <vector>

namespace kelvara {

struct Bitmap::Picture {
    int width = 0;
    int height = 0;
    kelvara::PixelFormat format = kelvara::PixelFormat::Bits24;
    size_t stride = 0;
    std::vector<uint8_t> bits; // rows top-down, each padded to a multiple of 4 bytes
    std::vector<PaletteEntry> palette;
    ColorMasks masks;

    static size_t strideFor(int width, int bits) {
        return ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
    }
};

namespace raster_detail {
// The masks a 16- or 32-bit picture has when it carries none of its own.
ColorMasks defaultMasks(PixelFormat format);
// Expands a masked channel to 8 bits by repeating its top bits.
int expandChannel(uint32_t value, uint32_t mask);
// Checks a size against Bitmap::MaxPixels; throws RasterError when it is too large.
void checkPictureSize(int64_t width, int64_t height);
} // namespace raster_detail

} // namespace kelvara
