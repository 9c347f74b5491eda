// The Targa reader: colour-mapped, true-colour and grey pictures, raw or run-length encoded.
#include "input/ByteReader.h"

#include <algorithm>
#include <vector>

namespace kelvara::input_detail {

namespace {

constexpr const char* Kind = "Targa";

// A 5-5-5 colour stretched to 8 bits per channel.
Color color555(uint16_t v) {
    auto expand = [](int c) { return (c * 255 + 15) / 31; };
    return rgbColor(expand((v >> 10) & 31), expand((v >> 5) & 31), expand(v & 31));
}

// One stored pixel or colour-map entry of the given depth.
Color colorOf(const uint8_t* p, int depth) {
    switch (depth) {
    case 15:
    case 16:
        return color555(static_cast<uint16_t>(p[0] | (p[1] << 8)));
    case 24:
    case 32:
        return rgbColor(p[2], p[1], p[0]);
    default:
        return ColorBlack;
    }
}

} // namespace

void decodeTarga(const uint8_t* data, size_t size, Bitmap& picture) {
    ByteReader in(data, size, Kind);
    // The 18-byte header.
    const int idLength = in.u8();
    const int colorMapType = in.u8();
    const int imageType = in.u8();
    const int mapFirst = in.le16();
    const int mapLength = in.le16();
    const int mapDepth = in.u8();
    in.skip(4); // x and y origin
    const int width = in.le16();
    const int height = in.le16();
    const int depth = in.u8();
    const int descriptor = in.u8();
    if (colorMapType > 1)
        in.invalid();
    const bool rle = imageType >= 9;
    const int baseType = rle ? imageType - 8 : imageType;
    if (baseType < 1 || baseType > 3)
        in.unsupported();
    checkPictureSize(Kind, width, height);
    bool depthOk = false;
    switch (baseType) {
    case 1:
        depthOk = depth == 8 && colorMapType == 1;
        break;
    case 2:
        depthOk = depth == 15 || depth == 16 || depth == 24 || depth == 32;
        break;
    case 3:
        // 1 bit: rows of packed bits, as our writer stores black and white (never compressed).
        depthOk = depth == 8 || depth == 16 || (depth == 1 && !rle);
        break;
    }
    if (!depthOk)
        in.unsupported();

    in.skip(uint64_t(idLength));
    // Colour map: entries mapFirst .. mapFirst + mapLength - 1.
    std::vector<Color> map;
    if (colorMapType == 1) {
        if (mapDepth != 15 && mapDepth != 16 && mapDepth != 24 && mapDepth != 32)
            in.unsupported();
        const int entryBytes = (mapDepth + 7) / 8;
        const uint8_t* p = in.take(uint64_t(mapLength) * entryBytes);
        if (baseType == 1) {
            map.assign(size_t(mapFirst) + mapLength, ColorBlack);
            for (int i = 0; i < mapLength; ++i)
                map[size_t(mapFirst + i)] = colorOf(p + size_t(i) * entryBytes, mapDepth);
        }
    }

    // The pixels as stored, one after another; run-length packets may run on into the next row.
    const int pixelBytes = (depth + 7) / 8;
    const uint64_t pixelCount = uint64_t(width) * height;
    const size_t bitRowBytes = (size_t(width) + 7) / 8;
    const uint64_t storedBytes = depth == 1 ? uint64_t(bitRowBytes) * height : pixelCount * pixelBytes;
    if ((!rle && storedBytes > in.remaining()) || (rle && pixelCount > uint64_t(in.remaining()) * 128))
        in.truncated();
    std::vector<uint8_t> pixels(pixelCount * pixelBytes);
    if (depth == 1) {
        // Each row packed most significant bit first, bit 1 white: one grey byte per pixel here.
        for (int y = 0; y < height; ++y) {
            const uint8_t* bits = in.take(bitRowBytes);
            for (int x = 0; x < width; ++x)
                pixels[size_t(y) * width + x] = (bits[x >> 3] >> (7 - (x & 7))) & 1 ? 255 : 0;
        }
    } else if (!rle) {
        std::memcpy(pixels.data(), in.take(pixels.size()), pixels.size());
    } else {
        uint64_t done = 0;
        while (done < pixelCount) {
            const uint8_t header = in.u8();
            const uint64_t count = std::min<uint64_t>((header & 0x7F) + 1, pixelCount - done);
            if (header & 0x80) {
                const uint8_t* value = in.take(uint64_t(pixelBytes));
                for (uint64_t k = 0; k < count; ++k)
                    std::memcpy(pixels.data() + (done + k) * pixelBytes, value, size_t(pixelBytes));
            } else {
                std::memcpy(pixels.data() + done * pixelBytes, in.take(count * pixelBytes),
                            count * pixelBytes);
            }
            done += count;
        }
    }

    // Rows run bottom-up unless bit 5 of the descriptor is set; bit 4 mirrors them.
    const bool topDown = descriptor & 0x20;
    const bool rightToLeft = descriptor & 0x10;
    Bitmap decoded;
    makePicture24(decoded, width, height);
    for (int stored = 0; stored < height; ++stored) {
        uint8_t* row = decoded.ScanLine(topDown ? stored : height - 1 - stored);
        const uint8_t* p = pixels.data() + size_t(stored) * width * pixelBytes;
        for (int k = 0; k < width; ++k, p += pixelBytes) {
            const int x = rightToLeft ? width - 1 - k : k;
            Color c;
            if (baseType == 1)
                c = p[0] < map.size() ? map[p[0]] : ColorBlack;
            else if (baseType == 3)
                c = rgbColor(p[0], p[0], p[0]);
            else
                c = colorOf(p, depth);
            putRgb(row, x, redOf(c), greenOf(c), blueOf(c));
        }
    }
    picture.Assign(decoded);
}

} // namespace kelvara::input_detail
