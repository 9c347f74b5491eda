// The writer-parameter record every still-image writer reads, the LZW hooks and the writers' errors.
#pragma once

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
// No LZW encoder for GIF image data, neither in the parameters nor as the library default.
inline constexpr const char* NoGifEncoder = "No GIF LZW encoder is available";
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

// GIF LZW codec: the encoder writes the minimum code size, the data sub-blocks and the block
// terminator for width x height indexes given row after row from the top.
using GifLzwEncodeHook = void (*)(Stream& stream, int height, int width, int bits, const uint8_t* indexes,
                                  bool interlaced);
// The decoder reads what the encoder wrote from the stream's position and returns the indexes
// row after row from the top.
using GifLzwDecodeHook = std::vector<uint8_t> (*)(Stream& stream, int height, int width, bool interlaced);

// The state a TIFF LZW encoder keeps between its calls for one strip.
class TiffLzwEncoderState {
public:
    virtual ~TiffLzwEncoderState() = default;
};
// TIFF LZW codec: the encoder is called once per row of a strip with the same state, which starts
// empty, and once more with no bytes (row == nullptr) to end the strip.
using TiffLzwEncodeHook = void (*)(const uint8_t* row, size_t count, Stream& stream,
                                   std::unique_ptr<TiffLzwEncoderState>& state);
// The decoder turns one strip back into at most expectedSize bytes.
using TiffLzwDecodeHook = std::vector<uint8_t> (*)(const uint8_t* data, size_t size, size_t expectedSize);

struct GifLzwHooks {
    GifLzwEncodeHook encode = nullptr;
    GifLzwDecodeHook decode = nullptr;
};
struct TiffLzwHooks {
    TiffLzwEncodeHook encode = nullptr;
    TiffLzwDecodeHook decode = nullptr;
};

// The library's default hooks, used when the parameters hold none. They start as our own GIF and
// TIFF LZW pairs, the ones the program hands to the library at start-up.
GifLzwHooks& defaultGifLzwHooks();
TiffLzwHooks& defaultTiffLzwHooks();

// Indexes into the TIFF lists of the save-parameters dialog.
enum class TiffCompression : uint8_t {
    Uncompressed = 0,
    Ccitt1D = 1,
    G3Fax1D = 2,
    G3Fax2D = 3,
    G4Fax = 4,
    Lzw = 5,
    OldJpeg = 6,
    Jpeg = 7,
    PackBits = 8,
};
enum class TiffPhotometric : uint8_t {
    WhiteIsZero = 0,
    BlackIsZero = 1,
    Rgb = 2,
    RgbPalette = 3,
    TranspMask = 4,
    Cmyk = 5,
    YCbCr = 6,
    CieLab = 7,
};

enum class JpegColorSpace : uint8_t { Rgb = 0, Gray = 1, YCbCr = 2, Cmyk = 3, YCbCrK = 4 };
enum class JpegDctMethod : uint8_t { ISlow = 0, IFast = 1, Float = 2 };
enum class PngFilter : uint8_t { None = 0, Sub = 1, Paeth = 2 };
enum class Jpeg2000ColorSpace : uint8_t { Gray = 0, Rgb = 1, YCbCr = 2 };
enum class Jpeg2000Format { Jp2File, CodeStream };

// The writer parameters. Fields the program never sets keep these defaults.
struct TIOParams {
    // Colour depth, as bits per sample and samples per pixel.
    int32_t bitsPerSample = 8;
    int32_t samplesPerPixel = 3;
    // Resolution in dots per inch; that of the screen unless set.
    double dpiX = 96;
    double dpiY = 96;

    int32_t jpegQuality = 80;
    JpegColorSpace jpegColorSpace = JpegColorSpace::YCbCr;
    JpegDctMethod jpegDctMethod = JpegDctMethod::ISlow;
    bool jpegOptimalHuffman = false;
    int32_t jpegSmoothing = 0;
    bool jpegProgressive = false;

    TiffCompression tiffCompression = TiffCompression::Uncompressed;
    TiffPhotometric tiffPhotometric = TiffPhotometric::Rgb;
    double tiffXPosition = 0;
    double tiffYPosition = 0;
    TiffLzwHooks tiffLzw;

    GifLzwHooks gifLzw;
    std::string gifVersion = "GIF89a";
    Color gifBackground = ColorBlack;
    bool gifTransparent = false;
    Color gifTransparentColor = ColorBlack;
    uint16_t gifDelay = 0;
    uint16_t gifLeft = 0;
    uint16_t gifTop = 0;
    bool gifInterlaced = false;
    std::vector<std::string> gifComments;

    uint8_t bmpCompression = 0;

    uint8_t pcxCompression = 1;
    uint8_t pcxVersion = 5;

    bool pngInterlaced = false;
    PngFilter pngFilter = PngFilter::None;
    int32_t pngCompression = 5;
    Color pngBackground = ColorBlack;

    bool tgaCompressed = true;
    uint16_t tgaXOrigin = 0;
    uint16_t tgaYOrigin = 0;
    std::string tgaId;
    std::string tgaAuthor;
    std::string tgaJob;
    // The moment stamped into the file; 0 means the moment of writing.
    std::time_t tgaDate = 0;
    Color tgaKeyColor = ColorBlack;
    double tgaAspectRatio = 1.0;
    double tgaGamma = 2.2;

    double jp2Rate = 0.5;
    Jpeg2000ColorSpace jp2ColorSpace = Jpeg2000ColorSpace::YCbCr;
    // Progression order: 0 layer-resolution-component-position, 1 resolution-layer-...
    int jp2ProgressionOrder = 0;

    // The palette the writer made (BMP, TGA) or the preview's reduction left.
    std::vector<Color> colorMap;
};

} // namespace kelvara
