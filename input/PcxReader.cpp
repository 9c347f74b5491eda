// The PCX reader: 1, 2, 4 and 8 bits per plane, one to four planes, run-length encoded or not.
#include "input/ByteReader.h"

#include <algorithm>
#include <vector>

namespace kelvara::input_detail {

namespace {

constexpr const char* Kind = "PCX";

} // namespace

void decodePcx(const uint8_t* data, size_t size, Bitmap& picture) {
    ByteReader in(data, size, Kind);
    // The 128-byte header.
    const uint8_t manufacturer = in.u8();
    in.u8(); // version
    const uint8_t encoding = in.u8();
    const int bitsPerPixel = in.u8();
    const int xMin = in.le16(), yMin = in.le16(), xMax = in.le16(), yMax = in.le16();
    in.skip(4); // resolution
    const uint8_t* headerPalette = in.take(48);
    in.u8(); // reserved
    const int planes = in.u8();
    const int bytesPerLine = in.le16();
    in.seek(128);
    if (manufacturer != 10 || encoding > 1 || xMax < xMin || yMax < yMin)
        in.invalid();
    const int width = xMax - xMin + 1, height = yMax - yMin + 1;
    checkPictureSize(Kind, width, height);
    const bool supported =
        (bitsPerPixel == 1 && (planes == 1 || planes == 2 || planes == 3 || planes == 4)) ||
        (bitsPerPixel == 2 && planes == 1) || (bitsPerPixel == 4 && planes == 1) ||
        (bitsPerPixel == 8 && (planes == 1 || planes == 3 || planes == 4));
    if (!supported)
        in.unsupported();
    if (int64_t(bytesPerLine) * 8 < int64_t(width) * bitsPerPixel)
        in.invalid();

    // Expand the run-length coded lines: each scan line holds every plane's bytes in turn, and a
    // run may carry over into the next line.
    const size_t lineBytes = size_t(bytesPerLine) * planes;
    // A run of two bytes gives at most 63: data that cannot fill the picture is refused before
    // anything is made.
    const uint64_t needed = uint64_t(lineBytes) * uint64_t(height);
    if ((encoding == 0 && needed > in.remaining()) || needed > uint64_t(in.remaining()) * 32)
        in.truncated();
    std::vector<uint8_t> lines(lineBytes * size_t(height));
    if (encoding == 0) {
        const uint8_t* p = in.take(lines.size());
        std::memcpy(lines.data(), p, lines.size());
    } else {
        size_t out = 0;
        while (out < lines.size()) {
            uint8_t b = in.u8();
            size_t count = 1;
            if ((b & 0xC0) == 0xC0) {
                count = b & 0x3F;
                b = in.u8();
            }
            count = std::min(count, lines.size() - out);
            std::memset(lines.data() + out, b, count);
            out += count;
        }
    }

    // Colours: the 16-entry header palette, or for 8 bits in one plane the 256-entry palette
    // that follows a 12 byte after the pixels, at the end of the file.
    std::vector<Color> palette(256, ColorBlack);
    for (int i = 0; i < 16; ++i)
        palette[size_t(i)] =
            rgbColor(headerPalette[3 * i], headerPalette[3 * i + 1], headerPalette[3 * i + 2]);
    if (bitsPerPixel == 8 && planes == 1) {
        // Without it the colours are unknown: a file cut anywhere in its last 769 bytes.
        if (size < in.position() + 769 || data[size - 769] != 12)
            in.truncated();
        const uint8_t* p = data + size - 768;
        for (int i = 0; i < 256; ++i)
            palette[size_t(i)] = rgbColor(p[3 * i], p[3 * i + 1], p[3 * i + 2]);
    } else if (bitsPerPixel == 1 && planes == 1) {
        bool blank = true;
        for (int i = 0; i < 6; ++i)
            blank = blank && headerPalette[i] == 0;
        if (blank) {
            palette[0] = ColorBlack;
            palette[1] = ColorWhite;
        }
    }

    Bitmap decoded;
    makePicture24(decoded, width, height);
    for (int y = 0; y < height; ++y) {
        const uint8_t* line = lines.data() + lineBytes * size_t(y);
        uint8_t* row = decoded.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            if (bitsPerPixel == 8 && planes >= 3) {
                putRgb(row, x, line[x], line[bytesPerLine + x], line[2 * bytesPerLine + x]);
                continue;
            }
            int index = 0;
            if (bitsPerPixel == 8) {
                index = line[x];
            } else if (bitsPerPixel == 1) {
                for (int plane = 0; plane < planes; ++plane)
                    index |= ((line[plane * bytesPerLine + x / 8] >> (7 - x % 8)) & 1) << plane;
            } else {
                const int perByte = 8 / bitsPerPixel;
                const int shift = 8 - bitsPerPixel * (x % perByte + 1);
                index = (line[x / perByte] >> shift) & ((1 << bitsPerPixel) - 1);
            }
            const Color c = palette[size_t(index)];
            putRgb(row, x, redOf(c), greenOf(c), blueOf(c));
        }
    }
    picture.Assign(decoded);
}

} // namespace kelvara::input_detail
