// Bounds-checked reading of a picture file held in memory, and the helpers its decoders share.
#pragma once

#include "input/PictureReader.h"
#include "raster/Bitmap.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kelvara::input_detail {

// A cursor over a byte range. Every read checks that the bytes are there and throws the
// reader's "truncated" error otherwise; nothing is ever read past the end.
class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size, const char* kind)
        : m_data(data), m_size(size), m_kind(kind) {}

    size_t size() const { return m_size; }
    size_t position() const { return m_position; }
    size_t remaining() const { return m_size - m_position; }
    const uint8_t* data() const { return m_data; }
    const char* kind() const { return m_kind; }

    void seek(uint64_t position) {
        if (position > m_size)
            truncated();
        m_position = static_cast<size_t>(position);
    }
    void skip(uint64_t count) {
        if (count > remaining())
            truncated();
        m_position += static_cast<size_t>(count);
    }
    // A pointer to the next count bytes, which are then consumed.
    const uint8_t* take(uint64_t count) {
        if (count > remaining())
            truncated();
        const uint8_t* p = m_data + m_position;
        m_position += static_cast<size_t>(count);
        return p;
    }
    uint8_t u8() { return *take(1); }
    uint16_t le16() {
        const uint8_t* p = take(2);
        return static_cast<uint16_t>(p[0] | (p[1] << 8));
    }
    uint32_t le32() {
        const uint8_t* p = take(4);
        return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
    }
    uint16_t be16() {
        const uint8_t* p = take(2);
        return static_cast<uint16_t>((p[0] << 8) | p[1]);
    }
    uint32_t be32() {
        const uint8_t* p = take(4);
        return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
    }

    [[noreturn]] void truncated() const {
        throw PictureReadError(PictureReaderMessages::message(m_kind, PictureReaderMessages::Truncated));
    }
    [[noreturn]] void invalid() const {
        throw PictureReadError(PictureReaderMessages::message(m_kind, PictureReaderMessages::NotValid));
    }
    [[noreturn]] void unsupported() const {
        throw PictureReadError(PictureReaderMessages::message(m_kind, PictureReaderMessages::Unsupported));
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_position = 0;
    const char* m_kind;
};

[[noreturn]] inline void fail(const char* kind, const char* reason) {
    throw PictureReadError(PictureReaderMessages::message(kind, reason));
}

// Refuses sizes of zero or past the picture size limit before anything is allocated.
inline void checkPictureSize(const char* kind, int64_t width, int64_t height) {
    if (width <= 0 || height <= 0)
        fail(kind, PictureReaderMessages::NotValid);
    if (width > MaxPictureSide || height > MaxPictureSide || width * height > MaxPictureArea)
        throw PictureReadError(PictureReaderMessages::tooLarge(kind, width, height));
}

// The best the codecs behind several readers can do. Deflate makes at most 1032 bytes of a byte
// (258-byte matches in two bits). A JPEG spends at least one bit on each 8 x 8 block of a
// component it codes, and a component may be subsampled four times in each direction: at most
// 64 x 16 pixels for every bit.
inline constexpr uint64_t MaxDeflateInflation = 1032;
inline constexpr uint64_t MaxJpegPixelsPerByte = 8 * 64 * 16;

// Refuses a picture that the data present could not fill even at the format's best compression
// (at most pixelsPerByte pixels for every byte), before anything is allocated for it.
inline void checkDataCanFill(const char* kind, int64_t width, int64_t height, uint64_t dataBytes,
                             uint64_t pixelsPerByte) {
    if (uint64_t(width) * uint64_t(height) > dataBytes * pixelsPerByte)
        fail(kind, PictureReaderMessages::Truncated);
}

// Makes picture a 24-bit bitmap of the size, filled with white.
inline void makePicture24(Bitmap& picture, int width, int height) {
    picture.SetPixelFormat(PixelFormat::Bits24);
    picture.SetSize(0, 0);
    picture.SetSize(width, height);
    if (picture.canvasUsed() && picture.Canvas().Brush.Color != ColorWhite) {
        for (int y = 0; y < height; ++y)
            std::memset(picture.ScanLine(y), 0xFF, size_t(width) * 3);
    }
}

// Writes an RGB colour to pixel x of a 24-bit row.
inline void putRgb(uint8_t* row, int x, int red, int green, int blue) {
    row[3 * x] = static_cast<uint8_t>(blue);
    row[3 * x + 1] = static_cast<uint8_t>(green);
    row[3 * x + 2] = static_cast<uint8_t>(red);
}

// A colour over white by its alpha (0 transparent, 255 opaque), rounded to nearest.
inline int overWhite(int value, int alpha) {
    return (value * alpha + 255 * (255 - alpha) + 127) / 255;
}

// The orientation (1 to 8, TIFF's and Exif's numbering) in a JPEG's Exif segment; 1 when there is
// none.
int jpegExifOrientation(const uint8_t* data, size_t size);
// Turns a 24-bit picture stored in the given orientation upright: 2 mirrored, 3 half a turn,
// 4 upside down, 5 transposed, 6 a quarter turn clockwise, 7 transverse, 8 a quarter turn
// anticlockwise. 1 and unknown values leave it as it is.
void orientPicture(Bitmap& picture, int orientation);

// Each reader decodes into a fresh bitmap, so a failure leaves the caller's picture untouched.
void decodeGif(const uint8_t* data, size_t size, Bitmap& picture);
void decodePcx(const uint8_t* data, size_t size, Bitmap& picture);
void decodeTarga(const uint8_t* data, size_t size, Bitmap& picture);
void decodeIcon(const uint8_t* data, size_t size, Bitmap& picture, bool cursor);
void decodePortableAnymap(const uint8_t* data, size_t size, Bitmap& picture);
void decodeTiff(const uint8_t* data, size_t size, Bitmap& picture);
void decodeJpeg(const uint8_t* data, size_t size, Bitmap& picture);
void decodePng(const uint8_t* data, size_t size, Bitmap& picture);
void decodeJpeg2000(const uint8_t* data, size_t size, Bitmap& picture, bool codeStream);

} // namespace kelvara::input_detail
