// The stretch engine behind every canvas copy: source positions per destination pixel and the
// reduction of dropped pixels by the context's stretch mode (dropped, or averaged with the kept
// one).
#include "raster/Picture.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace kelvara::raster_detail {

using Picture = Bitmap::Picture;

namespace {

// Source positions of one axis of a stretched copy: for destination i the kept source index and
// the span of source indices that fold into it when reducing.
struct AxisMap {
    std::vector<int> kept;
    std::vector<int> first;
    std::vector<int> count;
};

AxisMap mapAxis(int destLength, int sourceLength, bool mirror) {
    AxisMap m;
    m.kept.resize(destLength);
    m.first.resize(destLength);
    m.count.resize(destLength);
    for (int i = 0; i < destLength; ++i) {
        int a = static_cast<int>(int64_t(i) * sourceLength / destLength);
        int b = static_cast<int>(int64_t(i + 1) * sourceLength / destLength);
        if (b <= a)
            b = a + 1;
        if (mirror) {
            m.kept[i] = sourceLength - 1 - a;
            m.first[i] = sourceLength - b;
        } else {
            m.kept[i] = a;
            m.first[i] = a;
        }
        m.count[i] = b - a;
    }
    return m;
}

// Division by a block's pixel count without a division per pixel: for sums below 256 x n,
// (sum * multiplier) >> shift equals sum / n exactly.
struct Reciprocal {
    uint64_t multiplier = 1;
    int shift = 0;
    explicit Reciprocal(uint32_t n) {
        int l = 0;
        while ((uint64_t(1) << l) < n)
            ++l;
        shift = 8 + 2 * l;
        multiplier = ((uint64_t(1) << shift) + n - 1) / n;
    }
    uint32_t divide(uint32_t sum) const { return uint32_t((sum * multiplier) >> shift); }
};

// Blocks up to this many pixels take the fast path: their sums fit 32 bits and the reciprocal
// products 64 bits.
constexpr int64_t MaxFastBlock = int64_t(1) << 23;

// The averaging reduction of a 24-bit picture, or a 32-bit one with the usual channel layout,
// onto a 24-bit one, the source rectangle lying wholly inside the source picture: each destination
// pixel is the rounded mean of the block of source pixels it covers, per channel.
void averageReduce(Picture& dst, int dx, int dy, const Picture& src, int sx, int sy, const AxisMap& xs,
                   const AxisMap& ys, int colBegin, int colEnd, int rowBegin, int rowEnd) {
    const int bpp = src.format == PixelFormat::Bits32 ? 4 : 3;
    const int columns = colEnd - colBegin;
    // Source byte offset and width of each destination column's block.
    std::vector<int> offset(columns), span(columns);
    int minSpan = std::numeric_limits<int>::max(), maxSpan = 0;
    for (int j = 0; j < columns; ++j) {
        offset[j] = bpp * (sx + xs.first[colBegin + j]);
        span[j] = xs.count[colBegin + j];
        minSpan = std::min(minSpan, span[j]);
        maxSpan = std::max(maxSpan, span[j]);
    }
    std::vector<uint32_t> sums(size_t(columns) * 3);
    std::vector<Reciprocal> reciprocals;
    int rowsOfReciprocals = -1;
    for (int i = rowBegin; i < rowEnd; ++i) {
        std::fill(sums.begin(), sums.end(), 0u);
        const int rows = ys.count[i];
        for (int v = ys.first[i]; v < ys.first[i] + rows; ++v) {
            const uint8_t* s = src.bits.data() + static_cast<size_t>(sy + v) * src.stride;
            uint32_t* acc = sums.data();
            if (maxSpan == 1) {
                for (int j = 0; j < columns; ++j, acc += 3) {
                    const uint8_t* p = s + offset[j];
                    acc[0] += p[0];
                    acc[1] += p[1];
                    acc[2] += p[2];
                }
                continue;
            }
            for (int j = 0; j < columns; ++j, acc += 3) {
                const uint8_t* p = s + offset[j];
                uint32_t b = 0, g = 0, r = 0;
                for (int u = 0; u < span[j]; ++u, p += bpp) {
                    b += p[0];
                    g += p[1];
                    r += p[2];
                }
                acc[0] += b;
                acc[1] += g;
                acc[2] += r;
            }
        }
        if (rows != rowsOfReciprocals) {
            reciprocals.clear();
            for (int c = minSpan; c <= maxSpan; ++c)
                reciprocals.emplace_back(uint32_t(c) * uint32_t(rows));
            rowsOfReciprocals = rows;
        }
        uint8_t* d = dst.bits.data() + static_cast<size_t>(dy + i) * dst.stride + 3 * (dx + colBegin);
        const uint32_t* acc = sums.data();
        for (int j = 0; j < columns; ++j, acc += 3, d += 3) {
            const uint32_t n = uint32_t(span[j]) * uint32_t(rows);
            const Reciprocal& r = reciprocals[size_t(span[j] - minSpan)];
            d[0] = static_cast<uint8_t>(r.divide(acc[0] + n / 2));
            d[1] = static_cast<uint8_t>(r.divide(acc[1] + n / 2));
            d[2] = static_cast<uint8_t>(r.divide(acc[2] + n / 2));
        }
    }
}

bool averagesFast(const Picture& src) {
    if (src.format == PixelFormat::Bits24)
        return true;
    return src.format == PixelFormat::Bits32 && src.masks.red == 0xFF0000 && src.masks.green == 0xFF00 &&
           src.masks.blue == 0xFF;
}

} // namespace

void stretchPixels(Picture& dst, int dx, int dy, int dw, int dh, const Picture& src, int sx, int sy, int sw,
                   int sh, StretchMode mode) {
    if (dw == 0 || dh == 0 || sw == 0 || sh == 0 || dst.width == 0 || dst.height == 0 || src.width == 0 ||
        src.height == 0)
        return;
    bool mirrorX = (dw < 0) != (sw < 0);
    bool mirrorY = (dh < 0) != (sh < 0);
    if (dw < 0) {
        dx += dw;
        dw = -dw;
    }
    if (dh < 0) {
        dy += dh;
        dh = -dh;
    }
    if (sw < 0) {
        sx += sw;
        sw = -sw;
    }
    if (sh < 0) {
        sy += sh;
        sh = -sh;
    }
    // Only the destination columns and rows inside the picture are visited.
    int colBegin = std::max(0, -dx), colEnd = std::min(dw, dst.width - dx);
    int rowBegin = std::max(0, -dy), rowEnd = std::min(dh, dst.height - dy);
    if (colBegin >= colEnd || rowBegin >= rowEnd)
        return;
    AxisMap xs = mapAxis(dw, sw, mirrorX);
    AxisMap ys = mapAxis(dh, sh, mirrorY);
    bool reduces = sw > dw || sh > dh;
    bool keepOnly = mode == StretchMode::ColorOnColor || !reduces;

    auto inSourceX = [&](int i) { return sx + i >= 0 && sx + i < src.width; };
    auto inSourceY = [&](int i) { return sy + i >= 0 && sy + i < src.height; };

    if (keepOnly && src.format == PixelFormat::Bits24 && dst.format == PixelFormat::Bits24) {
        for (int i = rowBegin; i < rowEnd; ++i) {
            if (!inSourceY(ys.kept[i]))
                continue;
            const uint8_t* s = src.bits.data() + static_cast<size_t>(sy + ys.kept[i]) * src.stride;
            uint8_t* d = dst.bits.data() + static_cast<size_t>(dy + i) * dst.stride;
            if (!mirrorX && sw == dw && sx >= 0 && sx + sw <= src.width) {
                std::memcpy(d + 3 * (dx + colBegin), s + 3 * (sx + colBegin), 3 * size_t(colEnd - colBegin));
                continue;
            }
            for (int j = colBegin; j < colEnd; ++j) {
                if (!inSourceX(xs.kept[j]))
                    continue;
                const uint8_t* sp = s + 3 * (sx + xs.kept[j]);
                uint8_t* dp = d + 3 * (dx + j);
                dp[0] = sp[0];
                dp[1] = sp[1];
                dp[2] = sp[2];
            }
        }
        return;
    }

    if (!keepOnly && dst.format == PixelFormat::Bits24 && averagesFast(src) && sx >= 0 && sy >= 0 &&
        sx + sw <= src.width && sy + sh <= src.height &&
        int64_t(sw / dw + 1) * int64_t(sh / dh + 1) <= MaxFastBlock) {
        averageReduce(dst, dx, dy, src, sx, sy, xs, ys, colBegin, colEnd, rowBegin, rowEnd);
        return;
    }

    NearestIndex nearest(dst.palette);
    for (int i = rowBegin; i < rowEnd; ++i) {
        for (int j = colBegin; j < colEnd; ++j) {
            Color c;
            if (keepOnly) {
                if (!inSourceX(xs.kept[j]) || !inSourceY(ys.kept[i]))
                    continue;
                c = readPixel(src, sx + xs.kept[j], sy + ys.kept[i]);
            } else {
                // Average the whole block of source pixels that maps onto this destination pixel.
                long sumR = 0, sumG = 0, sumB = 0, n = 0;
                for (int v = ys.first[i]; v < ys.first[i] + ys.count[i]; ++v) {
                    if (!inSourceY(v))
                        continue;
                    for (int u = xs.first[j]; u < xs.first[j] + xs.count[j]; ++u) {
                        if (!inSourceX(u))
                            continue;
                        Color p = readPixel(src, sx + u, sy + v);
                        sumR += redOf(p);
                        sumG += greenOf(p);
                        sumB += blueOf(p);
                        ++n;
                    }
                }
                if (n == 0)
                    continue;
                c = rgbColor(int((sumR + n / 2) / n), int((sumG + n / 2) / n), int((sumB + n / 2) / n));
            }
            writePixel(dst, dx + j, dy + i, c, nearest);
        }
    }
}

} // namespace kelvara::raster_detail
