// Still-image formats, save options, the dialog's colour lists and "OK" copy, and saving files.
#include "output/SaveOptions.h"

#include "output/StillImageCodec.h"
#include "raster/Bitmap.h"
#include "raster/Stream.h"

#include <unistd.h>

namespace kelvara {

namespace {

struct FormatInfo {
    StillImageFormat format;
    const char* name;
    const char* extension;
};

constexpr FormatInfo Formats[] = {
    {StillImageFormat::Bmp, "bmp", ".bmp"},      {StillImageFormat::Jpeg, "jpg", ".jpg"},
    {StillImageFormat::Gif, "gif", ".gif"},      {StillImageFormat::Tiff, "tif", ".tif"},
    {StillImageFormat::Pcx, "pcx", ".pcx"},      {StillImageFormat::Tga, "tga", ".tga"},
    {StillImageFormat::Jpeg2000, "jp2", ".jp2"}, {StillImageFormat::Png, "png", ".png"},
};

const FormatInfo& infoOf(StillImageFormat format) {
    for (const FormatInfo& info : Formats)
        if (info.format == format)
            return info;
    return Formats[0];
}

using enum ColorsEntry;

} // namespace

const char* stillImageExtension(StillImageFormat format) {
    return infoOf(format).extension;
}
const char* stillImageFormatName(StillImageFormat format) {
    return infoOf(format).name;
}

std::optional<StillImageFormat> stillImageFormatFromName(const std::string& name) {
    for (const FormatInfo& info : Formats)
        if (name == info.name)
            return info.format;
    return std::nullopt;
}

const std::vector<ColorsEntry>& colorsList(StillImageFormat format) {
    static const std::vector<ColorsEntry> tiff = {BlackWhite, C16, C256, C65536, C16M};
    static const std::vector<ColorsEntry> gif = {BlackWhite, C4, C8, C16, C32, C64, C128, C256};
    static const std::vector<ColorsEntry> bmp = {BlackWhite, C16, C256, C65536, C16M, C16M32};
    static const std::vector<ColorsEntry> pcx = {BlackWhite, C16, C256, C16M};
    static const std::vector<ColorsEntry> pngTga = {BlackWhite, C256, C16M};
    static const std::vector<ColorsEntry> none;
    switch (format) {
    case StillImageFormat::Tiff:
        return tiff;
    case StillImageFormat::Gif:
        return gif;
    case StillImageFormat::Bmp:
        return bmp;
    case StillImageFormat::Pcx:
        return pcx;
    case StillImageFormat::Png:
    case StillImageFormat::Tga:
        return pngTga;
    case StillImageFormat::Jpeg:
    case StillImageFormat::Jpeg2000:
        return none;
    }
    return none;
}

ColorDepth colorDepth(StillImageFormat format, ColorsEntry entry) {
    switch (entry) {
    case BlackWhite:
        return {1, 1};
    case C4:
        return {2, 1};
    case C8:
        return {3, 1};
    case C16:
        return {4, 1};
    case C32:
        return {5, 1};
    case C64:
        return {6, 1};
    case C128:
        return {7, 1};
    case C256:
        return {8, 1};
    case C65536:
        // BMP stores 65536 colours as 5 bits in 3 samples; TIFF as 16 bits in one.
        return format == StillImageFormat::Bmp ? ColorDepth{5, 3} : ColorDepth{16, 1};
    case C16M:
    case C16M32:
        return {8, 3};
    }
    return {8, 3};
}

ColorsEntry tiffColorsEntry(int bitsPerSample, int samplesPerPixel) {
    if (samplesPerPixel == 1) {
        if (bitsPerSample <= 1)
            return BlackWhite;
        if (bitsPerSample <= 4)
            return C16;
        if (bitsPerSample <= 8)
            return C256;
        return C65536;
    }
    return C16M;
}

ColorsEntry tiffColorsShown(const SaveParameterSet& set) {
    ColorsEntry colors = tiffColorsEntry(set.tiffBitsPerSample, set.tiffSamplesPerPixel);
    switch (set.tiff.photometric) {
    case TiffPhotometric::Cmyk:
    case TiffPhotometric::YCbCr:
    case TiffPhotometric::CieLab:
        return C16M;
    case TiffPhotometric::Rgb:
    case TiffPhotometric::RgbPalette:
    case TiffPhotometric::TranspMask:
        return colors == BlackWhite ? C16M : colors;
    case TiffPhotometric::WhiteIsZero:
    case TiffPhotometric::BlackIsZero:
        return set.tiffBitsPerSample == 1 ? BlackWhite : C256;
    }
    return colors;
}

namespace {

void storeTiffDepth(SaveParameterSet& set, ColorsEntry colors) {
    ColorDepth depth = colorDepth(StillImageFormat::Tiff, colors);
    if (set.tiff.photometric == TiffPhotometric::Cmyk)
        depth = {8, 4};
    set.tiffBitsPerSample = depth.bitsPerSample;
    set.tiffSamplesPerPixel = depth.samplesPerPixel;
}

} // namespace

void chooseTiffPhotometric(SaveParameterSet& set, TiffPhotometric photometric) {
    ColorsEntry colors = tiffColorsShown(set);
    switch (photometric) {
    case TiffPhotometric::WhiteIsZero:
    case TiffPhotometric::BlackIsZero:
        if (colors != BlackWhite)
            colors = C256;
        break;
    case TiffPhotometric::Rgb:
    case TiffPhotometric::Cmyk:
    case TiffPhotometric::YCbCr:
    case TiffPhotometric::CieLab:
        colors = C16M;
        break;
    case TiffPhotometric::RgbPalette:
        colors = C256;
        break;
    case TiffPhotometric::TranspMask:
        break;
    }
    set.tiff.photometric = photometric;
    storeTiffDepth(set, colors);
}

void chooseTiffColors(SaveParameterSet& set, ColorsEntry colors) {
    TiffPhotometric& photometric = set.tiff.photometric;
    const auto index = static_cast<int>(photometric);
    switch (colors) {
    case BlackWhite:
        if (index > static_cast<int>(TiffPhotometric::BlackIsZero))
            photometric = TiffPhotometric::BlackIsZero;
        break;
    case C16:
        photometric = TiffPhotometric::RgbPalette;
        break;
    case C256:
        if (photometric == TiffPhotometric::Rgb || index > static_cast<int>(TiffPhotometric::RgbPalette))
            photometric = TiffPhotometric::RgbPalette;
        break;
    default:
        break;
    }
    storeTiffDepth(set, colors);
}

bool isCcittCompression(TiffCompression compression) {
    return compression == TiffCompression::Ccitt1D || compression == TiffCompression::G3Fax1D ||
           compression == TiffCompression::G3Fax2D || compression == TiffCompression::G4Fax;
}

namespace {

// The writer makes a bilevel picture of one 1-bit sample and of nothing else.
bool tiffBilevel(const SaveParameterSet& set) {
    return set.tiffBitsPerSample == 1 && set.tiffSamplesPerPixel == 1;
}

} // namespace

void chooseTiffCompression(SaveParameterSet& set, TiffCompression compression) {
    set.tiff.compression = compression;
    if (isCcittCompression(compression) && !tiffBilevel(set))
        chooseTiffColors(set, BlackWhite);
    settleTiffPage(set);
}

void settleTiffPage(SaveParameterSet& set) {
    if (!tiffBilevel(set)) {
        if (isCcittCompression(set.tiff.compression))
            set.tiff.compression = TiffCompression::Uncompressed;
        return;
    }
    set.tiff.photometric = isCcittCompression(set.tiff.compression) ? TiffPhotometric::WhiteIsZero
                                                                    : TiffPhotometric::BlackIsZero;
}

void copyPageToSaveOptions(StillImageFormat page, const SaveParameterSet& set,
                           StillImageSaveOptions& options) {
    auto setDepth = [&](ColorDepth depth) {
        options.bitsPerSample = depth.bitsPerSample;
        options.samplesPerPixel = depth.samplesPerPixel;
    };
    switch (page) {
    case StillImageFormat::Jpeg:
        options.jpeg = set.jpeg;
        break;
    case StillImageFormat::Tiff:
        options.tiff = set.tiff;
        setDepth({set.tiffBitsPerSample, set.tiffSamplesPerPixel});
        break;
    case StillImageFormat::Gif:
        // The bits per pixel only: samples per pixel stay as they were.
        options.gif = set.gif;
        options.bitsPerSample = set.gifBitsPerPixel;
        break;
    case StillImageFormat::Bmp:
        options.bmp = set.bmp;
        setDepth(colorDepth(page, set.bmpColors));
        break;
    case StillImageFormat::Pcx:
        options.pcx = set.pcx;
        setDepth(colorDepth(page, set.pcxColors));
        break;
    case StillImageFormat::Png:
        options.png = set.png;
        setDepth(colorDepth(page, set.pngColors));
        break;
    case StillImageFormat::Tga:
        options.tga = set.tga;
        setDepth(colorDepth(page, set.tgaColors));
        break;
    case StillImageFormat::Jpeg2000:
        options.jpeg2000 = set.jpeg2000;
        setDepth({8, set.jpeg2000.colorSpace == Jpeg2000ColorSpace::Gray ? 1 : 3});
        break;
    }
}

StillImageSaveOptions defaultSaveOptions(StillImageFormat format) {
    StillImageSaveOptions options;
    copyPageToSaveOptions(format, SaveParameterSet{}, options);
    return options;
}

TIOParams writerParams(const StillImageSaveOptions& options) {
    TIOParams params;
    static_cast<StillImageSaveOptions&>(params) = options;
    return params;
}

std::string stillImageFileName(const std::string& baseName, int frameNumber, StillImageFormat format) {
    return baseName + std::to_string(frameNumber) + stillImageExtension(format);
}

void saveStillImageFile(const Bitmap& picture, const StillImageSaveOptions& options, StillImageFormat format,
                        const std::string& path, ExistingFile existing, const ProgressCallback& progress) {
    const std::string notReplaced = "\"" + path + "\" exists and is not replaced";
    if (existing == ExistingFile::Keep && ::access(path.c_str(), F_OK) == 0)
        throw OutputError(notReplaced);
    // The writer writes straight into the output file, which takes the target's name only when
    // complete: over an old file when replacing, else only if the name is still free, so a file
    // that another program made meanwhile is never replaced either.
    OutputFile file(path, existing);
    writeStillImage(picture, options, format, file, progress);
    try {
        file.commit();
    } catch (const FileExistsError&) {
        throw OutputError(notReplaced);
    }
}

} // namespace kelvara
