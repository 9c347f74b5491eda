// Writing an animated GIF frame by frame.
#include "gif/GifStreamWriter.h"

#include "gif/GifDocument.h"
#include "raster/Stream.h"

namespace kelvara {

GifStreamWriter::GifStreamWriter(Stream& out, uint16_t width, uint16_t height, int mapBits,
                                 uint16_t loopCount, uint16_t delayHundredths)
    : m_out(out), m_width(width), m_height(height), m_mapBits(mapBits), m_loopCount(loopCount),
      m_delay(delayHundredths), m_carrier(std::make_unique<TGIFSubImage>(nullptr)) {}

GifStreamWriter::~GifStreamWriter() = default;

void GifStreamWriter::writeFrame(const uint8_t* image, size_t size) {
    TGIFExtensionList& extensions = m_carrier->Extensions();
    extensions.Clear();
    writeHeaderBeforeFirstFrame();
    appendAnimationBlocks(*m_carrier, m_frames, m_loopCount, m_delay);
    extensions.SaveToStream(m_out);
    m_out.write(image, size);
    ++m_frames;
    m_carrier->setReducedTransparency(-1, false);
}

void GifStreamWriter::setFrameTransparency(int transparentIndex, bool clearAfter) {
    m_carrier->setReducedTransparency(transparentIndex, clearAfter);
}

void GifStreamWriter::writeWholeFrame(const uint8_t* blocks, size_t size) {
    writeHeaderBeforeFirstFrame();
    m_out.write(blocks, size);
    ++m_frames;
}

void GifStreamWriter::writeHeaderBeforeFirstFrame() {
    // Every frame carries a graphic control block, so the file is GIF89a.
    if (m_frames == 0)
        writeGifHeader(m_out, 2, m_width, m_height, screenPackedByte(m_mapBits), 0, 0);
}

void GifStreamWriter::finish() {
    if (m_frames == 0)
        throw GIFException(GifMessages::UnsupportedVersion);
    const TGIFTrailer trailer(nullptr);
    trailer.SaveToStream(m_out);
}

} // namespace kelvara
