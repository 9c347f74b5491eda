// kelvara-cli write: one picture written by one still-image writer, and the writer options.
#include "cli/WriteCommand.h"

#include "output/StillImageCodec.h"
#include "raster/Bitmap.h"
#include "raster/Error.h"
#include "raster/Stream.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

namespace kelvara::cli {

namespace {

const char* const WriterOptionsUsage =
    "Writer options (each applies to its own format):\n"
    "  --colors C               the format's colours entry: bw 4 8 16 32 64 128 256 65536 16m 16m32\n"
    "                           (tif: bw 16 256 65536 16m; gif: bw 4 8 16 32 64 128 256;\n"
    "                           bmp: bw 16 256 65536 16m 16m32; pcx: bw 16 256 16m; png, tga: bw 256 16m)\n"
    "  --jpeg-quality Q         0..100 (default 50)\n"
    "  --jpeg-colorspace S      rgb, gray, ycbcr, cmyk or ycck (default ycck)\n"
    "  --jpeg-dct M             islow, ifast or float (default islow)\n"
    "  --jpeg-optimize          optimal Huffman tables\n"
    "  --jpeg-smoothing N       smoothing factor 0..100 (default 0)\n"
    "  --jpeg-progressive       progressive JPEG\n"
    "  --tiff-compression C     none ccitt1d g3fax1d g3fax2d g4fax lzw oldjpeg jpeg packbits\n"
    "  --tiff-photometric P     whiteiszero blackiszero rgb palette transpmask cmyk ycbcr cielab\n"
    "                           (the colours and photometric lists adjust each other as in the dialog)\n"
    "  --gif-interlaced         interlaced GIF\n"
    "  --gif-transparent RRGGBB the transparent colour\n"
    "  --gif-background RRGGBB  the background colour\n"
    "  --bmp-rle                RLE4/RLE8 for 16 and 256 colours\n"
    "  --pcx-rle, --no-pcx-rle  PCX run-length encoding (default on)\n"
    "  --png-interlaced         Adam7 interlacing\n"
    "  --png-filter F           none, sub or paeth (default none)\n"
    "  --png-compression N      0..9 (default 5)\n"
    "  --png-background RRGGBB  the background colour (palette entry 0 for 256 colours)\n"
    "  --tga-compressed, --no-tga-compressed  TGA run-length packets (default on)\n"
    "  --tga-name TEXT          the image ID\n"
    "  --tga-description TEXT   the author text\n"
    "  --jp2-rate R             fraction of the uncompressed size, 0..1 (default 0.5)\n"
    "  --jp2-colorspace S       gray, rgb or ycbcr (default ycbcr)\n"
    "  --jp2-codestream         write the bare code stream instead of a JP2 file\n";

const char* const WriteUsage =
    "Usage: kelvara-cli write IN OUT --format FORMAT [writer options] [--overwrite]\n"
    "\n"
    "Writes the picture IN (a BMP) as OUT with one still-image writer.\n"
    "  --format F     bmp, jpg, gif, tif, pcx, tga, jp2 or png\n"
    "  --overwrite    replace OUT if it exists\n"
    "\n";

// Options that take no value.
const char* const Flags[] = {
    "--jpeg-optimize", "--jpeg-progressive", "--gif-interlaced", "--bmp-rle",           "--pcx-rle",
    "--no-pcx-rle",    "--png-interlaced",   "--tga-compressed", "--no-tga-compressed", "--jp2-codestream"};
// Options that take a value.
const char* const ValueOptions[] = {
    "--colors",         "--jpeg-quality",     "--jpeg-colorspace",  "--jpeg-dct",
    "--jpeg-smoothing", "--tiff-compression", "--tiff-photometric", "--gif-transparent",
    "--gif-background", "--png-filter",       "--png-compression",  "--png-background",
    "--tga-name",       "--tga-description",  "--jp2-rate",         "--jp2-colorspace"};

// The format an option belongs to, from its prefix; --colors belongs to several.
bool appliesTo(const std::string& option, StillImageFormat format) {
    auto starts = [&](const char* prefix) { return option.rfind(prefix, 0) == 0; };
    if (option == "--colors")
        return !colorsList(format).empty();
    if (starts("--jpeg-"))
        return format == StillImageFormat::Jpeg;
    if (starts("--tiff-"))
        return format == StillImageFormat::Tiff;
    if (starts("--gif-"))
        return format == StillImageFormat::Gif;
    if (starts("--bmp-"))
        return format == StillImageFormat::Bmp;
    if (starts("--pcx-") || option == "--no-pcx-rle")
        return format == StillImageFormat::Pcx;
    if (starts("--png-"))
        return format == StillImageFormat::Png;
    if (starts("--tga-") || option == "--no-tga-compressed")
        return format == StillImageFormat::Tga;
    if (starts("--jp2-"))
        return format == StillImageFormat::Jpeg2000;
    return false;
}

template <typename T, size_t N>
T choose(const std::string& option, const std::string& value, const std::pair<const char*, T> (&choices)[N]) {
    std::string names;
    for (const auto& [name, result] : choices) {
        if (value == name)
            return result;
        names += names.empty() ? name : std::string(", ") + name;
    }
    throw UsageError(option + " must be one of " + names + ", not '" + value + "'");
}

int integerIn(const std::string& option, const std::string& value, int low, int high) {
    long long n = parseInteger(value, option);
    if (n < low || n > high)
        throw UsageError(option + " must lie in " + std::to_string(low) + ".." + std::to_string(high) +
                         ", not " + value);
    return static_cast<int>(n);
}

Color parseColor(const std::string& option, const std::string& text) {
    std::string hex = !text.empty() && text[0] == '#' ? text.substr(1) : text;
    char* end = nullptr;
    unsigned long value = hex.size() == 6 ? std::strtoul(hex.c_str(), &end, 16) : 0;
    if (hex.size() != 6 || *end != '\0' || hex.find_first_of("+- x") != std::string::npos)
        throw UsageError(option + " must be a colour RRGGBB, not '" + text + "'");
    return static_cast<Color>(value);
}

ColorsEntry parseColors(const std::string& value, StillImageFormat format) {
    static const std::pair<const char*, ColorsEntry> names[] = {
        {"bw", ColorsEntry::BlackWhite}, {"4", ColorsEntry::C4},         {"8", ColorsEntry::C8},
        {"16", ColorsEntry::C16},        {"32", ColorsEntry::C32},       {"64", ColorsEntry::C64},
        {"128", ColorsEntry::C128},      {"256", ColorsEntry::C256},     {"65536", ColorsEntry::C65536},
        {"16m", ColorsEntry::C16M},      {"16m32", ColorsEntry::C16M32},
    };
    ColorsEntry entry = choose("--colors", value, names);
    const std::vector<ColorsEntry>& list = colorsList(format);
    if (std::find(list.begin(), list.end(), entry) == list.end())
        throw UsageError("--colors " + value + " is not offered for " + stillImageFormatName(format));
    return entry;
}

} // namespace

StillImageFormat parseStillImageFormat(const std::string& name) {
    if (std::optional<StillImageFormat> format = stillImageFormatFromName(name))
        return *format;
    throw UsageError("--format must be one of bmp, jpg, gif, tif, pcx, tga, jp2, png, not '" + name + "'");
}

const char* WriterOptions::usage() {
    return WriterOptionsUsage;
}

bool WriterOptions::take(const std::vector<std::string>& args, size_t& i) {
    const std::string& a = args[i];
    for (const char* flag : Flags) {
        if (a == flag) {
            m_given.emplace_back(a, "");
            return true;
        }
    }
    for (const char* option : ValueOptions) {
        if (a == option) {
            if (i + 1 >= args.size())
                throw UsageError(a + " needs a value");
            m_given.emplace_back(a, args[++i]);
            return true;
        }
    }
    return false;
}

StillImageSaveOptions WriterOptions::saveOptions(StillImageFormat format) const {
    SaveParameterSet set;
    bool codeStream = false;
    for (const auto& [option, value] : m_given) {
        if (!appliesTo(option, format))
            throw UsageError(option + " does not apply to --format " + stillImageFormatName(format));
        if (option == "--colors") {
            ColorsEntry colors = parseColors(value, format);
            switch (format) {
            case StillImageFormat::Tiff:
                chooseTiffColors(set, colors);
                break;
            case StillImageFormat::Gif: {
                const std::vector<ColorsEntry>& list = colorsList(format);
                set.gifBitsPerPixel =
                    static_cast<int>(std::find(list.begin(), list.end(), colors) - list.begin()) + 1;
                break;
            }
            case StillImageFormat::Bmp:
                set.bmpColors = colors;
                break;
            case StillImageFormat::Pcx:
                set.pcxColors = colors;
                break;
            case StillImageFormat::Png:
                set.pngColors = colors;
                break;
            case StillImageFormat::Tga:
                set.tgaColors = colors;
                break;
            default:
                break;
            }
        } else if (option == "--jpeg-quality") {
            set.jpeg.quality = integerIn(option, value, 0, 100);
        } else if (option == "--jpeg-colorspace") {
            static const std::pair<const char*, JpegColorSpace> names[] = {{"rgb", JpegColorSpace::Rgb},
                                                                           {"gray", JpegColorSpace::Gray},
                                                                           {"ycbcr", JpegColorSpace::YCbCr},
                                                                           {"cmyk", JpegColorSpace::Cmyk},
                                                                           {"ycck", JpegColorSpace::YCbCrK}};
            set.jpeg.colorSpace = choose(option, value, names);
        } else if (option == "--jpeg-dct") {
            static const std::pair<const char*, JpegDctMethod> names[] = {{"islow", JpegDctMethod::ISlow},
                                                                          {"ifast", JpegDctMethod::IFast},
                                                                          {"float", JpegDctMethod::Float}};
            set.jpeg.dctMethod = choose(option, value, names);
        } else if (option == "--jpeg-optimize") {
            set.jpeg.optimalHuffman = true;
        } else if (option == "--jpeg-smoothing") {
            set.jpeg.smoothing = integerIn(option, value, 0, 100);
        } else if (option == "--jpeg-progressive") {
            set.jpeg.progressive = true;
        } else if (option == "--tiff-compression") {
            static const std::pair<const char*, TiffCompression> names[] = {
                {"none", TiffCompression::Uncompressed}, {"ccitt1d", TiffCompression::Ccitt1D},
                {"g3fax1d", TiffCompression::G3Fax1D},   {"g3fax2d", TiffCompression::G3Fax2D},
                {"g4fax", TiffCompression::G4Fax},       {"lzw", TiffCompression::Lzw},
                {"oldjpeg", TiffCompression::OldJpeg},   {"jpeg", TiffCompression::Jpeg},
                {"packbits", TiffCompression::PackBits}};
            set.tiff.compression = choose(option, value, names);
        } else if (option == "--tiff-photometric") {
            static const std::pair<const char*, TiffPhotometric> names[] = {
                {"whiteiszero", TiffPhotometric::WhiteIsZero},
                {"blackiszero", TiffPhotometric::BlackIsZero},
                {"rgb", TiffPhotometric::Rgb},
                {"palette", TiffPhotometric::RgbPalette},
                {"transpmask", TiffPhotometric::TranspMask},
                {"cmyk", TiffPhotometric::Cmyk},
                {"ycbcr", TiffPhotometric::YCbCr},
                {"cielab", TiffPhotometric::CieLab}};
            chooseTiffPhotometric(set, choose(option, value, names));
        } else if (option == "--gif-interlaced") {
            set.gif.interlaced = true;
        } else if (option == "--gif-transparent") {
            set.gif.transparent = true;
            set.gif.transparentColor = parseColor(option, value);
        } else if (option == "--gif-background") {
            set.gif.background = parseColor(option, value);
        } else if (option == "--bmp-rle") {
            set.bmp.compression = 1;
        } else if (option == "--pcx-rle" || option == "--no-pcx-rle") {
            set.pcx.compression = option == "--pcx-rle" ? 1 : 0;
        } else if (option == "--png-interlaced") {
            set.png.interlaced = true;
        } else if (option == "--png-filter") {
            static const std::pair<const char*, PngFilter> names[] = {
                {"none", PngFilter::None}, {"sub", PngFilter::Sub}, {"paeth", PngFilter::Paeth}};
            set.png.filter = choose(option, value, names);
        } else if (option == "--png-compression") {
            set.png.compression = integerIn(option, value, 0, 9);
        } else if (option == "--png-background") {
            set.png.background = parseColor(option, value);
        } else if (option == "--tga-compressed" || option == "--no-tga-compressed") {
            set.tga.compressed = option == "--tga-compressed";
        } else if (option == "--tga-name") {
            set.tga.name = value;
        } else if (option == "--tga-description") {
            set.tga.description = value;
        } else if (option == "--jp2-rate") {
            char* end = nullptr;
            double rate = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || !(rate >= 0 && rate <= 1))
                throw UsageError("--jp2-rate must be a number from 0 to 1, not '" + value + "'");
            set.jpeg2000.rate = rate;
        } else if (option == "--jp2-colorspace") {
            static const std::pair<const char*, Jpeg2000ColorSpace> names[] = {
                {"gray", Jpeg2000ColorSpace::Gray},
                {"rgb", Jpeg2000ColorSpace::Rgb},
                {"ycbcr", Jpeg2000ColorSpace::YCbCr}};
            set.jpeg2000.colorSpace = choose(option, value, names);
        } else if (option == "--jp2-codestream") {
            codeStream = true;
        }
    }
    StillImageSaveOptions options;
    copyPageToSaveOptions(format, set, options);
    if (codeStream)
        options.jpeg2000.format = Jpeg2000Format::CodeStream;
    return options;
}

namespace {

std::string writeUsageText() {
    return std::string(WriteUsage) + WriterOptionsUsage;
}

int writeCommand(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    std::string formatName;
    bool overwrite = false;
    WriterOptions writerOptions;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--format") {
            if (i + 1 >= args.size())
                throw UsageError("--format needs a value");
            formatName = args[++i];
        } else if (a == "--overwrite") {
            overwrite = true;
        } else if (writerOptions.take(args, i)) {
            continue;
        } else if (!a.empty() && a[0] == '-' && a.size() > 1) {
            throw UsageError("unknown option " + a);
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 2)
        throw UsageError("write takes IN and OUT");
    if (formatName.empty())
        throw UsageError("write needs --format");
    const StillImageFormat format = parseStillImageFormat(formatName);
    const StillImageSaveOptions options = writerOptions.saveOptions(format);
    const std::string& output = positional[1];
    struct stat st;
    if (!overwrite && ::stat(output.c_str(), &st) == 0)
        throw Error("\"" + output + "\" exists; use --overwrite to replace it");

    Bitmap picture;
    const std::vector<uint8_t> input = readFile(positional[0]);
    picture.LoadFromMemory(input.data(), input.size());
    const EncodedImage encoded = encodeStillImage(picture, options, format);
    writeOutput(output, encoded.bytes, overwrite);
    std::printf("Compressed size: %zu bytes\n", encoded.bytes.size());
    return ExitOk;
}

} // namespace

const Command& writeCommandEntry() {
    static const std::string usage = writeUsageText();
    static const Command command{"write", usage.c_str(), writeCommand};
    return command;
}

} // namespace kelvara::cli
