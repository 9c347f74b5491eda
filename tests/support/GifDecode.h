// Test support for the GIF engine: decoding with giflib (an independent decoder) and making
// 24-bit test pictures.
#pragma once

#include "raster/Bitmap.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kelvara::test {

struct GiflibFrame {
    int left = 0, top = 0, width = 0, height = 0;
    bool interlaced = false;
    // Rows top first, de-interlaced by giflib.
    std::vector<uint8_t> indices;
    // The colour map the frame is drawn with (its own, or the global one), RGB.
    std::vector<std::array<uint8_t, 3>> colors;
    bool hasGraphicControl = false;
    int delay = 0;
    int transparentIndex = -1;
    int disposal = 0; // of the graphic control block
};

struct GiflibImage {
    int screenWidth = 0, screenHeight = 0;
    std::string version; // as giflib names it: "GIF87a" or "GIF89a"
    int loopCount = -1;  // from a NETSCAPE2.0 block, -1 without one
    std::vector<GiflibFrame> frames;
};

// Decodes a whole GIF file with giflib's DGifSlurp; throws std::runtime_error with giflib's
// error text when it refuses the file.
GiflibImage decodeWithGiflib(const std::vector<uint8_t>& bytes);

// A 24-bit bitmap with each pixel from fn(x, y) (0x00RRGGBB).
std::unique_ptr<Bitmap> makeBitmap24(int width, int height, const std::function<Color(int, int)>& fn);
// A natural-looking frame: smooth gradients plus noise, different per seed.
std::unique_ptr<Bitmap> gradientNoiseFrame(int width, int height, uint32_t seed);

} // namespace kelvara::test
