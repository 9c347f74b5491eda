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
// otherwise fill the rest with grey and call the picture read.
void outputMessage(j_common_ptr) {}
void emitMessage(j_common_ptr cinfo, int level) {
    auto* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (level < 0 && errors->base.msg_code == JWRN_JPEG_EOF) {
        errors->truncated = true;
        std::longjmp(errors->jump, 1);
    }
}

// Decodes into rows of the given pixels; returns false when libjpeg gave up. Kept free of C++
// objects with destructors, since a jump may leave it at any point.
bool decompress(const uint8_t* data, size_t size, jpeg_decompress_struct& cinfo, ErrorManager& errors,
                uint8_t* (*rowFor)(void*, int), void* context, bool& tooLarge, int& components) {
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
    components = cinfo.output_components;
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = rowFor(context, int(cinfo.output_scanline));
        jpeg_read_scanlines(&cinfo, &row, 1);
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

    // The pixels, every row into a scratch row of up to four channels.
    Bitmap decoded;
    makePicture24(decoded, width, height);
    std::vector<uint8_t> rows(size_t(width) * 4 * size_t(height));
    struct Context {
        std::vector<uint8_t>* rows;
        size_t stride;
    } context{&rows, size_t(width) * 4};
    auto rowFor = [](void* c, int y) -> uint8_t* {
        auto* ctx = static_cast<Context*>(c);
        return ctx->rows->data() + ctx->stride * size_t(y);
    };
    bool tooLarge = false;
    int components = 0;
    if (!decompress(data, size, cinfo, errors, rowFor, &context, tooLarge, components))
        fail(Kind, tooLarge           ? PictureReaderMessages::TooLarge
                   : errors.truncated ? PictureReaderMessages::Truncated
                                      : PictureReaderMessages::NotValid);
    // Adobe writes CMYK inverted; the colour is each ink times the black ink, over 255.
    for (int y = 0; y < height; ++y) {
        const uint8_t* src = rows.data() + context.stride * size_t(y);
        uint8_t* row = decoded.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = src + size_t(x) * components;
            if (components == 4) {
                const int k = p[3];
                putRgb(row, x, (p[0] * k + 127) / 255, (p[1] * k + 127) / 255, (p[2] * k + 127) / 255);
            } else {
                putRgb(row, x, p[0], p[1], p[2]);
            }
        }
    }
    picture.Assign(decoded);
}

} // namespace kelvara::input_detail
