// Inter-frame optimisation of an animated GIF: each frame after the first keeps only the
// rectangle that changed, with the pixels that did not change made transparent, and is drawn over
// the frame before it ("do not dispose"). Every frame decodes to the same picture as before.
#pragma once

#include <functional>

#include <cstdint>
#include <vector>

namespace kelvara {

class TGIFDocument;
class TGIFSubImage;

// The colours a frame shows, 0xRRGGBB per pixel (an index past its table black), when it covers
// the logical screen opaquely with a local colour table (what the GIF jobs make); empty for any
// other frame, which is not rewritten.
std::vector<uint32_t> changeColours(const TGIFSubImage& frame);
// Rewrites such a frame, whose colours changeColours gave, as its change from the picture shown
// before it (before, of the same size; empty when not known, and the frame is taken whole, only
// losing the colour table entries it does not use). It depends on nothing but its arguments, so
// frames can be rewritten on several threads once each one's picture before is known.
void storeAsChange(TGIFSubImage& frame, const std::vector<uint32_t>& colours,
                   const std::vector<uint32_t>& before);

// Moves the frames' colours into one global colour table, each frame keeping its pixels' colours
// (a transparent pixel stays transparent), and drops the frames' own tables. False, changing
// nothing, when the document already has a global table, a frame has no table of its own or the
// frames show more than 256 colours (255 with transparency) together.
bool shareColorTable(TGIFDocument& document);

// Drops each frame that shows nothing new (every pixel transparent, drawn over the frame before it)
// and gives its time to the frame before it: the animation looks and lasts the same.
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
