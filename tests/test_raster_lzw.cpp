// Tests of the LZW module: its GIF and TIFF modes in round trips through our encoders and giflib,
// the code-width changes and full tables, damaged code streams, and the readers that use it.
#include "input/PictureReader.h"
#include "output/LzwCodecs.h"
#include "raster/Lzw.h"
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

// The GIF and TIFF decoders of the module, as the readers call them.
std::vector<uint8_t> decodeGifCodes(const uint8_t* codes, size_t size, int minCodeSize, size_t pixelCount) {
    std::vector<uint8_t> out;
    decodeLzw(LzwMode::Gif, minCodeSize, codes, size, pixelCount, out);
    return out;
}
std::vector<uint8_t> decodeTiffStrip(const uint8_t* data, size_t size, size_t expectedSize) {
    std::vector<uint8_t> out;
    decodeLzw(LzwMode::Tiff, 8, data, size, expectedSize, out);
    return out;
}

} // namespace

TEST(Lzw, GifDecoderReadsOurEncoder) {
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
                EXPECT_EQ(decodeGifCodes(codes.data(), codes.size(), minCodeSize, indexes.size()), indexes);
            }
}

TEST(Lzw, TiffDecoderReadsOurEncoder) {
    for (const char* kind : {"runs", "noise", "mixed"})
        for (size_t rowBytes : {size_t(1), size_t(339), size_t(1920)}) {
            SCOPED_TRACE(std::string(kind) + " " + std::to_string(rowBytes));
            const std::vector<uint8_t> strip = sampleIndexes(kind, rowBytes * 40, 8);
            MemoryStream stream;
            std::unique_ptr<TiffLzwEncoderState> state;
            for (size_t row = 0; row < 40; ++row)
                encodeTiffLzw(strip.data() + row * rowBytes, rowBytes, stream, state);
            encodeTiffLzw(nullptr, 0, stream, state);
            EXPECT_EQ(decodeTiffStrip(stream.bytes().data(), stream.bytes().size(), strip.size()), strip);
        }
}

TEST(Lzw, GifDecoderReadsGiflib) {
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
    EXPECT_EQ(decodeGifCodes(codes.data(), codes.size(), minCodeSize, indexes.size()), indexes);
}

TEST(Lzw, CodesNotYetDefinedAreRefused) {
    // GIF, minimum code size 2: clear (4), then code 7, which is two past the next free code 6.
    const uint8_t gif[] = {0x3C, 0x00};
    EXPECT_THROW(decodeGifCodes(gif, sizeof gif, 2, 10), LzwError);
    // TIFF: clear (256), then 300 when the next free code is 258.
    const uint8_t tiff[] = {0x80, 0x4B, 0x00};
    EXPECT_THROW(decodeTiffStrip(tiff, sizeof tiff, 10), LzwError);
    // A bad minimum code size.
    EXPECT_THROW(decodeGifCodes(gif, sizeof gif, 12, 10), LzwError);
    // The readers give their own message for such data.
    std::vector<uint8_t> file = {'G', 'I', 'F', '8', '9', 'a', 2,   0,    2,    0, 0x80, 0,
                                 0,   0,   0,   0,   255, 255, 255, 0x2C, 0,    0, 0,    0,
                                 2,   0,   2,   0,   0,   2,   2,   0x3C, 0x00, 0, 0x3B};
    try {
        Bitmap picture;
        decodePicture(PictureFileType::Gif, file.data(), file.size(), picture);
        ADD_FAILURE() << "no error";
    } catch (const PictureReadError& e) {
        EXPECT_EQ(e.what(), PictureReaderMessages::message("GIF", PictureReaderMessages::NotValid));
    }
}

TEST(Lzw, ShortStreamsGiveWhatTheyHold) {
    const std::vector<uint8_t> strip = sampleIndexes("mixed", 5000, 8);
    MemoryStream stream;
    std::unique_ptr<TiffLzwEncoderState> state;
    encodeTiffLzw(strip.data(), strip.size(), stream, state);
    encodeTiffLzw(nullptr, 0, stream, state);
    const std::vector<uint8_t>& bytes = stream.bytes();
    const std::vector<uint8_t> part = decodeTiffStrip(bytes.data(), bytes.size() / 2, strip.size());
    ASSERT_LT(part.size(), strip.size());
    EXPECT_TRUE(std::equal(part.begin(), part.end(), strip.begin()));
    // More room than the strip fills: exactly the strip comes back.
    EXPECT_EQ(decodeTiffStrip(bytes.data(), bytes.size(), strip.size() + 100), strip);
}

TEST(Lzw, TiffReaderDecodesAnLzwStrip) {
    // Little-endian TIFF, one 2 x 1 grey strip, LZW: the strip holds the pixels 0 and 255.
    const uint8_t pixels[] = {0, 255};
    MemoryStream strip;
    std::unique_ptr<TiffLzwEncoderState> state;
    encodeTiffLzw(pixels, 2, strip, state);
    encodeTiffLzw(nullptr, 0, strip, state);
    ASSERT_EQ(strip.size(), 5u); // clear, 0, 255, end: 36 bits
    std::vector<uint8_t> tiff = {'I',  'I',  42, 0, 8, 0, 0, 0, 7,  0, 0x00, 0x01,
                                 3,    0,    1,  0, 0, 0, 2, 0, 0,  0,          // width 2
                                 0x01, 0x01, 3,  0, 1, 0, 0, 0, 1,  0, 0,    0, // length 1
                                 0x02, 0x01, 3,  0, 1, 0, 0, 0, 8,  0, 0,    0, // 8 bits
                                 0x03, 0x01, 3,  0, 1, 0, 0, 0, 5,  0, 0,    0, // LZW
                                 0x06, 0x01, 3,  0, 1, 0, 0, 0, 1,  0, 0,    0, // black is zero
                                 0x11, 0x01, 4,  0, 1, 0, 0, 0, 98, 0, 0,    0, // strip offset
                                 0x17, 0x01, 4,  0, 1, 0, 0, 0, 5,  0, 0,    0, // strip byte count
                                 0,    0,    0,  0};
    tiff.insert(tiff.end(), strip.bytes().begin(), strip.bytes().end());
    ASSERT_EQ(tiff.size(), 98u + 5u);
    Bitmap picture;
    decodePicture(PictureFileType::Tiff, tiff.data(), tiff.size(), picture);
    EXPECT_EQ(picture.pixel(0, 0), ColorBlack);
    EXPECT_EQ(picture.pixel(1, 0), ColorWhite);
    // A strip whose codes are damaged is refused with the reader's message.
    tiff[98 + 1] = 0x7F; // the second code becomes 508, not yet defined
    EXPECT_THROW(decodePicture(PictureFileType::Tiff, tiff.data(), tiff.size(), picture), PictureReadError);
}

TEST(Lzw, RandomBytesNeverOverrun) {
    std::mt19937 random(11);
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> data(random() % 600);
        for (uint8_t& b : data)
            b = static_cast<uint8_t>(random());
        const size_t expected = random() % 2000;
        try {
            EXPECT_LE(decodeTiffLzw(data.data(), data.size(), expected).size(), expected);
        } catch (const LzwError&) {
        }
        std::vector<uint8_t> gif = data;
        if (!gif.empty())
            gif[0] = static_cast<uint8_t>(2 + gif[0] % 7);
        MemoryStream stream(gif);
        try {
            EXPECT_EQ(decodeGifLzw(stream, 13, 17, round % 2 == 0).size(), 13u * 17);
        } catch (const LzwError&) {
        }
    }
}
