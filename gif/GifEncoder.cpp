// GIF compression: sub-block writer, LZW encoder, run-length encoder.
#include "gif/GifEncoder.h"

#include "gif/GifErrors.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace kelvara {

// ---- TGIFStream, TGIFWriter ----

size_t TGIFStream::read(void*, size_t) {
    throw GIFStreamError(GifMessages::InvalidStream);
}
uint64_t TGIFStream::position() const {
    throw GIFStreamError(GifMessages::InvalidStream);
}
void TGIFStream::seek(uint64_t) {
    throw GIFStreamError(GifMessages::InvalidStream);
}
uint64_t TGIFStream::size() const {
    throw GIFStreamError(GifMessages::InvalidStream);
}

TGIFWriter::~TGIFWriter() {
    if (!m_pending)
        return;
    try {
        flush();
    } catch (...) {
        // Reached only while another exception unwinds (the normal path flushes explicitly).
    }
}

void TGIFWriter::write(const void* buffer, size_t count) {
    const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
    while (count > 0) {
        const size_t n = std::min(count, static_cast<size_t>(256 - m_fill));
        std::memcpy(m_buffer + m_fill, bytes, n);
        m_fill += static_cast<int>(n);
        m_pending = true;
        bytes += n;
        count -= n;
        if (m_fill == 256)
            writeBlock();
    }
}

void TGIFWriter::writeBlock() {
    m_buffer[0] = static_cast<uint8_t>(m_fill - 1);
    const int size = m_fill;
    m_fill = 1;
    m_pending = false;
    m_stream.write(m_buffer, static_cast<size_t>(size));
}

void TGIFWriter::flush() {
    if (m_pending && m_fill > 1)
        writeBlock();
    m_pending = false;
}

// ---- TGIFEncoder ----

void TGIFEncoder::badColorIndex() {
    throw GIFException(GifMessages::BadColorIndex);
}

void TGIFEncoder::Encode(Stream& stream, int bitsPerPixel, int width, int height, bool interlaced,
                         const uint8_t* pixels, int numColors) {
    // 1-bit colour tables still use a code size of 2. Pixels are bytes, so 8 bits always suffice.
    if (bitsPerPixel < 2)
        bitsPerPixel = 2;
    if (bitsPerPixel > 8)
        bitsPerPixel = 8;
    const uint8_t codeSize = static_cast<uint8_t>(bitsPerPixel);
    stream.write(&codeSize, 1); // LZW minimum code size

    m_pixels = pixels;
    m_width = width;
    m_height = height;
    m_interlaced = interlaced;
    m_numColors = numColors;
    m_bitsPerPixel = bitsPerPixel;
    m_initialCodeWidth = bitsPerPixel + 1;
    m_codeWidth = m_initialCodeWidth;
    m_clearCode = 1 << bitsPerPixel;
    m_endCode = m_clearCode + 1;
    m_firstFreeCode = m_clearCode + 2;

    TGIFWriter writer(stream);
    struct WriterScope {
        TGIFEncoder& encoder;
        ~WriterScope() {
            encoder.m_bits = {};
            encoder.m_writer = nullptr;
        }
    } scope{*this};
    m_writer = &writer;
    m_bits.restart(writer);

    if (pixels && width > 0 && height > 0)
        EncodePixels();
    else
        // Without pixels only the end code is written, no clear code. Its width is the initial
        // one: up to 7 bits per pixel it fits one byte, at 8 bits it takes two.
        packCode(m_endCode);
    m_bits.flush();
    writer.flush();

    const uint8_t terminator = 0;
    stream.write(&terminator, 1); // block terminator
}

// ---- TLZWEncoder ----

void TLZWEncoder::EncodePixels() {
    std::vector<uint8_t> codes;
    const auto lzw = std::make_unique<LzwEncoder>(LzwEncoding::GifEngine, m_bitsPerPixel, codes);
    const auto passOn = [&] {
        m_writer->write(codes.data(), codes.size());
        codes.clear();
    };
    // A pixel at or above the code size's colours would read as a clear or a string code.
    const int limit = std::min(m_numColors, 1 << m_bitsPerPixel);
    for (const int y : rowOrder()) {
        const uint8_t* row = m_pixels + static_cast<size_t>(y) * static_cast<size_t>(m_width);
        const uint8_t* end = row + m_width;
        uint8_t top = 0;
        for (const uint8_t* p = row; p != end; ++p)
            top = std::max(top, *p);
        const uint8_t* bad =
            top < limit ? end : std::find_if(row, end, [limit](uint8_t c) { return c >= limit; });
        lzw->add(row, static_cast<size_t>(bad - row));
        // The codes of the pixels before a bad one stay in the sub-blocks.
        passOn();
        if (bad != end)
            badColorIndex();
    }
    lzw->finish();
    passOn();
}

// ---- TRLEEncoder ----
// Run-length coding in the manner of der Mouse's miGIF.

void TRLEEncoder::didClear() {
    m_codeWidth = m_initialCodeWidth;
    m_growCount = m_growCountInit;
    m_clearCount = m_clearCountInit;
    m_codeCount = 0;
    m_tableMax = 0;
    m_justCleared = true;
}

void TRLEEncoder::EmitClear() {
    packCode(m_clearCode); // with the current width
    didClear();
}

void TRLEEncoder::outputPlain(int code) {
    m_justCleared = false;
    packCode(code);
    ++m_codeCount;
    if (m_codeCount >= m_growCount) {
        const int before = m_codeWidth;
        ++m_codeWidth;
        m_growCount += 1 << before;
    }
    if (m_codeCount >= m_clearCount)
        EmitClear();
}

void TRLEEncoder::resetOutClear() {
    m_clearCount = m_clearCountInit;
    if (m_codeCount >= m_clearCount)
        EmitClear();
}

int TRLEEncoder::cost(int count) const {
    // Codes needed to write count pixels from a fresh table: runs of 1, 2, 3, ... pixels, at most
    // M codes per clear.
    const int64_t m = m_maxRepeatCodes;
    const int64_t perClear = m * (m + 1) / 2;
    int64_t c = count;
    int64_t total = (c / perClear) * m;
    const int64_t rest = c % perClear;
    if (rest > 0) {
        int64_t n = static_cast<int64_t>(std::sqrt(static_cast<double>(2 * rest)));
        while (n > 0 && n * (n + 1) >= 2 * rest)
            --n;
        while (n * (n + 1) < 2 * rest)
            ++n;
        total += n;
    }
    return static_cast<int>(total);
}

void TRLEEncoder::flushFromClear(int count) {
    maxOutClear();
    m_tablePixel = m_runPixel;
    const int base = m_firstFreeCode;
    int n = 1;
    while (count > 0) {
        if (n == 1) {
            m_tableMax = 1;
            outputPlain(m_runPixel);
            --count;
        } else if (count >= n) {
            m_tableMax = n;
            outputPlain(base + n - 2);
            count -= n;
        } else if (count == 1) {
            ++m_tableMax;
            outputPlain(m_runPixel);
            count = 0;
        } else {
            ++m_tableMax;
            outputPlain(base + count - 2);
            count = 0;
        }
        // After a forced clear the decoder's table is empty again: start over with a literal.
        n = m_codeCount == 0 ? 1 : n + 1;
    }
    resetOutClear();
}

void TRLEEncoder::flushClearOrRepeat(int count) {
    const int withClear = 1 + cost(count);
    if (withClear < count) {
        EmitClear();
        flushFromClear(count);
    } else {
        for (; count > 0; --count)
            outputPlain(m_runPixel);
    }
}

void TRLEEncoder::flushWithTable(int count) {
    int repeats = count / m_tableMax;
    int leftover = count % m_tableMax;
    int leftoverCost = leftover ? 1 : 0;
    if (m_codeCount + repeats + leftoverCost > m_maxRepeatCodes) {
        repeats = m_maxRepeatCodes - m_codeCount;
        leftover = count - repeats * m_tableMax;
        leftoverCost = 1 + cost(leftover);
    }
    if (1 + cost(count) < repeats + leftoverCost) {
        EmitClear();
        flushFromClear(count);
        return;
    }
    maxOutClear();
    const int base = m_firstFreeCode;
    for (; repeats > 0; --repeats)
        outputPlain(base + m_tableMax - 2);
    if (leftover) {
        if (m_justCleared)
            flushFromClear(leftover);
        else if (leftover == 1)
            outputPlain(m_runPixel);
        else
            outputPlain(base + leftover - 2);
    }
    resetOutClear();
}

void TRLEEncoder::flushRun() {
    if (m_runCount == 1)
        outputPlain(m_runPixel);
    else if (m_justCleared)
        flushFromClear(m_runCount);
    else if (m_tableMax < 2 || m_tablePixel != m_runPixel)
        flushClearOrRepeat(m_runCount);
    else
        flushWithTable(m_runCount);
    m_runCount = 0;
}

void TRLEEncoder::EncodePixels() {
    m_growCountInit = m_clearCode - 1;
    m_clearCountInit = m_bitsPerPixel <= 3 ? 9 : m_clearCode - 2;
    m_maxRepeatCodes = 4093 - m_clearCode;
    m_tablePixel = -1;
    m_runCount = 0;
    EmitClear();
    const std::vector<int> rows = rowOrder();
    const int numColors = m_numColors;
    for (int y : rows) {
        const uint8_t* row = m_pixels + static_cast<size_t>(y) * static_cast<size_t>(m_width);
        for (int x = 0; x < m_width; ++x) {
            const int c = row[x];
            if (c >= numColors)
                badColorIndex();
            if (m_runCount > 0 && c == m_runPixel) {
                ++m_runCount;
            } else {
                if (m_runCount > 0)
                    flushRun();
                m_runPixel = c;
                m_runCount = 1;
            }
        }
    }
    if (m_runCount > 0)
        flushRun();
    packCode(m_endCode);
}

// ---- entry point ----

void encodeGIFImage(int encoderKind, Stream& stream, int bitsPerPixel, int width, int height, bool interlaced,
                    const uint8_t* pixels, int numColors) {
    if (encoderKind == 1) {
        TRLEEncoder encoder;
        encoder.Encode(stream, bitsPerPixel, width, height, interlaced, pixels, numColors);
    } else {
        TLZWEncoder encoder;
        encoder.Encode(stream, bitsPerPixel, width, height, interlaced, pixels, numColors);
    }
}

} // namespace kelvara
