// The GIF and TIFF LZW decoders of the picture reader, and the decoding hooks through which the
// GIF and TIFF readers reach them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelvara {

// GIF: codes packed least significant bit first, starting at minCodeSize + 1 bits and growing to
// 12 when the next free code reaches the width's limit; a full table stays full until the next
// clear code. Decodes at most pixelCount indexes; a stream that ends early gives fewer.
// Throws PictureReadError for a code that is not yet defined or a bad minimum code size.
std::vector<uint8_t> decodeGifLzwCodes(const uint8_t* codes, size_t size, int minCodeSize, size_t pixelCount);

// TIFF: codes of 9 to 12 bits packed most significant bit first, the width growing one code
// early; 256 clears, 257 ends. Decodes at most expectedSize bytes; a strip that ends early gives
// fewer. Throws PictureReadError on a code that is not yet defined.
std::vector<uint8_t> decodeTiffLzwStrip(const uint8_t* data, size_t size, size_t expectedSize);

// The decoding hooks the GIF and TIFF readers call. They start as the decoders above; the main
// window installs them again at start-up.
struct PictureDecoderHooks {
    std::vector<uint8_t> (*gifLzw)(const uint8_t* codes, size_t size, int minCodeSize,
                                   size_t pixelCount) = decodeGifLzwCodes;
    std::vector<uint8_t> (*tiffLzw)(const uint8_t* data, size_t size,
                                    size_t expectedSize) = decodeTiffLzwStrip;
};

const PictureDecoderHooks& pictureDecoderHooks();
void setPictureDecoderHooks(const PictureDecoderHooks& hooks);
// Installs this program's own GIF and TIFF LZW decoders as the hooks.
void installDefaultPictureDecoders();

} // namespace kelvara
