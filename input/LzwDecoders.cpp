// The GIF and TIFF LZW decoders. They are kept apart because their bit order, code-width changes
// and full-table rules differ.
#include "input/LzwDecoders.h"
#include "output/LzwCodecs.h"
#include "output/WriterParams.h"

#include "input/ByteReader.h"
#include "input/PictureReader.h"

#include <array>
#include <memory>

namespace kelvara {

namespace {

constexpr int MaxCodes = 4096;

// The string table shared by both variants: each code is a prefix code and a last byte; the
// first byte and length of each string are kept so a string can be written backwards in place.
struct LzwTable {
    std::array<uint16_t, MaxCodes> prefix{};
    std::array<uint8_t, MaxCodes> last{};
    std::array<uint8_t, MaxCodes> first{};
    std::array<uint16_t, MaxCodes> length{};

    void reset(int roots) {
        for (int c = 0; c < roots; ++c) {
            prefix[c] = 0;
            last[c] = first[c] = static_cast<uint8_t>(c);
            length[c] = 1;
        }
    }
    // Writes string `code` to out at position, clipped to limit; returns how many bytes it spans.
    size_t emit(int code, std::vector<uint8_t>& out, size_t position, size_t limit) const {
        size_t len = length[code];
        size_t end = position + len;
        int c = code;
        for (size_t p = end; p-- > position;) {
            if (p < limit)
                out[p] = last[c];
            c = prefix[c];
        }
        return len;
    }
};

} // namespace

std::vector<uint8_t> decodeGifLzwCodes(const uint8_t* codes, size_t size, int minCodeSize,
                                       size_t pixelCount) {
    if (minCodeSize < 2 || minCodeSize > 8)
        input_detail::fail("GIF", PictureReaderMessages::NotValid);
    std::vector<uint8_t> out(pixelCount, 0);
    auto table = std::make_unique<LzwTable>();
    const int clearCode = 1 << minCodeSize, endCode = clearCode + 1;
    table->reset(clearCode);
    int width = minCodeSize + 1;
    int nextFree = endCode + 1;
    int previous = -1;
    size_t written = 0;
    uint32_t bitBuffer = 0;
    int bitCount = 0;
    size_t inputPosition = 0;
    while (written < pixelCount) {
        while (bitCount < width && inputPosition < size) {
            bitBuffer |= uint32_t(codes[inputPosition++]) << bitCount;
            bitCount += 8;
        }
        if (bitCount < width)
            break; // the data ended early: the rest of the picture stays 0
        const int code = static_cast<int>(bitBuffer & ((1u << width) - 1));
        bitBuffer >>= width;
        bitCount -= width;
        if (code == clearCode) {
            width = minCodeSize + 1;
            nextFree = endCode + 1;
            previous = -1;
            continue;
        }
        if (code == endCode)
            break;
        if (previous < 0) {
            if (code >= clearCode)
                input_detail::fail("GIF", PictureReaderMessages::NotValid);
            written += table->emit(code, out, written, pixelCount);
            previous = code;
            continue;
        }
        int firstByte;
        if (code < nextFree)
            firstByte = table->first[code];
        else if (code == nextFree && nextFree < MaxCodes)
            firstByte = table->first[previous]; // the string being defined: previous + its first byte
        else
            input_detail::fail("GIF", PictureReaderMessages::NotValid);
        if (nextFree < MaxCodes) {
            table->prefix[nextFree] = static_cast<uint16_t>(previous);
            table->last[nextFree] = static_cast<uint8_t>(firstByte);
            table->first[nextFree] = table->first[previous];
            table->length[nextFree] = static_cast<uint16_t>(table->length[previous] + 1);
            ++nextFree;
            if (nextFree == (1 << width) && width < 12)
                ++width;
        }
        written += table->emit(code, out, written, pixelCount);
        previous = code;
    }
    out.resize(written < pixelCount ? written : pixelCount);
    return out;
}

std::vector<uint8_t> decodeTiffLzwStrip(const uint8_t* data, size_t size, size_t expectedSize) {
    // The same TIFF LZW decoder as the writers' hook pair, with the picture reader's message.
    try {
        return decodeTiffLzw(data, size, expectedSize);
    } catch (const OutputError&) {
        input_detail::fail("TIFF", PictureReaderMessages::NotValid);
    }
}

namespace {
PictureDecoderHooks g_hooks;
} // namespace

const PictureDecoderHooks& pictureDecoderHooks() {
    return g_hooks;
}

void setPictureDecoderHooks(const PictureDecoderHooks& hooks) {
    g_hooks = hooks;
}

void installDefaultPictureDecoders() {
    g_hooks = PictureDecoderHooks{};
}

} // namespace kelvara
