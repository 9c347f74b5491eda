// Colour reduction of true-colour frames: the reduction palettes, the octree quantizer and the
// driver that maps every pixel to a palette index through a lookup and a dither engine.
#pragma once

#include "gif/GifDither.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace kelvara {

class Bitmap;

// The palette a document's ReductionMode reduces true-colour frames to. The conversions use
// QuantizeWithSystemColors.
enum class GifReductionMode : uint8_t {
    None = 0,                     // the exact colours, at most 256
    SystemColors = 1,             // the 20 reserved system colours
    Halftone = 2,                 // HalftonePalette()
    FourGreys = 3,                // 0, 128, 192 and 255
    Monochrome = 4,               // black and white
    GrayScale = 5,                // 256 greys
    Netscape = 6,                 // the 216-colour cube
    Quantize = 7,                 // up to 2^QuantizeBits octree colours
    QuantizeWithSystemColors = 8, // 10 system colours, up to 236 octree colours, 10 system colours
    SuppliedPalette = 9,          // a palette the caller supplies
    // The frame's own palette of up to 256 colours, refined for the least squared error and
    // dithered with a bounded error (the high-quality mode). Not a mode of stored documents.
    Refined = 10,
};

// The 20 reserved colours of the platform's default palette, in palette order.
const std::array<GifRGB, 20>& SystemColors();

// The palette of ReductionMode 2. The platform's halftone palette is not at hand, so the engine
// uses a fixed palette of its own, laid out the way the platform lays out its own:
//   entries   0 -   9  system colours 0 - 9
//   entries  10 - 225  the 6 x 6 x 6 cube, entry 10 + 36r + 6g + b = (51r, 51g, 51b)
//   entries 226 - 245  20 greys, entry 226 + k = v, v, v with v = (255 * (k + 1) + 10) / 21
//                      (12, 24, 36, ... 243: none of them is a cube grey)
//   entries 246 - 255  system colours 10 - 19
const std::array<GifRGB, 256>& HalftonePalette();

// A node of the octree. A leaf stands for the colours that reached it; an inner node has up to
// eight children, child index = (red bit) * 4 + (green bit) * 2 + (blue bit) of its level.
struct TOctreeNode {
    bool IsLeaf = false;
    int32_t PixelCount = 0;
    // 64-bit sums: a frame of up to 2^28 pixels cannot overflow them.
    int64_t RedSum = 0;
    int64_t GreenSum = 0;
    int64_t BlueSum = 0;
    TOctreeNode* Next = nullptr; // next node of the same level's reducible list
    TOctreeNode* Child[8] = {};
};

// Octree colour quantizer. The palette is a deterministic function of the order the pixels are
// fed in: reduction takes the deepest level first and the newest node of that level first, and
// the colours are exported depth first in child order 0 to 7.
class TColorQuantizer {
public:
    TColorQuantizer(int maxColors, int colorBits);
    ~TColorQuantizer();
    TColorQuantizer(const TColorQuantizer&) = delete;
    TColorQuantizer& operator=(const TColorQuantizer&) = delete;

    // Feeds every pixel of a 24-bit bitmap, rows top to bottom, pixels left to right.
    void AddImage(const Bitmap& bitmap);
    // The same over rows of blue, green, red triples.
    void AddImage(int width, int height, const uint8_t* const* rows);
    // Adds one pixel, then reduces while there are more leaves than colours.
    void AddColor(int red, int green, int blue);
    // Writes the leaf colours into table from entry 0 on; the entries past the leaf count are
    // left as they are.
    void ExportColors(GifRGB* table) const;
    int LeafCount() const { return m_leafCount; }

private:
    TOctreeNode* newNode(int level);
    void freeNode(TOctreeNode* node);
    bool reduceTree();
    void exportNode(const TOctreeNode* node, GifRGB* table, int& index) const;

    TOctreeNode* m_root = nullptr;
    // The leaf the last colour added reached, while no reduction has come since.
    TOctreeNode* m_lastLeaf = nullptr;
    int m_leafCount = 0;
    TOctreeNode* m_reducible[8] = {};
    int m_maxColors;
    int m_colorBits;
    // A shortcut past the top of the tree: for each prefix of PrefixLevels bits per channel, the
    // node the walk reaches after that many levels (or the leaf it stops at before). Adding nodes
    // never changes it; a reduction at a level above PrefixLevels destroys nodes it may point to,
    // so such a reduction starts a new generation and older entries no longer count.
    static constexpr int PrefixLevels = 4;
    struct PrefixSlot {
        TOctreeNode* node = nullptr;
        uint32_t generation = 0;
        int level = 0;
    };
    std::unique_ptr<PrefixSlot[]> m_prefixCache;
    uint32_t m_generation = 1;
    // Node storage: chunks of nodes and a free list of destroyed ones.
    std::vector<std::unique_ptr<TOctreeNode[]>> m_chunks;
    size_t m_chunkUsed = 0;
    TOctreeNode* m_free = nullptr;
};

// The mode 8 palette (QuantizeWithSystemColors): 10 system colours, up to 236 octree colours of
// the image, 10 system colours. Octree slots without a leaf are black.
std::vector<GifRGB> QuantizeWithSystemColors(int width, int height, const uint8_t* const* rows);

// Maps a 24-bit image to palette indices with the palette and lookup of reductionMode (not None)
// and the engine of ditherKind. Writes width * height indices (rows of width bytes) and
// sets colorTable to the 256-entry colour table of the result (the palette, then black).
// Returns false, writing nothing, when the lookup has no colours (mode 9 without a palette).
bool reduceToIndices(int width, int height, const uint8_t* const* rows, GifReductionMode reductionMode,
                     GifDitherKind ditherKind, const std::vector<GifRGB>* palette, int quantizeBits,
                     uint8_t* indices, std::vector<GifRGB>& colorTable);

// A true-colour frame reduced to a palette: the frame's local colour table and one index per
// pixel. What the reduce stage of the GIF jobs' pipeline makes of each frame.
struct ReducedFrame {
    int width = 0;
    int height = 0;
    // The colour table (256 entries for every mode but None); empty when the lookup had no
    // colours (mode 9 without a palette), and then every index is 0.
    std::vector<GifRGB> colors;
    std::vector<uint8_t> indices; // width * height, top row first
    // The entry that the pixels whose source alpha is below half show, as the frame's transparent
    // colour; -1 when the frame has none.
    int transparentIndex = -1;
    // The frame's source has an alpha channel: the frame is cleared to the background after it
    // shows, so that no transparent pixel of the next frame shows it.
    bool clearAfter = false;
};

// Reduces a bitmap as a document with these settings reduces a true-colour frame it is given
// (any mode but None). A bitmap of another depth than 24 bits is reduced from a 24-bit copy;
// the bitmap itself is not changed. Memory that cannot be had raises "Failed to allocate memory
// for GIF DIB".
ReducedFrame reduceFrame(const Bitmap& source, GifReductionMode reductionMode, GifDitherKind ditherKind,
                         int quantizeBits);

// The colour reduction entry point. The source is first set to 24 bits per pixel in place. Mode 0
// gives a 24-bit copy; the other modes a new 8-bit bitmap of the source's size whose 256-entry
// colour table holds the reduction palette and whose pixels are the dithered indices; mode 9
// without a palette gives an empty bitmap.
std::unique_ptr<Bitmap> ReduceColors(Bitmap& source, GifReductionMode reductionMode, GifDitherKind ditherKind,
                                     const std::vector<GifRGB>* palette, int quantizeBits);

} // namespace kelvara
