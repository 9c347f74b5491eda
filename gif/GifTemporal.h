// The quality-scaled colour reduction of an animation: a palette kept from frame to frame while
// it still fits the picture, and pixels whose source colour did not change keeping what they
// showed, so that still parts of a video stay still in the GIF and compress to nothing once
// frames are stored as their changes.
#pragma once

#include "gif/GifReduction.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace kelvara {

class Bitmap;
class ColourLookup;

// What a quality of 1..100 trades for size. 100 is the high-quality mode.
struct GifQualitySettings {
    // A still pixel (its source within motion16 sixteenths of a level, in every channel, of the
    // mean of its source colours since it was last reduced) keeps what it shows while that is
    // within keepSlack16 sixteenths of a level (as a distance) as close to the mean as the nearest
    // entry.
    int keepSlack16 = 16;
    int motion16 = 32;
    // The part of each pixel's error passed on by diffusion, in sixteenths, and the largest
    // error, per channel, carried into a pixel.
    int diffusedSixteenths = 4;
    int errorBound = 16;
    // The palette of the frame before stays while its squared error over the frame is at most
    // this much larger than a new palette's (in percent), or while it is within
    // paletteSlackLevel per pixel and channel of it.
    int paletteSlackPercent = 10;
    int paletteSlackLevel = 1;
    // The most colours a frame's palette has, and whether a frame of at most 256 colours keeps
    // each of them exactly.
    int colours = 256;
    bool exact = true;
    // The largest error of the compression's approximate matches, per channel (0: exact).
    int lossy = 0;
};
GifQualitySettings gifQualitySettings(int quality);

// Reduces the frames of one animation, in display order, each to a palette of at most 256
// colours and one index per pixel. Frames may be handed in from several threads at once: each
// frame's colours are counted and a palette of its own made at once, and the rest waits until the
// frame before it (by sequence number, from 0) is done.
class GifTemporalReducer {
public:
    // lossy, when 0 or more, replaces the quality's own error of approximate matches.
    explicit GifTemporalReducer(int quality, int lossy = -1);
    ~GifTemporalReducer();
    GifTemporalReducer(const GifTemporalReducer&) = delete;
    GifTemporalReducer& operator=(const GifTemporalReducer&) = delete;

    // The frame with this sequence number, width x height 24-bit rows (blue, green, red). Every
    // number from 0 on must be reduced or skipped once.
    ReducedFrame reduce(uint64_t sequence, int width, int height, const uint8_t* const* rows);
    ReducedFrame reduce(uint64_t sequence, const Bitmap& frame);
    // Lets the frames after this one go on without it (its reduction failed or was dropped); the
    // frame after it starts afresh.
    void skip(uint64_t sequence);

    const GifQualitySettings& settings() const { return m_settings; }

private:
    struct Analysis;
    void waitForTurn(uint64_t sequence);
    void endTurn(uint64_t sequence, bool reset);
    ReducedFrame reduceInTurn(int width, int height, const uint8_t* const* rows, Analysis& analysis);

    GifQualitySettings m_settings;
    std::mutex m_mutex;
    std::condition_variable m_turn;
    uint64_t m_next = 0;

    // What the frames so far left: the palette, each pixel's index, and the mean of its source
    // colours since it was last reduced (in sixteenths, over the last few frames), which a new
    // source colour is compared with: noise around a still colour does not move the mean.
    struct Reference {
        uint16_t red, green, blue;
        uint16_t frames;
        // The source colour the pixel's entry was chosen for (dithering may have chosen another
        // than its nearest).
        uint8_t chosenRed, chosenGreen, chosenBlue;
    };
    int m_width = 0;
    int m_height = 0;
    std::vector<GifRGB> m_palette;
    std::vector<uint8_t> m_indices;
    std::vector<Reference> m_reference;
    // The palette's lookup, whose cache is kept while the palette stays.
    std::unique_ptr<ColourLookup> m_lookup;
};

} // namespace kelvara
