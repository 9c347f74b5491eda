// Each still-image format's options, declared once: the save-parameters dialog's parameter set,
// the save options of the main window and the writer parameters all embed these types.
#pragma once

#include "raster/Bitmap.h"

#include <cstdint>
#include <string>

namespace kelvara {

// The formats "Save" writes, in the order of the "Get frames" format list, plus PNG.
enum class StillImageFormat { Bmp, Jpeg, Gif, Tiff, Pcx, Tga, Jpeg2000, Png };

// Indexes into the lists of the save-parameters dialog.
enum class JpegColorSpace : uint8_t { Rgb = 0, Gray = 1, YCbCr = 2, Cmyk = 3, YCbCrK = 4 };
enum class JpegDctMethod : uint8_t { ISlow = 0, IFast = 1, Float = 2 };
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
enum class PngFilter : uint8_t { None = 0, Sub = 1, Paeth = 2 };
enum class Jpeg2000ColorSpace : uint8_t { Gray = 0, Rgb = 1, YCbCr = 2 };
enum class Jpeg2000Format { Jp2File, CodeStream };

// The defaults are those the save-parameters dialog shows on every activation.
struct JpegOptions {
    int32_t quality = 50; // 0..100
    JpegColorSpace colorSpace = JpegColorSpace::YCbCrK;
    JpegDctMethod dctMethod = JpegDctMethod::ISlow;
    bool optimalHuffman = false;
    int32_t smoothing = 0;
    bool progressive = false;
    bool operator==(const JpegOptions&) const = default;
};

struct TiffOptions {
    TiffCompression compression = TiffCompression::Uncompressed;
    TiffPhotometric photometric = TiffPhotometric::Rgb;
    bool operator==(const TiffOptions&) const = default;
};

struct GifOptions {
    bool transparent = false;
    Color transparentColor = ColorBlack;
    bool interlaced = false;
    Color background = ColorBlack;
    bool operator==(const GifOptions&) const = default;
};

struct BmpOptions {
    uint8_t compression = 0; // 0 none, 1 RLE
    bool operator==(const BmpOptions&) const = default;
};

struct PcxOptions {
    uint8_t compression = 1; // 0 none, 1 RLE
    bool operator==(const PcxOptions&) const = default;
};

struct PngOptions {
    Color background = ColorBlack;
    bool interlaced = false;
    PngFilter filter = PngFilter::None;
    int32_t compression = 5; // 0..9
    bool operator==(const PngOptions&) const = default;
};

struct TgaOptions {
    Color background = ColorBlack;
    bool compressed = true;
    // The writer stores the name as the image ID and the description as the author text.
    std::string name;
    std::string description;
    bool operator==(const TgaOptions&) const = default;
};

struct Jpeg2000Options {
    Jpeg2000ColorSpace colorSpace = Jpeg2000ColorSpace::YCbCr;
    double rate = 0.5; // 0..1, the fraction of the uncompressed size
    // Saved files (and so the dialog's preview) are JP2 files; the bare code stream is for
    // files named as code streams.
    Jpeg2000Format format = Jpeg2000Format::Jp2File;
    bool operator==(const Jpeg2000Options&) const = default;
};

// The still-image save options: every format's options and the colour depth, as bits per sample
// and samples per pixel. The main window keeps one set between the dialog's "OK" and "Save"; the
// writer parameters start from them.
struct StillImageSaveOptions {
    JpegOptions jpeg;
    TiffOptions tiff;
    int32_t samplesPerPixel = 3;
    int32_t bitsPerSample = 8;
    GifOptions gif;
    BmpOptions bmp;
    PcxOptions pcx;
    PngOptions png;
    TgaOptions tga;
    Jpeg2000Options jpeg2000;
    bool operator==(const StillImageSaveOptions&) const = default;
};

} // namespace kelvara
