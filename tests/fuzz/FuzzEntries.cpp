// What each libFuzzer target does with one input.
#include "fuzz/FuzzEntries.h"

#include "gif/GifDocument.h"
#include "raster/Bitmap.h"
#include "raster/Error.h"
#include "raster/Stream.h"
#include "video/FrameSource.h"

#include <vector>

namespace kelvara::fuzz {

namespace {

// Touches the picture, so that a wrong size or stride shows.
void touch(const Bitmap& picture, int step) {
    for (int y = 0; y < picture.Height(); y += step)
        for (int x = 0; x < picture.Width(); x += step)
            (void)picture.pixel(x, y);
}

} // namespace

void pictureReader(const uint8_t* data, size_t size) {
    if (size < 1)
        return;
    stillImage(static_cast<PictureFileType>(data[0] % 13), data + 1, size - 1);
}

void stillImage(PictureFileType type, const uint8_t* data, size_t size) {
    Bitmap picture;
    try {
        decodePicture(type, data, size, picture);
        touch(picture, 7);
    } catch (const Error&) {
    }
}

void bmp(const uint8_t* data, size_t size) {
    Bitmap picture;
    try {
        picture.LoadFromMemory(data, size);
        touch(picture, 5);
    } catch (const Error&) {
    }
}

void gifDocument(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    try {
        MemoryStream stream(bytes);
        TGIFDocument document;
        document.LoadFromStream(stream);
        MemoryStream out;
        if (!document.Empty())
            document.SaveToStream(out);
    } catch (const Error&) {
    }
    try {
        MemoryStream stream(bytes);
        TGIFDocument document;
        TGIFSubImage frame(&document);
        frame.Extensions().LoadFromStream(stream);
    } catch (const Error&) {
    }
}

void frameSource(const uint8_t* data, size_t size, const std::string& scratchPath) {
    writeFileAtomically(scratchPath, data, size);
    try {
        FrameReader reader;
        reader.open(scratchPath);
        (void)reader.facts();
        for (int64_t i : {0, 1, 5, 2})
            if (Bitmap* frame = reader.frame(i))
                (void)frame->pixel(0, 0);
    } catch (const Error&) {
    }
}

} // namespace kelvara::fuzz
