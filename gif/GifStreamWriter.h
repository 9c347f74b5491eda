// Writing an animated GIF frame by frame, for GIFs too long to hold as a document.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace kelvara {

class Stream;
class TGIFSubImage;

// Writes the file a conversion's document would give, one frame at a time: the header and the
// logical screen before the first frame, then for each frame the looping block (first frame
// only), a graphic control block with the delay and the frame's image bytes, and the trailer at
// the end. A frame's image bytes bring its own Image Descriptor: the whole screen at (0, 0), or
// for a frame stored as its change the rectangle that changed; every local map has 2^mapBits
// entries or fewer, so the header can be written before any frame is known.
class GifStreamWriter {
public:
    GifStreamWriter(Stream& out, uint16_t width, uint16_t height, int mapBits, uint16_t loopCount,
                    uint16_t delayHundredths);
    ~GifStreamWriter();
    GifStreamWriter(const GifStreamWriter&) = delete;
    GifStreamWriter& operator=(const GifStreamWriter&) = delete;

    // The delay of the frames written from now on.
    void setDelay(uint16_t delayHundredths) { m_delay = delayHundredths; }
    // A frame's image bytes as writeReducedFrame() wrote them.
    void writeFrame(const uint8_t* image, size_t size);
    // The transparent entry and disposal of the frame writeFrame() writes next, from its reduced
    // frame (ReducedFrame::transparentIndex and clearAfter); a frame written without it is opaque.
    void setFrameTransparency(int transparentIndex, bool clearAfter);
    // A frame's blocks as TGIFSubImage::SaveToStream writes them, its own extensions before its
    // image: a frame stored as its change carries its blocks. It must lie within the logical
    // screen and have a local map of 2^mapBits entries or fewer.
    void writeWholeFrame(const uint8_t* blocks, size_t size);
    // Writes the trailer. Without a frame nothing has been written and this raises "Unsupported
    // GIF version", as writing an empty document does.
    void finish();

private:
    void writeHeaderBeforeFirstFrame();

    Stream& m_out;
    uint16_t m_width;
    uint16_t m_height;
    int m_mapBits;
    uint16_t m_loopCount;
    uint16_t m_delay;
    int m_frames = 0;
    // Carries the extension blocks, which the engine writes.
    std::unique_ptr<TGIFSubImage> m_carrier;
};

} // namespace kelvara
