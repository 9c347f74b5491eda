// The PNG reader on libpng. libpng's errors jump back to this wrapper, which turns them into
// exceptions; nothing is thrown through libpng.
#include "input/ByteReader.h"

#include <png.h>

#include <csetjmp>
#include <vector>

namespace kelvara::input_detail {

namespace {

constexpr const char* Kind = "PNG";

struct Source {
    const uint8_t* data;
    size_t size;
    size_t position;
};

void readData(png_structp png, png_bytep out, png_size_t count) {
    auto* source = static_cast<Source*>(png_get_io_ptr(png));
    if (count > source->size - source->position) {
        png_error(png, "truncated");
        return;
    }
    std::memcpy(out, source->data + source->position, count);
    source->position += count;
}

void quietWarning(png_structp, png_const_charp) {}
void errorJump(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

enum class Outcome { Ok, NotValid, TooLarge, NoData };

// Decodes to 8-bit RGBA rows. The buffers live in the caller: an error jumps back here, past
// no C++ object of this function.
Outcome decodeRgba(Source& source, std::vector<uint8_t>& rgba, std::vector<png_bytep>& rowPointers,
                   uint32_t& width, uint32_t& height) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, errorJump, quietWarning);
    if (!png)
        return Outcome::NotValid;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return Outcome::NotValid;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return Outcome::NotValid;
    }
    png_set_read_fn(png, &source, readData);
    png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
    png_read_info(png, info);
    width = png_get_image_width(png, info);
    height = png_get_image_height(png, info);
    if (width == 0 || height == 0 || width > MaxPictureSide || height > MaxPictureSide ||
        int64_t(width) * height > MaxPictureArea) {
        png_destroy_read_struct(&png, &info, nullptr);
        return Outcome::TooLarge;
    }
    // The rows as stored, each with its filter byte, must come out of the file's deflated data.
    if ((uint64_t(png_get_rowbytes(png, info)) + 1) * height > uint64_t(source.size) * MaxDeflateInflation) {
        png_destroy_read_struct(&png, &info, nullptr);
        return Outcome::NoData;
    }
    // Everything to 8-bit RGBA: palettes and grey expanded, transparency to alpha, 16 bits cut.
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(width) * 4) {
        png_destroy_read_struct(&png, &info, nullptr);
        return Outcome::NotValid;
    }
    rgba.resize(size_t(width) * 4 * height);
    rowPointers.resize(height);
    for (uint32_t y = 0; y < height; ++y)
        rowPointers[y] = rgba.data() + size_t(y) * width * 4;
    png_read_image(png, rowPointers.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return Outcome::Ok;
}

} // namespace

void decodePng(const uint8_t* data, size_t size, Bitmap& picture) {
    if (size < 8 || png_sig_cmp(const_cast<png_bytep>(data), 0, 8) != 0)
        fail(Kind, PictureReaderMessages::NotValid);
    Source source{data, size, 0};
    std::vector<uint8_t> rgba;
    std::vector<png_bytep> rowPointers;
    uint32_t width = 0, height = 0;
    const Outcome outcome = decodeRgba(source, rgba, rowPointers, width, height);
    if (outcome == Outcome::TooLarge) {
        if (width == 0 || height == 0)
            fail(Kind, PictureReaderMessages::NotValid);
        throw PictureReadError(PictureReaderMessages::tooLarge(Kind, width, height));
    }
    if (outcome == Outcome::NoData)
        fail(Kind, PictureReaderMessages::Truncated);
    if (outcome != Outcome::Ok)
        fail(Kind, source.position >= source.size ? PictureReaderMessages::Truncated
                                                  : PictureReaderMessages::NotValid);
    Bitmap decoded;
    makePicture24(decoded, int(width), int(height));
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* p = rgba.data() + size_t(y) * width * 4;
        uint8_t* row = decoded.ScanLine(int(y));
        for (uint32_t x = 0; x < width; ++x, p += 4)
            putRgb(row, int(x), overWhite(p[0], p[3]), overWhite(p[1], p[3]), overWhite(p[2], p[3]));
    }
    picture.Assign(decoded);
}

} // namespace kelvara::input_detail
