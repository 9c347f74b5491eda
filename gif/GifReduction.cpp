// Colour reduction: reduction palettes, the octree quantizer and the reduction driver.
#include "gif/GifReduction.h"

#include "gif/GifErrors.h"
#include "gif/GifRefined.h"
#include "raster/Bitmap.h"
#include "raster/Error.h"

#include <algorithm>
#include <new>

namespace kelvara {

// ---- palettes ----

const std::array<GifRGB, 20>& SystemColors() {
    static const std::array<GifRGB, 20> colors = {{
        {0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
        {128, 0, 128},   {0, 128, 128},   {192, 192, 192}, {192, 220, 192}, {166, 202, 240},
        {255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},     {0, 255, 0},
        {255, 255, 0},   {0, 0, 255},     {255, 0, 255},   {0, 255, 255},   {255, 255, 255},
    }};
    return colors;
}

const std::array<GifRGB, 256>& HalftonePalette() {
    static const std::array<GifRGB, 256> palette = [] {
        std::array<GifRGB, 256> p{};
        const auto& system = SystemColors();
        for (int i = 0; i < 10; ++i) {
            p[i] = system[i];
            p[246 + i] = system[10 + i];
        }
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 6; ++g)
                for (int b = 0; b < 6; ++b)
                    p[10 + 36 * r + 6 * g + b] = {static_cast<uint8_t>(51 * r), static_cast<uint8_t>(51 * g),
                                                  static_cast<uint8_t>(51 * b)};
        for (int k = 0; k < 20; ++k) {
            const uint8_t v = static_cast<uint8_t>((255 * (k + 1) + 10) / 21);
            p[226 + k] = {v, v, v};
        }
        return p;
    }();
    return palette;
}

// ---- TColorQuantizer ----

namespace {
constexpr size_t ChunkNodes = 512;
}

TColorQuantizer::TColorQuantizer(int maxColors, int colorBits)
    : m_maxColors(std::clamp(maxColors, 1, 256)), m_colorBits(std::clamp(colorBits, 1, 8)),
      m_prefixCache(std::make_unique<PrefixSlot[]>(size_t(1) << (3 * PrefixLevels))) {}

TColorQuantizer::~TColorQuantizer() = default; // the chunks own every node

TOctreeNode* TColorQuantizer::newNode(int level) {
    TOctreeNode* node;
    if (m_free) {
        node = m_free;
        m_free = node->Next;
        *node = TOctreeNode{};
    } else {
        if (m_chunks.empty() || m_chunkUsed == ChunkNodes) {
            m_chunks.push_back(std::make_unique<TOctreeNode[]>(ChunkNodes));
            m_chunkUsed = 0;
        }
        node = &m_chunks.back()[m_chunkUsed++];
    }
    if (level == m_colorBits) {
        node->IsLeaf = true;
        ++m_leafCount;
    } else {
        node->Next = m_reducible[level];
        m_reducible[level] = node;
    }
    return node;
}

void TColorQuantizer::freeNode(TOctreeNode* node) {
    node->Next = m_free;
    m_free = node;
}

void TColorQuantizer::AddColor(int red, int green, int blue) {
    // The walk of the tree, from the root or from the node the prefix shortcut holds.
    constexpr int shift = 8 - PrefixLevels;
    const uint32_t prefix = (static_cast<uint32_t>(red >> shift) << (2 * PrefixLevels)) |
                            (static_cast<uint32_t>(green >> shift) << PrefixLevels) |
                            static_cast<uint32_t>(blue >> shift);
    PrefixSlot& shortcut = m_prefixCache[prefix];
    TOctreeNode* node;
    int level;
    if (shortcut.generation == m_generation) {
        node = shortcut.node;
        level = shortcut.level;
    } else {
        if (!m_root)
            m_root = newNode(0);
        node = m_root;
        level = 0;
        while (!node->IsLeaf && level < PrefixLevels) {
            const int s = 7 - level;
            const int index = (((red >> s) & 1) << 2) | (((green >> s) & 1) << 1) | ((blue >> s) & 1);
            TOctreeNode*& child = node->Child[index];
            if (!child)
                child = newNode(level + 1);
            node = child;
            ++level;
        }
        shortcut = {node, m_generation, level};
    }
    while (!node->IsLeaf) {
        const int s = 7 - level;
        const int index = (((red >> s) & 1) << 2) | (((green >> s) & 1) << 1) | ((blue >> s) & 1);
        TOctreeNode*& child = node->Child[index];
        if (!child)
            child = newNode(level + 1);
        node = child;
        ++level;
    }
    ++node->PixelCount;
    node->RedSum += red;
    node->GreenSum += green;
    node->BlueSum += blue;
    m_lastLeaf = node;
    while (m_leafCount > m_maxColors && reduceTree())
        m_lastLeaf = nullptr; // the leaf may be gone
}

bool TColorQuantizer::reduceTree() {
    // The deepest level that has a reducible node, and its most recently created node.
    int i = m_colorBits - 1;
    while (i > 0 && !m_reducible[i])
        --i;
    TOctreeNode* node = m_reducible[i];
    if (!node)
        return false; // only the root is left (a maximum below one colour)
    m_reducible[i] = node->Next;
    node->Next = nullptr;
    int64_t red = 0, green = 0, blue = 0;
    int children = 0;
    for (TOctreeNode*& child : node->Child) {
        if (!child)
            continue;
        red += child->RedSum;
        green += child->GreenSum;
        blue += child->BlueSum;
        node->PixelCount += child->PixelCount;
        freeNode(child);
        child = nullptr;
        ++children;
    }
    node->IsLeaf = true;
    node->RedSum = red;
    node->GreenSum = green;
    node->BlueSum = blue;
    m_leafCount -= children - 1;
    // The destroyed children were at level i + 1: shortcuts down to that level may point at them.
    if (i < PrefixLevels && ++m_generation == 0) { // wrapped: forget every entry
        std::fill_n(m_prefixCache.get(), size_t(1) << (3 * PrefixLevels), PrefixSlot{});
        m_generation = 1;
    }
    return true;
}

void TColorQuantizer::AddImage(int width, int height, const uint8_t* const* rows) {
    // A pixel of the colour before it goes straight to the leaf that colour reached, while no
    // reduction has come since: the walk would end there, making no node and no reduction.
    uint32_t last = 0xFFFFFFFFu;
    for (int y = 0; y < height; ++y) {
        const uint8_t* p = rows[y];
        for (int x = 0; x < width; ++x, p += 3) {
            const uint32_t color = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
            if (color == last && m_lastLeaf) {
                TOctreeNode* leaf = m_lastLeaf;
                ++leaf->PixelCount;
                leaf->RedSum += p[2];
                leaf->GreenSum += p[1];
                leaf->BlueSum += p[0];
                continue;
            }
            AddColor(p[2], p[1], p[0]);
            last = color;
        }
    }
}

void TColorQuantizer::AddImage(const Bitmap& bitmap) {
    std::vector<const uint8_t*> rows(static_cast<size_t>(std::max(0, bitmap.Height())));
    for (int y = 0; y < bitmap.Height(); ++y)
        rows[y] = bitmap.ScanLine(y);
    AddImage(bitmap.Width(), bitmap.Height(), rows.data());
}

void TColorQuantizer::exportNode(const TOctreeNode* node, GifRGB* table, int& index) const {
    if (node->IsLeaf) {
        GifRGB& c = table[index++];
        if (node->PixelCount != 0) {
            c.red = static_cast<uint8_t>(node->RedSum / node->PixelCount);
            c.green = static_cast<uint8_t>(node->GreenSum / node->PixelCount);
            c.blue = static_cast<uint8_t>(node->BlueSum / node->PixelCount);
        } else {
            c = {0, 0, 0};
        }
        return;
    }
    for (const TOctreeNode* child : node->Child)
        if (child)
            exportNode(child, table, index);
}

void TColorQuantizer::ExportColors(GifRGB* table) const {
    int index = 0;
    if (m_root)
        exportNode(m_root, table, index);
}

// ---- palettes of the modes ----

std::vector<GifRGB> QuantizeWithSystemColors(int width, int height, const uint8_t* const* rows) {
    std::vector<GifRGB> palette(256);
    const auto& system = SystemColors();
    for (int i = 0; i < 10; ++i) {
        palette[i] = system[i];
        palette[246 + i] = system[10 + i];
    }
    TColorQuantizer quantizer(236, 8);
    quantizer.AddImage(width, height, rows);
    // Slots the octree leaves empty stay black (0, 0, 0).
    GifRGB table[256] = {};
    quantizer.ExportColors(table);
    std::copy(table, table + 236, palette.begin() + 10);
    return palette;
}

namespace {

std::vector<GifRGB> quantizePalette(int width, int height, const uint8_t* const* rows, int quantizeBits) {
    // QuantizeBits outside 1..8 is taken as the nearest of them.
    const int bits = std::clamp(quantizeBits, 1, 8);
    const int colors = 1 << bits;
    TColorQuantizer quantizer(colors, 8);
    quantizer.AddImage(width, height, rows);
    GifRGB table[256] = {};
    quantizer.ExportColors(table);
    return std::vector<GifRGB>(table, table + colors);
}

template <class Lookup>
void ditherWith(GifDitherKind ditherKind, Lookup& lookup, int width, int height, const uint8_t* const* rows,
                uint8_t* const* out) {
    if (!ditherImage(ditherKind, lookup, width, height, rows, out))
        throw GIFException(GifMessages::UnsupportedDitherMode);
}

} // namespace

bool reduceToIndices(int width, int height, const uint8_t* const* rows, GifReductionMode reductionMode,
                     GifDitherKind ditherKind, const std::vector<GifRGB>* palette, int quantizeBits,
                     uint8_t* indices, std::vector<GifRGB>& colorTable) {
    if (static_cast<int>(ditherKind) > static_cast<int>(GifDitherKind::Burkes))
        throw GIFException(GifMessages::UnsupportedDitherMode);
    if (reductionMode == GifReductionMode::Refined) {
        reduceRefined(width, height, rows, ditherKind, indices, colorTable);
        return !colorTable.empty();
    }
    std::vector<GifRGB> colors;
    enum class Kind { Fast, Netscape, Gray, Mono } kind = Kind::Fast;
    switch (reductionMode) {
    case GifReductionMode::SystemColors:
        colors.assign(SystemColors().begin(), SystemColors().end());
        break;
    case GifReductionMode::Halftone:
        colors.assign(HalftonePalette().begin(), HalftonePalette().end());
        break;
    case GifReductionMode::FourGreys:
        colors = {{0, 0, 0}, {128, 128, 128}, {192, 192, 192}, {255, 255, 255}};
        break;
    case GifReductionMode::Monochrome:
        colors = {{0, 0, 0}, {255, 255, 255}};
        kind = Kind::Mono;
        break;
    case GifReductionMode::GrayScale:
        for (int i = 0; i < 256; ++i)
            colors.push_back({static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i)});
        kind = Kind::Gray;
        break;
    case GifReductionMode::Netscape:
        for (int i = 0; i < 216; ++i)
            colors.push_back({static_cast<uint8_t>(51 * (i / 36)), static_cast<uint8_t>(51 * (i / 6 % 6)),
                              static_cast<uint8_t>(51 * (i % 6))});
        kind = Kind::Netscape;
        break;
    case GifReductionMode::Quantize:
        colors = quantizePalette(width, height, rows, quantizeBits);
        break;
    case GifReductionMode::QuantizeWithSystemColors:
        colors = QuantizeWithSystemColors(width, height, rows);
        break;
    case GifReductionMode::SuppliedPalette:
        if (palette)
            colors.assign(palette->begin(), palette->begin() + std::min<size_t>(palette->size(), 256));
        break;
    default:
        throw GIFException(GifMessages::UnsupportedReductionMode);
    }
    if (colors.empty())
        return false;

    std::vector<uint8_t*> out(static_cast<size_t>(height));
    for (int y = 0; y < height; ++y)
        out[y] = indices + static_cast<size_t>(y) * static_cast<size_t>(width);
    switch (kind) {
    case Kind::Fast: {
        auto lookup = std::make_unique<TFastColorLookup>(colors.data(), static_cast<int>(colors.size()));
        ditherWith(ditherKind, *lookup, width, height, rows, out.data());
        break;
    }
    case Kind::Netscape: {
        TNetscapeColorLookup lookup;
        ditherWith(ditherKind, lookup, width, height, rows, out.data());
        break;
    }
    case Kind::Gray: {
        TGrayScaleLookup lookup;
        ditherWith(ditherKind, lookup, width, height, rows, out.data());
        break;
    }
    case Kind::Mono: {
        TMonochromeLookup lookup;
        ditherWith(ditherKind, lookup, width, height, rows, out.data());
        break;
    }
    }
    colors.resize(256); // entries past the palette are black
    colorTable = std::move(colors);
    return true;
}

ReducedFrame reduceFrame(const Bitmap& source, GifReductionMode reductionMode, GifDitherKind ditherKind,
                         int quantizeBits) {
    Bitmap converted;
    if (source.PixelFormat() != PixelFormat::Bits24) {
        converted.Assign(source);
        converted.SetPixelFormat(PixelFormat::Bits24);
    }
    const Bitmap& reader = source.PixelFormat() == PixelFormat::Bits24 ? source : converted;
    ReducedFrame frame;
    frame.width = reader.Width();
    frame.height = reader.Height();
    std::vector<const uint8_t*> rows(static_cast<size_t>(std::max(0, frame.height)));
    for (int y = 0; y < frame.height; ++y)
        rows[y] = reader.ScanLine(y);
    try {
        frame.indices.assign(static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height), 0);
    } catch (const std::bad_alloc&) {
        throw GIFOutOfMemory(GifMessages::OutOfMemoryDIB);
    }
    if (!reduceToIndices(frame.width, frame.height, rows.data(), reductionMode, ditherKind, nullptr,
                         quantizeBits, frame.indices.data(), frame.colors))
        frame.colors.clear();
    return frame;
}

std::unique_ptr<Bitmap> ReduceColors(Bitmap& source, GifReductionMode reductionMode, GifDitherKind ditherKind,
                                     const std::vector<GifRGB>* palette, int quantizeBits) {
    if (source.PixelFormat() != PixelFormat::Bits24)
        source.SetPixelFormat(PixelFormat::Bits24);
    auto result = std::make_unique<Bitmap>();
    if (reductionMode == GifReductionMode::None) {
        result->Assign(source);
        return result;
    }
    const int width = source.Width(), height = source.Height();
    const Bitmap& reader = source;
    std::vector<const uint8_t*> rows(static_cast<size_t>(height));
    for (int y = 0; y < height; ++y)
        rows[y] = reader.ScanLine(y);
    std::vector<uint8_t> indices;
    try {
        indices.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    } catch (const std::bad_alloc&) {
        throw GIFOutOfMemory(GifMessages::OutOfMemoryDIB);
    }
    std::vector<GifRGB> table;
    if (!reduceToIndices(width, height, rows.data(), reductionMode, ditherKind, palette, quantizeBits,
                         indices.data(), table)) {
        result->SetPixelFormat(PixelFormat::Bits8);
        return result;
    }
    table.resize(256); // the refined palette may be shorter: entries past it are black
    std::vector<PaletteEntry> entries(256);
    for (int i = 0; i < 256; ++i)
        entries[i] = PaletteEntry{table[i].blue, table[i].green, table[i].red, 0};
    try {
        result->SetPixelFormat(PixelFormat::Bits8);
        result->SetSize(1, 1);
        result->setPalette(entries);
        result->SetSize(width, height);
    } catch (const RasterError&) {
        throw GIFOutOfMemory(GifMessages::OutOfMemoryDIB);
    }
    for (int y = 0; y < height; ++y)
        std::copy_n(indices.data() + static_cast<size_t>(y) * width, width, result->ScanLine(y));
    return result;
}

} // namespace kelvara
