// GIF compression: the sub-block writer, the LZW encoder (the GIF engine's encoding of the one LZW
// coder) and the run-length encoder whose codes any LZW decoder turns back into runs.
#pragma once

#include "raster/Lzw.h"
#include "raster/Stream.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

namespace kelvara {

// A write-only stream adapter over another stream: reading and seeking raise
// "Invalid stream operation".
class TGIFStream : public Stream {
public:
    explicit TGIFStream(Stream& target) : m_stream(target) {}
    size_t read(void* buffer, size_t count) override;
    uint64_t position() const override;
    void seek(uint64_t position) override;
    uint64_t size() const override;

protected:
    Stream& m_stream;
};

// Collects bytes into GIF data sub-blocks (GIF89a, Data Sub-blocks): a size byte and up to 255
// data bytes. A full block goes out as soon as it has 255 bytes; the rest goes out as a last
// block of 1 to 254 bytes when the writer is flushed or destroyed. An empty sub-block is never
// written: the block terminator is the caller's.
class TGIFWriter final : public TGIFStream {
public:
    explicit TGIFWriter(Stream& target) : TGIFStream(target) {}
    // Flushes pending bytes; a write error while unwinding is dropped (the first error wins).
    ~TGIFWriter() override;
    TGIFWriter(const TGIFWriter&) = delete;
    TGIFWriter& operator=(const TGIFWriter&) = delete;

    void write(const void* buffer, size_t count) override;
    void writeByte(uint8_t value) {
        m_buffer[m_fill++] = value;
        m_pending = true;
        if (m_fill == 256)
            writeBlock();
    }
    // Writes the pending bytes as a last sub-block.
    void flush();

private:
    void writeBlock();

    uint8_t m_buffer[256] = {};
    int m_fill = 1; // m_buffer[0] is the size byte
    bool m_pending = false;
};

// The common part of both encoders: frame setup, the sub-blocks and the pixel order.
class TGIFEncoder {
public:
    virtual ~TGIFEncoder() = default;

    // Writes the LZW minimum code size byte, the data sub-blocks and the block terminator of
    // one frame. Pixels are width * height index bytes, top row first; each must be below
    // numColors ("Color not in color table" otherwise).
    void Encode(Stream& stream, int bitsPerPixel, int width, int height, bool interlaced,
                const uint8_t* pixels, int numColors);

protected:
    // Writes the codes of the pixels, from the first clear code to the end code.
    virtual void EncodePixels() = 0;

    // Packs code with the current width, least significant bit first.
    void packCode(int code) { m_bits.put(static_cast<uint32_t>(code), m_codeWidth); }
    [[noreturn]] static void badColorIndex();

    // The rows in the order they are encoded: top to bottom, or by the four interlace passes.
    std::vector<int> rowOrder() const { return gifRowOrder(m_height, m_interlaced); }

    // Input.
    const uint8_t* m_pixels = nullptr;
    int m_width = 0;
    int m_height = 0;
    bool m_interlaced = false;
    int m_numColors = 0;
    // Code parameters.
    int m_bitsPerPixel = 0;
    int m_initialCodeWidth = 0;
    int m_codeWidth = 0;
    int m_clearCode = 0;
    int m_endCode = 0;
    int m_firstFreeCode = 0;
    // The sub-blocks of the frame being encoded, and bit packing into them; none between frames.
    TGIFWriter* m_writer = nullptr;
    LsbBitWriter<TGIFWriter> m_bits;
};

// A true LZW compressor (GIF89a, Appendix F): the one LZW coder in the GIF engine's encoding
// (LzwEncoding::GifEngine), whose codes go on to the sub-blocks row by row.
class TLZWEncoder final : public TGIFEncoder {
protected:
    void EncodePixels() override;
};

// Writes only literals, clears and repeat codes that a standard decoder has, at that moment,
// defined as runs of the current run's pixel: no string table is kept. Code widths and clears
// are counted rather than derived from a table.
class TRLEEncoder final : public TGIFEncoder {
protected:
    void EncodePixels() override;

private:
    void EmitClear();
    void outputPlain(int code);
    void didClear();
    void maxOutClear() { m_clearCount = m_maxRepeatCodes; }
    void resetOutClear();
    void flushRun();
    void flushFromClear(int count);
    void flushClearOrRepeat(int count);
    void flushWithTable(int count);
    int cost(int count) const;

    int m_runPixel = 0;
    int m_runCount = 0;
    int m_codeCount = 0;     // codes since the last clear
    int m_growCount = 0;     // the code count at which the width grows next
    int m_clearCount = 0;    // the code count at which a clear is forced
    int m_growCountInit = 0; // their values right after a clear
    int m_clearCountInit = 0;
    int m_maxRepeatCodes = 0; // 4093 - clear code
    int m_tableMax = 0;       // longest run code the decoder's table holds
    int m_tablePixel = -1;    // the pixel that table was built for
    bool m_justCleared = false;
};

// The encoder entry point of the document writer: LZW unless encoderKind is 1 (run-length).
void encodeGIFImage(int encoderKind, Stream& stream, int bitsPerPixel, int width, int height, bool interlaced,
                    const uint8_t* pixels, int numColors);

} // namespace kelvara
