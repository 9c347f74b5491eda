// Test support for the GIF engine: giflib decoding and test pictures.
#include "support/GifDecode.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace kelvara::test {

namespace {

struct Reader {
    const std::vector<uint8_t>* bytes;
    size_t position = 0;
};

int readFromMemory(GifFileType* gif, GifByteType* buffer, int count) {
    Reader* r = static_cast<Reader*>(gif->UserData);
    const size_t n = std::min<size_t>(static_cast<size_t>(count), r->bytes->size() - r->position);
    std::memcpy(buffer, r->bytes->data() + r->position, n);
    r->position += n;
    return static_cast<int>(n);
}

} // namespace

GiflibImage decodeWithGiflib(const std::vector<uint8_t>& bytes) {
    Reader reader{&bytes};
    int error = 0;
    GifFileType* gif = DGifOpen(&reader, readFromMemory, &error);
    if (!gif)
        throw std::runtime_error(std::string("giflib: ") + GifErrorString(error));
    if (DGifSlurp(gif) != GIF_OK) {
        std::string message = std::string("giflib: ") + GifErrorString(gif->Error);
        DGifCloseFile(gif, &error);
        throw std::runtime_error(message);
    }
    GiflibImage image;
    image.screenWidth = gif->SWidth;
    image.screenHeight = gif->SHeight;
    image.version = DGifGetGifVersion(gif);
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage& saved = gif->SavedImages[i];
        GiflibFrame frame;
        frame.left = saved.ImageDesc.Left;
        frame.top = saved.ImageDesc.Top;
        frame.width = saved.ImageDesc.Width;
        frame.height = saved.ImageDesc.Height;
        frame.interlaced = saved.ImageDesc.Interlace;
        const size_t count = static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height);
        frame.indices.assign(saved.RasterBits, saved.RasterBits + count);
        const ColorMapObject* map = saved.ImageDesc.ColorMap ? saved.ImageDesc.ColorMap : gif->SColorMap;
        if (map)
            for (int c = 0; c < map->ColorCount; ++c)
                frame.colors.push_back({map->Colors[c].Red, map->Colors[c].Green, map->Colors[c].Blue});
        GraphicsControlBlock gcb;
        if (DGifSavedExtensionToGCB(gif, i, &gcb) == GIF_OK) {
            frame.hasGraphicControl = true;
            frame.delay = gcb.DelayTime;
            frame.transparentIndex = gcb.TransparentColor;
            frame.disposal = gcb.DisposalMode;
        }
        for (int e = 0; e < saved.ExtensionBlockCount; ++e) {
            const ExtensionBlock& block = saved.ExtensionBlocks[e];
            if (block.Function == APPLICATION_EXT_FUNC_CODE && block.ByteCount == 11 &&
                std::memcmp(block.Bytes, "NETSCAPE2.0", 11) == 0 && e + 1 < saved.ExtensionBlockCount) {
                const ExtensionBlock& sub = saved.ExtensionBlocks[e + 1];
                if (sub.Function == CONTINUE_EXT_FUNC_CODE && sub.ByteCount >= 3 && sub.Bytes[0] == 1)
                    image.loopCount = sub.Bytes[1] | (sub.Bytes[2] << 8);
            }
        }
        image.frames.push_back(std::move(frame));
    }
    DGifCloseFile(gif, &error);
    return image;
}

std::unique_ptr<Bitmap> makeBitmap24(int width, int height, const std::function<Color(int, int)>& fn) {
    auto b = std::make_unique<Bitmap>();
    b->SetPixelFormat(PixelFormat::Bits24);
    b->SetSize(width, height);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = b->ScanLine(y);
        for (int x = 0; x < width; ++x) {
            const Color c = fn(x, y);
            row[3 * x] = static_cast<uint8_t>(blueOf(c));
            row[3 * x + 1] = static_cast<uint8_t>(greenOf(c));
            row[3 * x + 2] = static_cast<uint8_t>(redOf(c));
        }
    }
    return b;
}

std::unique_ptr<Bitmap> gradientNoiseFrame(int width, int height, uint32_t seed) {
    uint32_t state = seed * 2654435761u + 1u;
    auto noise = [&state]() {
        state = state * 1664525u + 1013904223u;
        return static_cast<int>((state >> 24) % 17) - 8;
    };
    const int shift = static_cast<int>(seed % 64);
    return makeBitmap24(width, height, [&](int x, int y) {
        const int r = std::clamp((x + shift) * 255 / std::max(1, width) + noise(), 0, 255);
        const int g = std::clamp(y * 255 / std::max(1, height) + noise(), 0, 255);
        const int b =
            std::clamp(128 + ((x - y + shift) * 96) / std::max(1, width + height) + noise(), 0, 255);
        return rgbColor(r, g, b);
    });
}

} // namespace kelvara::test
