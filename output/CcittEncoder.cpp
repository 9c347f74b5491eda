// CCITT bilevel encoders: the ITU-T T.4 modified Huffman and modified READ codings and the T.6
// two-dimensional coding, with the code tables of T.4.
#include "output/CcittEncoder.h"

#include <array>
#include <cstring>

namespace kelvara {

namespace {

struct Code {
    uint16_t bits = 0;
    uint8_t length = 0;
};

constexpr Code code(const char* text) {
    Code c;
    for (const char* p = text; *p; ++p) {
        c.bits = static_cast<uint16_t>((c.bits << 1) | (*p == '1' ? 1 : 0));
        ++c.length;
    }
    return c;
}

// T.4 Table 2: terminating codes for runs 0..63.
constexpr const char* WhiteTerminating[64] = {
    "00110101", "000111",   "0111",     "1000",     "1011",     "1100",     "1110",     "1111",
    "10011",    "10100",    "00111",    "01000",    "001000",   "000011",   "110100",   "110101",
    "101010",   "101011",   "0100111",  "0001100",  "0001000",  "0010111",  "0000011",  "0000100",
    "0101000",  "0101011",  "0010011",  "0100100",  "0011000",  "00000010", "00000011", "00011010",
    "00011011", "00010010", "00010011", "00010100", "00010101", "00010110", "00010111", "00101000",
    "00101001", "00101010", "00101011", "00101100", "00101101", "00000100", "00000101", "00001010",
    "00001011", "01010010", "01010011", "01010100", "01010101", "00100100", "00100101", "01011000",
    "01011001", "01011010", "01011011", "01001010", "01001011", "00110010", "00110011", "00110100",
};
constexpr const char* BlackTerminating[64] = {
    "0000110111",   "010",          "11",           "10",           "011",          "0011",
    "0010",         "00011",        "000101",       "000100",       "0000100",      "0000101",
    "0000111",      "00000100",     "00000111",     "000011000",    "0000010111",   "0000011000",
    "0000001000",   "00001100111",  "00001101000",  "00001101100",  "00000110111",  "00000101000",
    "00000010111",  "00000011000",  "000011001010", "000011001011", "000011001100", "000011001101",
    "000001101000", "000001101001", "000001101010", "000001101011", "000011010010", "000011010011",
    "000011010100", "000011010101", "000011010110", "000011010111", "000001101100", "000001101101",
    "000011011010", "000011011011", "000001010100", "000001010101", "000001010110", "000001010111",
    "000001100100", "000001100101", "000001010010", "000001010011", "000000100100", "000000110111",
    "000000111000", "000000100111", "000000101000", "000001011000", "000001011001", "000000101011",
    "000000101100", "000001011010", "000001100110", "000001100111",
};
// T.4 Table 3: make-up codes for 64..1728, then the extended make-up codes 1792..2560 of both colours.
constexpr const char* WhiteMakeUp[27] = {
    "11011",     "10010",     "010111",    "0110111",   "00110110",  "00110111",  "01100100",
    "01100101",  "01101000",  "01100111",  "011001100", "011001101", "011010010", "011010011",
    "011010100", "011010101", "011010110", "011010111", "011011000", "011011001", "011011010",
    "011011011", "010011000", "010011001", "010011010", "011000",    "010011011",
};
constexpr const char* BlackMakeUp[27] = {
    "0000001111",    "000011001000",  "000011001001",  "000001011011",  "000000110011",  "000000110100",
    "000000110101",  "0000001101100", "0000001101101", "0000001001010", "0000001001011", "0000001001100",
    "0000001001101", "0000001110010", "0000001110011", "0000001110100", "0000001110101", "0000001110110",
    "0000001110111", "0000001010010", "0000001010011", "0000001010100", "0000001010101", "0000001011010",
    "0000001011011", "0000001100100", "0000001100101",
};
constexpr const char* ExtendedMakeUp[13] = {
    "00000001000",  "00000001100",  "00000001101",  "000000010010", "000000010011",
    "000000010100", "000000010101", "000000010110", "000000010111", "000000011100",
    "000000011101", "000000011110", "000000011111",
};

struct Tables {
    std::array<Code, 64> terminating[2];
    std::array<Code, 40> makeUp[2]; // index run / 64 - 1, 64..2560
    Tables() {
        for (int i = 0; i < 64; ++i) {
            terminating[0][i] = code(WhiteTerminating[i]);
            terminating[1][i] = code(BlackTerminating[i]);
        }
        for (int i = 0; i < 27; ++i) {
            makeUp[0][i] = code(WhiteMakeUp[i]);
            makeUp[1][i] = code(BlackMakeUp[i]);
        }
        for (int i = 0; i < 13; ++i)
            makeUp[0][27 + i] = makeUp[1][27 + i] = code(ExtendedMakeUp[i]);
    }
};

const Tables& tables() {
    static const Tables t;
    return t;
}

constexpr Code Eol = {1, 12};
constexpr Code PassMode = {0b0001, 4};
constexpr Code HorizontalMode = {0b001, 3};
// Vertical modes for a1 - b1 = -3..3.
constexpr Code VerticalMode[7] = {{0b0000010, 7}, {0b000010, 6}, {0b010, 3},    {0b1, 1},
                                  {0b011, 3},     {0b000011, 6}, {0b0000011, 7}};

// The first changing element after position from (-1 before the row): the first x > from whose
// colour differs from the pixel on its left, the pixel left of the row counting as white.
int nextChange(const uint8_t* row, int width, int from) {
    int x = from + 1;
    uint8_t previous = from < 0 ? 0 : row[from];
    while (x < width && row[x] == previous)
        ++x;
    return x;
}

} // namespace

CcittEncoder::CcittEncoder(CcittCoding coding, int width)
    : m_coding(coding), m_width(width), m_reference(static_cast<size_t>(width > 0 ? width : 0), 0) {}

void CcittEncoder::putBits(uint32_t code, int length) {
    m_writer.put(code, length);
}

void CcittEncoder::alignToByte() {
    m_writer.flush();
}

void CcittEncoder::putRun(int run, int color) {
    const Tables& t = tables();
    while (run >= 2560 + 64) {
        putBits(t.makeUp[color][39].bits, t.makeUp[color][39].length);
        run -= 2560;
    }
    if (run >= 64) {
        const Code& c = t.makeUp[color][run / 64 - 1];
        putBits(c.bits, c.length);
        run %= 64;
    }
    putBits(t.terminating[color][run].bits, t.terminating[color][run].length);
}

void CcittEncoder::codeOneDimensional(const uint8_t* row) {
    int position = 0;
    int color = 0;
    while (position < m_width) {
        int end = position;
        while (end < m_width && row[end] == color)
            ++end;
        putRun(end - position, color);
        position = end;
        color ^= 1;
    }
    if (m_width == 0)
        putRun(0, 0);
}

void CcittEncoder::codeTwoDimensional(const uint8_t* row) {
    const uint8_t* ref = m_reference.data();
    const int w = m_width;
    int a0 = -1;
    int color = 0;
    while (a0 < w) {
        int a1 = nextChange(row, w, a0);
        int b1 = nextChange(ref, w, a0);
        if (b1 < w && ref[b1] == color)
            b1 = nextChange(ref, w, b1);
        int b2 = b1 < w ? nextChange(ref, w, b1) : w;
        if (b2 < a1) {
            putBits(PassMode.bits, PassMode.length);
            a0 = b2;
        } else if (a1 - b1 >= -3 && a1 - b1 <= 3) {
            const Code& c = VerticalMode[a1 - b1 + 3];
            putBits(c.bits, c.length);
            a0 = a1;
            color ^= 1;
        } else {
            int a2 = a1 < w ? nextChange(row, w, a1) : w;
            putBits(HorizontalMode.bits, HorizontalMode.length);
            putRun(a1 - (a0 < 0 ? 0 : a0), color);
            putRun(a2 - a1, color ^ 1);
            a0 = a2;
        }
    }
}

void CcittEncoder::encodeRow(const uint8_t* pixels) {
    switch (m_coding) {
    case CcittCoding::ModifiedHuffman:
        codeOneDimensional(pixels);
        alignToByte();
        break;
    case CcittCoding::Group3OneD:
        putBits(Eol.bits, Eol.length);
        codeOneDimensional(pixels);
        break;
    case CcittCoding::Group3TwoD:
        putBits(Eol.bits, Eol.length);
        putBits(m_firstRow ? 1 : 0, 1);
        if (m_firstRow)
            codeOneDimensional(pixels);
        else
            codeTwoDimensional(pixels);
        break;
    case CcittCoding::Group4:
        codeTwoDimensional(pixels);
        break;
    }
    if (m_width > 0)
        std::memcpy(m_reference.data(), pixels, static_cast<size_t>(m_width));
    m_firstRow = false;
}

std::vector<uint8_t> CcittEncoder::finish() {
    if (m_coding == CcittCoding::Group3TwoD) {
        putBits(Eol.bits, Eol.length);
    } else if (m_coding == CcittCoding::Group4) {
        putBits(Eol.bits, Eol.length);
        putBits(Eol.bits, Eol.length);
    }
    alignToByte();
    return std::move(m_out);
}

} // namespace kelvara
