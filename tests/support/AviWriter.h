// A tiny writer of uncompressed AVI files, for deterministic test fixtures.
#pragma once

#include "raster/Bitmap.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kelvara::test {

struct AviFixture {
    int width = 0;
    int height = 0;
    int bitCount = 24;                 // 8, 16 or 24
    uint32_t compression = 0;          // 0; 1 for RLE8 frames; 3 for 16-bit bit fields
    ColorMasks masks;                  // with compression 3
    std::vector<PaletteEntry> palette; // the stream's colour table, with 8 bits
    uint32_t scale = 1;
    uint32_t rate = 25;
    // Each frame's pixel bits, bottom-up rows padded to 4 bytes; an empty frame is written as a
    // zero-length chunk (a dropped frame).
    std::vector<std::vector<uint8_t>> frames;
    // Damage for the opening failures: a stream format of this many bytes (0: the whole format)
    // or none at all.
    size_t formatBytes = 0;
    bool writeFormat = true;
};

// Writes the fixture as an AVI file with an idx1 index.
void writeAvi(const std::string& path, const AviFixture& fixture);

// Sets the width and height of an AVI file's first stream format ('strf') to claim another size.
void claimAviFormatSize(const std::string& path, int32_t width, int32_t height);

// RLE8-encodes 8-bit pixels given as top-down rows of width bytes: runs of equal bytes, an end of
// line after each row and an end of bitmap.
std::vector<uint8_t> encodeRle8(const std::vector<uint8_t>& topDownPixels, int width, int height);

// The bottom-up DIB bits of a 24-bit picture whose pixel (x, y) is colorAt(x, y).
template <typename ColorAt> std::vector<uint8_t> dibBits24(int width, int height, ColorAt colorAt) {
    size_t stride = ((size_t(width) * 24 + 31) / 32) * 4;
    std::vector<uint8_t> bits(stride * height, 0);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bits.data() + size_t(height - 1 - y) * stride;
        for (int x = 0; x < width; ++x) {
            Color c = colorAt(x, y);
            row[3 * x] = uint8_t(blueOf(c));
            row[3 * x + 1] = uint8_t(greenOf(c));
            row[3 * x + 2] = uint8_t(redOf(c));
        }
    }
    return bits;
}

} // namespace kelvara::test
