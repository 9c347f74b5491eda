// TIFF writer: little-endian, one IFD and one strip; uncompressed, PackBits, LZW or CCITT.
#include "output/CcittEncoder.h"
#include "output/ImageQuantizer.h"
#include "output/LzwCodecs.h"
#include "output/StillImageWriters.h"

#include <cmath>

namespace kelvara {

using output_detail::ByteSink;
using output_detail::packBitsRow;

namespace {

enum : uint16_t { TypeShort = 3, TypeLong = 4, TypeRational = 5 };

struct IfdEntry {
    uint16_t tag;
    uint16_t type;
    uint32_t count;
    uint32_t value; // the value itself (left-justified) or the offset of the values
};

} // namespace

// PackBits, one row: repeats of 4 to 128 equal bytes, everything else in literal runs of at most 128.
void output_detail::packBitsRow(const uint8_t* row, size_t n, std::vector<uint8_t>& out) {
    size_t i = 0;
    size_t literalStart = 0;
    auto closeLiteral = [&](size_t end) {
        while (literalStart < end) {
            size_t count = std::min<size_t>(128, end - literalStart);
            out.push_back(static_cast<uint8_t>(count - 1));
            out.insert(out.end(), row + literalStart, row + literalStart + count);
            literalStart += count;
        }
    };
    while (i < n) {
        size_t repeat = 1;
        while (i + repeat < n && repeat < 128 && row[i + repeat] == row[i])
            ++repeat;
        if (repeat >= 4) {
            closeLiteral(i);
            out.push_back(static_cast<uint8_t>(1 - static_cast<int>(repeat)));
            out.push_back(row[i]);
            i += repeat;
            literalStart = i;
        } else {
            ++i;
            if (i - literalStart == 128)
                closeLiteral(i);
        }
    }
    closeLiteral(n);
}

namespace {

// sRGB to TIFF CIELab (L* scaled to 0..255, signed a* and b*), against the D65 white.
void cieLabPixel(int red, int green, int blue, uint8_t* out) {
    auto linear = [](int c) {
        double v = c / 255.0;
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    const double r = linear(red), g = linear(green), b = linear(blue);
    const double x = (0.4124 * r + 0.3576 * g + 0.1805 * b) / 0.95047;
    const double y = 0.2126 * r + 0.7152 * g + 0.0722 * b;
    const double z = (0.0193 * r + 0.1192 * g + 0.9505 * b) / 1.08883;
    auto f = [](double t) { return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116.0; };
    const double l = 116 * f(y) - 16;
    const double a = 500 * (f(x) - f(y));
    const double bb = 200 * (f(y) - f(z));
    out[0] = static_cast<uint8_t>(std::clamp(std::lround(l * 255 / 100), 0L, 255L));
    out[1] = static_cast<uint8_t>(static_cast<int8_t>(std::clamp(std::lround(a), -128L, 127L)));
    out[2] = static_cast<uint8_t>(static_cast<int8_t>(std::clamp(std::lround(bb), -128L, 127L)));
}

} // namespace

TiffLayout tiffLayout(const TIOParams& params) {
    // Working picture and layout, rule by rule.
    int b = params.bitsPerSample;
    int s = params.samplesPerPixel;
    TiffPhotometric photometric = params.tiff.photometric;
    TiffCompression compression = params.tiff.compression;
    const bool oneBit = b == 1 && s == 1;
    if (s == 1 && b > 1 && b <= 8) {
        photometric = TiffPhotometric::RgbPalette;
        if (compression != TiffCompression::Lzw && compression != TiffCompression::PackBits)
            compression = TiffCompression::Uncompressed;
    }
    if (photometric == TiffPhotometric::RgbPalette && s > 1)
        photometric = TiffPhotometric::Rgb;
    if (b > 8) {
        b = 8;
        s = 3;
        photometric = TiffPhotometric::Rgb;
    }
    const bool grey =
        photometric == TiffPhotometric::WhiteIsZero || photometric == TiffPhotometric::BlackIsZero;
    if (grey && b == 8 && s == 3)
        photometric = TiffPhotometric::Rgb;

    TiffLayout layout;
    if (oneBit)
        layout.kind = TiffDataKind::Bilevel;
    else if (photometric == TiffPhotometric::RgbPalette)
        layout.kind = TiffDataKind::Palette;
    else if (photometric == TiffPhotometric::Cmyk)
        layout.kind = TiffDataKind::Cmyk;
    else if (photometric == TiffPhotometric::CieLab)
        layout.kind = TiffDataKind::CieLab;
    else
        layout.kind = TiffDataKind::Rgb;
    layout.paletteBits = layout.kind == TiffDataKind::Palette ? b : 0;

    // "JPEG" and "OLDJPEG" are offered in the list but written uncompressed: intended.
    switch (compression) {
    case TiffCompression::Ccitt1D:
    case TiffCompression::G3Fax1D:
    case TiffCompression::G3Fax2D:
    case TiffCompression::G4Fax:
        if (layout.kind == TiffDataKind::Bilevel)
            layout.compression = compression;
        else
            layout.kind = TiffDataKind::Rgb;
        break;
    case TiffCompression::Lzw:
    case TiffCompression::PackBits:
        layout.compression = compression;
        break;
    default:
        break;
    }
    layout.predictor =
        layout.compression == TiffCompression::Lzw && b == 8 && s == 3 && layout.kind == TiffDataKind::Rgb;
    return layout;
}

WriteResult writeTiff(Stream& stream, const Bitmap& bitmap, const TIOParams& params,
                      const ProgressCallback& progress) {
    const RgbPicture picture = rgbPictureOf(bitmap);
    const int width = picture.width, height = picture.height;

    const TiffLayout layout = tiffLayout(params);
    using DataKind = TiffDataKind;
    DataKind kind = layout.kind;
    const int b = layout.paletteBits;
    uint16_t compressionValue = 1;
    bool ccitt = false;
    CcittCoding coding = CcittCoding::ModifiedHuffman;
    switch (layout.compression) {
    case TiffCompression::Ccitt1D:
        ccitt = true;
        compressionValue = 2;
        break;
    case TiffCompression::G3Fax1D:
        ccitt = true;
        compressionValue = 3;
        coding = CcittCoding::Group3OneD;
        break;
    case TiffCompression::G3Fax2D:
        ccitt = true;
        compressionValue = 3;
        coding = CcittCoding::Group3TwoD;
        break;
    case TiffCompression::G4Fax:
        ccitt = true;
        compressionValue = 4;
        coding = CcittCoding::Group4;
        break;
    case TiffCompression::Lzw:
        compressionValue = 5;
        break;
    case TiffCompression::PackBits:
        compressionValue = 32773;
        break;
    default:
        break;
    }
    const bool predictor = layout.predictor;
    const int samples = kind == DataKind::Bilevel || kind == DataKind::Palette ? 1
                        : kind == DataKind::Cmyk                               ? 4
                                                                               : 3;

    // Pixels of the working picture.
    std::vector<uint8_t> pixels; // bilevel bits or palette indexes, one byte per pixel
    std::vector<Color> palette;
    if (kind == DataKind::Bilevel) {
        pixels = blackWhiteBits(twoColorPicture(picture));
        if (ccitt) {
            // White is 0 in the CCITT codings.
            for (uint8_t& p : pixels)
                p ^= 1;
        }
    } else if (kind == DataKind::Palette) {
        IndexedPicture indexed = quantizePicture(picture, 1 << b);
        pixels = std::move(indexed.indexes);
        palette = std::move(indexed.palette);
    }
    const int rowBits = kind == DataKind::Bilevel ? 1 : kind == DataKind::Palette ? b : 8 * samples;
    const size_t rowBytes = (static_cast<size_t>(width) * rowBits + 7) / 8;

    const uint64_t start = stream.position();
    ByteSink out(stream);
    auto offset = [&] { return static_cast<uint32_t>(out.position() - start); };

    // Header; the IFD offset is filled in at the end.
    out.u8('I');
    out.u8('I');
    out.le16(42);
    out.le32(0);

    uint32_t bitsOffset = 0;
    if (samples > 1) {
        bitsOffset = offset();
        for (int i = 0; i < samples; ++i)
            out.le16(8);
    }

    // The strip.
    const uint32_t stripOffset = offset();
    std::vector<uint8_t> row(rowBytes), encoded;
    std::unique_ptr<TiffLzwEncoderState> lzwState;
    CcittEncoder ccittEncoder(coding, width);
    for (int y = 0; y < height; ++y) {
        reportProgress(progress, y * 100 / height);
        const uint8_t* source = picture.row(y);
        const uint8_t* rowPixels = pixels.data() + static_cast<size_t>(y) * width;
        if (ccitt) {
            ccittEncoder.encodeRow(rowPixels);
            continue;
        }
        switch (kind) {
        case DataKind::Bilevel:
            packIndexRow(rowPixels, width, 1, row.data());
            break;
        case DataKind::Palette:
            packIndexRow(rowPixels, width, b, row.data());
            break;
        case DataKind::Rgb:
            for (int x = 0; x < width; ++x) {
                row[x * 3] = source[x * 3 + 2];
                row[x * 3 + 1] = source[x * 3 + 1];
                row[x * 3 + 2] = source[x * 3];
            }
            if (predictor) {
                for (size_t i = rowBytes; i-- > 3;)
                    row[i] = static_cast<uint8_t>(row[i] - row[i - 3]);
            }
            break;
        case DataKind::Cmyk:
            for (int x = 0; x < width; ++x) {
                const int red = source[x * 3 + 2], green = source[x * 3 + 1], blue = source[x * 3];
                int m = std::max({red, green, blue});
                if (m == 0)
                    m = 1;
                row[x * 4] = static_cast<uint8_t>(255 - red * 255 / m);
                row[x * 4 + 1] = static_cast<uint8_t>(255 - green * 255 / m);
                row[x * 4 + 2] = static_cast<uint8_t>(255 - blue * 255 / m);
                row[x * 4 + 3] = static_cast<uint8_t>(255 - m);
            }
            break;
        case DataKind::CieLab:
            for (int x = 0; x < width; ++x)
                cieLabPixel(source[x * 3 + 2], source[x * 3 + 1], source[x * 3], row.data() + x * 3);
            break;
        }
        if (compressionValue == 32773) {
            encoded.clear();
            packBitsRow(row.data(), rowBytes, encoded);
            out.bytes(encoded.data(), encoded.size());
        } else if (compressionValue == 5) {
            out.flush();
            encodeTiffLzw(row.data(), rowBytes, stream, lzwState);
        } else {
            out.bytes(row.data(), rowBytes);
        }
    }
    if (ccitt) {
        std::vector<uint8_t> strip = ccittEncoder.finish();
        out.bytes(strip.data(), strip.size());
    } else if (compressionValue == 5) {
        out.flush();
        encodeTiffLzw(nullptr, 0, stream, lzwState);
    }
    const uint32_t stripBytes = offset() - stripOffset;

    // Values written after the strip: resolutions, positions, the colour map.
    const uint32_t xResolutionOffset = offset();
    out.le32(static_cast<uint32_t>(std::lround(params.dpiX)));
    out.le32(1);
    const uint32_t yResolutionOffset = offset();
    out.le32(static_cast<uint32_t>(std::lround(params.dpiY)));
    out.le32(1);
    const uint32_t xPositionOffset = offset();
    out.le32(static_cast<uint32_t>(std::lround(params.tiffXPosition * 10000)));
    out.le32(10000);
    const uint32_t yPositionOffset = offset();
    out.le32(static_cast<uint32_t>(std::lround(params.tiffYPosition * 10000)));
    out.le32(10000);
    uint32_t colorMapOffset = 0;
    const int colorMapEntries = kind == DataKind::Palette ? 1 << b : 0;
    if (colorMapEntries) {
        colorMapOffset = offset();
        for (int channel = 0; channel < 3; ++channel) {
            for (int i = 0; i < colorMapEntries; ++i) {
                Color c = i < static_cast<int>(palette.size()) ? palette[i] : ColorBlack;
                int v = channel == 0 ? redOf(c) : channel == 1 ? greenOf(c) : blueOf(c);
                out.le16(static_cast<unsigned>(v * 256));
            }
        }
    }
    if (offset() % 2)
        out.u8(0);

    // The image file directory, tags in ascending order.
    uint16_t photometricValue = 2;
    switch (kind) {
    case DataKind::Bilevel:
        photometricValue = ccitt ? 0 : 1;
        break;
    case DataKind::Palette:
        photometricValue = 3;
        break;
    case DataKind::Cmyk:
        photometricValue = 5;
        break;
    case DataKind::CieLab:
        photometricValue = 8;
        break;
    case DataKind::Rgb:
        break;
    }
    const uint16_t bitsValue = kind == DataKind::Bilevel ? 1 : kind == DataKind::Palette ? b : 8;
    std::vector<IfdEntry> entries = {
        {256, TypeLong, 1, static_cast<uint32_t>(width)},
        {257, TypeLong, 1, static_cast<uint32_t>(height)},
        {258, TypeShort, static_cast<uint32_t>(samples), samples > 1 ? bitsOffset : bitsValue},
        {259, TypeShort, 1, compressionValue},
        {262, TypeShort, 1, photometricValue},
        {273, TypeLong, 1, stripOffset},
        {277, TypeShort, 1, static_cast<uint32_t>(samples)},
        {278, TypeLong, 1, static_cast<uint32_t>(height)},
        {279, TypeLong, 1, stripBytes},
        {282, TypeRational, 1, xResolutionOffset},
        {283, TypeRational, 1, yResolutionOffset},
        {286, TypeRational, 1, xPositionOffset},
        {287, TypeRational, 1, yPositionOffset},
    };
    if (compressionValue == 3)
        entries.push_back({292, TypeLong, 1, coding == CcittCoding::Group3TwoD ? 1u : 0u});
    entries.push_back({296, TypeShort, 1, 2});
    if (predictor)
        entries.push_back({317, TypeShort, 1, 2});
    if (colorMapEntries)
        entries.push_back({320, TypeShort, static_cast<uint32_t>(3 * colorMapEntries), colorMapOffset});

    const uint32_t ifdOffset = offset();
    out.le16(static_cast<unsigned>(entries.size()));
    for (const IfdEntry& e : entries) {
        out.le16(e.tag);
        out.le16(e.type);
        out.le32(e.count);
        // A single SHORT sits in the first two bytes of the value field.
        if (e.type == TypeShort && e.count == 1) {
            out.le16(e.value);
            out.le16(0);
        } else {
            out.le32(e.value);
        }
    }
    out.le32(0);
    const uint64_t end = out.position();
    out.flush();

    stream.seek(start + 4);
    out.le32(ifdOffset);
    out.flush();
    stream.seek(end);
    reportProgress(progress, 100);
    if (kind == DataKind::Bilevel)
        return {{ColorBlack, ColorWhite}};
    return {std::move(palette)};
}

} // namespace kelvara
