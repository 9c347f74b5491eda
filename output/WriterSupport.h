// What the still-image writers share: the working picture and the byte put helpers.
#pragma once

#include "raster/Bitmap.h"
#include "raster/Stream.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace kelvara {

// A picture as tightly packed blue, green, red bytes, rows from the top.
struct RgbPicture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bgr;

    const uint8_t* row(int y) const { return bgr.data() + static_cast<size_t>(y) * width * 3; }
    Color at(int x, int y) const {
        const uint8_t* p = row(y) + static_cast<size_t>(x) * 3;
        return rgbColor(p[2], p[1], p[0]);
    }
};

// The writers work on a 24-bit copy of whatever picture they are given.
RgbPicture rgbPictureOf(const Bitmap& bitmap);

namespace output_detail {

// Collects bytes with explicit byte order and writes them to a stream in large pieces.
class ByteSink {
public:
    explicit ByteSink(Stream& stream) : m_stream(stream) {}
    ~ByteSink() = default;
    ByteSink(const ByteSink&) = delete;
    ByteSink& operator=(const ByteSink&) = delete;

    void u8(unsigned v) {
        m_buffer.push_back(static_cast<uint8_t>(v));
        flushIfFull();
    }
    void le16(unsigned v) {
        u8(v & 0xFF);
        u8((v >> 8) & 0xFF);
    }
    void le32(uint32_t v) {
        le16(v & 0xFFFF);
        le16(v >> 16);
    }
    void bytes(const void* data, size_t count) {
        const uint8_t* p = static_cast<const uint8_t*>(data);
        m_buffer.insert(m_buffer.end(), p, p + count);
        flushIfFull();
    }
    void zeros(size_t count) {
        m_buffer.insert(m_buffer.end(), count, 0);
        flushIfFull();
    }
    // A text in a field of fixed size: cut to leave room for a terminating 0, zero-filled.
    void fixedText(const std::string& text, size_t fieldSize) {
        size_t n = std::min(text.size(), fieldSize - 1);
        bytes(text.data(), n);
        zeros(fieldSize - n);
    }
    // Writes what is buffered; the stream raises its error when the write cannot be completed.
    void flush() {
        if (!m_buffer.empty())
            m_stream.write(m_buffer.data(), m_buffer.size());
        m_buffer.clear();
    }
    // Stream position of the next byte put.
    uint64_t position() const { return m_stream.position() + m_buffer.size(); }
    Stream& stream() { return m_stream; }

private:
    void flushIfFull() {
        if (m_buffer.size() >= 1 << 16)
            flush();
    }
    Stream& m_stream;
    std::vector<uint8_t> m_buffer;
};

// Luminance as the writers weigh it: (21 R + 71 G + 8 B), to be divided by the caller.
inline int weightedLuma(Color c) {
    return 21 * redOf(c) + 71 * greenOf(c) + 8 * blueOf(c);
}

} // namespace output_detail
} // namespace kelvara
