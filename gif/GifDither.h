// Colour lookups (palette index of an RGB triple) and the dither engines that walk a frame in
// serpentine order, diffusing each pixel's colour error onto pixels not yet mapped.
//
// The engines are templates over the concrete lookup so that the per-pixel path has no virtual
// call; TColorLookup gives the lookups a common interface for callers outside the hot path.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kelvara {

// The ditherer a document's DitherKind selects: no diffusion, or error diffusion with one of six
// kernels. The conversions use FloydSteinberg.
enum class GifDitherKind : uint8_t {
    Nearest = 0,
    FloydSteinberg = 1,
    Stucki = 2,
    Sierra = 3,
    JaJuNi = 4,
    SteveArche = 5,
    Burkes = 6,
};

// One palette entry, red first as in a GIF colour table.
struct GifRGB {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    bool operator==(const GifRGB&) const = default;
};

// ---- Colour lookups ----

// How TFastColorLookup searches the palette for a colour its cache does not hold. Every path
// gives the same entry; Best is the fastest one the processor has.
enum class ColorSearchPath { Best, Scalar, Sse2, Avx2 };
// Whether the processor has the path (Best: always).
bool colorSearchPathAvailable(ColorSearchPath path);

class TColorLookup {
public:
    explicit TColorLookup(int colors) : m_colors(colors) {}
    virtual ~TColorLookup() = default;
    // The number of colours the lookup can return; a lookup with none must not be used.
    int Colors() const { return m_colors; }
    // The index for (red, green, blue); entry receives that index's colour.
    virtual int Nearest(int red, int green, int blue, GifRGB& entry) = 0;

protected:
    int m_colors;
};

// Nearest entry by the sum of absolute differences, with a 32 x 32 x 32 inverse-lookup cache.
class TFastColorLookup final : public TColorLookup {
public:
    // Copies up to 256 entries. A path the processor lacks is taken as Best.
    TFastColorLookup(const GifRGB* palette, int count, ColorSearchPath path = ColorSearchPath::Best);
    int Nearest(int red, int green, int blue, GifRGB& entry) override {
        const int index = nearest(red, green, blue);
        entry = m_palette[index];
        return index;
    }

    static int cellOf(int red, int green, int blue) {
        return (blue >> 3) * 1024 + (green >> 3) * 32 + (red >> 3);
    }
    // Every colour of a cell gets the index the cell holds: the lowest palette entry lying in the
    // cell, or else the one found for the first colour looked up there, even where another entry
    // is nearer for a later colour. That is intended; the ditherer diffuses the difference.
    int nearest(int red, int green, int blue) {
        return static_cast<int>(nearestEntry(red, green, blue) & 0xFF);
    }
    // The index with its entry's colour: index | red << 8 | green << 16 | blue << 24. The
    // ditherer's form: the colour comes with the index, not from a second lookup.
    uint32_t nearestEntry(int red, int green, int blue) {
        const int cell = cellOf(red, green, blue);
        if (known(cell))
            return m_cache[cell];
        return search(cell, red, green, blue);
    }
    const GifRGB& entry(int index) const { return m_palette[index]; }
    // The index a cell holds, or -1 while it holds none.
    int cacheSlot(int cell) const { return known(cell) ? static_cast<int>(m_cache[cell] & 0xFF) : -1; }

private:
    // Searches the palette for a colour of an empty cell; fills the cell with the nearest entry
    // and returns it as nearestEntry does.
    uint32_t search(int cell, int red, int green, int blue);
    bool known(int cell) const { return (m_known[cell >> 6] >> (cell & 63)) & 1; }
    void remember(int cell, int index) {
        const GifRGB& e = m_palette[index];
        m_cache[cell] = static_cast<uint32_t>(index) | uint32_t(e.red) << 8 | uint32_t(e.green) << 16 |
                        uint32_t(e.blue) << 24;
        m_known[cell >> 6] |= uint64_t(1) << (cell & 63);
    }

    ColorSearchPath m_path;
    GifRGB m_palette[256];
    // A cell's entry as nearestEntry gives it, and a bit saying whether the cell is filled.
    uint32_t m_cache[32768];
    uint64_t m_known[32768 / 64] = {};
    // The entries again as separate channels, padded to a multiple of 8 with entries too far
    // away to win, for the vectorised search.
    int m_padded = 0;
    alignas(16) int16_t m_red[256];
    alignas(16) int16_t m_green[256];
    alignas(16) int16_t m_blue[256];
};

// The 6 x 6 x 6 colour cube: 216 colours, entry 36r + 6g + b = (51r, 51g, 51b).
class TNetscapeColorLookup final : public TColorLookup {
public:
    TNetscapeColorLookup();
    int Nearest(int red, int green, int blue, GifRGB& entry) override {
        const int index = nearest(red, green, blue);
        entry = m_palette[index];
        return index;
    }
    int nearest(int red, int green, int blue) const {
        return 36 * ((red + 3) / 51) + 6 * ((green + 3) / 51) + (blue + 3) / 51;
    }
    const GifRGB& entry(int index) const { return m_palette[index]; }

private:
    GifRGB m_palette[216];
};

// 256 greys by luminance.
class TGrayScaleLookup final : public TColorLookup {
public:
    TGrayScaleLookup() : TColorLookup(256) {}
    int Nearest(int red, int green, int blue, GifRGB& entry) override {
        const int index = nearest(red, green, blue);
        entry = this->entry(index);
        return index;
    }
    int nearest(int red, int green, int blue) const { return (77 * red + 150 * green + 29 * blue) >> 8; }
    GifRGB entry(int index) const {
        const uint8_t v = static_cast<uint8_t>(index);
        return {v, v, v};
    }
};

// Black or white by luminance.
class TMonochromeLookup final : public TColorLookup {
public:
    TMonochromeLookup() : TColorLookup(2) {}
    int Nearest(int red, int green, int blue, GifRGB& entry) override {
        const int index = nearest(red, green, blue);
        entry = this->entry(index);
        return index;
    }
    int nearest(int red, int green, int blue) const {
        return 77 * red + 150 * green + 29 * blue < 32513 ? 0 : 1;
    }
    GifRGB entry(int index) const { return index ? GifRGB{255, 255, 255} : GifRGB{0, 0, 0}; }
};

// ---- Dither engines ----

inline int clampByte(int v) {
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}

// DitherKind 0: no diffusion. Rows alternate direction, starting left to right.
template <class Lookup> class TDitherEngine {
public:
    TDitherEngine(int width, Lookup& lookup) : m_width(width), m_lookup(lookup) {}

    int MapPixel(int red, int green, int blue) {
        const int index = m_lookup.nearest(red, green, blue);
        m_column += m_direction;
        return index;
    }
    int Column() const { return m_column; }
    int Direction() const { return m_direction; }
    void EndRow() {
        m_direction = -m_direction;
        m_column = m_direction > 0 ? 0 : m_width - 1;
    }

protected:
    int m_width;
    Lookup& m_lookup;
    int m_direction = 1;
    int m_column = 0;
};

// DitherKind 1: Floyd-Steinberg with one error row per channel and three running sums. Errors
// are kept in sixteenths and divided, truncating toward zero, only when added to a pixel.
template <class Lookup> class TFloydSteinbergDitherer : public TDitherEngine<Lookup> {
public:
    TFloydSteinbergDitherer(int width, Lookup& lookup)
        : TDitherEngine<Lookup>(width, lookup), m_errors(3 * static_cast<size_t>(width + 2), 0) {}

    int MapPixel(int red, int green, int blue) {
        const int d = this->m_direction;
        // Entry x + 1 of the row holds the error pending for column x; m_position is x + 1 - d.
        const int* pending = &m_errors[3 * static_cast<size_t>(m_position + d)];
        const int r = clampByte(red + (pending[0] + m_carry[0] + 8) / 16);
        const int g = clampByte(green + (pending[1] + m_carry[1] + 8) / 16);
        const int b = clampByte(blue + (pending[2] + m_carry[2] + 8) / 16);
        const int index = TDitherEngine<Lookup>::MapPixel(r, g, b);
        const auto e = this->m_lookup.entry(index);
        int* behind = &m_errors[3 * static_cast<size_t>(m_position)];
        diffuse(0, r - e.red, behind);
        diffuse(1, g - e.green, behind);
        diffuse(2, b - e.blue, behind);
        m_position += d;
        return index;
    }

    // Maps a whole row from the engine's current column in its direction (the row driver's
    // work, with the running sums kept in locals), then ends the row. src holds blue, green, red
    // per pixel. The same arithmetic as MapPixel, pixel for pixel.
    void MapRow(const uint8_t* src, uint8_t* dst) {
        const int d = this->m_direction;
        const int width = this->m_width;
        int x = this->m_column;
        int position = m_position;
        int* errors = m_errors.data();
        Lookup& lookup = this->m_lookup;
        int carryR = m_carry[0], carryG = m_carry[1], carryB = m_carry[2];
        int belowR = m_below[0], belowG = m_below[1], belowB = m_below[2];
        int prevR = m_belowPrev[0], prevG = m_belowPrev[1], prevB = m_belowPrev[2];
        for (; x >= 0 && x < width; x += d) {
            const uint8_t* p = src + 3 * x;
            const int* pending = errors + 3 * (position + d);
            const int r = clampByte(p[2] + (pending[0] + carryR + 8) / 16);
            const int g = clampByte(p[1] + (pending[1] + carryG + 8) / 16);
            const int b = clampByte(p[0] + (pending[2] + carryB + 8) / 16);
            int er, eg, eb;
            if constexpr (requires { lookup.nearestEntry(r, g, b); }) {
                const uint32_t found = lookup.nearestEntry(r, g, b);
                dst[x] = static_cast<uint8_t>(found);
                er = r - static_cast<int>((found >> 8) & 0xFF);
                eg = g - static_cast<int>((found >> 16) & 0xFF);
                eb = b - static_cast<int>(found >> 24);
            } else {
                const int index = lookup.nearest(r, g, b);
                dst[x] = static_cast<uint8_t>(index);
                const auto e = lookup.entry(index);
                er = r - e.red, eg = g - e.green, eb = b - e.blue;
            }
            int* behind = errors + 3 * position;
            behind[0] = prevR + 3 * er;
            behind[1] = prevG + 3 * eg;
            behind[2] = prevB + 3 * eb;
            prevR = belowR + 5 * er;
            prevG = belowG + 5 * eg;
            prevB = belowB + 5 * eb;
            belowR = er;
            belowG = eg;
            belowB = eb;
            carryR = 7 * er;
            carryG = 7 * eg;
            carryB = 7 * eb;
            position += d;
        }
        this->m_column = x;
        m_position = position;
        m_carry[0] = carryR, m_carry[1] = carryG, m_carry[2] = carryB;
        m_below[0] = belowR, m_below[1] = belowG, m_below[2] = belowB;
        m_belowPrev[0] = prevR, m_belowPrev[1] = prevG, m_belowPrev[2] = prevB;
        EndRow();
    }

    void EndRow() {
        // The row's last column in scan order receives its final sum.
        int* last = &m_errors[3 * static_cast<size_t>(m_position)];
        for (int c = 0; c < 3; ++c) {
            last[c] = m_belowPrev[c];
            m_carry[c] = m_below[c] = m_belowPrev[c] = 0;
        }
        TDitherEngine<Lookup>::EndRow();
        m_position = this->m_direction > 0 ? 0 : this->m_width + 1;
    }

private:
    void diffuse(int c, int err, int* behind) {
        // 3/16 below-behind (completing that column), 5/16 below, 1/16 below-ahead, 7/16 ahead;
        // made for every pixel, zero error included.
        behind[c] = m_belowPrev[c] + 3 * err;
        m_belowPrev[c] = m_below[c] + 5 * err;
        m_below[c] = err;
        m_carry[c] = 7 * err;
    }

    std::vector<int> m_errors; // (width + 2) entries of red, green, blue
    int m_position = 0;
    int m_carry[3] = {0, 0, 0};
    int m_below[3] = {0, 0, 0};
    int m_belowPrev[3] = {0, 0, 0};
};

// One weight of an error diffusion kernel: rows below the current one, columns ahead (+) or
// behind (-) in scan direction.
struct KernelTap {
    int row;
    int offset;
    int weight;
};

struct StuckiKernel {
    static constexpr int Rows = 3, Pad = 2, Divisor = 42;
    static constexpr KernelTap Taps[] = {{0, 1, 8}, {0, 2, 4},  {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4},
                                         {1, 2, 2}, {2, -2, 1}, {2, -1, 2}, {2, 0, 4},  {2, 1, 2}, {2, 2, 1}};
};
struct SierraKernel {
    static constexpr int Rows = 3, Pad = 2, Divisor = 32;
    static constexpr KernelTap Taps[] = {{0, 1, 5}, {0, 2, 3}, {1, -2, 2}, {1, -1, 4}, {1, 0, 5},
                                         {1, 1, 4}, {1, 2, 2}, {2, -1, 2}, {2, 0, 3},  {2, 1, 2}};
};
struct JaJuNiKernel {
    static constexpr int Rows = 3, Pad = 2, Divisor = 48;
    static constexpr KernelTap Taps[] = {{0, 1, 7}, {0, 2, 5},  {1, -2, 3}, {1, -1, 5}, {1, 0, 7}, {1, 1, 5},
                                         {1, 2, 3}, {2, -2, 1}, {2, -1, 3}, {2, 0, 5},  {2, 1, 3}, {2, 2, 1}};
};
struct BurkesKernel {
    static constexpr int Rows = 2, Pad = 2, Divisor = 32;
    static constexpr KernelTap Taps[] = {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4},
                                         {1, 0, 8}, {1, 1, 4}, {1, 2, 2}};
};
struct SteveArcheKernel {
    static constexpr int Rows = 4, Pad = 3, Divisor = 200;
    static constexpr KernelTap Taps[] = {{0, 2, 32}, {1, -3, 12}, {1, -1, 26}, {1, 1, 30},
                                         {1, 3, 16}, {2, -2, 12}, {2, 0, 26},  {2, 2, 12},
                                         {3, -3, 5}, {3, -1, 12}, {3, 1, 12},  {3, 3, 5}};
};

// DitherKind 2 to 6: a kernel engine with one pending-error array per kernel row and channel.
template <class Lookup, class Kernel> class TKernelDitherer : public TDitherEngine<Lookup> {
public:
    TKernelDitherer(int width, Lookup& lookup)
        : TDitherEngine<Lookup>(width, lookup), m_stride(3 * static_cast<size_t>(width + 2 * Kernel::Pad)),
          m_errors(Kernel::Rows * m_stride, 0) {
        for (int i = 0; i < Kernel::Rows; ++i)
            m_rows[i] = m_errors.data() + i * m_stride;
    }

    int MapPixel(int red, int green, int blue) {
        const int x = this->m_column;
        const int d = this->m_direction;
        const int* pending = m_rows[0] + 3 * (x + Kernel::Pad);
        constexpr int half = Kernel::Divisor / 2;
        const int v[3] = {clampByte(red + (pending[0] + half) / Kernel::Divisor),
                          clampByte(green + (pending[1] + half) / Kernel::Divisor),
                          clampByte(blue + (pending[2] + half) / Kernel::Divisor)};
        const int index = TDitherEngine<Lookup>::MapPixel(v[0], v[1], v[2]);
        const auto e = this->m_lookup.entry(index);
        const int err[3] = {v[0] - e.red, v[1] - e.green, v[2] - e.blue};
        for (int c = 0; c < 3; ++c) {
            if (err[c] == 0)
                continue;
            for (const KernelTap& tap : Kernel::Taps)
                m_rows[tap.row][3 * (x + Kernel::Pad + tap.offset * d) + c] += err[c] * tap.weight;
        }
        return index;
    }

    void EndRow() {
        int* done = m_rows[0];
        std::memset(done, 0, m_stride * sizeof(int));
        for (int i = 0; i + 1 < Kernel::Rows; ++i)
            m_rows[i] = m_rows[i + 1];
        m_rows[Kernel::Rows - 1] = done;
        TDitherEngine<Lookup>::EndRow();
    }

private:
    size_t m_stride;
    std::vector<int> m_errors;
    int* m_rows[Kernel::Rows];
};

template <class Lookup> using TStuckiDitherer = TKernelDitherer<Lookup, StuckiKernel>;
template <class Lookup> using TSierraDitherer = TKernelDitherer<Lookup, SierraKernel>;
template <class Lookup> using TJaJuNiDitherer = TKernelDitherer<Lookup, JaJuNiKernel>;
template <class Lookup> using TSteveArcheDitherer = TKernelDitherer<Lookup, SteveArcheKernel>;
template <class Lookup> using TBurkesDitherer = TKernelDitherer<Lookup, BurkesKernel>;

// The row driver: maps every pixel of a 24-bit image (blue, green, red per pixel) to indices,
// rows top to bottom, each row in the engine's direction from the engine's current column.
template <class Engine>
void ditherRows(Engine& engine, int width, int height, const uint8_t* const* sourceRows,
                uint8_t* const* indexRows) {
    for (int y = 0; y < height; ++y) {
        const uint8_t* src = sourceRows[y];
        uint8_t* dst = indexRows[y];
        if constexpr (requires { engine.MapRow(src, dst); }) {
            engine.MapRow(src, dst);
            continue;
        }
        for (int x = engine.Column(); x >= 0 && x < width; x = engine.Column()) {
            const uint8_t* p = src + 3 * x;
            dst[x] = static_cast<uint8_t>(engine.MapPixel(p[2], p[1], p[0]));
        }
        engine.EndRow();
    }
}

// Dithers with the engine of ditherKind over the lookup. Returns false for a kind outside 0..6.
template <class Lookup>
bool ditherImage(GifDitherKind ditherKind, Lookup& lookup, int width, int height,
                 const uint8_t* const* sourceRows, uint8_t* const* indexRows) {
    switch (ditherKind) {
    case GifDitherKind::Nearest: {
        TDitherEngine<Lookup> e(width, lookup);
        ditherRows(e, width, height, sourceRows, indexRows);
        return true;
    }
    case GifDitherKind::FloydSteinberg: {
        TFloydSteinbergDitherer<Lookup> e(width, lookup);
        ditherRows(e, width, height, sourceRows, indexRows);
        return true;
    }
    case GifDitherKind::Stucki: {
        TStuckiDitherer<Lookup> e(width, lookup);
        ditherRows(e, width, height, sourceRows, indexRows);
        return true;
    }
    case GifDitherKind::Sierra: {
        TSierraDitherer<Lookup> e(width, lookup);
        ditherRows(e, width, height, sourceRows, indexRows);
        return true;
    }
    case GifDitherKind::JaJuNi: {
        TJaJuNiDitherer<Lookup> e(width, lookup);
        ditherRows(e, width, height, sourceRows, indexRows);
        return true;
    }
    case GifDitherKind::SteveArche: {
        TSteveArcheDitherer<Lookup> e(width, lookup);
        ditherRows(e, width, height, sourceRows, indexRows);
        return true;
    }
    case GifDitherKind::Burkes: {
        TBurkesDitherer<Lookup> e(width, lookup);
        ditherRows(e, width, height, sourceRows, indexRows);
        return true;
    }
    default:
        return false;
    }
}

} // namespace kelvara
