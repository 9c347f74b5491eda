// The opt-in choices of the GIF jobs beyond the classic engine: the colour quality and storing
// frames as their changes.
#pragma once

#include "gif/GifReduction.h"

#include <string>

namespace kelvara {

// Classic: the octree framed by the 20 system colours, as every GIF was made so far (the
// default; its bytes do not change). High: refined palettes kept from frame to frame while they
// fit, bounded diffusion, and pixels whose source did not change keeping what they showed; its
// level (1..100, 100 the best) trades fidelity for size.
enum class GifQuality { Classic, High };

struct GifBuildOptions {
    GifQuality quality = GifQuality::Classic;
    // Each frame after the first keeps only the rectangle that changed, unchanged pixels in it
    // transparent, drawn over the frame before ("do not dispose").
    bool optimize = false;
    int level = 100; // of the high mode
    // The largest error per channel of the compression's approximate matches; -1 for the high
    // mode's level's own (none for the classic mode).
    int lossy = -1;
};

inline GifReductionMode reductionModeFor(GifQuality quality) {
    return quality == GifQuality::High ? GifReductionMode::Refined
                                       : GifReductionMode::QuantizeWithSystemColors;
}

// "classic" or "high", in any case; false when the text is neither.
inline bool gifQualityFromText(std::string text, GifQuality& quality) {
    for (char& c : text)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (text == "classic")
        quality = GifQuality::Classic;
    else if (text == "high")
        quality = GifQuality::High;
    else
        return false;
    return true;
}

} // namespace kelvara
