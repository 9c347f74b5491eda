// Still-image formats, the save options the main window keeps, the save-parameters dialog's
// parameter set with its colour lists and "OK" copy, and writing pictures with those options.
#pragma once

#include "output/WriterParams.h"
#include "raster/Stream.h"

#include <optional>
#include <string>
#include <vector>

namespace kelvara {

class Bitmap;
class Stream;

// The formats "Save" writes, in the order of the "Get frames" format list, plus PNG.
enum class StillImageFormat { Bmp, Jpeg, Gif, Tiff, Pcx, Tga, Jpeg2000, Png };

// ".bmp", ".jpg", ".gif", ".tif", ".pcx", ".tga", ".jp2", ".png".
const char* stillImageExtension(StillImageFormat format);
// The short names bmp, jpg, gif, tif, pcx, tga, jp2, png.
const char* stillImageFormatName(StillImageFormat format);
std::optional<StillImageFormat> stillImageFormatFromName(const std::string& name);

// The still-image save options of the main window. They start from the save-parameters
// dialog's defaults: all zero would write JPEG at quality 0.
struct StillImageSaveOptions {
    int32_t jpegQuality = 50;
    JpegColorSpace jpegColorSpace = JpegColorSpace::YCbCrK;
    JpegDctMethod jpegDctMethod = JpegDctMethod::ISlow;
    bool jpegOptimalHuffman = false;
    int32_t jpegSmoothing = 0;
    bool jpegProgressive = false;
    TiffCompression tiffCompression = TiffCompression::Uncompressed;
    TiffPhotometric tiffPhotometric = TiffPhotometric::Rgb;
    int32_t samplesPerPixel = 3;
    int32_t bitsPerSample = 8;
    bool gifTransparent = false;
    Color gifTransparentColor = ColorBlack;
    bool gifInterlaced = false;
    Color gifBackground = ColorBlack;
    uint8_t bmpCompression = 0;
    uint8_t pcxCompression = 1;
    Color pngBackground = ColorBlack;
    bool pngInterlaced = false;
    PngFilter pngFilter = PngFilter::None;
    int32_t pngCompression = 5;
    Color tgaBackground = ColorBlack;
    bool tgaCompressed = true;
    std::string tgaName;
    std::string tgaDescription;
    Jpeg2000ColorSpace jp2ColorSpace = Jpeg2000ColorSpace::YCbCr;
    double jp2Rate = 0.5;
    // Saved files are JP2 files; the preview uses the bare code stream.
    Jpeg2000Format jp2Format = Jpeg2000Format::Jp2File;
};

// The entries of the dialog's colours lists.
enum class ColorsEntry { BlackWhite, C4, C8, C16, C32, C64, C128, C256, C65536, C16M, C16M32 };

struct ColorDepth {
    int bitsPerSample;
    int samplesPerPixel;
    bool operator==(const ColorDepth&) const = default;
};

// The colours list of a format's page, in the order shown; empty for JPEG and JPEG 2000.
const std::vector<ColorsEntry>& colorsList(StillImageFormat format);
// Bits per sample and samples per pixel of an entry of a format's colours list.
ColorDepth colorDepth(StillImageFormat format, ColorsEntry entry);
// The TIFF colours entry that bits and samples show (B/W, 16, 256, 65536, 16M).
ColorsEntry tiffColorsEntry(int bitsPerSample, int samplesPerPixel);

// The save-parameters dialog's parameter set, reset to these defaults on every activation.
struct SaveParameterSet {
    int32_t jpegQuality = 50;
    JpegColorSpace jpegColorSpace = JpegColorSpace::YCbCrK;
    JpegDctMethod jpegDctMethod = JpegDctMethod::ISlow;
    bool jpegOptimalHuffman = false;
    int32_t jpegSmoothing = 0;
    bool jpegProgressive = false;
    double jp2Rate = 0.5;
    Jpeg2000ColorSpace jp2ColorSpace = Jpeg2000ColorSpace::YCbCr;
    TiffCompression tiffCompression = TiffCompression::Uncompressed;
    TiffPhotometric tiffPhotometric = TiffPhotometric::Rgb;
    int32_t tiffBitsPerSample = 8;
    int32_t tiffSamplesPerPixel = 3;
    bool gifTransparent = false;
    Color gifTransparentColor = ColorBlack;
    bool gifInterlaced = false;
    Color gifBackground = ColorBlack;
    int32_t gifBitsPerPixel = 8;
    uint8_t bmpCompression = 0;
    ColorsEntry bmpColors = ColorsEntry::C16M;
    uint8_t pcxCompression = 1;
    ColorsEntry pcxColors = ColorsEntry::C256;
    ColorsEntry pngColors = ColorsEntry::C16M;
    bool pngInterlaced = false;
    Color pngBackground = ColorBlack;
    PngFilter pngFilter = PngFilter::None;
    int32_t pngCompression = 5;
    ColorsEntry tgaColors = ColorsEntry::C16M;
    Color tgaBackground = ColorBlack;
    bool tgaCompressed = true;
    std::string tgaName;
    std::string tgaDescription;
};

// The TIFF page's coupled lists: choosing a photometric or a colours entry adjusts the other list
// as the dialog does, then bits and samples follow the colours (8 and 4 for CMYK).
void chooseTiffPhotometric(SaveParameterSet& set, TiffPhotometric photometric);
void chooseTiffColors(SaveParameterSet& set, ColorsEntry colors);

// "OK": copies the page of a format into the save options.
void copyPageToSaveOptions(StillImageFormat page, const SaveParameterSet& set,
                           StillImageSaveOptions& options);
// The save options as "OK" on a format's page leaves them when the dialog shows its defaults.
StillImageSaveOptions defaultSaveOptions(StillImageFormat format);

// The writer parameters "Save" hands to a format's writer, field by field from the save options.
// TGA: the name becomes the image ID and the description the author text.
TIOParams writerParams(const StillImageSaveOptions& options, StillImageFormat format);

// Writes one picture in a format with the save options at the stream's position.
void writeStillImage(const Bitmap& picture, const StillImageSaveOptions& options, StillImageFormat format,
                     Stream& stream, const ProgressCallback& progress = {});

// The file name of an extracted frame: base name, frame number (decimal, no padding), extension.
std::string stillImageFileName(const std::string& baseName, int frameNumber, StillImageFormat format);

// Writes the picture to path through an OutputFile, so the name only ever holds a whole file.
// With ExistingFile::Keep an existing file is never replaced: OutputError names it instead.
void saveStillImageFile(const Bitmap& picture, const StillImageSaveOptions& options, StillImageFormat format,
                        const std::string& path, ExistingFile existing,
                        const ProgressCallback& progress = {});

} // namespace kelvara
