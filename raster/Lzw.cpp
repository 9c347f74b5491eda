// The LZW encoder and decoder of GIF and TIFF, GIF's sub-block reader and its row order.
#include "raster/Lzw.h"

#include "raster/Stream.h"

#include <algorithm>
#include <limits>

namespace kelvara {

namespace {

constexpr int MaxCodes = 4096;
constexpr int MaxCodeWidth = 12;

} // namespace

// ---- string table ----

namespace {

constexpr int ChainPrime = 8009;
constexpr int ClassSlots = 4004; // the slots of each class of nonzero slots

// For each slot of the 8009-slot table: whether it is a quadratic residue, a power of 2.
struct ResidueSlots {
    std::array<bool, ChainPrime> residue{};
    constexpr ResidueSlots() {
        int power = 1;
        for (int i = 0; i < ClassSlots; ++i) {
            residue[static_cast<size_t>(power)] = true;
            power = power * 2 % ChainPrime;
        }
    }
};
constexpr ResidueSlots Residues;
static_assert(Residues.residue[ChainPrime - 1], "8008 (-1) is a residue: the chain from 0 runs there");

} // namespace

void LzwStringTable::clear() {
    std::fill(m_slots.begin(), m_slots.end(), Empty);
    m_slotZeroTaken = false;
    m_residuesTaken = 0;
    m_othersTaken = 0;
}

bool LzwStringTable::takeChainSlot(uint32_t key) {
    const uint32_t h = ((key >> 4) ^ key) % ChainPrime;
    if (h == 0 && !m_slotZeroTaken) {
        m_slotZeroTaken = true;
        return true;
    }
    int& taken = h == 0 || Residues.residue[h] ? m_residuesTaken : m_othersTaken;
    if (taken == ClassSlots)
        return false;
    ++taken;
    return true;
}

// ---- encoder ----

LzwEncoder::LzwEncoder(LzwEncoding encoding, int codeSize, std::vector<uint8_t>& out)
    : m_sink{out},
      // Only codes of 6 bits or fewer make enough strings to fill a bounded chain.
      m_table(encoding == LzwEncoding::GifEngine && codeSize <= 6 ? LzwStringTable::Chains::Bounded
                                                                  : LzwStringTable::Chains::Unbounded),
      m_msbFirst(encoding == LzwEncoding::Tiff), m_early(encoding == LzwEncoding::Tiff ? 1 : 0),
      m_literalMask((1 << codeSize) - 1), m_clearCode(1 << codeSize), m_endCode(m_clearCode + 1),
      m_tableLimit(encoding == LzwEncoding::Tiff        ? MaxCodes - 2
                   : encoding == LzwEncoding::GifEngine ? MaxCodes - 1
                                                        : MaxCodes),
      m_initialWidth(codeSize + 1), m_codeWidth(m_initialWidth), m_freeCode(m_clearCode + 2) {
    writeCode(m_clearCode);
}

template <class Writer> inline void LzwEncoder::writeCode(Writer& bits, int code) {
    bits.put(static_cast<uint32_t>(code), m_codeWidth);
    // Width changes take effect right after a code: back to the start after a clear, one bit
    // more once the next free code no longer fits (TIFF one code early), never past 12.
    if (code == m_clearCode)
        m_codeWidth = m_initialWidth;
    else if (m_codeWidth < MaxCodeWidth && m_freeCode >= (1 << m_codeWidth) - m_early)
        ++m_codeWidth;
}

void LzwEncoder::writeCode(int code) {
    if (m_msbFirst)
        writeCode(m_msb, code);
    else
        writeCode(m_lsb, code);
}

void LzwEncoder::add(const uint8_t* data, size_t count) {
    if (m_msbFirst)
        addWith(m_msb, data, count);
    else
        addWith(m_lsb, data, count);
}

template <class Writer> void LzwEncoder::addWith(Writer& bits, const uint8_t* data, size_t count) {
    size_t i = 0;
    if (!m_started) {
        if (count == 0)
            return;
        m_prefix = data[0] & m_literalMask;
        m_started = true;
        i = 1;
    }
    const int mask = m_literalMask;
    int prefix = m_prefix;
    for (; i < count; ++i) {
        const int k = data[i] & mask;
        int slot = 0;
        const int code = m_table.find(prefix, k, slot);
        if (code >= 0) {
            prefix = code;
            continue;
        }
        writeCode(bits, prefix);
        if (m_freeCode < m_tableLimit) {
            // A string left out of a bounded table still has its code: decoders define it all
            // the same, and the encoder simply never uses it.
            m_table.insert(slot, prefix, k, m_freeCode);
            ++m_freeCode;
        } else {
            writeCode(bits, m_clearCode);
            m_table.clear();
            m_freeCode = m_clearCode + 2;
        }
        prefix = k;
    }
    m_prefix = prefix;
}

void LzwEncoder::finish() {
    if (m_started)
        writeCode(m_prefix);
    writeCode(m_endCode);
    if (m_msbFirst)
        m_msb.flush();
    else
        m_lsb.flush();
}

// ---- decoder ----

namespace {

// Follows a table entry back to its first byte and appends the string, front to back, as far as
// the cap allows. Returns the string's first byte.
int emitString(int code, const std::vector<int16_t>& prefix, const std::vector<uint8_t>& suffix,
               std::vector<uint8_t>& stack, std::vector<uint8_t>& out, size_t cap) {
    stack.clear();
    while (code >= 0) {
        stack.push_back(suffix[static_cast<size_t>(code)]);
        code = prefix[static_cast<size_t>(code)];
        if (stack.size() > MaxCodes)
            throw LzwError(LzwMessages::Damaged);
    }
    for (auto it = stack.rbegin(); it != stack.rend() && out.size() < cap; ++it)
        out.push_back(*it);
    return stack.back();
}

} // namespace

LzwStop decodeLzw(LzwMode mode, int codeSize, const uint8_t* data, size_t size, size_t limit,
                  std::vector<uint8_t>& out, LzwAfterLimit afterLimit) {
    if (codeSize < 1 || codeSize > 11)
        throw LzwError(LzwMessages::Damaged);
    const bool msbFirst = mode == LzwMode::Tiff;
    const int early = mode == LzwMode::Tiff ? 1 : 0;
    const int clearCode = 1 << codeSize;
    const int endCode = clearCode + 1;
    const size_t cap = limit > std::numeric_limits<size_t>::max() - out.size()
                           ? std::numeric_limits<size_t>::max()
                           : out.size() + limit;
    std::vector<int16_t> prefix(MaxCodes, -1);
    std::vector<uint8_t> suffix(MaxCodes, 0);
    for (int i = 0; i < clearCode; ++i)
        suffix[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    std::vector<uint8_t> stack;
    out.reserve(std::min<size_t>(cap, out.size() + (size_t(1) << 26)));

    int codeWidth = codeSize + 1;
    int next = clearCode + 2;
    int old = -1;
    uint64_t accumulator = 0;
    int bits = 0;
    size_t pos = 0;
    for (;;) {
        if (out.size() >= cap && afterLimit == LzwAfterLimit::Stop)
            return LzwStop::Filled;
        while (bits < codeWidth && pos < size) {
            if (msbFirst)
                accumulator = (accumulator << 8) | data[pos++];
            else
                accumulator |= static_cast<uint64_t>(data[pos++]) << bits;
            bits += 8;
        }
        if (bits < codeWidth)
            return LzwStop::OutOfData;
        int code;
        if (msbFirst) {
            code = static_cast<int>((accumulator >> (bits - codeWidth)) & ((1u << codeWidth) - 1));
        } else {
            code = static_cast<int>(accumulator & ((1u << codeWidth) - 1));
            accumulator >>= codeWidth;
        }
        bits -= codeWidth;

        if (code == clearCode) {
            codeWidth = codeSize + 1;
            next = clearCode + 2;
            old = -1;
            continue;
        }
        if (code == endCode)
            return LzwStop::EndCode;
        if (old < 0) {
            // The first code after a clear must be a literal.
            if (code >= clearCode)
                throw LzwError(LzwMessages::Damaged);
            if (out.size() < cap)
                out.push_back(static_cast<uint8_t>(code));
            old = code;
            continue;
        }
        int first;
        if (code < next && (code < clearCode || code > endCode)) {
            first = emitString(code, prefix, suffix, stack, out, cap);
        } else if (code == next) {
            // The string being defined: the previous one and its own first byte.
            first = emitString(old, prefix, suffix, stack, out, cap);
            if (out.size() < cap)
                out.push_back(static_cast<uint8_t>(first));
        } else {
            throw LzwError(LzwMessages::Damaged);
        }
        if (next < MaxCodes) {
            prefix[static_cast<size_t>(next)] = static_cast<int16_t>(old);
            suffix[static_cast<size_t>(next)] = static_cast<uint8_t>(first);
            ++next;
            if (codeWidth < MaxCodeWidth && next >= (1 << codeWidth) - early)
                ++codeWidth;
        }
        old = code;
    }
}

// ---- GIF framing ----

std::vector<uint8_t> readGifSubBlocks(Stream& stream, bool& terminated) {
    std::vector<uint8_t> data;
    terminated = false;
    for (;;) {
        uint8_t n = 0;
        if (stream.read(&n, 1) != 1)
            return data;
        if (n == 0) {
            terminated = true;
            return data;
        }
        const size_t old = data.size();
        data.resize(old + n);
        const size_t got = stream.read(data.data() + old, n);
        data.resize(old + got);
        if (got < n)
            return data;
    }
}

std::vector<int> gifRowOrder(int height, bool interlaced) {
    std::vector<int> rows;
    rows.reserve(static_cast<size_t>(std::max(height, 0)));
    if (!interlaced) {
        for (int y = 0; y < height; ++y)
            rows.push_back(y);
        return rows;
    }
    static constexpr int Start[4] = {0, 4, 2, 1};
    static constexpr int Step[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
        for (int y = Start[pass]; y < height; y += Step[pass])
            rows.push_back(y);
    return rows;
}

} // namespace kelvara
