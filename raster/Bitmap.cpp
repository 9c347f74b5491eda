// The raster surface: pixel storage, resizing, copy-on-write sharing and the canvas operations.
#include "raster/Bitmap.h"

#include "raster/Error.h"
#include "raster/Picture.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace kelvara {

namespace {

std::atomic<uint64_t> g_contextGeneration{1};
std::atomic<int> g_displayBits{32};

using Picture = Bitmap::Picture;
using raster_detail::NearestIndex;
using raster_detail::readPixel;
using raster_detail::stretchPixels;
using raster_detail::writePixel;

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

// The alpha plane as a 24-bit picture of greys (an opaque one where the picture has no plane),
// for the stretch engine.
Picture alphaAsGrey(const Picture& p) {
    Picture grey;
    grey.width = p.width;
    grey.height = p.height;
    grey.stride = Picture::strideFor(p.width, 24);
    grey.bits.assign(grey.stride * size_t(p.height), 0xFF);
    if (!p.alpha.empty())
        for (int y = 0; y < p.height; ++y) {
            const uint8_t* a = p.alpha.data() + size_t(y) * size_t(p.width);
            uint8_t* row = grey.bits.data() + size_t(y) * grey.stride;
            for (int x = 0; x < p.width; ++x)
                row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = a[x];
        }
    return grey;
}

// Carries the alpha plane along a copy of the colours: the pixels the copy writes take the
// source's alpha, scaled as the colours are (opaque where the source has none). Nothing happens
// while neither picture has a plane.
void stretchAlpha(Picture& dst, int dx, int dy, int dw, int dh, const Picture& src, int sx, int sy, int sw,
                  int sh, StretchMode mode) {
    if (src.alpha.empty() && dst.alpha.empty())
        return;
    const size_t count = size_t(dst.width) * size_t(dst.height);
    if (dx == 0 && dy == 0 && sx == 0 && sy == 0 && dw == dst.width && dh == dst.height && sw == dw &&
        sh == dh && src.width == dw && src.height == dh) {
        // The whole picture onto a whole picture of its size.
        if (src.alpha.empty())
            dst.alpha.assign(count, 0xFF);
        else
            dst.alpha = src.alpha;
        return;
    }
    if (dst.alpha.empty())
        dst.alpha.assign(count, 0xFF);
    Picture grey = alphaAsGrey(dst);
    const Picture from = alphaAsGrey(src);
    stretchPixels(grey, dx, dy, dw, dh, from, sx, sy, sw, sh, mode);
    for (int y = 0; y < dst.height; ++y) {
        const uint8_t* row = grey.bits.data() + size_t(y) * grey.stride;
        uint8_t* a = dst.alpha.data() + size_t(y) * size_t(dst.width);
        for (int x = 0; x < dst.width; ++x)
            a[x] = row[3 * x];
    }
}

// A stretched copy of the colours and, where either picture has one, the alpha plane.
void copyPixels(Picture& dst, int dx, int dy, int dw, int dh, const Picture& src, int sx, int sy, int sw,
                int sh, StretchMode mode) {
    stretchPixels(dst, dx, dy, dw, dh, src, sx, sy, sw, sh, mode);
    stretchAlpha(dst, dx, dy, dw, dh, src, sx, sy, sw, sh, mode);
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
    if (!p.alpha.empty())
        for (int y = top; y < bottom; ++y)
            std::fill_n(p.alpha.data() + size_t(y) * size_t(p.width) + size_t(left), right - left, 0xFF);
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
    copyPixels(*m_bitmap.m_picture, x, y, source.Width(), source.Height(), *src, 0, 0, source.Width(),
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
    copyPixels(*m_bitmap.m_picture, r.left, r.top, r.width(), r.height(), *src, 0, 0, source.Width(),
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
    copyPixels(*d.m_picture, dx, dy, w, h, *src, sx, sy, w, h, StretchMode::ColorOnColor);
}

void stretchBlockCopy(Canvas& dest, int dx, int dy, int dw, int dh, Canvas& source, int sx, int sy, int sw,
                      int sh) {
    Bitmap& d = dest.bitmap();
    Bitmap& s = source.bitmap();
    std::shared_ptr<Bitmap::Picture> src = s.m_picture;
    d.makeWritable();
    source.ensureContext();
    // The reduction follows whatever mode the destination context holds now: a context made
    // new since the last Draw reduces with BlackOnWhite, averaging the dropped pixels.
    StretchMode mode = dest.stretchMode();
    if (d.Empty() || s.Empty())
        return;
    src = sourcePicture(src, &s == &d);
    copyPixels(*d.m_picture, dx, dy, dw, dh, *src, sx, sy, sw, sh, mode);
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
        if (!old->alpha.empty()) {
            // The part kept keeps its alpha; the rest is opaque.
            p->alpha.assign(size_t(width) * size_t(height), 0xFF);
            for (int y = 0; y < h; ++y)
                std::memcpy(p->alpha.data() + size_t(y) * size_t(width),
                            old->alpha.data() + size_t(y) * size_t(old->width), size_t(w));
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
    p->alpha = old->alpha;
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

bool Bitmap::hasAlpha() const {
    return m_picture && !m_picture->alpha.empty();
}

const uint8_t* Bitmap::alphaPlane() const {
    return hasAlpha() ? m_picture->alpha.data() : nullptr;
}

void Bitmap::setAlphaPlane(std::vector<uint8_t> plane) {
    if (!m_picture || (plane.empty() && m_picture->alpha.empty()))
        return;
    if (!plane.empty() && plane.size() != size_t(m_width) * size_t(m_height))
        throw RasterError("The alpha plane does not fit the picture");
    makeWritable();
    m_picture->alpha = std::move(plane);
}

} // namespace kelvara
