// The picture reader's GIF and TIFF LZW decoders: the still-image codecs' decoders, raising the
// reader's messages, behind the hooks the GIF and TIFF readers call.
#include "input/LzwDecoders.h"

#include "input/ByteReader.h"
#include "input/PictureReader.h"
#include "output/LzwCodecs.h"
#include "output/WriterParams.h"

namespace kelvara {

std::vector<uint8_t> decodeGifLzwCodes(const uint8_t* codes, size_t size, int minCodeSize,
                                       size_t pixelCount) {
    // The same GIF LZW decoder as the writers' hook pair, with the picture reader's message.
    if (minCodeSize < 2 || minCodeSize > 8)
        input_detail::fail("GIF", PictureReaderMessages::NotValid);
    try {
        return decodeGifLzwSequence(codes, size, minCodeSize, pixelCount);
    } catch (const OutputError&) {
        input_detail::fail("GIF", PictureReaderMessages::NotValid);
    }
}

std::vector<uint8_t> decodeTiffLzwStrip(const uint8_t* data, size_t size, size_t expectedSize) {
    // The same TIFF LZW decoder as the writers' hook pair, with the picture reader's message.
    try {
        return decodeTiffLzw(data, size, expectedSize);
    } catch (const OutputError&) {
        input_detail::fail("TIFF", PictureReaderMessages::NotValid);
    }
}

namespace {
PictureDecoderHooks g_hooks;
} // namespace

const PictureDecoderHooks& pictureDecoderHooks() {
    return g_hooks;
}

void setPictureDecoderHooks(const PictureDecoderHooks& hooks) {
    g_hooks = hooks;
}

void installDefaultPictureDecoders() {
    g_hooks = PictureDecoderHooks{};
}

} // namespace kelvara
