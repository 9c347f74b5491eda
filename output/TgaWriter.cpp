// Truevision TGA writer: header and ID, colour map, raw or run-length packets (32 bits with alpha for
// pictures with an alpha channel), extension area and footer.
#include "output/ImageQuantizer.h"
#include "output/StillImageWriters.h"

#include <cstring>
#include <ctime>

namespace kelvara {

using output_detail::ByteSink;

namespace {

constexpr unsigned ExtensionSize = 495;

// One row of pixels of pixelBytes bytes each as run and raw packets.
void putPacketRow(ByteSink& out, const uint8_t* row, int width, int pixelBytes) {
    auto same = [&](int a, int b) {
        return std::memcmp(row + static_cast<size_t>(a) * pixelBytes,
                           row + static_cast<size_t>(b) * pixelBytes, static_cast<size_t>(pixelBytes)) == 0;
    };
    int x = 0;
    while (x < width) {
        int run = 1;
        while (x + run < width && run < 128 && same(x, x + run))
            ++run;
        if (run >= 2) {
            out.u8(128 + static_cast<unsigned>(run - 1));
            out.bytes(row + static_cast<size_t>(x) * pixelBytes, static_cast<size_t>(pixelBytes));
            x += run;
            continue;
        }
        // A raw packet stops before a pixel that starts a run; at the row's end it also takes the
        // last pixel, so it may hold 128 pixels.
        int count = 0;
        int i = x;
        while (count < 127 && i < width - 1 && !same(i, i + 1)) {
            ++count;
            ++i;
        }
        if (i == width - 1) {
            ++count;
            ++i;
        }
        out.u8(static_cast<unsigned>(count - 1));
        out.bytes(row + static_cast<size_t>(x) * pixelBytes, static_cast<size_t>(count) * pixelBytes);
        x += count;
    }
}

// The extension area (TGA 2.0, 495 bytes).
void putExtensionArea(ByteSink& out, const TIOParams& params, bool alpha) {
    std::time_t moment = params.tgaDate ? params.tgaDate : std::time(nullptr);
    std::tm local{};
    localtime_r(&moment, &local);

    out.le16(ExtensionSize);
    out.fixedText(params.tga.description, 41);
    out.zeros(324); // author comments
    out.le16(static_cast<unsigned>(local.tm_mon + 1));
    out.le16(static_cast<unsigned>(local.tm_mday));
    out.le16(static_cast<unsigned>(local.tm_year + 1900));
    out.le16(static_cast<unsigned>(local.tm_hour));
    out.le16(static_cast<unsigned>(local.tm_min));
    out.le16(static_cast<unsigned>(local.tm_sec));
    out.fixedText(params.tgaJob, 41);
    out.zeros(6);  // job time
    out.zeros(41); // software id
    out.zeros(3);  // software version
    // Key colour as the bytes 0, red, green, blue.
    out.u8(0);
    out.u8(static_cast<unsigned>(redOf(params.tgaKeyColor)));
    out.u8(static_cast<unsigned>(greenOf(params.tgaKeyColor)));
    out.u8(static_cast<unsigned>(blueOf(params.tgaKeyColor)));
    out.le16(static_cast<unsigned>(static_cast<int>(params.tgaAspectRatio * 10000)) & 0xFFFF);
    out.le16(10000);
    out.le16(static_cast<unsigned>(static_cast<int>(params.tgaGamma * 10000)) & 0xFFFF);
    out.le16(10000);
    out.le32(0);           // colour correction offset
    out.le32(0);           // postage stamp offset
    out.le32(0);           // scan line offset
    out.u8(alpha ? 3 : 0); // attributes type: 3, the alpha channel holds useful data
}

} // namespace

std::vector<uint8_t> output_detail::encodeTgaPacketRow(const uint8_t* row, int width, int pixelBytes) {
    MemoryStream memory;
    ByteSink out(memory);
    putPacketRow(out, row, width, pixelBytes);
    out.flush();
    return std::move(memory.bytes());
}

WriteResult writeTga(Stream& stream, const Bitmap& bitmap, const TIOParams& params,
                     const ProgressCallback& progress) {
    const RgbPicture picture = rgbPictureOf(bitmap);
    const int width = picture.width, height = picture.height;

    if (width > 0xFFFF || height > 0xFFFF)
        throw OutputError(OutputMessages::TooLarge);
    // A true-colour picture with an alpha channel keeps it: 32 bits, 8 of them alpha.
    const uint8_t* alpha = bitmap.alphaPlane();
    const int depth = params.bitsPerSample == 1 ? 1 : (params.samplesPerPixel == 1 ? 8 : alpha ? 32 : 24);
    const bool compressed = params.tga.compressed && depth != 1;

    IndexedPicture indexed;
    std::vector<uint8_t> bits;
    if (depth == 1) {
        TwoColorPicture twoColor = twoColorPicture(picture);
        bits = blackWhiteBits(twoColor);
        indexed = std::move(twoColor.picture);
    } else if (depth == 8) {
        indexed = quantizePicture(picture, 256);
    }

    const uint64_t start = stream.position();
    const std::string id = params.tga.name.substr(0, 254);
    ByteSink out(stream);

    // Header, 18 bytes.
    out.u8(static_cast<unsigned>(id.size() + 1));
    out.u8(depth == 8 ? 1 : 0);
    out.u8(depth == 1 ? 3 : depth == 8 ? (compressed ? 9 : 1) : (compressed ? 10 : 2));
    out.le16(0);
    out.le16(depth == 8 ? 256 : 0);
    out.u8(depth == 8 ? 24 : 0);
    out.le16(params.tgaXOrigin);
    out.le16(params.tgaYOrigin);
    out.le16(static_cast<unsigned>(width) & 0xFFFF);
    out.le16(static_cast<unsigned>(height) & 0xFFFF);
    out.u8(static_cast<unsigned>(depth));
    out.u8(depth == 32 ? 0x28 : 0x20); // top-left origin; 8 attribute (alpha) bits for 32 bits
    // Image ID, zero-terminated.
    out.bytes(id.data(), id.size());
    out.u8(0);

    if (depth == 8) {
        for (int i = 0; i < 256; ++i) {
            Color c = i < static_cast<int>(indexed.palette.size()) ? indexed.palette[i] : ColorBlack;
            out.u8(static_cast<unsigned>(blueOf(c)));
            out.u8(static_cast<unsigned>(greenOf(c)));
            out.u8(static_cast<unsigned>(redOf(c)));
        }
    }

    std::vector<uint8_t> packed((static_cast<size_t>(width) + 7) / 8);
    std::vector<uint8_t> bgra(depth == 32 ? static_cast<size_t>(width) * 4 : 0);
    for (int y = 0; y < height; ++y) {
        reportProgress(progress, y * 100 / height);
        if (depth == 1) {
            packIndexRow(bits.data() + static_cast<size_t>(y) * width, width, 1, packed.data());
            out.bytes(packed.data(), packed.size());
            continue;
        }
        const uint8_t* row =
            depth == 8 ? indexed.indexes.data() + static_cast<size_t>(y) * width : picture.row(y);
        if (depth == 32) {
            const uint8_t* a = alpha + static_cast<size_t>(y) * width;
            for (int x = 0; x < width; ++x) {
                std::memcpy(bgra.data() + 4 * size_t(x), row + 3 * size_t(x), 3);
                bgra[4 * size_t(x) + 3] = a[x];
            }
            row = bgra.data();
        }
        const int pixelBytes = depth / 8;
        if (compressed)
            putPacketRow(out, row, width, pixelBytes);
        else
            out.bytes(row, static_cast<size_t>(width) * pixelBytes);
    }

    const uint64_t extensionOffset = out.position() - start;
    putExtensionArea(out, params, depth == 32);

    // Footer.
    out.le32(static_cast<uint32_t>(extensionOffset));
    out.le32(0);
    out.bytes("TRUEVISION-XFILE.", 17);
    out.u8(0);
    out.flush();
    reportProgress(progress, 100);
    // A black-and-white image shows bit 0 black and bit 1 white.
    if (depth == 1)
        return {{ColorBlack, ColorWhite}};
    return {std::move(indexed.palette)};
}

} // namespace kelvara
