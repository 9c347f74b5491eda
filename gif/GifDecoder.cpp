// LZW decoding of GIF image data, for reading GIF files.
#include "gif/GifDecoder.h"

#include "gif/GifErrors.h"
#include "raster/Stream.h"

#include <vector>

namespace kelvara {

namespace {

// Reads the bytes of consecutive data sub-blocks up to the block terminator.
class SubBlockReader {
public:
    explicit SubBlockReader(Stream& stream) : m_stream(stream) {}

    // The next data byte, or -1 at the terminator or the end of the stream.
    int next() {
        while (m_left == 0) {
            if (m_done)
                return -1;
            uint8_t size;
            if (m_stream.read(&size, 1) != 1) {
                m_done = m_truncated = true;
                return -1;
            }
            if (size == 0) {
                m_done = true;
                return -1;
            }
            m_left = size;
        }
        uint8_t b;
        if (m_stream.read(&b, 1) != 1) {
            m_done = m_truncated = true;
            m_left = 0;
            return -1;
        }
        --m_left;
        return b;
    }
    // Skips whatever is left up to and including the terminator.
    void finish() {
        while (next() >= 0) {
        }
    }
    bool truncated() const { return m_truncated; }

private:
    Stream& m_stream;
    int m_left = 0;
    bool m_done = false;
    bool m_truncated = false;
};

} // namespace

void decodeGIFImage(Stream& stream, int width, int height, bool interlaced, uint8_t* pixels,
                    const std::function<void(const std::string&)>& warn) {
    uint8_t codeSize;
    if (stream.read(&codeSize, 1) != 1)
        throw GIFException(GifMessages::OutOfData);
    if (codeSize < 1 || codeSize > 8)
        throw GIFException(GifMessages::InvalidData);

    std::vector<int> rows;
    if (pixels && width > 0 && height > 0) {
        static constexpr int Start[4] = {0, 4, 2, 1};
        static constexpr int Step[4] = {8, 8, 4, 2};
        if (interlaced) {
            for (int pass = 0; pass < 4; ++pass)
                for (int y = Start[pass]; y < height; y += Step[pass])
                    rows.push_back(y);
        } else {
            for (int y = 0; y < height; ++y)
                rows.push_back(y);
        }
    }
    const size_t total = rows.size() * static_cast<size_t>(width > 0 ? width : 0);
    size_t written = 0;
    auto emit = [&](uint8_t value) {
        if (written < total) {
            const size_t row = written / static_cast<size_t>(width),
                         col = written % static_cast<size_t>(width);
            pixels[static_cast<size_t>(rows[row]) * static_cast<size_t>(width) + col] = value;
            ++written;
        }
    };

    SubBlockReader reader(stream);
    const int clear = 1 << codeSize;
    const int end = clear + 1;
    int codeWidth = codeSize + 1;
    int available = clear + 2;
    int old = -1;
    int first = 0;
    uint32_t bucket = 0;
    int bits = 0;
    std::vector<uint16_t> prefix(4096, 0);
    std::vector<uint8_t> suffix(4096, 0);
    std::vector<uint8_t> stack;
    stack.reserve(4096);
    for (int i = 0; i < clear; ++i)
        suffix[i] = static_cast<uint8_t>(i);

    bool ended = false;
    for (;;) {
        while (bits < codeWidth) {
            const int b = reader.next();
            if (b < 0)
                break;
            bucket |= static_cast<uint32_t>(b) << bits;
            bits += 8;
        }
        if (bits < codeWidth)
            break; // no end code
        int code = static_cast<int>(bucket & ((1u << codeWidth) - 1));
        bucket >>= codeWidth;
        bits -= codeWidth;
        if (code == clear) {
            codeWidth = codeSize + 1;
            available = clear + 2;
            old = -1;
            continue;
        }
        if (code == end) {
            ended = true;
            break;
        }
        if (old < 0) {
            if (code > clear)
                throw GIFException(GifMessages::InvalidData);
            emit(static_cast<uint8_t>(code));
            old = first = code;
            continue;
        }
        const int in = code;
        if (code > available || (code == available && available >= 4096))
            throw GIFException(GifMessages::InvalidData);
        stack.clear();
        if (code == available) {
            stack.push_back(static_cast<uint8_t>(first));
            code = old;
        }
        while (code > clear) {
            stack.push_back(suffix[code]);
            code = prefix[code];
        }
        if (code == clear)
            throw GIFException(GifMessages::InvalidData);
        first = code;
        stack.push_back(static_cast<uint8_t>(first));
        for (auto it = stack.rbegin(); it != stack.rend(); ++it)
            emit(*it);
        if (available < 4096) {
            prefix[available] = static_cast<uint16_t>(old);
            suffix[available] = static_cast<uint8_t>(first);
            ++available;
            if (available == (1 << codeWidth) && codeWidth < 12)
                ++codeWidth;
        }
        old = in;
    }
    reader.finish();
    if (reader.truncated() || (!ended && written < total))
        warn(GifMessages::OutOfData);
}

} // namespace kelvara
