// The JPEG reader on libjpeg (IJG API, version 62). libjpeg's errors end the decode by a jump
// back to this wrapper, which turns them into exceptions; nothing is thrown through libjpeg.
#include "input/ByteReader.h"

#include <csetjmp>
#include <cstdio>
// jpeglib.h needs FILE and size_t declared before it.
#include <jerror.h>
#include <jpeglib.h>

#include <vector>

namespace kelvara::input_detail {

namespace {

constexpr const char* Kind = "JPEG";

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    bool truncated;
};

// libjpeg's default error_exit ends the process; ours returns to the decode instead.
[[noreturn]] void errorExit(j_common_ptr cinfo) {
    auto* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::longjmp(errors->jump, 1);
}

// Warnings are not shown, but data that ends before the picture does is an error: libjpeg would
// otherwise fill the rest with grey and call the picture read. The data ends either with the
// file or at a marker (the end-of-image marker, say) met in the middle of a scan.
void outputMessage(j_common_ptr) {}
void emitMessage(j_common_ptr cinfo, int level) {
    auto* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (level < 0 && (errors->base.msg_code == JWRN_JPEG_EOF || errors->base.msg_code == JWRN_HIT_MARKER)) {
        errors->truncated = true;
        std::longjmp(errors->jump, 1);
    }
}

// Decodes row after row into the row buffer, handing each to rowRead with its number and channel
// count; returns false when libjpeg gave up. Kept free of C++ objects with destructors, since a
// jump may leave it at any point.
bool decompress(const uint8_t* data, size_t size, jpeg_decompress_struct& cinfo, ErrorManager& errors,
                uint8_t* row, void (*rowRead)(void*, int, int), void* context, bool& tooLarge) {
    cinfo.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = errorExit;
    errors.base.output_message = outputMessage;
    errors.base.emit_message = emitMessage;
    errors.truncated = false;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, const_cast<unsigned char*>(data), static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    if (cinfo.image_width == 0 || cinfo.image_height == 0 ||
        int64_t(cinfo.image_width) * cinfo.image_height > Bitmap::MaxPixels) {
        tooLarge = true;
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    // CMYK and YCCK stay four channels; everything else comes out as RGB.
    if (cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK)
        cinfo.out_color_space = JCS_CMYK;
    else
        cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    while (cinfo.output_scanline < cinfo.output_height) {
        const int y = int(cinfo.output_scanline);
        JSAMPROW rows[1] = {row};
        jpeg_read_scanlines(&cinfo, rows, 1);
        rowRead(context, y, cinfo.output_components);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

// Reads the header alone, for the size. No C++ objects live here, since an error jumps back.
bool readHeader(const uint8_t* data, size_t size, jpeg_decompress_struct& cinfo, ErrorManager& errors,
                int& width, int& height) {
    cinfo.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = errorExit;
    errors.base.output_message = outputMessage;
    errors.base.emit_message = emitMessage;
    errors.truncated = false;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, const_cast<unsigned char*>(data), static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    width = int(cinfo.image_width);
    height = int(cinfo.image_height);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

} // namespace

void decodeJpeg(const uint8_t* data, size_t size, Bitmap& picture) {
    if (size < 2 || data[0] != 0xFF || data[1] != 0xD8)
        fail(Kind, PictureReaderMessages::NotValid);
    jpeg_decompress_struct cinfo;
    ErrorManager errors;
    int width = 0, height = 0;
    if (!readHeader(data, size, cinfo, errors, width, height))
        fail(Kind, errors.truncated ? PictureReaderMessages::Truncated : PictureReaderMessages::NotValid);
    checkPictureSize(Kind, width, height);
    checkDataCanFill(Kind, width, height, size, MaxJpegPixelsPerByte);

    // The pixels, every row through a scratch row of up to four channels into the picture.
    struct Context {
        Bitmap picture;
        std::vector<uint8_t> row;
        int width;
    } context;
    context.width = width;
    context.row.resize(size_t(width) * 4);
    makePicture24(context.picture, width, height);
    auto rowRead = [](void* c, int y, int components) {
        auto* ctx = static_cast<Context*>(c);
        uint8_t* row = ctx->picture.ScanLine(y);
        for (int x = 0; x < ctx->width; ++x) {
            const uint8_t* p = ctx->row.data() + size_t(x) * components;
            if (components == 4) {
                // Adobe writes CMYK inverted; the colour is each ink times the black ink, over 255.
                const int k = p[3];
                putRgb(row, x, (p[0] * k + 127) / 255, (p[1] * k + 127) / 255, (p[2] * k + 127) / 255);
            } else {
                putRgb(row, x, p[0], p[1], p[2]);
            }
        }
    };
    bool tooLarge = false;
    if (!decompress(data, size, cinfo, errors, context.row.data(), rowRead, &context, tooLarge))
        fail(Kind, tooLarge           ? PictureReaderMessages::TooLarge
                   : errors.truncated ? PictureReaderMessages::Truncated
                                      : PictureReaderMessages::NotValid);
    // Cameras store the picture as the sensor saw it and record how to turn it upright.
    orientPicture(context.picture, jpegExifOrientation(data, size));
    picture.Assign(context.picture);
}

} // namespace kelvara::input_detail
