// PC Paintbrush writer: 128-byte header, plane lines with optional RLE, trailing 256-colour palette.
#include "output/ImageQuantizer.h"
#include "output/StillImageWriters.h"

#include <cmath>

namespace kelvara {

using output_detail::ByteSink;

namespace {

// One plane line of a bytes, RLE-encoded; an odd line gets the 0 padding byte that makes it cover
// the even bytes-per-line count.
void putRleLine(ByteSink& out, const uint8_t* line, size_t a) {
    size_t k = 0;
    while (k < a) {
        const uint8_t v = line[k];
        size_t n = 1;
        while (k + n < a && n < 63 && line[k + n] == v)
            ++n;
        if (n > 1 || v >= 192) {
            out.u8(192 + static_cast<unsigned>(n));
            out.u8(v);
        } else {
            out.u8(v);
        }
        k += n;
    }
    if (a % 2)
        out.u8(0);
}

} // namespace

std::vector<uint8_t> output_detail::encodePcxRleLine(const uint8_t* line, size_t count) {
    MemoryStream memory;
    ByteSink out(memory);
    putRleLine(out, line, count);
    out.flush();
    return std::move(memory.bytes());
}

WriteResult writePcx(Stream& stream, const Bitmap& bitmap, const TIOParams& params,
                     const ProgressCallback& progress) {
    const RgbPicture picture = rgbPictureOf(bitmap);
    const int width = picture.width, height = picture.height;

    if (width > 0xFFFF || height > 0xFFFF)
        throw OutputError(OutputMessages::TooLarge);
    int bits, planes = 1;
    if (params.bitsPerSample == 1)
        bits = 1;
    else if (params.bitsPerSample == 4 && params.samplesPerPixel == 1)
        bits = 4;
    else if (params.samplesPerPixel == 1)
        bits = 8;
    else
        bits = 8, planes = 3;
    const bool trueColor = planes == 3;
    const bool rle = params.pcx.compression != 0;

    IndexedPicture indexed;
    if (bits == 1)
        indexed = twoColorPicture(picture).picture;
    else if (!trueColor)
        indexed = quantizePicture(picture, 1 << bits);

    const size_t lineBytes = bits == 1   ? (static_cast<size_t>(width) + 7) / 8
                             : bits == 4 ? (static_cast<size_t>(width) + 1) / 2
                                         : static_cast<size_t>(width);
    const size_t bytesPerLine = lineBytes + (lineBytes % 2);

    // Header (ZSoft PCX, 128 bytes).
    ByteSink out(stream);
    out.u8(10);
    out.u8(params.pcxVersion);
    out.u8(rle ? 1 : 0);
    out.u8(static_cast<unsigned>(bits));
    out.le16(0);
    out.le16(0);
    out.le16(static_cast<unsigned>(width - 1) & 0xFFFF);
    out.le16(static_cast<unsigned>(height - 1) & 0xFFFF);
    out.le16(static_cast<unsigned>(std::lround(params.dpiX)) & 0xFFFF);
    out.le16(static_cast<unsigned>(std::lround(params.dpiY)) & 0xFFFF);
    for (int i = 0; i < 16; ++i) {
        Color c =
            (bits <= 4 && i < static_cast<int>(indexed.palette.size())) ? indexed.palette[i] : ColorBlack;
        out.u8(static_cast<unsigned>(redOf(c)));
        out.u8(static_cast<unsigned>(greenOf(c)));
        out.u8(static_cast<unsigned>(blueOf(c)));
    }
    out.u8(0);
    out.u8(static_cast<unsigned>(planes));
    out.le16(static_cast<unsigned>(bytesPerLine));
    out.le16(trueColor ? 0 : 1);
    out.zeros(58);

    // Pixel data: every row from the top, each plane line in turn.
    std::vector<uint8_t> line(bytesPerLine);
    for (int y = 0; y < height; ++y) {
        reportProgress(progress, y * 100 / height);
        for (int plane = 0; plane < planes; ++plane) {
            std::fill(line.begin(), line.end(), 0);
            if (trueColor) {
                const uint8_t* row = picture.row(y);
                for (int x = 0; x < width; ++x)
                    line[x] = row[x * 3 + 2 - plane];
            } else {
                packIndexRow(indexed.indexes.data() + static_cast<size_t>(y) * width, width, bits,
                             line.data());
            }
            if (rle)
                putRleLine(out, line.data(), lineBytes);
            else
                out.bytes(line.data(), bytesPerLine);
        }
    }

    // The 256-colour palette after the pixel data.
    if (bits == 8 && !trueColor) {
        out.u8(12);
        for (int i = 0; i < 256; ++i) {
            Color c = i < static_cast<int>(indexed.palette.size()) ? indexed.palette[i] : ColorBlack;
            out.u8(static_cast<unsigned>(redOf(c)));
            out.u8(static_cast<unsigned>(greenOf(c)));
            out.u8(static_cast<unsigned>(blueOf(c)));
        }
    }
    out.flush();
    reportProgress(progress, 100);
    return {std::move(indexed.palette)};
}

} // namespace kelvara
