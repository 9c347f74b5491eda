// JPEG writer over the IJG library (API version 62): a stream destination manager and an error
// manager that returns control to us instead of ending the process.
#include "output/StillImageWriters.h"
#include "output/WriterSupport.h"

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>

namespace kelvara {

namespace {

// The library's default error_exit calls exit(). Ours records the message and jumps back to the
// frame that called into the library, which then raises it as an exception; no exception ever
// passes through the library's C frames.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void errorExit(j_common_ptr info) {
    auto* errors = reinterpret_cast<ErrorManager*>(info->err);
    (*info->err->format_message)(info, errors->message);
    std::longjmp(errors->jump, 1);
}

void outputMessage(j_common_ptr) {}

constexpr size_t BufferSize = 16384;

struct Destination {
    jpeg_destination_mgr pub;
    Stream* stream;
    JOCTET buffer[BufferSize];
    bool failed;
    char failure[JMSG_LENGTH_MAX];
};

// Writes count bytes of the buffer; a stream error is recorded and ends compression.
void flushDestination(j_compress_ptr info, size_t count) {
    auto* dest = reinterpret_cast<Destination*>(info->dest);
    try {
        dest->stream->write(dest->buffer, count);
    } catch (const std::exception& e) {
        dest->failed = true;
        std::snprintf(dest->failure, sizeof dest->failure, "%s", e.what());
    }
    if (dest->failed)
        std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

void initDestination(j_compress_ptr info) {
    auto* dest = reinterpret_cast<Destination*>(info->dest);
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = BufferSize;
}

boolean emptyOutputBuffer(j_compress_ptr info) {
    flushDestination(info, BufferSize);
    initDestination(info);
    return TRUE;
}

void termDestination(j_compress_ptr info) {
    auto* dest = reinterpret_cast<Destination*>(info->dest);
    flushDestination(info, BufferSize - dest->pub.free_in_buffer);
}

J_COLOR_SPACE jpegSpace(JpegColorSpace space) {
    switch (space) {
    case JpegColorSpace::Rgb:
        return JCS_RGB;
    case JpegColorSpace::Gray:
        return JCS_GRAYSCALE;
    case JpegColorSpace::YCbCr:
        return JCS_YCbCr;
    case JpegColorSpace::Cmyk:
        return JCS_CMYK;
    case JpegColorSpace::YCbCrK:
        return JCS_YCCK;
    }
    return JCS_YCbCr;
}

// Runs the whole compression. Holds no objects with destructors, so the error jump may leave it.
// Returns false with the message in errors.message when the library failed.
bool compress(jpeg_compress_struct& info, ErrorManager& errors, Destination& dest, const RgbPicture& picture,
              const TIOParams& params, const ProgressCallback& progress, JSAMPLE* row) {
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_CreateCompress(&info, 62, sizeof info);
    info.dest = &dest.pub;

    const bool cmykInput =
        params.jpeg.colorSpace == JpegColorSpace::Cmyk || params.jpeg.colorSpace == JpegColorSpace::YCbCrK;
    info.image_width = static_cast<JDIMENSION>(picture.width);
    info.image_height = static_cast<JDIMENSION>(picture.height);
    info.input_components = cmykInput ? 4 : 3;
    // Three-component input is handed over in the picture's own blue-green-red order.
    info.in_color_space = cmykInput ? JCS_CMYK : JCS_EXT_BGR;
    jpeg_set_defaults(&info);
    jpeg_set_colorspace(&info, jpegSpace(params.jpeg.colorSpace));

    info.density_unit = 1;
    info.X_density = static_cast<UINT16>(params.dpiX > 0 ? params.dpiX : 96);
    info.Y_density = static_cast<UINT16>(params.dpiY > 0 ? params.dpiY : 96);
    info.dct_method = params.jpeg.dctMethod == JpegDctMethod::IFast   ? JDCT_IFAST
                      : params.jpeg.dctMethod == JpegDctMethod::Float ? JDCT_FLOAT
                                                                      : JDCT_ISLOW;
    info.optimize_coding = params.jpeg.optimalHuffman ? TRUE : FALSE;
    info.smoothing_factor = std::clamp(params.jpeg.smoothing, 0, 100);
    jpeg_set_quality(&info, std::clamp(params.jpeg.quality, 0, 100), TRUE);
    if (params.jpeg.progressive)
        jpeg_simple_progression(&info);

    jpeg_start_compress(&info, TRUE);
    for (int y = 0; y < picture.height; ++y) {
        const uint8_t* source = picture.row(y);
        JSAMPROW rows[1] = {const_cast<JSAMPLE*>(source)};
        if (cmykInput) {
            for (int x = 0; x < picture.width; ++x) {
                const int blue = source[x * 3], green = source[x * 3 + 1], red = source[x * 3 + 2];
                int m = std::max({red, green, blue});
                if (m == 0)
                    m = 1;
                row[x * 4] = static_cast<JSAMPLE>(red * 255 / m);
                row[x * 4 + 1] = static_cast<JSAMPLE>(green * 255 / m);
                row[x * 4 + 2] = static_cast<JSAMPLE>(blue * 255 / m);
                row[x * 4 + 3] = static_cast<JSAMPLE>(m);
            }
            rows[0] = row;
        }
        jpeg_write_scanlines(&info, rows, 1);
        if (progress) {
            try {
                progress((y + 1) * 100 / picture.height);
            } catch (...) {
                jpeg_destroy_compress(&info);
                throw;
            }
        }
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

} // namespace

WriteResult writeJpeg(Stream& stream, const Bitmap& bitmap, const TIOParams& params,
                      const ProgressCallback& progress) {
    const RgbPicture picture = rgbPictureOf(bitmap);
    if (picture.width <= 0 || picture.height <= 0)
        throw OutputError(OutputMessages::EmptyPicture);
    if (picture.width > JPEG_MAX_DIMENSION || picture.height > JPEG_MAX_DIMENSION)
        throw OutputError(OutputMessages::TooLarge);
    std::vector<JSAMPLE> row(static_cast<size_t>(picture.width) * 4);

    // Both live on the heap so that a jump back into compress() finds them intact.
    auto errors = std::make_unique<ErrorManager>();
    auto dest = std::make_unique<Destination>();
    auto info = std::make_unique<jpeg_compress_struct>();
    info->err = jpeg_std_error(&errors->pub);
    errors->pub.error_exit = errorExit;
    errors->pub.output_message = outputMessage;
    dest->pub.init_destination = initDestination;
    dest->pub.empty_output_buffer = emptyOutputBuffer;
    dest->pub.term_destination = termDestination;
    dest->stream = &stream;
    dest->failed = false;

    if (!compress(*info, *errors, *dest, picture, params, progress, row.data())) {
        if (dest->failed)
            throw StreamError(dest->failure);
        throw OutputError(errors->message);
    }
    return {};
}

} // namespace kelvara
