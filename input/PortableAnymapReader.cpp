// The portable bitmap, greymap and pixmap reader: P1 to P6, plain and raw, up to 16 bits.
#include "input/ByteReader.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace kelvara::input_detail {

namespace {

constexpr const char* Kind = "Portable pixmap";

bool isSpace(uint8_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Skips white space and comments (from # to the end of the line).
void skipSpace(ByteReader& in) {
    while (in.remaining()) {
        const uint8_t c = in.data()[in.position()];
        if (c == '#') {
            while (in.remaining() && in.data()[in.position()] != '\n' && in.data()[in.position()] != '\r')
                in.skip(1);
        } else if (isSpace(c)) {
            in.skip(1);
        } else {
            return;
        }
    }
}

// A decimal number after optional white space.
uint32_t readNumber(ByteReader& in) {
    skipSpace(in);
    if (!in.remaining())
        in.truncated();
    if (!std::isdigit(in.data()[in.position()]))
        in.invalid();
    uint64_t value = 0;
    while (in.remaining() && std::isdigit(in.data()[in.position()])) {
        value = value * 10 + (in.u8() - '0');
        if (value > 0xFFFFFFFFu)
            in.invalid();
    }
    return static_cast<uint32_t>(value);
}

} // namespace

void decodePortableAnymap(const uint8_t* data, size_t size, Bitmap& picture) {
    ByteReader in(data, size, Kind);
    if (in.u8() != 'P')
        in.invalid();
    const int format = in.u8() - '0';
    if (format < 1 || format > 6)
        in.invalid();
    const uint32_t width = readNumber(in), height = readNumber(in);
    checkPictureSize(Kind, width, height);
    const bool bitmap = format == 1 || format == 4;
    const uint32_t maxValue = bitmap ? 1 : readNumber(in);
    if (maxValue == 0 || maxValue > 65535)
        in.invalid();
    const int channels = (format == 3 || format == 6) ? 3 : 1;
    const bool raw = format >= 4;
    const uint64_t samples = uint64_t(width) * height * channels;
    if (raw) {
        // Exactly one white-space character ends the header.
        if (!isSpace(in.u8()))
            in.invalid();
        const uint64_t bytes =
            format == 4 ? uint64_t((width + 7) / 8) * height : samples * (maxValue > 255 ? 2 : 1);
        if (bytes > in.remaining())
            in.truncated();
    } else if (samples > in.remaining()) {
        in.truncated(); // every plain sample takes at least one character
    }

    auto scale = [maxValue](uint32_t v) {
        if (v > maxValue)
            v = maxValue;
        return static_cast<int>((uint64_t(v) * 255 + maxValue / 2) / maxValue);
    };
    auto sample = [&]() -> uint32_t {
        if (format == 1) {
            skipSpace(in);
            const uint8_t c = in.u8();
            if (c != '0' && c != '1')
                in.invalid();
            return c == '1' ? 0 : 1; // 1 is black
        }
        if (!raw)
            return readNumber(in);
        return maxValue > 255 ? in.be16() : in.u8();
    };

    Bitmap decoded;
    makePicture24(decoded, int(width), int(height));
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = decoded.ScanLine(int(y));
        if (format == 4) {
            const uint8_t* bits = in.take((width + 7) / 8);
            for (uint32_t x = 0; x < width; ++x) {
                const int v = ((bits[x / 8] >> (7 - x % 8)) & 1) ? 0 : 255;
                putRgb(row, int(x), v, v, v);
            }
            continue;
        }
        for (uint32_t x = 0; x < width; ++x) {
            if (channels == 3) {
                const int r = scale(sample());
                const int g = scale(sample());
                const int b = scale(sample());
                putRgb(row, int(x), r, g, b);
            } else {
                const int v = format == 1 ? sample() * 255 : scale(sample());
                putRgb(row, int(x), v, v, v);
            }
        }
    }
    picture.Assign(decoded);
}

} // namespace kelvara::input_detail
