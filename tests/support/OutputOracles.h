// Independent decoders for the still-image writers' tests: ImageMagick, giflib, libtiff, libjpeg,
// libpng and OpenJPEG, each giving the decoded pixels and the facts the tests check.
#pragma once

#include "raster/Bitmap.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kelvara::test::still {

// Decoded pixels as red, green, blue bytes, rows from the top.
struct DecodedRgb {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;

    Color at(int x, int y) const {
        const uint8_t* p = rgb.data() + (static_cast<size_t>(y) * width + x) * 3;
        return rgbColor(p[0], p[1], p[2]);
    }
};

// A picture of w x h made by a colour function.
template <typename F> void fillPicture(Bitmap& bitmap, int w, int h, F colorAt) {
    bitmap.SetPixelFormat(PixelFormat::Bits24);
    bitmap.SetSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            bitmap.setPixel(x, y, colorAt(x, y));
}

// ImageMagick's convert, reading a file of the given format ("bmp", "pcx", "tga", "gif").
DecodedRgb decodeWithImageMagick(const std::vector<uint8_t>& file, const std::string& format);

// ffmpeg's image decoders; the picture's size is given.
DecodedRgb decodeWithFfmpeg(const std::vector<uint8_t>& file, const std::string& extension, int width,
                            int height);

// giflib.
struct GifFacts {
    int width = 0;
    int height = 0;
    int colorResolution = 0;
    int backgroundIndex = 0;
    std::vector<Color> globalColors;
    bool interlaced = false;
    std::vector<uint8_t> indexes; // rows from the top, de-interlaced by giflib
    bool hasGraphicControl = false;
    int disposal = 0;
    bool transparent = false;
    int transparentIndex = -1;
    std::vector<std::string> comments;
};
GifFacts readGifFactsWithGiflib(const std::vector<uint8_t>& file);

// libtiff.
struct TiffFacts {
    int width = 0;
    int height = 0;
    int compression = 0;
    int photometric = 0;
    int bitsPerSample = 0;
    int samplesPerPixel = 0;
    int predictor = 1;
    uint32_t t4Options = 0;
    std::vector<uint16_t> colorMap[3];
    // The strip decoded by libtiff, rows from the top.
    std::vector<uint8_t> raw;
    // TIFFReadRGBAImage's pixels; empty when libtiff cannot render the photometric.
    DecodedRgb rgba;
};
TiffFacts decodeWithLibtiff(const std::vector<uint8_t>& file);

// libjpeg: pixels as RGB (CMYK files converted as Adobe-inverted ink values), and the colour space.
struct JpegFacts {
    DecodedRgb picture;
    int components = 0;
    int colorSpace = 0; // J_COLOR_SPACE of the file
    bool progressive = false;
    int densityUnit = 0;
    int xDensity = 0;
};
JpegFacts decodeWithLibjpeg(const std::vector<uint8_t>& file);

// libpng.
struct PngFacts {
    int width = 0;
    int height = 0;
    int bitDepth = 0;
    int colorType = 0;
    int interlace = 0;
    std::vector<Color> palette;
    bool hasBackground = false;
    int backgroundIndex = -1;
    int backgroundGray = -1;
    Color backgroundRgb = 0;
    uint32_t pixelsPerMetreX = 0;
    DecodedRgb picture;
    std::vector<uint8_t> paletteIndexes; // for palette images
};
PngFacts decodeWithLibpng(const std::vector<uint8_t>& file);

// OpenJPEG, a JP2 file or a bare code stream.
struct Jpeg2000Facts {
    int components = 0;
    int precision = 0;
    int width = 0;
    int height = 0;
    std::vector<std::vector<int>> samples;
};
Jpeg2000Facts decodeWithOpenJpeg(const std::vector<uint8_t>& file, bool codeStream);

} // namespace kelvara::test::still
