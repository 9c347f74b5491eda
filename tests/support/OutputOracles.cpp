// Independent decoders for the still-image writers' tests.
#include "support/OutputOracles.h"

#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <gif_lib.h>
#include <jpeglib.h>
#include <openjpeg.h>
#include <png.h>
#include <sstream>
#include <stdexcept>
#include <tiffio.h>

using kelvara::test::ProcessResult;
using kelvara::test::runProcess;
using kelvara::test::ScratchDir;
using kelvara::test::shellQuoted;

namespace kelvara::test::still {

namespace {

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

} // namespace

DecodedRgb decodeWithImageMagick(const std::vector<uint8_t>& file, const std::string& format) {
    ScratchDir dir;
    const std::string path = dir.file("picture." + format);
    writeBytes(path, file);
    const std::string source = shellQuoted(format + ":" + path);
    ProcessResult size = runProcess("identify -format '%w %h' " + source);
    if (size.exitCode != 0)
        throw std::runtime_error("identify failed: " + size.err);
    DecodedRgb decoded;
    std::istringstream(size.out) >> decoded.width >> decoded.height;
    ProcessResult pixels = runProcess("convert " + source + " -depth 8 rgb:-");
    if (pixels.exitCode != 0)
        throw std::runtime_error("convert failed: " + pixels.err);
    decoded.rgb.assign(pixels.out.begin(), pixels.out.end());
    if (decoded.rgb.size() != static_cast<size_t>(decoded.width) * decoded.height * 3)
        throw std::runtime_error("convert gave " + std::to_string(decoded.rgb.size()) + " bytes");
    return decoded;
}

DecodedRgb decodeWithFfmpeg(const std::vector<uint8_t>& file, const std::string& extension, int width,
                            int height) {
    ScratchDir dir;
    const std::string path = dir.file("picture." + extension);
    writeBytes(path, file);
    ProcessResult pixels =
        runProcess("ffmpeg -v error -i " + shellQuoted(path) + " -f rawvideo -pix_fmt rgb24 -");
    if (pixels.exitCode != 0)
        throw std::runtime_error("ffmpeg failed: " + pixels.err);
    DecodedRgb decoded;
    decoded.width = width;
    decoded.height = height;
    decoded.rgb.assign(pixels.out.begin(), pixels.out.end());
    if (decoded.rgb.size() != static_cast<size_t>(width) * height * 3)
        throw std::runtime_error("ffmpeg gave " + std::to_string(decoded.rgb.size()) + " bytes");
    return decoded;
}

// ---------------------------------------------------------------------------------------------

namespace {

struct MemoryReader {
    const std::vector<uint8_t>* bytes;
    size_t position = 0;
};

int readGifBytes(GifFileType* gif, GifByteType* buffer, int count) {
    auto* reader = static_cast<MemoryReader*>(gif->UserData);
    size_t n = std::min<size_t>(static_cast<size_t>(count), reader->bytes->size() - reader->position);
    std::memcpy(buffer, reader->bytes->data() + reader->position, n);
    reader->position += n;
    return static_cast<int>(n);
}

} // namespace

// Reads record by record: DGifSlurp of giflib 5.2 misreads an extension with no sub-blocks (it
// takes the next record's byte for a block length), and our files end with such a comment block.
GifFacts readGifFactsWithGiflib(const std::vector<uint8_t>& file) {
    MemoryReader reader{&file};
    int error = 0;
    GifFileType* gif = DGifOpen(&reader, readGifBytes, &error);
    if (!gif)
        throw std::runtime_error("DGifOpen failed: " + std::to_string(error));
    GifFacts facts;
    facts.width = gif->SWidth;
    facts.height = gif->SHeight;
    facts.colorResolution = gif->SColorResolution;
    facts.backgroundIndex = gif->SBackGroundColor;
    if (gif->SColorMap)
        for (int i = 0; i < gif->SColorMap->ColorCount; ++i) {
            const GifColorType& c = gif->SColorMap->Colors[i];
            facts.globalColors.push_back(rgbColor(c.Red, c.Green, c.Blue));
        }
    auto fail = [&](const char* what) {
        int code = gif->Error;
        DGifCloseFile(gif, &error);
        throw std::runtime_error(std::string(what) + " failed: " + std::to_string(code));
    };
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    bool imageSeen = false;
    do {
        if (DGifGetRecordType(gif, &type) != GIF_OK)
            fail("DGifGetRecordType");
        if (type == IMAGE_DESC_RECORD_TYPE) {
            if (DGifGetImageDesc(gif) != GIF_OK)
                fail("DGifGetImageDesc");
            const int w = gif->Image.Width, h = gif->Image.Height;
            facts.interlaced = gif->Image.Interlace;
            std::vector<int> rows;
            if (facts.interlaced) {
                const int starts[4] = {0, 4, 2, 1}, steps[4] = {8, 8, 4, 2};
                for (int pass = 0; pass < 4; ++pass)
                    for (int y = starts[pass]; y < h; y += steps[pass])
                        rows.push_back(y);
            } else {
                for (int y = 0; y < h; ++y)
                    rows.push_back(y);
            }
            std::vector<uint8_t> indexes(static_cast<size_t>(w) * h);
            for (int y : rows)
                if (DGifGetLine(gif, indexes.data() + static_cast<size_t>(y) * w, w) != GIF_OK)
                    fail("DGifGetLine");
            if (!imageSeen)
                facts.indexes = std::move(indexes);
            imageSeen = true;
        } else if (type == EXTENSION_RECORD_TYPE) {
            int function = 0;
            GifByteType* data = nullptr;
            if (DGifGetExtension(gif, &function, &data) != GIF_OK)
                fail("DGifGetExtension");
            while (data) {
                if (function == GRAPHICS_EXT_FUNC_CODE) {
                    GraphicsControlBlock gcb;
                    DGifExtensionToGCB(data[0], data + 1, &gcb);
                    facts.hasGraphicControl = true;
                    facts.disposal = gcb.DisposalMode;
                    facts.transparentIndex = gcb.TransparentColor;
                    facts.transparent = gcb.TransparentColor != NO_TRANSPARENT_COLOR;
                } else if (function == COMMENT_EXT_FUNC_CODE) {
                    facts.comments.emplace_back(reinterpret_cast<const char*>(data + 1), data[0]);
                }
                if (DGifGetExtensionNext(gif, &data) != GIF_OK)
                    fail("DGifGetExtensionNext");
            }
        }
    } while (type != TERMINATE_RECORD_TYPE);
    DGifCloseFile(gif, &error);
    return facts;
}

// ---------------------------------------------------------------------------------------------

TiffFacts decodeWithLibtiff(const std::vector<uint8_t>& file) {
    ScratchDir dir;
    const std::string path = dir.file("picture.tif");
    writeBytes(path, file);
    TIFFSetWarningHandler(nullptr);
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (!tiff)
        throw std::runtime_error("TIFFOpen failed");
    TiffFacts facts;
    uint32_t w = 0, h = 0;
    uint16_t v = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &h);
    facts.width = static_cast<int>(w);
    facts.height = static_cast<int>(h);
    if (TIFFGetField(tiff, TIFFTAG_COMPRESSION, &v))
        facts.compression = v;
    if (TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &v))
        facts.photometric = v;
    if (TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &v))
        facts.bitsPerSample = v;
    if (TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &v))
        facts.samplesPerPixel = v;
    if (TIFFGetField(tiff, TIFFTAG_PREDICTOR, &v))
        facts.predictor = v;
    uint32_t options = 0;
    if (TIFFGetField(tiff, TIFFTAG_GROUP3OPTIONS, &options))
        facts.t4Options = options;
    uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    if (facts.photometric == PHOTOMETRIC_PALETTE &&
        TIFFGetField(tiff, TIFFTAG_COLORMAP, &red, &green, &blue)) {
        size_t n = size_t(1) << facts.bitsPerSample;
        facts.colorMap[0].assign(red, red + n);
        facts.colorMap[1].assign(green, green + n);
        facts.colorMap[2].assign(blue, blue + n);
    }
    const tmsize_t line = TIFFScanlineSize(tiff);
    facts.raw.resize(static_cast<size_t>(line) * h);
    for (uint32_t y = 0; y < h; ++y)
        if (TIFFReadScanline(tiff, facts.raw.data() + static_cast<size_t>(line) * y, y, 0) < 0)
            throw std::runtime_error("TIFFReadScanline failed at row " + std::to_string(y));
    TIFFClose(tiff);

    // A second pass for the RGBA rendering, which needs a fresh directory read.
    tiff = TIFFOpen(path.c_str(), "r");
    std::vector<uint32_t> rgba(static_cast<size_t>(w) * h);
    TIFFSetErrorHandler(nullptr);
    if (TIFFReadRGBAImageOriented(tiff, w, h, rgba.data(), ORIENTATION_TOPLEFT, 0)) {
        facts.rgba.width = facts.width;
        facts.rgba.height = facts.height;
        for (uint32_t p : rgba) {
            facts.rgba.rgb.push_back(static_cast<uint8_t>(TIFFGetR(p)));
            facts.rgba.rgb.push_back(static_cast<uint8_t>(TIFFGetG(p)));
            facts.rgba.rgb.push_back(static_cast<uint8_t>(TIFFGetB(p)));
        }
    }
    TIFFClose(tiff);
    return facts;
}

// ---------------------------------------------------------------------------------------------

namespace {

struct JpegErrors {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void jpegErrorExit(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1);
}

} // namespace

JpegFacts decodeWithLibjpeg(const std::vector<uint8_t>& file) {
    jpeg_decompress_struct info{};
    JpegErrors errors{};
    info.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = jpegErrorExit;
    JpegFacts facts;
    std::vector<uint8_t> row;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        throw std::runtime_error("libjpeg could not decode the file");
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&info, TRUE);
    facts.components = info.num_components;
    facts.colorSpace = info.jpeg_color_space;
    facts.progressive = info.progressive_mode;
    facts.densityUnit = info.density_unit;
    facts.xDensity = info.X_density;
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_start_decompress(&info);
    facts.picture.width = static_cast<int>(info.output_width);
    facts.picture.height = static_cast<int>(info.output_height);
    row.resize(static_cast<size_t>(info.output_width) * info.output_components);
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_read_scanlines(&info, rows, 1);
        for (JDIMENSION x = 0; x < info.output_width; ++x) {
            if (cmyk) {
                // Adobe files store inverted inks: the value is the amount of light left.
                const uint8_t* p = row.data() + x * 4;
                for (int c = 0; c < 3; ++c)
                    facts.picture.rgb.push_back(static_cast<uint8_t>(p[c] * p[3] / 255));
            } else {
                const uint8_t* p = row.data() + x * 3;
                facts.picture.rgb.insert(facts.picture.rgb.end(), p, p + 3);
            }
        }
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return facts;
}

// ---------------------------------------------------------------------------------------------

namespace {

void pngReadBytes(png_structp png, png_bytep data, png_size_t length) {
    auto* reader = static_cast<MemoryReader*>(png_get_io_ptr(png));
    if (reader->position + length > reader->bytes->size())
        png_error(png, "read past the end");
    std::memcpy(data, reader->bytes->data() + reader->position, length);
    reader->position += length;
}

} // namespace

PngFacts decodeWithLibpng(const std::vector<uint8_t>& file) {
    MemoryReader reader{&file};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    PngFacts facts;
    std::vector<uint8_t> pixels;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        throw std::runtime_error("libpng could not decode the file");
    }
    png_set_read_fn(png, &reader, pngReadBytes);
    png_read_info(png, info);
    facts.width = static_cast<int>(png_get_image_width(png, info));
    facts.height = static_cast<int>(png_get_image_height(png, info));
    facts.bitDepth = png_get_bit_depth(png, info);
    facts.colorType = png_get_color_type(png, info);
    facts.interlace = png_get_interlace_type(png, info);
    png_colorp palette = nullptr;
    int count = 0;
    if (png_get_PLTE(png, info, &palette, &count))
        for (int i = 0; i < count; ++i)
            facts.palette.push_back(rgbColor(palette[i].red, palette[i].green, palette[i].blue));
    png_color_16p background = nullptr;
    if (png_get_bKGD(png, info, &background)) {
        facts.hasBackground = true;
        facts.backgroundIndex = background->index;
        facts.backgroundGray = background->gray;
        facts.backgroundRgb = rgbColor(background->red, background->green, background->blue);
    }
    png_uint_32 resX = 0, resY = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &resX, &resY, &unit))
        facts.pixelsPerMetreX = resX;

    const bool paletteImage = facts.colorType == PNG_COLOR_TYPE_PALETTE;
    if (!paletteImage) {
        png_set_expand(png);
        png_set_gray_to_rgb(png);
    }
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    pixels.resize(rowBytes * facts.height);
    std::vector<png_bytep> rows(static_cast<size_t>(facts.height));
    for (int y = 0; y < facts.height; ++y)
        rows[y] = pixels.data() + rowBytes * y;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);

    facts.picture.width = facts.width;
    facts.picture.height = facts.height;
    for (int y = 0; y < facts.height; ++y) {
        for (int x = 0; x < facts.width; ++x) {
            if (paletteImage) {
                uint8_t index = pixels[rowBytes * y + x];
                facts.paletteIndexes.push_back(index);
                Color c = index < facts.palette.size() ? facts.palette[index] : 0;
                facts.picture.rgb.push_back(static_cast<uint8_t>(redOf(c)));
                facts.picture.rgb.push_back(static_cast<uint8_t>(greenOf(c)));
                facts.picture.rgb.push_back(static_cast<uint8_t>(blueOf(c)));
            } else {
                const uint8_t* p = pixels.data() + rowBytes * y + static_cast<size_t>(x) * 3;
                facts.picture.rgb.insert(facts.picture.rgb.end(), p, p + 3);
            }
        }
    }
    return facts;
}

// ---------------------------------------------------------------------------------------------

namespace {

struct OpjReader {
    const std::vector<uint8_t>* bytes;
    size_t position = 0;
};

OPJ_SIZE_T opjRead(void* buffer, OPJ_SIZE_T count, void* user) {
    auto* reader = static_cast<OpjReader*>(user);
    size_t n = std::min<size_t>(count, reader->bytes->size() - reader->position);
    if (n == 0)
        return static_cast<OPJ_SIZE_T>(-1);
    std::memcpy(buffer, reader->bytes->data() + reader->position, n);
    reader->position += n;
    return n;
}

OPJ_OFF_T opjSkip(OPJ_OFF_T count, void* user) {
    auto* reader = static_cast<OpjReader*>(user);
    reader->position = static_cast<size_t>(std::clamp<int64_t>(
        static_cast<int64_t>(reader->position) + count, 0, static_cast<int64_t>(reader->bytes->size())));
    return count;
}

OPJ_BOOL opjSeek(OPJ_OFF_T position, void* user) {
    auto* reader = static_cast<OpjReader*>(user);
    if (position < 0 || static_cast<size_t>(position) > reader->bytes->size())
        return OPJ_FALSE;
    reader->position = static_cast<size_t>(position);
    return OPJ_TRUE;
}

void opjQuiet(const char*, void*) {}

} // namespace

Jpeg2000Facts decodeWithOpenJpeg(const std::vector<uint8_t>& file, bool codeStream) {
    OpjReader reader{&file};
    opj_stream_t* stream = opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE);
    opj_stream_set_user_data(stream, &reader, nullptr);
    opj_stream_set_user_data_length(stream, file.size());
    opj_stream_set_read_function(stream, opjRead);
    opj_stream_set_skip_function(stream, opjSkip);
    opj_stream_set_seek_function(stream, opjSeek);
    opj_codec_t* codec = opj_create_decompress(codeStream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2);
    opj_set_error_handler(codec, opjQuiet, nullptr);
    opj_set_warning_handler(codec, opjQuiet, nullptr);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    opj_setup_decoder(codec, &parameters);
    opj_image_t* image = nullptr;
    bool ok = opj_read_header(stream, codec, &image) && opj_decode(codec, stream, image) &&
              opj_end_decompress(codec, stream);
    Jpeg2000Facts facts;
    if (ok) {
        facts.components = static_cast<int>(image->numcomps);
        facts.precision = static_cast<int>(image->comps[0].prec);
        facts.width = static_cast<int>(image->comps[0].w);
        facts.height = static_cast<int>(image->comps[0].h);
        for (OPJ_UINT32 c = 0; c < image->numcomps; ++c) {
            const opj_image_comp_t& comp = image->comps[c];
            facts.samples.emplace_back(comp.data, comp.data + static_cast<size_t>(comp.w) * comp.h);
        }
    }
    if (image)
        opj_image_destroy(image);
    opj_destroy_codec(codec);
    opj_stream_destroy(stream);
    if (!ok)
        throw std::runtime_error("OpenJPEG could not decode the file");
    return facts;
}

} // namespace kelvara::test::still
