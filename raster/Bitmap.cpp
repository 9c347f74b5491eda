// The raster surface: pixel storage, resizing, copy-on-write sharing and the canvas copies.
#include "raster/Bitmap.h"

#include "raster/Error.h"
#include "raster/Picture.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>

namespace kelvara {

namespace {

std::atomic<uint64_t> g_contextGeneration{1};
std::atomic<int> g_displayBits{32};

using Picture = Bitmap::Picture;

// Reads one pixel of any format as 0x00RRGGBB.
Color readPixel(const Picture& p, int x, int y) {
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
        return rgbColor(raster_detail::expandChannel(v, p.masks.red),
                        raster_detail::expandChannel(v, p.masks.green),
                        raster_detail::expandChannel(v, p.masks.blue));
    }
    case PixelFormat::Bits24:
        return rgbColor(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
    case PixelFormat::Bits32: {
        const uint8_t* q = row + 4 * x;
        uint32_t v = q[0] | (q[1] << 8) | (q[2] << 16) | (uint32_t(q[3]) << 24);
        return rgbColor(raster_detail::expandChannel(v, p.masks.red),
                        raster_detail::expandChannel(v, p.masks.green),
                        raster_detail::expandChannel(v, p.masks.blue));
    }
    }
    return ColorBlack;
}

uint32_t packChannel(int value, uint32_t mask) {
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
void writePixel(Picture& p, int x, int y, Color c, NearestIndex& nearest) {
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

std::shared_ptr<Picture> makePicture(int width, int height, PixelFormat format,
                                     const std::vector<PaletteEntry>& palette, ColorMasks masks) {
    raster_detail::checkPictureSize(width, height);
    auto p = std::make_shared<Picture>();
    p->width = width;
    p->height = height;
    p->format = format;
    p->stride = Picture::strideFor(width, bitsPerPixel(format));
    try {
        p->bits.assign(p->stride * static_cast<size_t>(height), 0);
    } catch (const std::bad_alloc&) {
        throw RasterError(RasterMessages::OutOfResources);
    }
    if (bitsPerPixel(format) <= 8)
        p->palette = palette;
    else if (format == PixelFormat::Bits16 || format == PixelFormat::Bits32)
        p->masks = masks == ColorMasks{} ? raster_detail::defaultMasks(format) : masks;
    return p;
}

void fillPicture(Picture& p, Color c) {
    if (p.format == PixelFormat::Bits24) {
        // One row of the colour (padding zero), copied into every row.
        std::vector<uint8_t> row(p.stride, 0);
        for (int x = 0; x < p.width; ++x) {
            row[3 * size_t(x)] = static_cast<uint8_t>(blueOf(c));
            row[3 * size_t(x) + 1] = static_cast<uint8_t>(greenOf(c));
            row[3 * size_t(x) + 2] = static_cast<uint8_t>(redOf(c));
        }
        for (int y = 0; y < p.height; ++y)
            std::memcpy(p.bits.data() + static_cast<size_t>(y) * p.stride, row.data(), p.stride);
        return;
    }
    NearestIndex nearest(p.palette);
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            writePixel(p, x, y, c, nearest);
}

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

// The copy engine behind every canvas copy: scales (sx, sy, sw, sh) of src onto (dx, dy, dw, dh)
// of dst, reducing by the given mode. Destination pixels whose source falls outside src are left.
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

} // namespace

namespace raster_detail {

ColorMasks defaultMasks(PixelFormat format) {
    if (format == PixelFormat::Bits16)
        return {0x7C00, 0x03E0, 0x001F};
    if (format == PixelFormat::Bits32)
        return {0xFF0000, 0x00FF00, 0x0000FF};
    return {};
}

int expandChannel(uint32_t value, uint32_t mask) {
    if (mask == 0)
        return 0;
    int shift = __builtin_ctz(mask);
    int width = __builtin_popcount(mask >> shift);
    uint32_t v = (value & mask) >> shift;
    if (width >= 8)
        return static_cast<int>(v >> (width - 8));
    // Repeat the top bits into the low ones, so that full scale stays full scale.
    uint32_t out = 0;
    int filled = 0;
    while (filled < 8) {
        out = (out << width) | v;
        filled += width;
    }
    return static_cast<int>(out >> (filled - 8));
}

void checkPictureSize(int64_t width, int64_t height) {
    if (width < 0 || height < 0 || (width && height > Bitmap::MaxPixels / width))
        throw RasterError(RasterMessages::OutOfResources);
}

} // namespace raster_detail

void releaseCanvasContexts() {
    g_contextGeneration.fetch_add(1, std::memory_order_relaxed);
}

int displayBitsPerPixel() {
    return g_displayBits.load(std::memory_order_relaxed);
}
void setDisplayBitsPerPixel(int bits) {
    g_displayBits.store(bits, std::memory_order_relaxed);
}

// ---- Canvas ----

void Canvas::ensureContext() {
    uint64_t now = g_contextGeneration.load(std::memory_order_relaxed);
    if (!m_hasContext || m_generation != now) {
        m_hasContext = true;
        m_generation = now;
        m_mode = StretchMode::BlackOnWhite;
    }
}

StretchMode Canvas::stretchMode() {
    ensureContext();
    return m_mode;
}

void Canvas::setStretchMode(StretchMode mode) {
    ensureContext();
    m_mode = mode;
}

void Canvas::setModeForDraw(const kelvara::Bitmap& source) {
    int destBits = displayBitsPerPixel();
    int sourceBits = bitsPerPixel(source.PixelFormat());
    if (destBits <= 8 && destBits < sourceBits)
        setStretchMode(StretchMode::Halftone);
    else if (sourceBits != 1)
        setStretchMode(StretchMode::ColorOnColor);
    else
        ensureContext(); // a monochrome source leaves the mode as it is
}

Rect Canvas::ClipRect() const {
    return {0, 0, m_bitmap.Width(), m_bitmap.Height()};
}

void Canvas::FillRect(const Rect& r) {
    ensureContext();
    if (m_bitmap.Empty())
        return;
    int left = std::max(0, std::min(r.left, r.right)),
        right = std::min(m_bitmap.Width(), std::max(r.left, r.right));
    int top = std::max(0, std::min(r.top, r.bottom)),
        bottom = std::min(m_bitmap.Height(), std::max(r.top, r.bottom));
    if (left >= right || top >= bottom)
        return;
    m_bitmap.makeWritable();
    ensureContext();
    Picture& p = *m_bitmap.m_picture;
    NearestIndex nearest(p.palette);
    Color c = Brush.Color;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x)
            writePixel(p, x, y, c, nearest);
}

// Snapshot of the source picture, so that a copy within one bitmap reads the old pixels.
static std::shared_ptr<Bitmap::Picture> sourcePicture(const std::shared_ptr<Bitmap::Picture>& picture,
                                                      bool sameBitmap) {
    return sameBitmap ? std::make_shared<Bitmap::Picture>(*picture) : picture;
}

void Canvas::Draw(int x, int y, const kelvara::Bitmap& source) {
    if (source.Empty())
        return;
    // A shared picture gets its private copy (and a new context) before the mode is set.
    std::shared_ptr<Picture> src = source.m_picture;
    m_bitmap.makeWritable();
    setModeForDraw(source);
    if (m_bitmap.Empty())
        return;
    src = sourcePicture(src, &source == &m_bitmap);
    stretchPixels(*m_bitmap.m_picture, x, y, source.Width(), source.Height(), *src, 0, 0, source.Width(),
                  source.Height(), StretchMode::ColorOnColor);
}

void Canvas::StretchDraw(const Rect& r, const kelvara::Bitmap& source) {
    if (source.Empty())
        return;
    std::shared_ptr<Picture> src = source.m_picture;
    m_bitmap.makeWritable();
    setModeForDraw(source);
    if (m_bitmap.Empty())
        return;
    src = sourcePicture(src, &source == &m_bitmap);
    stretchPixels(*m_bitmap.m_picture, r.left, r.top, r.width(), r.height(), *src, 0, 0, source.Width(),
                  source.Height(), m_mode);
}

void Canvas::CopyRect(const Rect& destRect, Canvas& source, const Rect& sourceRect) {
    stretchBlockCopy(*this, destRect.left, destRect.top, destRect.width(), destRect.height(), source,
                     sourceRect.left, sourceRect.top, sourceRect.width(), sourceRect.height());
}

void blockCopy(Canvas& dest, int dx, int dy, int w, int h, Canvas& source, int sx, int sy) {
    Bitmap& d = dest.bitmap();
    Bitmap& s = source.bitmap();
    std::shared_ptr<Bitmap::Picture> src = s.m_picture;
    d.makeWritable();
    dest.ensureContext();
    source.ensureContext();
    if (d.Empty() || s.Empty() || w <= 0 || h <= 0)
        return;
    src = sourcePicture(src, &s == &d);
    stretchPixels(*d.m_picture, dx, dy, w, h, *src, sx, sy, w, h, StretchMode::ColorOnColor);
}

void stretchBlockCopy(Canvas& dest, int dx, int dy, int dw, int dh, Canvas& source, int sx, int sy, int sw,
                      int sh) {
    Bitmap& d = dest.bitmap();
    Bitmap& s = source.bitmap();
    std::shared_ptr<Bitmap::Picture> src = s.m_picture;
    d.makeWritable();
    source.ensureContext();
    // The reduction follows whatever mode the destination context holds now: a context made
    // new since the last Draw reduces with BlackOnWhite.
    StretchMode mode = dest.stretchMode();
    if (d.Empty() || s.Empty())
        return;
    src = sourcePicture(src, &s == &d);
    stretchPixels(*d.m_picture, dx, dy, dw, dh, *src, sx, sy, sw, sh, mode);
}

// ---- Bitmap ----

Bitmap::Bitmap() = default;
Bitmap::~Bitmap() = default;

kelvara::Canvas& Bitmap::Canvas() {
    if (!m_canvas)
        m_canvas.reset(new kelvara::Canvas(*this));
    return *m_canvas;
}

void Bitmap::releaseContext() {
    if (m_canvas)
        m_canvas->releaseContext();
}

Color Bitmap::fillColor() const {
    return m_canvas ? m_canvas->Brush.Color : ColorWhite;
}

void Bitmap::makeWritable() {
    if (m_picture && m_picture.use_count() > 1) {
        m_picture = std::make_shared<Picture>(*m_picture);
        releaseContext();
    }
}

void Bitmap::SetSize(int width, int height) {
    width = std::max(0, width);
    height = std::max(0, height);
    if (width == m_width && height == m_height)
        return;
    raster_detail::checkPictureSize(width, height);
    releaseContext();
    std::shared_ptr<Picture> old = m_picture;
    m_width = width;
    m_height = height;
    if (width == 0 || height == 0) {
        m_picture.reset();
        return;
    }
    std::vector<PaletteEntry> palette = old ? old->palette : std::vector<PaletteEntry>{};
    ColorMasks masks = old ? old->masks : ColorMasks{};
    auto p = makePicture(width, height, m_format, palette, masks);
    fillPicture(*p, fillColor());
    if (old) {
        int w = std::min(width, old->width), h = std::min(height, old->height);
        size_t rowBytes = (static_cast<size_t>(w) * bitsPerPixel(m_format) + 7) / 8;
        if (bitsPerPixel(m_format) % 8 == 0) {
            for (int y = 0; y < h; ++y)
                std::memcpy(p->bits.data() + y * p->stride, old->bits.data() + y * old->stride, rowBytes);
        } else {
            NearestIndex nearest(p->palette);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    writePixel(*p, x, y, readPixel(*old, x, y), nearest);
        }
    }
    m_picture = std::move(p);
}

void Bitmap::SetPixelFormat(kelvara::PixelFormat format) {
    if (format == m_format)
        return;
    kelvara::PixelFormat oldFormat = m_format;
    m_format = format;
    if (!m_picture)
        return;
    releaseContext();
    std::shared_ptr<Picture> old = m_picture;
    std::vector<PaletteEntry> palette = old->palette;
    int bits = bitsPerPixel(format);
    if (bits <= 8) {
        size_t entries = size_t(1) << bits;
        if (palette.empty()) {
            // No colours to keep: a grey ramp of the format's size.
            for (size_t i = 0; i < entries; ++i) {
                int v = static_cast<int>(i * 255 / (entries - 1));
                palette.push_back(PaletteEntry::fromColor(rgbColor(v, v, v)));
            }
        }
        if (palette.size() > entries)
            palette.resize(entries);
    }
    auto p = makePicture(m_width, m_height, format, palette, ColorMasks{});
    if (bitsPerPixel(oldFormat) <= 8 && bits <= 8 && bits >= bitsPerPixel(oldFormat)) {
        // Widening an indexed picture keeps its indices.
        for (int y = 0; y < m_height; ++y)
            for (int x = 0; x < m_width; ++x) {
                const uint8_t* row = old->bits.data() + y * old->stride;
                int index = oldFormat == kelvara::PixelFormat::Bits8 ? row[x]
                            : oldFormat == kelvara::PixelFormat::Bits4
                                ? ((x & 1) ? row[x >> 1] & 15 : row[x >> 1] >> 4)
                                : (row[x >> 3] >> (7 - (x & 7))) & 1;
                uint8_t* out = p->bits.data() + y * p->stride;
                if (bits == 8)
                    out[x] = static_cast<uint8_t>(index);
                else
                    out[x >> 1] |= static_cast<uint8_t>((x & 1) ? index : index << 4);
            }
    } else {
        NearestIndex nearest(p->palette);
        for (int y = 0; y < m_height; ++y)
            for (int x = 0; x < m_width; ++x)
                writePixel(*p, x, y, readPixel(*old, x, y), nearest);
    }
    m_picture = std::move(p);
}

uint8_t* Bitmap::ScanLine(int y) {
    if (!m_picture || y < 0 || y >= m_height)
        throw RasterError("Scan line index out of range");
    makeWritable();
    return m_picture->bits.data() + static_cast<size_t>(y) * m_picture->stride;
}

const uint8_t* Bitmap::ScanLine(int y) const {
    if (!m_picture || y < 0 || y >= m_height)
        throw RasterError("Scan line index out of range");
    return m_picture->bits.data() + static_cast<size_t>(y) * m_picture->stride;
}

size_t Bitmap::rowStride() const {
    return Picture::strideFor(m_width, bitsPerPixel(m_format));
}

const std::vector<PaletteEntry>& Bitmap::palette() const {
    static const std::vector<PaletteEntry> none;
    return m_picture ? m_picture->palette : none;
}

void Bitmap::setPalette(const std::vector<PaletteEntry>& palette) {
    if (!m_picture || bitsPerPixel(m_format) > 8)
        return;
    makeWritable();
    m_picture->palette = palette;
    if (m_picture->palette.size() > (size_t(1) << bitsPerPixel(m_format)))
        m_picture->palette.resize(size_t(1) << bitsPerPixel(m_format));
}

ColorMasks Bitmap::masks() const {
    return m_picture ? m_picture->masks : raster_detail::defaultMasks(m_format);
}

void Bitmap::Assign(const Bitmap& source) {
    if (&source == this)
        return;
    releaseContext();
    m_width = source.m_width;
    m_height = source.m_height;
    m_format = source.m_format;
    m_picture = source.m_picture;
}

const void* Bitmap::Handle() {
    releaseContext();
    return m_picture.get();
}

Color Bitmap::pixel(int x, int y) const {
    if (!m_picture || x < 0 || y < 0 || x >= m_width || y >= m_height)
        return ColorBlack;
    return readPixel(*m_picture, x, y);
}

void Bitmap::setPixel(int x, int y, Color color) {
    if (!m_picture || x < 0 || y < 0 || x >= m_width || y >= m_height)
        return;
    makeWritable();
    NearestIndex nearest(m_picture->palette);
    writePixel(*m_picture, x, y, color, nearest);
}

bool Bitmap::sharesPictureWith(const Bitmap& other) const {
    return m_picture && m_picture == other.m_picture;
}

std::vector<uint8_t> encodeBmp24(const Bitmap& bitmap) {
    const int w = bitmap.Width(), h = bitmap.Height();
    const size_t stride = Bitmap::Picture::strideFor(w, 24);
    const size_t imageSize = stride * static_cast<size_t>(h);
    std::vector<uint8_t> out;
    out.reserve(54 + imageSize);
    auto put16 = [&](uint32_t v) {
        out.push_back(static_cast<uint8_t>(v));
        out.push_back(static_cast<uint8_t>(v >> 8));
    };
    auto put32 = [&](uint32_t v) {
        put16(v & 0xFFFF);
        put16(v >> 16);
    };
    // BITMAPFILEHEADER
    put16(0x4D42);
    put32(static_cast<uint32_t>(54 + imageSize));
    put16(0);
    put16(0);
    put32(54);
    // BITMAPINFOHEADER
    put32(40);
    put32(static_cast<uint32_t>(w));
    put32(static_cast<uint32_t>(h));
    put16(1);
    put16(24);
    put32(0);
    put32(static_cast<uint32_t>(imageSize));
    put32(0);
    put32(0);
    put32(0);
    put32(0);
    // Pixel rows, bottom-up.
    size_t start = out.size();
    out.resize(start + imageSize, 0);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = out.data() + start + static_cast<size_t>(h - 1 - y) * stride;
        for (int x = 0; x < w; ++x) {
            Color c = bitmap.pixel(x, y);
            row[3 * x] = static_cast<uint8_t>(blueOf(c));
            row[3 * x + 1] = static_cast<uint8_t>(greenOf(c));
            row[3 * x + 2] = static_cast<uint8_t>(redOf(c));
        }
    }
    return out;
}

} // namespace kelvara
