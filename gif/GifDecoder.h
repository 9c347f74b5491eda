// Decoding of GIF image data (LZW), for reading GIF files.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kelvara {

class Stream;

// Reads Table Based Image Data (GIF89a, section 22) from the stream's position: the LZW minimum
// code size, the data sub-blocks and the block terminator. Pixels receive width * height
// indices, rows top first (interlaced data is put in place by the four passes). Data that ends
// early leaves the remaining pixels 0 and is reported through warn ("Premature end of data");
// codes no encoder can write raise "Invalid GIF data".
void decodeGIFImage(Stream& stream, int width, int height, bool interlaced, uint8_t* pixels,
                    const std::function<void(const std::string&)>& warn);

} // namespace kelvara
