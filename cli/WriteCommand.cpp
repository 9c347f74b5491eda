// kelvara-cli write: one picture written by one still-image writer, and the writer options.
#include "cli/WriteCommand.h"

#include "output/StillImageCodec.h"
#include "output/StillImageWriters.h"
#include "raster/Bitmap.h"
#include "raster/Error.h"

#include <algorithm>
#include <cstdio>

namespace kelvara::cli {

namespace {

const char* const WriterOptionsUsage =
    "Writer options (each applies to its own format; given in any order):\n"
    "  --colors C               the colours, as each format offers them:\n"
    "                           (tif: bw 16 256 16m; gif: bw 4 8 16 32 64 128 256;\n"
    "                           bmp: bw 16 256 16m; pcx: bw 16 256 16m; png, tga: bw 256 16m)\n"
    "  --jpeg-quality Q         0..100 (default 90)\n"
    "  --jpeg-colorspace S      rgb, gray, ycbcr, cmyk or ycck (default ycbcr)\n"
    "  --jpeg-dct M             islow, ifast or float (default islow)\n"
    "  --jpeg-optimize          optimal Huffman tables\n"
    "  --jpeg-smoothing N       smoothing factor 0..100 (default 0)\n"
    "  --jpeg-progressive       progressive JPEG\n"
    "  --tiff-compression C     none ccitt1d g3fax1d g3fax2d g4fax lzw packbits (default none);\n"
    "                           the ccitt and fax codings need --colors bw\n"
    "  --tiff-photometric P     blackiszero rgb palette cmyk cielab, or whiteiszero with a fax\n"
    "                           coding; the photometric is applied first, then the colours, and\n"
    "                           each adjusts the other when only one is given (--colors 16 gives\n"
    "                           palette, --tiff-photometric rgb gives 16m)\n"
    "  --gif-interlaced         interlaced GIF\n"
    "  --gif-transparent RRGGBB the transparent colour\n"
    "  --gif-background RRGGBB  the background colour\n"
    "  --bmp-rle                RLE4/RLE8, for 16 and 256 colours\n"
    "  --pcx-rle, --no-pcx-rle  PCX run-length encoding (default on)\n"
    "  --png-interlaced         Adam7 interlacing\n"
    "  --png-filter F           none, sub or paeth (default none)\n"
    "  --png-compression N      0..9 (default 5)\n"
    "  --png-background RRGGBB  the background colour (palette entry 0 for 256 colours)\n"
    "  --tga-compressed, --no-tga-compressed  TGA run-length packets (default on; not for bw)\n"
    "  --tga-name TEXT          the image ID\n"
    "  --tga-description TEXT   the author text\n"
    "  --jp2-rate R             fraction of the uncompressed size, 0..1 (default 0.5)\n"
    "  --jp2-colorspace S       gray, rgb or ycbcr (default ycbcr)\n"
    "  --jp2-codestream         write the bare code stream instead of a JP2 file (as .j2k does)\n"
    "A combination the writer would not store as asked is refused with a sentence saying what it\n"
    "would store instead.\n";

const char* const WriteUsage =
    "Usage: kelvara-cli write IN OUT [--format FORMAT] [writer options] [--overwrite]\n"
    "\n"
    "Writes the picture IN as OUT with one still-image writer. IN may be a PNG, JPEG, TIFF, GIF,\n"
    "PCX, Targa, icon, PNM, JPEG 2000 or BMP file, read by its extension. The format is OUT's\n"
    "extension (.bmp .jpg .jpeg .gif .tif .tiff .pcx .tga .jp2 .j2k .png); OUT - writes to\n"
    "standard output and needs --format.\n"
    "  --format F     bmp, jpg (jpeg), gif, tif (tiff), pcx, tga (targa), jp2, j2k or png, in\n"
    "                 any case; must agree with OUT's extension\n"
    "  -y, --overwrite  replace OUT if it exists\n"
    "  -q, --quiet    print nothing on success\n"
    "\n";

// Options that take no value; the --no- forms store "0" under the positive name.
const char* const Flags[] = {"--jpeg-optimize", "--jpeg-progressive", "--gif-interlaced",
                             "--bmp-rle",       "--png-interlaced",   "--jp2-codestream"};
const char* const Switches[][2] = {{"--pcx-rle", "--no-pcx-rle"},
                                   {"--tga-compressed", "--no-tga-compressed"}};
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
    if (starts("--pcx-"))
        return format == StillImageFormat::Pcx;
    if (starts("--png-"))
        return format == StillImageFormat::Png;
    if (starts("--tga-"))
        return format == StillImageFormat::Tga;
    if (starts("--jp2-"))
        return format == StillImageFormat::Jpeg2000;
    return false;
}

template <typename T> struct Choice {
    const char* name;
    T value;
};

template <typename T, size_t N>
T choose(const std::string& option, const std::string& text, const Choice<T> (&choices)[N]) {
    const std::string lower = lowerCase(text);
    std::string names;
    for (const Choice<T>& c : choices) {
        if (lower == c.name)
            return c.value;
        names += names.empty() ? c.name : std::string(", ") + c.name;
    }
    throw UsageError(option + " must be one of " + names + ", not '" + text + "'");
}

template <typename T, size_t N> const char* nameOf(T value, const Choice<T> (&choices)[N]) {
    for (const Choice<T>& c : choices)
        if (c.value == value)
            return c.name;
    return "?";
}

using enum ColorsEntry;

constexpr Choice<ColorsEntry> ColorsNames[] = {
    {"bw", BlackWhite}, {"4", C4},     {"8", C8},         {"16", C16},   {"32", C32},       {"64", C64},
    {"128", C128},      {"256", C256}, {"65536", C65536}, {"16m", C16M}, {"16m32", C16M32},
};
constexpr Choice<TiffCompression> TiffCompressionNames[] = {
    {"none", TiffCompression::Uncompressed}, {"ccitt1d", TiffCompression::Ccitt1D},
    {"g3fax1d", TiffCompression::G3Fax1D},   {"g3fax2d", TiffCompression::G3Fax2D},
    {"g4fax", TiffCompression::G4Fax},       {"lzw", TiffCompression::Lzw},
    {"oldjpeg", TiffCompression::OldJpeg},   {"jpeg", TiffCompression::Jpeg},
    {"packbits", TiffCompression::PackBits}};
constexpr Choice<TiffPhotometric> TiffPhotometricNames[] = {{"whiteiszero", TiffPhotometric::WhiteIsZero},
                                                            {"blackiszero", TiffPhotometric::BlackIsZero},
                                                            {"rgb", TiffPhotometric::Rgb},
                                                            {"palette", TiffPhotometric::RgbPalette},
                                                            {"transpmask", TiffPhotometric::TranspMask},
                                                            {"cmyk", TiffPhotometric::Cmyk},
                                                            {"ycbcr", TiffPhotometric::YCbCr},
                                                            {"cielab", TiffPhotometric::CieLab}};
constexpr Choice<JpegColorSpace> JpegColorSpaceNames[] = {{"rgb", JpegColorSpace::Rgb},
                                                          {"gray", JpegColorSpace::Gray},
                                                          {"ycbcr", JpegColorSpace::YCbCr},
                                                          {"cmyk", JpegColorSpace::Cmyk},
                                                          {"ycck", JpegColorSpace::YCbCrK}};
constexpr Choice<JpegDctMethod> JpegDctNames[] = {
    {"islow", JpegDctMethod::ISlow}, {"ifast", JpegDctMethod::IFast}, {"float", JpegDctMethod::Float}};
constexpr Choice<PngFilter> PngFilterNames[] = {
    {"none", PngFilter::None}, {"sub", PngFilter::Sub}, {"paeth", PngFilter::Paeth}};
constexpr Choice<Jpeg2000ColorSpace> Jpeg2000ColorSpaceNames[] = {{"gray", Jpeg2000ColorSpace::Gray},
                                                                  {"rgb", Jpeg2000ColorSpace::Rgb},
                                                                  {"ycbcr", Jpeg2000ColorSpace::YCbCr}};

ColorsEntry parseColors(const std::string& value, StillImageFormat format) {
    const ColorsEntry entry = choose("--colors", value, ColorsNames);
    const std::vector<ColorsEntry>& list = colorsList(format);
    if (std::find(list.begin(), list.end(), entry) == list.end()) {
        std::string offered;
        for (ColorsEntry e : list)
            offered += std::string(offered.empty() ? "" : " ") + nameOf(e, ColorsNames);
        throw UsageError("--colors " + value + " is not offered for " + stillImageFormatName(format) +
                         " (it offers " + offered + ")");
    }
    return entry;
}

// What a set of options asked for, as the options that would ask for what the writer stores.
std::string asOptions(const std::vector<std::pair<std::string, std::string>>& options) {
    std::string text;
    for (const auto& [option, value] : options)
        text += (text.empty() ? "" : " ") + option + (value.empty() ? "" : " " + value);
    return text;
}

// Refuses a TIFF request the writer would store otherwise: the photometric, the colours and the
// compression it writes are compared with those given.
void checkTiffRequest(const std::map<std::string, std::string>& given, const StillImageSaveOptions& options) {
    const TiffLayout layout = tiffLayout(writerParams(options));
    TiffPhotometric photometric = TiffPhotometric::Rgb;
    ColorsEntry colors = C16M;
    switch (layout.kind) {
    case TiffDataKind::Bilevel:
        photometric = layout.compression == TiffCompression::Uncompressed ||
                              layout.compression == TiffCompression::Lzw ||
                              layout.compression == TiffCompression::PackBits
                          ? TiffPhotometric::BlackIsZero
                          : TiffPhotometric::WhiteIsZero;
        colors = BlackWhite;
        break;
    case TiffDataKind::Palette:
        photometric = TiffPhotometric::RgbPalette;
        colors = layout.paletteBits <= 4 ? C16 : C256;
        break;
    case TiffDataKind::Rgb:
        break;
    case TiffDataKind::Cmyk:
        photometric = TiffPhotometric::Cmyk;
        break;
    case TiffDataKind::CieLab:
        photometric = TiffPhotometric::CieLab;
        break;
    }
    const std::string writtenColors = nameOf(colors, ColorsNames);
    const std::string writtenPhotometric = nameOf(photometric, TiffPhotometricNames);
    const std::string writtenCompression = nameOf(layout.compression, TiffCompressionNames);
    std::vector<std::pair<std::string, std::string>> asked;
    bool honoured = true;
    auto compare = [&](const char* option, const std::string& written) {
        const auto it = given.find(option);
        if (it == given.end())
            return;
        asked.emplace_back(option, it->second);
        honoured = honoured && lowerCase(it->second) == written;
    };
    compare("--colors", writtenColors);
    compare("--tiff-photometric", writtenPhotometric);
    compare("--tiff-compression", writtenCompression);
    if (honoured)
        return;
    throw UsageError(asOptions(asked) + " cannot be written as asked: the TIFF writer would store " +
                     asOptions({{"--colors", writtenColors},
                                {"--tiff-photometric", writtenPhotometric},
                                {"--tiff-compression", writtenCompression}}) +
                     " instead. Give those, or leave out what the writer changes.");
}

} // namespace

JpegOptions commandLineJpegDefaults() {
    JpegOptions jpeg;
    jpeg.quality = 90;
    jpeg.colorSpace = JpegColorSpace::YCbCr;
    return jpeg;
}

const char* WriterOptions::usage() {
    return WriterOptionsUsage;
}

bool WriterOptions::take(ArgumentReader& args) {
    for (const char* flag : Flags)
        if (args.flag({flag})) {
            m_given[flag] = "";
            return true;
        }
    for (const auto& pair : Switches) {
        if (args.flag({pair[0]})) {
            m_given[pair[0]] = "1";
            return true;
        }
        if (args.flag({pair[1]})) {
            m_given[pair[0]] = "0";
            return true;
        }
    }
    for (const char* option : ValueOptions)
        if (args.option({option})) {
            m_given[option] = args.value();
            return true;
        }
    return false;
}

StillImageSaveOptions WriterOptions::saveOptions(const FormatChoice& choice) const {
    const StillImageFormat format = choice.format;
    for (const auto& [option, value] : m_given)
        if (!appliesTo(option, format))
            throw UsageError(option + " does not apply to " + formatChoiceName(choice) + " output");
    auto given = [&](const char* option) -> const std::string* {
        const auto it = m_given.find(option);
        return it == m_given.end() ? nullptr : &it->second;
    };

    SaveParameterSet set;
    set.jpeg = commandLineJpegDefaults();
    if (const std::string* v = given("--jpeg-quality"))
        set.jpeg.quality = static_cast<int>(integerIn("--jpeg-quality", *v, 0, 100));
    if (const std::string* v = given("--jpeg-colorspace"))
        set.jpeg.colorSpace = choose("--jpeg-colorspace", *v, JpegColorSpaceNames);
    if (const std::string* v = given("--jpeg-dct"))
        set.jpeg.dctMethod = choose("--jpeg-dct", *v, JpegDctNames);
    set.jpeg.optimalHuffman = given("--jpeg-optimize") != nullptr;
    if (const std::string* v = given("--jpeg-smoothing"))
        set.jpeg.smoothing = static_cast<int>(integerIn("--jpeg-smoothing", *v, 0, 100));
    set.jpeg.progressive = given("--jpeg-progressive") != nullptr;

    // TIFF: the photometric first, then the colours, each coupling the other as the dialog's
    // lists do; the compression last.
    if (const std::string* v = given("--tiff-photometric"))
        chooseTiffPhotometric(set, choose("--tiff-photometric", *v, TiffPhotometricNames));
    if (const std::string* v = given("--tiff-compression"))
        set.tiff.compression = choose("--tiff-compression", *v, TiffCompressionNames);

    if (const std::string* v = given("--colors")) {
        const ColorsEntry colors = parseColors(*v, format);
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
    }

    set.gif.interlaced = given("--gif-interlaced") != nullptr;
    if (const std::string* v = given("--gif-transparent")) {
        set.gif.transparent = true;
        set.gif.transparentColor = parseColor("--gif-transparent", *v);
    }
    if (const std::string* v = given("--gif-background"))
        set.gif.background = parseColor("--gif-background", *v);
    if (given("--bmp-rle"))
        set.bmp.compression = 1;
    if (const std::string* v = given("--pcx-rle"))
        set.pcx.compression = *v == "1" ? 1 : 0;
    set.png.interlaced = given("--png-interlaced") != nullptr;
    if (const std::string* v = given("--png-filter"))
        set.png.filter = choose("--png-filter", *v, PngFilterNames);
    if (const std::string* v = given("--png-compression"))
        set.png.compression = static_cast<int>(integerIn("--png-compression", *v, 0, 9));
    if (const std::string* v = given("--png-background"))
        set.png.background = parseColor("--png-background", *v);
    if (const std::string* v = given("--tga-compressed"))
        set.tga.compressed = *v == "1";
    if (const std::string* v = given("--tga-name"))
        set.tga.name = *v;
    if (const std::string* v = given("--tga-description"))
        set.tga.description = *v;
    if (const std::string* v = given("--jp2-rate"))
        set.jpeg2000.rate = numberIn("--jp2-rate", *v, 0, 1);
    if (const std::string* v = given("--jp2-colorspace"))
        set.jpeg2000.colorSpace = choose("--jp2-colorspace", *v, Jpeg2000ColorSpaceNames);

    StillImageSaveOptions options;
    copyPageToSaveOptions(format, set, options);
    if (choice.codeStream || given("--jp2-codestream"))
        options.jpeg2000.format = Jpeg2000Format::CodeStream;

    // What the writers would store otherwise is refused, never changed silently.
    const std::string* colors = given("--colors");
    if (format == StillImageFormat::Tiff)
        checkTiffRequest(m_given, options);
    if (format == StillImageFormat::Bmp && colors && (set.bmpColors == C65536 || set.bmpColors == C16M32))
        throw UsageError("--colors " + *colors +
                         " cannot be written as asked: the BMP writer would store 24-bit colour "
                         "(--colors 16m) instead. Give --colors 16m.");
    if (format == StillImageFormat::Bmp && given("--bmp-rle") && set.bmpColors != C16 &&
        set.bmpColors != C256)
        throw UsageError(std::string("--bmp-rle") + (colors ? " --colors " + *colors : "") +
                         " cannot be written as asked: the BMP writer would store it uncompressed, as RLE "
                         "applies to 16 and 256 colours. Give --colors 16 or 256, or leave out --bmp-rle.");
    const std::string* tgaCompressed = given("--tga-compressed");
    if (format == StillImageFormat::Tga && tgaCompressed && *tgaCompressed == "1" &&
        set.tgaColors == BlackWhite)
        throw UsageError(
            "--tga-compressed --colors bw cannot be written as asked: the TGA writer would store "
            "the black-and-white picture uncompressed instead. Leave out --tga-compressed.");
    return options;
}

namespace {

int writeCommand(const std::vector<std::string>& arguments) {
    std::vector<std::string> positional;
    std::string formatName;
    bool overwrite = false;
    WriterOptions writerOptions;
    ArgumentReader args(arguments);
    while (args.next()) {
        if (args.isPositional())
            positional.push_back(args.text());
        else if (args.option({"--format"}))
            formatName = args.value();
        else if (args.flag({"--quiet", "-q"}))
            setQuiet(true);
        else if (args.flag({"--overwrite", "-y"}))
            overwrite = true;
        else if (!writerOptions.take(args))
            args.unknown();
    }
    if (positional.size() != 2)
        throw UsageError("write takes IN and OUT");
    const std::string& output = positional[1];
    const FormatChoice format = outputFormat(output, formatName);
    const StillImageSaveOptions options = writerOptions.saveOptions(format);
    checkOutput(output, overwrite);

    Bitmap picture;
    readInputPicture(positional[0], picture);
    const EncodedImage encoded = encodeStillImage(picture, options, format.format);
    writeOutput(output, encoded.bytes, overwrite);
    summary(output, "Size: " + std::to_string(picture.Width()) + " x " + std::to_string(picture.Height()) +
                        " pixels  Compressed size: " + std::to_string(encoded.bytes.size()) + " bytes");
    return ExitOk;
}

} // namespace

const Command& writeCommandEntry() {
    static const Command command{"write", "IN OUT [options]", "write a picture with one still-image writer",
                                 std::string(WriteUsage) + WriterOptionsUsage, writeCommand};
    return command;
}

} // namespace kelvara::cli
