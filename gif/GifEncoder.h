// GIF compression: the sub-block writer, the LZW encoder with its hashed string table, and the
// run-length encoder whose codes any LZW decoder turns back into runs.
#pragma once

#include "raster/Lzw.h"
#include "raster/Stream.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <memory>
#include <vector>

namespace kelvara {

// A write-only stream adapter over another stream: reading and seeking raise
// "Invalid stream operation".
class TGIFStream : public Stream {
public:
    explicit TGIFStream(Stream& target) : m_stream(target) {}
    size_t read(void* buffer, size_t count) override;
    uint64_t position() const override;
    void seek(uint64_t position) override;
    uint64_t size() const override;

protected:
    Stream& m_stream;
};

// Collects bytes into GIF data sub-blocks (GIF89a, Data Sub-blocks): a size byte and up to 255
// data bytes. A full block goes out as soon as it has 255 bytes; the rest goes out as a last
// block of 1 to 254 bytes when the writer is flushed or destroyed. An empty sub-block is never
// written: the block terminator is the caller's.
class TGIFWriter final : public TGIFStream {
public:
    explicit TGIFWriter(Stream& target) : TGIFStream(target) {}
    // Flushes pending bytes; a write error while unwinding is dropped (the first error wins).
    ~TGIFWriter() override;
    TGIFWriter(const TGIFWriter&) = delete;
    TGIFWriter& operator=(const TGIFWriter&) = delete;

    void write(const void* buffer, size_t count) override;
    void writeByte(uint8_t value) {
        m_buffer[m_fill++] = value;
        m_pending = true;
        if (m_fill == 256)
            writeBlock();
    }
    // Writes the pending bytes as a last sub-block.
    void flush();

private:
    void writeBlock();

    uint8_t m_buffer[256] = {};
    int m_fill = 1; // m_buffer[0] is the size byte
    bool m_pending = false;
};

// The LZW string table: 8009 slots of 32 bits. A used slot holds key * 4096 + code, with
// key = prefix code * 256 + pixel (20 bits) and a 12-bit code; an empty one holds 0xFFFFFFFF.
class THashTable {
public:
    static constexpr int HashSize = 8009;
    // Any probe chain is shorter than this: the step doubles the slot modulo 8009 and 2 has
    // order 4004 there, so a chain visits at most 4005 slots (4004 and slot 0).
    static constexpr int MaxProbes = HashSize;

    THashTable() { Clear(); }
    void Clear();
    // Stores key with code. Returns false, storing nothing, when every slot of the key's probe
    // chain is taken (possible only with maps of 6 bits or fewer, never with 7 or 8 bits).
    bool Insert(uint32_t key, uint32_t code) {
        uint32_t h = Hash(key);
        // The probe is bounded: a chain full all the way round has no room for the key. The
        // empty-slot test against 0xFFFFF000 is safe: no key reaches 0xFFFFF (codes stop at 4094).
        for (int probes = 0; probes < MaxProbes; ++probes) {
            if (m_slots[h] >= 0xFFFFF000u) {
                m_slots[h] = (key << 12) + code;
                return true;
            }
            h = NextSlot(h);
        }
        return false;
    }
    // The code stored for key, or -1.
    int Lookup(uint32_t key) const {
        uint32_t h = Hash(key);
        for (int probes = 0; probes < MaxProbes; ++probes) {
            const uint32_t value = m_slots[h];
            if (value >= 0xFFFFF000u)
                return -1;
            if ((value >> 12) == key)
                return static_cast<int>(value & 0xFFF);
            h = NextSlot(h);
        }
        return -1;
    }

    // Lookup that also tells where Insert would store the key when it is absent: the first free
    // slot of its chain (-1 when the chain is full). Insert right after gives the same table.
    int Find(uint32_t key, int& freeSlot) const {
        uint32_t h = Hash(key);
        for (int probes = 0; probes < MaxProbes; ++probes) {
            const uint32_t value = m_slots[h];
            if (value >= 0xFFFFF000u) {
                freeSlot = static_cast<int>(h);
                return -1;
            }
            if ((value >> 12) == key)
                return static_cast<int>(value & 0xFFF);
            h = NextSlot(h);
        }
        freeSlot = -1;
        return -1;
    }
    void StoreAt(int slot, uint32_t key, uint32_t code) { m_slots[slot] = (key << 12) + code; }

    static uint32_t Hash(uint32_t key) { return ((key >> 4) ^ key) % HashSize; }
    static uint32_t NextSlot(uint32_t slot) {
        int next = slot == 0 ? -1 : static_cast<int>(slot) - (HashSize - static_cast<int>(slot));
        return static_cast<uint32_t>(next < 0 ? next + HashSize : next);
    }

private:
    uint32_t m_slots[HashSize];
};

// The string table of maps of 7 and 8 bits, where THashTable never finds a chain full: every
// string is stored, so any table that finds what was stored gives the same codes. This one takes
// a multiplicative hash of 13 bits and the next slot on a collision, which is shorter work per
// pixel than the remainder by 8009; at most 4096 of its 8192 slots are ever used.
class TFastStringTable {
public:
    static constexpr uint32_t Size = 8192;
    TFastStringTable() { Clear(); }
    void Clear() { std::fill(std::begin(m_slots), std::end(m_slots), Empty); }
    // The code stored for key, or -1 with freeSlot the slot to store it in.
    int Find(uint32_t key, int& freeSlot) const {
        uint32_t h = (key * 0x9E3779B1u) >> 19;
        for (;;) {
            const uint32_t value = m_slots[h];
            if (value == Empty) {
                freeSlot = static_cast<int>(h);
                return -1;
            }
            if ((value >> 12) == key)
                return static_cast<int>(value & 0xFFF);
            h = (h + 1) & (Size - 1);
        }
    }
    void StoreAt(int slot, uint32_t key, uint32_t code) { m_slots[slot] = (key << 12) + code; }

private:
    static constexpr uint32_t Empty = 0xFFFFFFFFu;
    uint32_t m_slots[Size];
};

// The common part of both encoders: frame setup, bit packing and the pixel walk.
class TGIFEncoder {
public:
    virtual ~TGIFEncoder() = default;

    // Writes the LZW minimum code size byte, the data sub-blocks and the block terminator of
    // one frame. Pixels are width * height index bytes, top row first; each must be below
    // numColors ("Color not in color table" otherwise).
    void Encode(Stream& stream, int bitsPerPixel, int width, int height, bool interlaced,
                const uint8_t* pixels, int numColors);

protected:
    // Packs code with the current width, least significant bit first.
    virtual void EmitCode(int code) { packCode(code); }
    virtual void EmitClear() { EmitCode(m_clearCode); }
    virtual void EncodePixels() = 0;

    void packCode(int code) { m_bits.put(static_cast<uint32_t>(code), m_codeWidth); }
    [[noreturn]] static void badColorIndex();

    // The rows in the order they are encoded: top to bottom, or by the four interlace passes.
    std::vector<int> rowOrder() const { return gifRowOrder(m_height, m_interlaced); }

    // Input.
    const uint8_t* m_pixels = nullptr;
    int m_width = 0;
    int m_height = 0;
    bool m_interlaced = false;
    int m_numColors = 0;
    // Code parameters.
    int m_bitsPerPixel = 0;
    int m_initialCodeWidth = 0;
    int m_codeWidth = 0;
    int m_maxCode = 0;
    int m_clearCode = 0;
    int m_endCode = 0;
    int m_firstFreeCode = 0;
    bool m_clearPending = false;
    // Bit packing into the sub-blocks of the frame being encoded; no sink between frames.
    LsbBitWriter<TGIFWriter> m_bits;
};

// A true LZW compressor with a hashed string table (GIF89a, Appendix F).
class TLZWEncoder final : public TGIFEncoder {
protected:
    // The base packing with the current width, then the width rule: after a clear back to the
    // initial width; otherwise one bit more once the next free code passes the largest code of
    // the width (at 12 bits the largest code is lifted past any code: never wider than 12).
    void EmitCode(int code) override {
        packCode(code);
        if (m_nextFreeCode > m_maxCode || m_clearPending) {
            if (m_clearPending) {
                m_codeWidth = m_initialCodeWidth;
                m_maxCode = (1 << m_codeWidth) - 1;
                m_clearPending = false;
            } else {
                ++m_codeWidth;
                m_maxCode = m_codeWidth == 12 ? 4096 : (1 << m_codeWidth) - 1;
            }
        }
    }
    void EmitClear() override;
    void EncodePixels() override;

private:
    // The pixel walk with a string table: THashTable for maps of 6 bits or fewer,
    // TFastStringTable for maps of 7 and 8 bits.
    template <class Table> void encodeWith(Table& table);

    int m_nextFreeCode = 0;
};

// Writes only literals, clears and repeat codes that a standard decoder has, at that moment,
// defined as runs of the current run's pixel: no string table is kept. Code widths and clears
// are counted rather than derived from a table.
class TRLEEncoder final : public TGIFEncoder {
protected:
    void EmitClear() override;
    void EncodePixels() override;

private:
    void outputPlain(int code);
    void didClear();
    void maxOutClear() { m_clearCount = m_maxRepeatCodes; }
    void resetOutClear();
    void flushRun();
    void flushFromClear(int count);
    void flushClearOrRepeat(int count);
    void flushWithTable(int count);
    int cost(int count) const;

    int m_runPixel = 0;
    int m_runCount = 0;
    int m_codeCount = 0;     // codes since the last clear
    int m_growCount = 0;     // the code count at which the width grows next
    int m_clearCount = 0;    // the code count at which a clear is forced
    int m_growCountInit = 0; // their values right after a clear
    int m_clearCountInit = 0;
    int m_maxRepeatCodes = 0; // 4093 - clear code
    int m_tableMax = 0;       // longest run code the decoder's table holds
    int m_tablePixel = -1;    // the pixel that table was built for
    bool m_justCleared = false;
};

// The encoder entry point of the document writer: LZW unless encoderKind is 1 (run-length).
void encodeGIFImage(int encoderKind, Stream& stream, int bitsPerPixel, int width, int height, bool interlaced,
                    const uint8_t* pixels, int numColors);

} // namespace kelvara
