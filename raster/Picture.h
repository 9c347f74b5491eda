// The shared pixel store behind a Bitmap, pixel access in every format and the stretch engine
// (private to the raster surface).
#pragma once

#include "raster/Bitmap.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace kelvara {

struct Bitmap::Picture {
    int width = 0;
    int height = 0;
    kelvara::PixelFormat format = kelvara::PixelFormat::Bits24;
    size_t stride = 0;
    std::vector<uint8_t> bits; // rows top-down, each padded to a multiple of 4 bytes
    std::vector<PaletteEntry> palette;
    ColorMasks masks;
    // The alpha plane: width x height bytes, rows top-down, 0 transparent to 255 opaque. Empty for
    // an opaque picture, which is every picture but those of a source with an alpha channel.
    std::vector<uint8_t> alpha;

    static size_t strideFor(int width, int bits) {
        return ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
    }
};

namespace raster_detail {
// The masks a 16- or 32-bit picture has when it carries none of its own.
ColorMasks defaultMasks(PixelFormat format);
// Expands a masked channel to 8 bits by repeating its top bits.
int expandChannel(uint32_t value, uint32_t mask);
// Checks a size against Bitmap::MaxPixels; throws RasterError when it is too large.
void checkPictureSize(int64_t width, int64_t height);

// Reads one pixel of any format as 0x00RRGGBB.
inline Color readPixel(const Bitmap::Picture& p, int x, int y) {
    const uint8_t* row = p.bits.data() + static_cast<size_t>(y) * p.stride;
    auto paletteColor = [&](unsigned index) -> Color {
        return index < p.palette.size() ? p.palette[index].color() : ColorBlack;
    };
    switch (p.format) {
    case PixelFormat::Bits1:
        return paletteColor((row[x >> 3] >> (7 - (x & 7))) & 1);
    case PixelFormat::Bits4:
        return paletteColor((x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4));
    case PixelFormat::Bits8:
        return paletteColor(row[x]);
    case PixelFormat::Bits16: {
        uint32_t v = row[2 * x] | (row[2 * x + 1] << 8);
        return rgbColor(expandChannel(v, p.masks.red), expandChannel(v, p.masks.green),
                        expandChannel(v, p.masks.blue));
    }
    case PixelFormat::Bits24:
        return rgbColor(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
    case PixelFormat::Bits32: {
        const uint8_t* q = row + 4 * x;
        uint32_t v = q[0] | (q[1] << 8) | (q[2] << 16) | (uint32_t(q[3]) << 24);
        return rgbColor(expandChannel(v, p.masks.red), expandChannel(v, p.masks.green),
                        expandChannel(v, p.masks.blue));
    }
    }
    return ColorBlack;
}

inline uint32_t packChannel(int value, uint32_t mask) {
    if (mask == 0)
        return 0;
    int shift = __builtin_ctz(mask);
    int width = __builtin_popcount(mask >> shift);
    uint32_t v = width >= 8 ? (uint32_t(value) << (width - 8)) : (uint32_t(value) >> (8 - width));
    return (v << shift) & mask;
}

// Finds the palette entry nearest to a colour (squared distance, lowest index on ties).
class NearestIndex {
public:
    explicit NearestIndex(const std::vector<PaletteEntry>& palette) : m_palette(palette) {}
    int operator()(Color c) {
        if (m_valid && c == m_lastColor)
            return m_lastIndex;
        int best = 0;
        long bestDistance = std::numeric_limits<long>::max();
        for (size_t i = 0; i < m_palette.size(); ++i) {
            long dr = m_palette[i].red - redOf(c), dg = m_palette[i].green - greenOf(c),
                 db = m_palette[i].blue - blueOf(c);
            long d = dr * dr + dg * dg + db * db;
            if (d < bestDistance) {
                bestDistance = d;
                best = static_cast<int>(i);
            }
        }
        m_valid = true;
        m_lastColor = c;
        m_lastIndex = best;
        return best;
    }

private:
    const std::vector<PaletteEntry>& m_palette;
    bool m_valid = false;
    Color m_lastColor = 0;
    int m_lastIndex = 0;
};

// Writes one pixel of any format; palette formats take the nearest entry.
inline void writePixel(Bitmap::Picture& p, int x, int y, Color c, NearestIndex& nearest) {
    uint8_t* row = p.bits.data() + static_cast<size_t>(y) * p.stride;
    switch (p.format) {
    case PixelFormat::Bits1: {
        int bit = 7 - (x & 7);
        row[x >> 3] = static_cast<uint8_t>((row[x >> 3] & ~(1 << bit)) | ((nearest(c) & 1) << bit));
        break;
    }
    case PixelFormat::Bits4: {
        int index = nearest(c) & 0x0F;
        uint8_t& b = row[x >> 1];
        b = (x & 1) ? static_cast<uint8_t>((b & 0xF0) | index)
                    : static_cast<uint8_t>((b & 0x0F) | (index << 4));
        break;
    }
    case PixelFormat::Bits8:
        row[x] = static_cast<uint8_t>(nearest(c));
        break;
    case PixelFormat::Bits16: {
        uint32_t v = packChannel(redOf(c), p.masks.red) | packChannel(greenOf(c), p.masks.green) |
                     packChannel(blueOf(c), p.masks.blue);
        row[2 * x] = static_cast<uint8_t>(v);
        row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
        break;
    }
    case PixelFormat::Bits24:
        row[3 * x] = static_cast<uint8_t>(blueOf(c));
        row[3 * x + 1] = static_cast<uint8_t>(greenOf(c));
        row[3 * x + 2] = static_cast<uint8_t>(redOf(c));
        break;
    case PixelFormat::Bits32: {
        uint32_t v = packChannel(redOf(c), p.masks.red) | packChannel(greenOf(c), p.masks.green) |
                     packChannel(blueOf(c), p.masks.blue);
        std::memcpy(row + 4 * x, &v, 4);
        break;
    }
    }
}

// The copy engine behind every canvas copy: scales (sx, sy, sw, sh) of src onto (dx, dy, dw, dh)
// of dst, reducing by the given mode. Destination pixels whose source falls outside src are left.
// A negative width or height on one side mirrors the picture.
void stretchPixels(Bitmap::Picture& dst, int dx, int dy, int dw, int dh, const Bitmap::Picture& src, int sx,
                   int sy, int sw, int sh, StretchMode mode);

} // namespace raster_detail

} // namespace kelvara
