// Pictures turned upright by the orientation their file records: a JPEG's Exif orientation, a
// TIFF's Orientation tag (TIFF 6.0, section 8; Exif 2.3, section 4.6.4).
#include "input/ByteReader.h"

#include <cstring>

namespace kelvara::input_detail {

namespace {

constexpr uint16_t OrientationTag = 0x0112;
constexpr uint16_t ShortType = 3;

// The Orientation entry of the first directory of a TIFF structure (the body of an Exif segment),
// or 1 when there is none or it is damaged.
int tiffStructureOrientation(const uint8_t* data, size_t size) {
    if (size < 8)
        return 1;
    const bool little = data[0] == 'I' && data[1] == 'I';
    if (!little && !(data[0] == 'M' && data[1] == 'M'))
        return 1;
    auto u16 = [&](size_t at) {
        return little ? uint16_t(data[at] | (data[at + 1] << 8)) : uint16_t((data[at] << 8) | data[at + 1]);
    };
    auto u32 = [&](size_t at) {
        return little ? uint32_t(u16(at)) | (uint32_t(u16(at + 2)) << 16)
                      : (uint32_t(u16(at)) << 16) | uint32_t(u16(at + 2));
    };
    if (u16(2) != 42)
        return 1;
    const uint32_t directory = u32(4);
    if (directory < 8 || uint64_t(directory) + 2 > size)
        return 1;
    const uint16_t entries = u16(directory);
    for (uint32_t i = 0; i < entries; ++i) {
        const uint64_t entry = uint64_t(directory) + 2 + uint64_t(i) * 12;
        if (entry + 12 > size)
            break;
        if (u16(size_t(entry)) == OrientationTag) {
            if (u16(size_t(entry) + 2) != ShortType || u32(size_t(entry) + 4) < 1)
                return 1;
            const int value = u16(size_t(entry) + 8);
            return value >= 1 && value <= 8 ? value : 1;
        }
    }
    return 1;
}

} // namespace

int jpegExifOrientation(const uint8_t* data, size_t size) {
    // The segments before the first scan: marker, 16-bit big-endian length counting itself, body.
    size_t pos = 2;
    while (pos + 4 <= size && data[pos] == 0xFF) {
        const uint8_t marker = data[pos + 1];
        if (marker == 0xFF) { // fill byte
            ++pos;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) // start of scan, end of image
            break;
        const size_t length = size_t(data[pos + 2] << 8) | data[pos + 3];
        if (length < 2 || pos + 2 + length > size)
            break;
        if (marker == 0xE1 && length >= 2 + 6 + 8 && std::memcmp(data + pos + 4, "Exif\0\0", 6) == 0)
            return tiffStructureOrientation(data + pos + 10, length - 8);
        pos += 2 + length;
    }
    return 1;
}

void orientPicture(Bitmap& picture, int orientation) {
    if (orientation < 2 || orientation > 8 || picture.Empty())
        return;
    const int w = picture.Width(), h = picture.Height();
    const bool turns = orientation >= 5; // rows become columns
    Bitmap turned;
    makePicture24(turned, turns ? h : w, turns ? w : h);
    const int outWidth = turned.Width(), outHeight = turned.Height();
    for (int y = 0; y < outHeight; ++y) {
        uint8_t* out = turned.ScanLine(y);
        for (int x = 0; x < outWidth; ++x) {
            // The stored pixel shown at (x, y).
            int sx = x, sy = y;
            switch (orientation) {
            case 2: // mirrored left to right
                sx = w - 1 - x;
                break;
            case 3: // turned half round
                sx = w - 1 - x, sy = h - 1 - y;
                break;
            case 4: // upside down
                sy = h - 1 - y;
                break;
            case 5: // transposed: stored rows are the columns, left to right
                sx = y, sy = x;
                break;
            case 6: // stored a quarter turn anticlockwise: turn it clockwise
                sx = y, sy = h - 1 - x;
                break;
            case 7: // transverse
                sx = w - 1 - y, sy = h - 1 - x;
                break;
            default: // 8: stored a quarter turn clockwise: turn it anticlockwise
                sx = w - 1 - y, sy = x;
                break;
            }
            const uint8_t* in = picture.ScanLine(sy) + 3 * sx;
            out[3 * x] = in[0];
            out[3 * x + 1] = in[1];
            out[3 * x + 2] = in[2];
        }
    }
    picture.Assign(turned);
}

} // namespace kelvara::input_detail
