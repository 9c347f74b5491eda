// Single-image GIF writer: header, global colour table, graphic control extension, image
// descriptor, LZW image data, comment extension and trailer.
#include "output/ImageQuantizer.h"
#include "output/LzwCodecs.h"
#include "output/StillImageWriters.h"

#include <cstdlib>

namespace kelvara {

using output_detail::ByteSink;

namespace {

// The black-or-white entry nearest a colour by the sum of channel differences; black on a tie.
int nearestBlackWhite(Color c) {
    int toBlack = redOf(c) + greenOf(c) + blueOf(c);
    int toWhite = (255 - redOf(c)) + (255 - greenOf(c)) + (255 - blueOf(c));
    return toWhite < toBlack ? 1 : 0;
}

} // namespace

WriteResult writeGif(Stream& stream, const Bitmap& bitmap, const TIOParams& params,
                     const ProgressCallback& progress) {
    const RgbPicture picture = rgbPictureOf(bitmap);
    const int width = picture.width, height = picture.height;
    if (width > 0xFFFF || height > 0xFFFF)
        throw OutputError(OutputMessages::TooLarge);
    const int b = std::clamp(params.bitsPerSample, 1, 8);
    const int colors = 1 << b;

    reportProgress(progress, 0);

    // Colour reduction to 2^b colours.
    std::vector<uint8_t> indexes;
    std::vector<Color> palette;
    int backgroundIndex, transparentIndex;
    if (b == 1) {
        // The 1-bit picture shows bit 0 black and bit 1 white.
        TwoColorPicture twoColor = twoColorPicture(picture);
        indexes = blackWhiteBits(twoColor);
        palette = {ColorBlack, ColorWhite};
        backgroundIndex = nearestBlackWhite(params.gif.background);
        transparentIndex = nearestBlackWhite(params.gif.transparentColor);
    } else if (params.gif.transparent) {
        // The transparent colour keeps the last entry for itself, so that the reduction never
        // puts another colour into the entry that is transparent: the other colours share the
        // remaining entries. Pixels that fall into an entry of exactly the transparent colour
        // (one picked from an earlier reduction's palette) are transparent as well.
        const Color transparent = params.gif.transparentColor;
        transparentIndex = colors - 1;
        RgbPicture rest;
        rest.height = 1;
        rest.bgr.reserve(picture.bgr.size());
        for (size_t i = 0; i < picture.bgr.size(); i += 3) {
            const uint8_t* p = picture.bgr.data() + i;
            if (rgbColor(p[2], p[1], p[0]) != transparent)
                rest.bgr.insert(rest.bgr.end(), p, p + 3);
        }
        rest.width = static_cast<int>(rest.bgr.size() / 3);
        if (rest.width == 0) {
            // Every pixel is of the transparent colour.
            palette.assign(static_cast<size_t>(colors), ColorBlack);
            palette[static_cast<size_t>(transparentIndex)] = transparent;
            indexes.assign(static_cast<size_t>(width) * height, static_cast<uint8_t>(transparentIndex));
            backgroundIndex = params.gif.background == transparent ? transparentIndex : 0;
        } else {
            const TImageQuantizer quantizer(rest, colors - 1);
            palette = quantizer.palette();
            palette.resize(static_cast<size_t>(colors), ColorBlack);
            palette[static_cast<size_t>(transparentIndex)] = transparent;
            auto indexOf = [&](Color c) {
                if (c == transparent)
                    return transparentIndex;
                const int entry = quantizer.index(c);
                return palette[static_cast<size_t>(entry)] == transparent ? transparentIndex : entry;
            };
            const size_t pixels = static_cast<size_t>(width) * height;
            indexes.resize(pixels);
            for (size_t i = 0; i < pixels; ++i) {
                const uint8_t* p = picture.bgr.data() + i * 3;
                indexes[i] = static_cast<uint8_t>(indexOf(rgbColor(p[2], p[1], p[0])));
            }
            backgroundIndex = indexOf(params.gif.background);
        }
    } else {
        TImageQuantizer quantizer(picture, colors);
        palette = quantizer.palette();
        const size_t pixels = static_cast<size_t>(width) * height;
        indexes.resize(pixels);
        for (size_t i = 0; i < pixels; ++i) {
            const uint8_t* p = picture.bgr.data() + i * 3;
            indexes[i] = static_cast<uint8_t>(quantizer.index(p[2], p[1], p[0]));
        }
        backgroundIndex = quantizer.index(params.gif.background);
        transparentIndex = quantizer.index(params.gif.transparentColor);
    }
    reportProgress(progress, 30);

    ByteSink out(stream);
    // Header and logical screen descriptor.
    std::string version = params.gifVersion;
    version.resize(6, ' ');
    out.bytes(version.data(), 6);
    out.le16(static_cast<unsigned>(width));
    out.le16(static_cast<unsigned>(height));
    out.u8(0x80 + (b - 1) * 16 + (b - 1));
    out.u8(static_cast<unsigned>(backgroundIndex));
    out.u8(0);
    // Global colour table.
    for (int i = 0; i < colors; ++i) {
        Color c = i < static_cast<int>(palette.size()) ? palette[i] : ColorBlack;
        out.u8(static_cast<unsigned>(redOf(c)));
        out.u8(static_cast<unsigned>(greenOf(c)));
        out.u8(static_cast<unsigned>(blueOf(c)));
    }
    // Graphic control extension: disposal 2 (restore to background) and the transparency flag.
    out.u8(0x21);
    out.u8(0xF9);
    out.u8(4);
    out.u8(8 + (params.gif.transparent ? 1 : 0));
    out.le16(params.gifDelay);
    out.u8(static_cast<unsigned>(transparentIndex));
    out.u8(0);
    // Image descriptor, no local colour table.
    out.u8(0x2C);
    out.le16(params.gifLeft);
    out.le16(params.gifTop);
    out.le16(static_cast<unsigned>(width));
    out.le16(static_cast<unsigned>(height));
    out.u8(params.gif.interlaced ? 0x40 : 0);
    out.flush();
    reportProgress(progress, 70);

    // Image data.
    encodeGifLzw(stream, height, width, b, indexes.data(), params.gif.interlaced);

    // Comment extension: one sub-block per line, cut to 255 characters. An empty line would be
    // read as the block terminator, so it is left out.
    out.u8(0x21);
    out.u8(0xFE);
    for (const std::string& line : params.gifComments) {
        if (line.empty())
            continue;
        size_t n = std::min<size_t>(255, line.size());
        out.u8(static_cast<unsigned>(n));
        out.bytes(line.data(), n);
    }
    out.u8(0);
    // Trailer.
    out.u8(0x3B);
    out.flush();
    reportProgress(progress, 100);
    palette.resize(static_cast<size_t>(colors), ColorBlack);
    return {std::move(palette)};
}

} // namespace kelvara
