// The icon and cursor reader: the largest image of the file, a device-independent bitmap with its
// AND mask or an embedded PNG; transparent pixels come out white.
#include "input/ByteReader.h"

#include <algorithm>
#include <vector>

namespace kelvara::input_detail {

void decodeIcon(const uint8_t* data, size_t size, Bitmap& picture, bool cursor) {
    const char* kind = cursor ? "Cursor" : "Icon";
    ByteReader in(data, size, kind);
    // ICONDIR: reserved 0, type 1 (icon) or 2 (cursor), image count.
    if (in.le16() != 0)
        in.invalid();
    const int type = in.le16();
    if (type != 1 && type != 2)
        in.invalid();
    const int count = in.le16();
    if (count == 0)
        in.invalid();
    // ICONDIRENTRY: width, height (0 means 256), colours, reserved, planes or hot spot x, bit
    // count or hot spot y, size and offset of the image. The largest image is read; the first of
    // equals wins.
    uint32_t bestSize = 0, bestOffset = 0;
    int bestArea = -1;
    for (int i = 0; i < count; ++i) {
        const int w = in.u8(), h = in.u8();
        in.skip(6);
        const uint32_t bytes = in.le32(), offset = in.le32();
        const int area = (w ? w : 256) * (h ? h : 256);
        if (area > bestArea) {
            bestArea = area;
            bestSize = bytes;
            bestOffset = offset;
        }
    }
    if (uint64_t(bestOffset) + bestSize > size)
        in.truncated();
    const uint8_t* image = data + bestOffset;
    static const uint8_t pngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (bestSize >= 8 && std::memcmp(image, pngSignature, 8) == 0) {
        decodePng(image, bestSize, picture);
        return;
    }

    ByteReader dib(image, bestSize, kind);
    // BITMAPINFOHEADER; the height counts the colour bitmap and the mask together.
    const uint32_t headerSize = dib.le32();
    const int32_t width = static_cast<int32_t>(dib.le32());
    const int32_t doubleHeight = static_cast<int32_t>(dib.le32());
    const int planes = dib.le16();
    const int bits = dib.le16();
    const uint32_t compression = dib.le32();
    dib.skip(12); // image size, resolution
    const uint32_t colorsUsed = dib.le32();
    if (headerSize < 40 || planes != 1 || doubleHeight <= 0 || width <= 0)
        dib.invalid();
    if (compression != 0 || (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32))
        dib.unsupported();
    const int height = doubleHeight / 2;
    checkPictureSize(kind, width, height);
    dib.seek(headerSize);
    std::vector<Color> palette(256, ColorBlack);
    if (bits <= 8) {
        const uint32_t entries = colorsUsed ? colorsUsed : (1u << bits);
        if (entries > 256)
            dib.invalid();
        const uint8_t* p = dib.take(uint64_t(entries) * 4);
        for (uint32_t i = 0; i < entries; ++i)
            palette[i] = rgbColor(p[4 * i + 2], p[4 * i + 1], p[4 * i]);
    }
    const size_t colorStride = ((size_t(width) * bits + 31) / 32) * 4;
    const size_t maskStride = ((size_t(width) + 31) / 32) * 4;
    const uint8_t* colors = dib.take(uint64_t(colorStride) * height);
    // A 32-bit image may leave its mask out; the others need it.
    const uint8_t* mask = nullptr;
    if (dib.remaining() >= maskStride * height || bits != 32)
        mask = dib.take(uint64_t(maskStride) * height);

    bool hasAlpha = false;
    if (bits == 32)
        for (int y = 0; y < height && !hasAlpha; ++y)
            for (int x = 0; x < width && !hasAlpha; ++x)
                hasAlpha = colors[size_t(y) * colorStride + 4 * size_t(x) + 3] != 0;

    Bitmap decoded;
    makePicture24(decoded, width, height);
    for (int y = 0; y < height; ++y) {
        // Both bitmaps are stored bottom-up.
        const uint8_t* c = colors + size_t(height - 1 - y) * colorStride;
        const uint8_t* m = mask ? mask + size_t(height - 1 - y) * maskStride : nullptr;
        uint8_t* row = decoded.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            int r, g, b, alpha = 255;
            if (bits == 32 || bits == 24) {
                const uint8_t* p = c + size_t(x) * (bits / 8);
                b = p[0], g = p[1], r = p[2];
                if (hasAlpha)
                    alpha = p[3];
            } else {
                int index;
                if (bits == 8)
                    index = c[x];
                else if (bits == 4)
                    index = (x & 1) ? c[x / 2] & 15 : c[x / 2] >> 4;
                else
                    index = (c[x / 8] >> (7 - x % 8)) & 1;
                const Color col = palette[size_t(index)];
                r = redOf(col), g = greenOf(col), b = blueOf(col);
            }
            if (!hasAlpha && m && ((m[x / 8] >> (7 - x % 8)) & 1))
                alpha = 0;
            putRgb(row, x, overWhite(r, alpha), overWhite(g, alpha), overWhite(b, alpha));
        }
    }
    picture.Assign(decoded);
}

} // namespace kelvara::input_detail
