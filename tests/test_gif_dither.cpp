// Colour lookups and dither engines: the cache cell rules, the lookups' formulas, serpentine
// order, clamping, truncation, and every engine against a plain full-matrix reference.
#include "gif/GifDither.h"
#include "gif/GifReduction.h"

#include <gtest/gtest.h>

#include <array>
#include <random>

using namespace kelvara;

namespace {

// A lookup that always answers index 0 with a fixed colour and records what it was asked.
struct SpyLookup {
    GifRGB colour{100, 100, 100};
    std::vector<std::array<int, 3>> asked;
    int nearest(int r, int g, int b) {
        asked.push_back({r, g, b});
        return 0;
    }
    GifRGB entry(int) const { return colour; }
};

struct Image {
    int width, height;
    std::vector<uint8_t> bgr; // rows of blue, green, red
    std::vector<const uint8_t*> rows() const {
        std::vector<const uint8_t*> r;
        for (int y = 0; y < height; ++y)
            r.push_back(bgr.data() + static_cast<size_t>(y) * width * 3);
        return r;
    }
    int at(int x, int y, int c) const { return bgr[(static_cast<size_t>(y) * width + x) * 3 + (2 - c)]; }
};

Image randomImage(int w, int h, uint32_t seed, bool smooth) {
    std::mt19937 rng(seed);
    Image im{w, h, std::vector<uint8_t>(static_cast<size_t>(w) * h * 3)};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                int v =
                    smooth
                        ? (x * 255 / std::max(1, w - 1) + c * 60 + y * 3 + static_cast<int>(rng() % 21) - 10)
                        : static_cast<int>(rng() % 256);
                im.bgr[(static_cast<size_t>(y) * w + x) * 3 + c] =
                    static_cast<uint8_t>(std::clamp(v, 0, 255));
            }
    return im;
}

template <class Engine, class Lookup> std::vector<uint8_t> runEngine(Lookup& lookup, const Image& im) {
    Engine engine(im.width, lookup);
    std::vector<uint8_t> out(static_cast<size_t>(im.width) * im.height);
    std::vector<uint8_t*> outRows;
    for (int y = 0; y < im.height; ++y)
        outRows.push_back(out.data() + static_cast<size_t>(y) * im.width);
    const auto rows = im.rows();
    ditherRows(engine, im.width, im.height, rows.data(), outRows.data());
    return out;
}

// An independent cached nearest-colour lookup with the same rules.
struct ReferenceLookup {
    std::vector<GifRGB> palette;
    std::vector<int> cache = std::vector<int>(32768, -1);
    explicit ReferenceLookup(std::vector<GifRGB> p) : palette(std::move(p)) {
        for (size_t i = 0; i < palette.size(); ++i) {
            int cell = (palette[i].blue / 8) * 1024 + (palette[i].green / 8) * 32 + palette[i].red / 8;
            if (cache[cell] == -1)
                cache[cell] = static_cast<int>(i);
        }
    }
    int nearest(int r, int g, int b) {
        int cell = (b / 8) * 1024 + (g / 8) * 32 + r / 8;
        if (cache[cell] != -1)
            return cache[cell];
        int best = 0, bestD = 1 << 30;
        for (size_t i = 0; i < palette.size(); ++i) {
            int d =
                std::abs(palette[i].red - r) + std::abs(palette[i].green - g) + std::abs(palette[i].blue - b);
            if (d < bestD) {
                bestD = d;
                best = static_cast<int>(i);
            }
        }
        return cache[cell] = best;
    }
    int component(int index, int c) const {
        const GifRGB& e = palette[static_cast<size_t>(index)];
        return c == 0 ? e.red : c == 1 ? e.green : e.blue;
    }
};

struct Tap {
    int row, offset, weight;
};

// Error diffusion over a full matrix of pending errors, serpentine, with the given kernel
// (Floyd-Steinberg: divisor 16, rounding 8).
std::vector<uint8_t> referenceDither(const Image& im, ReferenceLookup& lookup, const std::vector<Tap>& taps,
                                     int divisor) {
    const int w = im.width, h = im.height;
    std::vector<int> pending(static_cast<size_t>(w) * h * 3, 0);
    std::vector<uint8_t> out(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
        const int dir = y % 2 == 0 ? 1 : -1;
        for (int i = 0; i < w; ++i) {
            const int x = dir > 0 ? i : w - 1 - i;
            int v[3];
            for (int c = 0; c < 3; ++c) {
                const int p = pending[(static_cast<size_t>(y) * w + x) * 3 + c];
                v[c] = std::clamp(im.at(x, y, c) + (p + divisor / 2) / divisor, 0, 255);
            }
            const int index = lookup.nearest(v[0], v[1], v[2]);
            out[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(index);
            for (int c = 0; c < 3; ++c) {
                const int err = v[c] - lookup.component(index, c);
                for (const Tap& t : taps) {
                    const int tx = x + t.offset * dir, ty = y + t.row;
                    if (tx >= 0 && tx < w && ty < h)
                        pending[(static_cast<size_t>(ty) * w + tx) * 3 + c] += err * t.weight;
                }
            }
        }
    }
    return out;
}

const std::vector<Tap> FloydTaps = {{0, 1, 7}, {1, -1, 3}, {1, 0, 5}, {1, 1, 1}};
const std::vector<Tap> StuckiTaps = {{0, 1, 8}, {0, 2, 4},  {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4},
                                     {1, 2, 2}, {2, -2, 1}, {2, -1, 2}, {2, 0, 4},  {2, 1, 2}, {2, 2, 1}};
const std::vector<Tap> SierraTaps = {{0, 1, 5}, {0, 2, 3},  {1, -2, 2}, {1, -1, 4}, {1, 0, 5}, {1, 1, 4},
                                     {1, 2, 2}, {2, -2, 0}, {2, -1, 2}, {2, 0, 3},  {2, 1, 2}, {2, 2, 0}};
const std::vector<Tap> JaJuNiTaps = {{0, 1, 7}, {0, 2, 5},  {1, -2, 3}, {1, -1, 5}, {1, 0, 7}, {1, 1, 5},
                                     {1, 2, 3}, {2, -2, 1}, {2, -1, 3}, {2, 0, 5},  {2, 1, 3}, {2, 2, 1}};
const std::vector<Tap> BurkesTaps = {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4},
                                     {1, 0, 8}, {1, 1, 4}, {1, 2, 2}};
const std::vector<Tap> SteveArcheTaps = {{0, 1, 0},   {0, 2, 32},  {1, -3, 12}, {1, -1, 26}, {1, 1, 30},
                                         {1, 3, 16},  {2, -2, 12}, {2, 0, 26},  {2, 2, 12},  {3, -3, 5},
                                         {3, -1, 12}, {3, 1, 12},  {3, 3, 5}};

std::vector<GifRGB> mode8LikePalette(uint32_t seed) {
    std::vector<GifRGB> p(256);
    const auto& sys = SystemColors();
    std::mt19937 rng(seed);
    for (int i = 0; i < 10; ++i) {
        p[i] = sys[i];
        p[246 + i] = sys[10 + i];
    }
    for (int i = 10; i < 246; ++i)
        p[i] = {static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng())};
    return p;
}

} // namespace

TEST(GifLookup, CacheCellOfAColour) {
    EXPECT_EQ(TFastColorLookup::cellOf(0, 0, 0), 0);
    EXPECT_EQ(TFastColorLookup::cellOf(8, 0, 0), 1);
    EXPECT_EQ(TFastColorLookup::cellOf(0, 8, 0), 32);
    EXPECT_EQ(TFastColorLookup::cellOf(0, 0, 8), 1024);
    EXPECT_EQ(TFastColorLookup::cellOf(255, 255, 255), 32767);
}

TEST(GifLookup, LowestIndexWinsACellAndTheCacheDecides) {
    // Entries 0 and 1 share a cell: the lowest index holds it, even for a colour nearer entry 1.
    const GifRGB shared[] = {{10, 10, 10}, {14, 14, 14}};
    TFastColorLookup a(shared, 2);
    EXPECT_EQ(a.cacheSlot(TFastColorLookup::cellOf(10, 10, 10)), 0);
    EXPECT_EQ(a.nearest(15, 15, 15), 0);

    // The first colour looked up in an empty cell decides for the whole cell.
    const GifRGB two[] = {{0, 0, 0}, {50, 50, 50}};
    TFastColorLookup b(two, 2);
    EXPECT_EQ(b.cacheSlot(TFastColorLookup::cellOf(24, 24, 24)), -1);
    EXPECT_EQ(b.nearest(24, 24, 24), 0); // 72 against 78
    EXPECT_EQ(b.nearest(31, 31, 31), 0); // 93 against 57: the cell says 0
    EXPECT_EQ(b.cacheSlot(TFastColorLookup::cellOf(31, 31, 31)), 0);
    TFastColorLookup c(two, 2);
    EXPECT_EQ(c.nearest(31, 31, 31), 1);
    EXPECT_EQ(c.nearest(24, 24, 24), 1);

    // Equal distances: the lowest index.
    const GifRGB tie[] = {{10, 0, 0}, {0, 10, 0}};
    TFastColorLookup d(tie, 2);
    EXPECT_EQ(d.nearest(0, 0, 0), 0);
    GifRGB e;
    EXPECT_EQ(d.Nearest(0, 0, 0, e), 0);
    EXPECT_EQ(e, (GifRGB{10, 0, 0}));
    EXPECT_EQ(d.Colors(), 2);
}

TEST(GifLookup, SystemColourCellBeatsAnExactLaterEntry) {
    // Colour (3, 3, 3) lies in the cell of system colour 0 (black): it maps there even though
    // the palette holds it exactly at a higher index.
    auto p = mode8LikePalette(1);
    p[10] = {3, 3, 3};
    TFastColorLookup lookup(p.data(), 256);
    EXPECT_EQ(lookup.nearest(3, 3, 3), 0);
}

TEST(GifLookup, NetscapeGrayMonochrome) {
    TNetscapeColorLookup ns;
    EXPECT_EQ(ns.Colors(), 216);
    EXPECT_EQ(ns.nearest(0, 0, 0), 0);
    EXPECT_EQ(ns.nearest(255, 255, 255), 215);
    EXPECT_EQ(ns.nearest(47, 48, 255), 0 * 36 + 1 * 6 + 5); // (47 + 3) div 51 = 0, (48 + 3) div 51 = 1
    GifRGB e;
    EXPECT_EQ(ns.Nearest(100, 200, 30, e), 36 * 2 + 6 * 3 + 0);
    EXPECT_EQ(e, (GifRGB{102, 153, 0}));

    TGrayScaleLookup gray;
    EXPECT_EQ(gray.Colors(), 256);
    EXPECT_EQ(gray.nearest(255, 255, 255), 255);
    EXPECT_EQ(gray.nearest(100, 50, 10), (77 * 100 + 150 * 50 + 29 * 10) >> 8);
    EXPECT_EQ(gray.Nearest(10, 20, 30, e), (77 * 10 + 150 * 20 + 29 * 30) >> 8);
    EXPECT_EQ(e.red, e.green);

    TMonochromeLookup mono;
    EXPECT_EQ(mono.Colors(), 2);
    EXPECT_EQ(mono.nearest(127, 127, 127), 0); // 256 * 127 = 32512
    EXPECT_EQ(mono.nearest(127, 127, 128), 1); // 32541
    EXPECT_EQ(mono.Nearest(255, 255, 255, e), 1);
    EXPECT_EQ(e, (GifRGB{255, 255, 255}));
}

TEST(GifDither, RowsAlternateDirectionStartingLeftToRight) {
    Image im{3, 4, std::vector<uint8_t>(3 * 4 * 3)};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 3; ++x)
            im.bgr[(y * 3 + x) * 3 + 2] = static_cast<uint8_t>(100 + x); // red = 100 + column
    SpyLookup spy;
    runEngine<TDitherEngine<SpyLookup>>(spy, im);
    std::vector<int> order;
    for (auto& a : spy.asked)
        order.push_back(a[0] - 100);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 2, 1, 0, 0, 1, 2, 2, 1, 0}));

    // The engine's own column and direction.
    SpyLookup s2;
    TFloydSteinbergDitherer<SpyLookup> fs(3, s2);
    EXPECT_EQ(fs.Column(), 0);
    EXPECT_EQ(fs.Direction(), 1);
    fs.MapPixel(1, 2, 3);
    EXPECT_EQ(fs.Column(), 1);
    fs.EndRow();
    EXPECT_EQ(fs.Direction(), -1);
    EXPECT_EQ(fs.Column(), 2);
    fs.EndRow();
    EXPECT_EQ(fs.Column(), 0);
}

TEST(GifDither, OnePixelWideImageAlternates) {
    Image im{1, 5, std::vector<uint8_t>(5 * 3, 90)};
    SpyLookup spy;
    const auto out = runEngine<TFloydSteinbergDitherer<SpyLookup>>(spy, im);
    ASSERT_EQ(spy.asked.size(), 5u);
    // Error -10 each row; only 5/16 comes down (no neighbours): 90 + (-50 + 8) / 16 = 88.
    EXPECT_EQ(spy.asked[0][0], 90);
    EXPECT_EQ(spy.asked[1][0], 88);
    ReferenceLookup ref({{100, 100, 100}});
    EXPECT_EQ(out, referenceDither(im, ref, FloydTaps, 16));
}

TEST(GifDither, MinusNineTruncatesToZero) {
    // Row 0: errors -2 and -3 (one palette colour, 100); row 1 starts at column 1 with
    // (1 * -2 + 5 * -3 + 8) = -9 pending: the correction is 0, not -1.
    Image im{2, 2, {98, 98, 98, 97, 97, 97, 100, 100, 100, 100, 100, 100}};
    SpyLookup spy;
    runEngine<TFloydSteinbergDitherer<SpyLookup>>(spy, im);
    ASSERT_EQ(spy.asked.size(), 4u);
    EXPECT_EQ(spy.asked[0], (std::array<int, 3>{98, 98, 98}));
    EXPECT_EQ(spy.asked[1], (std::array<int, 3>{97, 97, 97})); // (7 * -2 + 8) div 16 = 0
    EXPECT_EQ(spy.asked[2], (std::array<int, 3>{100, 100, 100}));
}

TEST(GifDither, ClampsBeforeTheLookup) {
    // A big positive error pushes the next pixel past 255: it is clamped, and the error that
    // goes on is computed from the clamped value.
    Image im{3, 1, {255, 255, 255, 250, 250, 250, 200, 200, 200}};
    SpyLookup spy;
    spy.colour = {0, 0, 0};
    runEngine<TFloydSteinbergDitherer<SpyLookup>>(spy, im);
    EXPECT_EQ(spy.asked[1][0], 255); // 250 + (7 * 255 + 8) / 16 = 362
    EXPECT_EQ(spy.asked[2][0], std::clamp(200 + (7 * 255 + 8) / 16, 0, 255)); // 255 - 0 again
    Image low{2, 1, {0, 0, 0, 3, 3, 3}};
    SpyLookup up;
    up.colour = {200, 200, 200};
    runEngine<TFloydSteinbergDitherer<SpyLookup>>(up, low);
    EXPECT_EQ(up.asked[1][0], 0);
}

TEST(GifDither, FlatImageOnAPaletteEntryHasNoError) {
    const auto p = mode8LikePalette(3);
    Image im{17, 9, std::vector<uint8_t>(17 * 9 * 3)};
    for (size_t i = 0; i < im.bgr.size(); i += 3) {
        im.bgr[i] = p[77].blue;
        im.bgr[i + 1] = p[77].green;
        im.bgr[i + 2] = p[77].red;
    }
    TFastColorLookup lookup(p.data(), 256);
    const int expected = lookup.nearest(p[77].red, p[77].green, p[77].blue);
    TFastColorLookup fresh(p.data(), 256);
    for (int kind = 0; kind <= 6; ++kind) {
        TFastColorLookup l(p.data(), 256);
        std::vector<uint8_t> out(17 * 9);
        std::vector<uint8_t*> outRows;
        for (int y = 0; y < 9; ++y)
            outRows.push_back(out.data() + y * 17);
        const auto rows = im.rows();
        ASSERT_TRUE(ditherImage(static_cast<GifDitherKind>(kind), l, 17, 9, rows.data(), outRows.data()));
        for (uint8_t v : out)
            EXPECT_EQ(v, expected) << kind;
    }
    EXPECT_FALSE(ditherImage(static_cast<GifDitherKind>(7), fresh, 1, 1, nullptr, nullptr));
}

TEST(GifDither, NearestWithoutDiffusionIsTheSameForEqualColours) {
    const auto p = mode8LikePalette(4);
    const Image im = randomImage(40, 30, 5, false);
    TFastColorLookup lookup(p.data(), 256);
    const auto out = runEngine<TDitherEngine<TFastColorLookup>>(lookup, im);
    TFastColorLookup again(p.data(), 256);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            EXPECT_EQ(out[y * 40 + x], again.nearest(im.at(x, y, 0), im.at(x, y, 1), im.at(x, y, 2)));
}

TEST(GifDither, EveryEngineMatchesAFullMatrixReference) {
    struct Case {
        int kind;
        const std::vector<Tap>* taps;
        int divisor;
    };
    const Case cases[] = {{1, &FloydTaps, 16},  {2, &StuckiTaps, 42},      {3, &SierraTaps, 32},
                          {4, &JaJuNiTaps, 48}, {5, &SteveArcheTaps, 200}, {6, &BurkesTaps, 32}};
    for (const Case& c : cases) {
        for (uint32_t seed = 0; seed < 6; ++seed) {
            const int w = 1 + static_cast<int>(seed * 13 % 50), h = 1 + static_cast<int>(seed * 7 % 23);
            const Image im = randomImage(w, h, seed, seed % 2 == 0);
            const auto palette = mode8LikePalette(seed);
            TFastColorLookup lookup(palette.data(), 256);
            std::vector<uint8_t> out(static_cast<size_t>(w) * h);
            std::vector<uint8_t*> outRows;
            for (int y = 0; y < h; ++y)
                outRows.push_back(out.data() + static_cast<size_t>(y) * w);
            const auto rows = im.rows();
            ASSERT_TRUE(
                ditherImage(static_cast<GifDitherKind>(c.kind), lookup, w, h, rows.data(), outRows.data()));
            ReferenceLookup ref(palette);
            EXPECT_EQ(out, referenceDither(im, ref, *c.taps, c.divisor))
                << "kind " << c.kind << " seed " << seed;
        }
    }
}

TEST(GifLookup, SearchAgreesWithAPlainScanForEveryPaletteSize) {
    for (ColorSearchPath path : {ColorSearchPath::Scalar, ColorSearchPath::Sse2, ColorSearchPath::Avx2}) {
        if (!colorSearchPathAvailable(path))
            continue;
        std::mt19937 rng(42);
        for (int count = 1; count <= 256; count += (count < 20 ? 1 : 13)) {
            std::vector<GifRGB> palette(static_cast<size_t>(count));
            for (auto& e : palette) // few distinct values: many equal distances
                e = {static_cast<uint8_t>(rng() % 5 * 60), static_cast<uint8_t>(rng() % 5 * 60),
                     static_cast<uint8_t>(rng() % 5 * 60)};
            TFastColorLookup lookup(palette.data(), count, path);
            ReferenceLookup ref(palette);
            for (int i = 0; i < 3000; ++i) {
                const int r = static_cast<int>(rng() % 256), g = static_cast<int>(rng() % 256),
                          b = static_cast<int>(rng() % 256);
                ASSERT_EQ(lookup.nearest(r, g, b), ref.nearest(r, g, b))
                    << count << " path " << static_cast<int>(path);
            }
        }
    }
}

namespace {
// Floyd-Steinberg through MapPixel alone, hiding the engine's whole-row path.
struct PixelOnlyFloyd {
    TFloydSteinbergDitherer<TFastColorLookup> engine;
    PixelOnlyFloyd(int width, TFastColorLookup& lookup) : engine(width, lookup) {}
    int MapPixel(int r, int g, int b) { return engine.MapPixel(r, g, b); }
    int Column() const { return engine.Column(); }
    void EndRow() { engine.EndRow(); }
};
} // namespace

TEST(GifDither, FloydRowPathEqualsPixelPath) {
    for (uint32_t seed = 0; seed < 8; ++seed) {
        const int w = 1 + static_cast<int>(seed * 29 % 90), h = 1 + static_cast<int>(seed * 11 % 40);
        const Image im = randomImage(w, h, seed + 50, seed % 3 != 0);
        const auto palette = mode8LikePalette(seed + 9);
        TFastColorLookup a(palette.data(), 256), b(palette.data(), 256);
        EXPECT_EQ(runEngine<TFloydSteinbergDitherer<TFastColorLookup>>(a, im),
                  runEngine<PixelOnlyFloyd>(b, im));
    }
}
