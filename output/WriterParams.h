// The writer-parameter record every still-image writer reads, what the writers return, and their
// errors.
#pragma once

#include "output/FormatOptions.h"
#include "raster/Bitmap.h"
#include "raster/Error.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kelvara {

class Stream;

// Raised by the still-image writers.
class OutputError : public Error {
public:
    using Error::Error;
};

namespace OutputMessages {
inline constexpr const char* PngCreate = "Error on creating PNG";
inline constexpr const char* PngWrite = "The picture could not be written as PNG";
inline constexpr const char* EmptyPicture = "The picture is empty";
// Width or height beyond the 16-bit fields of the format.
inline constexpr const char* TooLarge = "The picture is too large for this file format";
} // namespace OutputMessages

// Receives a writer's progress as a percentage 0..100.
using ProgressCallback = std::function<void(int percent)>;

inline void reportProgress(const ProgressCallback& progress, int percent) {
    if (progress)
        progress(percent);
}

// The writer parameters: the save options, and the fields the program never sets, which keep
// these defaults.
struct TIOParams : StillImageSaveOptions {
    TIOParams() {
        // JPEG written without the dialog's settings: quality 80 in YCbCr.
        jpeg.quality = 80;
        jpeg.colorSpace = JpegColorSpace::YCbCr;
    }

    // Resolution in dots per inch; that of the screen unless set.
    double dpiX = 96;
    double dpiY = 96;

    double tiffXPosition = 0;
    double tiffYPosition = 0;

    std::string gifVersion = "GIF89a";
    uint16_t gifDelay = 0;
    uint16_t gifLeft = 0;
    uint16_t gifTop = 0;
    std::vector<std::string> gifComments;

    uint8_t pcxVersion = 5;

    uint16_t tgaXOrigin = 0;
    uint16_t tgaYOrigin = 0;
    std::string tgaJob;
    // The moment stamped into the file; 0 means the moment of writing.
    std::time_t tgaDate = 0;
    Color tgaKeyColor = ColorBlack;
    double tgaAspectRatio = 1.0;
    double tgaGamma = 2.2;

    // Progression order: 0 layer-resolution-component-position, 1 resolution-layer-...
    int jp2ProgressionOrder = 0;
};

// What a writer computed besides the file: the colours its pixels index (its colour table, or
// black and white for a bilevel image); empty for true colour.
struct WriteResult {
    std::vector<Color> palette;
};

} // namespace kelvara
