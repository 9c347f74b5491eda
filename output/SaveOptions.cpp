// Still-image formats, save options, the dialog's colour lists and "OK" copy, and saving files.
#include "output/SaveOptions.h"

#include "output/StillImageWriters.h"
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

namespace {

// The TIFF colours entry the page shows for its parameter set.
ColorsEntry tiffColorsShown(const SaveParameterSet& set) {
    ColorsEntry colors = tiffColorsEntry(set.tiffBitsPerSample, set.tiffSamplesPerPixel);
    switch (set.tiffPhotometric) {
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

void storeTiffDepth(SaveParameterSet& set, ColorsEntry colors) {
    ColorDepth depth = colorDepth(StillImageFormat::Tiff, colors);
    if (set.tiffPhotometric == TiffPhotometric::Cmyk)
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
    set.tiffPhotometric = photometric;
    storeTiffDepth(set, colors);
}

void chooseTiffColors(SaveParameterSet& set, ColorsEntry colors) {
    const auto index = static_cast<int>(set.tiffPhotometric);
    switch (colors) {
    case BlackWhite:
        if (index > static_cast<int>(TiffPhotometric::BlackIsZero))
            set.tiffPhotometric = TiffPhotometric::BlackIsZero;
        break;
    case C16:
        set.tiffPhotometric = TiffPhotometric::RgbPalette;
        break;
    case C256:
        if (set.tiffPhotometric == TiffPhotometric::Rgb ||
            index > static_cast<int>(TiffPhotometric::RgbPalette))
            set.tiffPhotometric = TiffPhotometric::RgbPalette;
        break;
    default:
        break;
    }
    storeTiffDepth(set, colors);
}

void copyPageToSaveOptions(StillImageFormat page, const SaveParameterSet& set,
                           StillImageSaveOptions& options) {
    auto setDepth = [&](ColorsEntry colors) {
        ColorDepth depth = colorDepth(page, colors);
        options.bitsPerSample = depth.bitsPerSample;
        options.samplesPerPixel = depth.samplesPerPixel;
    };
    switch (page) {
    case StillImageFormat::Jpeg:
        options.jpegQuality = set.jpegQuality;
        options.jpegColorSpace = set.jpegColorSpace;
        options.jpegDctMethod = set.jpegDctMethod;
        options.jpegOptimalHuffman = set.jpegOptimalHuffman;
        options.jpegSmoothing = set.jpegSmoothing;
        options.jpegProgressive = set.jpegProgressive;
        break;
    case StillImageFormat::Tiff:
        options.tiffCompression = set.tiffCompression;
        options.tiffPhotometric = set.tiffPhotometric;
        options.samplesPerPixel = set.tiffSamplesPerPixel;
        options.bitsPerSample = set.tiffBitsPerSample;
        break;
    case StillImageFormat::Gif:
        options.gifTransparent = set.gifTransparent;
        options.gifTransparentColor = set.gifTransparentColor;
        options.gifInterlaced = set.gifInterlaced;
        options.gifBackground = set.gifBackground;
        options.bitsPerSample = set.gifBitsPerPixel;
        break;
    case StillImageFormat::Bmp:
        options.bmpCompression = set.bmpCompression;
        setDepth(set.bmpColors);
        break;
    case StillImageFormat::Pcx:
        options.pcxCompression = set.pcxCompression;
        setDepth(set.pcxColors);
        break;
    case StillImageFormat::Png:
        setDepth(set.pngColors);
        options.pngBackground = set.pngBackground;
        options.pngInterlaced = set.pngInterlaced;
        options.pngFilter = set.pngFilter;
        options.pngCompression = set.pngCompression;
        break;
    case StillImageFormat::Tga:
        setDepth(set.tgaColors);
        options.tgaBackground = set.tgaBackground;
        options.tgaCompressed = set.tgaCompressed;
        options.tgaName = set.tgaName;
        options.tgaDescription = set.tgaDescription;
        break;
    case StillImageFormat::Jpeg2000:
        options.bitsPerSample = 8;
        options.samplesPerPixel = set.jp2ColorSpace == Jpeg2000ColorSpace::Gray ? 1 : 3;
        options.jp2ColorSpace = set.jp2ColorSpace;
        options.jp2Rate = set.jp2Rate;
        break;
    }
}

StillImageSaveOptions defaultSaveOptions(StillImageFormat format) {
    StillImageSaveOptions options;
    copyPageToSaveOptions(format, SaveParameterSet{}, options);
    return options;
}

TIOParams writerParams(const StillImageSaveOptions& options, StillImageFormat format) {
    TIOParams params;
    params.bitsPerSample = options.bitsPerSample;
    params.samplesPerPixel = options.samplesPerPixel;
    switch (format) {
    case StillImageFormat::Jpeg:
        params.jpegQuality = options.jpegQuality;
        params.jpegColorSpace = options.jpegColorSpace;
        params.jpegDctMethod = options.jpegDctMethod;
        params.jpegOptimalHuffman = options.jpegOptimalHuffman;
        params.jpegSmoothing = options.jpegSmoothing;
        params.jpegProgressive = options.jpegProgressive;
        break;
    case StillImageFormat::Tiff:
        params.tiffCompression = options.tiffCompression;
        params.tiffPhotometric = options.tiffPhotometric;
        break;
    case StillImageFormat::Gif:
        params.gifTransparent = options.gifTransparent;
        params.gifTransparentColor = options.gifTransparentColor;
        params.gifInterlaced = options.gifInterlaced;
        params.gifBackground = options.gifBackground;
        break;
    case StillImageFormat::Bmp:
        params.bmpCompression = options.bmpCompression;
        break;
    case StillImageFormat::Pcx:
        params.pcxCompression = options.pcxCompression;
        break;
    case StillImageFormat::Png:
        params.pngBackground = options.pngBackground;
        params.pngInterlaced = options.pngInterlaced;
        params.pngFilter = options.pngFilter;
        params.pngCompression = options.pngCompression;
        break;
    case StillImageFormat::Tga:
        params.tgaCompressed = options.tgaCompressed;
        params.tgaId = options.tgaName;
        params.tgaAuthor = options.tgaDescription;
        break;
    case StillImageFormat::Jpeg2000:
        params.jp2ColorSpace = options.jp2ColorSpace;
        params.jp2Rate = options.jp2Rate;
        break;
    }
    return params;
}

void writeStillImage(const Bitmap& picture, const StillImageSaveOptions& options, StillImageFormat format,
                     Stream& stream, const ProgressCallback& progress) {
    TIOParams params = writerParams(options, format);
    switch (format) {
    case StillImageFormat::Bmp:
        writeBmp(stream, picture, params, progress);
        break;
    case StillImageFormat::Jpeg:
        writeJpeg(stream, picture, params, progress);
        break;
    case StillImageFormat::Gif:
        writeGif(stream, picture, params, progress);
        break;
    case StillImageFormat::Tiff:
        writeTiff(stream, picture, params, progress);
        break;
    case StillImageFormat::Pcx:
        writePcx(stream, picture, params, progress);
        break;
    case StillImageFormat::Tga:
        writeTga(stream, picture, params, progress);
        break;
    case StillImageFormat::Jpeg2000:
        writeJpeg2000(stream, picture, params, options.jp2Format, progress);
        break;
    case StillImageFormat::Png:
        writePng(stream, picture, params, progress);
        break;
    }
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
