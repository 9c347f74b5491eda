// The GIF and TIFF LZW codecs of the still-image writers and readers: the one LZW coder with each
// format's framing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace kelvara {

class Stream;

// The state a TIFF LZW encoder keeps between its calls for one strip.
class TiffLzwEncoderState {
public:
    virtual ~TiffLzwEncoderState() = default;
};

// GIF: the minimum code size, the codes in data sub-blocks of 254 bytes and the block terminator,
// for width x height indexes given row after row from the top (stored by the interlace passes when
// interlaced).
void encodeGifLzw(Stream& stream, int height, int width, int bits, const uint8_t* indexes, bool interlaced);
// Reads back what encodeGifLzw wrote: the indexes row after row from the top. Raises LzwError on
// damaged data; pixels the data does not reach are 0.
std::vector<uint8_t> decodeGifLzw(Stream& stream, int height, int width, bool interlaced);

// TIFF: called once per row of a strip with the same state, which starts empty, and once more with
// no bytes (row == nullptr) to end the strip. The codes go out in pieces of at most 254 bytes.
void encodeTiffLzw(const uint8_t* row, size_t count, Stream& stream,
                   std::unique_ptr<TiffLzwEncoderState>& state);
// Decodes one strip to at most expectedSize bytes; raises LzwError on damaged data.
std::vector<uint8_t> decodeTiffLzw(const uint8_t* data, size_t size, size_t expectedSize);

} // namespace kelvara
