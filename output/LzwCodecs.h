// The GIF and TIFF LZW codec pairs of the still-image writers, and the string table they share.
#pragma once

#include "output/WriterParams.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace kelvara {

// The LZW string table: an open-addressing hash of 5003 slots keyed by (byte, prefix code).
class LzwStringTable {
public:
    static constexpr int Slots = 5003;

    LzwStringTable() { clear(); }
    void clear() { m_keys.fill(-1); }

    // The code of the string (prefix, k), or -1. slot receives where it is or where it would go.
    int find(int prefix, int k, int& slot) const {
        const int32_t key = (k << 12) | prefix;
        int i = (k << 4) ^ prefix;
        const int step = i == 0 ? 1 : Slots - i;
        while (m_keys[i] != -1) {
            if (m_keys[i] == key)
                return m_codes[i];
            i -= step;
            if (i < 0)
                i += Slots;
        }
        slot = i;
        return -1;
    }
    void insert(int slot, int prefix, int k, int code) {
        m_keys[slot] = (k << 12) | prefix;
        m_codes[slot] = static_cast<int16_t>(code);
    }

private:
    std::array<int32_t, Slots> m_keys;
    std::array<int16_t, Slots> m_codes{};
};

// GIF: minimum code size, LZW codes packed least significant bit first, 254-byte sub-blocks and
// the block terminator.
void encodeGifLzw(Stream& stream, int height, int width, int bits, const uint8_t* indexes, bool interlaced);
// Decodes GIF LZW codes (the sub-blocks' bytes joined) of minimum code size m into at most pixels
// indexes in stored row order; data that ends early gives fewer. Raises OutputError on damage.
std::vector<uint8_t> decodeGifLzwSequence(const uint8_t* data, size_t size, int m, size_t pixels);
// Reads back what encodeGifLzw wrote. Raises OutputError on damaged data; missing pixels are 0.
std::vector<uint8_t> decodeGifLzw(Stream& stream, int height, int width, bool interlaced);
// The rows in the order the GIF passes store them.
std::vector<int> gifRowOrder(int height, bool interlaced);

// TIFF: codes of 9 to 12 bits packed most significant bit first, with the early width change.
void encodeTiffLzw(const uint8_t* row, size_t count, Stream& stream,
                   std::unique_ptr<TiffLzwEncoderState>& state);
// Decodes one strip to at most expectedSize bytes; raises OutputError on damaged data.
std::vector<uint8_t> decodeTiffLzw(const uint8_t* data, size_t size, size_t expectedSize);

} // namespace kelvara
