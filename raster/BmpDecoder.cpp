// Decoding of BMP byte images into a Bitmap (LoadFromStream), RLE4 and RLE8 included.
#include "raster/Bitmap.h"

#include "raster/Error.h"
#include "raster/Picture.h"
#include "raster/Stream.h"

#include <cstring>
#include <optional>
#include <string>

namespace kelvara {

namespace {

// Refuses the image, saying why.
[[noreturn]] void invalid(const std::string& reason) {
    throw RasterError(RasterMessages::invalidBitmap(reason));
}

constexpr const char* CutShort = "cut short";

uint16_t get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t get32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Run-length pictures up to this many pixels need no data to fill them (see LoadFromStream).
constexpr int64_t MaxSparseRlePixels = int64_t(1) << 20;

void readOrInvalid(Stream& stream, void* buffer, size_t count) {
    if (stream.read(buffer, count) != count)
        invalid(CutShort);
}

// Expands RLE8 (bits 8) or RLE4 (bits 4) data into a bottom-up picture stored top-down.
void expandRle(const std::vector<uint8_t>& data, int bits, Bitmap::Picture& p) {
    const int width = p.width, height = p.height;
    size_t pos = 0;
    int x = 0, y = 0; // y counts rows from the bottom
    auto need = [&](size_t n) {
        if (pos + n > data.size())
            invalid("the run-length data is cut short");
    };
    auto put = [&](int index) {
        if (x >= width || y >= height)
            invalid("a run goes past the picture");
        uint8_t* row = p.bits.data() + static_cast<size_t>(height - 1 - y) * p.stride;
        if (bits == 8) {
            row[x] = static_cast<uint8_t>(index);
        } else {
            uint8_t& b = row[x >> 1];
            b = (x & 1) ? static_cast<uint8_t>((b & 0xF0) | (index & 0x0F))
                        : static_cast<uint8_t>((b & 0x0F) | ((index & 0x0F) << 4));
        }
        ++x;
    };
    while (pos < data.size()) {
        need(2);
        int count = data[pos], value = data[pos + 1];
        pos += 2;
        if (count > 0) {
            for (int i = 0; i < count; ++i)
                put(bits == 8 ? value : ((i & 1) ? (value & 0x0F) : (value >> 4)));
            continue;
        }
        switch (value) {
        case 0: // end of line
            x = 0;
            ++y;
            break;
        case 1: // end of bitmap
            return;
        case 2: // delta
            need(2);
            x += data[pos];
            y += data[pos + 1];
            pos += 2;
            if (x > width || y > height)
                invalid("a run-length move goes past the picture");
            break;
        default: { // absolute run of `value` pixels, padded to a 16-bit boundary
            size_t bytes = bits == 8 ? size_t(value) : (size_t(value) + 1) / 2;
            need(bytes);
            for (int i = 0; i < value; ++i)
                put(bits == 8 ? data[pos + i]
                              : ((i & 1) ? (data[pos + i / 2] & 0x0F) : (data[pos + i / 2] >> 4)));
            pos += bytes + (bytes & 1);
            break;
        }
        }
    }
    // Data that ends without the end-of-bitmap mark ends the picture there.
}

} // namespace

void Bitmap::LoadFromStream(Stream& stream) {
    const uint64_t fileStart = stream.position();
    uint8_t fileHeader[14];
    readOrInvalid(stream, fileHeader, sizeof fileHeader);
    if (get16(fileHeader) != 0x4D42)
        invalid("no \"BM\" signature");
    const uint32_t pixelOffset = get32(fileHeader + 10);

    uint8_t sizeBytes[4];
    readOrInvalid(stream, sizeBytes, 4);
    const uint32_t headerSize = get32(sizeBytes);

    int64_t width = 0, height = 0;
    int planes = 0, bits = 0;
    uint32_t compression = 0, imageSize = 0, colorsUsed = 0;
    size_t entrySize = 4;
    ColorMasks masks;
    bool masksInHeader = false;
    if (headerSize == 12) {
        // The old core header: 16-bit fields and 3-byte colour-table entries.
        uint8_t core[8];
        readOrInvalid(stream, core, sizeof core);
        width = get16(core);
        height = get16(core + 2);
        planes = get16(core + 4);
        bits = get16(core + 6);
        entrySize = 3;
    } else {
        if (headerSize < 40 || headerSize > 4096)
            invalid("a header of " + std::to_string(headerSize) + " bytes");
        std::vector<uint8_t> info(headerSize - 4);
        readOrInvalid(stream, info.data(), info.size());
        const uint8_t* h = info.data() - 4; // offsets below count from the header's start
        width = static_cast<int32_t>(get32(h + 4));
        height = static_cast<int32_t>(get32(h + 8));
        planes = get16(h + 12);
        bits = get16(h + 14);
        compression = get32(h + 16);
        imageSize = get32(h + 20);
        colorsUsed = get32(h + 32);
        if (headerSize >= 52) {
            masks = {get32(h + 40), get32(h + 44), get32(h + 48)};
            masksInHeader = true;
        }
    }
    if (planes != 1)
        invalid(std::to_string(planes) + " planes, where a BMP has 1");
    if (compression == 4)
        invalid("JPEG inside a BMP is not read");
    if (compression == 5)
        invalid("PNG inside a BMP is not read");
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        invalid(std::to_string(bits) + "-bit BMPs are not read");
    const bool rle8 = compression == 1, rle4 = compression == 2, bitFields = compression == 3;
    if (compression > 3)
        invalid("compression " + std::to_string(compression) + " is not read");
    if ((rle8 && bits != 8) || (rle4 && bits != 4) || (bitFields && bits != 16 && bits != 32))
        invalid("compression " + std::to_string(compression) + " with " + std::to_string(bits) +
                " bits per pixel");
    const bool topDown = height < 0;
    if (topDown && (rle8 || rle4))
        invalid("a run-length picture stored top-down");
    const int64_t absHeight = topDown ? -height : height;
    if (width <= 0 || absHeight <= 0)
        invalid("a size of " + std::to_string(width) + " x " + std::to_string(absHeight) + " pixels");
    if (width > Bitmap::MaxPixels / absHeight)
        invalid("too large: " + std::to_string(width) + " x " + std::to_string(absHeight) + " pixels");

    if (bitFields && headerSize == 40) {
        uint8_t m[12];
        readOrInvalid(stream, m, sizeof m);
        masks = {get32(m), get32(m + 4), get32(m + 8)};
    } else if (!bitFields || !masksInHeader) {
        masks = raster_detail::defaultMasks(static_cast<kelvara::PixelFormat>(bits));
    }

    // Colour table: colours-used entries, or the full table for 8 bits or fewer.
    uint64_t entries = colorsUsed;
    if (entries == 0 && bits <= 8)
        entries = uint64_t(1) << bits;
    if (bits <= 8 && entries > (uint64_t(1) << bits))
        invalid("a table of " + std::to_string(entries) + " colours for " + std::to_string(bits) +
                (bits == 1 ? " bit per pixel" : " bits per pixel"));
    const size_t stride = Bitmap::Picture::strideFor(static_cast<int>(width), bits);
    const size_t imageBytes = stride * static_cast<size_t>(absHeight);
    const bool packed = !rle8 && !rle4;
    // Where the pixels start. They follow the colour table at once, unless the header's pixel
    // offset points further on (a gap before the pixels) and the pixels lie inside the file from
    // there. Above 8 bits the table only advises the display, so a file that does not hold it
    // (colours used counted but no table stored) is read from an offset inside the table too.
    const uint64_t fileEnd = stream.size();
    const uint64_t headerEnd = stream.position();
    const uint64_t tableEnd = headerEnd + entries * entrySize;
    const uint64_t offsetAt = fileStart + pixelOffset;
    auto pixelsFitFrom = [&](uint64_t at) { return at < fileEnd && (!packed || imageBytes <= fileEnd - at); };
    std::optional<uint64_t> pixelsAt;
    if (offsetAt > tableEnd && pixelsFitFrom(offsetAt))
        pixelsAt = offsetAt;
    else if (bits > 8 && offsetAt >= headerEnd && offsetAt < tableEnd && !pixelsFitFrom(tableEnd) &&
             pixelsFitFrom(offsetAt))
        pixelsAt = offsetAt;
    if (!pixelsAt && entries * entrySize > stream.remaining())
        invalid(bits <= 8 ? "cut short in the colour table" : "cut short");
    std::vector<PaletteEntry> palette;
    if (entries && bits <= 8) {
        std::vector<uint8_t> table(entries * entrySize);
        readOrInvalid(stream, table.data(), table.size());
        palette.resize(entries);
        for (uint64_t i = 0; i < entries; ++i)
            palette[i] = {table[i * entrySize], table[i * entrySize + 1], table[i * entrySize + 2], 0};
    }
    stream.seek(pixelsAt ? *pixelsAt : tableEnd);

    auto picture = std::make_shared<Picture>();
    picture->width = static_cast<int>(width);
    picture->height = static_cast<int>(absHeight);
    picture->format = static_cast<kelvara::PixelFormat>(bits);
    picture->stride = stride;
    picture->palette = std::move(palette);
    if (bits == 16 || bits == 32)
        picture->masks = masks;

    if (rle8 || rle4) {
        uint64_t length = imageSize ? imageSize : stream.remaining();
        if (length > stream.remaining())
            length = stream.remaining();
        // Two bytes of run-length data make at most 255 pixels. A picture larger than its data
        // could fill that way is refused before it is made, unless it is small: escapes that
        // skip pixels or end the picture early may leave a small picture mostly blank.
        const int64_t pixels = width * absHeight;
        if (pixels > MaxSparseRlePixels && uint64_t(pixels) > length / 2 * 255)
            invalid("larger than its run-length data could fill: " + std::to_string(width) + " x " +
                    std::to_string(absHeight) + " pixels");
        std::vector<uint8_t> data(length);
        readOrInvalid(stream, data.data(), data.size());
        try {
            picture->bits.assign(imageBytes, 0);
        } catch (const std::bad_alloc&) {
            throw RasterError(RasterMessages::OutOfResources);
        }
        expandRle(data, bits, *picture);
    } else {
        // The rows follow at once; a stream that does not hold them all is truncated.
        if (imageBytes > stream.remaining())
            invalid(CutShort);
        try {
            picture->bits.resize(imageBytes);
        } catch (const std::bad_alloc&) {
            throw RasterError(RasterMessages::OutOfResources);
        }
        if (topDown) {
            readOrInvalid(stream, picture->bits.data(), imageBytes);
        } else {
            for (int64_t row = absHeight - 1; row >= 0; --row)
                readOrInvalid(stream, picture->bits.data() + static_cast<size_t>(row) * picture->stride,
                              picture->stride);
        }
    }

    // Only now, with the whole image decoded, does the bitmap give up its old picture.
    releaseContext();
    m_width = picture->width;
    m_height = picture->height;
    m_format = picture->format;
    m_picture = std::move(picture);
}

void Bitmap::LoadFromMemory(const uint8_t* data, size_t size) {
    MemoryStream stream(std::vector<uint8_t>(data, data + size));
    LoadFromStream(stream);
}

} // namespace kelvara
