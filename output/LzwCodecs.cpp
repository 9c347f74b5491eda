// The GIF and TIFF LZW codecs of the still-image writers and readers.
#include "output/LzwCodecs.h"

#include "raster/Bitmap.h"
#include "raster/Lzw.h"
#include "raster/Stream.h"

#include <algorithm>

namespace kelvara {

// ---- GIF ----

void encodeGifLzw(Stream& stream, int height, int width, int bits, const uint8_t* indexes, bool interlaced) {
    const int m = std::clamp(bits, 2, 8);
    std::vector<uint8_t> data;
    LzwEncoder encoder(LzwEncoding::Gif, m, data);
    for (int y : gifRowOrder(height, interlaced))
        encoder.add(indexes + static_cast<size_t>(y) * width, static_cast<size_t>(std::max(width, 0)));
    encoder.finish();

    // LZW minimum code size, data sub-blocks of 254 bytes, block terminator. A last, shorter block
    // is written only when bytes are left over: an empty one would end the data early.
    std::vector<uint8_t> out;
    out.reserve(data.size() + data.size() / 254 + 3);
    out.push_back(static_cast<uint8_t>(m));
    for (size_t pos = 0; pos < data.size(); pos += 254) {
        const size_t n = std::min<size_t>(254, data.size() - pos);
        out.push_back(static_cast<uint8_t>(n));
        out.insert(out.end(), data.begin() + static_cast<ptrdiff_t>(pos),
                   data.begin() + static_cast<ptrdiff_t>(pos + n));
    }
    out.push_back(0);
    stream.write(out.data(), out.size());
}

std::vector<uint8_t> decodeGifLzw(Stream& stream, int height, int width, bool interlaced) {
    if (width < 0 || height < 0 || static_cast<int64_t>(width) * height > Bitmap::MaxPixels)
        throw LzwError(LzwMessages::Damaged);
    const size_t pixels = static_cast<size_t>(width) * height;
    uint8_t m = 0;
    if (stream.read(&m, 1) != 1)
        throw LzwError(LzwMessages::Damaged);
    // A missing terminator ends the data at the end of the stream.
    bool terminated = false;
    const std::vector<uint8_t> data = readGifSubBlocks(stream, terminated);
    std::vector<uint8_t> sequence;
    decodeLzw(LzwMode::Gif, m, data.data(), data.size(), pixels, sequence);

    std::vector<uint8_t> indexes(pixels, 0);
    const std::vector<int> rows = gifRowOrder(height, interlaced);
    for (size_t r = 0; r < rows.size(); ++r) {
        const size_t from = r * width;
        if (from >= sequence.size())
            break;
        const size_t n = std::min<size_t>(width, sequence.size() - from);
        std::copy_n(sequence.begin() + static_cast<ptrdiff_t>(from), n,
                    indexes.begin() + static_cast<ptrdiff_t>(static_cast<size_t>(rows[r]) * width));
    }
    return indexes;
}

// ---- TIFF ----

namespace {

struct TiffLzwEncoder final : TiffLzwEncoderState {
    std::vector<uint8_t> bytes;
    LzwEncoder encoder{LzwEncoding::Tiff, 8, bytes};

    // Output goes out in pieces of at most 254 bytes.
    void drain(Stream& stream, bool all) {
        size_t pos = 0;
        while (bytes.size() - pos >= 254 || (all && pos < bytes.size())) {
            const size_t n = std::min<size_t>(254, bytes.size() - pos);
            stream.write(bytes.data() + pos, n);
            pos += n;
        }
        bytes.erase(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(pos));
    }
};

} // namespace

void encodeTiffLzw(const uint8_t* row, size_t count, Stream& stream,
                   std::unique_ptr<TiffLzwEncoderState>& state) {
    if (!state)
        state = std::make_unique<TiffLzwEncoder>();
    auto& e = static_cast<TiffLzwEncoder&>(*state);
    if (!row) {
        e.encoder.finish();
        e.drain(stream, true);
        state.reset();
        return;
    }
    e.encoder.add(row, count);
    e.drain(stream, false);
}

std::vector<uint8_t> decodeTiffLzw(const uint8_t* data, size_t size, size_t expectedSize) {
    std::vector<uint8_t> out;
    decodeLzw(LzwMode::Tiff, 8, data, size, expectedSize, out);
    return out;
}

} // namespace kelvara
