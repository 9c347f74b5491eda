// Still-image formats, the save-parameters dialog's parameter set with its colour lists and "OK"
// copy into the save options, file names and saving files.
#pragma once

#include "output/WriterParams.h"
#include "raster/Stream.h"

#include <optional>
#include <string>
#include <vector>

namespace kelvara {

class Bitmap;

// ".bmp", ".jpg", ".gif", ".tif", ".pcx", ".tga", ".jp2", ".png".
const char* stillImageExtension(StillImageFormat format);
// The short names bmp, jpg, gif, tif, pcx, tga, jp2, png.
const char* stillImageFormatName(StillImageFormat format);
std::optional<StillImageFormat> stillImageFormatFromName(const std::string& name);

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

// The save-parameters dialog's parameter set, reset to these defaults on every activation: each
// page's options and the colours it shows.
struct SaveParameterSet {
    JpegOptions jpeg;
    Jpeg2000Options jpeg2000;
    TiffOptions tiff;
    int32_t tiffBitsPerSample = 8;
    int32_t tiffSamplesPerPixel = 3;
    GifOptions gif;
    int32_t gifBitsPerPixel = 8;
    BmpOptions bmp;
    ColorsEntry bmpColors = ColorsEntry::C16M;
    PcxOptions pcx;
    ColorsEntry pcxColors = ColorsEntry::C256;
    PngOptions png;
    ColorsEntry pngColors = ColorsEntry::C16M;
    TgaOptions tga;
    ColorsEntry tgaColors = ColorsEntry::C16M;
};

// The TIFF colours entry the page shows for its parameter set: the entry of bits and samples,
// adjusted to what the photometric can hold.
ColorsEntry tiffColorsShown(const SaveParameterSet& set);
// The TIFF page's coupled lists: choosing a photometric or a colours entry adjusts the other list
// as the dialog does, then bits and samples follow the colours (8 and 4 for CMYK).
void chooseTiffPhotometric(SaveParameterSet& set, TiffPhotometric photometric);
void chooseTiffColors(SaveParameterSet& set, ColorsEntry colors);
// The CCITT codings (CCITT1D, G3FAX1D, G3FAX2D, G4FAX), which the TIFF writer applies to black
// and white pictures only.
bool isCcittCompression(TiffCompression compression);
// Choosing a compression on the TIFF page: a CCITT coding makes the colours B/W, as the writer
// would write them; then the page settles as settleTiffPage says.
void chooseTiffCompression(SaveParameterSet& set, TiffCompression compression);
// Brings the TIFF page to what the writer stores: colours other than B/W take a CCITT coding
// back to none, and with B/W the photometric is the one the file carries (WhiteIsZero under a
// CCITT coding, BlackIsZero otherwise).
void settleTiffPage(SaveParameterSet& set);

// "OK": copies the page of a format into the save options.
void copyPageToSaveOptions(StillImageFormat page, const SaveParameterSet& set,
                           StillImageSaveOptions& options);
// The save options as "OK" on a format's page leaves them when the dialog shows its defaults.
StillImageSaveOptions defaultSaveOptions(StillImageFormat format);

// The writer parameters "Save" hands to the writers: the save options, the rest at its defaults.
TIOParams writerParams(const StillImageSaveOptions& options);

// The file name of an extracted frame: base name, frame number (decimal, no padding), extension.
std::string stillImageFileName(const std::string& baseName, int frameNumber, StillImageFormat format);

// Writes the picture to path through an OutputFile, so the name only ever holds a whole file.
// With ExistingFile::Keep an existing file is never replaced: OutputError names it instead.
void saveStillImageFile(const Bitmap& picture, const StillImageSaveOptions& options, StillImageFormat format,
                        const std::string& path, ExistingFile existing,
                        const ProgressCallback& progress = {});

} // namespace kelvara
