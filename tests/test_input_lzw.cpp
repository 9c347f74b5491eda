// Tests of the picture reader's GIF and TIFF LZW decoders: round trips through our own encoders
// and giflib, the code-width changes and full tables, and damaged code streams.
#include "input/LzwDecoders.h"
#include "input/PictureReader.h"
#include "output/LzwCodecs.h"
#include "raster/Stream.h"

#include <gtest/gtest.h>

#include <gif_lib.h>

#include <memory>
#include <random>

using namespace kelvara;

namespace {

// Test data of several kinds: long runs (long strings), noise (a table that fills quickly and is
// cleared or stays full), and a mix.
std::vector<uint8_t> sampleIndexes(const std::string& kind, size_t count, int bits) {
    std::vector<uint8_t> v(count);
    std::mt19937 random(static_cast<uint32_t>(count * 31 + bits));
    const int mask = (1 << bits) - 1;
    for (size_t i = 0; i < count; ++i) {
        if (kind == "runs")
            v[i] = static_cast<uint8_t>((i / 97) & mask);
        else if (kind == "noise")
            v[i] = static_cast<uint8_t>(random() & mask);
        else
            v[i] = static_cast<uint8_t>(((i % 211) < 150 ? i / 50 : random()) & mask);
    }
    return v;
}

// The LZW codes of a GIF image's data: minimum code size, then the sub-blocks to the terminator.
std::vector<uint8_t> gatherSubBlocks(const std::vector<uint8_t>& bytes, int& minCodeSize) {
    minCodeSize = bytes.at(0);
    std::vector<uint8_t> codes;
    size_t p = 1;
    while (p < bytes.size() && bytes[p] != 0) {
        const size_t n = bytes[p];
        codes.insert(codes.end(), bytes.begin() + long(p) + 1, bytes.begin() + long(p + 1 + n));
        p += n + 1;
    }
    return codes;
}

} // namespace

TEST(InputLzw, GifDecoderReadsOurEncoder) {
    for (const char* kind : {"runs", "noise", "mixed"})
        for (int bits : {1, 2, 4, 8})
            for (auto [width, height] : {std::pair{1, 1}, std::pair{113, 157}, std::pair{640, 48}}) {
                SCOPED_TRACE(std::string(kind) + " bits " + std::to_string(bits) + " " +
                             std::to_string(width));
                const std::vector<uint8_t> indexes = sampleIndexes(kind, size_t(width) * height, bits);
                MemoryStream stream;
                encodeGifLzw(stream, height, width, bits, indexes.data(), false);
                int minCodeSize = 0;
                const std::vector<uint8_t> codes = gatherSubBlocks(stream.bytes(), minCodeSize);
                EXPECT_EQ(decodeGifLzwCodes(codes.data(), codes.size(), minCodeSize, indexes.size()),
                          indexes);
            }
}

TEST(InputLzw, TiffDecoderReadsOurEncoder) {
    for (const char* kind : {"runs", "noise", "mixed"})
        for (size_t rowBytes : {size_t(1), size_t(339), size_t(1920)}) {
            SCOPED_TRACE(std::string(kind) + " " + std::to_string(rowBytes));
            const std::vector<uint8_t> strip = sampleIndexes(kind, rowBytes * 40, 8);
            MemoryStream stream;
            std::unique_ptr<TiffLzwEncoderState> state;
            for (size_t row = 0; row < 40; ++row)
                encodeTiffLzw(strip.data() + row * rowBytes, rowBytes, stream, state);
            encodeTiffLzw(nullptr, 0, stream, state);
            EXPECT_EQ(decodeTiffLzwStrip(stream.bytes().data(), stream.bytes().size(), strip.size()), strip);
        }
}

TEST(InputLzw, GifDecoderReadsGiflib) {
    // giflib's encoder, through a whole GIF written to memory; our decoder then reads its codes.
    const int width = 211, height = 67;
    const std::vector<uint8_t> indexes = sampleIndexes("mixed", size_t(width) * height, 8);
    std::vector<uint8_t> file;
    auto writeToVector = [](GifFileType* gif, const GifByteType* data, int length) {
        auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
        out->insert(out->end(), data, data + length);
        return length;
    };
    int error = 0;
    GifFileType* gif = EGifOpen(&file, writeToVector, &error);
    ASSERT_NE(gif, nullptr);
    ColorMapObject* map = GifMakeMapObject(256, nullptr);
    EGifPutScreenDesc(gif, width, height, 8, 0, map);
    EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr);
    for (int y = 0; y < height; ++y)
        EGifPutLine(gif, const_cast<GifPixelType*>(indexes.data() + size_t(y) * width), width);
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);

    Bitmap picture;
    decodePicture(PictureFileType::Gif, file.data(), file.size(), picture);
    ASSERT_EQ(picture.Width(), width);
    ASSERT_EQ(picture.Height(), height);
    // The colour map is all black, so the indexes are checked on the image's codes themselves.
    const size_t imageStart = 13 + 768 + 10;
    int minCodeSize = 0;
    std::vector<uint8_t> tail(file.begin() + long(imageStart), file.end());
    const std::vector<uint8_t> codes = gatherSubBlocks(tail, minCodeSize);
    EXPECT_EQ(decodeGifLzwCodes(codes.data(), codes.size(), minCodeSize, indexes.size()), indexes);
}

TEST(InputLzw, CodesNotYetDefinedAreRefused) {
    // GIF, minimum code size 2: clear (4), then code 7, which is two past the next free code 6.
    const uint8_t gif[] = {0x3C, 0x00};
    EXPECT_THROW(decodeGifLzwCodes(gif, sizeof gif, 2, 10), PictureReadError);
    // TIFF: clear (256), then 300 when the next free code is 258.
    const uint8_t tiff[] = {0x80, 0x4B, 0x00};
    EXPECT_THROW(decodeTiffLzwStrip(tiff, sizeof tiff, 10), PictureReadError);
    // A bad minimum code size.
    EXPECT_THROW(decodeGifLzwCodes(gif, sizeof gif, 12, 10), PictureReadError);
}

TEST(InputLzw, ShortStreamsGiveWhatTheyHold) {
    const std::vector<uint8_t> strip = sampleIndexes("mixed", 5000, 8);
    MemoryStream stream;
    std::unique_ptr<TiffLzwEncoderState> state;
    encodeTiffLzw(strip.data(), strip.size(), stream, state);
    encodeTiffLzw(nullptr, 0, stream, state);
    const std::vector<uint8_t>& bytes = stream.bytes();
    const std::vector<uint8_t> part = decodeTiffLzwStrip(bytes.data(), bytes.size() / 2, strip.size());
    ASSERT_LT(part.size(), strip.size());
    EXPECT_TRUE(std::equal(part.begin(), part.end(), strip.begin()));
    // More room than the strip fills: exactly the strip comes back.
    EXPECT_EQ(decodeTiffLzwStrip(bytes.data(), bytes.size(), strip.size() + 100), strip);
}

TEST(InputLzw, ReadersGoThroughTheHooks) {
    // A hook that decodes every TIFF strip as zeros shows the TIFF reader calls it.
    static int calls = 0;
    PictureDecoderHooks hooks;
    hooks.tiffLzw = [](const uint8_t*, size_t, size_t expected) {
        ++calls;
        return std::vector<uint8_t>(expected, 0);
    };
    setPictureDecoderHooks(hooks);
    // Little-endian TIFF, one 2 x 1 grey strip, LZW (the strip's bytes are never decoded).
    const uint8_t tiff[] = {'I',  'I',  42, 0, 8,    0,   0, 0, 7,  0, 0x00, 0x01,
                            3,    0,    1,  0, 0,    0,   2, 0, 0,  0,          // width 2
                            0x01, 0x01, 3,  0, 1,    0,   0, 0, 1,  0, 0,    0, // length 1
                            0x02, 0x01, 3,  0, 1,    0,   0, 0, 8,  0, 0,    0, // 8 bits
                            0x03, 0x01, 3,  0, 1,    0,   0, 0, 5,  0, 0,    0, // LZW
                            0x06, 0x01, 3,  0, 1,    0,   0, 0, 1,  0, 0,    0, // black is zero
                            0x11, 0x01, 4,  0, 1,    0,   0, 0, 98, 0, 0,    0, // strip offset
                            0x17, 0x01, 4,  0, 1,    0,   0, 0, 2,  0, 0,    0, // strip byte count
                            0,    0,    0,  0, 0xFF, 0xFF};
    Bitmap picture;
    decodePicture(PictureFileType::Tiff, tiff, sizeof tiff, picture);
    installDefaultPictureDecoders();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(picture.pixel(0, 0), ColorBlack);
    EXPECT_EQ(picture.pixel(1, 0), ColorBlack);
}
