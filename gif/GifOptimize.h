// Inter-frame optimisation of an animated GIF: each frame after the first keeps only the
// rectangle that changed, with the pixels that did not change made transparent, and is drawn over
// the frame before it ("do not dispose"); a frame before one that shows nothing where it showed a
// colour (a source with an alpha channel) is cleared after it shows instead. Every frame decodes
// to the same picture as before.
#pragma once

#include <functional>

#include <cstdint>
#include <vector>

namespace kelvara {

class TGIFDocument;
class TGIFSubImage;

// What a pixel of a frame shows where the frame is transparent (a frame of a source with an
// alpha channel): nothing, a value no colour has.
inline constexpr uint32_t ShowsNothing = 0x01000000;

// The colours a frame shows, 0xRRGGBB per pixel (an index past its table black, its transparent
// pixels ShowsNothing), when it covers the logical screen with a local colour table (what the GIF
// jobs make); empty for any other frame, which is not rewritten.
std::vector<uint32_t> changeColours(const TGIFSubImage& frame);

// How a frame is stored as its change beyond the pixels that changed: whether it is cleared to
// the background after it shows, and the rectangle it then covers (inclusive; empty while right
// is below left).
struct ChangePlan {
    bool clearAfter = false;
    int left = 0, top = 0, right = -1, bottom = -1;
};
// Plans a frame of width pixels a row whose colours changeColours gave, drawn over before (empty
// when not known), before the frame after it (next: its colours, or empty when it shows no
// transparent pixel or is not known). Where the next frame shows nothing and this one a colour,
// the next frame cannot clear the pixel by itself: this frame is cleared after it shows, over a
// rectangle that holds those pixels and its own changes. after, when given, receives the picture
// the next frame is drawn over when this frame is cleared (it is colours otherwise).
ChangePlan planChange(int width, const std::vector<uint32_t>& colours, const std::vector<uint32_t>& before,
                      const std::vector<uint32_t>& next, std::vector<uint32_t>* after = nullptr);
// Rewrites such a frame, whose colours changeColours gave, as its change from the picture shown
// before it (before, of the same size; empty when not known, and the frame is taken whole, only
// losing the colour table entries it does not use), as the plan says. It depends on nothing but
// its arguments, so frames can be rewritten on several threads once each one's picture before is
// known.
void storeAsChange(TGIFSubImage& frame, const std::vector<uint32_t>& colours,
                   const std::vector<uint32_t>& before, const ChangePlan& plan = {});

// Moves the frames' colours into one global colour table, each frame keeping its pixels' colours
// (a transparent pixel stays transparent), and drops the frames' own tables. False, changing
// nothing, when the document already has a global table, a frame has no table of its own or the
// frames show more than 256 colours (255 with transparency) together.
bool shareColorTable(TGIFDocument& document);

// Drops each frame that shows nothing new (every pixel transparent, drawn over the frame before it,
// which is not cleared after it shows) and gives its time to the frame before it: the animation
// looks and lasts the same.
void mergeUnchangedFrames(TGIFDocument& document);

// When the frames show too many colours for one table: a global table that the frames which can
// use it take instead of their own (the table of the frame that the most frames can use; a frame
// can use it when it holds every colour the frame shows and, for a frame with transparent
// pixels, one entry more). False, changing nothing, when the document already has a global table,
// a frame has no table of its own or no two frames can share one.
bool shareColorTablePartly(TGIFDocument& document);

// Stores every frame after the first as its change from the frame before it (storeAsChange; a
// frame that changeColours leaves out stays as it is, and the frame after it is taken whole),
// on threads threads at once; then, when the frames show few colours together, moves them into
// one global colour table if the file gets smaller so. The document is the same for any number
// of threads. keepGoing, when given, is called on the caller's thread before each frame is taken
// with the frames taken so far and the count; false stops there: the frames not taken stay whole
// and no table is shared.
void optimizeFrames(TGIFDocument& document, int threads = 1,
                    const std::function<bool(int done, int total)>& keepGoing = {});

} // namespace kelvara
