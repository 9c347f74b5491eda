// LZW decoding of GIF image data, for reading GIF files.
#include "gif/GifDecoder.h"

#include "gif/GifErrors.h"
#include "raster/Lzw.h"
#include "raster/Stream.h"

#include <algorithm>
#include <vector>

namespace kelvara {

void decodeGIFImage(Stream& stream, int width, int height, bool interlaced, uint8_t* pixels,
                    const std::function<void(const std::string&)>& warn) {
    uint8_t codeSize;
    if (stream.read(&codeSize, 1) != 1)
        throw GIFException(GifMessages::OutOfData);
    if (codeSize < 1 || codeSize > 8)
        throw GIFException(GifMessages::InvalidData);

    const std::vector<int> rows =
        pixels && width > 0 && height > 0 ? gifRowOrder(height, interlaced) : std::vector<int>{};
    const size_t total = rows.size() * static_cast<size_t>(std::max(width, 0));
    bool terminated = false;
    const std::vector<uint8_t> data = readGifSubBlocks(stream, terminated);
    // Every code up to the end code is checked, also past the last pixel.
    std::vector<uint8_t> sequence;
    LzwStop stop;
    try {
        stop = decodeLzw(LzwMode::Gif, codeSize, data.data(), data.size(), total, sequence,
                         LzwAfterLimit::CheckToEnd);
    } catch (const LzwError&) {
        throw GIFException(GifMessages::InvalidData);
    }
    for (size_t r = 0; r < rows.size() && r * width < sequence.size(); ++r) {
        const size_t from = r * width;
        const size_t n = std::min<size_t>(width, sequence.size() - from);
        std::copy_n(sequence.data() + from, n, pixels + static_cast<size_t>(rows[r]) * width);
    }
    if (!terminated || (stop != LzwStop::EndCode && sequence.size() < total))
        warn(GifMessages::OutOfData);
}

} // namespace kelvara
