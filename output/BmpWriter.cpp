// Windows bitmap writer: bottom-up rows with a 40-byte information header, RLE4 and RLE8.
#include "output/ImageQuantizer.h"
#include "output/StillImageWriters.h"

#include <cmath>

namespace kelvara {

using output_detail::ByteSink;

namespace {

uint32_t pixelsPerMetre(double dpi) {
    return static_cast<uint32_t>(std::nearbyint(dpi * 100 / 2.54));
}

// The resolution and the count of important colours of the information header.
struct HeaderExtras {
    uint32_t pixelsPerMetreX = 0;
    uint32_t pixelsPerMetreY = 0;
    uint32_t importantColors = 0;
};

// BITMAPFILEHEADER and BITMAPINFOHEADER.
void putHeaders(ByteSink& out, const HeaderExtras& extras, int width, int height, int bits,
                uint32_t compression, uint32_t fileSize, uint32_t dataOffset, uint32_t imageSize) {
    out.u8('B');
    out.u8('M');
    out.le32(fileSize);
    out.le32(0);
    out.le32(dataOffset);
    out.le32(40);
    out.le32(static_cast<uint32_t>(width));
    out.le32(static_cast<uint32_t>(height));
    out.le16(1);
    out.le16(static_cast<unsigned>(bits));
    out.le32(compression);
    out.le32(imageSize);
    out.le32(extras.pixelsPerMetreX);
    out.le32(extras.pixelsPerMetreY);
    out.le32(bits <= 8 ? 1u << bits : 0);
    out.le32(extras.importantColors);
}

// A row of 24-bit pixels, blue, green, red, padded with 0 to the stride.
void put24BitRow(ByteSink& out, const RgbPicture& picture, int y, std::vector<uint8_t>& row) {
    std::fill(row.begin(), row.end(), 0);
    std::copy_n(picture.row(y), static_cast<size_t>(picture.width) * 3, row.data());
    out.bytes(row.data(), row.size());
}

// One row of indexes run-length encoded (RLE8 or RLE4), ending with the end-of-line pair.
class RleRowEncoder {
public:
    RleRowEncoder(ByteSink& out, int bits) : m_out(out), m_four(bits == 4) {}

    void encode(const uint8_t* p, int width) {
        int x = 0, start = 0;
        while (x < width) {
            if (x - start > 255) {
                literal(p, start, x);
                start = x;
            }
            if (x == width - 1 || p[x] != p[x + 1]) {
                ++x;
                continue;
            }
            literal(p, start, x);
            int n = 2;
            while (x + n < width && p[x + n] == p[x] && n < 255)
                ++n;
            m_out.u8(static_cast<unsigned>(n));
            m_out.u8(m_four ? (p[x] & 0x0F) * 17u : p[x]);
            x += n;
            start = x;
        }
        literal(p, start, width);
        m_out.u8(0);
        m_out.u8(0);
    }

private:
    // The pending literal stretch [from, to) in pieces of at most 255 pixels.
    void literal(const uint8_t* p, int from, int to) {
        while (from < to) {
            int m = std::min(255, to - from);
            piece(p + from, m);
            from += m;
        }
    }

    void piece(const uint8_t* p, int m) {
        if (m == 1) {
            m_out.u8(1);
            m_out.u8(m_four ? (p[0] & 0x0F) << 4 : p[0]);
        } else if (m == 2) {
            if (m_four) {
                m_out.u8(2);
                m_out.u8(((p[0] & 0x0F) << 4) | (p[1] & 0x0F));
            } else {
                m_out.u8(1);
                m_out.u8(p[0]);
                m_out.u8(1);
                m_out.u8(p[1]);
            }
        } else {
            // Absolute mode, padded to a whole number of 16-bit words.
            m_out.u8(0);
            m_out.u8(static_cast<unsigned>(m));
            int bytes;
            if (m_four) {
                bytes = (m + 1) / 2;
                for (int i = 0; i < m; i += 2)
                    m_out.u8(((p[i] & 0x0F) << 4) | (i + 1 < m ? (p[i + 1] & 0x0F) : 0));
            } else {
                bytes = m;
                m_out.bytes(p, static_cast<size_t>(m));
            }
            if (bytes % 2)
                m_out.u8(0);
        }
    }

    ByteSink& m_out;
    bool m_four;
};

} // namespace

std::vector<uint8_t> output_detail::encodeBmpRleRow(const uint8_t* indexes, int width, int bits) {
    MemoryStream memory;
    {
        ByteSink out(memory);
        RleRowEncoder(out, bits).encode(indexes, width);
        out.flush();
    }
    return std::move(memory.bytes());
}

WriteResult writeBmp(Stream& stream, const Bitmap& bitmap, const TIOParams& params,
                     const ProgressCallback& progress) {
    const RgbPicture picture = rgbPictureOf(bitmap);
    const int width = picture.width, height = picture.height;

    int bits;
    if (params.bitsPerSample == 1 || params.bitsPerSample == 4)
        bits = params.bitsPerSample;
    else
        bits = params.samplesPerPixel == 1 ? 8 : 24;
    const bool rle = params.bmp.compression == 1 && (bits == 4 || bits == 8);
    const uint32_t compression = rle ? (bits == 4 ? 2 : 1) : 0;

    IndexedPicture indexed;
    if (bits == 1)
        indexed = twoColorPicture(picture).picture;
    else if (bits <= 8)
        indexed = quantizePicture(picture, 1 << bits);

    // Important colours: 2^bits at every depth, 16777216 for 24 bits rather than 0. Intended;
    // readers ignore the field.
    const HeaderExtras extras{pixelsPerMetre(params.dpiX), pixelsPerMetre(params.dpiY), 1u << bits};
    const uint64_t start = stream.position();
    const uint32_t paletteBytes = bits <= 8 ? 4u << bits : 0;
    ByteSink out(stream);
    // The headers go out with the sizes open and again over themselves at the end.
    putHeaders(out, extras, width, height, bits, compression, 0, 0, 0);
    if (bits <= 8) {
        for (int i = 0; i < (1 << bits); ++i) {
            Color c = i < static_cast<int>(indexed.palette.size()) ? indexed.palette[i] : ColorBlack;
            out.u8(static_cast<unsigned>(blueOf(c)));
            out.u8(static_cast<unsigned>(greenOf(c)));
            out.u8(static_cast<unsigned>(redOf(c)));
            out.u8(0);
        }
    }

    const uint64_t dataStart = out.position();
    const size_t stride = ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
    std::vector<uint8_t> row(stride);
    RleRowEncoder rleEncoder(out, bits);
    for (int done = 0; done < height; ++done) {
        reportProgress(progress, done * 100 / height);
        const int y = height - 1 - done;
        if (rle) {
            rleEncoder.encode(indexed.indexes.data() + static_cast<size_t>(y) * width, width);
            continue;
        }
        if (bits == 24) {
            put24BitRow(out, picture, y, row);
            continue;
        }
        std::fill(row.begin(), row.end(), 0);
        packIndexRow(indexed.indexes.data() + static_cast<size_t>(y) * width, width, bits, row.data());
        out.bytes(row.data(), row.size());
    }
    if (rle) {
        out.u8(0);
        out.u8(1);
    }
    const uint64_t end = out.position();
    out.flush();

    // The sizes are known now: write both headers again over themselves.
    stream.seek(start);
    putHeaders(out, extras, width, height, bits, compression, static_cast<uint32_t>(end - start),
               54 + paletteBytes, static_cast<uint32_t>(end - dataStart));
    out.flush();
    stream.seek(end);
    reportProgress(progress, 100);
    return {std::move(indexed.palette)};
}

std::vector<uint8_t> encodeBmp24(const Bitmap& bitmap) {
    const RgbPicture picture = rgbPictureOf(bitmap);
    const size_t stride = ((static_cast<size_t>(picture.width) * 24 + 31) / 32) * 4;
    const auto imageSize = static_cast<uint32_t>(stride * static_cast<size_t>(picture.height));
    MemoryStream memory;
    memory.reserve(54 + imageSize);
    ByteSink out(memory);
    putHeaders(out, HeaderExtras{}, picture.width, picture.height, 24, 0, 54 + imageSize, 54, imageSize);
    std::vector<uint8_t> row(stride);
    for (int y = picture.height - 1; y >= 0; --y)
        put24BitRow(out, picture, y, row);
    out.flush();
    return std::move(memory.bytes());
}

} // namespace kelvara
