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

// The library's read and info structures, destroyed on every way out.
struct PngReading {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngReading() {
        if (png)
            png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
};

// Reads up to the pixels and sets the decoding to 8-bit RGBA rows. Holds no C++ objects, since
// an error jumps back into it.
Outcome readInfo(PngReading& reading, Source& source, uint32_t& width, uint32_t& height, int& passes) {
    reading.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, errorJump, quietWarning);
    if (!reading.png)
        return Outcome::NotValid;
    reading.info = png_create_info_struct(reading.png);
    if (!reading.info)
        return Outcome::NotValid;
    png_structp png = reading.png;
    png_infop info = reading.info;
    if (setjmp(png_jmpbuf(png)))
        return Outcome::NotValid;
    png_set_read_fn(png, &source, readData);
    png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
    png_read_info(png, info);
    width = png_get_image_width(png, info);
    height = png_get_image_height(png, info);
    if (width == 0 || height == 0 || width > MaxPictureSide || height > MaxPictureSide ||
        int64_t(width) * height > MaxPictureArea)
        return Outcome::TooLarge;
    // The rows as stored, each with its filter byte, must come out of the file's deflated data.
    if ((uint64_t(png_get_rowbytes(png, info)) + 1) * height > uint64_t(source.size) * MaxDeflateInflation)
        return Outcome::NoData;
    // Everything to 8-bit RGBA: palettes and grey expanded, transparency to alpha, 16 bits cut.
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(width) * 4)
        return Outcome::NotValid;
    return Outcome::Ok;
}

// Decodes the rows into rows (every row of an interlaced picture, whose passes fill them bit by
// bit; else one row at a time) and hands each finished row to rowDone. Holds no C++ objects.
Outcome readRows(PngReading& reading, uint8_t* rows, uint32_t height, int passes,
                 void (*rowDone)(void*, uint32_t), void* context) {
    png_structp png = reading.png;
    if (setjmp(png_jmpbuf(png)))
        return Outcome::NotValid;
    const size_t rowBytes = png_get_rowbytes(png, reading.info);
    if (passes > 1) {
        for (int pass = 0; pass < passes; ++pass)
            for (uint32_t y = 0; y < height; ++y)
                png_read_row(png, rows + rowBytes * y, nullptr);
        for (uint32_t y = 0; y < height; ++y)
            rowDone(context, y);
    } else {
        for (uint32_t y = 0; y < height; ++y) {
            png_read_row(png, rows, nullptr);
            rowDone(context, y);
        }
    }
    png_read_end(png, nullptr);
    return Outcome::Ok;
}

} // namespace

void decodePng(const uint8_t* data, size_t size, Bitmap& picture) {
    if (size < 8 || png_sig_cmp(const_cast<png_bytep>(data), 0, 8) != 0)
        fail(Kind, PictureReaderMessages::NotValid);
    Source source{data, size, 0};
    PngReading reading;
    uint32_t width = 0, height = 0;
    int passes = 1;
    Outcome outcome = readInfo(reading, source, width, height, passes);
    if (outcome == Outcome::Ok) {
        // The picture, filled row by row; only an interlaced picture needs all its rows at once.
        struct Context {
            Bitmap picture;
            std::vector<uint8_t> rows;
            uint32_t width;
            bool interlaced;
        } context{{}, {}, width, passes > 1};
        makePicture24(context.picture, int(width), int(height));
        context.rows.resize(size_t(width) * 4 * (passes > 1 ? height : 1));
        auto rowDone = [](void* c, uint32_t y) {
            auto* ctx = static_cast<Context*>(c);
            const uint8_t* p = ctx->rows.data() + (ctx->interlaced ? size_t(y) * ctx->width * 4 : 0);
            uint8_t* row = ctx->picture.ScanLine(int(y));
            for (uint32_t x = 0; x < ctx->width; ++x, p += 4)
                putRgb(row, int(x), overWhite(p[0], p[3]), overWhite(p[1], p[3]), overWhite(p[2], p[3]));
        };
        outcome = readRows(reading, context.rows.data(), height, passes, rowDone, &context);
        if (outcome == Outcome::Ok) {
            picture.Assign(context.picture);
            return;
        }
    }
    if (outcome == Outcome::TooLarge) {
        if (width == 0 || height == 0)
            fail(Kind, PictureReaderMessages::NotValid);
        throw PictureReadError(PictureReaderMessages::tooLarge(Kind, width, height));
    }
    if (outcome == Outcome::NoData)
        fail(Kind, PictureReaderMessages::Truncated);
    fail(Kind,
         source.position >= source.size ? PictureReaderMessages::Truncated : PictureReaderMessages::NotValid);
}

} // namespace kelvara::input_detail
