// The stretch engine behind every canvas copy: source positions per destination pixel and the
// reduction of dropped pixels by the context's stretch mode.
#include "raster/Picture.h"

#include <algorithm>
#include <cstring>

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

    NearestIndex nearest(dst.palette);
    for (int i = rowBegin; i < rowEnd; ++i) {
        for (int j = colBegin; j < colEnd; ++j) {
            Color c;
            if (keepOnly) {
                if (!inSourceX(xs.kept[j]) || !inSourceY(ys.kept[i]))
                    continue;
                c = readPixel(src, sx + xs.kept[j], sy + ys.kept[i]);
            } else {
                // Fold the whole block of source pixels that maps onto this destination pixel.
                Color combined = 0xFFFFFF;
                long sumR = 0, sumG = 0, sumB = 0, n = 0;
                for (int v = ys.first[i]; v < ys.first[i] + ys.count[i]; ++v) {
                    if (!inSourceY(v))
                        continue;
                    for (int u = xs.first[j]; u < xs.first[j] + xs.count[j]; ++u) {
                        if (!inSourceX(u))
                            continue;
                        Color p = readPixel(src, sx + u, sy + v);
                        combined &= p;
                        sumR += redOf(p);
                        sumG += greenOf(p);
                        sumB += blueOf(p);
                        ++n;
                    }
                }
                if (n == 0)
                    continue;
                c = mode == StretchMode::BlackOnWhite
                        ? combined
                        : rgbColor(int((sumR + n / 2) / n), int((sumG + n / 2) / n), int((sumB + n / 2) / n));
            }
            writePixel(dst, dx + j, dy + i, c, nearest);
        }
    }
}

} // namespace kelvara::raster_detail
