// The raster surface: Bitmap, its Canvas, and the copy operations with their stretch-mode rules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace kelvara {

class Stream;
class Bitmap;

// A colour as 0x00RRGGBB.
using Color = uint32_t;

constexpr Color rgbColor(int red, int green, int blue) {
    return (static_cast<Color>(red & 0xFF) << 16) | (static_cast<Color>(green & 0xFF) << 8) |
           static_cast<Color>(blue & 0xFF);
}
constexpr int redOf(Color c) {
    return static_cast<int>((c >> 16) & 0xFF);
}
constexpr int greenOf(Color c) {
    return static_cast<int>((c >> 8) & 0xFF);
}
constexpr int blueOf(Color c) {
    return static_cast<int>(c & 0xFF);
}

inline constexpr Color ColorWhite = 0xFFFFFF;
inline constexpr Color ColorBlack = 0x000000;

// One colour-table entry, in the byte order of a BMP colour table.
struct PaletteEntry {
    uint8_t blue = 0;
    uint8_t green = 0;
    uint8_t red = 0;
    uint8_t reserved = 0;

    Color color() const { return rgbColor(red, green, blue); }
    static PaletteEntry fromColor(Color c) {
        return {static_cast<uint8_t>(blueOf(c)), static_cast<uint8_t>(greenOf(c)),
                static_cast<uint8_t>(redOf(c)), 0};
    }
    bool operator==(const PaletteEntry&) const = default;
};

// A rectangle; right and bottom are exclusive.
struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool operator==(const Rect&) const = default;
};

enum class PixelFormat : int { Bits1 = 1, Bits4 = 4, Bits8 = 8, Bits16 = 16, Bits24 = 24, Bits32 = 32 };

constexpr int bitsPerPixel(PixelFormat format) {
    return static_cast<int>(format);
}

// The channel masks of a 16- or 32-bit picture.
struct ColorMasks {
    uint32_t red = 0;
    uint32_t green = 0;
    uint32_t blue = 0;
    bool operator==(const ColorMasks&) const = default;
};

// How a drawing context reduces pictures in stretched copies.
enum class StretchMode {
    // The mode of a new context. Each destination pixel of a reduction is the rounded mean of the
    // source pixels it covers (dropped and kept alike), per channel.
    BlackOnWhite,
    // Dropped rows and columns are simply left out.
    ColorOnColor,
    // Each destination pixel is the average of the source pixels it covers, as with BlackOnWhite;
    // Draw and StretchDraw choose it for displays of 8 bits or fewer.
    Halftone,
};

// Releases the drawing context of every canvas: the next canvas operation makes a new one with
// the default stretch mode. Called after every window message the program dispatches, and so by
// each pass of a long job's message pumping.
void releaseCanvasContexts();

// Colour depth of the display the canvases are made compatible with. Draw and StretchDraw pick
// their stretch mode from it. Our display is always true colour; tests may lower it.
int displayBitsPerPixel();
void setDisplayBitsPerPixel(int bits);

// The drawing context of a Bitmap. Made on first use and owned by the bitmap.
class Canvas {
public:
    struct BrushState {
        kelvara::Color Color = ColorWhite;
    };
    BrushState Brush;

    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    Rect ClipRect() const;
    void FillRect(const Rect& r);
    // Copies the whole of source unscaled with its top-left corner at (x, y), clipped.
    void Draw(int x, int y, const Bitmap& source);
    // Copies the whole of source scaled onto r.
    void StretchDraw(const Rect& r, const Bitmap& source);
    // Stretch copy of sourceRect of source onto destRect of this canvas, in the current stretch mode.
    void CopyRect(const Rect& destRect, Canvas& source, const Rect& sourceRect);

    // The stretch mode of the current drawing context; makes a new context when there is none.
    StretchMode stretchMode();
    void setStretchMode(StretchMode mode);

    kelvara::Bitmap& bitmap() { return m_bitmap; }

private:
    friend class Bitmap;
    friend void blockCopy(Canvas&, int, int, int, int, Canvas&, int, int);
    friend void stretchBlockCopy(Canvas&, int, int, int, int, Canvas&, int, int, int, int);
    explicit Canvas(kelvara::Bitmap& owner) : m_bitmap(owner) {}
    void releaseContext() { m_hasContext = false; }
    void ensureContext();
    void setModeForDraw(const kelvara::Bitmap& source);

    kelvara::Bitmap& m_bitmap;
    bool m_hasContext = false;
    uint64_t m_generation = 0;
    StretchMode m_mode = StretchMode::BlackOnWhite;
};

// Block copy (unscaled, clipped to the destination) of w x h pixels from (sx, sy) of source to
// (dx, dy) of dest.
void blockCopy(Canvas& dest, int dx, int dy, int w, int h, Canvas& source, int sx, int sy);
// Stretched block copy in the destination's current stretch mode. A negative width or height on
// one side mirrors the picture.
void stretchBlockCopy(Canvas& dest, int dx, int dy, int dw, int dh, Canvas& source, int sx, int sy, int sw,
                      int sh);

// A raster picture. Every bitmap the program makes is 24 bits per pixel; LoadFromStream gives
// the depth of the decoded picture. Assign shares the picture until either bitmap is written.
class Bitmap {
public:
    // Pictures larger than this many pixels are refused.
    static constexpr int64_t MaxPixels = int64_t(1) << 28;

    Bitmap();
    ~Bitmap();
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    void SetWidth(int width) { SetSize(width, m_height); }
    void SetHeight(int height) { SetSize(m_width, height); }
    // Resizes; the top-left part of the old picture survives and the rest takes the fill colour
    // (the brush colour once the canvas has been used, else white).
    void SetSize(int width, int height);
    bool Empty() const { return m_width == 0 || m_height == 0; }

    kelvara::PixelFormat PixelFormat() const { return m_format; }
    // Sets the format; a non-empty picture is converted.
    void SetPixelFormat(kelvara::PixelFormat format);

    // Row y counted from the top. The writable form gives this bitmap a private picture first.
    uint8_t* ScanLine(int y);
    const uint8_t* ScanLine(int y) const;
    size_t rowStride() const;

    const std::vector<PaletteEntry>& palette() const;
    // Replaces the colour table of a bitmap of 8 bits or fewer.
    void setPalette(const std::vector<PaletteEntry>& palette);
    ColorMasks masks() const;

    kelvara::Canvas& Canvas();
    bool canvasUsed() const { return m_canvas != nullptr; }

    // Replaces the picture with the BMP byte image read from the stream's position.
    void LoadFromStream(Stream& stream);
    void LoadFromMemory(const uint8_t* data, size_t size);
    // Becomes a copy of source, sharing its picture until either is written.
    void Assign(const Bitmap& source);
    // Takes the picture's handle, as a reader of the pixels does; releases the drawing context.
    const void* Handle();

    // Generic pixel access for any format (0x00RRGGBB). Out of range reads give black and
    // writes do nothing.
    Color pixel(int x, int y) const;
    void setPixel(int x, int y, Color color);

    bool sharesPictureWith(const Bitmap& other) const;

    // The alpha plane of a picture from a source with an alpha channel: one byte per pixel, 0
    // transparent to 255 opaque, rows top-down without padding. Other pictures have none and are
    // opaque. Canvas copies carry it along (a source without one copies as opaque), FillRect makes
    // the area opaque, and rows written through ScanLine leave it as it was.
    bool hasAlpha() const;
    // Null when the picture has none.
    const uint8_t* alphaPlane() const;
    // Gives the picture an alpha plane of Width() x Height() bytes; an empty one (or an empty
    // picture) drops it.
    void setAlphaPlane(std::vector<uint8_t> plane);

    // The pixel store; defined in the raster surface's private header.
    struct Picture;

private:
    friend class kelvara::Canvas;
    friend void blockCopy(kelvara::Canvas&, int, int, int, int, kelvara::Canvas&, int, int);
    friend void stretchBlockCopy(kelvara::Canvas&, int, int, int, int, kelvara::Canvas&, int, int, int, int);

    void makeWritable();
    void releaseContext();
    Color fillColor() const;

    int m_width = 0;
    int m_height = 0;
    kelvara::PixelFormat m_format = kelvara::PixelFormat::Bits24;
    std::shared_ptr<Picture> m_picture;
    std::unique_ptr<kelvara::Canvas> m_canvas;
};

} // namespace kelvara
