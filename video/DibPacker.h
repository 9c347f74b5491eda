// Decoded FFmpeg pictures laid out as packed device-independent bitmaps, the form in which the
// frame source hands out every frame, whatever the container.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

struct AVFrame;
struct SwsContext;

namespace kelvara {

// How a picture is packed. The defaults are the AVI files' own: each picture at its size, YUV
// converted as FFmpeg's converter does by default.
struct DibPacking {
    // A 15-bit picture carries its three masks (its stream's format declares bit fields).
    bool bitFields = false;
    // The size of the packed picture; 0 keeps the picture's own. A picture of another size is
    // scaled to it, as 24 bits.
    int width = 0;
    int height = 0;
    // YUV pictures are converted with their own matrix and range, as ffmpeg's scaler does.
    bool ownColorimetry = false;
    // Degrees clockwise the picture is turned after its conversion: 0, 90, 180 or 270. A turned
    // picture is 24 bits.
    int rotation = 0;
    // A picture with an alpha channel also gives its alpha plane (alphaPlane()), scaled and
    // turned as the picture is. Off for AVI files, whose pictures are opaque.
    bool alpha = false;
};

class DibPacker {
public:
    DibPacker();
    ~DibPacker();
    DibPacker(const DibPacker&) = delete;
    DibPacker& operator=(const DibPacker&) = delete;

    // The picture as a packed DIB (40-byte header, colour table or masks, bottom-up rows), valid
    // until the next call; null when it has no size, is too large or cannot be converted.
    const uint8_t* pack(const AVFrame* frame, const DibPacking& how = {});
    // The alpha plane of the picture pack() packed last (DIB width x height bytes, rows top-down),
    // or null when it has none or alpha was not asked for.
    const std::vector<uint8_t>* alphaPlane() const { return m_hasAlpha ? &m_alpha : nullptr; }

private:
    struct SwsDeleter {
        void operator()(SwsContext* c) const;
    };
    std::unique_ptr<SwsContext, SwsDeleter> m_sws;
    // What the converter was made for.
    int m_swsWidth = 0, m_swsHeight = 0, m_swsFormat = -1;
    int m_swsOutWidth = 0, m_swsOutHeight = 0;
    int m_swsColorspace = -1, m_swsRange = -1;
    std::vector<uint8_t> m_dib;
    std::vector<uint8_t> m_rgb;
    std::vector<uint8_t> m_alpha;
    bool m_hasAlpha = false;

    const uint8_t* packColours(const AVFrame* frame, const DibPacking& how);
    // Fills m_alpha from the picture's alpha channel, scaled to outWidth x outHeight and turned.
    void takeAlpha(const AVFrame* frame, int outWidth, int outHeight, int rotation);
};

} // namespace kelvara
