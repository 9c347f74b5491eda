// The GIF reader: the first image of a GIF87a or GIF89a file on its logical screen.
#include "input/ByteReader.h"
#include "raster/Lzw.h"

#include <algorithm>
#include <vector>

namespace kelvara::input_detail {

namespace {

constexpr const char* Kind = "GIF";

// Reads a colour table of 2^(bits + 1) entries; indexes past its end read as black.
std::vector<Color> readColorTable(ByteReader& in, int bits) {
    const int count = 1 << (bits + 1);
    const uint8_t* p = in.take(uint64_t(count) * 3);
    std::vector<Color> table(256, ColorBlack);
    for (int i = 0; i < count; ++i)
        table[size_t(i)] = rgbColor(p[3 * i], p[3 * i + 1], p[3 * i + 2]);
    return table;
}

// Skips a chain of data sub-blocks up to and including the block terminator.
void skipSubBlocks(ByteReader& in) {
    for (;;) {
        const uint8_t length = in.u8();
        if (length == 0)
            return;
        in.skip(length);
    }
}

// Collects the image data sub-blocks into one run of LZW codes.
std::vector<uint8_t> readSubBlocks(ByteReader& in) {
    std::vector<uint8_t> codes;
    for (;;) {
        const uint8_t length = in.u8();
        if (length == 0)
            return codes;
        const uint8_t* p = in.take(length);
        codes.insert(codes.end(), p, p + length);
    }
}

} // namespace

void decodeGif(const uint8_t* data, size_t size, Bitmap& picture) {
    ByteReader in(data, size, Kind);
    // Header (GIF89a, section 17).
    const uint8_t* signature = in.take(6);
    if (std::memcmp(signature, "GIF87a", 6) != 0 && std::memcmp(signature, "GIF89a", 6) != 0)
        in.invalid();
    // Logical Screen Descriptor (section 18).
    int screenWidth = in.le16();
    int screenHeight = in.le16();
    const uint8_t packed = in.u8();
    in.skip(2); // background colour index, pixel aspect ratio
    std::vector<Color> globalTable;
    if (packed & 0x80)
        globalTable = readColorTable(in, packed & 7);

    int transparentIndex = -1;
    for (;;) {
        const uint8_t introducer = in.u8();
        if (introducer == 0x3B) // Trailer: a file with no image
            in.invalid();
        if (introducer == 0x21) {
            const uint8_t label = in.u8();
            if (label == 0xF9) {
                // Graphic Control Extension (section 23): the first image's transparent colour.
                const uint8_t length = in.u8();
                if (length < 4)
                    in.invalid();
                const uint8_t* block = in.take(length);
                transparentIndex = (block[0] & 1) ? block[3] : -1;
            }
            skipSubBlocks(in);
            continue;
        }
        if (introducer != 0x2C)
            in.invalid();

        // Image Descriptor (section 20).
        const int left = in.le16(), top = in.le16();
        const int width = in.le16(), height = in.le16();
        const uint8_t imagePacked = in.u8();
        checkPictureSize(Kind, width, height);
        std::vector<Color> table =
            (imagePacked & 0x80) ? readColorTable(in, imagePacked & 7) : std::move(globalTable);
        if (table.empty()) {
            // No colour table anywhere: a grey ramp stands in.
            table.resize(256);
            for (int i = 0; i < 256; ++i)
                table[size_t(i)] = rgbColor(i, i, i);
        }
        // Table Based Image Data (section 22).
        const int minCodeSize = in.u8();
        if (minCodeSize < 2 || minCodeSize > 8)
            in.invalid();
        const std::vector<uint8_t> codes = readSubBlocks(in);
        // The n codes since a clear make strings of at most 1, 2, ..., n bytes (and never more than
        // the table holds): data too short to fill the image is refused before anything is made.
        const uint64_t codeCount = uint64_t(codes.size()) * 8 / uint64_t(minCodeSize + 1);
        const uint64_t producible = std::min(codeCount * (codeCount + 1) / 2, codeCount * 4096);
        if (producible < uint64_t(width) * height)
            in.truncated();
        std::vector<uint8_t> indexes;
        try {
            decodeLzw(LzwMode::Gif, minCodeSize, codes.data(), codes.size(), size_t(width) * height, indexes);
        } catch (const LzwError&) {
            in.invalid();
        }
        if (indexes.size() < size_t(width) * height)
            in.truncated();

        // A logical screen of 0 in either direction takes the image's extent instead.
        if (screenWidth == 0 || screenHeight == 0) {
            screenWidth = left + width;
            screenHeight = top + height;
        }
        checkPictureSize(Kind, screenWidth, screenHeight);
        Bitmap decoded;
        makePicture24(decoded, screenWidth, screenHeight);
        const std::vector<int> rows = gifRowOrder(height, (imagePacked & 0x40) != 0);
        for (int stored = 0; stored < height; ++stored) {
            const int y = top + rows[size_t(stored)];
            if (y >= screenHeight)
                continue;
            uint8_t* row = decoded.ScanLine(y);
            const uint8_t* source = indexes.data() + size_t(stored) * width;
            for (int x = 0; x < width && left + x < screenWidth; ++x) {
                if (source[x] == transparentIndex)
                    continue; // transparent: stays white
                const Color c = table[source[x]];
                putRgb(row, left + x, redOf(c), greenOf(c), blueOf(c));
            }
        }
        picture.Assign(decoded);
        return;
    }
}

} // namespace kelvara::input_detail
