// The LZW codec of the GIF and TIFF formats: one encoder and one decoder with the two formats as
// explicit modes, the bit writers they share with the other encoders, and GIF's row order.
#pragma once

#include "raster/Error.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelvara {

class Stream;

// Raised by the LZW decoder for a code that no encoder can have written.
class LzwError : public Error {
public:
    using Error::Error;
};

namespace LzwMessages {
inline constexpr const char* Damaged = "Damaged LZW data";
} // namespace LzwMessages

// GIF (GIF89a, Appendix F): codes packed least significant bit first, starting one bit wider than
// the minimum code size and widening when the next free code no longer fits; a full table of 4096
// codes is cleared. TIFF (TIFF 6.0, section 13): codes packed most significant bit first from 9
// bits, widening one code early; the table is cleared when 4094 codes are taken.
enum class LzwMode { Gif, Tiff };

// Packs codes of varying width into bytes, least significant bit first (GIF) or most significant
// bit first (TIFF LZW, CCITT), handing every full byte to the sink, an object with
// writeByte(uint8_t).
enum class BitOrder { LsbFirst, MsbFirst };

template <BitOrder Order, class Sink> class BitWriter {
public:
    BitWriter() = default; // no sink until restarted on one
    explicit BitWriter(Sink& sink) : m_sink(&sink) {}
    // Starts over on a sink, with no bits pending.
    void restart(Sink& sink) { *this = BitWriter(sink); }
    void put(uint32_t code, int width) {
        const uint64_t bits = code & ((uint64_t(1) << width) - 1);
        if constexpr (Order == BitOrder::LsbFirst) {
            m_accumulator |= bits << m_bits;
            m_bits += width;
            while (m_bits >= 8) {
                m_sink->writeByte(static_cast<uint8_t>(m_accumulator));
                m_accumulator >>= 8;
                m_bits -= 8;
            }
        } else {
            m_accumulator = (m_accumulator << width) | bits;
            m_bits += width;
            while (m_bits >= 8) {
                m_sink->writeByte(static_cast<uint8_t>(m_accumulator >> (m_bits - 8)));
                m_bits -= 8;
            }
        }
    }
    // Hands over the last partial byte, its unused bits 0.
    void flush() {
        if (m_bits > 0)
            m_sink->writeByte(static_cast<uint8_t>(
                Order == BitOrder::LsbFirst ? m_accumulator : m_accumulator << (8 - m_bits)));
        m_accumulator = 0;
        m_bits = 0;
    }
    int pendingBits() const { return m_bits; }

private:
    Sink* m_sink = nullptr;
    uint64_t m_accumulator = 0;
    int m_bits = 0;
};

template <class Sink> using LsbBitWriter = BitWriter<BitOrder::LsbFirst, Sink>;
template <class Sink> using MsbBitWriter = BitWriter<BitOrder::MsbFirst, Sink>;

// A sink that appends the bytes to a vector.
struct ByteVectorSink {
    std::vector<uint8_t>& bytes;
    void writeByte(uint8_t value) { bytes.push_back(value); }
};

// The encoder's string table: an open-addressing hash of 5003 slots keyed by (byte, prefix code).
class LzwStringTable {
public:
    static constexpr int Slots = 5003;

    LzwStringTable() { clear(); }
    void clear() { m_keys.fill(-1); }

    // The code of the string (prefix, k), or -1; slot then receives where it would go.
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

// One LZW code stream, written into a byte vector: the clear code first, then the codes of the
// bytes added, and on finish the last string, the end code and the last partial byte.
class LzwEncoder {
public:
    // codeSize: the number of bits of a literal (the GIF minimum code size, 2 to 8; 8 for TIFF).
    LzwEncoder(LzwMode mode, int codeSize, std::vector<uint8_t>& out);
    LzwEncoder(const LzwEncoder&) = delete;
    LzwEncoder& operator=(const LzwEncoder&) = delete;

    // Adds bytes to the string being matched; bits above the code size are ignored.
    void add(const uint8_t* data, size_t count);
    void finish();

private:
    void writeCode(int code);

    ByteVectorSink m_sink;
    LsbBitWriter<ByteVectorSink> m_lsb{m_sink};
    MsbBitWriter<ByteVectorSink> m_msb{m_sink};
    LzwStringTable m_table;
    bool m_msbFirst;
    int m_early; // how many codes early the width grows
    int m_literalMask;
    int m_clearCode;
    int m_endCode;
    int m_tableLimit; // the first code that is never assigned: the table is cleared instead
    int m_initialWidth;
    int m_codeWidth;
    int m_freeCode;
    int m_prefix = 0;
    bool m_started = false;
};

// How a decoding run ended.
enum class LzwStop {
    Filled,    // the limit was reached
    EndCode,   // the end code came first
    OutOfData, // the data ran out first
};

// After the limit is reached: stop at once, or go on checking the codes up to the end code.
enum class LzwAfterLimit { Stop, CheckToEnd };

// Decodes one LZW stream (a GIF image's sub-blocks joined, or one TIFF strip), appending at most
// limit bytes to out. Raises LzwError for a code not yet defined or a code size outside 1..11.
LzwStop decodeLzw(LzwMode mode, int codeSize, const uint8_t* data, size_t size, size_t limit,
                  std::vector<uint8_t>& out, LzwAfterLimit afterLimit = LzwAfterLimit::Stop);

// Reads GIF data sub-blocks from the stream's position up to the block terminator and joins their
// bytes. terminated tells whether the terminator was there before the stream ended.
std::vector<uint8_t> readGifSubBlocks(Stream& stream, bool& terminated);

// The rows of a GIF image of the given height in the order they are stored: top to bottom, or by
// the four interlace passes (GIF89a, Appendix E): every 8th row from 0, every 8th from 4, every
// 4th from 2, every 2nd from 1.
std::vector<int> gifRowOrder(int height, bool interlaced);

} // namespace kelvara
