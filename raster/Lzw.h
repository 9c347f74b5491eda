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

// Which LZW encoder: the format, and the limits of the string table that the program's writers
// of that format keep.
enum class LzwEncoding {
    // GIF as the still-image writer codes it: strings get codes up to 4095, then a clear code.
    Gif,
    // GIF as the GIF engine codes it: strings get codes up to 4094, then a clear code, and a
    // string whose hash chain is full is left out of the table, its code still counted
    // (LzwStringTable::Chains::Bounded).
    GifEngine,
    // TIFF: strings get codes up to 4093, then a clear code.
    Tiff,
};

// The encoder's string table: the code of each string (prefix code, byte). 2^sizeBits slots,
// reached by a multiplicative hash of the key prefix * 256 + byte and then one by one. At most
// 4096 strings are ever held: the encoder's 8192 slots are never more than half full, and the
// simulated runs that ask for many strings that are not there take more slots, which makes those
// look-ups shorter.
//
// Bounded chains add the one limit of the GIF engine's hashed table, whose codes the GIF files
// written so far carry: 8009 slots, a key's probe starting at h = ((key >> 4) XOR key) mod 8009
// and going on to 2h mod 8009 (from slot 0 to 8008); a string that finds every slot of its chain
// taken is not stored. 2 has order 4004 modulo the prime 8009, so the chain from h != 0 runs
// through all the slots of h's class, the quadratic residues (the powers of 2) or the other 4004
// nonzero slots, and the chain from 0 runs through slot 0 and then the residues. A chain is thus
// full exactly when its class is: counting the strings each class holds gives the same table
// without keeping those slots. (At most 3838 strings exist between clears with 8-bit codes, 3965
// with 7-bit ones: only codes of 6 bits or fewer can fill a class.)
class LzwStringTable {
public:
    enum class Chains { Unbounded, Bounded };

    static constexpr int EncoderSizeBits = 13;
    static constexpr int SimulationSizeBits = 15;

    explicit LzwStringTable(Chains chains = Chains::Unbounded, int sizeBits = EncoderSizeBits)
        : m_slots(size_t(1) << sizeBits, Empty), m_shift(32 - sizeBits),
          m_mask((uint32_t(1) << sizeBits) - 1), m_chains(chains) {}
    void clear();

    // The code of the string (prefix, k), or -1; slot then receives where insert puts it.
    int find(int prefix, int k, int& slot) const {
        const uint32_t key = keyOf(prefix, k);
        uint32_t h = (key * 0x9E3779B1u) >> m_shift;
        for (;;) {
            const uint32_t value = m_slots[h];
            if (value == Empty) {
                slot = static_cast<int>(h);
                return -1;
            }
            if ((value >> 12) == key)
                return static_cast<int>(value & 0xFFF);
            h = (h + 1) & m_mask;
        }
    }
    int find(int prefix, int k) const {
        int slot = 0;
        return find(prefix, k, slot);
    }
    // Stores the string (prefix, k), which find did not find, at the slot find gave. False, and
    // nothing stored, when its bounded chain is full.
    bool insert(int slot, int prefix, int k, int code) {
        if (m_chains == Chains::Bounded && !takeChainSlot(keyOf(prefix, k)))
            return false;
        m_slots[static_cast<size_t>(slot)] = (keyOf(prefix, k) << 12) | static_cast<uint32_t>(code);
        return true;
    }
    bool insert(int prefix, int k, int code) {
        int slot = 0;
        return find(prefix, k, slot) < 0 && insert(slot, prefix, k, code);
    }

private:
    static constexpr uint32_t Empty = 0xFFFFFFFFu;

    static uint32_t keyOf(int prefix, int k) {
        return (static_cast<uint32_t>(prefix) << 8) | static_cast<uint32_t>(k);
    }
    // Counts the string into its bounded chain's class; false when the chain is full.
    bool takeChainSlot(uint32_t key);

    std::vector<uint32_t> m_slots;
    uint32_t m_shift;
    uint32_t m_mask;
    Chains m_chains;
    bool m_slotZeroTaken = false;
    int m_residuesTaken = 0;
    int m_othersTaken = 0;
};

// One LZW code stream, written into a byte vector: the clear code first, then the codes of the
// bytes added, and on finish the last string, the end code and the last partial byte.
class LzwEncoder {
public:
    // codeSize: the number of bits of a literal (the GIF minimum code size, 2 to 8; 8 for TIFF).
    LzwEncoder(LzwEncoding encoding, int codeSize, std::vector<uint8_t>& out);
    LzwEncoder(const LzwEncoder&) = delete;
    LzwEncoder& operator=(const LzwEncoder&) = delete;

    // Adds bytes to the string being matched; bits above the code size are ignored.
    void add(const uint8_t* data, size_t count);
    void finish();

private:
    void writeCode(int code);
    template <class Writer> void writeCode(Writer& bits, int code);
    template <class Writer> void addWith(Writer& bits, const uint8_t* data, size_t count);

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
