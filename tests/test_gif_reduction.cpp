// Colour reduction: the octree's leaves, merge order and export order, the palettes of every
// mode, and the reduction driver against a plain composition of quantizer, lookup and ditherer.
#include "gif/GifErrors.h"
#include "gif/GifReduction.h"
#include "raster/Bitmap.h"
#include "support/GifDecode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

using namespace kelvara;
using kelvara::test::makeBitmap24;

namespace {

// A plain recursive octree as the algorithm is written, with its own allocation.
class ReferenceOctree {
public:
    struct Node {
        bool leaf = false;
        long count = 0, r = 0, g = 0, b = 0;
        Node* next = nullptr;
        Node* child[8] = {};
    };
    ReferenceOctree(int maxColors) : m_max(maxColors) {}
    ~ReferenceOctree() { destroy(m_root); }
    void add(int r, int g, int b) {
        addColor(m_root, r, g, b, 0);
        while (m_leaves > m_max)
            reduce();
    }
    std::vector<GifRGB> colors() const {
        std::vector<GifRGB> out;
        if (m_root)
            collect(m_root, out);
        return out;
    }
    int leaves() const { return m_leaves; }

private:
    void destroy(Node* n) {
        if (!n)
            return;
        for (Node* c : n->child)
            destroy(c);
        delete n;
    }
    void addColor(Node*& node, int r, int g, int b, int level) {
        if (!node) {
            node = new Node;
            if (level == 8) {
                node->leaf = true;
                ++m_leaves;
            } else {
                node->next = m_reducible[level];
                m_reducible[level] = node;
            }
        }
        if (node->leaf) {
            ++node->count;
            node->r += r;
            node->g += g;
            node->b += b;
            return;
        }
        const int mask = 0x80 >> level, shift = 7 - level;
        const int index = ((r & mask) >> shift) * 4 + ((g & mask) >> shift) * 2 + ((b & mask) >> shift);
        addColor(node->child[index], r, g, b, level + 1);
    }
    void reduce() {
        int i = 7;
        while (i > 0 && !m_reducible[i])
            --i;
        Node* n = m_reducible[i];
        m_reducible[i] = n->next;
        long r = 0, g = 0, b = 0;
        int children = 0;
        for (Node*& c : n->child) {
            if (!c)
                continue;
            r += c->r;
            g += c->g;
            b += c->b;
            n->count += c->count;
            delete c;
            c = nullptr;
            ++children;
        }
        n->leaf = true;
        n->r = r;
        n->g = g;
        n->b = b;
        m_leaves -= children - 1;
    }
    void collect(const Node* n, std::vector<GifRGB>& out) const {
        if (n->leaf) {
            out.push_back({static_cast<uint8_t>(n->r / n->count), static_cast<uint8_t>(n->g / n->count),
                           static_cast<uint8_t>(n->b / n->count)});
            return;
        }
        for (const Node* c : n->child)
            if (c)
                collect(c, out);
    }
    Node* m_root = nullptr;
    Node* m_reducible[8] = {};
    int m_leaves = 0;
    int m_max;
};

uint32_t interleavedKey(const GifRGB& c) {
    uint32_t key = 0;
    for (int bit = 7; bit >= 0; --bit)
        key =
            (key << 3) | (((c.red >> bit) & 1) << 2) | (((c.green >> bit) & 1) << 1) | ((c.blue >> bit) & 1);
    return key;
}

std::vector<const uint8_t*> rowsOf(const Bitmap& b) {
    std::vector<const uint8_t*> rows;
    for (int y = 0; y < b.Height(); ++y)
        rows.push_back(b.ScanLine(y));
    return rows;
}

std::vector<GifRGB> distinctColors(int n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::set<uint32_t> seen;
    std::vector<GifRGB> colors;
    while (static_cast<int>(colors.size()) < n) {
        const uint32_t v = rng() & 0xFFFFFF;
        if (seen.insert(v).second)
            colors.push_back(
                {static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
    }
    return colors;
}

void expectSystemFrame(const std::vector<GifRGB>& palette) {
    ASSERT_EQ(palette.size(), 256u);
    const auto& sys = SystemColors();
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(palette[i], sys[i]) << i;
        EXPECT_EQ(palette[246 + i], sys[10 + i]) << i;
    }
}

} // namespace

TEST(GifReduction, SystemColoursTable) {
    const auto& s = SystemColors();
    EXPECT_EQ(s[0], (GifRGB{0, 0, 0}));
    EXPECT_EQ(s[8], (GifRGB{192, 220, 192}));
    EXPECT_EQ(s[9], (GifRGB{166, 202, 240}));
    EXPECT_EQ(s[10], (GifRGB{255, 251, 240}));
    EXPECT_EQ(s[11], (GifRGB{160, 160, 164}));
    EXPECT_EQ(s[19], (GifRGB{255, 255, 255}));
}

TEST(GifReduction, HalftonePaletteLayout) {
    const auto& h = HalftonePalette();
    const auto& s = SystemColors();
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(h[i], s[i]);
        EXPECT_EQ(h[246 + i], s[10 + i]);
    }
    EXPECT_EQ(h[10], (GifRGB{0, 0, 0}));
    EXPECT_EQ(h[10 + 36 * 5 + 6 * 2 + 1], (GifRGB{255, 102, 51}));
    EXPECT_EQ(h[225], (GifRGB{255, 255, 255}));
    EXPECT_EQ(h[226], (GifRGB{12, 12, 12}));
    EXPECT_EQ(h[245], (GifRGB{243, 243, 243}));
}

TEST(GifReduction, FlatFrameGivesOneLeafAtEntryTen) {
    auto bitmap = makeBitmap24(31, 17, [](int, int) { return rgbColor(12, 200, 77); });
    TColorQuantizer q(236, 8);
    q.AddImage(*bitmap);
    EXPECT_EQ(q.LeafCount(), 1);
    const auto rows = rowsOf(*bitmap);
    const auto palette = QuantizeWithSystemColors(31, 17, rows.data());
    expectSystemFrame(palette);
    EXPECT_EQ(palette[10], (GifRGB{12, 200, 77}));
    // Octree slots without a leaf are black.
    for (int i = 11; i < 246; ++i)
        EXPECT_EQ(palette[i], (GifRGB{0, 0, 0})) << i;
}

TEST(GifReduction, FewColoursStandInBitInterleavedOrder) {
    for (int n : {1, 2, 17, 100, 235, 236}) {
        const auto colors = distinctColors(n, static_cast<uint32_t>(n));
        std::mt19937 rng(n);
        const int w = 50, h = 40;
        std::vector<GifRGB> pixels(static_cast<size_t>(w) * h);
        for (int i = 0; i < n; ++i)
            pixels[static_cast<size_t>(i)] = colors[static_cast<size_t>(i)];
        for (size_t i = static_cast<size_t>(n); i < pixels.size(); ++i)
            pixels[i] = colors[rng() % static_cast<uint32_t>(n)];
        std::shuffle(pixels.begin(), pixels.end(), rng);
        auto bitmap = makeBitmap24(w, h, [&](int x, int y) {
            const GifRGB& c = pixels[static_cast<size_t>(y) * w + x];
            return rgbColor(c.red, c.green, c.blue);
        });
        const auto rows = rowsOf(*bitmap);
        const auto palette = QuantizeWithSystemColors(w, h, rows.data());
        expectSystemFrame(palette);
        auto sorted = colors;
        std::sort(sorted.begin(), sorted.end(),
                  [](const GifRGB& a, const GifRGB& b) { return interleavedKey(a) < interleavedKey(b); });
        for (int i = 0; i < n; ++i)
            EXPECT_EQ(palette[10 + i], sorted[static_cast<size_t>(i)]) << n << " " << i;
        for (int i = 10 + n; i < 246; ++i)
            EXPECT_EQ(palette[i], (GifRGB{0, 0, 0}));
    }
}

TEST(GifReduction, ManyColoursMergeDeepestNewestFirst) {
    for (uint32_t seed = 0; seed < 8; ++seed) {
        const int w = 64 + static_cast<int>(seed) * 9, h = 48 + static_cast<int>(seed) * 5;
        std::mt19937 rng(seed);
        auto bitmap = makeBitmap24(w, h, [&](int x, int y) {
            if (seed % 2)
                return static_cast<Color>(rng() & 0xFFFFFF);
            return rgbColor((x * 4 + static_cast<int>(rng() % 30)) & 255, (y * 5) & 255,
                            (x * y + static_cast<int>(rng() % 9)) & 255);
        });
        TColorQuantizer q(236, 8);
        q.AddImage(*bitmap);
        ReferenceOctree ref(236);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const Color c = bitmap->pixel(x, y);
                ref.add(redOf(c), greenOf(c), blueOf(c));
            }
        EXPECT_EQ(q.LeafCount(), ref.leaves());
        EXPECT_LE(q.LeafCount(), 236);
        GifRGB table[256] = {};
        q.ExportColors(table);
        const auto expected = ref.colors();
        ASSERT_EQ(expected.size(), static_cast<size_t>(q.LeafCount()));
        for (size_t i = 0; i < expected.size(); ++i)
            EXPECT_EQ(table[i], expected[i]) << seed << " " << i;
    }
}

TEST(GifReduction, RunsOfOneColourAcrossReductions) {
    // Long runs of equal colours between many distinct ones exercise the same-colour shortcut
    // across reductions.
    std::mt19937 rng(77);
    const int w = 300, h = 200;
    std::vector<Color> px;
    while (px.size() < static_cast<size_t>(w) * h) {
        const Color c = rng() & 0xFFFFFF;
        const size_t len = 1 + rng() % 12;
        for (size_t i = 0; i < len; ++i)
            px.push_back(c);
    }
    // Fed pixel by pixel and as a picture, whose runs (also across row ends) take the shortcut.
    TColorQuantizer q(236, 8), picture(236, 8);
    ReferenceOctree ref(236);
    for (int i = 0; i < w * h; ++i) {
        q.AddColor(redOf(px[i]), greenOf(px[i]), blueOf(px[i]));
        ref.add(redOf(px[i]), greenOf(px[i]), blueOf(px[i]));
    }
    picture.AddImage(*makeBitmap24(w, h, [&](int x, int y) { return px[size_t(y) * w + x]; }));
    const auto expected = ref.colors();
    for (const TColorQuantizer* quantizer : {&q, &picture}) {
        EXPECT_EQ(quantizer->LeafCount(), ref.leaves());
        GifRGB table[256] = {};
        quantizer->ExportColors(table);
        for (size_t i = 0; i < expected.size(); ++i)
            EXPECT_EQ(table[i], expected[i]) << i;
    }
}

TEST(GifReduction, ModeSevenUsesTwoToTheQuantizeBits) {
    auto bitmap = kelvara::test::gradientNoiseFrame(60, 40, 3);
    for (int bits : {1, 3, 8}) {
        auto result =
            ReduceColors(*bitmap, GifReductionMode::Quantize, GifDitherKind::FloydSteinberg, nullptr, bits);
        ASSERT_EQ(result->PixelFormat(), PixelFormat::Bits8);
        ASSERT_EQ(result->palette().size(), 256u);
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 60; ++x)
                EXPECT_LT(result->ScanLine(y)[x], 1 << bits);
        for (int i = 1 << bits; i < 256; ++i)
            EXPECT_EQ(result->palette()[i].color(), 0u);
    }
}

TEST(GifReduction, FixedPalettesOfTheModes) {
    auto bitmap = kelvara::test::gradientNoiseFrame(40, 30, 9);
    struct Case {
        int mode;
        int colors;
    };
    for (const Case c : {Case{1, 20}, Case{2, 256}, Case{3, 4}, Case{4, 2}, Case{5, 256}, Case{6, 216}}) {
        for (int kind = 0; kind <= 6; ++kind) {
            auto result = ReduceColors(*bitmap, static_cast<GifReductionMode>(c.mode),
                                       static_cast<GifDitherKind>(kind), nullptr, 8);
            ASSERT_EQ(result->PixelFormat(), PixelFormat::Bits8);
            ASSERT_EQ(result->palette().size(), 256u);
            for (int y = 0; y < 30; ++y)
                for (int x = 0; x < 40; ++x)
                    EXPECT_LT(result->ScanLine(y)[x], c.colors) << c.mode << " " << kind;
        }
    }
    auto grey = ReduceColors(*bitmap, GifReductionMode::FourGreys, GifDitherKind::Nearest, nullptr, 8);
    EXPECT_EQ(grey->palette()[1].color(), rgbColor(128, 128, 128));
    EXPECT_EQ(grey->palette()[2].color(), rgbColor(192, 192, 192));
    EXPECT_EQ(grey->palette()[4].color(), 0u);
    auto cube = ReduceColors(*bitmap, GifReductionMode::Netscape, GifDitherKind::Nearest, nullptr, 8);
    EXPECT_EQ(cube->palette()[36 * 1 + 6 * 2 + 3].color(), rgbColor(51, 102, 153));
    auto mono = ReduceColors(*bitmap, GifReductionMode::Monochrome, GifDitherKind::Nearest, nullptr, 8);
    EXPECT_EQ(mono->palette()[1].color(), rgbColor(255, 255, 255));
}

TEST(GifReduction, ModeZeroNineAndBadSettings) {
    auto bitmap = kelvara::test::gradientNoiseFrame(20, 10, 1);
    auto copy = ReduceColors(*bitmap, GifReductionMode::None, GifDitherKind::FloydSteinberg, nullptr, 8);
    EXPECT_EQ(copy->PixelFormat(), PixelFormat::Bits24);
    EXPECT_EQ(copy->pixel(5, 5), bitmap->pixel(5, 5));

    auto none =
        ReduceColors(*bitmap, GifReductionMode::SuppliedPalette, GifDitherKind::FloydSteinberg, nullptr, 8);
    EXPECT_TRUE(none->Empty());
    const std::vector<GifRGB> two = {{0, 0, 0}, {255, 255, 255}};
    auto supplied = ReduceColors(*bitmap, GifReductionMode::SuppliedPalette, GifDitherKind::Nearest, &two, 8);
    ASSERT_EQ(supplied->palette().size(), 256u);
    EXPECT_EQ(supplied->palette()[1].color(), rgbColor(255, 255, 255));

    try {
        ReduceColors(*bitmap, static_cast<GifReductionMode>(11), GifDitherKind::FloydSteinberg, nullptr, 8);
        FAIL();
    } catch (const GIFException& e) {
        EXPECT_STREQ(e.what(), GifMessages::UnsupportedReductionMode);
    }
    EXPECT_THROW(ReduceColors(*bitmap, GifReductionMode::QuantizeWithSystemColors,
                              static_cast<GifDitherKind>(7), nullptr, 8),
                 GIFException);
}

TEST(GifReduction, SourceIsSetToTwentyFourBitsInPlace) {
    Bitmap b;
    b.SetPixelFormat(PixelFormat::Bits32);
    b.SetSize(8, 8);
    b.setPixel(3, 3, rgbColor(10, 20, 30));
    auto r = ReduceColors(b, GifReductionMode::QuantizeWithSystemColors, GifDitherKind::FloydSteinberg,
                          nullptr, 8);
    EXPECT_EQ(b.PixelFormat(), PixelFormat::Bits24);
    EXPECT_EQ(r->PixelFormat(), PixelFormat::Bits8);
}

TEST(GifReduction, ModeEightIsQuantizerThenFloydSteinberg) {
    // The driver's indices are those of the cached lookup over the mode 8 palette with
    // Floyd-Steinberg, computed here step by step with the engine's parts.
    auto bitmap = kelvara::test::gradientNoiseFrame(97, 61, 11);
    auto result = ReduceColors(*bitmap, GifReductionMode::QuantizeWithSystemColors,
                               GifDitherKind::FloydSteinberg, nullptr, 8);
    const auto rows = rowsOf(*bitmap);
    const auto palette = QuantizeWithSystemColors(97, 61, rows.data());
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(result->palette()[i], (PaletteEntry{palette[i].blue, palette[i].green, palette[i].red, 0}));
    TFastColorLookup lookup(palette.data(), 256);
    TFloydSteinbergDitherer<TFastColorLookup> fs(97, lookup);
    std::vector<uint8_t> out(97 * 61);
    std::vector<uint8_t*> outRows;
    for (int y = 0; y < 61; ++y)
        outRows.push_back(out.data() + y * 97);
    ditherRows(fs, 97, 61, rows.data(), outRows.data());
    for (int y = 0; y < 61; ++y)
        for (int x = 0; x < 97; ++x)
            ASSERT_EQ(result->ScanLine(y)[x], out[y * 97 + x]);
}

TEST(GifReduction, SuccessiveFramesHaveIndependentPalettes) {
    auto a = makeBitmap24(10, 10, [](int, int) { return rgbColor(200, 0, 0); });
    auto b = makeBitmap24(10, 10, [](int, int) { return rgbColor(0, 0, 200); });
    auto ra = ReduceColors(*a, GifReductionMode::QuantizeWithSystemColors, GifDitherKind::FloydSteinberg,
                           nullptr, 8);
    auto rb = ReduceColors(*b, GifReductionMode::QuantizeWithSystemColors, GifDitherKind::FloydSteinberg,
                           nullptr, 8);
    EXPECT_EQ(ra->palette()[10].color(), rgbColor(200, 0, 0));
    EXPECT_EQ(rb->palette()[10].color(), rgbColor(0, 0, 200));
}
