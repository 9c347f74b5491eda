// PNG writer over libpng: grey 1-bit, palette (background entry first), RGB or (pictures with an
// alpha channel) RGBA images, with pHYs, bKGD, the chosen filter, compression level and Adam7
// interlacing.
#include "output/ImageQuantizer.h"
#include "output/StillImageWriters.h"

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <png.h>

namespace kelvara {

namespace {

// libpng reports errors through our function, which records the message and jumps back to the
// setjmp of the writing frame; nothing is thrown through libpng's frames.
struct PngContext {
    Stream* stream = nullptr;
    bool streamFailed = false;
    char message[256] = {};
};

void pngError(png_structp png, png_const_charp message) {
    auto* context = static_cast<PngContext*>(png_get_error_ptr(png));
    if (context && !context->streamFailed)
        std::snprintf(context->message, sizeof context->message, "%s", message);
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

void pngWrite(png_structp png, png_bytep data, png_size_t length) {
    auto* context = static_cast<PngContext*>(png_get_io_ptr(png));
    try {
        context->stream->write(data, length);
    } catch (const std::exception& e) {
        context->streamFailed = true;
        std::snprintf(context->message, sizeof context->message, "%s", e.what());
    }
    if (context->streamFailed)
        png_error(png, context->message);
}

void pngFlush(png_structp) {}

struct PreparedPicture {
    int colorType = PNG_COLOR_TYPE_RGB;
    int bitDepth = 8;
    std::vector<png_color> palette;
    std::vector<uint8_t> rows; // every row as libpng takes it
    size_t rowBytes = 0;
};

// The picture's rows with its alpha plane: blue, green, red, alpha.
std::vector<uint8_t> withAlpha(const RgbPicture& picture, const uint8_t* alpha) {
    const size_t count = size_t(picture.width) * size_t(picture.height);
    std::vector<uint8_t> rows(count * 4);
    for (size_t k = 0; k < count; ++k) {
        std::memcpy(rows.data() + 4 * k, picture.bgr.data() + 3 * k, 3);
        rows[4 * k + 3] = alpha[k];
    }
    return rows;
}

PreparedPicture prepare(const RgbPicture& picture, const TIOParams& params, const uint8_t* alpha) {
    PreparedPicture prepared;
    const int width = picture.width, height = picture.height;
    if (params.bitsPerSample == 1) {
        // A 1-bit grey image shows bit 0 black and bit 1 white.
        prepared.colorType = PNG_COLOR_TYPE_GRAY;
        prepared.bitDepth = 1;
        prepared.rowBytes = (static_cast<size_t>(width) + 7) / 8;
        std::vector<uint8_t> bits = blackWhiteBits(twoColorPicture(picture));
        prepared.rows.resize(prepared.rowBytes * height);
        for (int y = 0; y < height; ++y)
            packIndexRow(bits.data() + static_cast<size_t>(y) * width, width, 1,
                         prepared.rows.data() + prepared.rowBytes * y);
    } else if (params.samplesPerPixel == 1) {
        // Entry 0 is the background colour; the quantized colours follow it.
        const int n = std::min(1 << std::clamp(params.bitsPerSample, 1, 8), 255);
        TImageQuantizer quantizer(picture, n);
        prepared.colorType = PNG_COLOR_TYPE_PALETTE;
        prepared.palette.push_back({static_cast<png_byte>(redOf(params.png.background)),
                                    static_cast<png_byte>(greenOf(params.png.background)),
                                    static_cast<png_byte>(blueOf(params.png.background))});
        for (Color c : quantizer.palette())
            prepared.palette.push_back({static_cast<png_byte>(redOf(c)), static_cast<png_byte>(greenOf(c)),
                                        static_cast<png_byte>(blueOf(c))});
        prepared.rowBytes = static_cast<size_t>(width);
        prepared.rows.resize(prepared.rowBytes * height);
        for (size_t i = 0; i < prepared.rows.size(); ++i) {
            const uint8_t* p = picture.bgr.data() + i * 3;
            prepared.rows[i] = static_cast<uint8_t>(quantizer.index(p[2], p[1], p[0]) + 1);
        }
    } else if (alpha) {
        // A picture with an alpha channel keeps it.
        prepared.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
        prepared.rowBytes = static_cast<size_t>(width) * 4;
        prepared.rows = withAlpha(picture, alpha);
    } else {
        prepared.rowBytes = static_cast<size_t>(width) * 3;
        prepared.rows = picture.bgr;
    }
    return prepared;
}

// Runs libpng. Holds no objects with destructors, so the error jump may leave it; returns false
// when libpng failed.
bool writeWithLibpng(png_structp png, png_infop info, const PreparedPicture& prepared,
                     const RgbPicture& picture, const TIOParams& params, const ProgressCallback& progress) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    const int width = picture.width, height = picture.height;
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
                 prepared.bitDepth, prepared.colorType,
                 params.png.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (prepared.colorType == PNG_COLOR_TYPE_PALETTE)
        png_set_PLTE(png, info, prepared.palette.data(), static_cast<int>(prepared.palette.size()));
    const auto ppm = [](double dpi) { return static_cast<png_uint_32>(std::nearbyint(dpi * 100 / 2.54)); };
    png_set_pHYs(png, info, ppm(params.dpiX), ppm(params.dpiY), PNG_RESOLUTION_METER);
    const int filter = params.png.filter == PngFilter::Sub     ? PNG_FILTER_SUB
                       : params.png.filter == PngFilter::Paeth ? PNG_FILTER_PAETH
                                                               : PNG_FILTER_NONE;
    png_set_filter(png, PNG_FILTER_TYPE_BASE, filter);

    // Background: an RGB image names the colour in its own 8-bit samples, a palette image the
    // entry that holds it (entry 0), a grey image level 0.
    png_color_16 background{};
    const bool rgb =
        prepared.colorType == PNG_COLOR_TYPE_RGB || prepared.colorType == PNG_COLOR_TYPE_RGB_ALPHA;
    if (rgb) {
        background.red = static_cast<png_uint_16>(redOf(params.png.background));
        background.green = static_cast<png_uint_16>(greenOf(params.png.background));
        background.blue = static_cast<png_uint_16>(blueOf(params.png.background));
    } else if (prepared.colorType == PNG_COLOR_TYPE_PALETTE) {
        background.index = 0;
    } else {
        background.gray = 0;
    }
    png_set_bKGD(png, info, &background);
    png_set_compression_level(png, std::clamp(params.png.compression, 0, 9));

    png_write_info(png, info);
    if (rgb)
        png_set_bgr(png);
    const int passes = png_set_interlace_handling(png);
    int written = 0;
    for (int pass = 0; pass < passes; ++pass) {
        for (int y = 0; y < height; ++y) {
            png_write_row(png, const_cast<png_bytep>(prepared.rows.data() + prepared.rowBytes * y));
            ++written;
            if (progress)
                progress(static_cast<int>(static_cast<int64_t>(written) * 100 / (passes * height)));
        }
    }
    png_write_end(png, info);
    return true;
}

} // namespace

WriteResult writePng(Stream& stream, const Bitmap& bitmap, const TIOParams& params,
                     const ProgressCallback& progress) {
    const RgbPicture picture = rgbPictureOf(bitmap);
    if (picture.width <= 0 || picture.height <= 0)
        throw OutputError(OutputMessages::EmptyPicture);
    const PreparedPicture prepared = prepare(picture, params, bitmap.alphaPlane());

    PngContext context;
    context.stream = &stream;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &context, pngError, pngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info) {
        if (png)
            png_destroy_write_struct(&png, nullptr);
        throw OutputError(OutputMessages::PngCreate);
    }
    png_set_write_fn(png, &context, pngWrite, pngFlush);
    // PNG allows 2^31 - 1 pixels a side; libpng's own default stops at a million.
    png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);

    bool ok;
    try {
        ok = writeWithLibpng(png, info, prepared, picture, params, progress);
    } catch (...) {
        png_destroy_write_struct(&png, &info);
        throw;
    }
    png_destroy_write_struct(&png, &info);
    if (!ok) {
        if (context.streamFailed)
            throw StreamError(context.message);
        throw OutputError(std::string(OutputMessages::PngWrite) + " (libpng: " + context.message + ")");
    }
    if (prepared.bitDepth == 1)
        return {{ColorBlack, ColorWhite}};
    WriteResult result;
    for (const png_color& c : prepared.palette)
        result.palette.push_back(rgbColor(c.red, c.green, c.blue));
    return result;
}

} // namespace kelvara
