// CCITT bilevel encoders for TIFF strips: modified Huffman rows, Group 3 (1-D and 2-D) and Group 4.
#pragma once

#include "raster/Lzw.h"

#include <cstdint>
#include <vector>

namespace kelvara {

enum class CcittCoding {
    // Modified Huffman rows, each padded to a byte boundary, no EOL (TIFF compression 2).
    ModifiedHuffman,
    // Group 3, every row one-dimensional after an EOL (compression 3, T4Options 0).
    Group3OneD,
    // Group 3, EOL and tag bit before each row: the first row 1-D, later rows 2-D (T4Options 1).
    Group3TwoD,
    // Group 4: every row 2-D against the previous one, then the end-of-facsimile-block.
    Group4,
};

// Encodes rows of pixels given one byte per pixel, 0 white and 1 black.
class CcittEncoder {
public:
    CcittEncoder(CcittCoding coding, int width);
    CcittEncoder(const CcittEncoder&) = delete;
    CcittEncoder& operator=(const CcittEncoder&) = delete;

    void encodeRow(const uint8_t* pixels);
    // Ends the strip and returns its bytes.
    std::vector<uint8_t> finish();

private:
    void putBits(uint32_t code, int length);
    void putRun(int run, int color);
    void codeOneDimensional(const uint8_t* row);
    void codeTwoDimensional(const uint8_t* row);
    void alignToByte();

    CcittCoding m_coding;
    int m_width;
    bool m_firstRow = true;
    std::vector<uint8_t> m_reference;
    std::vector<uint8_t> m_out;
    ByteVectorSink m_sink{m_out};
    MsbBitWriter<ByteVectorSink> m_writer{m_sink};
};

} // namespace kelvara
