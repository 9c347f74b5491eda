// The TIFF reader: baseline strips (uncompressed, PackBits, LZW) in bilevel, grey, palette, RGB
// and CMYK are read here; what this reader does not read (CCITT fax codings, JPEG, tiles, other
// layouts) goes to libtiff.
#include "input/ByteReader.h"
#include "raster/Lzw.h"

#include <tiffio.h>

#include <algorithm>
#include <map>
#include <memory>
#include <vector>

namespace kelvara::input_detail {

namespace {

constexpr const char* Kind = "TIFF";

// The fields of the first image file directory, by tag.
class Directory {
public:
    Directory(ByteReader& in, bool bigEndian) : m_in(in), m_bigEndian(bigEndian) {}

    uint16_t u16() { return m_bigEndian ? m_in.be16() : m_in.le16(); }
    uint32_t u32() { return m_bigEndian ? m_in.be32() : m_in.le32(); }

    void read(uint32_t offset) {
        m_in.seek(offset);
        const int count = u16();
        for (int i = 0; i < count; ++i) {
            const uint16_t tag = u16();
            const uint16_t type = u16();
            const uint32_t n = u32();
            const size_t valuePosition = m_in.position();
            const uint32_t valueOrOffset = u32();
            const int unit = type == 1 ? 1 : type == 3 ? 2 : type == 4 ? 4 : 0;
            if (unit == 0)
                continue; // types the baseline fields never use
            if (uint64_t(n) * unit > m_in.size())
                m_in.invalid();
            std::vector<uint32_t> values(n);
            const size_t back = m_in.position();
            m_in.seek(uint64_t(n) * unit <= 4 ? valuePosition : valueOrOffset);
            for (uint32_t k = 0; k < n; ++k)
                values[k] = unit == 1 ? m_in.u8() : unit == 2 ? u16() : u32();
            m_in.seek(back);
            m_fields[tag] = std::move(values);
        }
    }

    bool has(uint16_t tag) const { return m_fields.count(tag) != 0; }
    uint32_t value(uint16_t tag, uint32_t fallback) const {
        auto it = m_fields.find(tag);
        return it == m_fields.end() || it->second.empty() ? fallback : it->second[0];
    }
    const std::vector<uint32_t>& values(uint16_t tag) const {
        static const std::vector<uint32_t> none;
        auto it = m_fields.find(tag);
        return it == m_fields.end() ? none : it->second;
    }

private:
    ByteReader& m_in;
    bool m_bigEndian;
    std::map<uint16_t, std::vector<uint32_t>> m_fields;
};

enum Tag : uint16_t {
    ImageWidth = 256,
    ImageLength = 257,
    BitsPerSample = 258,
    Compression = 259,
    Photometric = 262,
    FillOrder = 266,
    StripOffsets = 273,
    SamplesPerPixel = 277,
    RowsPerStrip = 278,
    StripByteCounts = 279,
    PlanarConfig = 284,
    Predictor = 317,
    ColorMap = 320,
    TileWidth = 322,
    InkSet = 332,
    ExtraSamples = 338,
    Orientation = 274,
};

// The most bytes each compression makes of one byte: a two-byte PackBits run gives 128, and an
// LZW code of 12 bits at most 4096.
constexpr uint64_t MaxPackBitsInflation = 64;
constexpr uint64_t MaxLzwInflation = 4096;
// What the other compressions libtiff knows (LZMA, Zstandard, WebP, ...) may make of a byte.
constexpr uint64_t MaxOtherInflation = 65536;

// PackBits: a count n of 0..127 copies n + 1 bytes, -1..-127 repeats the next byte 1 - n times.
std::vector<uint8_t> unpackBits(const uint8_t* data, size_t size, size_t expected) {
    std::vector<uint8_t> out;
    out.reserve(expected);
    size_t p = 0;
    while (out.size() < expected && p < size) {
        const int n = static_cast<int8_t>(data[p++]);
        if (n >= 0) {
            const size_t count = std::min<size_t>(size_t(n) + 1, size - p);
            out.insert(out.end(), data + p, data + p + count);
            p += count;
        } else if (n != -128) {
            if (p >= size)
                break;
            out.insert(out.end(), size_t(1 - n), data[p++]);
        }
    }
    if (out.size() > expected)
        out.resize(expected);
    return out;
}

// Returns false for a file this reader leaves to libtiff.
bool decodeBaseline(const uint8_t* data, size_t size, Bitmap& picture) {
    ByteReader in(data, size, Kind);
    const uint8_t* order = in.take(2);
    bool bigEndian;
    if (order[0] == 'I' && order[1] == 'I')
        bigEndian = false;
    else if (order[0] == 'M' && order[1] == 'M')
        bigEndian = true;
    else
        in.invalid();
    Directory dir(in, bigEndian);
    const uint16_t magic = dir.u16();
    if (magic == 43)
        return false; // BigTIFF
    if (magic != 42)
        in.invalid();
    dir.read(dir.u32());

    const int64_t width = dir.value(ImageWidth, 0), height = dir.value(ImageLength, 0);
    checkPictureSize(Kind, width, height);
    const uint32_t compression = dir.value(Compression, 1);
    const uint32_t photometric = dir.value(Photometric, 0xFFFF);
    const uint32_t spp = dir.value(SamplesPerPixel, 1);
    const uint32_t bits = dir.value(BitsPerSample, 1);
    for (uint32_t b : dir.values(BitsPerSample))
        if (b != bits)
            return false;
    if (compression != 1 && compression != 5 && compression != 32773)
        return false;
    if (dir.has(TileWidth) || dir.value(PlanarConfig, 1) != 1 || dir.value(FillOrder, 1) != 1 ||
        dir.value(Orientation, 1) != 1 || !dir.has(StripOffsets) || !dir.has(StripByteCounts))
        return false;
    const uint32_t predictor = dir.value(Predictor, 1);
    if (predictor != 1 && !(predictor == 2 && bits == 8))
        return false;
    uint32_t colourSamples;
    switch (photometric) {
    case 0:
    case 1:
    case 3:
        if (bits != 1 && bits != 4 && bits != 8)
            return false;
        colourSamples = 1;
        break;
    case 2:
        colourSamples = 3;
        break;
    case 5:
        if (dir.value(InkSet, 1) != 1)
            return false;
        colourSamples = 4;
        break;
    default:
        return false;
    }
    if (spp < colourSamples || spp > 16 || (colourSamples > 1 && bits != 8))
        return false;
    if (photometric == 3 && dir.values(ColorMap).size() < 3 * (size_t(1) << bits))
        in.invalid();

    const uint32_t rowsPerStrip =
        std::min<uint64_t>(dir.value(RowsPerStrip, uint32_t(height)), uint64_t(height));
    if (rowsPerStrip == 0)
        in.invalid();
    const size_t stripCount = size_t((height + rowsPerStrip - 1) / rowsPerStrip);
    const std::vector<uint32_t>& offsets = dir.values(StripOffsets);
    const std::vector<uint32_t>& counts = dir.values(StripByteCounts);
    if (offsets.size() < stripCount || counts.size() < stripCount)
        in.invalid();
    const size_t rowBytes = (size_t(width) * bits * spp + 7) / 8;
    // The strips must hold what the rows need, at the best their compression can do; strips that
    // share bytes count them once.
    uint64_t stored = 0;
    for (size_t s = 0; s < stripCount; ++s)
        stored += counts[s];
    const uint64_t inflation = compression == 1       ? 1
                               : compression == 32773 ? MaxPackBitsInflation
                                                      : MaxLzwInflation;
    if (uint64_t(rowBytes) * height > std::min<uint64_t>(stored, size) * inflation)
        in.truncated();

    std::vector<uint8_t> pixels;
    pixels.reserve(rowBytes * size_t(height));
    for (size_t s = 0; s < stripCount; ++s) {
        const size_t rows = size_t(std::min<int64_t>(rowsPerStrip, height - int64_t(s) * rowsPerStrip));
        const size_t expected = rows * rowBytes;
        if (uint64_t(offsets[s]) + counts[s] > size)
            in.truncated();
        const uint8_t* strip = data + offsets[s];
        std::vector<uint8_t> decoded;
        if (compression == 1)
            decoded.assign(strip, strip + std::min<size_t>(counts[s], expected));
        else if (compression == 32773)
            decoded = unpackBits(strip, counts[s], expected);
        else if (counts[s] >= 2 && strip[0] == 0 && (strip[1] & 1))
            return false; // LZW of the old, bit-reversed kind
        else {
            try {
                decodeLzw(LzwMode::Tiff, 8, strip, counts[s], expected, decoded);
            } catch (const LzwError&) {
                in.invalid();
            }
        }
        if (decoded.size() < expected)
            in.truncated();
        if (predictor == 2)
            for (size_t r = 0; r < rows; ++r) {
                uint8_t* row = decoded.data() + r * rowBytes;
                for (size_t i = spp; i < size_t(width) * spp; ++i)
                    row[i] = static_cast<uint8_t>(row[i] + row[i - spp]);
            }
        pixels.insert(pixels.end(), decoded.begin(), decoded.begin() + expected);
    }

    std::vector<Color> palette;
    if (photometric == 3) {
        const std::vector<uint32_t>& map = dir.values(ColorMap);
        const size_t entries = size_t(1) << bits;
        auto to8 = [](uint32_t v) {
            return static_cast<int>((std::min<uint32_t>(v, 65535) * 255 + 32767) / 65535);
        };
        for (size_t i = 0; i < entries; ++i)
            palette.push_back(rgbColor(to8(map[i]), to8(map[entries + i]), to8(map[2 * entries + i])));
    }
    // An alpha sample after the colour lays the picture over white: premultiplied (1) or not (2).
    const uint32_t extra = dir.value(ExtraSamples, 0);
    const bool alpha = spp > colourSamples && (extra == 1 || extra == 2) && bits == 8 && (photometric <= 2);
    auto over = [extra](int c, int a) { return extra == 1 ? std::min(255, c + 255 - a) : overWhite(c, a); };
    const int maxValue = (1 << bits) - 1;
    Bitmap decodedPicture;
    makePicture24(decodedPicture, int(width), int(height));
    for (int64_t y = 0; y < height; ++y) {
        const uint8_t* src = pixels.data() + size_t(y) * rowBytes;
        uint8_t* row = decodedPicture.ScanLine(int(y));
        for (int64_t x = 0; x < width; ++x) {
            if (colourSamples == 1) {
                const size_t bitPosition = size_t(x) * bits * spp;
                int v = bits == 8 ? src[bitPosition / 8]
                                  : (src[bitPosition / 8] >> (8 - bits - bitPosition % 8)) & maxValue;
                if (photometric == 3) {
                    const Color c = palette[size_t(v)];
                    putRgb(row, int(x), redOf(c), greenOf(c), blueOf(c));
                    continue;
                }
                if (photometric == 0)
                    v = maxValue - v;
                v = v * 255 / maxValue;
                if (alpha)
                    v = over(v, src[size_t(x) * spp + 1]);
                putRgb(row, int(x), v, v, v);
            } else if (colourSamples == 3) {
                const uint8_t* p = src + size_t(x) * spp;
                if (alpha)
                    putRgb(row, int(x), over(p[0], p[3]), over(p[1], p[3]), over(p[2], p[3]));
                else
                    putRgb(row, int(x), p[0], p[1], p[2]);
            } else {
                const uint8_t* p = src + size_t(x) * spp;
                const int k = 255 - p[3];
                putRgb(row, int(x), ((255 - p[0]) * k + 127) / 255, ((255 - p[1]) * k + 127) / 255,
                       ((255 - p[2]) * k + 127) / 255);
            }
        }
    }
    picture.Assign(decodedPicture);
    return true;
}

// libtiff reads from the bytes in memory through these procedures.
struct MemoryFile {
    const uint8_t* data;
    toff_t size;
    toff_t position;
};

tsize_t readMemory(thandle_t handle, tdata_t buffer, tsize_t count) {
    auto* f = static_cast<MemoryFile*>(handle);
    if (count <= 0 || f->position >= f->size)
        return 0;
    const toff_t n = std::min<toff_t>(toff_t(count), f->size - f->position);
    std::memcpy(buffer, f->data + f->position, size_t(n));
    f->position += n;
    return tsize_t(n);
}
tsize_t writeMemory(thandle_t, tdata_t, tsize_t) {
    return 0;
}
toff_t seekMemory(thandle_t handle, toff_t offset, int whence) {
    auto* f = static_cast<MemoryFile*>(handle);
    toff_t base = whence == SEEK_CUR ? f->position : whence == SEEK_END ? f->size : 0;
    f->position = base + offset;
    return f->position;
}
int closeMemory(thandle_t) {
    return 0;
}
toff_t sizeMemory(thandle_t handle) {
    return static_cast<MemoryFile*>(handle)->size;
}
int mapMemory(thandle_t, tdata_t*, toff_t*) {
    return 0;
}
void unmapMemory(thandle_t, tdata_t, toff_t) {}

int quietHandler(TIFF*, void*, const char*, const char*, va_list) {
    return 1; // handled: nothing reaches libtiff's global handlers
}

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
struct OptionsDeleter {
    void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

// Refuses a picture that the strips or tiles present could not fill at the best their compression
// can do, before anything is decoded. Bytes that several strips share count once.
void checkStoredDataCanFill(TIFF* tiff, uint16_t compression, uint32_t width, uint32_t height,
                            uint64_t fileSize) {
    uint64_t stored = 0;
    const uint32_t striles = TIFFIsTiled(tiff) ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
    for (uint32_t i = 0; i < striles && stored < fileSize; ++i) {
        const uint64_t offset = TIFFGetStrileOffset(tiff, i), count = TIFFGetStrileByteCount(tiff, i);
        if (offset < fileSize)
            stored += std::min(count, fileSize - offset);
    }
    stored = std::min(stored, fileSize);
    uint16_t bits = 1, samples = 1;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    const uint64_t pixels = uint64_t(width) * height;
    const uint64_t bytes = (uint64_t(width) * bits * samples + 7) / 8 * height;
    bool fits;
    switch (compression) {
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4:
    case COMPRESSION_CCITTRLEW:
    case COMPRESSION_JBIG:
        // Bilevel codings may spend as little as one bit on a blank row.
        fits = height <= stored * 8 + striles;
        break;
    case COMPRESSION_NONE:
        fits = bytes <= stored;
        break;
    case COMPRESSION_PACKBITS:
        fits = bytes <= stored * MaxPackBitsInflation;
        break;
    case COMPRESSION_LZW:
        fits = bytes <= stored * MaxLzwInflation;
        break;
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
        fits = bytes <= stored * MaxDeflateInflation;
        break;
    case COMPRESSION_OJPEG:
    case COMPRESSION_JPEG:
        fits = pixels <= stored * MaxJpegPixelsPerByte;
        break;
    default:
        fits = bytes <= stored * MaxOtherInflation;
        break;
    }
    if (!fits)
        fail(Kind, PictureReaderMessages::Truncated);
}

void decodeWithLibtiff(const uint8_t* data, size_t size, Bitmap& picture) {
    MemoryFile file{data, toff_t(size), 0};
    std::unique_ptr<TIFFOpenOptions, OptionsDeleter> options(TIFFOpenOptionsAlloc());
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), tmsize_t(Bitmap::MaxPixels) * 4);
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), quietHandler, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), quietHandler, nullptr);
    std::unique_ptr<TIFF, TiffCloser> tiff(TIFFClientOpenExt("picture", "rm", &file, readMemory, writeMemory,
                                                             seekMemory, closeMemory, sizeMemory, mapMemory,
                                                             unmapMemory, options.get()));
    if (!tiff)
        fail(Kind, PictureReaderMessages::NotValid);
    uint32_t width = 0, height = 0;
    if (!TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width) ||
        !TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height))
        fail(Kind, PictureReaderMessages::NotValid);
    checkPictureSize(Kind, width, height);
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_COMPRESSION, &compression);
    char message[1024];
    if (!TIFFIsCODECConfigured(compression) || !TIFFRGBAImageOK(tiff.get(), message))
        fail(Kind, PictureReaderMessages::Unsupported);
    checkStoredDataCanFill(tiff.get(), compression, width, height, size);
    // The first strip or tile that fails to decode ends the read.
    // Orientations 2 to 4 are flips, which libtiff makes while it reads. 5 to 8 turn rows into
    // columns, which it does not: those are read as stored (asking for the file's own orientation)
    // and turned here.
    uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_ORIENTATION, &orientation);
    const bool turns = orientation >= ORIENTATION_LEFTTOP && orientation <= ORIENTATION_LEFTBOT;
    std::vector<uint32_t> rgba(size_t(width) * height);
    if (!TIFFReadRGBAImageOriented(tiff.get(), width, height, rgba.data(),
                                   turns ? orientation : ORIENTATION_TOPLEFT, 1))
        fail(Kind, PictureReaderMessages::NotValid);
    Bitmap decoded;
    makePicture24(decoded, int(width), int(height));
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = decoded.ScanLine(int(y));
        const uint32_t* p = rgba.data() + size_t(y) * width;
        for (uint32_t x = 0; x < width; ++x) {
            // libtiff gives premultiplied colours; the picture lies over white.
            const int a = int(TIFFGetA(p[x]));
            auto over = [a](uint32_t c) { return std::min(255, int(c) + 255 - a); };
            putRgb(row, int(x), over(TIFFGetR(p[x])), over(TIFFGetG(p[x])), over(TIFFGetB(p[x])));
        }
    }
    if (turns)
        orientPicture(decoded, orientation);
    picture.Assign(decoded);
}

// The rows of a headerless Group 3 fax: each row starts with an end-of-line code (eleven or more
// zero bits, then a one). One directly followed by another starts no row: the return to control
// at the end is six of them back to back.
uint32_t countFaxRows(const uint8_t* data, size_t size) {
    std::vector<size_t> ends; // bit positions just after each end-of-line code
    int zeros = 0;
    for (size_t i = 0; i < size; ++i)
        for (int b = 7; b >= 0; --b) {
            if (!((data[i] >> b) & 1)) {
                ++zeros;
                continue;
            }
            if (zeros >= 11)
                ends.push_back(i * 8 + size_t(8 - b));
            zeros = 0;
        }
    uint32_t rows = 0;
    for (size_t k = 0; k < ends.size(); ++k) {
        if (k + 1 < ends.size()) {
            if (ends[k + 1] - ends[k] != 12)
                ++rows;
        } else if (ends[k] + 12 < size * 8) {
            ++rows; // a last row without the return to control after it
        }
    }
    return rows;
}

// A headerless fax (.fax, .g3n, .g3f): Group 3 one-dimensional coding at the standard width of
// 1728 pixels, wrapped in a TIFF directory so libtiff can decode it.
void decodeRawFax(const uint8_t* data, size_t size, Bitmap& picture) {
    const uint32_t rows = countFaxRows(data, size);
    if (rows == 0 || size > 0x7FFFFFFF)
        fail(Kind, PictureReaderMessages::NotValid);
    std::vector<uint8_t> tiff;
    auto put16 = [&](uint32_t v) {
        tiff.push_back(uint8_t(v));
        tiff.push_back(uint8_t(v >> 8));
    };
    auto put32 = [&](uint32_t v) {
        put16(v & 0xFFFF);
        put16(v >> 16);
    };
    // Header, then one directory of ten entries, then the coded rows.
    const uint16_t entries = 10;
    const uint32_t dataOffset = 8 + 2 + entries * 12 + 4;
    tiff.insert(tiff.end(), {'I', 'I'});
    put16(42);
    put32(8);
    put16(entries);
    auto entry = [&](uint16_t tag, uint16_t type, uint32_t value) {
        put16(tag);
        put16(type);
        put32(1);
        put32(value);
    };
    entry(ImageWidth, 4, 1728);
    entry(ImageLength, 4, rows);
    entry(BitsPerSample, 3, 1);
    entry(Compression, 3, 3);
    entry(Photometric, 3, 0);
    entry(StripOffsets, 4, dataOffset);
    entry(SamplesPerPixel, 3, 1);
    entry(RowsPerStrip, 4, rows);
    entry(StripByteCounts, 4, uint32_t(size));
    entry(292, 4, 0); // Group3Options: one-dimensional coding
    put32(0);
    tiff.insert(tiff.end(), data, data + size);
    decodeWithLibtiff(tiff.data(), tiff.size(), picture);
}

} // namespace

void decodeTiff(const uint8_t* data, size_t size, Bitmap& picture) {
    const bool tiffHeader =
        size >= 4 && ((data[0] == 'I' && data[1] == 'I' && data[2] == 42 && data[3] == 0) ||
                      (data[0] == 'M' && data[1] == 'M' && data[2] == 0 && data[3] == 42) ||
                      (data[2] == 43 || data[3] == 43));
    if (!tiffHeader && size >= 2 && data[0] == 0 && data[1] < 0x20) {
        // Starts with an end-of-line code, so no TIFF header: a raw fax.
        decodeRawFax(data, size, picture);
        return;
    }
    if (!decodeBaseline(data, size, picture))
        decodeWithLibtiff(data, size, picture);
}

} // namespace kelvara::input_detail
