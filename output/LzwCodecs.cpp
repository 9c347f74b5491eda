// The GIF and TIFF LZW encoders and decoders of the still-image writers, and the library's
// default hooks that point at them.
#include "output/LzwCodecs.h"

#include "output/WriterSupport.h"
#include "raster/Stream.h"

#include <algorithm>

namespace kelvara {

using output_detail::LsbBitPacker;
using output_detail::MsbBitPacker;

GifLzwHooks& defaultGifLzwHooks() {
    static GifLzwHooks hooks{encodeGifLzw, decodeGifLzw};
    return hooks;
}

TiffLzwHooks& defaultTiffLzwHooks() {
    static TiffLzwHooks hooks{encodeTiffLzw, decodeTiffLzw};
    return hooks;
}

namespace {

constexpr int MaxCodes = 4096;

// Follows a decoder table entry back to its first byte and writes the string out, front to back.
// Returns the string's first byte.
int emitString(int code, const std::vector<int16_t>& prefix, const std::vector<uint8_t>& suffix,
               std::vector<uint8_t>& stack, std::vector<uint8_t>& out, size_t limit) {
    stack.clear();
    while (code >= 0) {
        stack.push_back(suffix[code]);
        code = prefix[code];
        if (stack.size() > MaxCodes)
            throw OutputError("Damaged LZW data");
    }
    for (auto it = stack.rbegin(); it != stack.rend() && out.size() < limit; ++it)
        out.push_back(*it);
    return stack.back();
}

} // namespace

// ---------------------------------------------------------------------------------------------
// GIF

std::vector<int> gifRowOrder(int height, bool interlaced) {
    std::vector<int> rows;
    rows.reserve(static_cast<size_t>(std::max(height, 0)));
    if (!interlaced) {
        for (int y = 0; y < height; ++y)
            rows.push_back(y);
        return rows;
    }
    static const int starts[4] = {0, 4, 2, 1};
    static const int steps[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
        for (int y = starts[pass]; y < height; y += steps[pass])
            rows.push_back(y);
    return rows;
}

void encodeGifLzw(Stream& stream, int height, int width, int bits, const uint8_t* indexes, bool interlaced) {
    const int m = std::clamp(bits, 2, 8);
    const int clearCode = 1 << m;
    const int endCode = clearCode + 1;
    int freeCode = clearCode + 2;
    int codeWidth = m + 1;
    int maxCode = (1 << codeWidth) - 1;

    std::vector<uint8_t> data;
    LsbBitPacker packer(data);
    auto writeCode = [&](int code) {
        packer.put(static_cast<uint32_t>(code), codeWidth);
        if (code == clearCode)
            codeWidth = m + 1;
        else if (freeCode > maxCode)
            ++codeWidth;
        maxCode = codeWidth == 12 ? MaxCodes : (1 << codeWidth) - 1;
    };

    LzwStringTable table;
    const std::vector<int> rows = gifRowOrder(height, interlaced);
    bool started = false;
    int prefix = 0;
    writeCode(clearCode);
    for (int y : rows) {
        const uint8_t* row = indexes + static_cast<size_t>(y) * width;
        for (int x = 0; x < width; ++x) {
            const int k = row[x] & ((1 << m) - 1);
            if (!started) {
                prefix = k;
                started = true;
                continue;
            }
            int slot = 0;
            int code = table.find(prefix, k, slot);
            if (code >= 0) {
                prefix = code;
                continue;
            }
            writeCode(prefix);
            if (freeCode < MaxCodes) {
                table.insert(slot, prefix, k, freeCode);
                ++freeCode;
            } else {
                writeCode(clearCode);
                table.clear();
                freeCode = clearCode + 2;
            }
            prefix = k;
        }
    }
    if (started)
        writeCode(prefix);
    writeCode(endCode);
    packer.flush();

    // LZW minimum code size, data sub-blocks of 254 bytes, block terminator. A last, shorter block
    // is written only when bytes are left over: an empty one would end the data early.
    std::vector<uint8_t> out;
    out.reserve(data.size() + data.size() / 254 + 3);
    out.push_back(static_cast<uint8_t>(m));
    for (size_t pos = 0; pos < data.size(); pos += 254) {
        size_t n = std::min<size_t>(254, data.size() - pos);
        out.push_back(static_cast<uint8_t>(n));
        out.insert(out.end(), data.begin() + static_cast<ptrdiff_t>(pos),
                   data.begin() + static_cast<ptrdiff_t>(pos + n));
    }
    out.push_back(0);
    stream.write(out.data(), out.size());
}

std::vector<uint8_t> decodeGifLzwSequence(const uint8_t* data, size_t size, int m, size_t pixels) {
    if (m < 1 || m > 11)
        throw OutputError("Damaged LZW data");
    const int clearCode = 1 << m;
    const int endCode = clearCode + 1;
    std::vector<int16_t> prefix(MaxCodes, -1);
    std::vector<uint8_t> suffix(MaxCodes, 0);
    for (int i = 0; i < clearCode; ++i)
        suffix[i] = static_cast<uint8_t>(i);
    int codeWidth = m + 1;
    int next = clearCode + 2;
    int old = -1;
    std::vector<uint8_t> sequence, stack;
    sequence.reserve(std::min<size_t>(pixels, size_t(1) << 26));

    uint64_t accumulator = 0;
    int bits = 0;
    size_t pos = 0;
    while (sequence.size() < pixels) {
        while (bits < codeWidth && pos < size) {
            accumulator |= static_cast<uint64_t>(data[pos++]) << bits;
            bits += 8;
        }
        if (bits < codeWidth)
            break;
        const int code = static_cast<int>(accumulator & ((1u << codeWidth) - 1));
        accumulator >>= codeWidth;
        bits -= codeWidth;

        if (code == clearCode) {
            codeWidth = m + 1;
            next = clearCode + 2;
            old = -1;
            continue;
        }
        if (code == endCode)
            break;
        if (old < 0) {
            if (code >= clearCode)
                throw OutputError("Damaged LZW data");
            sequence.push_back(static_cast<uint8_t>(code));
            old = code;
            continue;
        }
        int first;
        if (code < next && (code < clearCode || code > endCode)) {
            first = emitString(code, prefix, suffix, stack, sequence, pixels);
        } else if (code == next) {
            first = emitString(old, prefix, suffix, stack, sequence, pixels);
            if (sequence.size() < pixels)
                sequence.push_back(static_cast<uint8_t>(first));
        } else {
            throw OutputError("Damaged LZW data");
        }
        if (next < MaxCodes) {
            prefix[next] = static_cast<int16_t>(old);
            suffix[next] = static_cast<uint8_t>(first);
            ++next;
            if (next >= (1 << codeWidth) && codeWidth < 12)
                ++codeWidth;
        }
        old = code;
    }

    return sequence;
}

std::vector<uint8_t> decodeGifLzw(Stream& stream, int height, int width, bool interlaced) {
    if (width < 0 || height < 0 || static_cast<int64_t>(width) * height > Bitmap::MaxPixels)
        throw OutputError("Damaged LZW data");
    const size_t pixels = static_cast<size_t>(width) * height;
    uint8_t m = 0;
    if (stream.read(&m, 1) != 1 || m < 1 || m > 11)
        throw OutputError("Damaged LZW data");

    // Gather the sub-blocks; a missing terminator ends the data at the end of the stream.
    std::vector<uint8_t> data;
    for (;;) {
        uint8_t n = 0;
        if (stream.read(&n, 1) != 1 || n == 0)
            break;
        size_t old = data.size();
        data.resize(old + n);
        size_t got = stream.read(data.data() + old, n);
        data.resize(old + got);
        if (got < n)
            break;
    }

    const std::vector<uint8_t> sequence = decodeGifLzwSequence(data.data(), data.size(), m, pixels);
    std::vector<uint8_t> indexes(pixels, 0);
    const std::vector<int> rows = gifRowOrder(height, interlaced);
    for (size_t r = 0; r < rows.size(); ++r) {
        size_t from = r * width;
        if (from >= sequence.size())
            break;
        size_t n = std::min<size_t>(width, sequence.size() - from);
        std::copy_n(sequence.begin() + static_cast<ptrdiff_t>(from), n,
                    indexes.begin() + static_cast<ptrdiff_t>(static_cast<size_t>(rows[r]) * width));
    }
    return indexes;
}

// ---------------------------------------------------------------------------------------------
// TIFF

namespace {

constexpr int TiffClear = 256;
constexpr int TiffEnd = 257;
constexpr int TiffFirstFree = 258;

struct TiffLzwEncoder final : TiffLzwEncoderState {
    LzwStringTable table;
    std::vector<uint8_t> bytes;
    MsbBitPacker packer{bytes};
    bool started = false;
    int prefix = 0;
    int freeCode = TiffFirstFree;
    int codeWidth = 9;

    void writeCode(int code) {
        packer.put(static_cast<uint32_t>(code), codeWidth);
        if (code == TiffClear)
            codeWidth = 9;
        else if (freeCode >= (1 << codeWidth) - 1 && codeWidth < 12)
            ++codeWidth;
    }

    // Output goes out in pieces of at most 254 bytes.
    void drain(Stream& stream, bool all) {
        size_t pos = 0;
        while (bytes.size() - pos >= 254 || (all && pos < bytes.size())) {
            size_t n = std::min<size_t>(254, bytes.size() - pos);
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
        if (!e.started)
            e.writeCode(TiffClear);
        else
            e.writeCode(e.prefix);
        e.writeCode(TiffEnd);
        e.packer.flush();
        e.drain(stream, true);
        state.reset();
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        const int k = row[i];
        if (!e.started) {
            e.started = true;
            e.prefix = k;
            e.writeCode(TiffClear);
            continue;
        }
        int slot = 0;
        int code = e.table.find(e.prefix, k, slot);
        if (code >= 0) {
            e.prefix = code;
            continue;
        }
        e.writeCode(e.prefix);
        if (e.freeCode < 4094) {
            e.table.insert(slot, e.prefix, k, e.freeCode);
            ++e.freeCode;
        } else {
            e.writeCode(TiffClear);
            e.table.clear();
            e.freeCode = TiffFirstFree;
        }
        e.prefix = k;
    }
    e.drain(stream, false);
}

std::vector<uint8_t> decodeTiffLzw(const uint8_t* data, size_t size, size_t expectedSize) {
    std::vector<int16_t> prefix(MaxCodes, -1);
    std::vector<uint8_t> suffix(MaxCodes, 0);
    for (int i = 0; i < 256; ++i)
        suffix[i] = static_cast<uint8_t>(i);
    std::vector<uint8_t> out, stack;
    out.reserve(std::min<size_t>(expectedSize, size_t(1) << 26));
    int codeWidth = 9;
    int next = TiffFirstFree;
    int old = -1;
    uint64_t accumulator = 0;
    int bits = 0;
    size_t pos = 0;
    while (out.size() < expectedSize) {
        while (bits < codeWidth && pos < size) {
            accumulator = (accumulator << 8) | data[pos++];
            bits += 8;
        }
        if (bits < codeWidth)
            break;
        const int code = static_cast<int>((accumulator >> (bits - codeWidth)) & ((1u << codeWidth) - 1));
        bits -= codeWidth;

        if (code == TiffClear) {
            codeWidth = 9;
            next = TiffFirstFree;
            old = -1;
            continue;
        }
        if (code == TiffEnd)
            break;
        if (old < 0) {
            if (code >= 256)
                throw OutputError("Damaged LZW data");
            out.push_back(static_cast<uint8_t>(code));
            old = code;
            continue;
        }
        int first;
        if (code < next && (code < 256 || code >= TiffFirstFree)) {
            first = emitString(code, prefix, suffix, stack, out, expectedSize);
        } else if (code == next) {
            first = emitString(old, prefix, suffix, stack, out, expectedSize);
            if (out.size() < expectedSize)
                out.push_back(static_cast<uint8_t>(first));
        } else {
            throw OutputError("Damaged LZW data");
        }
        if (next < MaxCodes) {
            prefix[next] = static_cast<int16_t>(old);
            suffix[next] = static_cast<uint8_t>(first);
            ++next;
        }
        if (next >= (1 << codeWidth) - 1 && codeWidth < 12)
            ++codeWidth;
        old = code;
    }
    return out;
}

} // namespace kelvara
